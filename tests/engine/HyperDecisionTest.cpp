// The Hyper key decision, as scripts of events in and outcomes and actions out.
#include "engine/HyperDecision.h"

#include "bindings/BindingStore.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakeKeyEvent.h"
#include "support/InMemoryKeyValueStore.h"

#include <cctype>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace tarnell::engine {
namespace {

using testing::FakeKeyEvent;
using Kind = HyperAction::Kind;

constexpr std::int64_t kKeyS = 1; // virtual key codes of the keys used below
constexpr std::int64_t kKeyJ = 38;
constexpr std::int64_t kKeyComma = 43;
constexpr std::int64_t kKeyF5 = 96; // types no text
constexpr std::uint64_t kCommand = kFlagSuper;

struct Event {
    std::uint32_t type = kEventKeyDown;
    std::int64_t keycode = 0;
    std::int64_t autorepeat = 0;
    std::u16string text;
    std::uint64_t flags = 0;
};

Event triggerDown() {
    return {kEventKeyDown, kHyperTriggerKeyCode, 0, u"", 0};
}
Event triggerRepeat() {
    return {kEventKeyDown, kHyperTriggerKeyCode, 1, u"", 0};
}
Event triggerUp() {
    return {kEventKeyUp, kHyperTriggerKeyCode, 0, u"", 0};
}
Event down(std::int64_t code, std::u16string text, std::uint64_t flags = 0) {
    return {kEventKeyDown, code, 0, std::move(text), flags};
}
Event repeat(std::int64_t code, std::u16string text) {
    return {kEventKeyDown, code, 1, std::move(text), 0};
}
Event up(std::int64_t code, std::u16string text) {
    return {kEventKeyUp, code, 0, std::move(text), 0};
}
Event notification(std::uint32_t type) {
    return {type, 0, 0, u"", 0};
}

struct Step {
    Event event;
    EventOutcome outcome;
    Kind action = Kind::none;
    std::string appURL = {};
};

struct Scenario {
    std::string name;
    std::vector<std::string> boundKeys = {"s"};
    bool quickTapTogglesCapsLock = true;
    bool hasOnOpenSettings = true;
    std::vector<Step> steps;
};

std::string urlFor(const std::string& key) {
    return "file:///apps/" + key + ".desktop";
}

std::ostream& operator<<(std::ostream& os, const Scenario& s) {
    return os << s.name;
}

const EventOutcome pass = EventOutcome::pass;
const EventOutcome hyper = EventOutcome::passWithHyperFlags;
const EventOutcome swallow = EventOutcome::swallow;

const std::vector<Scenario> kScenarios = {
    {.name = "bound chord activates once on the key-down and toggles nothing",
     .steps = {{triggerDown(), swallow},
               {down(kKeyS, u"s"), swallow, Kind::activateApp, urlFor("s")},
               {up(kKeyS, u"s"), swallow},
               {triggerUp(), swallow}}},
    {.name = "quick tap with trigger repeats toggles once at the key-up",
     .steps = {{triggerDown(), swallow},
               {triggerRepeat(), swallow},
               {triggerRepeat(), swallow},
               {triggerRepeat(), swallow},
               {triggerUp(), swallow, Kind::toggleCapsLock}}},
    {.name = "quick tap does not toggle with the setting off",
     .quickTapTogglesCapsLock = false,
     .steps = {{triggerDown(), swallow}, {triggerUp(), swallow}}},
    {.name = "unbound chord is handed on with the hyper flags",
     .steps = {{triggerDown(), swallow},
               {down(kKeyJ, u"j"), hyper},
               {up(kKeyJ, u"j"), hyper},
               {triggerUp(), swallow}}},
    {.name = "key-up after the trigger is released passes untouched",
     .steps = {{triggerDown(), swallow},
               {down(kKeyS, u"s"), swallow, Kind::activateApp, urlFor("s")},
               {triggerUp(), swallow},
               {up(kKeyS, u"s"), pass}}},
    {.name = "key-up of a key pressed before the trigger counts as use",
     .steps = {{down(kKeyJ, u"j"), pass},
               {triggerDown(), swallow},
               {up(kKeyJ, u"j"), hyper},
               {triggerUp(), swallow}}},
    {.name = "repeats of a bound key are swallowed without action",
     .steps = {{triggerDown(), swallow},
               {down(kKeyS, u"s"), swallow, Kind::activateApp, urlFor("s")},
               {repeat(kKeyS, u"s"), swallow},
               {repeat(kKeyS, u"s"), swallow},
               {up(kKeyS, u"s"), swallow},
               {triggerUp(), swallow}}},
    {.name = "shifted letter finds the lower-case binding",
     .steps = {{triggerDown(), swallow},
               {down(kKeyS, u"S", kFlagShift), swallow, Kind::activateApp, urlFor("s")}}},
    {.name = "comma opens settings once and beats a comma binding",
     .boundKeys = {","},
     .steps = {{triggerDown(), swallow},
               {down(kKeyComma, u","), swallow, Kind::openSettings},
               {repeat(kKeyComma, u","), swallow},
               {up(kKeyComma, u","), swallow},
               {triggerUp(), swallow}}},
    {.name = "comma without a settings callback is swallowed and does nothing",
     .hasOnOpenSettings = false,
     .steps = {{triggerDown(), swallow}, {down(kKeyComma, u","), swallow}}},
    {.name = "a key without text is handed on with the hyper flags",
     .steps = {{triggerDown(), swallow}, {down(kKeyF5, u""), hyper}, {up(kKeyF5, u""), hyper}}},
    {.name = "keys pass untouched while Hyper is not held",
     .steps = {{down(kKeyS, u"s"), pass},
               {up(kKeyS, u"s"), pass},
               {down(kKeyJ, u"j", kCommand), pass}}},
    {.name = "a trigger key-up with no key-down since creation is a quick tap",
     .steps = {{triggerUp(), swallow, Kind::toggleCapsLock}}},
    {.name = "a new trigger press clears the use of the previous one",
     .steps = {{triggerDown(), swallow},
               {down(kKeyJ, u"j"), hyper},
               {triggerUp(), swallow},
               {up(kKeyJ, u"j"), pass},
               {triggerDown(), swallow},
               {triggerUp(), swallow, Kind::toggleCapsLock}}},
    {.name = "a trigger repeat does not clear the use",
     .steps = {{triggerDown(), swallow},
               {down(kKeyJ, u"j"), hyper},
               {triggerRepeat(), swallow},
               {triggerUp(), swallow}}},
    {.name = "tap disabled notifications re-enable the tap and pass",
     .steps = {{notification(kEventTapDisabledByTimeout), pass, Kind::reenableTap},
               {notification(kEventTapDisabledByUserInput), pass, Kind::reenableTap}}},
    {.name = "other event types pass without changing the state",
     .steps = {{triggerDown(), swallow},
               {notification(12), pass},
               {triggerUp(), swallow, Kind::toggleCapsLock}}},
    {.name = "a capital bound key is never found by the engine",
     .boundKeys = {"S"},
     .steps = {{triggerDown(), swallow}, {down(kKeyS, u"S", kFlagShift), hyper}}},
    {.name = "the earliest of two bindings with one key wins",
     .boundKeys = {"j", "j"},
     .steps = {{triggerDown(), swallow},
               {down(kKeyJ, u"j"), swallow, Kind::activateApp, urlFor("j")}}},
};

class HyperDecisionScript : public ::testing::TestWithParam<Scenario> {};

TEST_P(HyperDecisionScript, Runs) {
    const Scenario& scenario = GetParam();
    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    BindingStore store(defaults, applications);
    std::vector<AppBinding> bindings;
    for (const auto& key : scenario.boundKeys) {
        bindings.push_back({Uuid::random(), key, urlFor(key)});
    }
    store.setBindings(bindings);
    store.setQuickTapTogglesCapsLock(scenario.quickTapTogglesCapsLock);

    HyperState state;
    for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        FakeKeyEvent event;
        event.keycode = step.event.keycode;
        event.autorepeat = step.event.autorepeat;
        event.text = step.event.text;
        event.eventFlags = step.event.flags;

        const Decision decision =
            decideEvent(state, step.event.type, event, {store, scenario.hasOnOpenSettings});
        EXPECT_EQ(decision.outcome, step.outcome);
        EXPECT_EQ(decision.action.kind, step.action);
        EXPECT_EQ(std::string(decision.action.appURL), step.appURL);
        const std::uint64_t expectedFlags =
            step.outcome == hyper ? step.event.flags | kHyperModifierMask : step.event.flags;
        EXPECT_EQ(event.eventFlags, expectedFlags);
    }
}

// "a key without text" becomes AKeyWithoutText: the test's name says what it checks.
std::string scenarioName(const ::testing::TestParamInfo<Scenario>& param) {
    std::string name;
    bool wordStart = true;
    for (const char c : param.param.name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            wordStart = true;
            continue;
        }
        name += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        wordStart = false;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HyperDecisionScript, ::testing::ValuesIn(kScenarios),
                         scenarioName);

TEST(HyperDecision, ForwardedEventKeepsItsOwnModifiers) {
    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    BindingStore store(defaults, applications);
    store.setBindings({});
    HyperState state{true, false};
    FakeKeyEvent event;
    event.keycode = kKeyJ;
    event.text = u"j";
    event.eventFlags = kCommand | 0x1; // an unrelated bit stays too
    decideEvent(state, kEventKeyDown, event, {store, true});
    EXPECT_EQ(event.eventFlags, kHyperModifierMask | 0x1);
}

TEST(HyperDecision, PassPathComputesNoText) {
    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    BindingStore store(defaults, applications);
    HyperState state;
    FakeKeyEvent event;
    event.keycode = kKeyS;
    event.text = u"s";
    for (auto type : {kEventKeyDown, kEventKeyUp}) {
        decideEvent(state, type, event, {store, true});
    }
    EXPECT_EQ(event.textReads, 0);
}

TEST(KeyCharacter, LowercasesWithTheFullLocaleIndependentMapping) {
    FakeKeyEvent event;
    const auto text = [&](std::u16string units) {
        event.text = std::move(units);
        return std::string(keyCharacter(event).utf8());
    };
    EXPECT_EQ(text(u"S"), "s");
    EXPECT_EQ(text(u"I"), "i");              // not the dotless i of a Turkish locale
    EXPECT_EQ(text(u"\u0130"), "i\xCC\x87"); // İ lowercases to two code points
    EXPECT_EQ(text(u"\u00C9"), "\xC3\xA9");
    EXPECT_EQ(text(u"abcdef"), "abcd"); // at most four code units are read
    EXPECT_EQ(text(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_TRUE(keyCharacter(FakeKeyEvent{}).empty());
    EXPECT_EQ(text(u"\xD800"), "\xEF\xBF\xBD"); // an unpaired surrogate is not fatal
}

} // namespace
} // namespace tarnell::engine
