// Edits given what a careful tester would try: clipboard images that are not whole frames, results
// past the 32-bit positions, and locators left beyond a sample that shrank.
#include "EditTestKit.h"

#include "editing/ClipboardImage.h"
#include "slicing/Tempo.h"
#include "support/FoldEngine.h"

#include <gtest/gtest.h>

namespace cleavix::test {
namespace {

// A stereo image whose data chunk holds `bytes` bytes (not always whole frames).
std::vector<uint8_t> stereoImage(size_t bytes) {
    auto img = editing::imageHeader(2, 44100, uint32_t(bytes));
    for (size_t i = 0; i < bytes; ++i) {
        img.push_back(uint8_t(0x40 + i));
    }
    return img;
}

// The left channel counts up, the right one down.
std::vector<int16_t> stereoRamp(size_t frames) {
    return stereoFrames(frames, [](int i) { return 1000 + i; }, [](int i) { return -1000 - i; });
}

// Every frame from `from` on still has the left channel positive and the right one negative.
bool channelsInPlace(const std::vector<int16_t>& w, size_t fromFrame, size_t toFrame) {
    for (size_t f = fromFrame; f < toFrame && f * 2 + 1 < w.size(); ++f) {
        if (w[f * 2] <= 0 || w[f * 2 + 1] >= 0) {
            return false;
        }
    }
    return true;
}

TEST(HalfFrames, EveryPasteOfAPartFrameImagePastesWholeFramesOnly) {
    for (size_t bytes : {1u, 2u, 3u, 5u, 6u}) {
        SCOPED_TRACE(std::to_string(bytes) + " bytes");
        const size_t whole = bytes - bytes % 4;
        {
            EditBench b;
            ASSERT_TRUE(b.loadSamples(stereoRamp(1000), 2));
            b.editor().setClipboardImage(stereoImage(bytes));
            b.editor().setupSelections(400, 400);
            b.run([&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); });
            EXPECT_EQ(b.s().format().dataLength, 4000u + whole);
            EXPECT_EQ(b.s().format().dataLength % 4, 0u);
            EXPECT_TRUE(channelsInPlace(b.samples(), 100 + whole / 4, 1000 + whole / 4));
        }
        {
            EditBench b;
            ASSERT_TRUE(b.loadSamples(stereoRamp(1000), 2));
            b.editor().setClipboardImage(stereoImage(bytes));
            b.run([&](editing::Done d) { return b.editor().pasteIntoSegment(0, 2, std::move(d)); });
            EXPECT_EQ(b.s().format().dataLength, 4000u);
            // The rest of the segment falls silent: no frame is left with its words crossed.
            const auto w = b.samples();
            for (size_t f = whole / 4; f < 1000; ++f) {
                EXPECT_EQ(w[f * 2], 0) << f;
                EXPECT_EQ(w[f * 2 + 1], 0) << f;
            }
        }
        {
            EditBench b;
            ASSERT_TRUE(b.loadSamples(stereoRamp(1000), 2));
            b.editor().setClipboardImage(stereoImage(bytes));
            b.run([&](editing::Done d) { return b.editor().pasteToNew(std::move(d)); });
            EXPECT_EQ(b.s().format().dataLength % 4, 0u);
        }
    }
}

TEST(HalfFrames, ReadingAPartFrameImageRoundsDownToWholeFrames) {
    EXPECT_EQ(editing::readImage(stereoImage(7)).dataSize, 4u);
    EXPECT_EQ(editing::readImage(stereoImage(3)).dataSize, 0u);
    auto mono = editing::imageHeader(1, 44100, 5);
    mono.resize(mono.size() + 5, 1);
    EXPECT_EQ(editing::readImage(mono).dataSize, 4u);
}

TEST(PositionLimit, PasteAtTheEndOfANearlyFourGigabyteStoreIsRefused) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(1000, 5), 1));
    // 0xFFFFF000 + 8000 passes the limit (4 GB less the store's 80 guard bytes); 4000 would fit.
    auto img = editing::imageHeader(1, 44100, 8000);
    img.resize(img.size() + 8000, 1);
    b.editor().setClipboardImage(img);
    // The store reads as silence past its bytes, so a long format needs no long file here.
    b.s().format().dataLength = 0xFFFFF000u;
    b.editor().setupSelections(0xFFFFF000u, 0xFFFFF000u);
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); }));
    EXPECT_EQ(b.s().format().dataLength, 0xFFFFF000u);
    ASSERT_FALSE(b.fx.prompter.asked.empty());
    EXPECT_EQ(b.fx.prompter.asked.back(), editing::kMsgTooLong);
    EXPECT_FALSE(b.editor().undoAvailable());
}

TEST(PositionLimit, ConvertingATwoGigabyteMonoSampleToStereoIsRefused) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(1000, 5), 1));
    b.s().format().dataLength = 0x80000000u;
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.processor().convertChannels(0, std::move(d)); }));
    EXPECT_EQ(b.s().format().dataLength, 0x80000000u);
    EXPECT_EQ(b.s().format().channels, 1);
    ASSERT_FALSE(b.fx.prompter.asked.empty());
    EXPECT_EQ(b.fx.prompter.asked.back(), editing::kMsgTooLong);
}

TEST(Locators, StripSilenceInReCutModeLeavesNoLocatorPastTheEnd) {
    EditBench b;
    std::vector<int16_t> audio(44100, 0);
    for (size_t i = 0; i < audio.size(); ++i) {
        audio[i] = (i / 2000) % 2 ? int16_t(8000 - int(i % 7) * 300) : int16_t(0);
    }
    ASSERT_TRUE(b.loadSamples(audio, 1));
    bool placed = false;
    b.slicer().cutLoopTo(slicing::GridDivision::Sixteenths, [&](bool ok) { placed = ok; });
    b.fx.waitIdle();
    ASSERT_TRUE(placed);
    b.processor().settings.stripMode = 2;
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().stripSilence(std::move(d)); }));
    const uint32_t length = b.s().format().dataLength;
    ASSERT_LT(length, 88200u);
    EXPECT_LE(b.slicer().right(), length);
    EXPECT_LE(b.slicer().left(), length);
}

TEST(Locators, StripSilenceRefusesAnUnknownMode) {
    for (int mode : {-1, 3, 99}) {
        EditBench b;
        std::vector<int16_t> audio(8000, 0);
        std::fill(audio.begin(), audio.begin() + 2000, int16_t(9000));
        std::fill(audio.begin() + 6000, audio.end(), int16_t(9000));
        ASSERT_TRUE(b.loadSamples(audio, 1));
        b.processor().settings.stripMode = mode;
        EXPECT_FALSE(b.run([&](editing::Done d) { return b.processor().stripSilence(std::move(d)); }));
        EXPECT_EQ(b.s().format().dataLength, 16000u);
    }
}

} // namespace
} // namespace cleavix::test
