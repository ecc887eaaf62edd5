// What other programs tell about their windows and processes: window hints, the
// environment and cgroup files of a process, startup-notification messages. Any
// bytes may arrive; whatever is found must be an installed entry, and what Tarnell
// itself writes must read back as it was.

#include "platform/linux/workspace/StartupNotification.h"
#include "platform/linux/workspace/WindowIdentity.h"

#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

using namespace tarnell::platform;

namespace {

// A startup-notification value as a launcher writes it: quoted, with '"' and '\'
// escaped.
std::string quotedValue(const std::string& value) {
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    DesktopCatalog catalog;
    const int entries = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < entries; ++i) {
        auto id = input.ConsumeRandomLengthString(64);
        catalog.add(id, input.ConsumeRandomLengthString(64));
    }
    const WindowIdentifier identifier(catalog, {"/usr/share/applications", "/home/u/.local/"});

    WindowHints hints;
    hints.desktopHint = input.ConsumeRandomLengthString(128);
    hints.wmInstance = input.ConsumeRandomLengthString(128);
    hints.wmClass = input.ConsumeRandomLengthString(128);
    hints.pid = input.ConsumeIntegral<pid_t>();
    ProcessFiles files;
    files.environ = input.ConsumeRandomLengthString(1024);
    files.cgroup = input.ConsumeRandomLengthString(1024);
    const std::string message = input.ConsumeRandomLengthString(512);
    const std::string name = input.ConsumeRemainingBytesAsString();

    if (const auto id = identifier.identifyFromHints(hints)) {
        check(catalog.contains(*id));
    }
    if (const auto id = identifier.identifyFromProcess(hints.pid, files)) {
        check(catalog.contains(*id));
    }
    if (const auto id = catalog.match(name)) {
        check(catalog.contains(*id));
    }
    (void)removedStartupId(message);

    // Tarnell's own launches: the scope it names and the environment GIO records.
    if (!name.empty()) {
        const auto cgroup = "0::/user.slice/app.slice/app-tarnell-" + escapeUnitNamePart(name) +
                            "-" + std::to_string(static_cast<unsigned>(hints.pid)) + ".scope\n";
        check(desktopIdFromCgroup(cgroup) == name + ".desktop");
    }
    if (!name.empty() && name.find('\0') == std::string::npos) {
        std::string environ = "GIO_LAUNCHED_DESKTOP_FILE=" + name;
        environ += '\0';
        environ += "GIO_LAUNCHED_DESKTOP_FILE_PID=" + std::to_string(hints.pid);
        check(launchedDesktopFile(environ, hints.pid) == name);
        check(removedStartupId("remove: ID=" + quotedValue(name)) == name);
    }
    return 0;
}
