#include "session/LoadWorker.h"

#include "sample/SampleLoader.h"
#include "session/Session.h"

namespace cleavix::session {

void ttload::run(jobs::JobContext& context) {
    // Main thread: forget the previous sample.
    if (!context.call([&] { session_.resetForLoad(fileName_); })) {
        aborted_ = true;
        return;
    }
    try {
        sample::BlockProgress progress;
        progress.report = [&](uint64_t done, uint64_t total) {
            context.setProgress(double(done), double(total), 0, 100);
        };
        progress.stop = [&] { return context.stopRequested(); };
        const auto outcome = sample::loadSampleData(fileName_, session_.store().stream(), session_.store().format(),
                                                    &session_.peaks(), progress);
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
    if (!context.call([&] { session_.finishLoad(fileName_); })) {
        aborted_ = true;
    }
}

} // namespace cleavix::session
