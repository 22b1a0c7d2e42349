#pragma once
// The loop at another tempo by re-triggering its slices: each slice starts at its time scaled by
// old tempo / new tempo and plays its own audio, unchanged, until the next slice starts (faster:
// the slice is cut) or its own end (slower: silence follows). Where a slice is cut short, or
// silence follows it, its last few frames fade out so the cut does not click; a slice that runs
// straight into the next, as every slice does at the loop's own tempo, is left untouched, so the
// rendering at the same tempo is the loop itself. Rendered block by block from the store as it is
// written, so memory does not grow with the loop.
//
// Threads: planTempo is a pure function; a TempoSource is read by one worker at a time.
#include "sample/SampleFormat.h"
#include "sample/SampleSource.h"
#include "sample/WavWriter.h"
#include "slicing/SlicePoint.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::slicing {

// Frames of the fade at a cut: about 1.5 ms at 44.1 kHz.
inline constexpr uint32_t kTempoFadeFrames = 64;

struct TempoSlice {
    uint64_t sourceFrame = 0; // first frame of the slice in the store
    uint64_t frames = 0;      // the slice's own length
    uint64_t outFrame = 0;    // where it starts in the rendering
    uint64_t playFrames = 0;  // how much of it plays
    bool fade = false;        // its played part ends in a fade
};

struct TempoPlan {
    std::vector<TempoSlice> slices;
    uint64_t outFrames = 0;
    uint16_t channels = 2;
    std::string error; // why there is no rendering; the plan is then empty
};

// The slices of the loop [left, right) (every slice point; whole frames) at `toTempo` for a loop
// whose own tempo is `fromTempo`. Refused: no slices, a tempo that is not a positive number, or a
// rendering longer than a Wave file holds.
TempoPlan planTempo(const SlicePointList& list, uint32_t left, uint32_t right, const sample::SampleFormat& format,
                    double fromTempo, double toTempo);

// The loop frame (counted from the store's start) that sounds at frame `outFrame` of the
// rendering: within a slice's played part its own frame; in the silence after a slice the frame
// just past what it played, where the slice stopped.
uint64_t sourceFrameAt(const TempoPlan& plan, uint64_t outFrame);

// The rendering of a plan as 16-bit samples, interleaved as the store holds them.
class TempoSource final : public sample::SampleSource {
public:
    TempoSource(const sample::TFileAndMemoryStream& store, TempoPlan plan);
    size_t read(int16_t* out, size_t count) override;
    uint64_t outputBytes() const override { return plan_.outFrames * plan_.channels * 2; }
    // The next read starts at output frame `frame` (clamped to the end); a read after a seek gives
    // the same samples as reading up to there would.
    void seek(uint64_t frame);
    uint64_t frame() const { return frame_; }
    const TempoPlan& plan() const { return plan_; }

private:
    const sample::TFileAndMemoryStream& store_;
    TempoPlan plan_;
    uint64_t frame_ = 0; // next output frame
    size_t slice_ = 0;   // first slice that may still hold frame_
};

// Writes the rendering of `plan` to `fileName` (Wave, or AIFF by its name) through WriteSplit:
// beside the target, renamed over it only when complete. Never throws.
sample::WriteResult writeTempoRendering(const sample::TFileAndMemoryStream& store, const TempoPlan& plan,
                                        const std::string& fileName, uint8_t saveBits, uint32_t sampleRate,
                                        const sample::BlockProgress& progress = {});

} // namespace cleavix::slicing
