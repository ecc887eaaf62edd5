#include "bindings/BindingJson.h"

#include "bindings/StoredJson.h"
#include "bindings/TextEncoding.h"

#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace tarnell {
namespace {

using Json = nlohmann::ordered_json;

bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(unsigned char c) {
    return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isSchemeCharacter(unsigned char c) {
    return isAsciiLetter(c) || isAsciiDigit(c) || c == '+' || c == '-' || c == '.';
}

// Unreserved and reserved URL characters; '%' is checked separately.
bool isUrlAsciiCharacter(unsigned char c) {
    return isAsciiLetter(c) || isAsciiDigit(c) ||
           std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr;
}

bool isWellFormedRecord(const AppBinding& binding) {
    return isWellFormedUtf8(binding.key) && isValidUrlString(binding.appURL);
}

std::string dump(const std::vector<AppBinding>& bindings, Json::error_handler_t onBadUtf8) {
    auto list = Json::array();
    for (const auto& binding : bindings) {
        list.push_back(
            Json{{"id", binding.id.toString()}, {"key", binding.key}, {"appURL", binding.appURL}});
    }
    return list.dump(-1, ' ', false, onBadUtf8);
}

const std::string* stringMember(const Json& object, const char* name) {
    const auto member = object.find(name);
    if (member == object.end() || !member->is_string()) {
        return nullptr;
    }
    return member->get_ptr<const std::string*>();
}

std::optional<AppBinding> decodeRecord(const Json& element) {
    if (!element.is_object()) {
        return std::nullopt;
    }
    const std::string* id = stringMember(element, "id");
    const std::string* key = stringMember(element, "key");
    const std::string* appURL = stringMember(element, "appURL");
    if (id == nullptr || key == nullptr || appURL == nullptr) {
        return std::nullopt;
    }
    auto uuid = Uuid::parse(*id);
    if (!uuid || !isValidUrlString(*appURL)) {
        return std::nullopt;
    }
    return AppBinding{*uuid, *key, *appURL};
}

} // namespace

std::string encodeBindings(const std::vector<AppBinding>& bindings) {
    return dump(bindings, Json::error_handler_t::replace);
}

std::optional<std::string> tryEncodeBindings(const std::vector<AppBinding>& bindings) {
    for (const auto& binding : bindings) {
        if (!isWellFormedRecord(binding)) {
            return std::nullopt;
        }
    }
    try {
        return dump(bindings, Json::error_handler_t::strict);
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

std::optional<std::vector<AppBinding>> decodeBindings(std::string_view json) {
    const auto document = parseStoredJson(json);
    if (!document || !document->is_array()) {
        return std::nullopt;
    }
    std::vector<AppBinding> bindings;
    bindings.reserve(document->size());
    for (const auto& element : *document) {
        auto binding = decodeRecord(element);
        if (!binding) {
            return std::nullopt;
        }
        bindings.push_back(std::move(*binding));
    }
    return bindings;
}

bool isValidUrlString(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon + 1 == text.size()) {
        return false;
    }
    if (!isAsciiLetter(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        if (!isSchemeCharacter(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    auto offset = static_cast<std::int32_t>(colon + 1);
    while (offset < length) {
        const std::uint8_t c = bytes[offset];
        if (c == '%') {
            if (offset + 2 >= length || !isHexDigit(bytes[offset + 1]) ||
                !isHexDigit(bytes[offset + 2])) {
                return false;
            }
            offset += 3;
        } else if (c < 0x80) {
            if (!isUrlAsciiCharacter(c)) {
                return false;
            }
            ++offset;
        } else {
            UChar32 codePoint = 0;
            U8_NEXT(bytes, offset, length, codePoint);
            if (codePoint < 0 || u_isUWhiteSpace(codePoint) ||
                u_charType(codePoint) == U_CONTROL_CHAR) {
                return false;
            }
        }
    }
    return true;
}

} // namespace tarnell
