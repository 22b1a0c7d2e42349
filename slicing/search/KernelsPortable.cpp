// The detection kernel and the extremes in plain code, for every processor. Built with
// -ffp-contract=off like the whole search: the vector kernels must match it to the bit.
#include "slicing/search/Kernels.h"
#include "slicing/search/MinMaxBody.h"

namespace cleavix::slicing::search {

namespace {

// The envelope followers of one block, one sample at a time.
struct Envelope {
    double positive = 0.0;
    double negative = 0.0;
    int positivePeak = 0;
    int negativePeak = 0;
    int previous = 0;

    void feed(int x) {
        const double rounded = (double(x) - kPreEmphasis * double(previous) + kRoundingMagic) - kRoundingMagic;
        // Kept as a signed 16-bit value: a result outside the range wraps around.
        const int y = static_cast<int16_t>(static_cast<int32_t>(rounded));
        previous = x;
        if (y > positive) {
            positivePeak = y;
            positive = double(y) * oprec + positive * nprec;
        }
        if (y < negative) {
            negativePeak = y;
            negative = double(y) * oprec + negative * nprec;
        }
    }
};

} // namespace

template <int kChannels>
void followScalar(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges) {
    constexpr int perChannel = blocksPerCall(kChannels);
    for (int l = 0; l < kLanes; ++l) {
        const int16_t* s = blocks[l % perChannel] + l / perChannel;
        Envelope e;
        e.previous = before[l];
        for (int i = 0; i < kFindSize; ++i) {
            e.feed(s[size_t(i) * kChannels]);
        }
        ranges[l] = e.positive - e.negative;
        peakRanges[l] = e.positivePeak - e.negativePeak;
    }
}

template void followScalar<1>(const int16_t* const*, const int*, double*, int*);
template void followScalar<2>(const int16_t* const*, const int*, double*, int*);

void minMaxPortable(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest) {
    minMaxBody(p, frames, channels, largest, smallest);
}


} // namespace cleavix::slicing::search
