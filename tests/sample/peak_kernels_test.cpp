#include "sample/PeakKernels.h"
#include "sample/PeakTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace cleavix::sample;

namespace {

struct Kernel {
    const char* name;
    WholeBlocksFunction run;
};

std::vector<Kernel> kernels() {
    std::vector<Kernel> all{{"plain", wholeBlocksPlain}, {"best", bestWholeBlocks()}};
#if defined(__x86_64__) && defined(__GNUC__)
    all.push_back({"sse2", wholeBlocksSse2});
    if (__builtin_cpu_supports("avx2")) {
        all.push_back({"avx2", wholeBlocksAvx2});
    }
#endif
    return all;
}

// Each channel's extremes and the totals, sample by sample.
void expected(const std::vector<int16_t>& samples, size_t perBlock, uint16_t channels, std::vector<int32_t>& words,
              BlockTotals& totals) {
    const size_t step = channels == 2 ? 2 : 1;
    for (size_t b = 0; b * perBlock < samples.size(); ++b) {
        for (size_t c = 0; c < step; ++c) {
            int16_t high = -32768;
            int16_t low = 32767;
            for (size_t k = b * perBlock + c; k < (b + 1) * perBlock; k += step) {
                high = std::max(high, samples[k]);
                low = std::min(low, samples[k]);
                totals.sum += samples[k];
            }
            words.push_back(packPeak(high, low));
            totals.highest = std::max<int>(totals.highest, high);
            totals.lowest = std::min<int>(totals.lowest, low);
        }
    }
}

void expectSame(const std::vector<int16_t>& samples, size_t perBlock, const std::string& what) {
    for (const uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        std::vector<int32_t> want;
        BlockTotals wantTotals;
        expected(samples, perBlock, channels, want, wantTotals);
        for (const Kernel& kernel : kernels()) {
            const std::string label = what + " " + kernel.name + " channels " + std::to_string(channels);
            std::vector<int32_t> words(want.size(), 0x5A5A5A5A);
            BlockTotals totals;
            totals.sum = 7; // added to, never replaced
            kernel.run(samples.data(), samples.size() / perBlock, perBlock, channels, words.data(), totals);
            ASSERT_EQ(words, want) << label;
            EXPECT_EQ(totals.sum, wantTotals.sum + 7) << label;
            EXPECT_EQ(totals.highest, wantTotals.highest) << label;
            EXPECT_EQ(totals.lowest, wantTotals.lowest) << label;
        }
    }
}

} // namespace

// The vector versions of the peak scan give the plain one's words and totals, for every block size
// the setting allows to be vectorised, with the extremes at every lane, and with full-scale blocks
// long enough that the 32-bit partial sums would overflow if they were not widened in time.
TEST(PeakKernels, EveryVersionGivesThePlainWordsAndTotals) {
    for (const size_t perBlock : {size_t(32), size_t(64), size_t(96), size_t(512), size_t(2048)}) {
        auto samples = cleavix::test::testSignal(perBlock * 37, uint32_t(perBlock));
        // An extreme at each position of a block in turn, so that every lane holds one once.
        for (size_t b = 0; b < 37; ++b) {
            samples[b * perBlock + b % perBlock] = int16_t(b % 2 == 0 ? 32767 : -32768);
        }
        expectSame(samples, perBlock, "signal " + std::to_string(perBlock));
    }
    for (const int16_t full : {int16_t(32767), int16_t(-32768)}) {
        // 40000 blocks of 64 samples: 320000 16-byte loads, far past one widening.
        std::vector<int16_t> samples(64 * 40000, full);
        samples[12345] = int16_t(-full - 1);
        expectSame(samples, 64, "full scale " + std::to_string(full));
    }
    std::vector<int16_t> none;
    expectSame(none, 32, "no blocks");
}
