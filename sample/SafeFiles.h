#pragma once
// Opening and replacing files that a user names, where anything may sit under the name: a FIFO
// that would block an open, a device, a link, a read-only file.
//
// Reading opens without blocking and takes regular files only. Replacing writes a new file beside
// the target under a short temporary name (a long target name leaves room for it) and renames it
// over the target only once complete, so a failure leaves whatever was there whole. A symbolic link
// is followed: its final target is replaced and the link stays. A hard link to the old file keeps
// the old contents, as the new file is a new inode.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace cleavix::sample {

// What a refused or failed open, read or replace says, for logs and the command-line tool.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Whether something other than a regular file (a folder, FIFO, device or socket) exists under the
// name, following links.
bool isSpecialFile(const std::string& path);

// Opens a regular file for reading without blocking on a FIFO. Returns -1 with errno set (EINVAL
// for anything but a regular file).
int openRegularFile(const std::string& path);

// Reads a whole regular file of at most maxBytes. Throws FileError.
std::vector<uint8_t> readRegularFile(const std::string& path, uint64_t maxBytes);

// The file a save to path replaces: path itself, or the end of the chain of links it names.
// Throws FileError for a loop of links.
std::string saveTarget(const std::string& path);

// A new file beside a save target. The constructor checks the target (not a folder or special file,
// not read-only, writable) and creates the temporary file with the target's permissions; commit()
// syncs it and renames it over the target. Without commit() the destructor removes it. Throws
// FileError with the reason.
class ReplacingFile {
public:
    explicit ReplacingFile(const std::string& path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    int fd() const { return fd_; }
    const std::string& target() const { return target_; }
    // Writes all of count bytes at the current position.
    void write(const void* data, size_t count);
    void commit();

private:
    std::string target_;
    std::string temp_;
    int fd_ = -1;
};

} // namespace cleavix::sample
