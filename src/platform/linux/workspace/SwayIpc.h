#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <glib-unix.h>
#include <glib.h>
#include <memory>
#include <string>
#include <string_view>

// sway's IPC socket. Messages are sent without waiting; their replies, which sway
// sends in the order the messages came, and the events subscribed to are read in the
// event loop.
namespace tarnell::platform {

namespace swayMessage {
constexpr std::uint32_t runCommand = 0;
constexpr std::uint32_t subscribe = 2;
constexpr std::uint32_t getTree = 4;
constexpr std::uint32_t windowEvent = 0x80000003;
} // namespace swayMessage

// One message in sway's framing: magic, payload length, message type, payload.
std::string swayIpcMessage(std::uint32_t type, std::string_view payload);

class SwayIpc {
public:
    using Reply = std::function<void(std::string_view payload)>;
    using Event = std::function<void(std::uint32_t type, std::string_view payload)>;

    // nullptr when the socket cannot be reached.
    static std::unique_ptr<SwayIpc> connect(const std::string& socketPath);
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    // Sends a message and returns its number, counting from 1; `onReply` is called
    // with sway's answer. Messages that cannot be sent are dropped.
    std::uint64_t send(std::uint32_t type, std::string_view payload, Reply onReply = {});
    // Called for every event of the subscribed kinds.
    void onEvent(Event handler) { onEvent_ = std::move(handler); }

private:
    explicit SwayIpc(int fd);
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer self);
    // False when the stream no longer makes sense.
    bool dispatch();
    void close();

    int fd_;
    guint watch_ = 0;
    std::uint64_t sent_ = 0;
    std::deque<Reply> awaiting_;
    std::string received_;
    Event onEvent_;
};

} // namespace tarnell::platform
