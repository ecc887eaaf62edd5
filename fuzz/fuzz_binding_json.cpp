// Reads arbitrary bytes as a stored bindings list. Whatever reads must write
// out again and read back to the same records, byte for byte.

#include "bindings/BindingJson.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace {

bool sameRecords(const std::vector<tarnell::AppBinding>& a,
                 const std::vector<tarnell::AppBinding>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id || a[i].key != b[i].key || a[i].appURL != b[i].appURL ||
            !(a[i] == b[i]) ||
            std::hash<tarnell::AppBinding>{}(a[i]) != std::hash<tarnell::AppBinding>{}(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto decoded = tarnell::decodeBindings(input);
    if (!decoded) {
        return 0;
    }
    const auto encoded = tarnell::tryEncodeBindings(*decoded);
    if (!encoded || *encoded != tarnell::encodeBindings(*decoded)) {
        __builtin_trap(); // a list that was read must be writable as it stands
    }
    const auto again = tarnell::decodeBindings(*encoded);
    if (!again || !sameRecords(*decoded, *again) || tarnell::encodeBindings(*again) != *encoded) {
        __builtin_trap();
    }
    return 0;
}
