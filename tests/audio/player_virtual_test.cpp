// The player on a virtual device whose clock the test moves: stops, restarts, stale notices,
// reloads, silence while the store is busy, channel volume and the position.
#include "AudioTestHelpers.h"

#include <gtest/gtest.h>

namespace cleavix::audio::test {
namespace {

class VirtualPlayer : public ::testing::Test {
protected:
    VirtualPlayer() : audio(loop, provider, &prompter) {
        audio.BufferSize = 1;
        audio.BufferCount = 3;
        audio.Channels = 2;
        audio.SampleRate = 1000; // one buffer is 4000 bytes, all of them 12000
        audio.OnWaveoutput = [this](twabeAudio&) { ++ends; };
        sampleBytes = patternBytes(100000, 3);
        store = memoryStore(sampleBytes);
        audio.setStore(store.get());
        EXPECT_EQ(audio.OpenOutput(), 0);
        device = provider.lastOutput;
    }
    // Plays `bytes` more and delivers the notices.
    void play(uint64_t bytes) {
        playThrough(*device, loop, bytes);
    }
    std::vector<uint8_t> slice(size_t start, size_t length) const {
        return {sampleBytes.begin() + static_cast<long>(start), sampleBytes.begin() + static_cast<long>(start + length)};
    }

    jobs::MainLoop loop;
    RecordingPrompter prompter;
    VirtualDeviceProvider provider;
    twabeAudio audio;
    VirtualWaveOut* device = nullptr;
    std::vector<uint8_t> sampleBytes;
    std::unique_ptr<sample::TFileAndMemoryStream> store;
    int ends = 0;
};

TEST_F(VirtualPlayer, StreamingPlayRefillsInOrderAndEndsOnce) {
    audio.PlayRegion(100, 30000, false);
    EXPECT_EQ(audio.state().Outstanding, 3);
    play(40000);
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(device->played() == slice(100, 30000));
    play(4000);
    EXPECT_EQ(ends, 1);
}

TEST_F(VirtualPlayer, StopWithoutRestartEndsOnceWhenEveryBufferIsBack) {
    audio.PlayRegion(0, 50000, true);
    play(6000);
    audio.Stop();
    EXPECT_FALSE(audio.state().Playing);
    EXPECT_EQ(ends, 0);
    loop.runPending();
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(audio.state().Outstanding, 0);
}

TEST_F(VirtualPlayer, RestartSwallowsTheStaleNoticesAndTheNewPlayRunsUndisturbed) {
    audio.PlayRegion(0, 50000, true);
    play(6000);
    audio.RestartPending = true;
    audio.Stop();
    audio.RestartPending = false;
    EXPECT_EQ(audio.state().StaleNotices, 3);
    audio.PlayRegion(20000, 6000, false);
    loop.runPending();
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(audio.state().StaleNotices, 0);
    const size_t before = device->played().size();
    play(20000);
    EXPECT_EQ(ends, 1);
    const std::vector<uint8_t> second(device->played().begin() + static_cast<long>(before), device->played().end());
    EXPECT_TRUE(second == slice(20000, 6000));
}

TEST_F(VirtualPlayer, ANewPlayOverARunningOneCountsTheOldBuffersAsStale) {
    audio.PlayRegion(0, 50000, false);
    play(1000);
    audio.PlayRegion(8000, 2000, false); // no stop in between
    loop.runPending();
    EXPECT_EQ(ends, 0);
    play(10000);
    EXPECT_EQ(ends, 1);
}

TEST_F(VirtualPlayer, NoticesBeforeAnyPlayAreIgnored) {
    WaveHeader header;
    header.data = sampleBytes.data();
    header.bufferLength = 400;
    device->prepare(header);
    ASSERT_EQ(device->write(header), 0);
    play(400);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(audio.state().Outstanding, 0);
}

TEST_F(VirtualPlayer, ReloadQueuedMakesQueuedAudioReflectAnInPlaceEdit) {
    audio.PlayRegion(0, 40000, false);
    play(1000); // the device is inside the first buffer
    for (size_t i = 0; i < 40000; ++i) {
        sampleBytes[i] = static_cast<uint8_t>(~sampleBytes[i]);
    }
    store->writeAllAt(0, sampleBytes.data(), 40000);
    audio.ReloadQueued();
    play(4000); // the rest of buffer one, which the device had begun: played as it was
    play(100000);
    const auto& out = device->played();
    ASSERT_EQ(out.size(), 40000u);
    for (size_t i = 0; i < 4000; ++i) {
        ASSERT_EQ(out[i], static_cast<uint8_t>(~sampleBytes[i])) << i;
    }
    EXPECT_TRUE(std::equal(out.begin() + 4000, out.end(), sampleBytes.begin() + 4000));
}

TEST_F(VirtualPlayer, ReloadQueuedInALoopKeepsEachBuffersPlaceInTheRegion) {
    audio.PlayRegion(1000, 1500, true); // loops in buffers
    for (size_t i = 1000; i < 2500; ++i) {
        sampleBytes[i] = static_cast<uint8_t>(i * 3);
    }
    store->writeAllAt(1000, sampleBytes.data() + 1000, 1500);
    audio.ReloadQueued();
    play(12000);
    EXPECT_TRUE(device->played() == repeated(sampleBytes, 1000, 1500, 8));
}

TEST_F(VirtualPlayer, RefillsWhileTheStoreIsBusyAreSilent) {
    audio.PlayRegion(0, 50000, false);
    audio.StoreBusy = true;
    play(4000); // buffer one back: the refill is silence
    audio.StoreBusy = false;
    play(12000);
    const auto& out = device->played();
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 12000, sampleBytes.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + 12000, out.begin() + 16000, [](uint8_t b) { return b == 0; }));
}

TEST_F(VirtualPlayer, ChannelVolumeSilencesOneChannelAndModeFourRestores) {
    audio.SetChannelVolume(1); // right channel only
    audio.PlayRegion(0, 400, false);
    play(400);
    const auto& out = device->played();
    for (size_t frame = 0; frame < 100; ++frame) {
        ASSERT_EQ(out[frame * 4], 0);
        ASSERT_EQ(out[frame * 4 + 1], 0);
        ASSERT_EQ(out[frame * 4 + 2], sampleBytes[frame * 4 + 2]);
        ASSERT_EQ(out[frame * 4 + 3], sampleBytes[frame * 4 + 3]);
    }
    audio.SetChannelVolume(2);
    uint32_t volume = 0;
    device->getVolume(volume);
    EXPECT_EQ(volume, 0xFFFFu);
    audio.SetChannelVolume(4);
    device->getVolume(volume);
    EXPECT_EQ(volume, audio.savedVolume());
}

TEST_F(VirtualPlayer, ThePositionOfALoopKeepsGrowingAndStaysInTheRegionModuloItsLength) {
    audio.PlayRegion(2000, 1000, true);
    play(7400);
    EXPECT_EQ(audio.GetPosition(), 7400u);
    EXPECT_EQ(2000 + audio.GetPosition() % 1000, 2400u);
    EXPECT_TRUE(audio.state().Playing);
}

TEST_F(VirtualPlayer, AnEmptyLoopEndsAtOnceInsteadOfSpinning) {
    audio.PlayRegion(500, 0, true);
    EXPECT_FALSE(audio.state().LoopInBuffers);
    play(0);
    EXPECT_EQ(ends, 1);
}

TEST_F(VirtualPlayer, OneBufferStillStreamsTheWholeRegion) {
    audio.BufferCount = 1;
    audio.PlayRegion(0, 9000, false);
    play(20000);
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(device->played() == slice(0, 9000));
}

TEST_F(VirtualPlayer, TenBuffersRotateThroughTenSlotsWithoutOverwritingQueuedOnes) {
    audio.BufferCount = 10;
    audio.PlayRegion(0, 90000, false);
    play(100000);
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(device->played() == slice(0, 90000));
}

TEST_F(VirtualPlayer, ARefusingDeviceReportsItsCode) {
    audio.CloseOutput();
    provider.refuseWith = 4;
    EXPECT_EQ(audio.OpenOutput(), 4);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].caption, "Error Opening Wave Output Device:#4");
    provider.refuseWith = 32;
    EXPECT_EQ(audio.OpenOutput(), 32);
    EXPECT_EQ(prompter.shown[1].text, kOutputRateText);
}

} // namespace
} // namespace cleavix::audio::test
