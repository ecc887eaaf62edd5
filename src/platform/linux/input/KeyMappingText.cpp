#include "platform/linux/input/KeyMappingText.h"

#include <charconv>
#include <nlohmann/json.hpp>
#include <string>

namespace tarnell::input {
namespace {

bool isIdentifierChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           c == '.';
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Rewrites bare hexadecimal literals outside strings as decimal numbers, so that a
// strict JSON parser can read the rest. nullopt on a literal too large for 64 bits.
std::optional<std::string> decimaliseHexLiterals(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            out.push_back(c);
            if (c == '\\' && i + 1 < text.size()) {
                out.push_back(text[++i]);
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            out.push_back(c);
            continue;
        }
        const bool startsLiteral =
            c == '0' && i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            isHexDigit(text[i + 2]) && (i == 0 || !isIdentifierChar(text[i - 1]));
        if (!startsLiteral) {
            out.push_back(c);
            continue;
        }
        std::size_t end = i + 2;
        while (end < text.size() && isHexDigit(text[end])) {
            ++end;
        }
        std::uint64_t value = 0;
        const auto [ptr, ec] = std::from_chars(text.data() + i + 2, text.data() + end, value, 16);
        if (ec != std::errc{} || ptr != text.data() + end) {
            return std::nullopt;
        }
        out += std::to_string(value);
        i = end - 1;
    }
    return out;
}

std::optional<std::uint64_t> usageMember(const nlohmann::json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_number_unsigned()) {
        return std::nullopt;
    }
    return it->get<std::uint64_t>();
}

} // namespace

std::optional<std::vector<UsageMapping>> parseUserKeyMapping(std::string_view text) {
    const auto plain = decimaliseHexLiterals(text);
    if (!plain) {
        return std::nullopt;
    }
    const auto document = nlohmann::json::parse(*plain, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    const auto list = document.find("UserKeyMapping");
    if (list == document.end() || !list->is_array()) {
        return std::nullopt;
    }
    std::vector<UsageMapping> mappings;
    for (const auto& entry : *list) {
        if (!entry.is_object()) {
            return std::nullopt;
        }
        const auto source = usageMember(entry, "HIDKeyboardModifierMappingSrc");
        const auto destination = usageMember(entry, "HIDKeyboardModifierMappingDst");
        if (!source || !destination) {
            return std::nullopt;
        }
        mappings.push_back({*source, *destination});
    }
    return mappings;
}

} // namespace tarnell::input
