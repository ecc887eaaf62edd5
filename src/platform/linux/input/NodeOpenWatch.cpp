#include "platform/linux/input/NodeOpenWatch.h"

#include <array>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace tarnell::input {

std::unique_ptr<NodeOpenWatch> NodeOpenWatch::create(const std::string& path) {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    if (::inotify_add_watch(fd, path.c_str(), IN_OPEN) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<NodeOpenWatch>(new NodeOpenWatch(fd));
}

NodeOpenWatch::~NodeOpenWatch() {
    ::close(fd_);
}

bool NodeOpenWatch::takeOpened() {
    alignas(inotify_event) std::array<char, 4096> buffer{};
    bool opened = false;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got <= 0) {
            return opened;
        }
        for (ssize_t offset = 0; offset < got;) {
            inotify_event event{};
            std::memcpy(&event, buffer.data() + offset, sizeof(event));
            opened = opened || (event.mask & IN_OPEN) != 0;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
}

} // namespace tarnell::input
