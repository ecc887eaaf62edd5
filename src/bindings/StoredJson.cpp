#include "bindings/StoredJson.h"

namespace tarnell {

std::optional<nlohmann::ordered_json> parseStoredJson(std::string_view text) {
    using Json = nlohmann::ordered_json;
    // The parser takes a NUL byte for the end of the text and would drop what follows
    // it; a NUL is never part of a JSON text, so it makes the whole text unreadable.
    if (text.size() > kStoredJsonMaxBytes || text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    // The parser itself keeps its nesting on the heap, so it reaches the callback at
    // any depth; the callback stops the document from being built past the limit.
    bool tooDeep = false;
    const auto limitDepth = [&tooDeep](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start ||
             event == Json::parse_event_t::array_start) &&
            depth >= kStoredJsonMaxDepth) {
            tooDeep = true;
            return false; // discarded, so nothing under it is kept
        }
        return true;
    };
    Json document = Json::parse(text.begin(), text.end(), limitDepth, /*allow_exceptions=*/false);
    if (tooDeep || document.is_discarded()) {
        return std::nullopt;
    }
    return document;
}

} // namespace tarnell
