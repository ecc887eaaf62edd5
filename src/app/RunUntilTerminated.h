#pragma once

#include <functional>

class QCoreApplication;

namespace tarnell::app {

// Runs the application's event loop: `start` once the loop runs, and after SIGTERM,
// SIGINT or SIGHUP has ended the loop, `stop`. Returns 0. The signals are taken
// over for the duration of the call (TerminationSignals).
int runUntilTerminated(QCoreApplication& application, const std::function<void()>& start,
                       const std::function<void()>& stop);

} // namespace tarnell::app
