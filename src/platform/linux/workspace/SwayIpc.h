#pragma once

#include <cstdint>
#include <glib-unix.h>
#include <glib.h>
#include <memory>
#include <string>
#include <string_view>

// Commands to sway over its IPC socket, sent without waiting for the answers (which
// are read and dropped in the event loop).
namespace tarnell::platform {

// One message in sway's framing: magic, payload length, message type, payload.
std::string swayIpcMessage(std::uint32_t type, std::string_view payload);

// Criteria matching the windows of one application ID exactly, or an empty text
// when the ID cannot be written into criteria safely.
std::string swayAppIdCriteria(std::string_view appId);

class SwayIpc {
public:
    // nullptr when the socket cannot be reached.
    static std::unique_ptr<SwayIpc> connect(const std::string& socketPath);
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    void runCommand(std::string_view command);

private:
    explicit SwayIpc(int fd);
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer self);

    int fd_;
    guint watch_ = 0;
};

} // namespace tarnell::platform
