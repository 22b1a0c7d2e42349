// The AVX2 detection kernel and extremes. Compiled for AVX2 and FMA function by function (GCC's
// target pragma, clang's attribute pragma), not by a flag for the whole file: code the compiler
// shares between files must not carry those instructions to processors without them.
#include "slicing/search/KernelsX86.h"
#include "slicing/search/MinMaxBody.h"
#include "slicing/search/X86Columns.h"

#include <cstring>

namespace cleavix::slicing::search {

// Four lanes to an AVX register. First the pre-emphasis of every sample of the eight lanes (no
// chain runs from one sample to the next there), then the envelope chains over the results: two
// groups of four lanes side by side, so that while one waits on its chain the other computes.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

namespace {

typedef double v4d __attribute__((vector_size(32)));
typedef int64_t v4l __attribute__((vector_size(32)));

// The pre-emphasised samples y of four lanes from their samples x (32-bit values) and the samples
// before them.
inline __attribute__((always_inline)) __m256d emphasisedAvx2(__m128i sample, __m256d& previous) {
    const __m256d x = _mm256_cvtepi32_pd(sample);
    const __m256d r = _mm256_add_pd(_mm256_sub_pd(x, _mm256_mul_pd(_mm256_set1_pd(kPreEmphasis), previous)),
                                    _mm256_set1_pd(kRoundingMagic));
    previous = x;
    const __m256d bits = _mm256_xor_pd(_mm256_and_pd(r, _mm256_castsi256_pd(_mm256_set1_epi64x(kLow16))),
                                       _mm256_castsi256_pd(_mm256_set1_epi64x(kWrapBits)));
    return _mm256_sub_pd(bits, _mm256_set1_pd(kWrapBias));
}

// The envelope chains, in vector extensions: the compiler turns the conditionals into a compare
// and a blend each (the blend intrinsic would cost a further instruction with this compiler).
// An envelope's update y * oprec + envelope * nprec is one fused multiply-add onto the rounded
// y * oprec: nprec is 0.5, so envelope * nprec is exact (an envelope is 0 or at least 0.495 in
// size, never subnormal) and the fused add rounds the same exact sum the plain code rounds. That
// halves the chain each sample waits on.
struct Avx2Envelopes {
    v4d positive;
    v4d negative;
    v4d positivePeak; // whole numbers, exact in a double
    v4d negativePeak;

    // (No member initialisers: the implicit constructor would be built without AVX.)
    inline __attribute__((always_inline)) void start() {
        positive = v4d{0.0, 0.0, 0.0, 0.0};
        negative = positive;
        positivePeak = positive;
        negativePeak = positive;
    }

    inline __attribute__((always_inline)) void feed(const double* sample) {
        v4d y;
        std::memcpy(&y, sample, sizeof y);
        constexpr v4d weightOfPeak = {oprec, oprec, oprec, oprec};
        constexpr v4d weightOfEnvelope = {nprec, nprec, nprec, nprec};
        const v4d weighted = y * weightOfPeak;
        const v4d up = v4d(_mm256_fmadd_pd(__m256d(positive), __m256d(weightOfEnvelope), __m256d(weighted)));
        const v4d down =
            v4d(_mm256_fmadd_pd(__m256d(negative), __m256d(weightOfEnvelope), __m256d(weighted)));
        const v4l rises = y > positive;
        const v4l falls = y < negative;
        positivePeak = rises ? y : positivePeak;
        negativePeak = falls ? y : negativePeak;
        positive = rises ? up : positive;
        negative = falls ? down : negative;
    }

    void finish(double* ranges, int* peakRanges) const {
        for (int l = 0; l < 4; ++l) {
            ranges[l] = positive[l] - negative[l];
            peakRanges[l] = int(positivePeak[l]) - int(negativePeak[l]);
        }
    }
};

} // namespace

template <int kChannels>
void followAvx2(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges) {
    alignas(32) double y[kFindSize][kLanes];
    __m256d previousA = _mm256_setr_pd(before[0], before[1], before[2], before[3]);
    __m256d previousB = _mm256_setr_pd(before[4], before[5], before[6], before[7]);
    forEachColumn<kChannels>(blocks, [&](int i, __m128i a, __m128i b) {
        _mm256_store_pd(y[i], emphasisedAvx2(a, previousA));
        _mm256_store_pd(y[i] + 4, emphasisedAvx2(b, previousB));
    });
    Avx2Envelopes ea;
    Avx2Envelopes eb;
    ea.start();
    eb.start();
    for (int i = 0; i < kFindSize; ++i) {
        ea.feed(y[i]);
        eb.feed(y[i] + 4);
    }
    ea.finish(ranges, peakRanges);
    eb.finish(ranges + 4, peakRanges + 4);
}

template void followAvx2<1>(const int16_t* const*, const int*, double*, int*);
template void followAvx2<2>(const int16_t* const*, const int*, double*, int*);

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

__attribute__((target("avx2,fma"))) void minMaxAvx2(const uint8_t* p, size_t frames, size_t channels,
                                                    int& largest, int& smallest) {
    minMaxBody(p, frames, channels, largest, smallest);
}

} // namespace cleavix::slicing::search
