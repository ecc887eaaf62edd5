#pragma once

namespace tarnell {

// Runs Tarnell without a user interface: the Hyper key engine on the user's
// stored shortcuts and settings, until SIGTERM, SIGINT or SIGHUP. Then the engine is
// stopped (the keyboards released, the Caps Lock mapping cleared) and the
// result is 0. When Tarnell already runs in this session, with or without its
// user interface, it says so on standard error and the result is 1.
int runHeadless(int argc, char** argv);

} // namespace tarnell
