// The SSE2 detection kernel: two lanes to a register, any x86-64 processor.
#include "slicing/search/KernelsX86.h"
#include "slicing/search/MinMaxBody.h"
#include "slicing/search/X86Columns.h"

namespace cleavix::slicing::search {

namespace {

// Two lanes to an SSE2 register.
struct Sse2Envelopes {
    __m128d positive;
    __m128d negative;
    __m128d positivePeak;
    __m128d negativePeak;
    __m128d previous;

    inline __attribute__((always_inline)) void start(const int* before) {
        positive = _mm_setzero_pd();
        negative = _mm_setzero_pd();
        positivePeak = _mm_setzero_pd();
        negativePeak = _mm_setzero_pd();
        previous = _mm_setr_pd(before[0], before[1]);
    }

    static inline __attribute__((always_inline)) __m128d select(__m128d mask, __m128d a, __m128d b) {
        return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
    }

    // The sample: the low two 32-bit values.
    inline __attribute__((always_inline)) void feed(__m128i sample) {
        const __m128d x = _mm_cvtepi32_pd(sample);
        const __m128d r =
            _mm_add_pd(_mm_sub_pd(x, _mm_mul_pd(_mm_set1_pd(kPreEmphasis), previous)), _mm_set1_pd(kRoundingMagic));
        previous = x;
        const __m128d bits = _mm_xor_pd(_mm_and_pd(r, _mm_castsi128_pd(_mm_set1_epi64x(kLow16))),
                                        _mm_castsi128_pd(_mm_set1_epi64x(kWrapBits)));
        const __m128d y = _mm_sub_pd(bits, _mm_set1_pd(kWrapBias));
        const __m128d weighted = _mm_mul_pd(y, _mm_set1_pd(oprec));
        const __m128d up = _mm_add_pd(weighted, _mm_mul_pd(positive, _mm_set1_pd(nprec)));
        const __m128d down = _mm_add_pd(weighted, _mm_mul_pd(negative, _mm_set1_pd(nprec)));
        const __m128d rises = _mm_cmpgt_pd(y, positive);
        const __m128d falls = _mm_cmplt_pd(y, negative);
        positivePeak = select(rises, y, positivePeak);
        negativePeak = select(falls, y, negativePeak);
        positive = select(rises, up, positive);
        negative = select(falls, down, negative);
    }

    void finish(double* ranges, int* peakRanges) const {
        alignas(16) double range[2];
        alignas(16) double high[2];
        alignas(16) double low[2];
        _mm_store_pd(range, _mm_sub_pd(positive, negative));
        _mm_store_pd(high, positivePeak);
        _mm_store_pd(low, negativePeak);
        for (int l = 0; l < 2; ++l) {
            ranges[l] = range[l];
            peakRanges[l] = int(high[l]) - int(low[l]);
        }
    }
};

} // namespace

template <int kChannels>
void followSse2(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges) {
    Sse2Envelopes e[4];
    for (int c = 0; c < 4; ++c) {
        e[c].start(before + 2 * c);
    }
    forEachColumn<kChannels>(blocks, [&](int, __m128i a, __m128i b) __attribute__((always_inline)) {
        e[0].feed(a);
        e[1].feed(_mm_unpackhi_epi64(a, a));
        e[2].feed(b);
        e[3].feed(_mm_unpackhi_epi64(b, b));
    });
    for (int c = 0; c < 4; ++c) {
        e[c].finish(ranges + 2 * c, peakRanges + 2 * c);
    }
}

template void followSse2<1>(const int16_t* const*, const int*, double*, int*);
template void followSse2<2>(const int16_t* const*, const int*, double*, int*);

void minMaxSse2(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest) {
    minMaxBody(p, frames, channels, largest, smallest);
}


} // namespace cleavix::slicing::search
