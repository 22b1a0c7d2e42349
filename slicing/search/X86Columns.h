#pragma once
// Loading the eight lanes' samples into SSE2 registers, column by column: shared by the SSE2 and
// the AVX2 kernels (x86-64 builds only).
#include "slicing/search/Kernels.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace cleavix::slicing::search {

// Rows to columns: afterwards r_k holds element k of the four rows.
inline __attribute__((always_inline)) void transpose(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
    const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
    const __m128i t1 = _mm_unpackhi_epi32(r0, r1);
    const __m128i t2 = _mm_unpacklo_epi32(r2, r3);
    const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
    r0 = _mm_unpacklo_epi64(t0, t2);
    r1 = _mm_unpackhi_epi64(t0, t2);
    r2 = _mm_unpacklo_epi64(t1, t3);
    r3 = _mm_unpackhi_epi64(t1, t3);
}

inline __attribute__((always_inline)) __m128i loadFour(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The low and the high 16 bits of each 32-bit value, sign-extended.
inline __attribute__((always_inline)) __m128i lowHalves(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }
inline __attribute__((always_inline)) __m128i highHalves(__m128i v) { return _mm_srai_epi32(v, 16); }

// Samples i to i + 3 of the eight lanes as 32-bit values, one column per sample: a[k] holds sample
// i + k of lanes 0 to 3, b[k] that of lanes 4 to 7.
template <int kChannels>
inline __attribute__((always_inline)) void loadColumns(const int16_t* const* blocks, int i, __m128i (&a)[4],
                                                       __m128i (&b)[4]) {
    if constexpr (kChannels == 1) {
        // Eight samples of blocks l and l + 4 in one load each would read past a block's end, so
        // four at a time, spread to 32 bits.
        const __m128i zero = _mm_setzero_si128();
        for (int l = 0; l < 4; ++l) {
            const __m128i sa = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[l] + i));
            const __m128i sb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[l + 4] + i));
            a[l] = _mm_srai_epi32(_mm_unpacklo_epi16(zero, sa), 16);
            b[l] = _mm_srai_epi32(_mm_unpacklo_epi16(zero, sb), 16);
        }
        transpose(a[0], a[1], a[2], a[3]);
        transpose(b[0], b[1], b[2], b[3]);
    } else {
        // Four frames of each block: turned into columns whole, then split into the channels.
        __m128i f0 = loadFour(blocks[0] + 2 * i);
        __m128i f1 = loadFour(blocks[1] + 2 * i);
        __m128i f2 = loadFour(blocks[2] + 2 * i);
        __m128i f3 = loadFour(blocks[3] + 2 * i);
        transpose(f0, f1, f2, f3);
        a[0] = lowHalves(f0);
        a[1] = lowHalves(f1);
        a[2] = lowHalves(f2);
        a[3] = lowHalves(f3);
        b[0] = highHalves(f0);
        b[1] = highHalves(f1);
        b[2] = highHalves(f2);
        b[3] = highHalves(f3);
    }
}

// One sample (i) of the eight lanes, as loadColumns gives four.
template <int kChannels>
inline __attribute__((always_inline)) void loadColumn(const int16_t* const* blocks, int i, __m128i& a, __m128i& b) {
    if constexpr (kChannels == 1) {
        a = _mm_setr_epi32(blocks[0][i], blocks[1][i], blocks[2][i], blocks[3][i]);
        b = _mm_setr_epi32(blocks[4][i], blocks[5][i], blocks[6][i], blocks[7][i]);
    } else {
        const size_t at = size_t(i) * 2;
        a = _mm_setr_epi32(blocks[0][at], blocks[1][at], blocks[2][at], blocks[3][at]);
        b = _mm_setr_epi32(blocks[0][at + 1], blocks[1][at + 1], blocks[2][at + 1], blocks[3][at + 1]);
    }
}

// Calls column(i, a, b) for every sample i of the eight lanes, in order: a holds sample i of lanes
// 0 to 3, b that of lanes 4 to 7.
template <int kChannels, class Column>
inline __attribute__((always_inline)) void forEachColumn(const int16_t* const* blocks, Column&& column) {
    int i = 0;
    for (; i + 4 <= kFindSize; i += 4) {
        __m128i a[4];
        __m128i b[4];
        loadColumns<kChannels>(blocks, i, a, b);
        for (int k = 0; k < 4; ++k) {
            column(i + k, a[k], b[k]);
        }
    }
    for (; i < kFindSize; ++i) {
        __m128i a;
        __m128i b;
        loadColumn<kChannels>(blocks, i, a, b);
        column(i, a, b);
    }
}

} // namespace cleavix::slicing::search
