// The AVX-512 detection kernel: all eight lanes in one register, each sample pre-emphasised and
// fed to the envelopes in the same loop. Compiled for AVX-512F and FMA function by function, as
// the AVX2 kernel is, so nothing shared between files carries these instructions.
#include "slicing/search/KernelsX86.h"
#include "slicing/search/X86Columns.h"

namespace cleavix::slicing::search {

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma")
// GCC 12's own conversion intrinsics start from _mm512_undefined_pd, which it then reports as
// used uninitialised (or maybe so, at other optimisation levels).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// The envelopes of the eight lanes. The update y * oprec + envelope * nprec is one fused
// multiply-add onto the rounded y * oprec, exact for the reason the AVX2 kernel gives (nprec is
// 0.5); the conditionals are compares into mask registers and blends under them.
struct Avx512Envelopes {
    __m512d positive;
    __m512d negative;
    __m512d positivePeak; // whole numbers, exact in a double
    __m512d negativePeak;
    __m512d previous;

    inline __attribute__((always_inline)) void feed(__m256i sample) {
        const __m512d x = _mm512_cvtepi32_pd(sample);
        // The pre-emphasis, rounded and wrapped to 16 bits through the bits of the rounding magic.
        const __m512d r =
            _mm512_add_pd(_mm512_sub_pd(x, _mm512_mul_pd(_mm512_set1_pd(kPreEmphasis), previous)),
                          _mm512_set1_pd(kRoundingMagic));
        previous = x;
        const __m512i bits =
            _mm512_xor_si512(_mm512_and_si512(_mm512_castpd_si512(r), _mm512_set1_epi64(kLow16)),
                             _mm512_set1_epi64(kWrapBits));
        const __m512d y = _mm512_sub_pd(_mm512_castsi512_pd(bits), _mm512_set1_pd(kWrapBias));

        const __m512d weighted = _mm512_mul_pd(y, _mm512_set1_pd(oprec));
        const __m512d up = _mm512_fmadd_pd(positive, _mm512_set1_pd(nprec), weighted);
        const __m512d down = _mm512_fmadd_pd(negative, _mm512_set1_pd(nprec), weighted);
        const __mmask8 rises = _mm512_cmp_pd_mask(y, positive, _CMP_GT_OQ);
        const __mmask8 falls = _mm512_cmp_pd_mask(y, negative, _CMP_LT_OQ);
        positivePeak = _mm512_mask_blend_pd(rises, positivePeak, y);
        negativePeak = _mm512_mask_blend_pd(falls, negativePeak, y);
        positive = _mm512_mask_blend_pd(rises, positive, up);
        negative = _mm512_mask_blend_pd(falls, negative, down);
    }
};

} // namespace

template <int kChannels>
void followAvx512(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges) {
    Avx512Envelopes e;
    e.positive = _mm512_setzero_pd();
    e.negative = e.positive;
    e.positivePeak = e.positive;
    e.negativePeak = e.positive;
    e.previous = _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(before)));
    forEachColumn<kChannels>(blocks, [&](int, __m128i a, __m128i b) { e.feed(_mm256_set_m128i(b, a)); });
    _mm512_storeu_pd(ranges, _mm512_sub_pd(e.positive, e.negative));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(peakRanges),
                        _mm512_cvttpd_epi32(_mm512_sub_pd(e.positivePeak, e.negativePeak)));
}

template void followAvx512<1>(const int16_t* const*, const int*, double*, int*);
template void followAvx512<2>(const int16_t* const*, const int*, double*, int*);

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

} // namespace cleavix::slicing::search
