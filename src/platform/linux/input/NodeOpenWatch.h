#pragma once

#include <memory>
#include <string>

namespace tarnell::input {

// Tells when a device node is opened, by anyone (inotify's IN_OPEN on the node):
// the moment the desktop starts reading a new device.
class NodeOpenWatch {
public:
    // nullptr when the node cannot be watched.
    static std::unique_ptr<NodeOpenWatch> create(const std::string& path);
    ~NodeOpenWatch();
    NodeOpenWatch(const NodeOpenWatch&) = delete;
    NodeOpenWatch& operator=(const NodeOpenWatch&) = delete;

    // Readable when the node was opened.
    [[nodiscard]] int fd() const { return fd_; }
    // After fd() turned readable: whether the node was opened since the watch began.
    bool takeOpened();

private:
    explicit NodeOpenWatch(int fd) : fd_(fd) {}

    int fd_;
};

} // namespace tarnell::input
