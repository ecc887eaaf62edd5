#include "platform/linux/input/KeyCodes.h"
#include "platform/linux/input/KeyMappingText.h"
#include "platform/linux/input/KeyMappingTool.h"
#include "platform/linux/input/SystemKeyboardLayout.h"

#include <gtest/gtest.h>
#include <set>

using namespace tarnell::input;

namespace {

const std::string kEnable = R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x700000039,)"
                            R"("HIDKeyboardModifierMappingDst":0x70000006D}]})";
const std::string kDisable = R"({"UserKeyMapping":[]})";

std::vector<std::string> args(const std::string& text) {
    return {"property", "--set", text};
}

} // namespace

TEST(KeyCodes, VirtualCodesFollowTheOtherLayoutNumbering) {
    EXPECT_EQ(virtualKeyCode(KEY_F18), 79);
    EXPECT_EQ(virtualKeyCode(KEY_KP1), 0x53);
    EXPECT_EQ(virtualKeyCode(KEY_A), 0x00);
    EXPECT_EQ(virtualKeyCode(KEY_S), 0x01);
    EXPECT_EQ(virtualKeyCode(KEY_COMMA), 0x2B);
    EXPECT_EQ(virtualKeyCode(KEY_CAPSLOCK), 0x39);
    EXPECT_EQ(virtualKeyCode(KEY_F1), 0x7A);
}

TEST(KeyCodes, EveryKernelKeyHasACodeAndOnlyF18IsTheTrigger) {
    std::set<std::int64_t> unknown;
    for (std::uint16_t code = 0; code < KEY_CNT; ++code) {
        const auto virtualCode = virtualKeyCode(code);
        if (code != KEY_F18) {
            EXPECT_NE(virtualCode, 79) << "kernel key " << code;
        }
        if (virtualCode >= kUnknownKeyBase) {
            EXPECT_TRUE(unknown.insert(virtualCode).second) << "unknown keys stay apart";
        } else {
            EXPECT_LE(virtualCode, 0x7E) << "kernel key " << code;
        }
    }
    EXPECT_GE(virtualKeyCode(KEY_F24), kUnknownKeyBase);
}

TEST(KeyCodes, HidKeyboardUsagesReachKernelKeys) {
    EXPECT_EQ(kernelCodeForHidUsage(0x700000039), KEY_CAPSLOCK);
    EXPECT_EQ(kernelCodeForHidUsage(0x70000006D), KEY_F18);
    EXPECT_EQ(kernelCodeForHidUsage(0x700000004), KEY_A);
    EXPECT_EQ(kernelCodeForHidUsage(0x70000001D), KEY_Z);
    EXPECT_EQ(kernelCodeForHidUsage(0x700000027), KEY_0);
    EXPECT_EQ(kernelCodeForHidUsage(0x700000059), KEY_KP1);
    EXPECT_EQ(kernelCodeForHidUsage(0x700000073), KEY_F24);
    EXPECT_EQ(kernelCodeForHidUsage(0x7000000E7), KEY_RIGHTMETA);
    EXPECT_EQ(kernelCodeForHidUsage(0xC000000E2), -1) << "consumer page";
    EXPECT_EQ(kernelCodeForHidUsage(0x700000100), -1);
    for (std::uint64_t usage = 0x04; usage <= 0x65; ++usage) {
        EXPECT_GT(kernelCodeForHidUsage((0x7ULL << 32) | usage), 0) << std::hex << usage;
    }
}

TEST(KeyMappingText, ReadsBareHexadecimalNumbers) {
    const auto mappings = parseUserKeyMapping(kEnable);
    ASSERT_TRUE(mappings.has_value());
    EXPECT_EQ(*mappings, (std::vector<UsageMapping>{{0x700000039, 0x70000006D}}));
    EXPECT_EQ(parseUserKeyMapping(kDisable), std::vector<UsageMapping>{});
    const auto spaced = parseUserKeyMapping(
        "{ \"UserKeyMapping\" : [ {\"HIDKeyboardModifierMappingDst\": 0X70000006d, "
        "\"HIDKeyboardModifierMappingSrc\": 30064771129 } ] }");
    ASSERT_TRUE(spaced.has_value());
    EXPECT_EQ(*spaced, (std::vector<UsageMapping>{{0x700000039, 0x70000006D}}));
}

TEST(KeyMappingText, LeavesStringsAloneAndRefusesWhatIsMalformed) {
    const auto quoted =
        parseUserKeyMapping(R"({"UserKeyMapping":[],"note":"0x700000039 stays text"})");
    EXPECT_TRUE(quoted.has_value());
    for (const char* bad : {
             "",
             "{",
             "[]",
             R"({"UserKeyMapping":{}})",
             R"({"Other":[]})",
             R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x700000039}]})",
             R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":"0x700000039",)"
             R"("HIDKeyboardModifierMappingDst":0x70000006D}]})",
             R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x1FFFFFFFFFFFFFFFF,)"
             R"("HIDKeyboardModifierMappingDst":0x70000006D}]})",
             R"({"UserKeyMapping":[0x700000039]})",
             R"({"UserKeyMapping":[]}garbage)",
             R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x7g,)"
             R"("HIDKeyboardModifierMappingDst":0x70000006D}]})",
         }) {
        EXPECT_FALSE(parseUserKeyMapping(bad).has_value()) << bad;
    }
}

TEST(KeyMappingTool, TheTextBecomesTheWholeMapping) {
    KeyMap map;
    KeyMappingTool tool(map);
    EXPECT_TRUE(tool.run(args(kEnable)));
    EXPECT_EQ(map.apply(KEY_CAPSLOCK), KEY_F18);
    EXPECT_EQ(map.apply(KEY_A), KEY_A);
    EXPECT_EQ(map.apply(KEY_F18), KEY_F18);
    EXPECT_TRUE(tool.run(args(kDisable)));
    EXPECT_TRUE(map.isIdentity());
}

TEST(KeyMappingTool, AnythingElseChangesNothing) {
    KeyMap map;
    KeyMappingTool tool(map);
    ASSERT_TRUE(tool.run(args(kEnable)));
    const std::vector<std::vector<std::string>> refused{
        {},
        {"property", "--set"},
        {"property", "--get", kDisable},
        {"--set", "property", kDisable},
        {"property", "--set", kDisable, "extra"},
        args("{\"UserKeyMapping\":["),
        args(R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0xC000000E2,)"
             R"("HIDKeyboardModifierMappingDst":0x70000006D}]})"),
    };
    for (const auto& arguments : refused) {
        EXPECT_FALSE(tool.run(arguments)) << "refused";
        EXPECT_EQ(map.apply(KEY_CAPSLOCK), KEY_F18);
    }
}

TEST(SystemKeyboardLayout, ReadsTheDebianKeyboardFile) {
    const auto names = parseDefaultKeyboard("# KEYBOARD CONFIGURATION FILE\n"
                                            "XKBMODEL=\"pc105\"\n"
                                            "XKBLAYOUT=\"de,us\"\n"
                                            "XKBVARIANT=\"nodeadkeys,\"\n"
                                            "XKBOPTIONS='grp:alt_shift_toggle'\n"
                                            "BACKSPACE=\"guess\"\n");
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(names->model, "pc105");
    EXPECT_EQ(names->layout, "de,us");
    EXPECT_EQ(names->variant, "nodeadkeys,");
    EXPECT_EQ(names->options, "grp:alt_shift_toggle");
    EXPECT_FALSE(parseDefaultKeyboard("XKBMODEL=pc105\n").has_value());
}
