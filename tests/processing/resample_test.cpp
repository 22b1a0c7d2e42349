// Resample: the whole sample converted to another rate keeping its pitch and length, with the
// slice points, locators and selection scaled, its undo, its refusals and its full-disk failures.
#include "editing/EditPicture.h"
#include "editing/EditTestKit.h"
#include "processing/RateConverter.h"
#include "processing/Resample.h"
#include "sample/WorkFiles.h"

#include <cmath>
#include <string>

namespace cleavix::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A sine of `hz` at `rate`, `frames` long, in each of `channels` (the second a fifth higher).
std::vector<int16_t> sine(size_t frames, uint16_t channels, uint32_t rate, double hz, double level = 10000) {
    std::vector<int16_t> v(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            const double f = c == 0 ? hz : hz * 1.5;
            v[i * channels + c] = int16_t(std::lrint(level * std::sin(2 * kPi * f * double(i) / rate)));
        }
    }
    return v;
}

// The worst distance of `got` from the ideal sine at the new rate, leaving out `edge` frames at
// each end, where the filter meets the sample's start and end.
int worstAgainstSine(const std::vector<int16_t>& got, uint16_t channels, uint32_t rate, double hz, size_t edge) {
    const std::vector<int16_t> ideal = sine(got.size() / channels, channels, rate, hz);
    int worst = 0;
    for (size_t i = edge * channels; i + edge * channels < got.size(); ++i) {
        worst = std::max(worst, std::abs(int(got[i]) - int(ideal[i])));
    }
    return worst;
}

void setPoints(EditBench& b, const std::vector<std::pair<uint32_t, uint8_t>>& points) {
    auto& list = b.slicer().candidates();
    list.clearPoints();
    list.setCount(0);
    for (auto [position, channel] : points) {
        slicing::SlicePoint p;
        p.position = position;
        p.channel = channel;
        p.enabled = 1;
        p.strength = 30000;
        list.append(p);
    }
    list.setMarkers(b.s().format().dataLength);
    b.slicer().rebuild();
}

std::vector<uint32_t> positions(EditBench& b) {
    std::vector<uint32_t> out;
    const auto& list = b.slicer().candidates();
    for (int k = 1; k <= list.count(); ++k) {
        out.push_back(list.at(k).position);
    }
    return out;
}

bool resample(EditBench& b, const std::string& rate) {
    return b.run([&](editing::Done d) { return b.processor().resample(rate, std::move(d)); });
}

bool asked(EditBench& b, const std::string& text) {
    return std::find(b.fx.prompter.asked.begin(), b.fx.prompter.asked.end(), text) != b.fx.prompter.asked.end();
}

TEST(ResampleFrames, RoundHalvesUpAndNeverOverflow) {
    using processing::resampledFrames;
    EXPECT_EQ(resampledFrames(100001, 44100, 22050), 50001u); // 50000.5
    EXPECT_EQ(resampledFrames(100001, 44100, 48000), 108845u); // 108844.63
    EXPECT_EQ(resampledFrames(7, 48000, 44100), 6u);          // 6.43
    EXPECT_EQ(resampledFrames(0, 44100, 48000), 0u);
    EXPECT_EQ(resampledFrames(1, 44100, 22050), 1u);
    // Past 2^64 as a plain product: 2^32 frames times a rate near 2^32.
    EXPECT_EQ(resampledFrames(0xFFFFFFFFull, 0xFFFFFFFEu, 0xFFFFFFFFu), 0x100000000ull);
    EXPECT_EQ(resampledFrames(1000000007ull, 3, 4000000000u), 1333333342666666667ull);
}

TEST(ResampleScaling, PointsKeepTheirChannelAndStayInside) {
    processing::ResamplePlan plan;
    plan.fromRate = 44100;
    plan.toRate = 22050;
    plan.channels = 2;
    plan.frames = 1001;
    plan.newFrames = processing::resampledFrames(1001, 44100, 22050); // 501
    EXPECT_EQ(plan.newFrames, 501u);
    EXPECT_EQ(processing::scalePointPosition(400, plan), 200u);     // frame 100 -> 50
    EXPECT_EQ(processing::scalePointPosition(402, plan), 202u);     // the second channel stays 2 bytes in
    EXPECT_EQ(processing::scalePointPosition(4000, plan), 500u * 4); // the last frame, not past it
    EXPECT_EQ(processing::scaleEdge(4004, plan), 501u * 4);          // an edge may stand at the end
    EXPECT_EQ(processing::scaleEdge(0, plan), 0u);
}

TEST(Resample, MonoDownsampleKeepsPitchAndLength) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(sine(44100, 1, 44100, 1000), 1, 44100));
    ASSERT_TRUE(resample(b, "22050"));
    const auto& f = b.s().format();
    EXPECT_EQ(f.sampleRate, 22050u);
    EXPECT_EQ(f.bytesPerSecond, 44100u);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.dataLength, 22050u * 2);
    EXPECT_DOUBLE_EQ(f.seconds(), 1.0);
    const auto got = b.samples();
    // The same 1000 Hz at the new rate, within two steps of the ideal sine away from the ends.
    EXPECT_LE(worstAgainstSine(got, 1, 22050, 1000, 100), 2);
    EXPECT_TRUE(b.s().modified());
    EXPECT_NE(b.s().formatText().find("22050 hz"), std::string::npos);
}

TEST(Resample, StereoUpsampleKeepsBothChannelsApart) {
    EditBench b;
    const size_t frames = 30011;
    ASSERT_TRUE(b.loadSamples(sine(frames, 2, 44100, 440), 2, 44100));
    ASSERT_TRUE(resample(b, "48000"));
    const auto& f = b.s().format();
    EXPECT_EQ(f.sampleRate, 48000u);
    EXPECT_EQ(f.bytesPerSecond, 192000u);
    EXPECT_EQ(f.frames(), processing::resampledFrames(frames, 44100, 48000));
    EXPECT_EQ(f.frames(), 32665u); // 32664.48... rounded
    // Left at 440 Hz, right at 660 Hz, each where it belongs.
    EXPECT_LE(worstAgainstSine(b.samples(), 2, 48000, 440, 100), 2);
}

TEST(Resample, EightBitFileKeepsItsBitsForSaving) {
    EditBench b;
    // Unsigned 8-bit: 128 is silence.
    Bytes data(8000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = uint8_t(128 + std::lrint(100 * std::sin(2 * kPi * 500 * double(i) / 22050)));
    }
    WaveSpec spec;
    spec.channels = 1;
    spec.sampleRate = 22050;
    spec.bits = 8;
    writeFile(b.files.file("eight.wav"), makeWave(spec, data));
    ASSERT_TRUE(b.fx.load(b.files.file("eight.wav")));
    ASSERT_EQ(b.s().format().sourceBits, 8);
    ASSERT_TRUE(resample(b, "44100"));
    EXPECT_EQ(b.s().format().frames(), 16000u);
    EXPECT_EQ(b.s().format().saveBits, 8);
    EXPECT_EQ(b.s().format().bitsPerSample, 16);
    // Still the 500 Hz tone, now at the 16-bit store's scale (x 256).
    const auto got = b.samples();
    int worst = 0;
    for (size_t i = 200; i + 200 < got.size(); ++i) {
        const double ideal = 256.0 * 100 * std::sin(2 * kPi * 500 * double(i) / 44100);
        worst = std::max(worst, int(std::lrint(std::fabs(got[i] - ideal))));
    }
    EXPECT_LE(worst, 3 * 256) << "within the 8-bit file's own rounding";
    // Saved at 8 bits, at the new rate.
    ASSERT_TRUE(b.fx.runAndWait([&](auto done) { b.s().saveTo(b.files.file("out.wav"), 8, done); }));
    const Bytes out = readFile(b.files.file("out.wav"));
    EXPECT_EQ(getLe32(out, 24), 44100u);
    EXPECT_EQ(getLe16(out, 34), 8);
}

TEST(Resample, PointsLocatorsAndSelectionFollowTheirAudio) {
    EditBench b;
    const size_t frames = 44100;
    ASSERT_TRUE(b.loadSamples(sine(frames, 2, 44100, 300), 2, 44100));
    b.slicer().channelMode().linked = false;
    // Frame 11025 (a quarter second) in the first channel, frame 22050 in the second, the last
    // frame, and two points one frame apart that a quarter of the rate brings together.
    setPoints(b, {{11025 * 4, slicing::kCodeFirst},
                  {22050 * 4 + 2, slicing::kCodeSecondOrMono},
                  {30000 * 4, slicing::kCodeFirst},
                  {30001 * 4, slicing::kCodeFirst},
                  {30001 * 4 + 2, slicing::kCodeSecondOrMono},
                  {44099 * 4, slicing::kCodeFirst}});
    b.slicer().setLoop(4410 * 4, 44100 * 4);
    b.editor().setupSelections(8820 * 4, 13230 * 4);
    ASSERT_TRUE(resample(b, "11025"));
    EXPECT_EQ(b.s().format().frames(), 11025u);
    // 11025 -> 2756.25 -> 2756; 22050 -> 5512.5 -> 5513; 30000 and 30001 -> 7500 (one kept; the
    // second channel's keeps its own); the last frame 44099 -> 11025 -> held at 11024.
    EXPECT_EQ(positions(b), (std::vector<uint32_t>{2756 * 4, 5513 * 4 + 2, 7500 * 4, 7500 * 4 + 2, 11024 * 4}));
    EXPECT_EQ(b.slicer().candidates().endMarker().position, 11025u * 4);
    EXPECT_EQ(b.slicer().left(), 1103u * 4);   // 1102.5 rounded up
    EXPECT_EQ(b.slicer().right(), 11025u * 4); // the end stays the end
    EXPECT_EQ(b.editor().selectionStart(), 2205u * 4);
    EXPECT_EQ(b.editor().selectionEnd(), 3308u * 4); // 3307.5
    EXPECT_FALSE(b.slicer().channelMode().linked) << "the points' sharing is the sample's own";
}

TEST(Resample, UndoGivesTheStoreBackByteForByteAndRedoAgain) {
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        SCOPED_TRACE(channels);
        EditBench b;
        auto audio = testSignal(20000 * channels, 5);
        ASSERT_TRUE(b.loadSamples(audio, channels, 44100));
        setPoints(b, {{4000u * channels, slicing::kCodeSecondOrMono}, {12000u * channels, slicing::kCodeSecondOrMono}});
        b.slicer().setLoop(2000u * channels, 30000u * channels);
        b.editor().setupSelections(1000u * channels, 3000u * channels);
        const Picture before = Picture::of(b);
        ASSERT_TRUE(resample(b, "96000"));
        const auto resampled = b.samples();
        const auto points = positions(b);
        EXPECT_EQ(b.s().format().frames(), processing::resampledFrames(20000, 44100, 96000));
        EXPECT_EQ(b.editor().undoCaption(), editing::kCaptionUndo);
        ASSERT_TRUE(b.editor().undoAvailable());
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
        EXPECT_EQ(b.samples(), audio);
        const Picture undone = Picture::of(b);
        EXPECT_EQ(undone.samples, before.samples);
        EXPECT_EQ(undone.dataLength, before.dataLength);
        EXPECT_EQ(undone.rate, 44100u);
        EXPECT_EQ(undone.points, before.points);
        EXPECT_EQ(undone.left, before.left);
        EXPECT_EQ(undone.right, before.right);
        EXPECT_EQ(undone.selection, before.selection);
        EXPECT_FALSE(undone.modified) << "back to the loaded sample";
        EXPECT_EQ(b.editor().undoCaption(), editing::kCaptionRedo);
        // Redo: the same bytes as the resample made.
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
        EXPECT_EQ(b.samples(), resampled);
        EXPECT_EQ(b.s().format().sampleRate, 96000u);
        EXPECT_EQ(positions(b), points);
    }
}

TEST(Resample, WithoutTheUndoBufferLeavesNoScratchFile) {
    session::Settings settings;
    settings.enableUndo = false;
    EditBench b(settings);
    ASSERT_TRUE(b.loadSamples(sine(5000, 1, 44100, 1000), 1, 44100));
    ASSERT_TRUE(resample(b, "32000"));
    EXPECT_EQ(b.s().format().frames(), processing::resampledFrames(5000, 44100, 32000));
    EXPECT_LE(worstAgainstSine(b.samples(), 1, 32000, 1000, 100), 2);
    EXPECT_FALSE(b.editor().undoAvailable());
    EXPECT_EQ(b.workFiles(sample::kScratchPrefix), 0);
}

TEST(Resample, TheSameRateChangesNothing) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(3000), 1, 44100));
    const Picture before = Picture::of(b);
    EXPECT_TRUE(resample(b, "44100"));
    EXPECT_EQ(Picture::of(b).differs(before), "");
}

TEST(Resample, InvalidRatesAreRefusedAloudAndChangeNothing) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(8000), 2, 44100));
    b.editor().setupSelections(400, 800);
    const Picture before = Picture::of(b);
    // Not numbers, 0, negative, a fraction, bytes per second past 32 bits in stereo, and a rate
    // so low that nothing of the 2000 frames would be left.
    for (const char* bad : {"32k", "", "0", "-44100", "44100.5", "1073741824", "99999999999", "5"}) {
        SCOPED_TRACE(bad);
        b.fx.prompter.asked.clear();
        EXPECT_FALSE(resample(b, bad));
        EXPECT_TRUE(asked(b, processing::kMsgInvalidRate));
        EXPECT_EQ(Picture::of(b).differs(before), "");
    }
    // The converter's widest ratio, either way.
    EXPECT_TRUE(processing::resampleRateValid("524288000", 8000, 1));
    EXPECT_FALSE(processing::resampleRateValid("524288001", 8000, 1));
    EXPECT_TRUE(processing::rateTextValid("1073741823", 2));
    EXPECT_FALSE(processing::rateTextValid("1073741824", 2));
    EXPECT_TRUE(processing::rateTextValid("2147483647", 1));
    EXPECT_TRUE(processing::resampleRateValid("1", 65536, 1));
    EXPECT_FALSE(processing::resampleRateValid("1", 65537, 1));
}

TEST(Resample, PastTheFourGigabyteLimitIsRefusedBeforeAnythingChanges) {
    EditBench b;
    // 40000 mono frames at 100 Hz made 6553600 Hz: 2621440000 frames, 5.2 GB.
    ASSERT_TRUE(b.loadSamples(ramp(40000, -20000), 1, 100));
    const Picture before = Picture::of(b);
    const int files = b.workFiles(sample::kStorePrefix);
    EXPECT_FALSE(resample(b, "6553600"));
    EXPECT_TRUE(asked(b, editing::kMsgTooLong));
    EXPECT_EQ(Picture::of(b).differs(before), "");
    EXPECT_EQ(b.workFiles(sample::kStorePrefix), files) << "no backup was begun";
}

TEST(ResampleFullDisk, NoRoomForTheBackupOrTheGrowthLeavesEverythingAsItWas) {
    for (const int64_t room : {int64_t(0), int64_t(3000), int64_t(16000 + 100)}) {
        SCOPED_TRACE(room);
        EditBench b;
        ASSERT_TRUE(b.loadSamples(sine(4000, 2, 22050, 700), 2, 22050));
        // An earlier edit, whose undo must survive the failure.
        b.editor().setupSelections(0, 4000);
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().invert(std::move(d)); }));
        b.editor().setupSelections(0, 0);
        setPoints(b, {{4000, slicing::kCodeSecondOrMono}});
        const Picture before = Picture::of(b);
        {
            // 16000 bytes of backup; doubling the rate needs 16000 more in the store.
            FreeSpace space(room);
            EXPECT_FALSE(resample(b, "44100"));
        }
        EXPECT_EQ(Picture::of(b).differs(before), "");
        EXPECT_TRUE(asked(b, editing::kMsgProcessingError));
        EXPECT_EQ(b.workFiles(sample::kScratchPrefix), 0);
    }
}

// Every amount of space from none to enough: the resample either completes, or fails with the
// sample, its points and its undo as they were -- also where the space runs out after the audio
// was converted (the peak table grows last), which puts the backup back over the store.
TEST(ResampleFullDisk, AtEveryAmountOfSpaceCompletesOrChangesNothing) {
    int failed = 0;
    int failedAfterTheAudio = 0;
    int completed = 0;
    std::vector<int16_t> expected;
    for (int64_t room = 0; room <= 72000; room += 1500) {
        SCOPED_TRACE(room);
        EditBench b;
        ASSERT_TRUE(b.loadSamples(sine(6000, 2, 11025, 300), 2, 11025));
        setPoints(b, {{8000, slicing::kCodeSecondOrMono}});
        const Picture before = Picture::of(b);
        bool ok = false;
        {
            FreeSpace space(room);
            ok = resample(b, "22050");
        }
        if (ok) {
            ++completed;
            if (expected.empty()) {
                expected = b.samples();
            }
            EXPECT_EQ(b.samples(), expected) << "the same result whatever the room";
            EXPECT_EQ(b.s().format().sampleRate, 22050u);
        } else {
            ++failed;
            // Room for the 24000-byte backup and the store's growth to 48000 bytes (from 24080
            // with its guard bytes): the audio was converted, the peak table found no room.
            if (room >= 24000 + 48000 - 24080) {
                ++failedAfterTheAudio;
            }
            EXPECT_EQ(Picture::of(b).differs(before), "");
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(failedAfterTheAudio, 0);
    EXPECT_GT(completed, 0);
}

TEST(Resample, RefusedWhileBusyOrWithNothingLoaded) {
    EditBench b;
    EXPECT_FALSE(b.processor().resample("22050"));
    ASSERT_TRUE(b.loadSamples(ramp(2000), 1));
    ASSERT_TRUE(b.s().processor().resample("22050"));
    EXPECT_FALSE(b.s().processor().resample("11025")) << "a worker runs";
    b.fx.waitIdle();
    EXPECT_EQ(b.s().format().sampleRate, 22050u);
}

} // namespace
} // namespace cleavix::test
