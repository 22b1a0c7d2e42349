#include "session/LoadWorker.h"

#include "sample/SampleLoader.h"
#include "session/Session.h"
#include "slicing/SliceSearch.h"

#include <memory>

namespace cleavix::session {

namespace {

// The slice point search's detection, done on the blocks as the load passes them: the search that
// follows a load then need not read the whole sample again.
class DetectionOnLoad final : public sample::LoadObserver {
public:
    void begin(const sample::SampleFormat& format) override {
        detector = std::make_shared<slicing::OnsetDetector>(format.channels, format.dataLength);
    }
    void addSamples(const int16_t* samples, size_t count) override { detector->feed(samples, count); }
    std::shared_ptr<slicing::OnsetDetector> detector;
};

} // namespace

void ttload::run(jobs::JobContext& context) {
    // Main thread: forget the previous sample.
    if (!context.call([&] { session_.resetForLoad(fileName_); })) {
        aborted_ = true;
        return;
    }
    DetectionOnLoad detection;
    try {
        sample::BlockProgress progress;
        progress.report = [&](uint64_t done, uint64_t total) {
            context.setProgress(double(done), double(total), 0, 100);
        };
        progress.stop = [&] { return context.stopRequested(); };
        const auto outcome = sample::loadSampleData(fileName_, session_.store().stream(), session_.store().format(),
                                                    &session_.peaks(), progress, &detection);
        if (outcome == sample::LoadOutcome::Aborted) {
            aborted_ = true;
            return;
        }
    } catch (const std::exception& error) {
        failed_ = true;
        error_ = error.what();
        return;
    }
    // Main thread: the new sample's title, status and per-sample state.
    if (!context.call([&] {
            session_.finishLoad(fileName_);
            session_.slicer().setLoadDetection(std::move(detection.detector));
        })) {
        aborted_ = true;
    }
}

} // namespace cleavix::session
