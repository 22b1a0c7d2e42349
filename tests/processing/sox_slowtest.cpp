// Reverse and normalise of a whole file against sox doing the same.
#include "SoxData.h"
#include "editing/EditTestKit.h"

#include <cstdlib>

namespace cleavix::test {
namespace {

class AgainstSox : public ::testing::Test {
protected:
    void SetUp() override {
        if (soxPath().empty()) {
            GTEST_SKIP() << "sox is not installed";
        }
        // Two seconds of stereo with a peak well below full scale.
        data = testSignal(2 * 44100 * 2, 9);
        for (auto& v : data) {
            v = int16_t(v / 3);
        }
        WaveSpec spec;
        writeFile(bench.files.file("in.wav"), makeWave(spec, le16Bytes(data)));
        ASSERT_TRUE(bench.fx.load(bench.files.file("in.wav")));
    }
    EditBench bench;
    std::vector<int16_t> data;
};

TEST_F(AgainstSox, ReverseMatchesSoxReverseExactly) {
    ASSERT_TRUE(bench.run([&](editing::Done d) { return bench.processor().reverse(std::move(d)); }));
    const auto r = run({soxPath(), bench.files.file("in.wav"), "-b", "16", bench.files.file("out.wav"), "reverse"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bench.samples(), soxData(bench.files.file("out.wav")));
}

TEST_F(AgainstSox, NormaliseWithinTwoStepsOfSoxGainN) {
    bench.processor().settings.normalisePercent = "100";
    bench.processor().settings.dcCentre = false;
    ASSERT_TRUE(bench.run([&](editing::Done d) { return bench.processor().normalise(std::move(d)); }));
    const auto r = run({soxPath(), "-D", bench.files.file("in.wav"), "-b", "16", bench.files.file("out.wav"), "gain",
                        "-n"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto ours = bench.samples();
    const auto theirs = soxData(bench.files.file("out.wav"));
    ASSERT_EQ(ours.size(), theirs.size());
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
    }
    EXPECT_LE(worst, 2);
    EXPECT_TRUE(*std::max_element(ours.begin(), ours.end()) == 32767 ||
                *std::min_element(ours.begin(), ours.end()) == -32767);
}

} // namespace
} // namespace cleavix::test
