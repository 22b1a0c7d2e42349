// The segment levels and the strengths: the range of each segment's samples (from the peak table
// where it describes the store), the range of the stretch before each point, and the strength
// that rates a point by how much louder its segment is than what comes before it.
//
// Threads: levels splits the points over the worker and one helper thread (inTwo); each reads the
// store and the peak table through readers of its own and writes its own points' entries.
#include "slicing/search/Kernels.h"
#include "slicing/search/Readers.h"
#include "slicing/search/Stages.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace cleavix::slicing {

using search::applyStrengths;
using search::ByteWindow;
using search::Geometry;
using search::StreamReader;
using search::geometryOf;
using search::inTwo;
using search::kStreamBytes;
using search::levels;
using search::minMax;
using search::roundToInt;
using search::tick;
using search::windowStart;

namespace {

// The largest minus the smallest sample of `frames` frames of one channel from byte `start`
// (zeros outside the data), through the stream window; 0 for no frames.
int64_t levelOf(StreamReader& reader, const Geometry& g, int64_t start, int64_t frames) {
    int largest = -100000;
    int smallest = 100000;
    reader.scan(start, frames, [&](const uint8_t* bytes, size_t count) {
        minMax(bytes, count, size_t(g.channels), largest, smallest);
    });
    return frames <= 0 ? 0 : int64_t(largest) - smallest;
}

// A point's pre-level: the level of the 500 frames before it.
int64_t preLevelOf(StreamReader& reader, const Geometry& g, const SlicePoint& point) {
    return levelOf(reader, g, windowStart(g, point, 500), 500);
}

// The largest and smallest sample seen so far.
struct Extremes {
    int largest = -100000;
    int smallest = 100000;
    void add(const Extremes& other) {
        largest = std::max(largest, other.largest);
        smallest = std::min(smallest, other.smallest);
    }
};

// `frames` samples of one channel from byte `start`, one per frame.
struct Stretch {
    int64_t start = 0;
    int64_t frames = 0;
};

// A segment's level from the peak table: the table's whole entries [firstEntry, endEntry) in the
// middle, the frames before and after them (head and tail) from the store. Without a whole entry
// (or for samples off the channels' places) the head is the whole segment.
struct LevelParts {
    int64_t frames = 0; // of the whole segment
    Stretch head;
    Stretch tail;
    int64_t firstEntry = 0;
    int64_t endEntry = 0;
    int channel = 0;
};

LevelParts partsOf(const Geometry& g, int64_t blockBytes, int64_t wholeEntries, int64_t start, int64_t frames) {
    LevelParts parts;
    parts.frames = frames;
    parts.head = {start, frames};
    if (frames <= 0 || start % 2 != 0) {
        return parts;
    }
    const int64_t framesPerEntry = blockBytes / g.blockAlign;
    const int64_t first = start / g.blockAlign; // the frame of the first sample
    const int64_t e0 = (first + framesPerEntry - 1) / framesPerEntry;
    const int64_t e1 = std::min((first + frames) / framesPerEntry, wholeEntries);
    if (e0 >= e1) {
        return parts;
    }
    parts.channel = int(start % g.blockAlign) / 2;
    parts.head = {start, e0 * framesPerEntry - first};
    parts.firstEntry = e0;
    parts.endEntry = e1;
    parts.tail = {start + (e1 * framesPerEntry - first) * g.blockAlign, first + frames - e1 * framesPerEntry};
    return parts;
}

// Reads the peak table forward in large pieces.
class PeakWindow {
public:
    explicit PeakWindow(const sample::PeakTable& table) : table_(table), words_(16384) {}
    void add(int64_t firstEntry, int64_t endEntry, int channel, Extremes& e) {
        const uint64_t perEntry = table_.channels();
        for (uint64_t entry = uint64_t(firstEntry); entry < uint64_t(endEntry);) {
            const uint64_t word = entry * perEntry + uint64_t(channel);
            if (word < first_ || word >= first_ + held_) {
                first_ = entry * perEntry;
                held_ = table_.readWords(first_, words_.data(), words_.size());
            }
            const uint64_t stop = std::min(uint64_t(endEntry), (first_ + held_) / perEntry);
            if (stop <= entry) {
                throw sample::StreamError("The peak table ends before the sample");
            }
            for (; entry < stop; ++entry) {
                const sample::PeakWord w = sample::unpackPeak(words_[size_t(entry * perEntry + uint64_t(channel) - first_)]);
                e.largest = std::max(e.largest, int(w.max));
                e.smallest = std::min(e.smallest, int(w.min));
            }
        }
    }

private:
    const sample::PeakTable& table_;
    std::vector<int32_t> words_;
    uint64_t first_ = 0;
    uint64_t held_ = 0;
};

// The samples of one thread's part of the segment levels: a small window around each point (its pre-level,
// the head of its segment and the tail of the segment before it in its channel lie there), a
// second one for the odd stretch elsewhere, the stream reader for long stretches off the table.
class LevelReaders {
public:
    LevelReaders(const sample::SampleStore& store, const Geometry& g, size_t windowBytes)
        : store_(store), g_(g), near_(windowBytes), other_(windowBytes) {}
    void readAround(int64_t from, int64_t to) { near_.fill(store_, from, size_t(to - from)); }
    void add(const Stretch& s, Extremes& e) {
        if (s.frames <= 0) {
            return;
        }
        const int64_t last = s.start + (s.frames - 1) * g_.blockAlign + 2;
        const auto take = [&](const uint8_t* bytes, size_t count) {
            minMax(bytes, count, size_t(g_.channels), e.largest, e.smallest);
        };
        if (near_.holds(s.start, last)) {
            take(near_.at(s.start), size_t(s.frames));
        } else if (last - s.start <= int64_t(other_.capacity())) {
            other_.fill(store_, s.start, size_t(last - s.start));
            take(other_.at(s.start), size_t(s.frames));
        } else {
            if (!stream_) {
                stream_ = std::make_unique<StreamReader>(store_, g_, kStreamBytes);
            }
            stream_->scan(s.start, s.frames, take);
        }
    }

private:
    const sample::SampleStore& store_;
    Geometry g_;
    ByteWindow near_;
    ByteWindow other_;
    std::unique_ptr<StreamReader> stream_;
};

// The segment levels through the peak table, which describes the store: levelOfPoint[u] for every
// point, and with preLevels the pre-levels from the same reads.
void levelsFromPeaks(const sample::SampleStore& store, const sample::PeakTable& peaks, const CandidateList& list,
                     const std::vector<int>& next, int split, std::vector<int32_t>& levelOfPoint,
                     std::vector<int64_t>* preLevels) {
    const Geometry g = geometryOf(store);
    const int n = list.count();
    const int64_t blockBytes = peaks.blockBytes();
    const int64_t wholeEntries = g.dataLength / blockBytes;
    std::vector<LevelParts> parts(size_t(n) + 1);
    std::vector<int> previous(size_t(n) + 2, 0); // the point whose segment ends where u's begins
    for (int u = 1; u <= n; ++u) {
        const SlicePoint& point = list.at(u);
        const int64_t frames =
            std::max<int64_t>(0, (int64_t(list.at(next[size_t(u)]).position) - int64_t(point.position)) / g.blockAlign);
        parts[size_t(u)] = partsOf(g, blockBytes, wholeEntries, windowStart(g, point, 50), frames);
        previous[size_t(next[size_t(u)])] = u;
    }
    std::vector<Extremes> middle(size_t(n) + 1); // head and entries
    std::vector<Extremes> tails(size_t(n) + 1);
    const int64_t margin = blockBytes + 2 * g.blockAlign;
    inTwo(n, split, [&](int from, int to) {
        LevelReaders readers(store, g, size_t(500 * g.blockAlign + 4 * margin));
        PeakWindow window(peaks);
        for (int u = from; u < to; ++u) {
            const SlicePoint& point = list.at(u);
            const LevelParts& own = parts[size_t(u)];
            const Stretch pre{windowStart(g, point, 500), 500};
            const int64_t head = own.head.start + std::min<int64_t>(own.head.frames, 2 * blockBytes / g.blockAlign) *
                                                      g.blockAlign;
            readers.readAround(std::min(pre.start, own.head.start) - margin,
                               std::max(pre.start + 500 * g.blockAlign, head) + margin);
            if (preLevels != nullptr) {
                Extremes e;
                readers.add(pre, e);
                (*preLevels)[size_t(u)] = int64_t(e.largest) - e.smallest;
            }
            Extremes& e = middle[size_t(u)];
            readers.add(own.head, e);
            if (own.endEntry > own.firstEntry) {
                window.add(own.firstEntry, own.endEntry, own.channel, e);
            }
            // Every tail is taken once: by the point after it in its channel, or by its own point
            // when its segment runs to the end marker.
            if (const int before = previous[size_t(u)]; before != 0) {
                readers.add(parts[size_t(before)].tail, tails[size_t(before)]);
            }
            if (next[size_t(u)] == n + 1) {
                readers.add(own.tail, tails[size_t(u)]);
            }
        }
    });
    for (int u = 1; u <= n; ++u) {
        Extremes e = middle[size_t(u)];
        e.add(tails[size_t(u)]);
        // A segment without frames (two points at one place) has level 0.
        levelOfPoint[size_t(u)] = parts[size_t(u)].frames <= 0 ? 0 : e.largest - e.smallest;
    }
}

} // namespace

namespace search {

// The segment levels, and with preLevels the pre-levels on the same reads (the 500 frames before a
// point come just before its segment): through the peak table when it describes the store, else
// through a large window streaming over the segments. Returns false when aborted.
bool levels(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress,
            std::vector<int64_t>* preLevels, const sample::PeakTable* peaks) {
    const Geometry g = geometryOf(store);
    const int n = list.count();
    // The next point of the same channel, found from the end backwards.
    std::array<int, 3> nextOfCode{n + 1, n + 1, n + 1};
    std::vector<int> next(size_t(n + 1), n + 1);
    for (int u = n; u >= 1; --u) {
        const uint8_t code = std::min<uint8_t>(list.at(u).channel, 2);
        next[size_t(u)] = nextOfCode[code];
        nextOfCode[code] = u;
    }
    // Split where the sample is halved, so that both halves read about as much.
    int split = 1;
    while (split <= n && int64_t(list.at(split).position) < g.dataLength / 2) {
        ++split;
    }
    std::vector<int32_t> levelOfPoint(size_t(n) + 1);
    if (peaks != nullptr && peaks->describes(store.stream(), store.format()) && peaks->blockBytes() > 0 &&
        peaks->blockBytes() % uint32_t(g.blockAlign) == 0) {
        levelsFromPeaks(store, *peaks, list, next, split, levelOfPoint, preLevels);
    } else {
        inTwo(n, split, [&](int from, int to) {
            StreamReader reader(store, g, kStreamBytes);
            for (int u = from; u < to; ++u) {
                const SlicePoint& point = list.at(u);
                if (preLevels != nullptr) {
                    (*preLevels)[size_t(u)] = preLevelOf(reader, g, point);
                }
                const int64_t end = list.at(next[size_t(u)]).position;
                const int64_t frames = std::max<int64_t>(0, (end - int64_t(point.position)) / g.blockAlign);
                reader.keepFrom(u < n ? windowStart(g, list.at(u + 1), 500) : INT64_MAX);
                // A segment without frames (two points at one place) has level 0.
                levelOfPoint[size_t(u)] = int32_t(levelOf(reader, g, windowStart(g, point, 50), frames));
            }
        });
    }
    for (int u = 1; u <= n; ++u) {
        if (tick(progress, roundToInt(double(u) / double(n) * 5.0) + 90)) {
            return false;
        }
        list.at(u).strength = levelOfPoint[size_t(u)];
    }
    return true;
}

// The strengths from the levels and the pre-levels. Returns false when aborted.
bool applyStrengths(CandidateList& list, const std::vector<int64_t>& preLevels, const SearchProgress& progress) {
    const int n = list.count();
    for (int u = 1; u <= n; ++u) {
        if (tick(progress, roundToInt(double(u) / double(n) * 5.0) + 95)) {
            return false;
        }
        SlicePoint& point = list.at(u);
        const int64_t level = point.strength == 0 ? 1 : point.strength;
        point.strength = roundToInt(double(level - preLevels[size_t(u)]) / double(level + 1) * 65535.0);
    }
    return true;
}

} // namespace search

bool segmentLevels(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    return levels(store, list, progress, nullptr);
}

bool strengths(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    const Geometry g = geometryOf(store);
    const int n = list.count();
    std::vector<int64_t> preLevels(size_t(n) + 1);
    StreamReader reader(store, g, kStreamBytes);
    for (int u = 1; u <= n; ++u) {
        preLevels[size_t(u)] = preLevelOf(reader, g, list.at(u));
    }
    return applyStrengths(list, preLevels, progress);
}

} // namespace cleavix::slicing
