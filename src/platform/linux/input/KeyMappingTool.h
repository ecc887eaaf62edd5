#pragma once

#include "engine/PlatformServices.h"
#include "platform/linux/input/KeyMap.h"

namespace tarnell::input {

// The key mapping utility, run in process: takes the arguments "property", "--set"
// and a "UserKeyMapping" text and makes that list the input layer's whole key
// mapping. Anything else, or a text it cannot read, changes nothing and says
// nothing, like a utility whose output goes nowhere.
class KeyMappingTool final : public engine::KeyMappingUtility {
public:
    explicit KeyMappingTool(KeyMap& map) : map_(map) {}
    // false, like a utility's failing exit status, when the arguments are not a
    // mapping it understands (the mapping is then left as it was).
    bool run(const std::vector<std::string>& arguments) override;

private:
    KeyMap& map_;
};

} // namespace tarnell::input
