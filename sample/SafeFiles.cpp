#include "sample/SafeFiles.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cleavix::sample {

namespace {

[[noreturn]] void failErrno(const std::string& what) { throw FileError(what + ": " + std::strerror(errno)); }

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool isSpecialFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

int openRegularFile(const std::string& path) {
    // O_NONBLOCK: an open of a FIFO would otherwise wait for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

std::vector<uint8_t> readRegularFile(const std::string& path, uint64_t maxBytes) {
    const int fd = openRegularFile(path);
    if (fd < 0) {
        failErrno(errno == EINVAL ? "Not a regular file " + path : "Cannot open " + path);
    }
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            failErrno("Cannot read " + path);
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + size_t(n) > maxBytes) {
            ::close(fd);
            throw FileError("The file is too large: " + path);
        }
        bytes.insert(bytes.end(), block, block + n);
    }
    ::close(fd);
    return bytes;
}

std::string saveTarget(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n < 0) {
            failErrno("Cannot follow the link " + current);
        }
        const std::string next(buffer, size_t(n));
        current = next.front() == '/' ? next : directoryOf(current) + "/" + next;
    }
    throw FileError("Too many levels of links: " + path);
}

ReplacingFile::ReplacingFile(const std::string& path) : target_(saveTarget(path)) {
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        throw FileError("The target is a folder");
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // A rename over a FIFO or device would only replace the name and write nowhere useful.
        throw FileError("The target is not a regular file (a pipe, device or socket)");
    }
    if (exists && (existing.st_mode & 0222) == 0) {
        throw FileError("The target is read-only");
    }
    if (exists && ::access(target_.c_str(), W_OK) != 0) {
        failErrno("The target cannot be written");
    }
    // Short, so that a target name near the system's limit still leaves room for it.
    std::string pattern = directoryOf(target_) + "/.cx-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        failErrno("Cannot create the file");
    }
    temp_ = name.data();
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
}

ReplacingFile::~ReplacingFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
    }
}

void ReplacingFile::write(const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        const ssize_t n = ::write(fd_, p, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failErrno("Cannot write");
        }
        p += n;
        count -= size_t(n);
    }
}

void ReplacingFile::commit() {
    if (::fsync(fd_) != 0 && errno != EINVAL) {
        failErrno("Cannot write");
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        failErrno("Cannot write");
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        failErrno("Cannot replace the file");
    }
    temp_.clear();
}

} // namespace cleavix::sample
