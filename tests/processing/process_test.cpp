// The in-place processes, rate and channel conversion and strip silence on small known samples.
#include "editing/EditTestKit.h"
#include "processing/ProcessWorkers.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace cleavix::test {
namespace {

std::vector<int16_t> frames(std::initializer_list<std::pair<int, int>> list) {
    std::vector<int16_t> v;
    for (auto [l, r] : list) {
        v.push_back(int16_t(l));
        v.push_back(int16_t(r));
    }
    return v;
}

TEST(Samples, TheTransformsOnTheirExamples) {
    using namespace processing;
    EXPECT_EQ(invertSample(0), -1);
    EXPECT_EQ(invertSample(32767), -32768);
    EXPECT_EQ(invertSample(-32768), 32767);
    EXPECT_EQ(quantiseSample(300, 8), 256);
    EXPECT_EQ(quantiseSample(-300, 8), -256);
    EXPECT_EQ(quantiseSample(255, 8), 0);
    EXPECT_EQ(quantiseSample(-32768, 0), 0);
    EXPECT_EQ(quantiseSample(5000, 4), 4096);
    const double gain = 32767.0 / 16384.0;
    EXPECT_EQ(normaliseSample(16384, 0, gain), 32767);
    EXPECT_EQ(normaliseSample(-16384, 0, gain), -32767);
    EXPECT_EQ(normaliseSample(1, 0, gain), 1);
    // Beyond full scale the result holds at the edge instead of wrapping to the other sign.
    EXPECT_EQ(normaliseSample(30000, 0, 2.0), 32767);
    EXPECT_EQ(normaliseSample(-30000, 0, 2.0), -32768);
    EXPECT_EQ(fadeSample(1000, 0), 1000);
    EXPECT_EQ(fadeSample(1000, 249), 0);
    EXPECT_EQ(fadeSample(1000, 124), 502);
}

TEST(Normalise, MonoRangeToFullScaleWithoutOffset) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples({16384, -16384, 1, 0}, 1));
    b.processor().settings.normalisePercent = "100";
    b.processor().settings.dcCentre = false;
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
    EXPECT_EQ(b.samples(), (std::vector<int16_t>{32767, -32767, 1, 0}));
    EXPECT_EQ(b.editor().record().undoCode, 1);
}

TEST(Normalise, AboveFullScaleClipsAndUndoRestores) {
    EditBench b;
    const std::vector<int16_t> data{20000, -20000, 100, -100};
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.processor().settings.normalisePercent = "200";
    b.processor().settings.dcCentre = false;
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
    EXPECT_EQ(b.samples(), (std::vector<int16_t>{32767, -32768, 327, -327}));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(Normalise, AFlatRangeIsLeftAloneWithTheProcessingError) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(50, 300), 1));
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
    EXPECT_EQ(b.samples(), std::vector<int16_t>(50, 300));
    ASSERT_EQ(b.fx.prompter.asked.size(), 1u);
    EXPECT_EQ(b.fx.prompter.asked[0], editing::kMsgProcessingError);
}

TEST(Normalise, ThenRateThenUndoReturnsOnlyTheRate) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples({1000, -2000, 50, 7}, 1, 44100));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
    const auto normalised = b.samples();
    ASSERT_TRUE(b.processor().adjustRate("22050"));
    EXPECT_EQ(b.samples(), normalised) << "a rate change leaves every byte";
    EXPECT_EQ(b.s().format().sampleRate, 22050u);
    EXPECT_FALSE(b.processor().adjustRate("32k"));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.s().format().sampleRate, 44100u);
    EXPECT_EQ(b.samples(), normalised);
}

// The normalise of a long sample, worked out as plainly as it is defined: the mean as a long
// double sum, the peak as the largest distance of any sample from it, then every sample scaled.
std::vector<int16_t> plainNormalise(std::vector<int16_t> v, size_t first, size_t step, int percent, bool dc) {
    long double sum = 0;
    uint64_t count = 0;
    for (size_t k = first; k < v.size(); k += step) {
        sum += v[k];
        ++count;
    }
    const double offset = dc && count > 0 ? double(sum / count) : 0.0;
    double peak = -1000000.0;
    for (size_t k = first; k < v.size(); k += step) {
        peak = std::max(peak, std::fabs(double(v[k]) - offset));
    }
    const double gain = percent / 100.0 * 32767.0 / peak;
    for (size_t k = first; k < v.size(); k += step) {
        v[k] = processing::normaliseSample(v[k], offset, gain);
    }
    return v;
}

// Noise with an offset, long enough for several blocks and for the table of results.
std::vector<int16_t> offsetNoise(size_t count, int offset, int spread) {
    std::vector<int16_t> v(count);
    uint32_t x = 12345;
    for (auto& s : v) {
        x = x * 1664525u + 1013904223u;
        s = int16_t(std::clamp(offset + int(x >> 16) % spread - spread / 2, -32768, 32767));
    }
    return v;
}

TEST(Normalise, LongSamplesMatchThePlainDefinition) {
    struct Case {
        uint16_t channels;
        int processChannel; // 1 left, 2 right, 3 both
        int percent;
        bool dc;
    };
    for (const Case c : {Case{1, 3, 100, true}, Case{2, 3, 100, true}, Case{2, 1, 150, true}, Case{2, 2, 37, false},
                         Case{1, 3, 400, false}}) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, channel " << c.processChannel << ", "
                                        << c.percent << " %, dc " << c.dc);
        EditBench b;
        const auto data = offsetNoise(150001 * c.channels, 1234, 20001);
        ASSERT_TRUE(b.loadSamples(data, c.channels));
        b.editor().setProcessChannel(c.processChannel);
        b.processor().settings.normalisePercent = std::to_string(c.percent);
        b.processor().settings.dcCentre = c.dc;
        b.processor().settings.recutAfterNormalise = false;
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
        const size_t step = c.channels == 2 && c.processChannel != 3 ? 2 : 1;
        const size_t first = step == 2 && c.processChannel == 2 ? 1 : 0;
        EXPECT_EQ(b.samples(), plainNormalise(data, first, step, c.percent, c.dc));
    }
}

TEST(Normalise, ThePeakOnTheNegativeSide) {
    // The extremes decide the peak: here the lowest sample lies farther from the mean.
    EditBench b;
    std::vector<int16_t> data(70000, 10);
    data[5] = -30000;
    data[69999] = 20000;
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.processor().settings.normalisePercent = "100";
    b.processor().settings.recutAfterNormalise = false;
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
    EXPECT_EQ(b.samples(), plainNormalise(data, 0, 1, 100, true));
    EXPECT_EQ(b.samples()[5], -32767);
}

TEST(Quantise, TheShiftGivesTheDivisionsResultForEveryValue) {
    for (int level = 0; level <= 16; ++level) {
        for (int v = -32768; v <= 32767; ++v) {
            ASSERT_EQ(processing::quantiseShifted(int16_t(v), 16 - level), processing::quantiseSample(int16_t(v), level))
                << "v " << v << " level " << level;
        }
    }
}

TEST(Quantise, OneChannelOfALongStereoSample) {
    EditBench b;
    const auto data = offsetNoise(100000 * 2, -50, 60001);
    ASSERT_TRUE(b.loadSamples(data, 2));
    b.editor().setProcessChannel(2);
    b.processor().settings.quantiseLevel = 3;
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().quantise(std::move(d)); }));
    auto expected = data;
    for (size_t k = 1; k < expected.size(); k += 2) {
        expected[k] = processing::quantiseSample(expected[k], 3);
    }
    EXPECT_EQ(b.samples(), expected);
}

TEST(Invert, TheLeftChannelOfALongStereoSample) {
    EditBench b;
    const auto data = offsetNoise(90001 * 2, 0, 65535);
    ASSERT_TRUE(b.loadSamples(data, 2));
    b.editor().setProcessChannel(1);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().invert(std::move(d)); }));
    auto expected = data;
    for (size_t k = 0; k < expected.size(); k += 2) {
        expected[k] = processing::invertSample(expected[k]);
    }
    EXPECT_EQ(b.samples(), expected);
}

TEST(Quantise, LevelEightOnTheSelection) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples({300, -300, 255, 300}, 1));
    b.processor().settings.quantiseLevel = 8;
    b.editor().setupSelections(0, 6);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().quantise(std::move(d)); }));
    EXPECT_EQ(b.samples(), (std::vector<int16_t>{256, -256, 0, 300}));
}

TEST(Reverse, BothChannelsAndOneChannel) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(frames({{1, 2}, {3, 4}, {5, 6}}), 2));
    b.editor().setupSelections(0, 0);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().reverse(std::move(d)); }));
    EXPECT_EQ(b.samples(), frames({{5, 6}, {3, 4}, {1, 2}}));

    EditBench c;
    ASSERT_TRUE(c.loadSamples(frames({{1, 2}, {3, 4}, {5, 6}}), 2));
    c.editor().setProcessChannel(1);
    ASSERT_TRUE(c.run([&](editing::Done d) { return c.processor().reverse(std::move(d)); }));
    EXPECT_EQ(c.samples(), frames({{5, 2}, {3, 4}, {1, 6}}));
    c.editor().setProcessChannel(2);
    ASSERT_TRUE(c.run([&](editing::Done d) { return c.processor().reverse(std::move(d)); }));
    EXPECT_EQ(c.samples(), frames({{5, 6}, {3, 4}, {1, 2}}));
}

TEST(Invert, TwiceRestores) {
    EditBench b;
    const std::vector<int16_t> data{0, 32767, -32768, 5};
    ASSERT_TRUE(b.loadSamples(data, 1));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().invert(std::move(d)); }));
    EXPECT_EQ(b.samples(), (std::vector<int16_t>{-1, -32768, 32767, -6}));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().invert(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(Silence, SegmentNearTheStartHasNoFade) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(2000 * 2, 1000), 2));
    ASSERT_TRUE(b.slicer().addPoint(400));  // frame 100
    ASSERT_TRUE(b.slicer().addPoint(2000)); // frame 500
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().silenceSegment(1, std::move(d)); }));
    const auto got = b.samples();
    EXPECT_EQ(got[199], 1000);
    for (size_t w = 200; w < 1000; ++w) {
        ASSERT_EQ(got[w], 0);
    }
    EXPECT_EQ(got[1000], 1000);
}

TEST(Silence, SegmentAtFrameThousandFadesTheFramesBefore) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(2000 * 2, 1000), 2));
    ASSERT_TRUE(b.slicer().addPoint(4000)); // frame 1000
    ASSERT_TRUE(b.slicer().addPoint(6000)); // frame 1500
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().silenceSegment(1, std::move(d)); }));
    const auto got = b.samples();
    EXPECT_EQ(got[749 * 2], 1000);
    EXPECT_EQ(got[750 * 2], 1000);
    EXPECT_EQ(got[750 * 2 + 1], 1000);
    EXPECT_EQ(got[800 * 2], processing::fadeSample(1000, 50));
    EXPECT_EQ(got[999 * 2 + 1], 0);
    EXPECT_EQ(got[1000 * 2], 0);
    EXPECT_EQ(got[1499 * 2 + 1], 0);
    EXPECT_EQ(got[1500 * 2], 1000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), std::vector<int16_t>(2000 * 2, 1000));
}

TEST(Silence, LeftChannelOfTheSelectionLeavesTheRight) {
    EditBench b;
    std::vector<int16_t> data;
    for (int i = 0; i < 600; ++i) {
        data.push_back(int16_t(i + 1));
        data.push_back(int16_t(-i - 1));
    }
    ASSERT_TRUE(b.loadSamples(data, 2));
    b.editor().setProcessChannel(1);
    b.editor().setupSelections(0, 2400);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().silence(std::move(d)); }));
    const auto got = b.samples();
    for (size_t f = 0; f < 600; ++f) {
        ASSERT_EQ(got[f * 2], 0);
        ASSERT_EQ(got[f * 2 + 1], data[f * 2 + 1]);
    }
}

TEST(Convert, MonoToStereoAndBack) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples({100, -7}, 1));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().convertChannels(0, std::move(d)); }));
    EXPECT_EQ(b.s().format().channels, 2);
    EXPECT_EQ(b.samples(), frames({{100, 100}, {-7, -7}}));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().convertChannels(0, std::move(d)); }));
    EXPECT_EQ(b.s().format().channels, 1);
    EXPECT_EQ(b.samples(), (std::vector<int16_t>{100, -7}));
}

TEST(Convert, StereoMixAndRightChannel) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(frames({{3, 3}, {-3, -3}, {1, 1}}), 2));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().convertChannels(2, std::move(d)); }));
    EXPECT_EQ(b.samples(), (std::vector<int16_t>{2, -2, 0}));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.s().format().channels, 2);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().convertChannels(1, std::move(d)); }));
    EXPECT_EQ(b.samples(), (std::vector<int16_t>{3, -3, 1}));
}

std::vector<int16_t> sound(size_t n) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = int16_t(i % 2 ? 500 : -500);
    }
    return v;
}

TEST(StripSilence, SixtyQuietSamplesGoAndAPointMarksTheJoin) {
    EditBench b;
    auto data = sound(1000);
    data.resize(1060, 0);
    const auto tail = sound(1000);
    data.insert(data.end(), tail.begin(), tail.end());
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.processor().settings.stripThreshold = 1;
    b.processor().settings.stripGap = 10;
    b.processor().settings.stripMode = 0;
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().stripSilence(std::move(d)); }));
    auto expected = sound(1000);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(b.samples(), expected);
    ASSERT_EQ(b.slicer().candidates().count(), 1);
    EXPECT_EQ(b.slicer().candidates().at(1).position, 2000u);
    EXPECT_EQ(b.editor().record().undoCode, 11);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(StripSilence, FortyQuietSamplesStayAndNothingIsRecorded) {
    EditBench b;
    auto data = sound(1000);
    data.resize(1040, 0);
    const auto tail = sound(1000);
    data.insert(data.end(), tail.begin(), tail.end());
    ASSERT_TRUE(b.loadSamples(data, 1));
    ASSERT_TRUE(b.slicer().addPoint(600));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().stripSilence(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
    EXPECT_EQ(b.slicer().candidates().count(), 1) << "points stay when nothing was removed";
    EXPECT_FALSE(b.editor().undoAvailable());
}

TEST(StripSilence, LaterShortGapsStayAndAQuietEndGoes) {
    EditBench b;
    auto data = sound(300);
    data.resize(400, 0);     // first silence: 100 >= 50
    auto more = sound(300);
    data.insert(data.end(), more.begin(), more.end());
    data.resize(data.size() + 60, 0); // 60 < gap 80: kept
    data.insert(data.end(), more.begin(), more.end());
    data.resize(data.size() + 90, 0); // at the end: removed up to the range end
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.processor().settings.stripThreshold = 1;
    b.processor().settings.stripGap = 80;
    b.processor().settings.stripMode = 1;
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().stripSilence(std::move(d)); }));
    EXPECT_EQ(b.samples().size(), data.size() - 100 - 90);
}

TEST(StripSilence, StereoNeedsAHundredQuietFrames) {
    for (int quiet : {60, 100}) {
        EditBench b;
        std::vector<int16_t> data = sound(600);
        data.resize(data.size() + size_t(quiet) * 2, 0);
        const auto tail = sound(600);
        data.insert(data.end(), tail.begin(), tail.end());
        ASSERT_TRUE(b.loadSamples(data, 2));
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().stripSilence(std::move(d)); }));
        EXPECT_EQ(b.samples().size(), quiet == 100 ? 1200u : data.size()) << quiet << " quiet frames";
    }
}

} // namespace
} // namespace cleavix::test
