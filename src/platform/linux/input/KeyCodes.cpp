#include "platform/linux/input/KeyCodes.h"

#include <array>

namespace tarnell::input {
namespace {

constexpr std::int16_t kNone = -1;

constexpr std::array<std::int16_t, KEY_CNT> makeVirtualTable() {
    std::array<std::int16_t, KEY_CNT> t{};
    for (auto& v : t) {
        v = kNone;
    }
    // Letters
    t[KEY_A] = 0x00, t[KEY_S] = 0x01, t[KEY_D] = 0x02, t[KEY_F] = 0x03, t[KEY_H] = 0x04;
    t[KEY_G] = 0x05, t[KEY_Z] = 0x06, t[KEY_X] = 0x07, t[KEY_C] = 0x08, t[KEY_V] = 0x09;
    t[KEY_B] = 0x0B, t[KEY_Q] = 0x0C, t[KEY_W] = 0x0D, t[KEY_E] = 0x0E, t[KEY_R] = 0x0F;
    t[KEY_Y] = 0x10, t[KEY_T] = 0x11, t[KEY_O] = 0x1F, t[KEY_U] = 0x20, t[KEY_I] = 0x22;
    t[KEY_P] = 0x23, t[KEY_L] = 0x25, t[KEY_J] = 0x26, t[KEY_K] = 0x28, t[KEY_N] = 0x2D;
    t[KEY_M] = 0x2E;
    // Digits
    t[KEY_1] = 0x12, t[KEY_2] = 0x13, t[KEY_3] = 0x14, t[KEY_4] = 0x15, t[KEY_6] = 0x16;
    t[KEY_5] = 0x17, t[KEY_9] = 0x19, t[KEY_7] = 0x1A, t[KEY_8] = 0x1C, t[KEY_0] = 0x1D;
    // Punctuation
    t[KEY_102ND] = 0x0A, t[KEY_EQUAL] = 0x18, t[KEY_MINUS] = 0x1B, t[KEY_RIGHTBRACE] = 0x1E;
    t[KEY_LEFTBRACE] = 0x21, t[KEY_APOSTROPHE] = 0x27, t[KEY_SEMICOLON] = 0x29;
    t[KEY_BACKSLASH] = 0x2A, t[KEY_COMMA] = 0x2B, t[KEY_SLASH] = 0x2C, t[KEY_DOT] = 0x2F;
    t[KEY_GRAVE] = 0x32;
    // Editing and whitespace
    t[KEY_ENTER] = 0x24, t[KEY_TAB] = 0x30, t[KEY_SPACE] = 0x31, t[KEY_BACKSPACE] = 0x33;
    t[KEY_ESC] = 0x35, t[KEY_INSERT] = 0x72, t[KEY_HELP] = 0x72, t[KEY_HOME] = 0x73;
    t[KEY_PAGEUP] = 0x74, t[KEY_DELETE] = 0x75, t[KEY_END] = 0x77, t[KEY_PAGEDOWN] = 0x79;
    t[KEY_LEFT] = 0x7B, t[KEY_RIGHT] = 0x7C, t[KEY_DOWN] = 0x7D, t[KEY_UP] = 0x7E;
    t[KEY_COMPOSE] = 0x6E;
    // Modifiers
    t[KEY_RIGHTMETA] = 0x36, t[KEY_LEFTMETA] = 0x37, t[KEY_LEFTSHIFT] = 0x38;
    t[KEY_CAPSLOCK] = 0x39, t[KEY_LEFTALT] = 0x3A, t[KEY_LEFTCTRL] = 0x3B;
    t[KEY_RIGHTSHIFT] = 0x3C, t[KEY_RIGHTALT] = 0x3D, t[KEY_RIGHTCTRL] = 0x3E, t[KEY_FN] = 0x3F;
    // Function keys
    t[KEY_F1] = 0x7A, t[KEY_F2] = 0x78, t[KEY_F3] = 0x63, t[KEY_F4] = 0x76, t[KEY_F5] = 0x60;
    t[KEY_F6] = 0x61, t[KEY_F7] = 0x62, t[KEY_F8] = 0x64, t[KEY_F9] = 0x65, t[KEY_F10] = 0x6D;
    t[KEY_F11] = 0x67, t[KEY_F12] = 0x6F, t[KEY_F13] = 0x69, t[KEY_F14] = 0x6B;
    t[KEY_F15] = 0x71, t[KEY_F16] = 0x6A, t[KEY_F17] = 0x40, t[KEY_F18] = 0x4F;
    t[KEY_F19] = 0x50, t[KEY_F20] = 0x5A;
    // Keypad
    t[KEY_KPDOT] = 0x41, t[KEY_KPASTERISK] = 0x43, t[KEY_KPPLUS] = 0x45, t[KEY_NUMLOCK] = 0x47;
    t[KEY_KPSLASH] = 0x4B, t[KEY_KPENTER] = 0x4C, t[KEY_KPMINUS] = 0x4E, t[KEY_KPEQUAL] = 0x51;
    t[KEY_KP0] = 0x52, t[KEY_KP1] = 0x53, t[KEY_KP2] = 0x54, t[KEY_KP3] = 0x55;
    t[KEY_KP4] = 0x56, t[KEY_KP5] = 0x57, t[KEY_KP6] = 0x58, t[KEY_KP7] = 0x59;
    t[KEY_KP8] = 0x5B, t[KEY_KP9] = 0x5C, t[KEY_KPJPCOMMA] = 0x5F;
    // Media and national keys
    t[KEY_VOLUMEUP] = 0x48, t[KEY_VOLUMEDOWN] = 0x49, t[KEY_MUTE] = 0x4A;
    t[KEY_YEN] = 0x5D, t[KEY_RO] = 0x5E, t[KEY_HANJA] = 0x66, t[KEY_HANGEUL] = 0x68;
    return t;
}

// The kernel's keyboard page table: HID usage 0x00..0xFF to kernel key code.
constexpr std::array<std::int16_t, 256> makeHidTable() {
    std::array<std::int16_t, 256> t{};
    for (auto& v : t) {
        v = kNone;
    }
    constexpr std::array<std::uint16_t, 26> letters{
        KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
        KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    for (std::size_t i = 0; i < letters.size(); ++i) {
        t[0x04 + i] = static_cast<std::int16_t>(letters[i]);
    }
    for (int i = 0; i < 10; ++i) { // 1..9 then 0
        t[static_cast<std::size_t>(0x1E + i)] = static_cast<std::int16_t>(KEY_1 + i);
    }
    t[0x28] = KEY_ENTER, t[0x29] = KEY_ESC, t[0x2A] = KEY_BACKSPACE, t[0x2B] = KEY_TAB;
    t[0x2C] = KEY_SPACE, t[0x2D] = KEY_MINUS, t[0x2E] = KEY_EQUAL, t[0x2F] = KEY_LEFTBRACE;
    t[0x30] = KEY_RIGHTBRACE, t[0x31] = KEY_BACKSLASH, t[0x32] = KEY_BACKSLASH;
    t[0x33] = KEY_SEMICOLON, t[0x34] = KEY_APOSTROPHE, t[0x35] = KEY_GRAVE, t[0x36] = KEY_COMMA;
    t[0x37] = KEY_DOT, t[0x38] = KEY_SLASH, t[0x39] = KEY_CAPSLOCK;
    constexpr std::array<std::uint16_t, 12> f1to12{KEY_F1, KEY_F2,  KEY_F3,  KEY_F4,
                                                   KEY_F5, KEY_F6,  KEY_F7,  KEY_F8,
                                                   KEY_F9, KEY_F10, KEY_F11, KEY_F12};
    for (std::size_t i = 0; i < f1to12.size(); ++i) {
        t[0x3A + i] = static_cast<std::int16_t>(f1to12[i]);
    }
    t[0x46] = KEY_SYSRQ, t[0x47] = KEY_SCROLLLOCK, t[0x48] = KEY_PAUSE, t[0x49] = KEY_INSERT;
    t[0x4A] = KEY_HOME, t[0x4B] = KEY_PAGEUP, t[0x4C] = KEY_DELETE, t[0x4D] = KEY_END;
    t[0x4E] = KEY_PAGEDOWN, t[0x4F] = KEY_RIGHT, t[0x50] = KEY_LEFT, t[0x51] = KEY_DOWN;
    t[0x52] = KEY_UP, t[0x53] = KEY_NUMLOCK, t[0x54] = KEY_KPSLASH, t[0x55] = KEY_KPASTERISK;
    t[0x56] = KEY_KPMINUS, t[0x57] = KEY_KPPLUS, t[0x58] = KEY_KPENTER, t[0x59] = KEY_KP1;
    t[0x5A] = KEY_KP2, t[0x5B] = KEY_KP3, t[0x5C] = KEY_KP4, t[0x5D] = KEY_KP5;
    t[0x5E] = KEY_KP6, t[0x5F] = KEY_KP7, t[0x60] = KEY_KP8, t[0x61] = KEY_KP9;
    t[0x62] = KEY_KP0, t[0x63] = KEY_KPDOT, t[0x64] = KEY_102ND, t[0x65] = KEY_COMPOSE;
    t[0x66] = KEY_POWER, t[0x67] = KEY_KPEQUAL;
    for (int i = 0; i < 12; ++i) { // F13..F24
        t[static_cast<std::size_t>(0x68 + i)] = static_cast<std::int16_t>(KEY_F13 + i);
    }
    t[0x74] = KEY_OPEN, t[0x75] = KEY_HELP, t[0x76] = KEY_PROPS, t[0x77] = KEY_FRONT;
    t[0x78] = KEY_STOP, t[0x79] = KEY_AGAIN, t[0x7A] = KEY_UNDO, t[0x7B] = KEY_CUT;
    t[0x7C] = KEY_COPY, t[0x7D] = KEY_PASTE, t[0x7E] = KEY_FIND, t[0x7F] = KEY_MUTE;
    t[0x80] = KEY_VOLUMEUP, t[0x81] = KEY_VOLUMEDOWN, t[0x85] = KEY_KPCOMMA;
    t[0x87] = KEY_RO, t[0x88] = KEY_KATAKANAHIRAGANA, t[0x89] = KEY_YEN, t[0x8A] = KEY_HENKAN;
    t[0x8B] = KEY_MUHENKAN, t[0x8C] = KEY_KPJPCOMMA, t[0x90] = KEY_HANGEUL, t[0x91] = KEY_HANJA;
    t[0x92] = KEY_KATAKANA, t[0x93] = KEY_HIRAGANA, t[0x94] = KEY_ZENKAKUHANKAKU;
    t[0x9A] = KEY_SYSRQ, t[0x9B] = KEY_CANCEL, t[0x9C] = KEY_DELETE;
    t[0xB6] = KEY_KPLEFTPAREN, t[0xB7] = KEY_KPRIGHTPAREN;
    t[0xE0] = KEY_LEFTCTRL, t[0xE1] = KEY_LEFTSHIFT, t[0xE2] = KEY_LEFTALT;
    t[0xE3] = KEY_LEFTMETA, t[0xE4] = KEY_RIGHTCTRL, t[0xE5] = KEY_RIGHTSHIFT;
    t[0xE6] = KEY_RIGHTALT, t[0xE7] = KEY_RIGHTMETA;
    return t;
}

constexpr auto kVirtualTable = makeVirtualTable();
constexpr auto kHidTable = makeHidTable();

static_assert(kVirtualTable[KEY_F18] == 79);
static_assert(kVirtualTable[KEY_KP1] != 79);

constexpr std::uint64_t kKeyboardPage = 0x7;

} // namespace

std::int64_t virtualKeyCode(std::uint16_t kernelCode) {
    if (kernelCode < kVirtualTable.size() && kVirtualTable[kernelCode] != kNone) {
        return kVirtualTable[kernelCode];
    }
    return kUnknownKeyBase + kernelCode;
}

int kernelCodeForHidUsage(std::uint64_t usage) {
    if ((usage >> 32) != kKeyboardPage) {
        return -1;
    }
    const std::uint64_t id = usage & 0xFFFFFFFFULL;
    if (id >= kHidTable.size()) {
        return -1;
    }
    return kHidTable[id];
}

} // namespace tarnell::input
