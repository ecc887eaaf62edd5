#pragma once

#include "bindings/AppBinding.h"
#include "bindings/ApplicationDirectory.h"
#include "bindings/ChangeNotifier.h"
#include "bindings/KeyValueStore.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell {

// "a" to "z", then "0" to "9": the keys the program assigns, in the order in which
// free keys are offered and chosen.
const std::vector<std::string>& allKeys();

// The one store of shortcuts and the two behaviour settings. Loading writes
// nothing; every assignment is written through at once, also when unchanged.
// Observers are told before each assignment to a published field.
class BindingStore {
public:
    // Keys in the key-value store.
    static constexpr std::string_view kBindingsKey = "bindings";
    static constexpr std::string_view kHidesFrontmostAppKey = "hidesFrontmostApp";
    static constexpr std::string_view kQuickTapTogglesCapsLockKey = "quickTapTogglesCapsLock";

    BindingStore(KeyValueStore& defaults, ApplicationDirectory& applications);
    BindingStore(const BindingStore&) = delete;
    BindingStore& operator=(const BindingStore&) = delete;

    [[nodiscard]] const std::vector<AppBinding>& bindings() const { return bindings_; }
    void setBindings(std::vector<AppBinding> bindings);

    [[nodiscard]] bool hidesFrontmostApp() const { return hidesFrontmostApp_; }
    void setHidesFrontmostApp(bool value);

    [[nodiscard]] bool quickTapTogglesCapsLock() const { return quickTapTogglesCapsLock_; }
    void setQuickTapTogglesCapsLock(bool value);

    // The first binding whose key equals `key`, or nullptr. Allocates nothing for
    // ASCII keys.
    [[nodiscard]] const AppBinding* bindingForKey(std::string_view key) const;
    [[nodiscard]] std::vector<std::string>
    availableKeys(std::optional<std::string_view> currentKey = std::nullopt) const;
    // Appends a binding for the application at this URL with a key taken from its
    // display name. A URL that isValidUrlString rejects is not added: it could not
    // be stored without making the stored list unreadable.
    void addApp(const std::string& url);
    void removeBinding(const AppBinding& binding);
    void saveBindings();
    [[nodiscard]] std::vector<AppBinding> defaultBindings();

    [[nodiscard]] ChangeNotifier& changes() { return changes_; }
    [[nodiscard]] ApplicationDirectory& applications() { return applications_; }

private:
    KeyValueStore& defaults_;
    ApplicationDirectory& applications_;
    ChangeNotifier changes_;
    std::vector<AppBinding> bindings_;
    bool hidesFrontmostApp_ = true;
    bool quickTapTogglesCapsLock_ = true;
    // The stored list could not be read when loading; a copy of it is kept aside
    // before the first save replaces it.
    bool storedBindingsUnreadable_ = false;
};

} // namespace tarnell
