#include "processing/StripSilence.h"

#include "editing/Blocks.h"
#include "editing/EditWorkers.h"

#include <cstdlib>

namespace cleavix::processing {

std::vector<Span> findSilences(const std::function<void(uint32_t, size_t, uint8_t*)>& read, uint32_t start,
                               uint32_t end, uint16_t channels, int threshold, int gap,
                               const std::function<bool(uint32_t)>& blockDone) {
    std::vector<Span> found;
    const uint32_t frameBytes = channels * 2u;
    const uint32_t blockBytes = 16384u * channels;
    int minimum = 50;
    uint32_t counter = 0;
    bool inSilence = false;
    uint32_t silenceStart = 0;
    std::vector<uint8_t> block;
    for (uint32_t at = start; at < end && int(found.size()) < kMaxSilences;) {
        const uint32_t n = std::min(blockBytes, end - at);
        block.assign(n, 0);
        read(at, n, block.data());
        for (uint32_t i = 0; i + frameBytes <= n && int(found.size()) < kMaxSilences; i += frameBytes) {
            const auto* p = block.data() + i;
            const int l = std::abs(int(int16_t(uint16_t(p[0] | p[1] << 8))));
            const int level = channels == 2 ? (l + std::abs(int(int16_t(uint16_t(p[2] | p[3] << 8))))) / 2 : l;
            if (!inSilence) {
                if (level >= threshold) {
                    counter = 0;
                    continue;
                }
                if (counter == 0) {
                    silenceStart = at + i;
                }
                ++counter;
                if (counter >= uint32_t(channels) * uint32_t(minimum)) {
                    inSilence = true;
                }
            } else if (level > threshold) {
                found.push_back({silenceStart, at + i});
                minimum = gap;
                counter = 0;
                inSilence = false;
            }
        }
        at += n;
        if (blockDone && !blockDone(at)) {
            return found;
        }
    }
    if (inSilence && int(found.size()) < kMaxSilences) {
        found.push_back({silenceStart, end});
    }
    return found;
}

void Silence::run(jobs::JobContext& context) {
    editing::Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    auto& record = editor_.record();
    auto& data = editor_.store().stream();
    const uint32_t length = editor_.store().dataLength();
    const uint16_t channels = editor_.store().format().channels;
    e.scratchLength = length;
    e.newEnd = e.opEnd;
    if (!editing::makeBackup(editor_, context, pace, e.opStart, e.opEnd - e.opStart,
                             jobs::ProcessMode::RemovingSilence, false)) {
        outcome_.stopped = true;
        editing::rebuildPeaksAfter(editor_, pace, length, channels, true);
        return;
    }
    bool stopped = false;
    outcome_.silences = findSilences(
        [&](uint32_t at, size_t n, uint8_t* out) { data.readAt(at, out, n); }, e.opStart, e.opEnd, channels,
        threshold_, gap_, [&](uint32_t at) {
            pace.report(double(at), double(e.opEnd), 0, 50);
            stopped = pace.stopped();
            return !stopped;
        });
    if (stopped) {
        // Nothing has moved yet: the sample is as it was.
        outcome_.stopped = true;
        outcome_.silences.clear();
        editing::rebuildPeaksAfter(editor_, pace, length, channels, true);
        return;
    }
    const auto& silences = outcome_.silences;
    if (silences.empty()) {
        record.undoCode = 0;
        editing::rebuildPeaksAfter(editor_, pace, length, channels, false);
        return;
    }
    e.applied = true;
    // The joins move the audio: once begun, they run to the end.
    editing::Pace firm = pace.firm();
    uint32_t total = 0;
    const size_t count = silences.size();
    for (size_t k = 0; k < count; ++k) {
        // The audio between this silence and the next (or the range's end) closes up.
        const uint32_t from = silences[k].end;
        const uint32_t to = k + 1 < count ? silences[k + 1].start : e.opEnd;
        const int p0 = int(50 + 40 * k / count);
        const int p1 = int(50 + 40 * (k + 1) / count);
        editing::moveBlock(data, from, silences[k].start - total, to - from, firm, p0, p1);
        total += silences[k].end - silences[k].start;
    }
    if (editor_.undoEnabled()) {
        record.pasteLength = (e.opEnd - e.opStart) - total;
    }
    e.newEnd = e.opEnd - total;
    if (length > e.opEnd) {
        editing::moveBlock(data, e.opEnd, e.newEnd, length - e.opEnd, firm, 70, 90);
    }
    data.setSize(length - total);
    e.scratchLength = length - total;
    outcome_.removed = total;
    editing::rebuildPeaksAfter(editor_, pace, e.scratchLength, channels, false);
}

} // namespace cleavix::processing
