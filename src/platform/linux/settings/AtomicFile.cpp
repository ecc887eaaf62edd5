#include "platform/linux/settings/AtomicFile.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnell::platform {
namespace {

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { close(); }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    bool close() {
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes a rename or a new entry in the directory durable.
bool syncDirectory(const std::filesystem::path& directory) {
    FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() && ::fsync(fd.get()) == 0;
}

std::filesystem::path parentOf(const std::filesystem::path& path) {
    auto parent = path.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Writes bytes to a file that must not exist yet.
bool writeNewFile(const std::filesystem::path& path, std::string_view bytes, bool& nameTaken) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        nameTaken = errno == EEXIST;
        return false;
    }
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.close()) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

} // namespace

FileContents readWholeFile(const std::filesystem::path& path) {
    FileContents contents;
    // Non-blocking, so that a FIFO in the file's place cannot hang the caller.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        contents.status =
            errno == ENOENT ? FileContents::Status::Missing : FileContents::Status::Failed;
        return contents;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return contents;
    }
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            contents.bytes.clear();
            return contents;
        }
        if (got == 0) {
            break;
        }
        contents.bytes.append(buffer.data(), static_cast<std::size_t>(got));
    }
    contents.status = FileContents::Status::Read;
    return contents;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    const auto directory = parentOf(path);
    std::string name = path.filename().string();
    name.insert(0, 1, '.');
    name.append(".tmp-XXXXXX");
    std::string temporary = (directory / name).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) {
        return false;
    }
    const bool written = writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    if (!fd.close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The new contents are in place; a failed directory flush only weakens
    // durability across a power loss.
    syncDirectory(directory);
    return true;
}

bool keepCopyAside(const std::filesystem::path& path) {
    const FileContents contents = readWholeFile(path);
    if (contents.status == FileContents::Status::Missing) {
        return true;
    }
    if (contents.status == FileContents::Status::Failed) {
        return false;
    }
    const std::string base = path.string() + ".unreadable-" + timestamp();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string side = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        bool nameTaken = false;
        if (writeNewFile(side, contents.bytes, nameTaken)) {
            return syncDirectory(parentOf(path));
        }
        if (!nameTaken) {
            return false;
        }
    }
    return false;
}

bool ensurePrivateDirectory(const std::filesystem::path& directory) {
    std::filesystem::path partial;
    for (const auto& component : directory) {
        partial /= component;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    struct stat status {};
    return ::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace tarnell::platform
