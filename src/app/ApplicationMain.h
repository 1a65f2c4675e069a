#pragma once

// Runs the application: the Qt application object, the composition root, the delegate and the first
// window that the main bundle's Info.plist names ("AppDelegateClass", "FirstWindowController"), then the
// event loop until the application quits (also on SIGTERM and SIGINT). Ends the process with the loop's exit
// status; returns only when the application could not start.
int ApplicationMain(int argc, char* argv[]);
