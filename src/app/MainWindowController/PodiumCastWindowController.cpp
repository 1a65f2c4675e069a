#include "PodiumCastWindowController.h"

PodiumCastWindowController::PodiumCastWindowController(MainWindowServices& services, QWidget* parent)
    : MainWindowController(QStringLiteral("PodiumCastWindowController"), services, parent) {}
