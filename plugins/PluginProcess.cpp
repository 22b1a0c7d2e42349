#include "plugins/PluginProcess.h"

#include "editing/Blocks.h"
#include "editing/EditWorkers.h"
#include "sample/WorkFiles.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace cleavix::plugins {

using editing::Pace;

bool TPluginProcThread::feed(Pace& pace, sample::TFileAndMemoryStream& output, uint64_t& outBytes) {
    auto& data = editor_.store().stream();
    const uint16_t channels = editor_.store().format().channels;
    const bool oneOfStereo = channels == 2 && job_.channel != 3 && !job_.wholeSample;
    const size_t frameBytes = size_t(channels) * 2;
    const uint64_t total = job_.end - job_.start;
    const size_t blockFrames = chain_.blockFrames();
    std::vector<int16_t> raw(blockFrames * channels);
    std::vector<int16_t> in(blockFrames * 2);
    std::vector<int16_t> out;
    outBytes = 0;
    auto write = [&] {
        if (!out.empty()) {
            output.writeAll(out.data(), out.size() * 2);
            outBytes += out.size() * 2;
            out.clear();
        }
    };
    for (uint64_t done = 0; done < total;) {
        const size_t frames = size_t(std::min<uint64_t>(blockFrames, (total - done) / frameBytes));
        if (frames == 0) {
            break;
        }
        data.readAt(job_.start + done, raw.data(), frames * frameBytes);
        const int16_t* feedFrom = raw.data();
        if (oneOfStereo) {
            const size_t pick = job_.channel == 2 ? 1 : 0;
            for (size_t f = 0; f < frames; ++f) {
                in[f] = raw[f * 2 + pick];
            }
            feedFrom = in.data();
        }
        chain_.deliver(feedFrom, frames, out);
        write();
        done += frames * frameBytes;
        pace.report(double(done), double(total), 0, 80);
        if (pace.stopped()) {
            return false;
        }
    }
    chain_.finish(out);
    write();
    return true;
}

void TPluginProcThread::replace(Pace& pace, sample::TFileAndMemoryStream& output, uint64_t outBytes) {
    auto& data = editor_.store().stream();
    const auto& format = editor_.store().format();
    const uint16_t outChannels = uint16_t(chain_.outChannels());
    std::vector<uint8_t> block(editing::kCopyBlock);
    output.seek(0);
    if (job_.wholeSample) {
        // The output is the new sample: the data length follows the channel count.
        data.setSize(int64_t(outBytes));
        data.seek(0);
        editing::copyBlocks(output, data, outBytes, pace, 90, 90);
        outcome_.dataLength = uint32_t(outBytes);
        outcome_.channels = outChannels;
        outcome_.newEnd = uint32_t(outBytes);
        return;
    }
    outcome_.dataLength = format.dataLength;
    outcome_.channels = format.channels;
    if (format.channels == 2 && job_.channel != 3) {
        // Into the chosen channel of the frames already there; the range keeps its length.
        const size_t pick = job_.channel == 2 ? 1 : 0;
        std::vector<int16_t> mono(editing::kCopyBlock / 2);
        std::vector<int16_t> frames(editing::kCopyBlock);
        for (uint64_t done = 0; done < outBytes;) {
            const size_t n = size_t(std::min<uint64_t>(mono.size() * 2, outBytes - done));
            output.readAt(done, mono.data(), n);
            const uint64_t at = job_.start + done * 2;
            data.readAt(at, frames.data(), n * 2);
            for (size_t w = 0; w < n / 2; ++w) {
                frames[w * 2 + pick] = mono[w];
            }
            data.writeAllAt(at, frames.data(), n * 2);
            done += n;
        }
        outcome_.newEnd = uint32_t(job_.start + outBytes * 2);
        return;
    }
    data.seek(job_.start);
    editing::copyBlocks(output, data, outBytes, pace, 90, 90);
    outcome_.newEnd = uint32_t(job_.start + outBytes);
}

void TPluginProcThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    const auto& format = editor_.store().format();
    const uint32_t length = format.dataLength;
    outcome_.dataLength = length;
    outcome_.channels = format.channels;
    job_.end = std::min(job_.end, length);
    job_.start = std::min(job_.start, job_.end);
    editing::ScratchFile scratch(editor_.workDir(), sample::kPluginPrefix);
    uint64_t outBytes = 0;
    if (!feed(pace, scratch.stream(), outBytes)) {
        outcome_.stopped = true;
        return;
    }
    outcome_.latency = chain_.latency();
    // The output has as many frames as went in; anything else is the plug-in's failure, and the
    // store stays as it was.
    const uint64_t inFrames = (job_.end - job_.start) / (uint64_t(format.channels) * 2);
    const bool oneOfStereo = format.channels == 2 && job_.channel != 3 && !job_.wholeSample;
    const uint64_t expected = inFrames * 2 * (oneOfStereo ? 1 : uint64_t(chain_.outChannels()));
    if (outBytes != expected || (!job_.wholeSample && !oneOfStereo && chain_.outChannels() != format.channels) ||
        (job_.wholeSample && outBytes > 0xFFFFFFF0ULL)) {
        outcome_.error = kMsgPluginError;
        return;
    }
    // From here on the run goes to its end. With undo on, the whole sample goes to the undo file
    // only now (a whole-sample record, since a run may change the channel count): a run that was
    // cancelled or failed before this point leaves the previous undo as it was.
    Pace firm = pace.firm();
    if (editor_.undoEnabled()) {
        auto& undo = *editor_.undoFileSlot();
        undo.setSize(0);
        undo.seek(0);
        editor_.store().stream().seek(0);
        editing::copyBlocks(editor_.store().stream(), undo, length, firm, 80, 90);
        context.frame().setUndoReady(true);
    }
    editor_.edit().applied = true;
    outcome_.applied = true;
    replace(firm, scratch.stream(), outBytes);
    editing::rebuildPeaksAfter(editor_, pace, outcome_.dataLength, outcome_.channels, false);
}

} // namespace cleavix::plugins
