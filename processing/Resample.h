#pragma once
// Resample: the whole sample converted to another rate, keeping its pitch and length (unlike
// Adjust Sample Rate, which only reassigns the rate). The worker reads the backup -- the sample as
// it was, which is also the undo copy -- and writes the converted frames over the store; the
// command's completion then scales the slice points, the locators and the selection.
//
// Threads: the worker runs on the job frame's worker thread and touches only the store, the
// backup and the peak table; the scaling helpers are for the completion on the main thread.
#include "editing/Editor.h"
#include "jobs/JobFrame.h"
#include "slicing/SlicePoint.h"

#include <cstdint>

namespace cleavix::processing {

struct ResamplePlan {
    uint32_t fromRate = 0;
    uint32_t toRate = 0;
    uint16_t channels = 1;
    uint64_t frames = 0;    // whole frames of the sample now
    uint64_t newFrames = 0; // round(frames x toRate / fromRate)
    uint32_t blockAlign() const { return channels * 2u; }
};

// Reads the backup in blocks through the rate converter into the store. Takes all the disk space
// it needs before it writes a byte over the sample; a stop or a failure after that copies the
// backup back, so the store is as it was.
class TResampleThread final : public jobs::Job {
public:
    TResampleThread(editing::Editor& editor, ResamplePlan plan) : editor_(editor), plan_(plan) {}
    void run(jobs::JobContext& context) override;

private:
    bool convert(sample::TFileAndMemoryStream& from, sample::TFileAndMemoryStream& to, editing::Pace& pace);
    void putBack(sample::TFileAndMemoryStream& backup, const std::vector<uint8_t>& tail, int64_t oldSize);

    editing::Editor& editor_;
    ResamplePlan plan_;
};

// A point's byte position at the new rate: its frame scaled, kept inside the sample (below the
// new frame count), the channel's offset inside the frame kept.
uint32_t scalePointPosition(uint32_t position, const ResamplePlan& plan);
// An edge (a locator, a selection mark) may stand at the very end: its frame is held to the new
// frame count itself.
uint32_t scaleEdge(uint32_t position, const ResamplePlan& plan);
// Every point of the list scaled; points that land on the same place in the same channel become
// one (the first is kept). The markers are set to 0 and the new length.
void scalePoints(slicing::CandidateList& list, const ResamplePlan& plan);

} // namespace cleavix::processing
