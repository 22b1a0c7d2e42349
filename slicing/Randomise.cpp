#include "slicing/Randomise.h"

#include <algorithm>
#include <cstring>

namespace cleavix::slicing {

std::vector<FrameSpan> randomiseSegments(const SlicePointList& list, uint32_t start, uint32_t end,
                                         const sample::SampleFormat& format, int channel) {
    const int64_t frameBytes = format.blockAlign();
    const int64_t totalFrames = (int64_t(end) - int64_t(start)) / frameBytes;
    std::vector<int64_t> bounds{0};
    for (int k = 1; k <= list.count(); ++k) {
        const SlicePoint& p = list.at(k);
        if ((channel == 1 && p.channel != kCodeFirst) || (channel == 2 && p.channel != kCodeSecondOrMono)) {
            continue;
        }
        if (p.position <= start || p.position >= end) {
            continue;
        }
        const int64_t frame = (int64_t(format.frameStart(p.position)) - int64_t(start)) / frameBytes;
        if (frame > bounds.back() && frame < totalFrames) {
            bounds.push_back(frame);
        }
    }
    if (bounds.size() == 1) {
        return {};
    }
    bounds.push_back(totalFrames);
    std::vector<FrameSpan> spans;
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        spans.push_back({bounds[i], bounds[i + 1] - bounds[i]});
    }
    return spans;
}

std::vector<int> shuffleOrder(int count, const std::function<int(int)>& draw) {
    std::vector<int> remaining(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        remaining[size_t(i)] = i;
    }
    std::vector<int> order;
    for (int k = count - 1; k >= 0; --k) {
        const int r = k == 0 ? 0 : std::clamp(draw(k), 0, k - 1);
        order.push_back(remaining[size_t(r)]);
        remaining[size_t(r)] = remaining[size_t(k)];
    }
    return order;
}

std::vector<int> randomiseChannels(uint16_t channels, const ChannelMode& mode) {
    if (channels != 2 || mode.linked || mode.selection == 3) {
        return {0};
    }
    return {mode.selection};
}

void trandom::copySegment(const FrameSpan& from, int64_t toFrame, int channel) {
    const int64_t frameBytes = store_.format().blockAlign();
    constexpr int64_t kBlockBytes = 65536;
    const int64_t framesPerBlock = kBlockBytes / frameBytes;
    auto& stream = store_.stream();
    for (int64_t done = 0; done < from.frames;) {
        const int64_t frames = std::min(framesPerBlock, from.frames - done);
        const size_t bytes = size_t(frames * frameBytes);
        buffer_.assign(bytes, 0);
        scratch_.readAt(uint64_t((from.first + done) * frameBytes), buffer_.data(), bytes);
        const uint64_t at = uint64_t(start_) + uint64_t((toFrame + done) * frameBytes);
        if (channel == 0) {
            stream.writeAllAt(at, buffer_.data(), bytes);
        } else {
            // One channel of stereo: every second sample, the other channel left as it is.
            target_.assign(bytes, 0);
            stream.readAt(at, target_.data(), bytes);
            const size_t offset = channel == 1 ? 0 : 2;
            for (size_t f = 0; f < size_t(frames); ++f) {
                std::memcpy(target_.data() + f * 4 + offset, buffer_.data() + f * 4 + offset, 2);
            }
            stream.writeAllAt(at, target_.data(), bytes);
        }
        done += frames;
    }
}

bool trandom::shuffle(const std::function<bool(int, int)>& segmentDone) {
    const sample::SampleFormat& format = store_.format();
    const uint32_t end = start_ + length_;
    // The region as it was: the shuffle reads from this copy and writes the store.
    scratch_.setSize(0);
    constexpr size_t kBlockBytes = 65536;
    std::vector<uint8_t> block(kBlockBytes);
    for (uint64_t done = 0; done < length_;) {
        const size_t n = size_t(std::min<uint64_t>(kBlockBytes, length_ - done));
        store_.readAudio(int64_t(start_ + done), block.data(), n);
        scratch_.writeAllAt(done, block.data(), n);
        done += n;
    }
    std::vector<std::pair<int, std::vector<FrameSpan>>> groups;
    int total = 0;
    for (int channel : randomiseChannels(format.channels, mode_)) {
        groups.push_back({channel, randomiseSegments(list_, start_, end, format, channel)});
        total += int(groups.back().second.size());
    }
    int segmentsDone = 0;
    for (const auto& [channel, spans] : groups) {
        const std::vector<int> order = shuffleOrder(int(spans.size()), [&](int k) {
            return std::uniform_int_distribution<int>(0, k - 1)(random_);
        });
        int64_t writeFrame = 0;
        for (int number : order) {
            const FrameSpan& span = spans[size_t(number)];
            copySegment(span, writeFrame, channel);
            writeFrame += span.frames;
            if (!segmentDone(++segmentsDone, total)) {
                return false;
            }
        }
    }
    return true;
}

void trandom::run(jobs::JobContext& context) {
    try {
        const bool complete = shuffle([&](int done, int total) {
            context.setProgress(double(done), double(total), 0, 100);
            return !context.stopRequested();
        });
        outcome_.aborted = !complete;
        if (peaks_ != nullptr) {
            sample::rebuildPeaks(store_.stream(), store_.format(), *peaks_);
        }
    } catch (const std::exception& e) {
        outcome_.failed = true;
        outcome_.error = e.what();
    }
}

} // namespace cleavix::slicing
