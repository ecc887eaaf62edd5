#include "platform/linux/diagnostics/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace tarnell::platform {
namespace {

bool enabled = false;

} // namespace

void enableDiagnostics() {
    enabled = true;
}

bool diagnosticsEnabled() {
    return enabled;
}

void diagnose(const char* format, ...) {
    if (!enabled) {
        return;
    }
    // One write per line, so that lines from Tarnell's processes do not mix.
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    std::fprintf(stderr, "tarnell: %s\n", line);
}

} // namespace tarnell::platform
