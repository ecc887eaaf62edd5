#include "platform/linux/layout/SwayKeyboardLayout.h"

#include "platform/linux/input/VirtualKeyboardIdentity.h"
#include "platform/linux/layout/LayoutDescriptions.h"
#include "platform/linux/workspace/SwayIpc.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace tarnell::layout {
namespace {

using Json = nlohmann::json;

constexpr std::uint32_t kGetInputs = 100;
constexpr std::uint32_t kInputEvent = 0x80000015;

// What another process sends is bounded before it is kept.
constexpr std::size_t kMostKeyboards = 64;
constexpr std::size_t kMostLayouts = 32;
constexpr std::size_t kLongestText = 256;
constexpr std::size_t kMostDescriptions = 32;

std::optional<std::string> textOf(const Json& node, const char* key) {
    const auto it = node.find(key);
    if (it == node.end() || !it->is_string()) {
        return std::nullopt;
    }
    const auto& text = it->get_ref<const std::string&>();
    if (text.empty() || text.size() > kLongestText) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::int64_t> integerOf(const Json& node, const char* key) {
    const auto it = node.find(key);
    if (it == node.end() || !it->is_number_integer()) {
        return std::nullopt;
    }
    return it->get<std::int64_t>();
}

std::optional<SwayKeyboard> keyboardOf(const Json& input) {
    if (!input.is_object() || textOf(input, "type") != "keyboard") {
        return std::nullopt;
    }
    SwayKeyboard keyboard;
    auto identifier = textOf(input, "identifier");
    const auto names = input.find("xkb_layout_names");
    const auto active = integerOf(input, "xkb_active_layout_index");
    if (!identifier || names == input.end() || !names->is_array() || names->empty() ||
        names->size() > kMostLayouts || !active || *active < 0 ||
        static_cast<std::size_t>(*active) >= names->size()) {
        return std::nullopt;
    }
    keyboard.identifier = std::move(*identifier);
    for (const auto& name : *names) {
        if (!name.is_string() || name.get_ref<const std::string&>().size() > kLongestText) {
            return std::nullopt;
        }
        keyboard.layoutNames.push_back(name.get<std::string>());
    }
    keyboard.activeLayout = static_cast<std::uint32_t>(*active);
    keyboard.tarnells = integerOf(input, "vendor") == input::kVirtualVendor &&
                        integerOf(input, "product") == input::kVirtualProduct;
    return keyboard;
}

} // namespace

std::vector<SwayKeyboard> swayKeyboards(std::string_view reply) {
    std::vector<SwayKeyboard> keyboards;
    const auto inputs = Json::parse(reply, nullptr, false);
    if (!inputs.is_array()) {
        return keyboards;
    }
    for (const auto& input : inputs) {
        if (keyboards.size() == kMostKeyboards) {
            break;
        }
        if (auto keyboard = keyboardOf(input)) {
            keyboards.push_back(std::move(*keyboard));
        }
    }
    return keyboards;
}

std::optional<SwayInputChange> swayInputChange(std::string_view event) {
    const auto parsed = Json::parse(event, nullptr, false);
    if (!parsed.is_object()) {
        return std::nullopt;
    }
    const auto input = parsed.find("input");
    auto change = textOf(parsed, "change");
    if (!change || input == parsed.end() || !input->is_object()) {
        return std::nullopt;
    }
    auto identifier = textOf(*input, "identifier");
    if (!identifier) {
        return std::nullopt;
    }
    return SwayInputChange{std::move(*change), std::move(*identifier), keyboardOf(*input)};
}

std::unique_ptr<SwayKeyboardLayout> SwayKeyboardLayout::connect(const std::string& socketPath) {
    auto ipc = platform::SwayIpc::connect(socketPath);
    if (!ipc) {
        return nullptr;
    }
    std::unique_ptr<SwayKeyboardLayout> layout(new SwayKeyboardLayout(std::move(ipc)));
    auto* self = layout.get();
    // Subscribed before the list is asked for: sway answers in order, so the list
    // shows every change that an event before it told.
    self->ipc_->send(platform::swayMessage::subscribe, R"(["input"])");
    self->ipc_->send(kGetInputs, {}, [self](std::string_view reply) {
        self->keyboards_ = swayKeyboards(reply);
        self->follow();
    });
    return layout;
}

SwayKeyboardLayout::SwayKeyboardLayout(std::unique_ptr<platform::SwayIpc> ipc)
    : ipc_(std::move(ipc)) {
    ipc_->onEvent([this](std::uint32_t type, std::string_view payload) { onEvent(type, payload); });
}

SwayKeyboardLayout::~SwayKeyboardLayout() = default;

void SwayKeyboardLayout::onEvent(std::uint32_t type, std::string_view payload) {
    if (type != kInputEvent) {
        return;
    }
    auto change = swayInputChange(payload);
    if (!change) {
        return;
    }
    const auto known =
        std::find_if(keyboards_.begin(), keyboards_.end(), [&](const SwayKeyboard& keyboard) {
            return keyboard.identifier == change->identifier;
        });
    if (change->change == "removed" || !change->keyboard) {
        if (known != keyboards_.end()) {
            keyboards_.erase(known);
        }
    } else if (known != keyboards_.end()) {
        *known = std::move(*change->keyboard);
    } else if (keyboards_.size() < kMostKeyboards) {
        keyboards_.push_back(std::move(*change->keyboard));
    }
    follow();
}

void SwayKeyboardLayout::follow() {
    if (keyboards_.empty()) {
        return;
    }
    const auto own = std::find_if(keyboards_.begin(), keyboards_.end(),
                                  [](const SwayKeyboard& keyboard) { return keyboard.tarnells; });
    const SwayKeyboard& keyboard = own != keyboards_.end() ? *own : keyboards_.front();
    const std::string& description = keyboard.layoutNames[keyboard.activeLayout];
    auto known = described_.find(description);
    if (known == described_.end()) {
        if (described_.size() == kMostDescriptions) {
            described_.clear();
        }
        known = described_.emplace(description, xkbNamesDescribedAs(description)).first;
    }
    // The active layout alone types the same text as the whole keymap with it active.
    if (known->second) {
        publishNames(*known->second, 0);
    }
}

} // namespace tarnell::layout
