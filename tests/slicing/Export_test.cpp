#include "slicing/SegmentExport.h"
#include "slicing/WaveSmoother.h"

#include "SliceFixtures.h"
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace cleavix::slicing {
namespace {

using test::formatOf;
using test::makeStore;
using test::listOf;

std::vector<int16_t> drain(sample::SampleSource& source) { return cleavix::test::drainSource(source, 333); }

TEST(WaveSmoother, LengthsFollowTheLevel) {
    EXPECT_EQ(TWaveSmoother::smoothedLength(40000, 30), 52000u); // 1.30 S
    EXPECT_EQ(TWaveSmoother::smoothedLength(40000, 0), 40000u);
    EXPECT_EQ(TWaveSmoother::smoothedLength(40000, 60), 64000u);
    // S = 1002: zone round(230.46) = 230 -> 228; tail round(531.06) = 531 -> 528.
    EXPECT_EQ(TWaveSmoother::smoothedLength(1002, 30), 1002u - 228 + 528);
}

TEST(WaveSmoother, LevelZeroPassesTheStretchThrough) {
    const auto signal = cleavix::test::testSignal(4000);
    auto store = makeStore(signal, 1);
    TWaveSmoother::Settings s;
    s.input = &store->stream();
    s.start = 200;
    s.length = 3000;
    TWaveSmoother smoother(s);
    const auto out = drain(smoother);
    ASSERT_EQ(out.size(), 1500u);
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], signal[100 + i]) << i;
    }
}

TEST(WaveSmoother, TailMirrorsTheDecayFadesToSilenceAndNeverReadsBeforeTheStart) {
    // Loud audio before the stretch (which must never be used), then a ramp whose largest sample
    // in the last 23 % is known.
    std::vector<int16_t> samples(6000, 30000);
    const int start = 1000;
    const int frames = 4000;
    for (int i = 0; i < frames; ++i) {
        samples[size_t(start + i)] = int16_t((i % 50) * 100 - 2000);
    }
    samples[size_t(start + 3080)] = 12000; // the peak: first frame of the last 23 % (3080..3999)
    auto store = makeStore(samples, 1);
    TWaveSmoother::Settings s;
    s.input = &store->stream();
    s.start = uint32_t(start * 2);
    s.length = uint32_t(frames * 2);
    s.level = 60;
    TWaveSmoother smoother(s);
    EXPECT_EQ(smoother.peakFrame(0), 3080);
    const auto out = drain(smoother);
    ASSERT_EQ(out.size() * 2, TWaveSmoother::smoothedLength(8000, 60));
    const int64_t last = int64_t(out.size()) - 1;
    for (int64_t i = 0; i <= 3080; ++i) {
        ASSERT_EQ(out[size_t(i)], samples[size_t(start + i)]) << i;
    }
    for (int64_t i = 3081; i <= last; ++i) {
        const int64_t source = 3080 - (i - 3080);
        const double gain = double(last - i) / double(last - 3080);
        const int expected =
            source < 0 ? 0 : int(std::nearbyint(double(samples[size_t(start + source)]) * gain));
        ASSERT_EQ(out[size_t(i)], expected) << i;
    }
    EXPECT_EQ(out.back(), 0);
    // The tail is longer than the audio before the peak: its end is silence, not the loud 30000s.
    EXPECT_GT(last - 3080, 3080);
    EXPECT_EQ(out[size_t(last - 1)], 0);
}

TEST(WaveSmoother, EachStereoChannelStartsItsTailAtItsOwnPeak) {
    std::vector<int16_t> samples(2 * 1000, 100);
    samples[2 * 900] = 5000;     // first channel's peak
    samples[2 * 820 + 1] = 7000; // second channel's peak
    auto store = makeStore(samples, 2);
    TWaveSmoother::Settings s;
    s.input = &store->stream();
    s.length = 4000;
    s.channels = 2;
    s.level = 30;
    TWaveSmoother smoother(s);
    EXPECT_EQ(smoother.peakFrame(0), 900);
    EXPECT_EQ(smoother.peakFrame(1), 820);
    const auto out = drain(smoother);
    EXPECT_EQ(out.size() % 2, 0u);
    EXPECT_EQ(out[2 * 900], 5000);
    EXPECT_EQ(out[2 * 821 + 1], int(std::nearbyint(100.0 * double(out.size() / 2 - 1 - 821) /
                                                     double(out.size() / 2 - 1 - 820))));
}

TEST(WaveSmoother, ByteOrdersAndStepAreApplied) {
    std::vector<int16_t> samples{0x0102, 0x0304, 0x0506, 0x0708};
    auto store = makeStore(samples, 2);
    TWaveSmoother::Settings s;
    s.input = &store->stream();
    s.start = 2;
    s.length = 4;
    s.step = 2;
    s.outputOrder = ByteOrder::Big;
    TWaveSmoother smoother(s);
    const auto out = drain(smoother);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(uint16_t(out[0]), 0x0403);
    EXPECT_EQ(uint16_t(out[1]), 0x0807);
}

TEST(SegmentExport, NamesArePaddedToTheListCount) {
    EXPECT_EQ(segmentFileName("loop.wav", 1, 12, ""), "loop01.wav");
    EXPECT_EQ(segmentFileName("/x/loop.wav", 10, 9, ""), "/x/loop10.wav");
    EXPECT_EQ(segmentFileName("loop.wav", 3, 8, ""), "loop3.wav");
    EXPECT_EQ(segmentFileName("loop.aif", 7, 99, "R"), "loop007R.aif");
    EXPECT_EQ(segmentFileName("loop.aiff", 2, 12, "L"), "loop02L.aiff");
}

TEST(SegmentExport, ANameWithoutExtensionIsNumberedAtItsEndInItsOwnFolder) {
    // Cutting four characters off a name without extension would number the folder instead
    // ("/x/loops/kick" to "/x/loops1/kick") or put the digits first ("seg" to "1seg").
    EXPECT_EQ(segmentFileName("/x/loops/kick", 1, 9, ""), "/x/loops/kick01");
    EXPECT_EQ(segmentFileName("seg", 1, 9, ""), "seg01");
    EXPECT_EQ(segmentFileName("/x.y/seg", 2, 12, "L"), "/x.y/seg02L");
    EXPECT_EQ(segmentFileName("/x/a.b", 3, 9, ""), "/x/a.b03");
    EXPECT_EQ(segmentFileName("/x/.wav", 3, 9, ""), "/x/03.wav");
}

TEST(SegmentExport, NinePointsGiveTenNumberedFiles) {
    sample::SampleFormat f = formatOf(1, 20000);
    std::vector<std::pair<uint32_t, uint8_t>> pts;
    for (uint32_t k = 1; k <= 9; ++k) {
        pts.push_back({k * 2000, 1});
    }
    const SlicePointList list = listOf(pts, 20000);
    const auto files = planSegmentsInLoop(list, 0, 20000, f, {}, "out/loop.wav");
    ASSERT_EQ(files.size(), 10u);
    EXPECT_EQ(files.front().name, "out/loop01.wav");
    EXPECT_EQ(files.back().name, "out/loop10.wav");
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(files[i].start, i * 2000);
        EXPECT_EQ(files[i].length, 2000u);
    }
    EXPECT_EQ(files[9].length, 2000u); // the last ends at R: the files add up to the loop
}

TEST(SegmentExport, ALoopWithoutPointsGivesOneFileAndStereoEndsOnAWholeFrame) {
    sample::SampleFormat f = formatOf(1, 20000);
    const SlicePointList none = listOf({}, 20000);
    auto files = planSegmentsInLoop(none, 1000, 9000, f, {}, "a.wav");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].start, 1000u);
    EXPECT_EQ(files[0].length, 8000u);
    f.channels = 2;
    files = planSegmentsInLoop(none, 1000, 9000, f, {}, "a.wav");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].start, 1000u);
    EXPECT_EQ(files[0].length, 8000u);
    // R inside a frame: the loop ends on the whole frame before it.
    files = planSegmentsInLoop(none, 1000, 9002, f, {}, "a.wav");
    EXPECT_EQ(files[0].length, 8000u);
    EXPECT_EQ(files[0].length % 4, 0u);
    EXPECT_EQ(files[0].layout, sample::LayoutStereo);
}

TEST(SegmentExport, UnlinkedStereoGivesMonoFilesPerChannelEachNumberedFromOne) {
    sample::SampleFormat f = formatOf(2, 40000);
    const SlicePointList list = listOf({{8000, 2}, {12002, 1}, {20000, 2}}, 40000);
    const auto files = planSegmentsInLoop(list, 0, 40000, f, {false, 3}, "s.wav");
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files[0].name, "s1L.wav");
    EXPECT_EQ(files[2].name, "s3L.wav");
    EXPECT_EQ(files[3].name, "s1R.wav");
    EXPECT_EQ(files[4].name, "s2R.wav");
    for (const auto& file : files) {
        EXPECT_EQ(file.layout, sample::LayoutMono);
    }
    EXPECT_EQ(files[0].start, 0u);
    EXPECT_EQ(files[0].length, 4000u);
    EXPECT_EQ(files[1].start, 8000u);
    EXPECT_EQ(files[2].start, 20000u);
    EXPECT_EQ(files[2].length, (40000u - 20000) / 2);
    EXPECT_EQ(files[3].start, 2u);
    EXPECT_EQ(files[3].length, 6000u);
    EXPECT_EQ(files[4].start, 12002u);
    EXPECT_EQ(files[4].length, (40000u + 2 - 12002) / 2);
    // Each channel's files together hold every frame of the loop, once.
    EXPECT_EQ(files[0].length + files[1].length + files[2].length, 40000u / 2);
    EXPECT_EQ(files[3].length + files[4].length, 40000u / 2);
}

TEST(SegmentExport, RegionAndSelectionCoverWholeFrames) {
    sample::SampleFormat f;
    f.channels = 1;
    f.dataLength = 20002; // an odd number of samples
    const ExportFile whole = planRegion(0, 20002, f, "r.wav");
    EXPECT_EQ(whole.start, 0u);
    EXPECT_EQ(whole.length, 20002u);
    f.channels = 2;
    f.dataLength = 20000;
    EXPECT_EQ(planRegion(6, 1006, f, "r.wav").start, 4u);
    EXPECT_EQ(planRegion(6, 1006, f, "r.wav").length, 1000u);
    const ExportFile lower = planSelectedSegment(4002, 8002, f, {false, 3}, false, "s.wav");
    EXPECT_EQ(lower.start, 4002u);
    EXPECT_EQ(lower.length, 2000u);
    EXPECT_EQ(lower.layout, sample::LayoutMono);
    const ExportFile both = planSelectedSegment(4000, 8000, f, {true, 3}, false, "s.wav");
    EXPECT_EQ(both.length, 4000u);
    EXPECT_EQ(both.layout, sample::LayoutStereo);
}

// Reads a file back through sox as 16-bit little-endian samples.
std::vector<int16_t> soxSamples(const std::string& file) {
    const auto r = cleavix::test::run({cleavix::test::soxPath(), file, "-t", "raw", "-e", "signed", "-b", "16", "-L",
                                       "/dev/stdout"});
    EXPECT_EQ(r.status, 0) << r.err;
    return cleavix::test::le16Samples(cleavix::test::Bytes(r.out.begin(), r.out.end()));
}

TEST(SegmentExport, WrittenFilesHoldExactlyTheSegmentsWhenReadBySox) {
    if (cleavix::test::soxPath().empty()) {
        GTEST_SKIP() << "sox not installed";
    }
    cleavix::test::TempDir dir;
    const auto signal = cleavix::test::testSignal(2 * 5000);
    auto store = makeStore(signal, 2);
    const SlicePointList list = listOf({{4000, 2}, {10002, 1}}, store->dataLength());
    for (const char* ext : {".wav", ".aif"}) {
        const auto files = planSegmentsInLoop(list, 0, store->dataLength(), store->format(), {false, 3},
                                              dir.file(std::string("cut") + ext));
        ASSERT_EQ(files.size(), 4u);
        for (const auto& file : files) {
            ASSERT_TRUE(writeExportFile(*store, file, 16, 0).ok) << file.name;
            const auto back = soxSamples(file.name);
            ASSERT_EQ(back.size(), file.length / 2) << file.name;
            for (size_t i = 0; i < back.size(); ++i) {
                ASSERT_EQ(back[i], signal[file.start / 2 + 2 * i]) << file.name << " sample " << i;
            }
        }
    }
    // A smoothed stereo segment: longer by the formula, and ends in silence in both channels.
    ExportFile file;
    file.name = dir.file("smooth.wav");
    file.start = 0;
    file.length = 8000;
    file.layout = sample::LayoutStereo;
    file.smooth = true;
    ASSERT_TRUE(writeExportFile(*store, file, 16, 30).ok);
    const auto back = soxSamples(file.name);
    ASSERT_EQ(back.size() * 2, TWaveSmoother::smoothedLength(8000, 30));
    EXPECT_EQ(back[back.size() - 1], 0);
    EXPECT_EQ(back[back.size() - 2], 0);
    for (size_t i = 0; i < 2 * 1000; ++i) { // the body up to the peaks is the audio itself
        ASSERT_EQ(back[i], signal[i]) << i;
    }
}

} // namespace
} // namespace cleavix::slicing
