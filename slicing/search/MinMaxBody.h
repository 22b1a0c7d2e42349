#pragma once
// The extremes of one channel's samples in 16-lane vectors of the compiler's own (no intrinsics):
// each kernel file compiles it for its instruction set.
#include "slicing/search/Common.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace cleavix::slicing::search {

typedef int16_t v16s __attribute__((vector_size(32)));

// The largest and smallest sample of one channel over `frames` frames at p (any alignment).
inline __attribute__((always_inline)) void minMaxBody(const uint8_t* p, size_t frames, size_t channels, int& largest,
                                                      int& smallest) {
    if (frames == 0) {
        return;
    }
    constexpr size_t width = sizeof(v16s) / sizeof(int16_t);
    const size_t elements = (frames - 1) * channels + 1;
    size_t i = 0;
    if (elements >= width) {
        // Every lane runs over all samples; lanes at the channel's places are kept (the width is
        // a multiple of the channel count, so lane l always holds the same channel).
        v16s high;
        std::memcpy(&high, p, sizeof high);
        v16s low = high;
        for (i = width; i + width <= elements; i += width) {
            v16s s;
            std::memcpy(&s, p + 2 * i, sizeof s);
            high = s > high ? s : high;
            low = s < low ? s : low;
        }
        for (size_t l = 0; l < width; l += channels) {
            largest = std::max(largest, int(high[l]));
            smallest = std::min(smallest, int(low[l]));
        }
    }
    for (; i < elements; i += channels) {
        const int s = sampleAt(p + 2 * i);
        largest = std::max(largest, s);
        smallest = std::min(smallest, s);
    }
}

} // namespace cleavix::slicing::search
