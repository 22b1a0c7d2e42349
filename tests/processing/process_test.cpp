// The in-place processes, rate and channel conversion and strip silence on small known samples.
#include "editing/EditTestKit.h"
#include "processing/ProcessWorkers.h"

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
