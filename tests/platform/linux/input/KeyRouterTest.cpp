#include "platform/linux/input/KeyRouter.h"

#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyCodes.h"
#include "platform/linux/input/MiniEngine.h"
#include "platform/linux/input/XkbKeyText.h"

#include <gtest/gtest.h>

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;
using Out = std::vector<std::string>;

namespace {

std::string down(int code) {
    return "+" + std::to_string(code);
}
std::string up(int code) {
    return "-" + std::to_string(code);
}

class KeyRouterTest : public ::testing::Test {
protected:
    KeyRouterTest() { router.setCallback(&MiniEngine::callback, &engine); }

    void type(std::initializer_list<input_event> events) {
        for (const auto& e : events) {
            router.route(e);
        }
    }
    void press(std::uint16_t code) { type({key(code, 1), syn()}); }
    void release(std::uint16_t code) { type({key(code, 0), syn()}); }
    void mapCapsToF18() { map.set({{KEY_CAPSLOCK, KEY_F18}}); }

    RecordingSink sink;
    FakeText text;
    KeyMap map;
    MiniEngine engine;
    KeyRouter router{sink, text, map};
};

const Out kHyperDown{down(KEY_LEFTSHIFT), down(KEY_LEFTCTRL), down(KEY_LEFTALT), down(KEY_LEFTMETA),
                     "|"};
const Out kHyperUp{up(KEY_LEFTSHIFT), up(KEY_LEFTCTRL), up(KEY_LEFTALT), up(KEY_LEFTMETA), "|"};

Out concat(std::initializer_list<Out> parts) {
    Out all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

} // namespace

TEST_F(KeyRouterTest, PassedKeysComeOutAsTheyWentIn) {
    type({ev(EV_MSC, MSC_SCAN, 0x70024), key(KEY_J, 1), syn()});
    type({key(KEY_J, 2), syn(), key(KEY_J, 0), syn()});
    EXPECT_EQ(sink.out, (Out{"4:4:458788", down(KEY_J), "|", "=36", "|", up(KEY_J), "|"}));
    ASSERT_EQ(engine.seen.size(), 3U);
    EXPECT_EQ(engine.seen[0].type, engine::kEventKeyDown);
    EXPECT_EQ(engine.seen[0].keycode, 0x26);
    EXPECT_EQ(engine.seen[0].autorepeat, 0);
    EXPECT_EQ(engine.seen[1].type, engine::kEventKeyDown);
    EXPECT_NE(engine.seen[1].autorepeat, 0);
    EXPECT_EQ(engine.seen[2].type, engine::kEventKeyUp);
}

TEST_F(KeyRouterTest, NonKeyEventsPassUntouchedAndEmptyReportsAreDropped) {
    type({ev(EV_REL, REL_X, 5), ev(EV_REL, REL_Y, -3), syn(), syn()});
    EXPECT_EQ(sink.out, (Out{"2:0:5", "2:1:-3", "|"}));
    EXPECT_TRUE(engine.seen.empty());
}

TEST_F(KeyRouterTest, KeypadOneIsNeverTheHyperTrigger) {
    press(KEY_KP1);
    press(KEY_F18);
    ASSERT_EQ(engine.seen.size(), 2U);
    EXPECT_EQ(engine.seen[0].keycode, 0x53);
    EXPECT_EQ(engine.seen[1].keycode, engine::kHyperTriggerKeyCode);
    EXPECT_EQ(sink.out, (Out{down(KEY_KP1), "|"})) << "the trigger is swallowed";
}

TEST_F(KeyRouterTest, ModifiersPassStraightThroughAndBecomeFlags) {
    press(KEY_LEFTSHIFT);
    press(KEY_RIGHTALT);
    press(KEY_S);
    EXPECT_EQ(sink.out, (Out{down(KEY_LEFTSHIFT), "|", down(KEY_RIGHTALT), "|", down(KEY_S), "|"}));
    ASSERT_EQ(engine.seen.size(), 1U) << "modifier keys are not shown to the engine";
    EXPECT_EQ(engine.seen[0].flags, engine::kFlagShift | engine::kFlagAlt);
    EXPECT_EQ(engine.seen[0].text, "S") << "the text state follows the Shift that passed";
    release(KEY_LEFTSHIFT);
    release(KEY_RIGHTALT);
    press(KEY_J);
    EXPECT_EQ(engine.seen.back().flags, 0U);
}

TEST_F(KeyRouterTest, CapsLockPassesThroughUntilItIsMapped) {
    press(KEY_CAPSLOCK);
    release(KEY_CAPSLOCK);
    EXPECT_TRUE(engine.seen.empty());
    EXPECT_EQ(sink.take(), (Out{down(KEY_CAPSLOCK), "|", up(KEY_CAPSLOCK), "|"}));

    mapCapsToF18();
    press(KEY_CAPSLOCK);
    release(KEY_CAPSLOCK);
    ASSERT_EQ(engine.seen.size(), 2U);
    EXPECT_EQ(engine.seen[0].keycode, engine::kHyperTriggerKeyCode);
    EXPECT_TRUE(sink.take().empty());

    map.clear();
    press(KEY_CAPSLOCK);
    EXPECT_EQ(engine.seen.size(), 2U);
    EXPECT_EQ(sink.take(), (Out{down(KEY_CAPSLOCK), "|"}));
}

TEST_F(KeyRouterTest, HyperChordHoldsItsModifiersWhileTheKeyIsHeldAndNoLonger) {
    mapCapsToF18();
    press(KEY_CAPSLOCK);
    press(KEY_J);
    EXPECT_EQ(sink.take(), concat({kHyperDown, {down(KEY_J), "|"}}));
    type({key(KEY_J, 2), syn()});
    EXPECT_EQ(sink.take(), (Out{"=36", "|"})) << "a repeat keeps the chord as it is";
    release(KEY_J);
    EXPECT_EQ(sink.take(), concat({{up(KEY_J)}, {"|"}, kHyperUp}));
    release(KEY_CAPSLOCK);
    EXPECT_TRUE(sink.take().empty());
    EXPECT_FALSE(router.outputHolds(KEY_LEFTSHIFT));
}

TEST_F(KeyRouterTest, AKeyPassedWithoutTheMaskNeverCarriesTarnellsModifiers) {
    press(KEY_J); // before the Hyper key: passes plain
    mapCapsToF18();
    press(KEY_CAPSLOCK);
    press(KEY_K); // with the mask
    sink.take();
    release(KEY_CAPSLOCK);
    press(KEY_L); // plain again, while K still holds the chord
    EXPECT_EQ(sink.take(), concat({kHyperUp, {down(KEY_L), "|"}}));
    release(KEY_K);
    release(KEY_L);
    release(KEY_J);
    EXPECT_EQ(sink.take(), (Out{up(KEY_K), "|", up(KEY_L), "|", up(KEY_J), "|"}));
    EXPECT_EQ(router.forwardedKeysHeld(), 0);
}

TEST_F(KeyRouterTest, TheChordEndsWithItsKeyEvenWhileAPlainKeyIsHeld) {
    press(KEY_W); // plain, held throughout
    mapCapsToF18();
    press(KEY_CAPSLOCK);
    press(KEY_J);
    sink.take();
    release(KEY_J); // with the mask, as the Hyper key is still down
    EXPECT_EQ(sink.take(), concat({{up(KEY_J), "|"}, kHyperUp}));
    release(KEY_CAPSLOCK);
    EXPECT_TRUE(router.outputHolds(KEY_W));
    type({key(KEY_W, 2), syn()});
    EXPECT_EQ(sink.take(), (Out{"=17", "|"})) << "its repeats carry no modifiers of Tarnell";
}

TEST_F(KeyRouterTest, AModifierTheUserHoldsIsNeverReleasedByTarnell) {
    mapCapsToF18();
    press(KEY_LEFTSHIFT);
    press(KEY_CAPSLOCK);
    press(KEY_J);
    release(KEY_J);
    EXPECT_EQ(sink.take(), (Out{down(KEY_LEFTSHIFT), "|", down(KEY_LEFTCTRL), down(KEY_LEFTALT),
                                down(KEY_LEFTMETA), "|", down(KEY_J), "|", up(KEY_J), "|",
                                up(KEY_LEFTCTRL), up(KEY_LEFTALT), up(KEY_LEFTMETA), "|"}));
    EXPECT_TRUE(router.outputHolds(KEY_LEFTSHIFT));
}

TEST_F(KeyRouterTest, PressingAModifierTarnellHoldsMakesItTheUsers) {
    mapCapsToF18();
    press(KEY_CAPSLOCK);
    press(KEY_J);
    sink.take();
    press(KEY_LEFTCTRL); // already down on the output
    EXPECT_TRUE(sink.take().empty());
    release(KEY_J);
    EXPECT_EQ(sink.take(),
              (Out{up(KEY_J), "|", up(KEY_LEFTSHIFT), up(KEY_LEFTALT), up(KEY_LEFTMETA), "|"}));
    EXPECT_TRUE(router.outputHolds(KEY_LEFTCTRL));
    release(KEY_LEFTCTRL);
    EXPECT_EQ(sink.take(), (Out{up(KEY_LEFTCTRL), "|"}));
}

TEST_F(KeyRouterTest, SwallowedKeysNeverReachTheOutputButAForwardedKeyAlwaysComesUp) {
    mapCapsToF18();
    press(KEY_S); // plain "s" goes down on the output
    press(KEY_CAPSLOCK);
    release(KEY_S); // swallowed by the engine (bound key), yet it went down here
    EXPECT_EQ(sink.take(), (Out{down(KEY_S), "|", up(KEY_S), "|"}));
    press(KEY_S);
    type({key(KEY_S, 2), syn()});
    release(KEY_S);
    EXPECT_TRUE(sink.take().empty());
    release(KEY_CAPSLOCK);
    EXPECT_FALSE(router.outputHolds(KEY_S));
}

TEST_F(KeyRouterTest, RepeatsAndReleasesOfAKeyTheOutputNeverPressedAreDropped) {
    mapCapsToF18();
    press(KEY_CAPSLOCK);
    press(KEY_S); // swallowed
    release(KEY_CAPSLOCK);
    type({key(KEY_S, 2), syn()}); // passes, but the desktop never saw "s" go down
    release(KEY_S);
    EXPECT_TRUE(sink.out.empty());
    EXPECT_EQ(engine.seen.size(), 5U);
}

TEST_F(KeyRouterTest, ReleaseAllLeavesNothingHeld) {
    mapCapsToF18();
    press(KEY_LEFTSHIFT);
    press(KEY_CAPSLOCK);
    press(KEY_J);
    sink.take();
    router.releaseAll();
    auto out = sink.take();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), "|");
    for (const int code : {KEY_LEFTSHIFT, KEY_LEFTCTRL, KEY_LEFTALT, KEY_LEFTMETA, KEY_J}) {
        EXPECT_NE(std::find(out.begin(), out.end(), up(code)), out.end()) << code;
        EXPECT_FALSE(router.outputHolds(static_cast<std::uint16_t>(code)));
    }
    EXPECT_EQ(router.modifierFlags(), 0U);
    EXPECT_EQ(router.forwardedKeysHeld(), 0);
    router.releaseAll();
    EXPECT_TRUE(sink.take().empty());
}

TEST_F(KeyRouterTest, CapsLockTapIsUntouchedByTheMapping) {
    mapCapsToF18();
    router.tapCapsLock();
    EXPECT_EQ(sink.out, (Out{down(KEY_CAPSLOCK), "|", up(KEY_CAPSLOCK), "|"}));
    EXPECT_TRUE(engine.seen.empty());
}

TEST_F(KeyRouterTest, NotificationsReachTheCallback) {
    router.report(engine::kEventTapDisabledByTimeout);
    EXPECT_EQ(engine.notifications,
              (std::vector<std::uint32_t>{engine::kEventTapDisabledByTimeout}));
    EXPECT_TRUE(sink.out.empty());
}

TEST_F(KeyRouterTest, OutputIsWrittenOncePerReport) {
    type({key(KEY_A, 1), key(KEY_B, 1), key(KEY_C, 1)});
    EXPECT_EQ(sink.writes, 0);
    type({syn()});
    EXPECT_EQ(sink.writes, 1);
    EXPECT_EQ(sink.out.size(), 4U);
}

TEST(XkbKeyText, ShiftedTextFollowsTheKeysFed) {
    const auto text = XkbKeyText::fromNames({"evdev", "pc105", "us", "", ""});
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->affectsState(KEY_LEFTSHIFT));
    EXPECT_TRUE(text->affectsState(KEY_CAPSLOCK));
    EXPECT_FALSE(text->affectsState(KEY_S));
    char16_t buffer[4] = {};
    ASSERT_EQ(text->text(KEY_S, buffer, 4), 1);
    EXPECT_EQ(buffer[0], u's');
    text->updateKey(KEY_LEFTSHIFT, true);
    ASSERT_EQ(text->text(KEY_S, buffer, 4), 1);
    EXPECT_EQ(buffer[0], u'S');
    text->updateKey(KEY_LEFTSHIFT, false);
    ASSERT_EQ(text->text(KEY_COMMA, buffer, 4), 1);
    EXPECT_EQ(buffer[0], u',');
    EXPECT_EQ(text->text(KEY_F5, buffer, 4), 0);
    text->setCapsLocked(true);
    ASSERT_EQ(text->text(KEY_S, buffer, 4), 1);
    EXPECT_EQ(buffer[0], u'S');
}

TEST(XkbKeyText, ALayoutOfTheSystemIsHonoured) {
    const auto text = XkbKeyText::fromNames({"evdev", "pc105", "de", "", ""});
    ASSERT_NE(text, nullptr);
    char16_t buffer[4] = {};
    ASSERT_EQ(text->text(KEY_Y, buffer, 4), 1);
    EXPECT_EQ(buffer[0], u'z');
    ASSERT_EQ(text->text(KEY_SEMICOLON, buffer, 4), 1);
    EXPECT_EQ(buffer[0], u'\u00f6');
}

TEST(XkbKeyText, AnInstalledLayoutTakesOverAndTheLocksAndHeldKeysStay) {
    const auto text = XkbKeyText::fromNames({"evdev", "pc105", "us", "", ""});
    ASSERT_NE(text, nullptr);
    const auto typed = [&](std::uint16_t code) {
        char16_t buffer[4] = {};
        const int length = text->text(code, buffer, 4);
        return std::u16string(buffer, static_cast<std::size_t>(std::max(length, 0)));
    };
    text->setCapsLocked(true);
    text->install({XkbKeymap::fromNames({"evdev", "pc105", "de", "", ""}), 0});
    EXPECT_EQ(typed(KEY_Y), u"Z") << "Caps Lock stays locked in the new keymap";
    text->setCapsLocked(false);

    const auto both = XkbKeymap::fromNames({"evdev", "pc105", "us,ru", "", ""});
    text->install({both, 1});
    EXPECT_EQ(typed(KEY_S), u"ы");
    text->updateKey(KEY_LEFTSHIFT, true);
    text->install({both, 0});
    EXPECT_EQ(typed(KEY_S), u"S") << "another group of the same keymap keeps the keys held";
    text->updateKey(KEY_LEFTSHIFT, false);
    EXPECT_EQ(typed(KEY_S), u"s");
    text->install({nullptr, 1});
    EXPECT_EQ(typed(KEY_S), u"s") << "no keymap, no change";
}
