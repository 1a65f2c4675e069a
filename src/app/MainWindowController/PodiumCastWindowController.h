#pragma once

#include "MainWindowController.h"

// The main window of version 2, and of any version the settings do not know.
class PodiumCastWindowController : public MainWindowController {
    Q_OBJECT
public:
    explicit PodiumCastWindowController(MainWindowServices& services, QWidget* parent = nullptr);
};
