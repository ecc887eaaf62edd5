// Desktop-entry fields that Tarnell handles itself: the names and StartupWMClass
// values that windows are matched against, and the Exec value of the login entry,
// which must start exactly the program it names whatever its path holds.

#include "platform/linux/autostart/XdgAutostart.h"
#include "platform/linux/workspace/WindowIdentity.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fuzzer/FuzzedDataProvider.h>
#include <glib.h>
#include <memory>
#include <string>

using namespace tarnell::platform;

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// What a launcher does with an Exec value: the key file's own unescaping, field codes
// ("%%" is a '%'), then the shell-like splitting into arguments.
void checkExecStarts(const std::string& path) {
    const std::string exec = XdgAutostart::execValue(path);
    std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(), &g_key_file_free);
    g_key_file_set_string(file.get(), "Desktop Entry", "Exec", exec.c_str());
    gsize length = 0;
    std::unique_ptr<gchar, decltype(&g_free)> text(g_key_file_to_data(file.get(), &length, nullptr),
                                                   &g_free);
    std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> read(g_key_file_new(), &g_key_file_free);
    check(g_key_file_load_from_data(read.get(), text.get(), length, G_KEY_FILE_NONE, nullptr));
    std::unique_ptr<gchar, decltype(&g_free)> value(
        g_key_file_get_string(read.get(), "Desktop Entry", "Exec", nullptr), &g_free);
    check(value != nullptr);

    std::string expanded;
    for (const char* c = value.get(); *c != '\0'; ++c) {
        if (*c == '%') {
            check(c[1] == '%'); // the only field code the entry may hold
            ++c;
        }
        expanded += *c;
    }
    gchar** argv = nullptr;
    const bool parsed = g_shell_parse_argv(expanded.c_str(), nullptr, &argv, nullptr) != FALSE;
    if (!parsed || argv[0] == nullptr || argv[1] != nullptr || path != argv[0]) {
        std::fprintf(stderr, "path [%s]\nExec [%s]\nstarts [%s]\n", path.c_str(), exec.c_str(),
                     parsed && argv[0] != nullptr ? argv[0] : "(nothing)");
        __builtin_trap();
    }
    g_strfreev(argv);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    DesktopCatalog catalog;
    const int entries = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < entries; ++i) {
        auto id = input.ConsumeRandomLengthString(64);
        catalog.add(id, input.ConsumeRandomLengthString(64));
    }
    const std::string name = input.ConsumeRandomLengthString(128);
    if (const auto id = catalog.match(name)) {
        check(catalog.contains(*id));
    }

    const std::string path = input.ConsumeRemainingBytesAsString();
    // A path holds no NUL, and a key file holds only UTF-8.
    if (!path.empty() && path.find('\0') == std::string::npos &&
        g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr)) {
        checkExecStarts(path);
    }
    return 0;
}
