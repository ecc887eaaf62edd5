#pragma once

#include "bindings/KeyValueStore.h"

#include <map>
#include <string>
#include <variant>

namespace tarnell::testing {

// A key-value store in memory that records every write.
class InMemoryKeyValueStore : public KeyValueStore {
public:
    using Value = std::variant<std::string, bool, double>;

    std::optional<std::string> dataForKey(std::string_view key) override {
        const auto it = values.find(std::string(key));
        if (it == values.end() || !std::holds_alternative<std::string>(it->second)) {
            return std::nullopt;
        }
        return std::get<std::string>(it->second);
    }
    std::optional<bool> boolForKey(std::string_view key) override {
        const auto it = values.find(std::string(key));
        if (it == values.end()) {
            return std::nullopt;
        }
        if (const bool* b = std::get_if<bool>(&it->second)) {
            return *b;
        }
        if (const double* d = std::get_if<double>(&it->second); d && (*d == 0 || *d == 1)) {
            return *d == 1;
        }
        return std::nullopt;
    }
    void setData(std::string_view key, std::string_view bytes) override {
        ++writes;
        values[std::string(key)] = std::string(bytes);
    }
    void setBool(std::string_view key, bool value) override {
        ++writes;
        values[std::string(key)] = value;
    }
    void preserveUnreadable(std::string_view key) override { preserved.emplace_back(key); }

    std::map<std::string, Value> values;
    std::vector<std::string> preserved;
    int writes = 0;
};

} // namespace tarnell::testing
