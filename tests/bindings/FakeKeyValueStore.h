#pragma once

#include "bindings/KeyValueStore.h"

#include <map>
#include <string>
#include <vector>

namespace tarnell::testing {

// An in-memory key-value store that records every write, in order.
class FakeKeyValueStore final : public KeyValueStore {
public:
    std::map<std::string, std::string, std::less<>> data;
    std::map<std::string, bool, std::less<>> bools;
    // "setData <key>", "setBool <key>" and "preserve <key>", in call order.
    std::vector<std::string> writes;

    std::optional<std::string> dataForKey(std::string_view key) override {
        const auto found = data.find(key);
        return found == data.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<bool> boolForKey(std::string_view key) override {
        const auto found = bools.find(key);
        return found == bools.end() ? std::nullopt : std::optional(found->second);
    }
    void setData(std::string_view key, std::string_view bytes) override {
        writes.push_back("setData " + std::string(key));
        data.insert_or_assign(std::string(key), std::string(bytes));
    }
    void setBool(std::string_view key, bool value) override {
        writes.push_back("setBool " + std::string(key));
        bools.insert_or_assign(std::string(key), value);
    }
    void preserveUnreadable(std::string_view key) override {
        writes.push_back("preserve " + std::string(key));
    }
};

} // namespace tarnell::testing
