// Reads arbitrary bytes as the settings file. Whatever reads must, with one setting
// changed, write out in a form that reads back to the same members, is written the
// same way again, and grows no more than the layout of a member a line and the
// longer form of some numbers allow.

#include "platform/linux/settings/SettingsDocument.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnell::platform;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    auto settings = readSettings(input);
    if (!settings) {
        return 0;
    }
    const auto hides = settingAsBool(*settings, "hidesFrontmostApp");
    const bool tap = settingAsBool(*settings, "quickTapTogglesCapsLock").value_or(true);
    (*settings)["hidesFrontmostApp"] = !hides.value_or(true);

    const auto text = writeSettings(*settings);
    if (!text || text->size() > 5 * input.size() + 64) {
        __builtin_trap(); // far below the size limit, a save must fit in a small multiple
    }
    const auto again = readSettings(*text);
    if (!again || *again != *settings || writeSettings(*again) != text ||
        settingAsBool(*again, "hidesFrontmostApp") != !hides.value_or(true) ||
        settingAsBool(*again, "quickTapTogglesCapsLock").value_or(true) != tap) {
        __builtin_trap();
    }
    return 0;
}
