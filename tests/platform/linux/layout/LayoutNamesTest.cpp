#include "platform/linux/layout/InputSourceNames.h"
#include "platform/linux/layout/KdeKeyboardLayout.h"
#include "platform/linux/layout/SwayKeyboardLayout.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

using namespace tarnell;
using namespace tarnell::layout;
using Json = nlohmann::json;

TEST(InputSourceNames, AnXkbSourceIdIsALayoutAndAVariant) {
    const auto names = [](std::string_view id) {
        const auto found = xkbNamesOfInputSource(id);
        return found ? found->layout + "|" + found->variant : std::string("none");
    };
    EXPECT_EQ(names("de"), "de|");
    EXPECT_EQ(names("us+intl"), "us|intl");
    EXPECT_EQ(names("us+dvorak-alt-intl"), "us|dvorak-alt-intl");
    EXPECT_EQ(names("gb+colemak_dh"), "gb|colemak_dh");
    // Anything that would make another keymap than the one source's.
    for (const char* bad : {"", "+intl", "us+", "us+intl+x", "us,ru", "us(intl)", "us intl",
                            "us+intl,", "../de", "de\n"}) {
        EXPECT_EQ(names(bad), "none") << bad;
    }
    EXPECT_EQ(names(std::string(200, 'a')), "none");
}

TEST(KxkbrcNames, TheLayoutGroupAsKWinReadsIt) {
    const auto names = kxkbrcNames("[Other]\nLayoutList=fr\n"
                                   "[Layout]\nDisplayNames=,\nLayoutList=us,ru\nVariantList=intl,\n"
                                   "Options=ctrl:nocaps\nLayoutList[$e]=xx\n");
    EXPECT_EQ(names.layout, "us,ru");
    EXPECT_EQ(names.variant, "intl,");
    EXPECT_EQ(names.model, "pc104");
    EXPECT_EQ(names.options, "") << "options count only with ResetOldOptions";
    const auto reset =
        kxkbrcNames("[Layout]\nModel=pc105\nOptions=ctrl:nocaps\nResetOldOptions=true\n");
    EXPECT_EQ(reset.model, "pc105");
    EXPECT_EQ(reset.options, "ctrl:nocaps");
    EXPECT_EQ(reset.layout, "") << "KWin's defaults then";
}

// sway's replies and events come from another process: whatever they hold, only
// well-formed keyboards within bounds come out.
TEST(SwayKeyboards, OnlyWellFormedKeyboardsWithinBoundsAreTaken) {
    const Json tarnells = {{"identifier", "29793:29294:Tarnell_virtual_keyboard"},
                           {"name", "Tarnell virtual keyboard"},
                           {"vendor", 29793},
                           {"product", 29294},
                           {"type", "keyboard"},
                           {"xkb_layout_names", {"English (US)", "Russian"}},
                           {"xkb_active_layout_index", 1}};
    Json other = tarnells;
    other["identifier"] = "1:1:AT_Translated_Set_2_keyboard";
    other["vendor"] = 1;
    const Json pointer = {{"identifier", "2:3:mouse"}, {"type", "pointer"}};
    const Json inputs = {other, pointer, tarnells};

    const auto keyboards = swayKeyboards(inputs.dump());
    ASSERT_EQ(keyboards.size(), 2U);
    EXPECT_EQ(keyboards[0].identifier, "1:1:AT_Translated_Set_2_keyboard");
    EXPECT_FALSE(keyboards[0].tarnells);
    EXPECT_TRUE(keyboards[1].tarnells);
    EXPECT_EQ(keyboards[1].layoutNames, (std::vector<std::string>{"English (US)", "Russian"}));
    EXPECT_EQ(keyboards[1].activeLayout, 1U);
    const auto change = swayInputChange(Json{{"change", "xkb_layout"}, {"input", tarnells}}.dump());
    ASSERT_TRUE(change && change->keyboard);
    EXPECT_EQ(change->change, "xkb_layout");

    const std::vector<Json> oddValues = {nullptr,
                                         -1,
                                         2,
                                         1u << 31,
                                         1.5,
                                         "",
                                         std::string(300, 'x'),
                                         Json::array(),
                                         Json::array({1, 2}),
                                         Json(std::vector<std::string>(40, "German")),
                                         Json::object(),
                                         true};
    const std::vector<std::string> keys = {
        "identifier", "type", "vendor", "product", "xkb_layout_names", "xkb_active_layout_index"};
    std::mt19937 random(19);
    for (int round = 0; round < 2000; ++round) {
        Json mutated = inputs;
        for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) {
            Json& input = mutated[random() % mutated.size()];
            const auto& key = keys[random() % keys.size()];
            if (random() % 4 == 0) {
                input.erase(key);
            } else {
                input[key] = oddValues[random() % oddValues.size()];
            }
        }
        std::string text = mutated.dump();
        if (random() % 5 == 0) {
            text.resize(random() % text.size()); // cut short
        }
        auto found = swayKeyboards(text);
        if (const auto event = swayInputChange(
                Json{{"change", "xkb_keymap"}, {"input", mutated[random() % mutated.size()]}}
                    .dump());
            event && event->keyboard) {
            found.push_back(*event->keyboard);
        }
        for (const auto& keyboard : found) {
            ASSERT_FALSE(keyboard.identifier.empty());
            ASSERT_LE(keyboard.identifier.size(), 256U);
            ASSERT_FALSE(keyboard.layoutNames.empty());
            ASSERT_LE(keyboard.layoutNames.size(), 32U);
            ASSERT_LT(keyboard.activeLayout, keyboard.layoutNames.size()) << text;
            for (const auto& name : keyboard.layoutNames) {
                ASSERT_LE(name.size(), 256U);
            }
        }
    }
}
