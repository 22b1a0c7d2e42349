#include "editing/PointShift.h"

namespace cleavix::editing {

namespace {

// Keeps the points for which keep(position) holds, moving each by shift(position).
template <class Keep, class Shift>
void filterPoints(slicing::CandidateList& list, Keep keep, Shift shift) {
    int out = 1;
    for (int k = 1; k <= list.count(); ++k) {
        slicing::SlicePoint p = list.at(k);
        if (!keep(p.position)) {
            continue;
        }
        p.position = shift(p.position);
        list.at(out++) = p;
    }
    list.setCount(out - 1);
}

} // namespace

void settleMarkers(slicing::CandidateList& list, uint32_t newLength) {
    list.at(0).position = 0;
    list.at(0).enabled = 0;
    slicing::SlicePoint& end = list.endMarker();
    end = slicing::SlicePoint{};
    end.position = newLength;
    end.channel = slicing::kCodeSecondOrMono;
}

void cutPoints(slicing::CandidateList& list, uint32_t start, uint32_t end, uint32_t newLength) {
    const uint32_t length = end - start;
    filterPoints(
        list, [&](uint32_t p) { return p <= start || p >= end; },
        [&](uint32_t p) { return p >= end ? p - length : p; });
    settleMarkers(list, newLength);
}

void pastePoints(slicing::CandidateList& list, uint32_t start, uint32_t end, uint32_t inserted, uint32_t newLength) {
    const int64_t delta = int64_t(inserted) - int64_t(end - start);
    filterPoints(
        list, [&](uint32_t p) { return p <= start || p >= end; },
        // A cursor paste (start == end) moves a point at the cursor with the audio it marks.
        [&](uint32_t p) { return p >= end ? uint32_t(int64_t(p) + delta) : p; });
    settleMarkers(list, newLength);
}

void cropPoints(slicing::CandidateList& list, uint32_t start, uint32_t end) {
    filterPoints(
        list, [&](uint32_t p) { return p > start + 2 && p < end; }, [&](uint32_t p) { return p - start; });
    settleMarkers(list, end - start);
}

} // namespace cleavix::editing
