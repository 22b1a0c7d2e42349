#pragma once
// A coarse summary of the peak table, kept in memory, so that a far zoomed-out redraw does not read
// the whole table from its working file each time (a sixty-minute stereo sample has a 40 MB table
// at 128-byte blocks). Level k holds the maximum and minimum of 16^k table entries; a range query
// takes whole coarse groups where they fit and reads only the ragged ends from the finer levels,
// so its cost grows with the logarithm of the range rather than with the range.
//
// Main thread only; rebuilt (build()) whenever the peak table has been rebuilt.
#include "sample/PeakTable.h"

#include <cstdint>
#include <vector>

namespace cleavix::ui {

struct PeakRange {
    int max = -32768;
    int min = 32767;
    void add(int hi, int lo) {
        if (hi > max) {
            max = hi;
        }
        if (lo < min) {
            min = lo;
        }
    }
    bool empty() const { return max < min; }
};

class PeakSummary {
public:
    static constexpr uint64_t kFanOut = 16;

    // Reads the whole table once and builds the coarse levels.
    void build(const sample::PeakTable& table);
    void clear();
    // Whether the summary still describes this table (same entries, channels and block size).
    bool matches(const sample::PeakTable& table) const;

    // Maximum and minimum of channel over entries [first, last] (inclusive, clipped to the table).
    PeakRange range(const sample::PeakTable& table, uint16_t channel, uint64_t first, uint64_t last) const;

    int levels() const { return static_cast<int>(levels_.size()); }

private:
    // Level 1.. as packed max/min pairs per channel: [entry * channels + channel].
    struct Level {
        std::vector<sample::PeakWord> words;
        uint64_t entries = 0;
    };
    void scanFine(const sample::PeakTable& table, uint16_t channel, uint64_t first, uint64_t end, PeakRange& r) const;
    void query(const sample::PeakTable& table, int level, uint16_t channel, uint64_t first, uint64_t end,
               PeakRange& r) const;

    std::vector<Level> levels_; // levels_[0] is level 1 (groups of 16 entries)
    uint64_t entries_ = 0;
    uint16_t channels_ = 0;
    uint32_t blockBytes_ = 0;
    bool built_ = false;
};

} // namespace cleavix::ui
