#include "platform/linux/settings/AtomicFile.h"

#include "platform/linux/diagnostics/Diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnell::platform {
namespace {

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { close(); }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    void reset(int fd) {
        close();
        fd_ = fd;
    }
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

struct FreeMemory {
    void operator()(void* memory) const { std::free(memory); }
};
struct CloseDirectory {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// A temporary file is named ".<target name>.tmp-" followed by mkstemp's six letters
// and digits.
constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr std::string_view kTemporaryRandom = "XXXXXX";

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

// Reads at most `limit` bytes more into `bytes`; false on a read error.
bool readUpTo(int fd, std::string& bytes, std::size_t limit) {
    std::vector<char> buffer(64 * 1024);
    while (limit > 0) {
        const ssize_t got = ::read(fd, buffer.data(), std::min(buffer.size(), limit));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer.data(), static_cast<std::size_t>(got));
        limit -= static_cast<std::size_t>(got);
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

// Opens the path for reading when it is (or a symbolic link leads to) a regular file.
// The type is looked at before opening, since opening a FIFO can block and opening a
// device can set it going, and again after, in case the path changed in between.
FileContents::Status openRegularFile(const std::filesystem::path& path, FileDescriptor& fd,
                                     struct stat& status) {
    if (::stat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            return FileContents::Status::Failed; // a link loop among others
        }
        // A symbolic link that leads nowhere is something all the same.
        struct stat link {};
        return ::lstat(path.c_str(), &link) == 0 ? FileContents::Status::Failed
                                                 : FileContents::Status::Missing;
    }
    if (!S_ISREG(status.st_mode)) {
        return FileContents::Status::Failed;
    }
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return FileContents::Status::Failed;
    }
    return FileContents::Status::Read;
}

// Where a write of the path goes: the path itself, or the regular file that a symbolic
// link there finally names (relative links resolve from their own directory), so that
// the link stays in place. Nullopt when the path holds something that must not be
// replaced: a link that leads nowhere or in a loop, or anything but a regular file.
std::optional<std::filesystem::path> writeTarget(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return errno == ENOENT ? std::optional(path) : std::nullopt;
    }
    if (S_ISREG(status.st_mode)) {
        return path;
    }
    if (!S_ISLNK(status.st_mode)) {
        return std::nullopt;
    }
    const std::unique_ptr<char, FreeMemory> resolved(::realpath(path.c_str(), nullptr));
    if (!resolved || ::stat(resolved.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return std::filesystem::path(resolved.get());
}

// The target file name of a temporary file's name, or empty when it is none.
std::string_view temporaryTarget(std::string_view name) {
    const std::size_t fixed = 1 + kTemporaryMarker.size() + kTemporaryRandom.size();
    if (name.size() <= fixed || name.front() != '.') {
        return {};
    }
    const auto random = name.substr(name.size() - kTemporaryRandom.size());
    const bool letterOrDigit = std::all_of(random.begin(), random.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
    auto target = name.substr(1, name.size() - fixed + kTemporaryMarker.size());
    if (!letterOrDigit || !target.ends_with(kTemporaryMarker)) {
        return {};
    }
    target.remove_suffix(kTemporaryMarker.size());
    return target;
}

// Copies the rest of one file into another.
bool copyAll(int from, int to) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        if (!writeAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            return false;
        }
    }
}

} // namespace

FileContents readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    FileContents contents;
    FileDescriptor fd;
    struct stat status {};
    contents.status = openRegularFile(path, fd, status);
    if (contents.status != FileContents::Status::Read) {
        return contents;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
        contents.status = FileContents::Status::TooLarge;
        return contents;
    }
    if (!readUpTo(fd.get(), contents.bytes, maxBytes + 1)) {
        contents.status = FileContents::Status::Failed;
        contents.bytes.clear();
    } else if (contents.bytes.size() > maxBytes) { // it grew while being read
        contents.status = FileContents::Status::TooLarge;
        contents.bytes.clear();
    }
    return contents;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    const auto target = writeTarget(path);
    if (!target) {
        return false;
    }
    const auto directory = parentOf(*target);
    std::string name = target->filename().string();
    name.insert(0, 1, '.');
    name.append(kTemporaryMarker);
    name.append(kTemporaryRandom);
    std::string temporary = (directory / name).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) {
        return false;
    }
    const bool written = writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    if (!fd.close() || !written || ::rename(temporary.c_str(), target->c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The new contents are in place; a failed directory flush only weakens
    // durability across a power loss.
    syncDirectory(directory);
    return true;
}

void removeStaleTemporaries(const std::filesystem::path& directory,
                            const std::function<bool(std::string_view fileName)>& isOwnFile) {
    // A temporary is stale once nothing has been written to it for ten minutes. A write
    // holds its temporary only while it writes and flushes a few kilobytes, so a younger
    // one may belong to a write that another Tarnell of the same user (another session,
    // or one started by hand) is making right now. Asking whether a process holds it
    // open would not do: a write closes its temporary just before renaming it into
    // place. Should a wrong clock mislead the rule, the cost is one failed write of that
    // other process, whose file stays whole.
    constexpr std::time_t kStaleAfterSeconds = 10 * 60;
    const std::unique_ptr<DIR, CloseDirectory> entries(::opendir(directory.c_str()));
    if (!entries) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::string_view name = entry->d_name;
        const auto target = temporaryTarget(name);
        if (target.empty() || !isOwnFile(target)) {
            continue;
        }
        struct stat status {};
        if (::fstatat(::dirfd(entries.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && now - status.st_mtime >= kStaleAfterSeconds) {
            ::unlinkat(::dirfd(entries.get()), entry->d_name, 0);
        }
    }
}

bool keepCopyAside(const std::filesystem::path& path) {
    FileDescriptor source;
    struct stat status {};
    switch (openRegularFile(path, source, status)) {
    case FileContents::Status::Missing:
        return true;
    case FileContents::Status::Read:
        break;
    default:
        return false;
    }
    const std::string base = path.string() + ".unreadable-" + timestamp();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string side = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        FileDescriptor copy(::open(side.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!copy.valid()) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        // Copied piece by piece: a file too large to be read in may still be kept.
        if (!copyAll(source.get(), copy.get()) || ::fsync(copy.get()) != 0 || !copy.close()) {
            ::unlink(side.c_str());
            return false;
        }
        diagnose("settings: the unreadable %s was kept as %s", path.c_str(), side.c_str());
        return syncDirectory(parentOf(path));
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
