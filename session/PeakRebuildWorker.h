#pragma once
// TScanWaveThread: rebuilds the peak table from the whole store at a new block size (the
// "WaveCacheSize" preference changed while a sample is loaded).
//
// Threads: run() on the job frame's worker thread; it reads the store and writes only the peak
// table, which the window does not draw from while the job runs (the frame holds the busy state).
#include "jobs/JobFrame.h"
#include "sample/PeakTable.h"

#include <atomic>

namespace cleavix::session {

class PeakRebuildWorker final : public jobs::Job {
public:
    PeakRebuildWorker(const sample::TFileAndMemoryStream& store, const sample::SampleFormat& format,
                      sample::PeakTable& peaks, uint32_t blockBytes)
        : store_(store), format_(format), peaks_(peaks), blockBytes_(blockBytes) {}
    void run(jobs::JobContext& context) override;
    // True when Abort stopped the pass before the end (the table then covers only a prefix).
    bool stopped() const { return stopped_; }

private:
    const sample::TFileAndMemoryStream& store_;
    const sample::SampleFormat& format_;
    sample::PeakTable& peaks_;
    uint32_t blockBytes_;
    std::atomic<bool> stopped_{false};
};

} // namespace cleavix::session
