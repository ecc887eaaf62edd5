#include "platform/linux/workspace/SwayWindows.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

namespace tarnell::platform {
namespace {

using Json = nlohmann::json;

constexpr std::string_view scratchpadWorkspace = "__i3_scratch";
// sway's trees are a few levels deep (outputs, workspaces, split containers); what
// sway sends is read within these bounds all the same.
constexpr int deepestTree = 128;
constexpr std::size_t mostWindows = 4096;

std::string textOf(const Json& node, const char* key) {
    const auto it = node.find(key);
    return it != node.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool flagOf(const Json& node, const char* key) {
    const auto it = node.find(key);
    return it != node.end() && it->is_boolean() && it->get<bool>();
}

std::int64_t idOf(const Json& node) {
    const auto it = node.find("id");
    return it != node.end() && it->is_number_integer() ? it->get<std::int64_t>() : -1;
}

std::string conCriteria(std::int64_t id) {
    return "[con_id=" + std::to_string(id) + "] ";
}

} // namespace

std::unique_ptr<SwayWindows> SwayWindows::connect(const std::string& socketPath,
                                                  const WindowIdentifier& identifier) {
    auto ipc = SwayIpc::connect(socketPath);
    if (!ipc) {
        return nullptr;
    }
    std::unique_ptr<SwayWindows> windows(new SwayWindows(std::move(ipc), identifier));
    // Subscribed before the tree is read, so that no change of focus falls in between.
    windows->ipc_->send(swayMessage::subscribe, R"(["window"])");
    windows->withCurrentTree({});
    return windows;
}

SwayWindows::SwayWindows(std::unique_ptr<SwayIpc> ipc, const WindowIdentifier& identifier)
    : ipc_(std::move(ipc)), identifier_(identifier) {
    ipc_->onEvent([this](std::uint32_t type, std::string_view payload) { onEvent(type, payload); });
}

void SwayWindows::onEvent(std::uint32_t type, std::string_view payload) {
    if (type != swayMessage::windowEvent) {
        return;
    }
    const auto event = Json::parse(payload, nullptr, false);
    if (!event.is_object()) {
        return;
    }
    if (textOf(event, "change") != "focus") {
        return;
    }
    if (const auto container = event.find("container");
        container != event.end() && idOf(*container) >= 0 &&
        (windows_.size() < mostWindows || windows_.contains(idOf(*container)))) {
        focused_ = idOf(*container);
        // A window newer than the tree read last is filled in by the next one.
        windows_[focused_].lastFocused = ++focusCount_;
    }
}

void SwayWindows::withCurrentTree(std::function<void()> action) {
    // sway may have changed its windows a moment ago without our having heard: its
    // events come on another socket than the window protocol's. It answers in order,
    // so the tree it sends now shows every change made so far. The request goes out
    // at once; nothing waits for the answer.
    auto request = std::make_shared<std::uint64_t>(0);
    *request = ipc_->send(swayMessage::getTree, {},
                          [this, request, action = std::move(action)](std::string_view payload) {
                              readTree(payload, *request);
                              if (action) {
                                  action();
                              }
                          });
}

void SwayWindows::readTree(std::string_view payload, std::uint64_t request) {
    const auto tree = Json::parse(payload, nullptr, false);
    if (tree.is_object()) {
        // Replies and events share one stream, in order: this tree shows every change
        // made before it arrived, and a window missing from it is gone.
        std::map<std::int64_t, Window> seen;
        const auto visit = [&](const auto& self, const Json& node, bool hidden, int depth) -> void {
            if (!node.is_object() || depth > deepestTree) {
                return;
            }
            const auto type = textOf(node, "type");
            if (type == "workspace" && textOf(node, "name") == scratchpadWorkspace) {
                hidden = true;
            }
            if (const auto id = idOf(node); node.contains("shell") && id >= 0) { // a window
                auto known = windows_.extract(id);
                Window window = known ? std::move(known.mapped()) : Window{};
                auto appId = textOf(node, "app_id");
                if (appId.empty()) {
                    if (const auto properties = node.find("window_properties");
                        properties != node.end() && properties->is_object()) {
                        appId = textOf(*properties, "class");
                    }
                }
                if (appId != window.appId || !known) {
                    window.appId = std::move(appId);
                    window.identity =
                        identifier_.identifyFromHints(WindowHints{window.appId, {}, {}, 0});
                }
                window.floating = type == "floating_con";
                window.hidden = hidden;
                if (window.hiddenByHide && !hidden && request > window.hideMessage) {
                    window.hiddenByHide = false; // shown again, by whatever means
                }
                if (flagOf(node, "focused")) {
                    focused_ = id;
                    if (window.lastFocused == 0) {
                        window.lastFocused = ++focusCount_;
                    }
                }
                if (seen.size() < mostWindows) {
                    seen.emplace(id, std::move(window));
                }
            }
            for (const char* children : {"nodes", "floating_nodes"}) {
                if (const auto it = node.find(children); it != node.end() && it->is_array()) {
                    for (const auto& child : *it) {
                        self(self, child, hidden, depth + 1);
                    }
                }
            }
        };
        visit(visit, tree, false, 0);
        windows_ = std::move(seen);
    }
}

void SwayWindows::reidentify() {
    for (auto& [id, window] : windows_) {
        window.identity = identifier_.identifyFromHints(WindowHints{window.appId, {}, {}, 0});
    }
}

void SwayWindows::hide(const std::optional<std::string>& identifier) {
    withCurrentTree([this, identifier] { hideNow(identifier); });
}

void SwayWindows::raise(const std::string& desktopId) {
    withCurrentTree([this, desktopId] { raiseNow(desktopId); });
}

void SwayWindows::hideNow(const std::optional<std::string>& identifier) {
    std::vector<std::pair<std::int64_t, Window*>> hiding;
    for (auto& [id, window] : windows_) {
        const bool own =
            identifier ? window.identity == identifier : id == focused_ && !window.identity;
        if (own && !window.hidden) {
            hiding.emplace_back(id, &window);
        }
    }
    if (hiding.empty()) {
        return;
    }
    // The focused window goes last: hidden before the others, it would hand the focus
    // to one of them, which would then count as the most recent.
    std::stable_partition(hiding.begin(), hiding.end(),
                          [this](const auto& entry) { return entry.first != focused_; });
    std::string command;
    for (const auto& [id, window] : hiding) {
        command += (command.empty() ? "" : "; ") + conCriteria(id) + "move scratchpad";
    }
    const auto message = ipc_->send(swayMessage::runCommand, command);
    for (auto& [id, window] : hiding) {
        window->hiddenByHide = true;
        window->tiledBeforeHide = !window->floating;
        window->hideMessage = message;
    }
}

void SwayWindows::raiseNow(const std::string& desktopId) {
    std::vector<std::pair<std::int64_t, Window*>> own;
    for (auto& [id, window] : windows_) {
        if (window.identity == desktopId) {
            own.emplace_back(id, &window);
        }
    }
    if (own.empty()) {
        return; // closed meanwhile
    }
    // Least recently focused first; among windows not focused lately, the older.
    std::stable_sort(own.begin(), own.end(), [](const auto& a, const auto& b) {
        return a.second->lastFocused < b.second->lastFocused;
    });
    // In front goes the most recent window that is shown or is coming back; one the
    // user put in the scratchpad comes out only when there is no other.
    const auto front = std::find_if(own.rbegin(), own.rend(), [](const auto& entry) {
        return entry.second->hiddenByHide || !entry.second->hidden;
    });
    const auto& [frontId, frontWindow] = front != own.rend() ? *front : own.back();
    // Focusing a window in the scratchpad shows it, floating; one that was tiled goes
    // back into the tiling.
    const auto restore = [](std::int64_t id, const Window& window) {
        return conCriteria(id) + "focus" +
               (window.hiddenByHide && window.tiledBeforeHide ? ", floating disable" : "");
    };
    std::string command;
    for (const auto& [id, window] : own) {
        if (window->hiddenByHide && id != frontId) {
            command += restore(id, *window) + "; ";
        }
    }
    command += restore(frontId, *frontWindow);
    for (auto& [id, window] : own) {
        window->hiddenByHide = false;
    }
    ipc_->send(swayMessage::runCommand, command);
}

} // namespace tarnell::platform
