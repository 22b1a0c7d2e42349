#pragma once
// The block routines every edit worker streams through: copies between streams, reads into memory
// (optionally one channel of stereo), and moves inside one stream. None of them holds more than
// one block in memory, so memory use does not grow with the sample.
//
// Worker thread (or any thread in tests). Progress goes through a Pace, which also answers
// whether the worker should stop after the current block.
#include "jobs/JobFrame.h"
#include "sample/FileAndMemoryStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace cleavix::editing {

inline constexpr size_t kCopyBlock = 65536;  // copies and transforms
inline constexpr size_t kMoveChunk = 512000; // moves inside one stream
inline constexpr size_t kKernelChunk = 1 << 20; // copies the kernel makes between two files

// Progress and stop for one worker. Without a context it never stops and reports nowhere.
class Pace {
public:
    Pace() = default;
    explicit Pace(jobs::JobContext& context) : context_(&context) {}
    // The same progress, but never stopping: for moves that restructure the store, which cannot
    // stop half way without losing the bytes in flight.
    Pace firm() const {
        Pace p = *this;
        p.firm_ = true;
        return p;
    }
    // Bar at from + round(done / total * (to - from)).
    void report(double done, double total, int from, int to);
    void set(int position);
    // Cancel or termination asked for; tested after every block.
    bool stopped();
    // Terminated (not merely a block routine's cancel).
    bool terminated() const;
    jobs::JobContext* context() const { return context_; }

private:
    jobs::JobContext* context_ = nullptr;
    bool firm_ = false;
};

// Copies count bytes from source's position to destination's position in 65536-byte blocks.
// Returns the bytes copied (fewer when stopped).
uint64_t copyBlocks(sample::TFileAndMemoryStream& source, sample::TFileAndMemoryStream& destination, uint64_t count,
                    Pace& pace, int from, int to);

// Reads count stream bytes from source's position into memory. A step of 1 takes every byte; of 2, one
// channel of stereo (each 16-bit word read skips the 2 bytes after it), so count bytes give count/2.
// Returns the bytes written to memory.
uint64_t readBlocks(sample::TFileAndMemoryStream& source, uint8_t* out, uint64_t count, int step, Pace& pace,
                    int from, int to);

// Moves count bytes from `fromOffset` to `toOffset` inside one stream, as memmove would, in
// chunks of 512000 bytes. Returns false when stopped before the end. A move down goes front to
// back: after each chunk `moved` (when given) hears how many bytes from toOffset are in their
// final place, and the move writes nothing before them again.
bool moveBlock(sample::TFileAndMemoryStream& stream, uint64_t fromOffset, uint64_t toOffset, uint64_t count,
               Pace& pace, int from, int to, const std::function<void(uint64_t moved)>& moved = {});

// A working file that deletes itself when the last owner lets go of it, so a scratch or redo
// file never outlives its operation, even when a session ends with a worker still running.
class ScratchFile {
public:
    ScratchFile(const std::string& dir, const std::string& prefix);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    sample::TFileAndMemoryStream& stream() { return *stream_; }
    // Hands the stream over (it stops deleting it).
    std::unique_ptr<sample::TFileAndMemoryStream> take() { return std::move(stream_); }
    const std::string& fileName() const { return name_; }

private:
    std::unique_ptr<sample::TFileAndMemoryStream> stream_;
    std::string name_;
};

} // namespace cleavix::editing
