// The refinement: every candidate moved onto a quiet spot just before its attack, by a quiet
// window, a descent backward and forward to the smallest magnitude, a quiet pair of samples and a
// snap to the quietest neighbour.
//
// Threads: refineCandidates splits the candidates over the worker and one helper thread (inTwo);
// each reads the store through readers of its own and writes its own candidates' entries.
#include "slicing/search/Readers.h"
#include "slicing/search/Stages.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace cleavix::slicing {

using search::ChannelReader;
using search::Geometry;
using search::channelOffset;
using search::geometryOf;
using search::lookMagnitude;
using search::magnitude;
using search::windowStart;

namespace {

// The refinement windows of a sample rate, in frames.
struct Windows {
    int quietSub;
    int quiet;
    int quietPair;
    int snap;
};

// The quiet window and the quiet pair may place a point as far as their width after a window's
// start: on a sample not longer than they are (a short one, or one whose header claims an absurd
// rate) they are cut to one frame less than the sample, so that no point leaves it.
Windows windowsOf(const sample::SampleStore& store) {
    const uint32_t rate = store.format().sampleRate;
    const Geometry g = geometryOf(store);
    const int64_t frames = g.dataLength / g.blockAlign;
    const int64_t widest = std::max<int64_t>(0, frames - 1);
    const auto inside = [&](int window) { return int(std::min<int64_t>(window, widest)); };
    return {scaledWindow(kQuietSubWindow, rate), inside(scaledWindow(kQuietWindow, rate)),
            inside(scaledWindow(kQuietPairWindow, rate)), scaledWindow(kSnapWindow, rate)};
}

void quietWindowWith(ChannelReader& reader, const Geometry& g, const Windows& w, SlicePoint& point) {
    const int W = w.quietSub;
    const int B = w.quiet;
    const int n = B / W;
    const int64_t start = windowStart(g, point, B);
    const int16_t* s = reader.read(start, size_t(B));
    int minimum = 32767;
    int64_t offset = B;
    for (int k = n; k >= 1; --k) {
        int peak = -129;
        for (int j = 1; j <= W; ++j) {
            peak = std::max(peak, int(s[k * j - 1]));
        }
        if (peak < minimum && minimum > 384) {
            minimum = peak;
            offset = int64_t(W) * (k - 1);
        }
    }
    point.position = uint32_t(start + offset * g.blockAlign);
}

void backwardDescentWith(ChannelReader& reader, const Geometry& g, const Windows&, SlicePoint& point) {
    const int64_t lowest = channelOffset(g, point);
    int64_t position = point.position;
    int minimum = 65535;
    for (int64_t step = 0;; step += 2) {
        const int64_t at = std::max(position - step * g.channels, lowest);
        const int k = lookMagnitude(reader, at);
        if (k >= minimum) {
            break;
        }
        position = at;
        minimum = k;
        if (at + 4 * g.blockAlign <= 0) {
            break;
        }
    }
    point.position = uint32_t(position);
}

void forwardDescentWith(ChannelReader& reader, const Geometry& g, const Windows&, SlicePoint& point) {
    int64_t position = point.position;
    int minimum = 65535;
    for (int64_t step = 0;; step += 2) {
        const int64_t at = position + step * g.channels;
        // A point stays inside the sample.
        if (at >= g.dataLength) {
            break;
        }
        const int k = lookMagnitude(reader, at);
        if (k >= minimum) {
            break;
        }
        position = at;
        minimum = k;
        if (at + 4 * g.blockAlign >= g.dataLength) {
            break;
        }
    }
    point.position = uint32_t(position);
}

void quietPairWith(ChannelReader& reader, const Geometry& g, const Windows& w, SlicePoint& point) {
    const int B = w.quietPair;
    const int64_t start = windowStart(g, point, B);
    const int16_t* s = reader.read(start, size_t(B));
    int minimum = 256;
    int64_t offset = B;
    for (int j = B / 2; j >= 1; --j) {
        const int a = s[j - 1] / 256; // whole division: toward zero
        const int b = s[2 * j - 1] / 256;
        const int larger = std::max({-129, a, b});
        const int smaller = std::min({129, a, b});
        const int n = std::abs(smaller) + std::abs(larger);
        if (n < minimum && minimum > 3) {
            minimum = n;
            offset = 2 * int64_t(j) - 2;
        }
    }
    point.position = uint32_t(start + offset * g.blockAlign);
}

void snapWith(ChannelReader& reader, const Geometry& g, const Windows& w, SlicePoint& point) {
    const int B = w.snap;
    const int64_t start = windowStart(g, point, B / 2);
    // Frames at or past the end of the data lie outside the window: a point never snaps beyond it.
    int64_t frames = B;
    const int64_t room = g.dataLength - 2 - start;
    frames = room < 0 ? 0 : std::min<int64_t>(frames, room / g.blockAlign + 1);
    const int16_t* s = reader.read(start, size_t(std::max<int64_t>(frames, 1)));
    const int64_t c = (int64_t(point.position) - start) / g.blockAlign;
    const auto mag = [&](int64_t f) { return magnitude(s[f]); };
    const auto inside = [&](int64_t f) { return f >= 0 && f < frames; };
    if (!inside(c - 1)) {
        return;
    }
    const int first = mag(c - 1);
    const bool back = inside(c - 2) && mag(c - 2) < first;
    const bool forth = inside(c) && mag(c) < first;
    if (!back && !forth) {
        return;
    }
    const int64_t direction = (back && (!forth || mag(c - 2) <= mag(c))) ? -1 : 1;
    int smallest = first;
    int64_t taken = -1;
    for (int64_t f = direction < 0 ? c - 2 : c; inside(f) && mag(f) <= smallest; f += direction) {
        smallest = mag(f);
        taken = f;
    }
    point.position = uint32_t(start + taken * g.blockAlign);
}

// How far around a candidate the refinement reads at once, in frames: its passes rarely look
// further (a look outside goes to the store).
int64_t framesBeforeCandidate(const Windows& w) { return int64_t(w.quiet) + w.quietPair + 128; }
int64_t framesAfterCandidate(const Windows& w) { return int64_t(w.snap) / 2 + 128; }

} // namespace

namespace search {

// The five refinement passes. Each candidate's passes depend only on its own position, so they
// run one candidate at a time over one read of the store around it (in two halves side by side);
// the positions after each pass are kept, so that the reports and an abort leave the list exactly
// as the passes run one after the other over all candidates would have (the quiet window and the
// quiet pair report progress and may stop).
// Returns false when aborted.
bool refineCandidates(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    const Geometry g = geometryOf(store);
    const Windows w = windowsOf(store);
    const int n = list.count();
    const int64_t before = framesBeforeCandidate(w) * g.blockAlign;
    const int64_t after = framesAfterCandidate(w) * g.blockAlign;
    std::vector<uint32_t> afterQuietWindow(size_t(n) + 1);
    std::vector<uint32_t> afterDescent(size_t(n) + 1);
    std::vector<uint32_t> afterQuietPair(size_t(n) + 1);
    std::vector<uint32_t> afterSnap(size_t(n) + 1);
    inTwo(n, n / 2 + 1, [&](int from, int to) {
        ChannelReader reader(store, g, size_t(before + after));
        for (int k = from; k < to; ++k) {
            SlicePoint point = list.at(k);
            reader.readAround(int64_t(point.position) - before, int64_t(point.position) + after);
            quietWindowWith(reader, g, w, point);
            afterQuietWindow[size_t(k)] = point.position;
            backwardDescentWith(reader, g, w, point);
            forwardDescentWith(reader, g, w, point);
            afterDescent[size_t(k)] = point.position;
            quietPairWith(reader, g, w, point);
            afterQuietPair[size_t(k)] = point.position;
            snapWith(reader, g, w, point);
            afterSnap[size_t(k)] = point.position;
        }
    });
    for (int k = 1; k <= n; ++k) {
        if (tick(progress, roundToInt(double(k) / double(n) * 8.0) + 80)) {
            for (int j = 1; j < k; ++j) {
                list.at(j).position = afterQuietWindow[size_t(j)];
            }
            return false;
        }
    }
    for (int k = 1; k <= n; ++k) {
        if (tick(progress, roundToInt(double(k) / double(n) * 2.0) + 88)) {
            for (int j = 1; j <= n; ++j) {
                list.at(j).position = j < k ? afterQuietPair[size_t(j)] : afterDescent[size_t(j)];
            }
            return false;
        }
    }
    for (int k = 1; k <= n; ++k) {
        list.at(k).position = afterSnap[size_t(k)];
    }
    return true;
}

} // namespace search

namespace {

// One refinement step for one candidate on its own, every look read from the store.
using Step = void (*)(ChannelReader&, const Geometry&, const Windows&, SlicePoint&);
void alone(const sample::SampleStore& store, SlicePoint& point, Step step) {
    const Geometry g = geometryOf(store);
    ChannelReader reader(store, g);
    step(reader, g, windowsOf(store), point);
}

} // namespace

void quietWindow(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, quietWindowWith); }
void backwardDescent(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, backwardDescentWith); }
void forwardDescent(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, forwardDescentWith); }
void quietPair(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, quietPairWith); }
void snapToQuiet(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, snapWith); }

} // namespace cleavix::slicing
