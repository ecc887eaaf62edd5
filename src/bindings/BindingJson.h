#pragma once

#include "bindings/AppBinding.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell {

// The stored form of the bindings list: a compact JSON array of objects with the
// members "id", "key" and "appURL", written in that order, the id in upper case.
// Text that is not well-formed UTF-8 is written with U+FFFD in its place.
std::string encodeBindings(const std::vector<AppBinding>& bindings);

// The stored form, or nullopt when some record would not read back as it stands
// (a key that is not well-formed UTF-8, or an appURL that isValidUrlString
// rejects): writing such a list would make the whole stored list unreadable.
std::optional<std::string> tryEncodeBindings(const std::vector<AppBinding>& bindings);

// Reads the stored form. All three members are required, others are skipped; one
// bad element makes the whole list unreadable (nullopt), and so does a document
// beyond the limits of parseStoredJson. An empty array is an empty list.
std::optional<std::vector<AppBinding>> decodeBindings(std::string_view json);

// A URL string that the stored form accepts: an absolute URL, that is a scheme
// (an ASCII letter, then ASCII letters, digits, '+', '-' or '.') followed by ':'
// and at least one more character. After the ':' each character must be
//  - an ASCII letter or digit, or one of  - . _ ~ : / ? # [ ] @ ! $ & ' ( ) * + , ; =
//  - '%' followed by two hexadecimal digits, or
//  - a non-ASCII character in well-formed UTF-8 that is neither white space nor a
//    control character (percent-encoding of such characters is not required).
// So spaces, control characters, '"', '<', '>', '\', '^', '`', '{', '|', '}', a
// stray '%' and ill-formed UTF-8 make a string invalid. Relative references are
// invalid. The components (host, port, ...) are not checked further.
bool isValidUrlString(std::string_view text);

} // namespace tarnell
