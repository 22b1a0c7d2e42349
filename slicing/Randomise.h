#pragma once
// Randomise (trandom): the segments of the edited region are written back in a shuffled order.
// The region is first copied to a scratch working file, which the shuffle reads; the store is
// rewritten in place.
#include "jobs/JobFrame.h"
#include "sample/FileAndMemoryStream.h"
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "slicing/SegmentExport.h"
#include "slicing/SlicePoint.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace cleavix::slicing {

inline constexpr const char* kMsgRandomiseNoFile = "Cannot create file to perform randomise;\r\nNot enough disk space?";

struct FrameSpan {
    int64_t first = 0;  // frame, relative to the region start
    int64_t frames = 0;
};

// The segments of [start, end) for one channel group: 0 every point (mono, or both channels
// together), 1 the first channel's points (code 2), 2 the second channel's (code 1). Empty when no
// slice point lies inside the region: that channel stays as it is.
std::vector<FrameSpan> randomiseSegments(const SlicePointList& list, uint32_t start, uint32_t end,
                                         const sample::SampleFormat& format, int channel);

// The shuffled order of c segments (0-based numbers): for k = c - 1 down to 0 the segment drawn
// from the remaining ones at draw(k) (0..k-1, or 0 when k is 0) is written next and the last
// remaining one takes its place.
std::vector<int> shuffleOrder(int count, const std::function<int(int)>& draw);

// The channel groups a shuffle walks for a channel mode.
std::vector<int> randomiseChannels(uint16_t channels, const ChannelMode& mode);

struct RandomiseOutcome {
    bool aborted = false;
    bool failed = false;
    std::string error;
};

class trandom final : public jobs::Job {
public:
    // scratch: an empty working file; peaks: rebuilt at the end (may be null in tests).
    trandom(sample::SampleStore& store, sample::PeakTable* peaks, const SlicePointList& list, uint32_t start,
            uint32_t length, ChannelMode mode, sample::TFileAndMemoryStream& scratch, uint32_t seed,
            RandomiseOutcome& outcome)
        : store_(store), peaks_(peaks), list_(list), start_(start), length_(length), mode_(mode), scratch_(scratch),
          random_(seed), outcome_(outcome) {}
    void run(jobs::JobContext& context) override;
    // The shuffle itself; segmentDone(done, total) after each segment returns false to stop.
    // Returns false when stopped.
    bool shuffle(const std::function<bool(int, int)>& segmentDone);

private:
    void copySegment(const FrameSpan& from, int64_t toFrame, int channel);

    sample::SampleStore& store_;
    sample::PeakTable* peaks_;
    const SlicePointList& list_;
    uint32_t start_;
    uint32_t length_;
    ChannelMode mode_;
    sample::TFileAndMemoryStream& scratch_;
    std::mt19937 random_;
    RandomiseOutcome& outcome_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> target_;
};

} // namespace cleavix::slicing
