#pragma once

#include "bindings/AppBinding.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell {

// The stored form of the bindings list: a compact JSON array of objects with the
// members "id", "key" and "appURL", written in that order.
std::string encodeBindings(const std::vector<AppBinding>& bindings);

// Reads the stored form. All three members are required, others are skipped; one
// bad element makes the whole list unreadable (nullopt). An empty array is an
// empty list.
std::optional<std::vector<AppBinding>> decodeBindings(std::string_view json);

// A URL string that the stored form accepts: an absolute URL, that is a scheme
// (a letter, then letters, digits, '+', '-' or '.') followed by ':' and at least one
// more character, with no spaces, no control characters and no characters outside
// printable ASCII apart from well-formed UTF-8 (percent-encoding is not required).
bool isValidUrlString(std::string_view text);

} // namespace tarnell
