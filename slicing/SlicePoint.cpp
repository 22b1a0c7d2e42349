#include "slicing/SlicePoint.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace cleavix::slicing {

void encodePoint(const SlicePoint& point, uint8_t* out) {
    const auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    put32(0, point.position);
    put32(4, static_cast<uint32_t>(point.strength));
    out[8] = point.enabled;
    out[9] = point.locked;
    out[10] = point.channel;
    out[11] = point.reserved;
}

SlicePoint decodePoint(const uint8_t* in) {
    const auto get32 = [&](int at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= uint32_t(in[at + i]) << (8 * i);
        }
        return v;
    };
    SlicePoint p;
    p.position = get32(0);
    p.strength = static_cast<int32_t>(get32(4));
    p.enabled = in[8];
    p.locked = in[9];
    p.channel = in[10];
    p.reserved = in[11];
    return p;
}

PointTable::PointTable() { setMarkers(0); }

bool PointTable::append(const SlicePoint& point) {
    if (full()) {
        return false;
    }
    ++count_;
    entries_[static_cast<size_t>(count_)] = point;
    return true;
}

bool PointTable::insert(int index, const SlicePoint& point) {
    if (full() || index < 1 || index > count_ + 1) {
        return false;
    }
    // Entries index..n+1 move up one place; the table always has room for the end marker.
    std::copy_backward(entries_.begin() + index, entries_.begin() + count_ + 2, entries_.begin() + count_ + 3);
    entries_[static_cast<size_t>(index)] = point;
    ++count_;
    return true;
}

void PointTable::remove(int index) {
    if (index < 1 || index > count_) {
        throw std::out_of_range("no point at that index");
    }
    std::copy(entries_.begin() + index + 1, entries_.begin() + count_ + 2, entries_.begin() + index);
    --count_;
}

void PointTable::setMarkers(uint32_t dataLength) {
    SlicePoint& start = entries_[0];
    start.position = 0;
    start.enabled = 0;
    SlicePoint& end = entries_[static_cast<size_t>(count_ + 1)];
    end = SlicePoint{};
    end.position = dataLength;
    end.channel = kCodeSecondOrMono;
}

void PointTable::sortByPosition() {
    std::stable_sort(entries_.begin() + 1, entries_.begin() + count_ + 1,
                     [](const SlicePoint& a, const SlicePoint& b) { return a.position < b.position; });
}

void CandidateList::clearPoints() {
    for (auto& e : entries()) {
        e.enabled = 0;
        e.locked = 0;
    }
    setCount(0);
}

void SlicePointList::rebuild(CandidateList& candidates, int64_t threshold, uint32_t dataLength) {
    setCount(0);
    for (int i = 1; i <= candidates.count(); ++i) {
        SlicePoint& c = candidates.at(i);
        if (c.channel == 0) {
            c.channel = kCodeSecondOrMono;
        }
        if ((c.enabled != 0 && c.strength > threshold) || c.locked != 0) {
            append(c);
        }
    }
    at(0) = SlicePoint{};
    at(0).channel = kCodeSecondOrMono;
    setMarkers(dataLength);
}

int firstAfter(const PointTable& table, uint32_t x) {
    int k = 1;
    while (k <= table.count() && table.at(k).position <= x) {
        ++k;
    }
    return k;
}

uint32_t segmentEnd(const SlicePointList& list, int index) {
    const uint8_t code = list.at(index).channel;
    for (int k = index + 1; k <= list.count(); ++k) {
        if (list.at(k).channel == code) {
            return list.at(k).position;
        }
    }
    return list.endMarker().position;
}

int CountPointsInLoop(const SlicePointList& list, uint32_t left, uint32_t right) {
    int count = 0;
    for (int k = 1; k <= list.count(); ++k) {
        const uint32_t p = list.at(k).position;
        if (left < p && p < right) {
            ++count;
        }
    }
    return count;
}

int CountSegmentsInLoop(SlicePointList& list, uint32_t left, uint32_t right, int channels, int channelSelection,
                        bool linked) {
    list.endMarker().channel = static_cast<uint8_t>(linked ? 1 : channels);
    const uint8_t code =
        (channels == 2 && !linked) ? static_cast<uint8_t>(3 - channelSelection) : kCodeSecondOrMono;
    // One segment from L, and one more from every point of that channel strictly inside the loop:
    // exactly the files the segment export writes, wherever L and R stand.
    int count = 1;
    for (int k = 1; k <= list.count(); ++k) {
        const SlicePoint& p = list.at(k);
        if (p.channel == code && left < p.position && p.position < right) {
            ++count;
        }
    }
    return count;
}

uint32_t snapLocator(const SlicePointList& list, uint32_t position, bool isLeft, uint32_t other) {
    const int last = list.count() + 1;
    uint32_t result = list.at(last).position;
    for (int i = 0; i < last; ++i) {
        const uint32_t lo = list.at(i).position;
        const uint32_t hi = list.at(i + 1).position;
        if (position >= lo && position < hi) {
            result = (double(position) < (double(lo) + double(hi)) / 2.0) ? lo : hi;
            break;
        }
    }
    if (isLeft && result >= other) {
        result = 0;
        for (int i = 0; i <= last && list.at(i).position < other; ++i) {
            result = list.at(i).position;
        }
    } else if (!isLeft && result <= other) {
        result = list.at(last).position;
        for (int i = last; i >= 0 && list.at(i).position > other; --i) {
            result = list.at(i).position;
        }
    }
    return result;
}

uint32_t dropLocator(const SlicePointList& list, uint32_t position, bool isLeft, uint32_t other) {
    const int last = list.count() + 1; // the end marker
    std::optional<uint32_t> best;
    uint64_t bestDistance = 0;
    for (int i = 1; i <= (isLeft ? list.count() : last); ++i) {
        const uint32_t at = list.at(i).position;
        const bool allowed = isLeft ? (at & ~3u) < (other & ~3u) : at > other;
        if (!allowed) {
            continue;
        }
        const uint64_t distance = at > position ? uint64_t(at) - position : uint64_t(position) - at;
        // Ascending positions: a later point wins only when strictly nearer, so a tie keeps the earlier.
        if (!best || distance < bestDistance) {
            best = at;
            bestDistance = distance;
        }
    }
    if (best) {
        return *best;
    }
    return isLeft ? 0 : list.at(last).position;
}

} // namespace cleavix::slicing
