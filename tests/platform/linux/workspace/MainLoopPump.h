#pragma once

#include <functional>

namespace tarnell::platform::testing {

// Runs the default GLib main context until `done` holds or the deadline passes.
// Waits for a final state, not for the first change on the way to it.
bool runUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Runs the default GLib main context for a while.
void runFor(int milliseconds);

} // namespace tarnell::platform::testing
