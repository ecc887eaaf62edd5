#include "engine/HyperDecision.h"

#include "bindings/BindingStore.h"

#include <unicode/ustring.h>

namespace tarnell::engine {

KeyText keyCharacter(const KeyEvent& event) {
    KeyText text;
    std::array<char16_t, KeyText::kMaxUnits> units{};
    const int length = event.unicodeString(units.data(), KeyText::kMaxUnits);
    if (length <= 0) {
        return text;
    }
    const int32_t unitCount = length < KeyText::kMaxUnits ? length : KeyText::kMaxUnits;

    // Full lowercase mapping of the root locale: the same result whatever the
    // user's language. Four code units grow to at most twelve.
    std::array<UChar, 3 * KeyText::kMaxUnits> lowered{};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t loweredLength = u_strToLower(lowered.data(), static_cast<int32_t>(lowered.size()),
                                               units.data(), unitCount, "", &status);
    if (U_FAILURE(status) || loweredLength <= 0) {
        return text;
    }

    int32_t byteLength = 0;
    status = U_ZERO_ERROR;
    // Unpaired surrogates become U+FFFD rather than failing the conversion.
    u_strToUTF8WithSub(text.bytes_.data(), static_cast<int32_t>(text.bytes_.size()), &byteLength,
                       lowered.data(), loweredLength, 0xFFFD, nullptr, &status);
    if (U_FAILURE(status) || byteLength <= 0) {
        return text;
    }
    text.length_ = static_cast<std::size_t>(byteLength);
    return text;
}

namespace {

bool isFreshKeyDown(std::uint32_t type, std::int64_t autorepeat) {
    return type == kEventKeyDown && autorepeat == 0;
}

} // namespace

Decision decideEvent(HyperState& state, std::uint32_t type, KeyEvent& event,
                     const DecisionContext& context) {
    if (type == kEventTapDisabledByTimeout || type == kEventTapDisabledByUserInput) {
        return {EventOutcome::pass, {HyperAction::Kind::reenableTap, {}}};
    }
    if (type != kEventKeyDown && type != kEventKeyUp) {
        return {};
    }

    const std::int64_t autorepeat = event.integerValueField(kFieldAutorepeat);
    const std::int64_t keycode = event.integerValueField(kFieldKeycode);

    if (keycode == kHyperTriggerKeyCode) {
        if (type == kEventKeyDown) {
            if (autorepeat == 0) {
                state.isHyperDown = true;
                state.wasHyperUsed = false;
            }
            return {EventOutcome::swallow, {}};
        }
        state.isHyperDown = false;
        if (!state.wasHyperUsed && context.store.quickTapTogglesCapsLock()) {
            return {EventOutcome::swallow, {HyperAction::Kind::toggleCapsLock, {}}};
        }
        return {EventOutcome::swallow, {}};
    }

    // The path of almost every key: no text, no store, no state change.
    if (!state.isHyperDown) {
        return {};
    }

    state.wasHyperUsed = true;

    const KeyText text = keyCharacter(event);
    if (text.empty()) {
        event.setFlags(event.flags() | kHyperModifierMask);
        return {EventOutcome::passWithHyperFlags, {}};
    }

    if (text.utf8() == kSettingsKey) {
        if (isFreshKeyDown(type, autorepeat) && context.hasOnOpenSettings) {
            return {EventOutcome::swallow, {HyperAction::Kind::openSettings, {}}};
        }
        return {EventOutcome::swallow, {}};
    }

    const AppBinding* binding = context.store.bindingForKey(text.utf8());
    if (binding == nullptr) {
        event.setFlags(event.flags() | kHyperModifierMask);
        return {EventOutcome::passWithHyperFlags, {}};
    }
    if (isFreshKeyDown(type, autorepeat)) {
        return {EventOutcome::swallow, {HyperAction::Kind::activateApp, binding->appURL}};
    }
    return {EventOutcome::swallow, {}};
}

} // namespace tarnell::engine
