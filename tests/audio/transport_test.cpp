// The transport's engine side on a virtual device: pending actions, restarts on locator drops,
// channel modes, the cursor timer's interval and the cursor's column modulo the loop.
#include "AudioTestHelpers.h"

#include <gtest/gtest.h>

namespace cleavix::audio::test {
namespace {

class TransportTest : public ::testing::Test {
protected:
    TransportTest() : audio(loop, provider, nullptr), transport(audio) {
        audio.BufferSize = 1;
        audio.BufferCount = 2;
        audio.Channels = 2;
        audio.SampleRate = 1000; // a buffer is 4000 bytes
        sampleBytes = patternBytes(80000, 5);
        store = memoryStore(sampleBytes);
        audio.setStore(store.get());
        transport.openOutput = [this] { audio.OpenOutput(); };
        TransportView& v = transport.view;
        v.loaded = true;
        v.channels = 2;
        v.sampleRate = 1000;
        v.totalLength = 80000;
        v.viewStart = 0;
        v.viewEnd = 80000;
        v.viewWidth = 800;
        v.locatorL = 10002; // not on a frame start
        v.locatorR = 14003;
    }
    void play(uint64_t bytes) {
        playThrough(*provider.lastOutput, loop, bytes);
    }

    jobs::MainLoop loop;
    VirtualDeviceProvider provider;
    twabeAudio audio;
    TTransport transport;
    std::vector<uint8_t> sampleBytes;
    std::unique_ptr<sample::TFileAndMemoryStream> store;
};

TEST_F(TransportTest, LoopPressedWhileTheViewPlaysStartsOnlyAfterThePlayerRanDry) {
    transport.PlaySelectionButtonClick();
    ASSERT_TRUE(audio.state().Playing);
    EXPECT_EQ(audio.state().RegionStart, 0u);
    play(1000);
    transport.Button20Click();
    EXPECT_FALSE(transport.LoopPlaying); // pending, not yet started
    EXPECT_TRUE(transport.pendingAction != nullptr);
    loop.runPending(); // the buffers come back: the pending loop runs
    EXPECT_TRUE(transport.LoopPlaying);
    EXPECT_EQ(transport.down, PlayButton::Button20);
    EXPECT_EQ(audio.state().RegionStart, 10000u);
    EXPECT_EQ(audio.state().RegionLength, 4000u);
    EXPECT_TRUE(audio.state().LoopInBuffers);
    EXPECT_EQ(transport.CursorX, 100); // the cursor starts at L
}

TEST_F(TransportTest, TheLoopCursorWrapsBackToLAtEachPass) {
    transport.Button20Click();
    ASSERT_TRUE(transport.LoopPlaying);
    play(2 * 4000 + 2000); // two and a half passes
    transport.SuperTimer1Timer();
    // PlayStart is L as given (10002); half a pass later is byte 12002 of 80000 over 800 pixels.
    EXPECT_EQ(transport.CursorX, 120);
    EXPECT_EQ(transport.LastCursorX, 120);
    EXPECT_TRUE(transport.cursorDrawn);
}

TEST_F(TransportTest, ALocatorDropRestartsTheLoopAtOnceAndALaterPlayStillWaitsForTheEnd) {
    int stops = 0;
    transport.Button20Click();
    play(1000);
    transport.view.locatorL = 20000;
    transport.view.locatorR = 22000;
    transport.LocatorDropped();
    EXPECT_EQ(audio.state().RegionStart, 20000u); // restarted at once
    EXPECT_TRUE(transport.LoopPlaying);
    loop.runPending(); // the abandoned buffers' notices are swallowed
    EXPECT_TRUE(audio.state().Playing);
    EXPECT_EQ(audio.state().StaleNotices, 0);
    transport.batchDialogPlayStopped = [&] { return ++stops, false; };
    transport.Button4Click(); // a normal stop with a pending play: must reach the pending action
    loop.runPending();
    EXPECT_EQ(transport.down, PlayButton::Button4);
    EXPECT_FALSE(transport.LoopPlaying);
    EXPECT_EQ(stops, 0);
}

TEST_F(TransportTest, TheEndOfAPlayResetsTheButtonsThroughStop) {
    transport.view.viewStart = 1000;
    transport.view.viewEnd = 3000;
    transport.Button3Click();
    EXPECT_EQ(transport.down, PlayButton::Button3);
    EXPECT_EQ(audio.state().RegionStart, 1000u);
    play(5000);
    EXPECT_EQ(transport.down, PlayButton::None);
    EXPECT_FALSE(transport.timerEnabled);
    EXPECT_EQ(transport.CursorX, 0);
}

TEST_F(TransportTest, WithTheViewStartNotBeforeItsEndPlayPlaysTheWholeSample) {
    transport.view.viewStart = 5000;
    transport.view.viewEnd = 5000;
    transport.CallPlaySelection();
    EXPECT_EQ(audio.state().RegionStart, 0u);
    EXPECT_EQ(audio.state().RegionLength, 80000u);
}

TEST_F(TransportTest, AnEmptyLoopRegionStopsInsteadOfPlaying) {
    transport.view.locatorL = 4001;
    transport.view.locatorR = 4003; // the same frame
    transport.Button20Click();
    EXPECT_FALSE(audio.state().Playing);
    EXPECT_EQ(transport.down, PlayButton::None);
}

TEST_F(TransportTest, ASegmentInTheRightChannelPlaysOnTheRightOnlyInSeparateMode) {
    transport.view.linkedChannels = false;
    transport.view.segmentInLeft = false;
    transport.view.segmentStart = 1002;
    transport.view.segmentEnd = 2001;
    audio.OpenOutput();
    transport.Button4Click();
    uint32_t volume = 0;
    provider.lastOutput->getVolume(volume);
    EXPECT_EQ(volume, 0xFFFF0000u);
    EXPECT_EQ(audio.state().RegionStart, 1000u);
    EXPECT_EQ(audio.state().RegionLength, 1000u);
}

TEST(TransportModes, ChannelModesFollowTheChannelState) {
    TransportView v;
    v.channels = 1;
    v.leftTicked = false;
    EXPECT_EQ(channelModeForVisible(v), 3);
    v.channels = 2;
    v.processChannel = 1;
    EXPECT_EQ(channelModeForVisible(v), 2);
    v.processChannel = 2;
    EXPECT_EQ(channelModeForVisible(v), 1);
    EXPECT_EQ(channelModeForLoop(v), 1);
    v.leftTicked = true;
    v.rightTicked = false;
    EXPECT_EQ(channelModeForLoop(v), 2);
    v.processChannel = 3;
    EXPECT_EQ(channelModeForPlaySelection(v), 3);
    v.processChannel = 1;
    EXPECT_EQ(channelModeForPlaySelection(v), 2);
    v.linkedChannels = true;
    EXPECT_EQ(channelModeForSegment(v), 3);
}

TEST(TransportModes, TimerFactorSteps) {
    EXPECT_EQ(timerFactorFor(0.1), 1);
    EXPECT_EQ(timerFactorFor(0.11), 2);
    EXPECT_EQ(timerFactorFor(0.8), 4);
    EXPECT_EQ(timerFactorFor(1.4), 8);
    EXPECT_EQ(timerFactorFor(2.0), 16);
    EXPECT_EQ(timerFactorFor(2.01), 32);
}

TEST_F(TransportTest, TheCursorIntervalComesFromTheViewAndTheFactor) {
    // A view of 441000 bytes at 44100 Hz, 16-bit stereo, 800 pixels wide.
    transport.view.sampleRate = 44100;
    transport.view.totalLength = 441000;
    transport.view.viewEnd = 441000;
    audio.SampleRate = 44100;
    transport.CallPlaySelection();
    // q = 44100 / (441000 / 2) = 0.2: factor 2; 441000 / 44100 / 800 * 1000 * 2 = 25 ms.
    EXPECT_EQ(transport.TimerFactor, 2);
    EXPECT_EQ(transport.timerIntervalMs, 25);
}

} // namespace
} // namespace cleavix::audio::test
