#include "platform/linux/workspace/SwayIpc.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnell::platform {
namespace {

constexpr std::string_view magic = "i3-ipc";
constexpr std::size_t headerSize = magic.size() + 2 * sizeof(std::uint32_t);
constexpr std::uint32_t eventBit = 0x80000000;
// A tree with a few hundred windows is well below this.
constexpr std::uint32_t largestPayload = 64 * 1024 * 1024;

void appendNative(std::string& out, std::uint32_t value) {
    char bytes[sizeof(value)];
    std::memcpy(bytes, &value, sizeof(value));
    out.append(bytes, sizeof(bytes));
}

std::uint32_t readNative(const char* bytes) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

} // namespace

std::string swayIpcMessage(std::uint32_t type, std::string_view payload) {
    std::string message(magic);
    appendNative(message, static_cast<std::uint32_t>(payload.size()));
    appendNative(message, type);
    message.append(payload);
    return message;
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
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SwayIpc>(new SwayIpc(fd));
}

SwayIpc::SwayIpc(int fd) : fd_(fd) {
    watch_ = g_unix_fd_add(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                           &SwayIpc::onReadable, this);
}

SwayIpc::~SwayIpc() {
    close();
}

void SwayIpc::close() {
    if (watch_ != 0) {
        g_source_remove(watch_);
        watch_ = 0;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    awaiting_.clear();
}

gboolean SwayIpc::onReadable(gint fd, GIOCondition, gpointer data) {
    auto* self = static_cast<SwayIpc*>(data);
    std::array<char, 16384> buffer;
    for (;;) {
        const auto count = read(fd, buffer.data(), buffer.size());
        if (count > 0) {
            self->received_.append(buffer.data(), static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        const bool open = count < 0 && errno == EAGAIN;
        if (!self->dispatch() || !open) {
            self->watch_ = 0; // removed by returning so
            self->close();
            return G_SOURCE_REMOVE;
        }
        return G_SOURCE_CONTINUE;
    }
}

bool SwayIpc::dispatch() {
    std::size_t at = 0;
    while (received_.size() - at >= headerSize) {
        const char* header = received_.data() + at;
        const auto length = readNative(header + magic.size());
        const auto type = readNative(header + magic.size() + sizeof(std::uint32_t));
        if (std::string_view(header, magic.size()) != magic || length > largestPayload) {
            return false;
        }
        if (received_.size() - at - headerSize < length) {
            break; // the rest is still on its way
        }
        // Copied out: a handler may send, and so change what is kept here.
        const std::string payload(header + headerSize, length);
        at += headerSize + length;
        if ((type & eventBit) != 0) {
            if (onEvent_) {
                onEvent_(type, payload);
            }
        } else if (!awaiting_.empty()) {
            auto reply = std::move(awaiting_.front());
            awaiting_.pop_front();
            if (reply) {
                reply(payload);
            }
        }
    }
    received_.erase(0, at);
    return true;
}

std::uint64_t SwayIpc::send(std::uint32_t type, std::string_view payload, Reply onReply) {
    if (fd_ < 0) {
        return 0;
    }
    const auto message = swayIpcMessage(type, payload);
    // Messages are small; a socket that cannot take one whole has stopped reading, and
    // a message cut short would garble every later one.
    const auto written = ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written != static_cast<ssize_t>(message.size())) {
        close();
        return 0;
    }
    awaiting_.push_back(std::move(onReply));
    return ++sent_;
}

} // namespace tarnell::platform
