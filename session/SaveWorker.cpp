#include "session/SaveWorker.h"

#include "session/Session.h"

namespace cleavix::session {

void tmainsave::run(jobs::JobContext& context) {
    const sample::SampleFormat& format = session_.format();
    sample::WriteRequest request;
    request.fileName = fileName_;
    request.start = 0;
    request.length = format.dataLength;
    request.layout = format.channels == 2 ? sample::LayoutStereo : sample::LayoutMono;
    request.sampleChannels = format.channels;
    request.saveBits = format.saveBits;
    request.sampleRate = format.sampleRate;
    sample::BlockProgress progress;
    progress.report = [&](uint64_t done, uint64_t total) { context.setProgress(double(done), double(total), 0, 100); };
    progress.stop = [&] { return context.terminated(); };
    result_ = sample::WriteSplit(request, session_.store().stream(), nullptr, progress);
}

} // namespace cleavix::session
