// Onset detection: the envelope followers of every 205-frame block, their history, and the
// candidates of both passes, fed from the store or from the load's own reads.
#include "sample/IoBuffer.h"
#include "slicing/search/Common.h"
#include "slicing/search/Kernels.h"
#include "slicing/search/Stages.h"

#include <algorithm>
#include <vector>

namespace cleavix::slicing {

using search::FollowFunction;
using search::Geometry;
using search::blocksPerCall;
using search::followFunction;
using search::geometryOf;
using search::kLanes;
using search::roundToInt;
using search::tick;

void blockRanges(const int16_t* samples, int channels, const int* previousSamples, int count, double* const* ranges,
                 int* const* peakRanges, DetectionPath path) {
    const FollowFunction follow = followFunction(path, channels);
    const int perCall = blocksPerCall(channels);
    // Lanes without a block follow silence; their results are thrown away.
    static const int16_t silence[2 * kFindSize] = {};
    for (int first = 0; first < count; first += perCall) {
        const int active = std::min(perCall, count - first);
        const int16_t* blocks[kLanes];
        int before[kLanes];
        for (int k = 0; k < perCall; ++k) {
            const int b = first + k;
            blocks[k] = k < active ? samples + size_t(b) * kFindSize * size_t(channels) : silence;
            for (int c = 0; c < channels; ++c) {
                before[c * perCall + k] =
                    k >= active ? 0 : b == 0 ? previousSamples[c] : blocks[k][c - channels];
            }
        }
        double r[kLanes];
        int p[kLanes];
        follow(blocks, before, r, p);
        for (int c = 0; c < channels; ++c) {
            std::copy_n(r + c * perCall, active, ranges[c] + first);
            std::copy_n(p + c * perCall, active, peakRanges[c] + first);
        }
    }
}

bool detectStep(DetectorState& state, double range, double& value, double& history) {
    history = range * sndl + state.previousValue * sndp + state.previousHistory * sndp2;
    value = range * lfac + history * pfac;
    return value - history > 0.0;
}

namespace {

// The position of the candidate that block u of pass p gives.
SlicePoint candidateOf(const Geometry& g, int p, int64_t u, int peakRange) {
    int64_t at = (int64_t(kFindSize) * u * 2 + 10) * g.channels + 2 * (p - 1) - 50;
    if (g.channels == 2) {
        at = (at & ~int64_t(3)) + (p == 1 ? 2 : 0);
    }
    SlicePoint point;
    point.position = uint32_t(at);
    point.channel = uint8_t(p);
    point.enabled = 1;
    point.strength = peakRange;
    return point;
}

int detectionPercent(const Geometry& g, int p, int64_t u) {
    const int64_t passStart = (g.channels == 1 || p == 2) ? 0 : 2;
    const int64_t position = passStart + u * kFindSize * g.blockAlign;
    const double dataLength = double(uint32_t(g.dataLength));
    return g.channels == 1 ? roundToInt(double(position) / dataLength * 80.0)
                           : roundToInt(double(position) / dataLength * 40.0) + 40 * (p - 1);
}

} // namespace

// Both passes follow their blocks on one pass over the data; the first pass (p = 1, the second
// sample of each frame in stereo) and the second keep their onsets apart, so that the list, the
// reports and where an abort leaves the list are those of one pass after the other. Until a list
// is full a pass's detection does not depend on it; from then on the first pass's onsets find no
// room and no longer reset its history, and for the second pass it only matters whether one more
// onset follows: so the first kMaxPoints onsets of each pass and the block of the one after them
// say everything.
OnsetDetector::OnsetDetector(uint16_t channels, uint32_t dataLength)
    : channels_(channels == 2 ? 2 : 1), dataLength_(dataLength) {
    int64_t q = int64_t(dataLength) / channels_ / kFindSize;
    if (int64_t(dataLength) / kFindSize >= 1) {
        q -= 1;
    }
    blocks_ = std::max<int64_t>(0, q / 2);
    for (int p = 0; p < channels_; ++p) {
        ranges_[p].resize(kBlocksPerCall);
        peakRanges_[p].resize(kBlocksPerCall);
    }
}

void OnsetDetector::feed(const int16_t* samples, size_t count) {
    const size_t blockSamples = size_t(kFindSize) * channels_;
    while (count > 0 && followed_ < blocks_) {
        if (!partial_.empty() || count < blockSamples) {
            // A block split between feeds is gathered first.
            const size_t take = std::min(count, blockSamples - partial_.size());
            partial_.insert(partial_.end(), samples, samples + take);
            samples += take;
            count -= take;
            if (partial_.size() == blockSamples) {
                follow(partial_.data(), 1);
                partial_.clear();
            }
            continue;
        }
        const int whole = int(std::min<int64_t>({int64_t(count / blockSamples), blocks_ - followed_, kBlocksPerCall}));
        follow(samples, whole);
        samples += size_t(whole) * blockSamples;
        count -= size_t(whole) * blockSamples;
    }
}

void OnsetDetector::follow(const int16_t* samples, int count) {
    const Geometry g{int64_t(dataLength_), int64_t(channels_) * 2, channels_};
    // Sample c of each frame belongs to pass p = channels - c (bytes 2 and 3 to p = 1 in stereo).
    int previous[2];
    double* rangesOf[2];
    int* peakRangesOf[2];
    const size_t samplesFollowed = size_t(count) * kFindSize * channels_;
    for (int c = 0; c < channels_; ++c) {
        const int p = channels_ - c;
        previous[c] = states_[p - 1].previousSample;
        rangesOf[c] = ranges_[p - 1].data();
        peakRangesOf[c] = peakRanges_[p - 1].data();
        states_[p - 1].previousSample = samples[samplesFollowed - channels_ + size_t(c)];
    }
    blockRanges(samples, channels_, previous, count, rangesOf, peakRangesOf);
    for (int p = 1; p <= channels_; ++p) {
        DetectorState& state = states_[p - 1];
        PassOnsets& pass = passes_[p - 1];
        for (int b = 0; b < count; ++b) {
            const int64_t u = followed_ + 1 + b;
            double value = 0.0;
            double history = 0.0;
            if (detectStep(state, ranges_[p - 1][size_t(b)], value, history)) {
                bool taken = true;
                if (pass.found.size() < size_t(kMaxPoints)) {
                    pass.found.emplace_back(u, candidateOf(g, p, u, peakRanges_[p - 1][size_t(b)]));
                } else {
                    if (pass.blockBeyond < 0) {
                        pass.blockBeyond = u;
                    }
                    // The first pass fills the list alone: beyond the limit its onsets are not
                    // taken. The second's are measured against the room the first left, so they
                    // count as taken here (see PassOnsets::appendTo).
                    taken = p == 2;
                }
                if (taken) {
                    value = 65536.0;
                    history = 65536.0;
                }
            }
            state.previousValue = value;
            state.previousHistory = history;
        }
    }
    followed_ += count;
}

bool OnsetDetector::PassOnsets::appendTo(CandidateList& list, int64_t end) const {
    const size_t room = size_t(kMaxPoints - list.count());
    size_t k = 0;
    for (; k < found.size() && found[k].first < end && k < room; ++k) {
        list.append(found[k].second);
    }
    if (k < found.size()) {
        return found[k].first < end;
    }
    return k == room && blockBeyond >= 0 && blockBeyond < end;
}

bool OnsetDetector::appendTo(CandidateList& list, int64_t firstEnd, int64_t secondEnd) const {
    bool limited = passes_[0].appendTo(list, firstEnd);
    if (channels_ == 2) {
        limited = passes_[1].appendTo(list, secondEnd) || limited;
    }
    return limited;
}

namespace {

// The reports of the detection from the first block of the first pass on, once the onsets of the blocks
// are known; everyBlock: one before each block, else one whenever the percentage changes. On an
// abort the list holds what one pass after the other had appended by then.
bool reportDetection(const OnsetDetector& detector, int64_t from, int64_t to, bool everyBlock, CandidateList& list,
                     const SearchProgress& progress, bool& limitReached) {
    const Geometry g{int64_t(detector.dataLength()), int64_t(detector.channels()) * 2, detector.channels()};
    const int64_t blocks = detector.blocks();
    int last = -1;
    for (int64_t n = from; n < to; ++n) {
        const int p = n < blocks ? 1 : 2;
        const int64_t u = n < blocks ? n + 1 : n - blocks + 1;
        const int percent = detectionPercent(g, p, u);
        if (!everyBlock && percent == last) {
            continue;
        }
        last = percent;
        if (tick(progress, percent)) {
            limitReached = p == 1 ? detector.appendTo(list, u, 0) : detector.appendTo(list, blocks + 1, u);
            return false;
        }
    }
    return true;
}


} // namespace


bool detectOnsets(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress,
                  bool& limitReached) {
    const Geometry g = geometryOf(store);
    list.setCount(0);
    limitReached = false;
    OnsetDetector detector(g.channels, uint32_t(g.dataLength));
    const int64_t blocks = detector.blocks();
    // Blocks are read a few hundred at a time (about 200 KiB in stereo), so the memory stays fixed
    // and the system calls few; the first pass reports before each block as its onsets become
    // known, the second pass after the first.
    constexpr int64_t kBlocksPerRead = 256;
    sample::IoBuffer<int16_t> chunk(size_t(kBlocksPerRead * kFindSize * g.channels));
    for (int64_t first = 1; first <= blocks; first += kBlocksPerRead) {
        const int64_t count = std::min(kBlocksPerRead, blocks - first + 1);
        const int64_t samples = count * kFindSize * g.channels;
        store.readAudio((first - 1) * kFindSize * g.blockAlign, chunk.data(), size_t(samples) * 2);
        detector.feed(chunk.data(), size_t(samples));
        if (!reportDetection(detector, first - 1, first - 1 + count, true, list, progress, limitReached)) {
            return false;
        }
    }
    if (g.channels == 2 && !reportDetection(detector, blocks, 2 * blocks, true, list, progress, limitReached)) {
        return false;
    }
    limitReached = detector.appendTo(list, blocks + 1, blocks + 1);
    return true;
}

namespace search {

bool takeOnsets(const OnsetDetector& detector, CandidateList& list, const SearchProgress& progress,
                bool& limitReached) {
    list.setCount(0);
    limitReached = false;
    const int64_t blocks = detector.blocks();
    if (!reportDetection(detector, 0, blocks * detector.channels(), false, list, progress, limitReached)) {
        return false;
    }
    limitReached = detector.appendTo(list, blocks + 1, blocks + 1);
    return true;
}

} // namespace search

} // namespace cleavix::slicing
