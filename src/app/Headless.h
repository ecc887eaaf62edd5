#pragma once

namespace tarnell::app {

// Runs the engine alone, without tray icon or windows, until a termination signal:
// for sessions without a tray and for servicing the keyboard from a terminal.
// Returns the process exit status.
int runHeadless(int argc, char** argv);

} // namespace tarnell::app
