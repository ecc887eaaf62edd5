#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tarnell::platform {

// The outcome of reading a whole file: a missing file is not a failure. Only regular
// files are read, following symbolic links; anything else at the path (a directory,
// FIFO, device or socket, a link that leads nowhere or in a loop) is Failed, found
// without blocking and without opening it. A regular file larger than the limit is
// TooLarge, and none of its bytes are read.
struct FileContents {
    enum class Status { Read, Missing, Failed, TooLarge };
    Status status = Status::Failed;
    std::string bytes;
};

FileContents readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// Replaces the file's contents so that a reader, or the file after a crash or
// power loss, holds either the old bytes or the new ones and never a mix: a
// temporary file ".<name>.tmp-XXXXXX" in the same directory is written, flushed to
// disk and renamed over the target, then the directory is flushed. When the path is
// a symbolic link, the file it finally names is replaced that way and the link stays.
// Only a regular file or nothing is replaced: a link that leads nowhere, a directory,
// FIFO or device is left as it is. Returns false on any failure, leaving the old file
// as it was and no temporary file behind.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Removes from the directory the temporary files of writes that were cut short (the
// process killed, the machine stopped) for the file names that `isOwnFile` accepts,
// once they are old enough that no write can still be under way.
void removeStaleTemporaries(const std::filesystem::path& directory,
                            const std::function<bool(std::string_view fileName)>& isOwnFile);

// Copies the file's current bytes to a new side file next to it, named
// "<name>.unreadable-YYYYMMDD-HHMMSS" (with "-2", "-3", ... appended when that
// name is taken; an existing file is never overwritten). True when the copy is
// safely on disk or when there is no file to copy; false when what is at the path
// cannot be read.
bool keepCopyAside(const std::filesystem::path& path);

// Creates the directory and any missing parents, each with mode 0700.
bool ensurePrivateDirectory(const std::filesystem::path& directory);

} // namespace tarnell::platform
