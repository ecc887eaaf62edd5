#include "platform/linux/workspace/SwayIpc.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnell::platform {
namespace {

constexpr std::string_view magic = "i3-ipc";

void appendNative(std::string& out, std::uint32_t value) {
    char bytes[sizeof(value)];
    std::memcpy(bytes, &value, sizeof(value));
    out.append(bytes, sizeof(bytes));
}

} // namespace

std::string swayIpcMessage(std::uint32_t type, std::string_view payload) {
    std::string message(magic);
    appendNative(message, static_cast<std::uint32_t>(payload.size()));
    appendNative(message, type);
    message.append(payload);
    return message;
}

std::string swayAppIdCriteria(std::string_view appId) {
    const bool safe = !appId.empty() && std::all_of(appId.begin(), appId.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_';
    });
    if (!safe) {
        return {};
    }
    // The value is a regular expression; a '.' in it also matches itself.
    return "[app_id=\"^" + std::string(appId) + "$\"]";
}

std::unique_ptr<SwayIpc> SwayIpc::connect(const std::string& socketPath) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) {
        return nullptr;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return nullptr;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SwayIpc>(new SwayIpc(fd));
}

SwayIpc::SwayIpc(int fd) : fd_(fd) {
    watch_ = g_unix_fd_add(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                           &SwayIpc::onReadable, this);
}

SwayIpc::~SwayIpc() {
    if (watch_ != 0) {
        g_source_remove(watch_);
    }
    close(fd_);
}

gboolean SwayIpc::onReadable(gint fd, GIOCondition, gpointer data) {
    // The answers only say whether each command matched something: drop them.
    std::array<char, 4096> buffer;
    for (;;) {
        const auto count = read(fd, buffer.data(), buffer.size());
        if (count > 0) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return G_SOURCE_CONTINUE;
        }
        static_cast<SwayIpc*>(data)->watch_ = 0;
        return G_SOURCE_REMOVE;
    }
}

void SwayIpc::runCommand(std::string_view command) {
    constexpr std::uint32_t runCommandType = 0;
    const auto message = swayIpcMessage(runCommandType, command);
    // Commands are small; a socket that cannot take one at once has stopped reading.
    (void)send(fd_, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace tarnell::platform
