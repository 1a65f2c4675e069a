#pragma once

// Runs the application: the Qt application object, the composition root, the delegate and the first
// window that the main bundle's Info.plist names ("AppDelegateClass", "FirstWindowController"), then the
// event loop until the application quits (also on SIGTERM and SIGINT). Returns the exit status.
int ApplicationMain(int argc, char* argv[]);
