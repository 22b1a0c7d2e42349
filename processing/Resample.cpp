#include "processing/Resample.h"

#include "editing/EditWorkers.h"
#include "editing/PointShift.h"
#include "processing/RateConverter.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace cleavix::processing {

namespace {
constexpr size_t kBlockFrames = 16384; // input frames read from the backup at a time
}

uint32_t scalePointPosition(uint32_t position, const ResamplePlan& plan) {
    const uint32_t align = plan.blockAlign();
    const uint64_t frame = scaledFrame(position / align, plan.fromRate, plan.toRate);
    const uint64_t last = plan.newFrames > 0 ? plan.newFrames - 1 : 0;
    return uint32_t(std::min(frame, last) * align + position % align);
}

uint32_t scaleEdge(uint32_t position, const ResamplePlan& plan) {
    const uint32_t align = plan.blockAlign();
    const uint64_t frame = scaledFrame(position / align, plan.fromRate, plan.toRate);
    return uint32_t(std::min(frame, plan.newFrames) * align);
}

void scalePoints(slicing::CandidateList& list, const ResamplePlan& plan) {
    int out = 1;
    for (int k = 1; k <= list.count(); ++k) {
        slicing::SlicePoint p = list.at(k);
        p.position = scalePointPosition(p.position, plan);
        // The positions stay in order (the scaling never decreases); a downsample can bring two
        // points of one channel onto one frame, where a second would only be an empty segment.
        bool twin = false;
        for (int j = out - 1; j >= 1 && list.at(j).position == p.position; --j) {
            twin = twin || list.at(j).channel == p.channel;
        }
        if (!twin) {
            list.at(out++) = p;
        }
    }
    list.setCount(out - 1);
    editing::settleMarkers(list, uint32_t(plan.newFrames * plan.blockAlign()));
}

bool TResampleThread::convert(sample::TFileAndMemoryStream& from, sample::TFileAndMemoryStream& to,
                              editing::Pace& pace) {
    const uint32_t align = plan_.blockAlign();
    RateConverter converter(plan_.fromRate, plan_.toRate, plan_.channels, plan_.newFrames);
    uint64_t written = 0;
    const RateConverter::Sink sink = [&](const int16_t* samples, size_t frames) {
        to.writeAllAt(written * align, samples, frames * align);
        written += frames;
    };
    std::vector<int16_t> block(size_t(std::min<uint64_t>(kBlockFrames, plan_.frames)) * plan_.channels);
    for (uint64_t done = 0; done < plan_.frames;) {
        const size_t n = size_t(std::min<uint64_t>(kBlockFrames, plan_.frames - done));
        const size_t bytes = n * align;
        if (from.readAt(done * align, block.data(), bytes) != bytes) {
            throw sample::StreamError("The backup of the sample ended early");
        }
        converter.feed(block.data(), n, sink);
        done += n;
        pace.report(double(done), double(plan_.frames), 10, 90);
        if (done < plan_.frames && pace.stopped()) {
            return false;
        }
    }
    converter.finish(sink);
    if (written != plan_.newFrames) {
        throw sample::StreamError("The rate converter gave another length");
    }
    return true;
}

void TResampleThread::putBack(sample::TFileAndMemoryStream& backup, const std::vector<uint8_t>& tail,
                              int64_t oldSize) {
    // Over bytes the store already has: this takes no disk space, so it works on a full disk.
    auto& data = editor_.store().stream();
    const uint64_t length = plan_.frames * plan_.blockAlign();
    std::vector<uint8_t> block(editing::kCopyBlock);
    for (uint64_t done = 0; done < length;) {
        const size_t n = size_t(std::min<uint64_t>(block.size(), length - done));
        if (backup.readAt(done, block.data(), n) != n) {
            throw sample::StreamError("The backup of the sample ended early");
        }
        data.writeAllAt(done, block.data(), n);
        done += n;
    }
    if (!tail.empty()) {
        data.writeAllAt(length, tail.data(), tail.size());
    }
    if (data.size() != oldSize) {
        data.setSize(oldSize);
    }
}

void TResampleThread::run(jobs::JobContext& context) {
    editing::Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    auto& data = editor_.store().stream();
    const uint32_t align = plan_.blockAlign();
    const uint32_t length = uint32_t(plan_.frames * align);
    const uint32_t newLength = uint32_t(plan_.newFrames * align);
    e.scratchLength = length;
    if (!editing::makeBackup(editor_, context, pace, 0, length, jobs::ProcessMode::Resampling, true)) {
        e.refused = true; // stopped before anything changed: the previous undo stays
        return;
    }
    sample::TFileAndMemoryStream* backup = editor_.backupStream();
    if (backup == nullptr) {
        throw sample::StreamError("No backup of the sample");
    }
    // The bytes after the audio that an upsample writes over (the store's guard bytes).
    const int64_t oldSize = data.size();
    std::vector<uint8_t> tail(size_t(std::max<int64_t>(0, std::min<int64_t>(oldSize, newLength) - length)));
    if (!tail.empty() && data.readAt(length, tail.data(), tail.size()) != tail.size()) {
        throw sample::StreamError("Cannot read the working file");
    }
    // All the room first: a full disk refuses here, before a byte of the sample changes.
    if (int64_t(newLength) > oldSize) {
        data.setSize(newLength);
    }
    try {
        if (convert(*backup, data, pace)) {
            data.setSize(newLength);
            e.applied = true;
            e.scratchLength = newLength;
            editing::rebuildPeaksAfter(editor_, pace, newLength, plan_.channels, false);
            return;
        }
    } catch (const std::exception&) {
        putBack(*backup, tail, oldSize);
        try {
            editing::rebuildPeaksAfter(editor_, pace, length, plan_.channels, true);
        } catch (const std::exception&) {
            // The failure that matters is being reported; the peaks are redrawn on the next change.
        }
        throw;
    }
    // Stopped: everything goes back as if the command had not run.
    putBack(*backup, tail, oldSize);
    editing::rebuildPeaksAfter(editor_, pace, length, plan_.channels, true);
    e.refused = true;
}

} // namespace cleavix::processing
