#pragma once
// TFileAndMemoryStream: a byte stream backed by either a file or a block of memory, chosen at
// construction. Every working file (sample store, undo file, scratch files), the clipboard image
// and the peak table are built on it.
//
// Not thread-safe: one user at a time, which the busy state of the job frame guarantees.
// Errors: read() and write() return the bytes moved (short at end of data, or when the disk is
// full); readExact() and writeAll() throw StreamError instead of moving less.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cleavix::sample {

class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TFileAndMemoryStream {
public:
    enum class Origin { Begin = 0, Current = 1, End = 2 };
    // Open modes for file backing.
    static constexpr uint16_t fmOpenRead = 0x0000;
    static constexpr uint16_t fmOpenReadWrite = 0x0002;
    static constexpr uint16_t fmCreate = 0xFFFF; // create or truncate, read and write

    // Memory backing: an empty block.
    TFileAndMemoryStream();
    // File backing: opens fileName with openMode. Throws StreamError when it cannot.
    TFileAndMemoryStream(uint16_t openMode, const std::string& fileName);
    // File backing on a descriptor already open for reading and writing (a working file made
    // exclusively with a lock held). Takes ownership of fd.
    TFileAndMemoryStream(int fd, const std::string& fileName);
    ~TFileAndMemoryStream();
    TFileAndMemoryStream(const TFileAndMemoryStream&) = delete;
    TFileAndMemoryStream& operator=(const TFileAndMemoryStream&) = delete;
    TFileAndMemoryStream(TFileAndMemoryStream&& other) noexcept;
    TFileAndMemoryStream& operator=(TFileAndMemoryStream&&) = delete;

    bool memoryBacked() const { return memoryBacked_; }
    bool hasBacking() const { return memoryBacked_ || fd_ >= 0; }
    const std::string& fileName() const { return fileName_; }
    int64_t recordedSize() const { return recordedSize_; }

    size_t read(void* buffer, size_t count);
    size_t write(const void* buffer, size_t count);
    void readExact(void* buffer, size_t count);
    void writeAll(const void* buffer, size_t count);
    // Positioned transfers that leave the stream position alone.
    size_t readAt(uint64_t offset, void* buffer, size_t count) const;
    void writeAllAt(uint64_t offset, const void* buffer, size_t count);

    int64_t seek(int64_t offset, Origin origin = Origin::Begin);
    void setSize(int64_t newSize);     // resizes and records the size
    // Sets disk space aside for writing up to `size` bytes, leaving the size alone, so that long
    // writes find their blocks allocated. Does nothing where the file system cannot, or on memory.
    void reserveSpace(int64_t size);
    void setSizeOnly(int64_t newSize); // resizes, recorded size untouched
    void clear();
    int64_t size() const;
    int64_t position() const { return position_; }
    // Copies count bytes from source (at its position) to this stream (at its position).
    int64_t copyFrom(TFileAndMemoryStream& source, int64_t count);
    // Copies up to count bytes of source from sourceOffset to offset in this stream inside the
    // kernel (copy_file_range), when both are files and the ranges do not overlap. Returns the
    // bytes copied, fewer when the source ends first, or -1 when the kernel copies none of them
    // (memory backing, overlap, a file system that cannot, no disk space under the testing limit):
    // the caller then copies through memory, which fails as a write would. Positions stay alone;
    // disk space is taken as writeAllAt takes it. Throws StreamError as writeAllAt does.
    int64_t copyRangeFrom(const TFileAndMemoryStream& source, uint64_t sourceOffset, uint64_t offset, size_t count);
    // Copies up to count bytes from offset to the descriptor fd at its file position (which moves
    // on), inside the kernel. Returns the bytes copied, fewer when this stream ends first or the
    // copy stopped; `error` is then 0 at the end of the stream, else the errno that stopped it
    // (EXDEV, EINVAL and the like when the kernel cannot copy between these files, ENOSPC when the
    // disk is full). Memory backing copies nothing, with error EINVAL. Positions stay alone.
    int64_t copyRangeTo(uint64_t offset, int fd, size_t count, int& error) const;
    // Whether an errno from the kernel's copy means it cannot copy between the two files (the
    // caller then copies through memory), not that the write failed.
    static bool kernelCannotCopy(int error);

    // Memory backing only; nothing happens on a file-backed stream.
    void loadFromFile(const std::string& fileName);
    void saveToFile(const std::string& fileName) const;

    // Frees the backing (closing the file). The stream has no backing afterwards.
    void releaseBacking();

    // Memory backing: the bytes themselves.
    const std::vector<uint8_t>& memory() const { return memory_; }

    // Marks the calls that may have changed the content: every write, resize, clear, load and
    // release takes a number never given out before (by any stream). An unchanged mark means
    // this stream's bytes are untouched, so that what was derived from them still holds.
    uint64_t changes() const { return changes_; }

private:
    bool memoryBacked_ = true;
    uint16_t openMode_ = 0;
    int64_t recordedSize_ = 0;
    int fd_ = -1;
    std::string fileName_;
    std::vector<uint8_t> memory_;
    int64_t position_ = 0;
    uint64_t changes_;
    // Bytes of disk this file takes, for the space limit below: its largest size since it last
    // shrank.
    int64_t allocated_ = 0;
    void changed();
    // Takes the disk space for growing the file to `end` bytes; returns how far it may grow.
    int64_t claimSpace(int64_t end);
    void growFile(int64_t old, int64_t newSize);
    void returnSpace(int64_t newSize);
    friend void ReleaseWorkFile(std::unique_ptr<TFileAndMemoryStream>& stream);
};

// For tests of a full working folder: from now on the file-backed streams may take only `bytes`
// more disk space between them. Growing a file beyond its size takes space, writing over its
// bytes takes none, shrinking or deleting a working file gives it back, as on a real disk. A
// write that finds no space writes what fits and throws StreamError. Negative: no limit.
void setFreeSpaceForTesting(int64_t bytes);
// The space left under that limit (negative when there is none).
int64_t freeSpaceForTesting();

// Releases a working stream's backing and deletes its file (file backing only). Errors are
// swallowed: the stream is being thrown away.
void ReleaseWorkFile(std::unique_ptr<TFileAndMemoryStream>& stream);

} // namespace cleavix::sample
