#pragma once
// The inner loop of the peak table's build: whole blocks of 16-bit samples to their words, with
// the extremes and the sum of every sample on the way. It runs over every byte of every load,
// rebuild and edit, so an x86-64 build has an SSE2 and an AVX2 version beside the plain one and
// takes the widest the processor has. All give the same words and totals.
#include <cstddef>
#include <cstdint>

namespace cleavix::sample {

// What one run of whole blocks adds to the build's totals.
struct BlockTotals {
    int lowest = 32767;
    int highest = -32768;
    int64_t sum = 0;
};

// `blocks` blocks of `perBlock` samples each (a multiple of 32: block sizes are multiples of 64
// bytes) from `samples`, one word per channel and block into `words` (packPeak of the channel's
// max and min; in stereo the channels interleave, the first at even samples). The extremes and
// the sum of all samples go into `totals`.
using WholeBlocksFunction = void (*)(const int16_t* samples, size_t blocks, size_t perBlock, uint16_t channels,
                                     int32_t* words, BlockTotals& totals);

void wholeBlocksPlain(const int16_t* samples, size_t blocks, size_t perBlock, uint16_t channels, int32_t* words,
                      BlockTotals& totals);
#if defined(__x86_64__) && defined(__GNUC__)
void wholeBlocksSse2(const int16_t* samples, size_t blocks, size_t perBlock, uint16_t channels, int32_t* words,
                     BlockTotals& totals);
// Only where the processor has AVX2 (see bestWholeBlocks).
void wholeBlocksAvx2(const int16_t* samples, size_t blocks, size_t perBlock, uint16_t channels, int32_t* words,
                     BlockTotals& totals);
#endif

// The widest version this processor runs.
WholeBlocksFunction bestWholeBlocks();

} // namespace cleavix::sample
