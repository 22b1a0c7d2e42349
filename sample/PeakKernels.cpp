#include "sample/PeakKernels.h"

#include "sample/PeakTable.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace cleavix::sample {

void wholeBlocksPlain(const int16_t* samples, size_t blocks, size_t perBlock, uint16_t channels, int32_t* words,
                      BlockTotals& totals) {
    const size_t step = channels == 2 ? 2 : 1;
    for (size_t b = 0; b < blocks; ++b, samples += perBlock) {
        for (size_t c = 0; c < step; ++c) {
            int high = -32768;
            int low = 32767;
            for (size_t k = c; k < perBlock; k += step) {
                high = std::max<int>(high, samples[k]);
                low = std::min<int>(low, samples[k]);
                totals.sum += samples[k];
            }
            *words++ = packPeak(high, low);
            totals.highest = std::max(totals.highest, high);
            totals.lowest = std::min(totals.lowest, low);
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

// A lane of the 32-bit sums takes at most 2 * 32768 a load: this many loads keep it inside its
// range, with room to spare, before it is widened.
constexpr size_t kLoadsPerSum = 16384;

// The words of one block from its 8-lane extremes: lane j saw the samples k = j (mod 8), so in
// stereo the even lanes hold the first channel and the odd lanes the second.
inline void blockWords(__m128i hi, __m128i lo, uint16_t channels, int32_t* words) {
    // Fold the lanes: halves, then pairs of 32-bit lanes; in mono also the two samples of a pair.
    hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    if (channels == 1) {
        hi = _mm_max_epi16(hi, _mm_shufflelo_epi16(hi, _MM_SHUFFLE(2, 3, 0, 1)));
        lo = _mm_min_epi16(lo, _mm_shufflelo_epi16(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    }
    const auto high = static_cast<uint32_t>(_mm_cvtsi128_si32(hi));
    const auto low = static_cast<uint32_t>(_mm_cvtsi128_si32(lo));
    words[0] = packPeak(static_cast<int16_t>(high & 0xFFFF), static_cast<int16_t>(low & 0xFFFF));
    if (channels == 2) {
        words[1] = packPeak(static_cast<int16_t>(high >> 16), static_cast<int16_t>(low >> 16));
    }
}

// The extremes over all 8 lanes, into the totals.
inline void addExtremes(__m128i hi, __m128i lo, BlockTotals& totals) {
    alignas(16) int16_t h[8];
    alignas(16) int16_t l[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(l), lo);
    for (size_t j = 0; j < 8; ++j) {
        totals.highest = std::max<int>(totals.highest, h[j]);
        totals.lowest = std::min<int>(totals.lowest, l[j]);
    }
}

inline int64_t widened(__m128i sums) {
    alignas(16) int32_t t[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(t), sums);
    return int64_t(t[0]) + t[1] + t[2] + t[3];
}

} // namespace

void wholeBlocksSse2(const int16_t* samples, size_t blocks, size_t perBlock, uint16_t channels, int32_t* words,
                     BlockTotals& totals) {
    const auto load = [](const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i ones = _mm_set1_epi16(1);
    const size_t loads = perBlock / 8;
    __m128i allHi = _mm_set1_epi16(-32768);
    __m128i allLo = _mm_set1_epi16(32767);
    __m128i sums = _mm_setzero_si128();
    size_t summed = 0;
    const size_t step = channels == 2 ? 2 : 1;
    for (size_t b = 0; b < blocks; ++b, samples += perBlock, words += step) {
        __m128i v = load(samples);
        __m128i hi = v;
        __m128i lo = v;
        __m128i s = _mm_madd_epi16(v, ones);
        for (size_t k = 1; k < loads; ++k) {
            v = load(samples + 8 * k);
            hi = _mm_max_epi16(hi, v);
            lo = _mm_min_epi16(lo, v);
            s = _mm_add_epi32(s, _mm_madd_epi16(v, ones));
        }
        if (summed + loads > kLoadsPerSum) {
            totals.sum += widened(sums);
            sums = _mm_setzero_si128();
            summed = 0;
        }
        sums = _mm_add_epi32(sums, s);
        summed += loads;
        allHi = _mm_max_epi16(allHi, hi);
        allLo = _mm_min_epi16(allLo, lo);
        blockWords(hi, lo, channels, words);
    }
    totals.sum += widened(sums);
    addExtremes(allHi, allLo, totals);
}

__attribute__((target("avx2"))) void wholeBlocksAvx2(const int16_t* samples, size_t blocks, size_t perBlock,
                                                     uint16_t channels, int32_t* words, BlockTotals& totals) {
    const __m256i ones = _mm256_set1_epi16(1);
    const size_t loads = perBlock / 16;
    __m256i allHi = _mm256_set1_epi16(-32768);
    __m256i allLo = _mm256_set1_epi16(32767);
    __m256i sums = _mm256_setzero_si256();
    size_t summed = 0;
    const size_t step = channels == 2 ? 2 : 1;
    for (size_t b = 0; b < blocks; ++b, samples += perBlock, words += step) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples));
        __m256i hi = v;
        __m256i lo = v;
        __m256i s = _mm256_madd_epi16(v, ones);
        for (size_t k = 1; k < loads; ++k) {
            v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + 16 * k));
            hi = _mm256_max_epi16(hi, v);
            lo = _mm256_min_epi16(lo, v);
            s = _mm256_add_epi32(s, _mm256_madd_epi16(v, ones));
        }
        if (summed + loads > kLoadsPerSum) {
            totals.sum += widened(_mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1)));
            sums = _mm256_setzero_si256();
            summed = 0;
        }
        sums = _mm256_add_epi32(sums, s);
        summed += 2 * loads; // the halves are added together when widened
        allHi = _mm256_max_epi16(allHi, hi);
        allLo = _mm256_min_epi16(allLo, lo);
        // Lanes j and j + 8 saw samples of the same channel (16 is even): the halves fold first.
        blockWords(_mm_max_epi16(_mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1)),
                   _mm_min_epi16(_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1)), channels, words);
    }
    totals.sum += widened(_mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1)));
    addExtremes(_mm_max_epi16(_mm256_castsi256_si128(allHi), _mm256_extracti128_si256(allHi, 1)),
                _mm_min_epi16(_mm256_castsi256_si128(allLo), _mm256_extracti128_si256(allLo, 1)), totals);
}

WholeBlocksFunction bestWholeBlocks() {
    static const WholeBlocksFunction best = __builtin_cpu_supports("avx2") ? wholeBlocksAvx2 : wholeBlocksSse2;
    return best;
}

#else

WholeBlocksFunction bestWholeBlocks() { return wholeBlocksPlain; }

#endif

} // namespace cleavix::sample
