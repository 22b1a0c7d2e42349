#include "session/PeakRebuildWorker.h"

namespace cleavix::session {

void PeakRebuildWorker::run(jobs::JobContext& context) {
    peaks_.setBlockBytes(blockBytes_);
    sample::BlockProgress progress;
    progress.report = [&context](uint64_t done, uint64_t total) {
        context.setProgress(double(done), double(total), 0, 100);
    };
    progress.stop = [this, &context] {
        if (context.stopRequested()) {
            stopped_ = true;
        }
        return stopped_.load();
    };
    sample::rebuildPeaks(store_, format_, peaks_, progress);
}

} // namespace cleavix::session
