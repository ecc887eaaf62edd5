#include "bindings/BindingStore.h"

#include "bindings/BindingJson.h"
#include "bindings/FileUrl.h"

#include <algorithm>
#include <array>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace tarnell {
namespace {

struct DefaultApplication {
    std::string_view key;
    // Tried in order; the first one installed is used.
    std::array<std::string_view, 5> desktopIds;
    // Asked for its default application before the desktop IDs are tried.
    std::string_view contentType;
};

constexpr std::array kDefaultApplications{
    DefaultApplication{"c",
                       {"google-chrome.desktop", "com.google.Chrome.desktop", "chromium.desktop",
                        "org.chromium.Chromium.desktop"},
                       {}},
    DefaultApplication{"s", {"slack.desktop", "com.slack.Slack.desktop"}, {}},
    DefaultApplication{"f",
                       {"org.gnome.Nautilus.desktop", "org.kde.dolphin.desktop", "thunar.desktop",
                        "nemo.desktop", "pcmanfm.desktop"},
                       "inode/directory"},
};

// The user-perceived characters of the name, lower-cased with the full,
// locale-independent mapping.
std::vector<std::string> lowerCaseCharacters(std::string_view name) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(name.data(), static_cast<std::int32_t>(name.size())));
    text.toLower(icu::Locale::getRoot());

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !characters) {
        return {};
    }
    characters->setText(text);
    std::vector<std::string> result;
    for (std::int32_t start = characters->first(), end = characters->next();
         end != icu::BreakIterator::DONE; start = end, end = characters->next()) {
        std::string character;
        text.tempSubStringBetween(start, end).toUTF8String(character);
        result.push_back(std::move(character));
    }
    return result;
}

} // namespace

const std::vector<std::string>& allKeys() {
    // A function-local static is initialised exactly once, also under a race.
    static const std::vector<std::string> keys = [] {
        constexpr std::string_view characters = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::vector<std::string> list;
        list.reserve(characters.size());
        for (const char c : characters) {
            list.emplace_back(1, c);
        }
        return list;
    }();
    return keys;
}

BindingStore::BindingStore(KeyValueStore& defaults, ApplicationDirectory& applications)
    : defaults_(defaults), applications_(applications) {
    // Initial values only: loading notifies nobody and writes nothing back.
    if (const auto stored = defaults_.dataForKey(kBindingsKey)) {
        if (auto decoded = decodeBindings(*stored)) {
            bindings_ = std::move(*decoded);
        } else {
            storedBindingsUnreadable_ = true;
            bindings_ = defaultBindings();
        }
    } else {
        bindings_ = defaultBindings();
    }
    hidesFrontmostApp_ = defaults_.boolForKey(kHidesFrontmostAppKey).value_or(true);
    quickTapTogglesCapsLock_ = defaults_.boolForKey(kQuickTapTogglesCapsLockKey).value_or(true);
}

void BindingStore::setBindings(std::vector<AppBinding> bindings) {
    changes_.notify();
    bindings_ = std::move(bindings);
    saveBindings();
}

void BindingStore::setHidesFrontmostApp(bool value) {
    changes_.notify();
    hidesFrontmostApp_ = value;
    defaults_.setBool(kHidesFrontmostAppKey, hidesFrontmostApp_);
}

void BindingStore::setQuickTapTogglesCapsLock(bool value) {
    changes_.notify();
    quickTapTogglesCapsLock_ = value;
    defaults_.setBool(kQuickTapTogglesCapsLockKey, quickTapTogglesCapsLock_);
}

const AppBinding* BindingStore::bindingForKey(std::string_view key) const {
    const auto found =
        std::find_if(bindings_.begin(), bindings_.end(),
                     [key](const AppBinding& binding) { return keysEqual(binding.key, key); });
    return found == bindings_.end() ? nullptr : &*found;
}

std::vector<std::string>
BindingStore::availableKeys(std::optional<std::string_view> currentKey) const {
    std::vector<std::string> keys;
    for (const auto& key : allKeys()) {
        const bool held =
            std::any_of(bindings_.begin(), bindings_.end(),
                        [&key](const AppBinding& binding) { return keysEqual(binding.key, key); });
        if (!held || (currentKey && keysEqual(*currentKey, key))) {
            keys.push_back(key);
        }
    }
    return keys;
}

void BindingStore::addApp(const std::string& url) {
    if (!isValidUrlString(url)) {
        return;
    }
    const auto path = pathFromFileUrl(url);
    const std::string name = path ? applications_.displayNameAtPath(*path) : std::string();
    const auto available = availableKeys();

    std::optional<std::string> chosen;
    for (const auto& character : lowerCaseCharacters(name)) {
        const auto match =
            std::find_if(available.begin(), available.end(), [&character](const std::string& key) {
                return keysEqual(character, key);
            });
        if (match != available.end()) {
            chosen = *match;
            break;
        }
    }
    if (!chosen) {
        if (available.empty()) {
            return; // all keys are held
        }
        chosen = available.front();
    }

    auto list = bindings_;
    list.push_back(AppBinding{Uuid::random(), std::move(*chosen), url});
    setBindings(std::move(list));
}

void BindingStore::removeBinding(const AppBinding& binding) {
    auto list = bindings_;
    std::erase_if(list, [&binding](const AppBinding& element) { return element.id == binding.id; });
    setBindings(std::move(list));
}

void BindingStore::saveBindings() {
    const auto encoded = tryEncodeBindings(bindings_);
    if (!encoded) {
        return;
    }
    if (storedBindingsUnreadable_) {
        defaults_.preserveUnreadable(kBindingsKey);
        storedBindingsUnreadable_ = false;
    }
    defaults_.setData(kBindingsKey, *encoded);
}

std::vector<AppBinding> BindingStore::defaultBindings() {
    std::vector<AppBinding> result;
    for (const auto& row : kDefaultApplications) {
        std::vector<std::string> candidates;
        if (!row.contentType.empty()) {
            if (auto handler = applications_.defaultApplicationFor(row.contentType)) {
                candidates.push_back(std::move(*handler));
            }
        }
        for (const auto id : row.desktopIds) {
            if (!id.empty()) {
                candidates.emplace_back(id);
            }
        }
        for (const auto& id : candidates) {
            if (auto url = applications_.urlForApplication(id)) {
                result.push_back(AppBinding{Uuid::random(), std::string(row.key), std::move(*url)});
                break;
            }
        }
    }
    return result;
}

} // namespace tarnell
