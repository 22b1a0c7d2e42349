#include "sample/FileAndMemoryStream.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace cleavix::sample {

namespace {

std::string errnoText(const std::string& what, const std::string& name) {
    return what + " " + name + ": " + std::strerror(errno);
}

int openFlags(uint16_t mode) {
    if (mode == TFileAndMemoryStream::fmCreate) {
        return O_RDWR | O_CREAT | O_TRUNC;
    }
    switch (mode & 0x3) {
    case 0:
        return O_RDONLY;
    case 1:
        return O_WRONLY;
    default:
        return O_RDWR;
    }
}

std::atomic<uint64_t> lastChange{0};

constexpr int64_t kNoLimit = -1;
std::atomic<int64_t> freeSpace{kNoLimit};

int64_t fileSize(int fd) {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

} // namespace

void setFreeSpaceForTesting(int64_t bytes) { freeSpace = bytes < 0 ? kNoLimit : bytes; }

int64_t freeSpaceForTesting() { return freeSpace.load(); }

int64_t TFileAndMemoryStream::claimSpace(int64_t end) {
    if (end <= allocated_) {
        return end;
    }
    int64_t left = freeSpace.load();
    for (;;) {
        if (left < 0) {
            allocated_ = end;
            return end;
        }
        const int64_t take = std::min(left, end - allocated_);
        if (freeSpace.compare_exchange_weak(left, left - take)) {
            allocated_ += take;
            return allocated_;
        }
    }
}

void TFileAndMemoryStream::returnSpace(int64_t newSize) {
    if (newSize >= allocated_) {
        return;
    }
    const int64_t back = allocated_ - std::max<int64_t>(0, newSize);
    allocated_ = std::max<int64_t>(0, newSize);
    int64_t left = freeSpace.load();
    while (left >= 0 && !freeSpace.compare_exchange_weak(left, left + back)) {
    }
}

void TFileAndMemoryStream::changed() { changes_ = ++lastChange; }

TFileAndMemoryStream::TFileAndMemoryStream() : changes_(++lastChange) {}

TFileAndMemoryStream::TFileAndMemoryStream(uint16_t openMode, const std::string& fileName)
    : memoryBacked_(false), openMode_(openMode), fileName_(fileName), changes_(++lastChange) {
    fd_ = ::open(fileName.c_str(), openFlags(openMode) | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        throw StreamError(errnoText("Cannot open", fileName));
    }
    allocated_ = fileSize(fd_);
}

TFileAndMemoryStream::TFileAndMemoryStream(int fd, const std::string& fileName)
    : memoryBacked_(false), openMode_(fmCreate), fd_(fd), fileName_(fileName), changes_(++lastChange),
      allocated_(fileSize(fd)) {}

TFileAndMemoryStream::TFileAndMemoryStream(TFileAndMemoryStream&& other) noexcept
    : memoryBacked_(other.memoryBacked_), openMode_(other.openMode_), recordedSize_(other.recordedSize_),
      fd_(other.fd_), fileName_(std::move(other.fileName_)), memory_(std::move(other.memory_)),
      position_(other.position_), changes_(other.changes_), allocated_(other.allocated_) {
    other.fd_ = -1;
    other.allocated_ = 0;
    other.memoryBacked_ = false;
    other.position_ = 0;
    other.changed();
}

TFileAndMemoryStream::~TFileAndMemoryStream() { releaseBacking(); }

size_t TFileAndMemoryStream::readAt(uint64_t offset, void* buffer, size_t count) const {
    if (count == 0) {
        return 0;
    }
    if (memoryBacked_) {
        if (offset >= memory_.size()) {
            return 0;
        }
        const size_t n = std::min<uint64_t>(count, memory_.size() - offset);
        std::memcpy(buffer, memory_.data() + offset, n);
        return n;
    }
    if (fd_ < 0) {
        return 0;
    }
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw StreamError(errnoText("Cannot read", fileName_));
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

void TFileAndMemoryStream::writeAllAt(uint64_t offset, const void* buffer, size_t count) {
    changed();
    if (count == 0) {
        return;
    }
    if (memoryBacked_) {
        if (offset + count > memory_.size()) {
            memory_.resize(offset + count);
        }
        std::memcpy(memory_.data() + offset, buffer, count);
        return;
    }
    if (fd_ < 0) {
        throw StreamError("No file to write to");
    }
    const int64_t end = static_cast<int64_t>(offset + count);
    const int64_t room = claimSpace(end);
    if (room < end) {
        // The disk fills up part way: what fits is written, as write() would.
        const size_t fits = room > static_cast<int64_t>(offset) ? static_cast<size_t>(room - int64_t(offset)) : 0;
        if (fits > 0) {
            writeAllAt(offset, buffer, fits);
        }
        errno = ENOSPC;
        throw StreamError(errnoText("Cannot write", fileName_));
    }
    size_t done = 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw StreamError(errnoText("Cannot write", fileName_));
        }
        if (n == 0) {
            throw StreamError("Cannot write " + fileName_ + ": no space left");
        }
        done += static_cast<size_t>(n);
    }
}

size_t TFileAndMemoryStream::read(void* buffer, size_t count) {
    const size_t n = readAt(static_cast<uint64_t>(position_), buffer, count);
    position_ += static_cast<int64_t>(n);
    return n;
}

size_t TFileAndMemoryStream::write(const void* buffer, size_t count) {
    try {
        writeAllAt(static_cast<uint64_t>(position_), buffer, count);
    } catch (const StreamError&) {
        return 0;
    }
    position_ += static_cast<int64_t>(count);
    return count;
}

void TFileAndMemoryStream::readExact(void* buffer, size_t count) {
    if (read(buffer, count) != count) {
        throw StreamError("Unexpected end of " + (fileName_.empty() ? std::string("stream") : fileName_));
    }
}

void TFileAndMemoryStream::writeAll(const void* buffer, size_t count) {
    writeAllAt(static_cast<uint64_t>(position_), buffer, count);
    position_ += static_cast<int64_t>(count);
}

int64_t TFileAndMemoryStream::seek(int64_t offset, Origin origin) {
    int64_t base = 0;
    switch (origin) {
    case Origin::Begin:
        base = 0;
        break;
    case Origin::Current:
        base = position_;
        break;
    case Origin::End:
        base = size();
        break;
    }
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
}

void TFileAndMemoryStream::setSizeOnly(int64_t newSize) {
    changed();
    newSize = std::max<int64_t>(0, newSize);
    if (memoryBacked_) {
        memory_.resize(static_cast<size_t>(newSize));
    } else if (fd_ >= 0) {
        const int64_t old = fileSize(fd_);
        if (newSize > old) {
            growFile(old, newSize);
        } else {
            if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) {
                throw StreamError(errnoText("Cannot resize", fileName_));
            }
            returnSpace(newSize);
        }
    }
    if (position_ > newSize) {
        position_ = newSize;
    }
}

void TFileAndMemoryStream::growFile(int64_t old, int64_t newSize) {
    // The blocks are taken now rather than at the first write into them, so that a full disk
    // refuses the growth itself and not a write half way through moving the data.
    if (claimSpace(newSize) < newSize) {
        returnSpace(old);
        errno = ENOSPC;
        throw StreamError(errnoText("Cannot resize", fileName_));
    }
    if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) {
        const int error = errno;
        returnSpace(old);
        errno = error;
        throw StreamError(errnoText("Cannot resize", fileName_));
    }
    if (::fallocate(fd_, 0, static_cast<off_t>(old), static_cast<off_t>(newSize - old)) != 0 &&
        (errno == ENOSPC || errno == EFBIG || errno == EDQUOT)) {
        const int error = errno;
        (void)::ftruncate(fd_, static_cast<off_t>(old));
        returnSpace(old);
        errno = error;
        throw StreamError(errnoText("Cannot resize", fileName_));
    }
}

void TFileAndMemoryStream::reserveSpace(int64_t size) {
    if (!memoryBacked_ && fd_ >= 0 && size > 0) {
        // Best effort: a file system without it, or a full disk, shows up in the writes as before.
        (void)::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
    }
}

void TFileAndMemoryStream::setSize(int64_t newSize) {
    setSizeOnly(newSize);
    recordedSize_ = newSize;
}

void TFileAndMemoryStream::clear() {
    changed();
    if (memoryBacked_) {
        memory_.clear();
        memory_.shrink_to_fit();
    } else if (fd_ >= 0) {
        if (::ftruncate(fd_, 0) != 0) {
            throw StreamError(errnoText("Cannot resize", fileName_));
        }
        returnSpace(0);
    }
    position_ = 0;
}

int64_t TFileAndMemoryStream::size() const {
    if (memoryBacked_) {
        return static_cast<int64_t>(memory_.size());
    }
    if (fd_ < 0) {
        return 0;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        return 0;
    }
    return static_cast<int64_t>(st.st_size);
}

int64_t TFileAndMemoryStream::copyFrom(TFileAndMemoryStream& source, int64_t count) {
    std::vector<uint8_t> buffer(65536);
    int64_t done = 0;
    while (done < count) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count - done, 65536));
        const size_t got = source.read(buffer.data(), want);
        if (got == 0) {
            break;
        }
        writeAll(buffer.data(), got);
        done += static_cast<int64_t>(got);
    }
    return done;
}

int64_t TFileAndMemoryStream::copyRangeFrom(const TFileAndMemoryStream& source, uint64_t sourceOffset,
                                            uint64_t offset, size_t count) {
    if (memoryBacked_ || source.memoryBacked_ || fd_ < 0 || source.fd_ < 0) {
        return -1;
    }
    if (count == 0) {
        return 0;
    }
    if (&source == this && sourceOffset < offset + count && offset < sourceOffset + count) {
        return -1; // the kernel copies only between ranges that do not overlap
    }
    const int64_t end = static_cast<int64_t>(offset + count);
    if (claimSpace(end) < end) {
        return -1; // the copy through memory writes what fits and names the full disk
    }
    changed();
    size_t done = 0;
    while (done < count) {
        auto in = static_cast<loff_t>(sourceOffset + done);
        auto out = static_cast<loff_t>(offset + done);
        const ssize_t n = ::copy_file_range(source.fd_, &in, fd_, &out, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (kernelCannotCopy(errno)) {
                // Not between these files: what is left goes through memory.
                return done > 0 ? static_cast<int64_t>(done) : -1;
            }
            throw StreamError(errnoText("Cannot write", fileName_));
        }
        if (n == 0) {
            break; // the source ended
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool TFileAndMemoryStream::kernelCannotCopy(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

int64_t TFileAndMemoryStream::copyRangeTo(uint64_t offset, int fd, size_t count, int& error) const {
    error = 0;
    if (memoryBacked_ || fd_ < 0) {
        error = EINVAL;
        return 0;
    }
    size_t done = 0;
    while (done < count) {
        auto in = static_cast<loff_t>(offset + done);
        const ssize_t n = ::copy_file_range(fd_, &in, fd, nullptr, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        if (n == 0) {
            break; // the stream ended
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

void TFileAndMemoryStream::loadFromFile(const std::string& fileName) {
    if (!memoryBacked_) {
        return;
    }
    changed();
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        throw StreamError("Cannot open " + fileName);
    }
    memory_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    position_ = 0;
}

void TFileAndMemoryStream::saveToFile(const std::string& fileName) const {
    if (!memoryBacked_) {
        return;
    }
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(memory_.data()), static_cast<std::streamsize>(memory_.size()));
    if (!out) {
        throw StreamError("Cannot write " + fileName);
    }
}

void TFileAndMemoryStream::releaseBacking() {
    changed();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    memory_.clear();
    memory_.shrink_to_fit();
    memoryBacked_ = false;
    position_ = 0;
}

void ReleaseWorkFile(std::unique_ptr<TFileAndMemoryStream>& stream) {
    if (!stream) {
        return;
    }
    const bool fileBacked = !stream->memoryBacked();
    const std::string name = stream->fileName();
    try {
        stream->releaseBacking();
    } catch (...) {
    }
    if (fileBacked && !name.empty()) {
        ::unlink(name.c_str());
        stream->returnSpace(0);
    }
    stream.reset();
}

} // namespace cleavix::sample
