#pragma once

#include "MainWindowController.h"

// The main window of versions 1 and 3.
class SlideWandWindowController : public MainWindowController {
    Q_OBJECT
public:
    explicit SlideWandWindowController(MainWindowServices& services, QWidget* parent = nullptr);
};
