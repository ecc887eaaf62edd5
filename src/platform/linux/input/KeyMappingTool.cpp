#include "platform/linux/input/KeyMappingTool.h"

#include "platform/linux/input/KeyCodes.h"
#include "platform/linux/input/KeyMappingText.h"

namespace tarnell::input {

bool KeyMappingTool::run(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3 || arguments[0] != "property" || arguments[1] != "--set") {
        return false;
    }
    const auto mappings = parseUserKeyMapping(arguments[2]);
    if (!mappings) {
        return false;
    }
    std::vector<std::pair<std::uint16_t, std::uint16_t>> pairs;
    for (const auto& mapping : *mappings) {
        const int from = kernelCodeForHidUsage(mapping.source);
        const int to = kernelCodeForHidUsage(mapping.destination);
        if (from < 0 || to < 0) {
            return false; // a usage that is no keyboard key: the whole text is refused
        }
        pairs.emplace_back(static_cast<std::uint16_t>(from), static_cast<std::uint16_t>(to));
    }
    map_.set(pairs);
    return true;
}

} // namespace tarnell::input
