// The whole search: detection (or the load's onsets), the refinement, the sort, the segment
// levels and strengths, and the linked merge of stereo points; and the worker that runs it.
#include "slicing/search/Common.h"
#include "slicing/search/Stages.h"

#include <algorithm>
#include <vector>

namespace cleavix::slicing {

using search::applyStrengths;
using search::levels;
using search::refineCandidates;
using search::roundToInt;
using search::takeOnsets;
using search::tick;

int scaledWindow(int frames, uint32_t sampleRate) {
    if (sampleRate == 0) {
        return frames;
    }
    const double scaled = std::nearbyint(double(frames) / (44100.0 / double(sampleRate)));
    return std::max(1, static_cast<int>(std::min(scaled, 1.0e6)));
}

int sliderForPercent(double percent) { return roundToInt(percent / 100.0 * 65535.0); }

int percentForThreshold(int64_t threshold) { return roundToInt(double(65535 - threshold) / 65535.0 * 100.0); }

void linkedMerge(CandidateList& list, uint32_t dataLength, uint16_t channels, int viewWidth) {
    const double distance = double(dataLength) / double(std::max(1, viewWidth)) * double(channels) * 2.0;
    // Distances are measured from the last entry kept (its position before frame alignment), not
    // from the last entry seen: measured from every entry, a run of hits closer together than the
    // distance -- any busy loop in a long file, seen whole -- would wipe itself out entirely.
    double before = 0.0;
    int kept = 0;
    const int n = list.count();
    for (int k = 1; k <= n; ++k) {
        SlicePoint point = list.at(k);
        const double position = double(point.position);
        if (position - before > distance) {
            point.channel = kCodeSecondOrMono;
            point.position = channels == 2 ? (point.position & ~3u) : (point.position & ~1u);
            list.at(++kept) = point;
            before = position;
        }
    }
    list.setCount(kept);
    list.sortByPosition();
    list.setMarkers(dataLength);
}

SearchOutcome runSliceSearch(const sample::SampleStore& store, CandidateList& list, SearchFlags& flags,
                             const SearchOptions& options, const SearchProgress& progress) {
    SearchOutcome outcome;
    const uint32_t dataLength = store.dataLength();
    const auto finish = [&] {
        flags.searchRequest = false;
        if (options.linked && store.format().channels == 2 && !outcome.aborted) {
            linkedMerge(list, dataLength, store.format().channels, options.viewWidth);
            outcome.merged = true;
        }
        return outcome;
    };
    if (!flags.searchRequest) {
        return finish();
    }
    outcome.ran = true;
    if (!flags.refineOnly) {
        const OnsetDetector* detected = options.detected.get();
        const bool fits = detected != nullptr && detected->complete() &&
                          detected->channels() == store.format().channels && detected->dataLength() == dataLength;
        if (!(fits ? takeOnsets(*detected, list, progress, outcome.limitReached)
                   : detectOnsets(store, list, progress, outcome.limitReached))) {
            outcome.aborted = true;
            list.setMarkers(dataLength);
            return finish();
        }
    }
    flags.refineOnly = false;
    const int n = list.count();
    if (n == 0) {
        list.setMarkers(dataLength);
        return finish();
    }
    if (!refineCandidates(store, list, progress)) {
        outcome.aborted = true;
        list.setMarkers(dataLength);
        return finish();
    }
    list.sortByPosition();
    list.setMarkers(dataLength);
    std::vector<int64_t> preLevels(size_t(n) + 1);
    if (tick(progress, 90) || !levels(store, list, progress, &preLevels, options.peaks) ||
        !applyStrengths(list, preLevels, progress)) {
        outcome.aborted = true;
    }
    return finish();
}

void tpseek::run(jobs::JobContext& context) {
    SearchProgress progress;
    progress.report = [&](int percent) { context.setProgress(percent); };
    progress.stop = [&] { return context.stopRequested(); };
    outcome_ = runSliceSearch(store_, list_, flags_, options_, progress);
}

} // namespace cleavix::slicing
