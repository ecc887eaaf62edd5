#include "bindings/TextEncoding.h"

#include <cstdint>
#include <unicode/utf8.h>

namespace tarnell {

bool isWellFormedUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t offset = 0;
    while (offset < length) {
        UChar32 codePoint = 0;
        U8_NEXT(bytes, offset, length, codePoint);
        if (codePoint < 0) {
            return false;
        }
    }
    return true;
}

} // namespace tarnell
