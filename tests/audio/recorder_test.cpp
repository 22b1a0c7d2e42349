// The recorder: a capture fed from a file through alsa-lib's `file` PCM (its "infile") lands in
// the store byte for byte; the ring of record buffers on a virtual input.
#include "AudioTestHelpers.h"
#include "audio/AlsaWaveDevice.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace cleavix::audio::test {
namespace {

TEST(AlsaRecorder, ACaptureFromAFileLandsInTheStoreByteForByte) {
    cleavix::test::TempDir dir;
    const auto captured = patternBytes(150000, 21);
    const std::string infile = dir.file("in.raw");
    cleavix::test::writeFile(infile, captured);
    const std::string conf = dir.file("capture.conf");
    {
        std::ofstream out(conf);
        out << "pcm.cleavix_capture_test {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n infile \""
            << infile << "\"\n format \"raw\"\n}\n";
    }
    ::setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);

    jobs::MainLoop loop;
    RecordingPrompter prompter;
    AlsaDeviceProvider provider;
    twabeAudio audio(loop, provider, &prompter);
    sample::TFileAndMemoryStream store;
    audio.setStore(&store);
    audio.setInputDeviceID(provider.addDevice("cleavix_capture_test"));
    audio.RecordChannels = 2;
    audio.RecordRate = 8000;
    audio.RecordRingSize = 4;
    ASSERT_EQ(audio.OpenInput(), 0) << audio.lastError();
    EXPECT_TRUE(audio.recorder().RecordPrepared);
    ASSERT_TRUE(audio.StartRecord());
    ASSERT_TRUE(pumpUntil(loop, [&] { return audio.recorder().RecordedBytes >= captured.size(); }));
    audio.StopRecord();
    audio.CloseInput();
    loop.runPending();
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_FALSE(audio.recorder().InputOpen);
    const auto& kept = store.memory();
    EXPECT_EQ(kept.size(), audio.lastRecordedBytes());
    ASSERT_GE(kept.size(), captured.size());
    const auto mismatch = std::mismatch(captured.begin(), captured.end(), kept.begin());
    EXPECT_EQ(mismatch.first - captured.begin(), static_cast<long>(captured.size()));
}

class VirtualRecorder : public ::testing::Test {
protected:
    VirtualRecorder() : audio(loop, provider, &prompter) {
        audio.setStore(&store);
        audio.RecordChannels = 2;
        audio.RecordRate = 8000;
        audio.RecordRingSize = 4;
        audio.Meter = &meter;
        meter.SetActive(true);
    }
    jobs::MainLoop loop;
    RecordingPrompter prompter;
    VirtualDeviceProvider provider;
    TMeterData meter;
    twabeAudio audio;
    sample::TFileAndMemoryStream store;
};

TEST_F(VirtualRecorder, KeepsTwoBuffersWithTheDeviceAndTheStopKeepsThePartialOne) {
    ASSERT_EQ(audio.OpenInput(), 0);
    EXPECT_EQ(provider.lastInput->queued(), 1u); // armed: one buffer waiting
    ASSERT_TRUE(audio.StartRecord());
    EXPECT_EQ(provider.lastInput->queued(), 2u);
    const auto data = patternBytes(32768 * 5 + 1000, 8);
    size_t fed = 0;
    while (fed < data.size()) {
        const size_t n = provider.lastInput->feed(data.data() + fed, std::min<size_t>(20000, data.size() - fed));
        fed += n;
        loop.runPending();
        EXPECT_LE(provider.lastInput->queued(), 2u);
        ASSERT_GT(n, 0u);
    }
    audio.StopRecord();
    audio.CloseInput();
    loop.runPending();
    EXPECT_EQ(audio.lastRecordedBytes(), data.size());
    EXPECT_TRUE(store.memory() == data);
    int32_t left = 0;
    int32_t right = 0;
    EXPECT_TRUE(meter.ReadLevel(meter.Control(0), left, right));
    EXPECT_GT(left, 0);
}

TEST_F(VirtualRecorder, ArmingAndClosingWithoutRecordingWritesNothing) {
    ASSERT_EQ(audio.OpenInput(), 0);
    audio.CloseInput();
    loop.runPending();
    EXPECT_EQ(store.size(), 0);
    ASSERT_EQ(audio.OpenInput(), 0); // armed again: the old notices must not close it
    loop.runPending();
    EXPECT_TRUE(audio.recorder().InputOpen);
}

TEST_F(VirtualRecorder, AnInputThatCannotTakeTheRateSaysSo) {
    provider.refuseWith = 32;
    EXPECT_EQ(audio.OpenInput(), 32);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].caption, "Error Opening Wave Output Device:#32");
    EXPECT_EQ(prompter.shown[0].text, kInputRateText);
    provider.refuseWith = 4;
    EXPECT_EQ(audio.OpenInput(), 4);
    EXPECT_EQ(prompter.shown[1].caption, "Error opening wave input device:#4");
}

} // namespace
} // namespace cleavix::audio::test
