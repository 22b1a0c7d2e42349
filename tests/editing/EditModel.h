#pragma once
// A plain in-memory model of what the edit, process, point and undo commands do to the sample:
// its words, format, candidate points and locators. Written from the behaviour the commands
// promise, without the engine's streams, blocks or records, so that comparing the two after every
// step catches a fault in either the data path or the bookkeeping.
#include "slicing/SlicePoint.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

namespace cleavix::test::model {

struct Point {
    uint32_t position = 0;
    bool enabled = true;
    bool locked = true;
    uint8_t channel = 1;
    bool operator==(const Point&) const = default;
};

struct State {
    std::vector<int16_t> words;
    uint16_t channels = 1;
    uint32_t rate = 44100;
    std::vector<Point> points;
    uint32_t left = 0;
    uint32_t right = 0;
    bool operator==(const State&) const = default;
    uint32_t bytes() const { return uint32_t(words.size() * 2); }
    uint32_t frame(uint32_t p) const { return channels == 2 ? p & ~3u : p & ~1u; }
};

struct Clip {
    uint16_t channels = 0;
    std::vector<int16_t> words;
};

// The one-level undo: the state before and after the last recorded operation.
struct History {
    bool valid = false;
    State other;
    // A whole-sample record (a conversion) also exchanges the channel choice.
    bool wholeSample = false;
    uint8_t channel = 3;
};

inline uint32_t shifted(uint32_t p, uint32_t start, uint32_t end, uint32_t newEnd) {
    if (p >= end) {
        return uint32_t(int64_t(p) + int64_t(newEnd) - int64_t(end));
    }
    return std::min(p, std::max(newEnd, start));
}

inline void setLoop(State& s, uint32_t l, uint32_t r) {
    l = std::min(l, s.bytes());
    r = std::min(r, s.bytes());
    if (l > r) {
        std::swap(l, r);
    }
    s.left = l;
    s.right = r;
}

// [start, end) replaced by `inserted`.
inline void replace(State& s, uint32_t start, uint32_t end, const std::vector<int16_t>& inserted) {
    std::vector<int16_t> w(s.words.begin(), s.words.begin() + start / 2);
    w.insert(w.end(), inserted.begin(), inserted.end());
    w.insert(w.end(), s.words.begin() + end / 2, s.words.end());
    s.words = std::move(w);
    const uint32_t newEnd = start + uint32_t(inserted.size() * 2);
    std::vector<Point> kept;
    for (Point p : s.points) {
        if (p.position > start && p.position < end) {
            continue;
        }
        if (p.position >= end) {
            p.position = uint32_t(int64_t(p.position) + int64_t(newEnd) - int64_t(end));
        }
        kept.push_back(p);
    }
    s.points = kept;
    setLoop(s, shifted(s.left, start, end, newEnd), shifted(s.right, start, end, newEnd));
}

inline int16_t fade(int16_t v, int i) { return int16_t(std::nearbyint(double(v) * (249 - i) / 249.0)); }

// The words a one-channel process touches in [start, end): `first` 0 left, 1 right; all when -1.
template <class Fn>
void eachWord(State& s, uint32_t start, uint32_t end, int first, Fn fn) {
    for (uint32_t w = start / 2; w < end / 2 && w < s.words.size(); ++w) {
        if (first < 0 || int(w % 2) == first) {
            fn(s.words[w]);
        }
    }
}

inline std::vector<std::pair<uint32_t, uint32_t>> silences(const State& s, uint32_t start, uint32_t end, int threshold,
                                                           int gap) {
    std::vector<std::pair<uint32_t, uint32_t>> found;
    const uint32_t fb = s.channels * 2u;
    int minimum = 50;
    uint32_t quiet = 0;
    bool running = false;
    uint32_t from = 0;
    for (uint32_t p = start; p + fb <= end; p += fb) {
        int level = std::abs(int(s.words[p / 2]));
        if (s.channels == 2) {
            level = (level + std::abs(int(s.words[p / 2 + 1]))) / 2;
        }
        if (!running) {
            if (level >= threshold) {
                quiet = 0;
            } else {
                if (quiet == 0) {
                    from = p;
                }
                if (++quiet >= uint32_t(s.channels * minimum)) {
                    running = true;
                }
            }
        } else if (level > threshold) {
            found.push_back({from, p});
            running = false;
            quiet = 0;
            minimum = gap;
        }
    }
    if (running) {
        found.push_back({from, end});
    }
    return found;
}

} // namespace cleavix::test::model
