#pragma once
// The peak table: one entry per peakBlockBytes of the store, each entry one 32-bit word per
// channel holding max * 65536 + min of that channel over the block (signed 32-bit arithmetic, so
// a negative minimum borrows one from the upper half; readers take the low 16 bits as the minimum
// and the high 16 bits as the maximum). The waveform view draws from it when many samples fall on
// one pixel column.
//
// The table is kept in a working file rather than in memory, so that memory use does not grow
// with the length of the sample (a sixty-minute stereo sample has a 40 MB table at 128-byte
// blocks). Main thread or the running worker only.
#include "sample/FileAndMemoryStream.h"
#include "sample/SampleFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sample {

// peakBlockBytes from the "WaveCacheSize" setting: 128 when it is 0 or not a multiple of 64.
uint32_t peakBlockBytesFromSetting(long long waveCacheSize);

struct PeakWord {
    int16_t max;
    int16_t min;
};
// max * 65536 + min, wrapping like the signed 32-bit arithmetic it stands for (without its
// undefined overflow at max = min = -32768).
inline int32_t packPeak(int32_t max, int32_t min) {
    return static_cast<int32_t>(static_cast<uint32_t>(max) * 65536u + static_cast<uint32_t>(min));
}
// Exact decoding: the low half is the minimum, and the maximum is what remains once the
// minimum's borrow is given back (the raw high half reads one less when the minimum is negative).
inline PeakWord unpackPeak(int32_t word) {
    const auto min = static_cast<int16_t>(static_cast<uint32_t>(word) & 0xFFFF);
    const auto max = static_cast<int16_t>((static_cast<uint32_t>(word) - static_cast<uint32_t>(int32_t{min})) >> 16);
    return {max, min};
}

// The extremes and the sum of every sample of a store (both channels together), which a build fed
// from its first byte to its last learns on the way.
struct SampleTotals {
    int lowest = 32767;
    int highest = -32768;
    int64_t sum = 0; // exact: 2^31 samples of at most 2^15 stay far below 2^63
    uint64_t count = 0;
};

class PeakTable {
public:
    // backing: a file-backed working stream (or a memory stream in tests).
    PeakTable(std::unique_ptr<TFileAndMemoryStream> backing, uint32_t peakBlockBytes);
    // Deletes the spare's working file; the table's own file is its owner's to delete.
    ~PeakTable();
    PeakTable(const PeakTable&) = delete;
    PeakTable& operator=(const PeakTable&) = delete;

    uint32_t blockBytes() const { return blockBytes_; }
    const std::string& fileName() const { return backing_->fileName(); }
    void setBlockBytes(uint32_t bytes) {
        blockBytes_ = bytes;
        builtFrom_ = 0; // built with the old size until rebuilt
    }
    uint16_t channels() const { return channels_; }
    // Number of entries (peak blocks); each has channels() words.
    uint64_t entries() const { return entries_; }
    // Reads `count` words from word index `first` (entry * channels + channel). Returns words read.
    size_t readWords(uint64_t first, int32_t* out, size_t count) const;
    PeakWord peak(uint64_t entry, uint16_t channel) const;

    // Streaming build, used by rebuildPeaks and by the load, which computes the peaks from the
    // blocks it has just written instead of reading the store again. Blocks must be fed in order,
    // in any chunk sizes; a block may span two calls.
    void beginBuild(uint16_t channels);
    // beginBuild, then the first `entries` entries copied from the table set aside, which the
    // caller knows to describe a store whose first entries * blockBytes() bytes are those of the
    // store being built from. Returns the entries kept: fewer (down to 0) when the spare has fewer,
    // other channels or another block size. Keeping 0 entries is beginBuild.
    uint64_t beginBuildKeeping(uint16_t channels, uint64_t entries);
    void addBlocks(const int16_t* samples, size_t bytes); // any length; split into peak blocks
    void endBuild();
    void reset();

    // A finished build over the first `length` bytes of `store` marks the table with the store's
    // change mark; the table describes the store (and readers may take extremes from it instead
    // of the samples) while that mark, the channels and the length still agree.
    void builtFrom(const TFileAndMemoryStream& store, uint64_t length) {
        builtFrom_ = store.changes();
        builtLength_ = length;
    }
    bool describes(const TFileAndMemoryStream& store, const SampleFormat& format) const;
    // The store's change mark the table was built from (0: none, or no longer whole).
    uint64_t builtMark() const { return builtFrom_; }
    // The totals of the store's samples, when the table describes the store and its build was
    // fed every sample (not one that kept entries of the table set aside).
    std::optional<SampleTotals> totals(const TFileAndMemoryStream& store, const SampleFormat& format) const;

    // A second table kept for the undo: an edit sets aside the table of the store as it was, and
    // the undo that puts those very bytes back brings it back instead of reading the whole store
    // again. Without a spare backing (tests, memory tables) nothing is ever set aside.
    void setSpareBacking(std::unique_ptr<TFileAndMemoryStream> backing);
    // Sets the table aside when it was built from the store at `mark`, leaving an empty table to
    // be built; the one set aside before is forgotten. False (nothing changes) otherwise.
    bool setAside(uint64_t mark);
    // Brings back the table set aside at `mark` when it fits `format` (its length, channels and
    // the block size): it then describes `store`, whose bytes the caller has just made what they
    // were at that mark. The table it replaces goes aside in its turn. False when there is none.
    bool bringBack(uint64_t mark, const TFileAndMemoryStream& store, const SampleFormat& format);
    void forgetSpare();

private:
    void swapWithSpare();
    void flushWords();
    void closeBlock();
    std::unique_ptr<TFileAndMemoryStream> backing_;
    uint32_t blockBytes_;
    uint16_t channels_ = 1;
    uint64_t entries_ = 0;
    std::vector<int32_t> pending_;
    size_t inBlock_ = 0; // samples of the current block seen so far
    int32_t max_[2] = {-32768, -32768};
    int32_t min_[2] = {32767, 32767};
    uint64_t builtFrom_ = 0; // the change mark of the store it was built from; 0: none
    uint64_t builtLength_ = 0;
    SampleTotals fed_;
    bool fedWhole_ = false; // fed_ holds every sample since the build began at byte 0
    struct Spare {
        std::unique_ptr<TFileAndMemoryStream> backing;
        uint32_t blockBytes = 0;
        uint16_t channels = 1;
        uint64_t entries = 0;
        uint64_t builtFrom = 0;
        uint64_t builtLength = 0;
        SampleTotals fed;
        bool fedWhole = false;
    };
    Spare spare_;
};

struct BlockProgress {
    // Called after each block with bytes done of total.
    std::function<void(uint64_t done, uint64_t total)> report;
    // Tested after each block; true stops the pass.
    std::function<bool()> stop;
};

// Rebuilds the table from the whole store, reading it in chunks of 131072 bytes. With keepBytes,
// the entries wholly inside the store's first keepBytes bytes are taken from the table set aside
// (see beginBuildKeeping) and only the rest of the store is read.
void rebuildPeaks(const TFileAndMemoryStream& store, const SampleFormat& format, PeakTable& table,
                  const BlockProgress& progress = {}, uint64_t keepBytes = 0);

} // namespace cleavix::sample
