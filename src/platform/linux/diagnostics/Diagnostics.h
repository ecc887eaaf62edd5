#pragma once

// Lines about what Tarnell does, for a user who wants to know why a keyboard is not
// taken or an application does not come forward. Off unless the user asks for them
// (tarnell --verbose); then each notable event is one line on standard error. Never
// a line per ordinary key.
namespace tarnell::platform {

// Turns the lines on for the rest of the process. Call before any other thread runs.
void enableDiagnostics();
[[nodiscard]] bool diagnosticsEnabled();

// One line: "tarnell: " and the printf-style text. Nothing when the lines are off.
[[gnu::format(printf, 1, 2)]] void diagnose(const char* format, ...);

} // namespace tarnell::platform
