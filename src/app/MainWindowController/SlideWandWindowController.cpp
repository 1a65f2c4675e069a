#include "SlideWandWindowController.h"

SlideWandWindowController::SlideWandWindowController(MainWindowServices& services, QWidget* parent)
    : MainWindowController(QStringLiteral("SlideWandWindowController"), services, parent) {}
