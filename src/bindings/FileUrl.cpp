#include "bindings/FileUrl.h"

#include "bindings/TextEncoding.h"

#include <algorithm>
#include <cctype>

namespace tarnell {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::string_view kAppSuffix = ".app";

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

} // namespace

std::string fileUrlFromPath(std::string_view absolutePath) {
    std::string url = "file://";
    url.reserve(url.size() + absolutePath.size());
    for (const char c : absolutePath) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte) || c == '/') {
            url.push_back(c);
        } else {
            url.push_back('%');
            url.push_back(kHexDigits[byte >> 4]);
            url.push_back(kHexDigits[byte & 0x0F]);
        }
    }
    return url;
}

std::optional<std::string> pathFromFileUrl(std::string_view url) {
    if (!startsWithIgnoringCase(url, "file:")) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(5);
    // A query or fragment is not part of the path.
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const auto slash = rest.find('/');
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !(host.size() == 9 && startsWithIgnoringCase(host, "localhost"))) {
            return std::nullopt; // a file on another machine
        }
        if (slash == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with('/')) {
        return std::nullopt;
    }
    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path.push_back(rest[i]);
            continue;
        }
        if (i + 2 >= rest.size()) {
            return std::nullopt;
        }
        const int high = hexDigitValue(rest[i + 1]);
        const int low = hexDigitValue(rest[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        const auto decoded = static_cast<char>(high * 16 + low);
        if (decoded == '\0') {
            return std::nullopt; // no path can hold a NUL byte
        }
        path.push_back(decoded);
        i += 2;
    }
    return path;
}

std::string withoutAppSuffixes(std::string name) {
    // One pass from the left, like a plain "replace every occurrence".
    std::string result;
    result.reserve(name.size());
    std::size_t start = 0;
    for (auto found = name.find(kAppSuffix); found != std::string::npos;
         found = name.find(kAppSuffix, start)) {
        result.append(name, start, found - start);
        start = found + kAppSuffix.size();
    }
    result.append(name, start, std::string::npos);
    return result;
}

} // namespace tarnell
