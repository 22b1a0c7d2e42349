#pragma once
// What every stage of the slice search shares: the sample's geometry, where a candidate's windows
// start, the progress ticks, and the split of a stage's candidates over two threads.
//
// Threads: inTwo runs its second part on a helper thread of its own and waits for it; the parts
// must read shared data only and write entries of their own.
#include "sample/SampleStore.h"
#include "slicing/SlicePoint.h"
#include "slicing/SliceSearch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <future>
#include <thread>

namespace cleavix::slicing::search {

struct Geometry {
    int64_t dataLength;
    int64_t blockAlign; // bytes per frame
    uint16_t channels;
};

inline Geometry geometryOf(const sample::SampleStore& store) {
    const auto& f = store.format();
    return {int64_t(f.dataLength), int64_t(f.blockAlign()), f.channels};
}

// The byte of the candidate's channel within its frame: 2 for a second-channel stereo point.
inline int64_t channelOffset(const Geometry& g, const SlicePoint& p) {
    return (g.channels == 2 && p.channel == kCodeSecondOrMono) ? 2 : 0;
}

// A window that would start before the sample starts at the candidate's channel's first sample.
inline int64_t windowStart(const Geometry& g, const SlicePoint& p, int64_t framesBefore) {
    const int64_t start = int64_t(p.position) - framesBefore * g.blockAlign;
    return std::max(start, channelOffset(g, p));
}

// The 16-bit sample at p, whatever its alignment (the store is little-endian, as is every machine
// this builds for).
inline int sampleAt(const uint8_t* p) {
    int16_t s;
    std::memcpy(&s, p, sizeof s);
    return s;
}

inline int magnitude(int s) { return s < 0 ? -s : s; }

// Reports progress; true once the user aborted.
inline bool tick(const SearchProgress& progress, int percent) {
    if (progress.report) {
        progress.report(percent);
    }
    return progress.stop && progress.stop();
}

inline int roundToInt(double v) { return static_cast<int>(std::nearbyint(v)); }

// Runs work(from, to) over the candidates 1 to n in two parts split before `split`, the second on
// a thread of its own when there is a second processor and enough to do. Each part reads the
// store through readers of its own and writes only its own candidates' entries; the results are
// applied (with the reports) in order afterwards, so they are what one pass would give.
template <class Work>
void inTwo(int n, int split, Work&& work) {
    static const bool twoProcessors = std::thread::hardware_concurrency() > 1;
    constexpr int kWorthAThread = 64;
    if (!twoProcessors || n < kWorthAThread || split <= 1 || split > n) {
        work(1, n + 1);
        return;
    }
    auto second = std::async(std::launch::async, [&] { work(split, n + 1); });
    work(1, split);
    second.get();
}

} // namespace cleavix::slicing::search
