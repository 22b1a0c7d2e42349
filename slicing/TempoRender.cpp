#include "slicing/TempoRender.h"

#include "slicing/SegmentExport.h"

#include <algorithm>
#include <cmath>

namespace cleavix::slicing {

TempoPlan planTempo(const SlicePointList& list, uint32_t left, uint32_t right, const sample::SampleFormat& format,
                    double fromTempo, double toTempo) {
    TempoPlan plan;
    plan.channels = format.channels == 2 ? 2 : 1;
    if (!(fromTempo > 0) || !std::isfinite(fromTempo)) {
        plan.error = "The loop has no tempo: set its bars and beats first";
        return plan;
    }
    if (!(toTempo > 0) || !std::isfinite(toTempo)) {
        plan.error = "The tempo to render at must be a positive number of beats per minute";
        return plan;
    }
    const uint32_t frameBytes = format.blockAlign();
    const auto segments = loopSegments(list, left, right, format, 0);
    const uint64_t from = format.frameStart(left);
    const uint64_t loopFrames = segments.empty() ? 0 : (format.frameStart(right) - from) / frameBytes;
    if (loopFrames == 0) {
        plan.error = "The loop is empty: set the locators around the part to render";
        return plan;
    }
    const long double ratio = (long double)fromTempo / toTempo;
    const long double outFrames = std::llround((long double)loopFrames * ratio);
    // A Wave file's data chunk holds at most 4 GiB.
    if (outFrames * frameBytes > 0xFFFFFFF0L || outFrames < 1) {
        plan.error = "The loop at that tempo would be longer than a Wave file holds";
        return plan;
    }
    plan.outFrames = uint64_t(outFrames);
    for (const Segment& s : segments) {
        TempoSlice slice;
        slice.sourceFrame = s.start / frameBytes;
        slice.frames = s.length / frameBytes;
        const uint64_t offset = slice.sourceFrame - from / frameBytes;
        slice.outFrame = std::min<uint64_t>(uint64_t(std::llround((long double)offset * ratio)), plan.outFrames);
        plan.slices.push_back(slice);
    }
    for (size_t i = 0; i < plan.slices.size(); ++i) {
        TempoSlice& s = plan.slices[i];
        const uint64_t next = i + 1 < plan.slices.size() ? plan.slices[i + 1].outFrame : plan.outFrames;
        const uint64_t room = next > s.outFrame ? next - s.outFrame : 0;
        s.playFrames = std::min(s.frames, room);
        // Untouched only when it runs straight into what follows it in the original.
        s.fade = !(s.playFrames == s.frames && s.outFrame + s.frames == next);
    }
    return plan;
}

namespace {

// The first slice whose played part ends after `frame`. The ends never fall: each slice plays no
// further than where the next starts.
size_t sliceHolding(const TempoPlan& plan, uint64_t frame) {
    const auto it = std::partition_point(plan.slices.begin(), plan.slices.end(), [frame](const TempoSlice& s) {
        return s.outFrame + s.playFrames <= frame;
    });
    return size_t(it - plan.slices.begin());
}

} // namespace

uint64_t sourceFrameAt(const TempoPlan& plan, uint64_t outFrame) {
    if (plan.slices.empty()) {
        return 0;
    }
    const size_t i = sliceHolding(plan, outFrame);
    if (i < plan.slices.size() && plan.slices[i].outFrame <= outFrame) {
        const TempoSlice& s = plan.slices[i];
        return s.sourceFrame + (outFrame - s.outFrame);
    }
    // Silence: after the slice before it (or, before the first slice, at the first's start).
    const TempoSlice& s = i == 0 ? plan.slices.front() : plan.slices[i - 1];
    return i == 0 ? s.sourceFrame : s.sourceFrame + s.playFrames;
}

TempoSource::TempoSource(const sample::TFileAndMemoryStream& store, TempoPlan plan)
    : store_(store), plan_(std::move(plan)) {}

void TempoSource::seek(uint64_t frame) {
    frame_ = std::min(frame, plan_.outFrames);
    slice_ = sliceHolding(plan_, frame_);
}

size_t TempoSource::read(int16_t* out, size_t count) {
    const size_t channels = plan_.channels;
    size_t frames = std::min<uint64_t>(count / channels, plan_.outFrames - frame_);
    size_t done = 0;
    while (done < frames) {
        while (slice_ < plan_.slices.size() &&
               plan_.slices[slice_].outFrame + plan_.slices[slice_].playFrames <= frame_) {
            ++slice_;
        }
        int16_t* at = out + done * channels;
        if (slice_ == plan_.slices.size() || plan_.slices[slice_].outFrame > frame_) {
            // Silence up to the next slice.
            const uint64_t until = slice_ == plan_.slices.size() ? plan_.outFrames : plan_.slices[slice_].outFrame;
            const size_t n = size_t(std::min<uint64_t>(frames - done, until - frame_));
            std::fill(at, at + n * channels, int16_t(0));
            done += n;
            frame_ += n;
            continue;
        }
        const TempoSlice& s = plan_.slices[slice_];
        const uint64_t into = frame_ - s.outFrame;
        const size_t n = size_t(std::min<uint64_t>(frames - done, s.playFrames - into));
        const uint64_t bytes = uint64_t(n) * channels * 2;
        const size_t got = store_.readAt((s.sourceFrame + into) * channels * 2, at, size_t(bytes));
        if (got < bytes) {
            std::fill(reinterpret_cast<uint8_t*>(at) + got, reinterpret_cast<uint8_t*>(at) + bytes, uint8_t(0));
        }
        if (s.fade) {
            // A straight fade over the last frames that play, down to silence at the cut.
            const uint64_t fade = std::min<uint64_t>(kTempoFadeFrames, s.playFrames);
            const uint64_t fadeStart = s.playFrames - fade;
            for (size_t f = 0; f < n; ++f) {
                const uint64_t k = into + f;
                if (k >= fadeStart) {
                    const double gain = double(s.playFrames - k - 1) / double(fade);
                    for (size_t c = 0; c < channels; ++c) {
                        int16_t& v = at[f * channels + c];
                        v = int16_t(std::lround(v * gain));
                    }
                }
            }
        }
        done += n;
        frame_ += n;
    }
    return done * channels;
}

sample::WriteResult writeTempoRendering(const sample::TFileAndMemoryStream& store, const TempoPlan& plan,
                                        const std::string& fileName, uint8_t saveBits, uint32_t sampleRate,
                                        const sample::BlockProgress& progress) {
    TempoSource source(store, plan);
    sample::WriteRequest request;
    request.fileName = fileName;
    request.length = uint32_t(source.outputBytes());
    request.layout = plan.channels == 2 ? sample::LayoutStereo : sample::LayoutMono;
    request.sampleChannels = plan.channels;
    request.saveBits = saveBits;
    request.sampleRate = sampleRate;
    return sample::WriteSplit(request, store, &source, progress);
}

} // namespace cleavix::slicing
