#include "bindings/AppBinding.h"

#include "bindings/TextEncoding.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

namespace tarnell {
namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

const icu::Normalizer2* nfc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    return U_SUCCESS(status) ? normalizer : nullptr;
}

bool isNfc(const icu::Normalizer2& normalizer, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const bool normalized = normalizer.isNormalizedUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())), status);
    return U_SUCCESS(status) && normalized;
}

std::string toNfc(const icu::Normalizer2& normalizer, std::string_view text) {
    std::string result;
    icu::StringByteSink<std::string> sink(&result, static_cast<std::int32_t>(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    normalizer.normalizeUTF8(0,
                             icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())),
                             sink, nullptr, status);
    if (U_FAILURE(status)) {
        return std::string(text);
    }
    return result;
}

// Text whose NFC form is its own bytes: ASCII, ill-formed UTF-8 (which has no
// canonical form and is compared byte for byte) and text already in NFC.
bool isOwnCanonicalForm(const icu::Normalizer2* normalizer, std::string_view text) {
    return isAscii(text) || normalizer == nullptr || !isWellFormedUtf8(text) ||
           isNfc(*normalizer, text);
}

std::size_t keyHash(std::string_view key) {
    const icu::Normalizer2* normalizer = nullptr;
    if (!isAscii(key)) {
        normalizer = nfc();
        if (!isOwnCanonicalForm(normalizer, key)) {
            return std::hash<std::string>{}(toNfc(*normalizer, key));
        }
    }
    return std::hash<std::string_view>{}(key);
}

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2));
}

} // namespace

bool keysEqual(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    if (isAscii(a) && isAscii(b)) {
        return false;
    }
    const icu::Normalizer2* normalizer = nfc();
    if (normalizer == nullptr || !isWellFormedUtf8(a) || !isWellFormedUtf8(b)) {
        return false;
    }
    if (isNfc(*normalizer, a) && isNfc(*normalizer, b)) {
        return false; // distinct canonical forms
    }
    return toNfc(*normalizer, a) == toNfc(*normalizer, b);
}

bool operator==(const AppBinding& a, const AppBinding& b) {
    return a.id == b.id && keysEqual(a.key, b.key) && a.appURL == b.appURL;
}

} // namespace tarnell

std::size_t
std::hash<tarnell::AppBinding>::operator()(const tarnell::AppBinding& binding) const noexcept {
    std::size_t seed = std::hash<tarnell::Uuid>{}(binding.id);
    seed = tarnell::combine(seed, tarnell::keyHash(binding.key));
    return tarnell::combine(seed, std::hash<std::string>{}(binding.appURL));
}
