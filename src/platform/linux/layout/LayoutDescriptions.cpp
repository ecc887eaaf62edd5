#include "platform/linux/layout/LayoutDescriptions.h"

#include <xkbcommon/xkbregistry.h>

namespace tarnell::layout {

std::optional<input::XkbNames> xkbNamesDescribedAs(std::string_view description) {
    if (description.empty()) {
        return std::nullopt;
    }
    // The layouts that only some rules offer are described too.
    rxkb_context* registry = rxkb_context_new(RXKB_CONTEXT_LOAD_EXOTIC_RULES);
    if (registry == nullptr) {
        return std::nullopt;
    }
    rxkb_context_set_log_level(registry, RXKB_LOG_LEVEL_CRITICAL);
    std::optional<input::XkbNames> found;
    if (rxkb_context_parse_default_ruleset(registry)) {
        // A layout comes before its variants, so a layout that shares its words with
        // one of them wins.
        for (rxkb_layout* layout = rxkb_layout_first(registry); layout != nullptr && !found;
             layout = rxkb_layout_next(layout)) {
            const char* words = rxkb_layout_get_description(layout);
            if (words == nullptr || description != words) {
                continue;
            }
            found.emplace();
            found->layout = rxkb_layout_get_name(layout);
            const char* variant = rxkb_layout_get_variant(layout);
            found->variant = variant != nullptr ? variant : "";
        }
    }
    rxkb_context_unref(registry);
    return found;
}

} // namespace tarnell::layout
