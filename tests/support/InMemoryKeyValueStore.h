#pragma once

#include "bindings/KeyValueStore.h"

#include <map>
#include <string>
#include <variant>
#include <vector>

namespace tarnell::testing {

// A key-value store in memory that records every write, in call order. Numbers 0 and 1
// read as booleans, as stored settings written by other tools may hold them.
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
        writes.push_back("setData " + std::string(key));
        values[std::string(key)] = std::string(bytes);
    }
    void setBool(std::string_view key, bool value) override {
        writes.push_back("setBool " + std::string(key));
        values[std::string(key)] = value;
    }
    void preserveUnreadable(std::string_view key) override {
        writes.push_back("preserve " + std::string(key));
    }

    std::map<std::string, Value> values;
    // "setData <key>", "setBool <key>" and "preserve <key>", in call order.
    std::vector<std::string> writes;
};

} // namespace tarnell::testing
