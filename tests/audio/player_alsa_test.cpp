// The player through alsa-lib itself: the `file` PCM writes what it is given to a raw file and
// consumes it at once, so these tests assert on bytes and on the order of notices.
#include "AudioTestHelpers.h"
#include "audio/AlsaWaveDevice.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace cleavix::audio::test {
namespace {

using cleavix::test::TempDir;

class AlsaPlayer : public ::testing::Test {
protected:
    AlsaPlayer() : audio(loop, provider, &prompter) {
        raw = dir.file("out.raw");
        audio.setDeviceID(provider.addDevice("file:'" + raw + "',raw"));
        audio.BufferSize = 1;
        audio.BufferCount = 2;
        audio.Channels = 2;
        audio.SampleRate = 8000; // one buffer is 32000 bytes, all of them 64000
        audio.BitsPerSample = 16;
        audio.OnWaveoutput = [this](twabeAudio&) { ++ends; };
        sampleBytes = patternBytes(300000);
        store = memoryStore(sampleBytes);
        audio.setStore(store.get());
    }

    // Waits for the end of playback, lets any further notices arrive, closes the device (which
    // flushes the file) and returns what reached ALSA.
    std::vector<uint8_t> finish() {
        EXPECT_TRUE(pumpUntil(loop, [&] { return ends > 0; }));
        pumpUntil(loop, [] { return false; }, 50);
        audio.CloseOutput();
        loop.runPending();
        return cleavix::test::readFile(raw);
    }

    TempDir dir;
    jobs::MainLoop loop;
    RecordingPrompter prompter;
    AlsaDeviceProvider provider;
    twabeAudio audio;
    std::string raw;
    std::vector<uint8_t> sampleBytes;
    std::unique_ptr<sample::TFileAndMemoryStream> store;
    int ends = 0;
};

struct LoopCase {
    uint64_t start;
    uint64_t length;
    uint64_t passes;
    bool streaming;
};

class AlsaLoop : public AlsaPlayer, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(AlsaLoop, WritesExactlyNCopiesBackToBack) {
    const LoopCase c = GetParam();
    ASSERT_EQ(audio.OpenOutput(), 0) << audio.lastError();
    audio.LoopLimit = c.passes;
    audio.PlayRegion(c.start, c.length, true);
    EXPECT_EQ(audio.state().StreamingLoop, c.streaming);
    EXPECT_EQ(audio.state().LoopInBuffers, !c.streaming);
    const auto out = finish();
    EXPECT_EQ(ends, 1);
    ASSERT_EQ(out.size(), c.length * c.passes);
    EXPECT_TRUE(out == repeated(sampleBytes, c.start, c.length, c.passes));
}

INSTANTIATE_TEST_SUITE_P(Regions, AlsaLoop,
                         ::testing::Values(LoopCase{0, 1000, 3, false},      // inside one buffer
                                           LoopCase{400, 1000, 100, false},  // cycles over many refills
                                           LoopCase{8, 40000, 5, false},     // longer than one buffer
                                           LoopCase{0, 64000, 3, false},     // exactly all buffers
                                           LoopCase{4, 100000, 3, true},     // longer than all buffers
                                           LoopCase{12, 129996, 4, true}));  // short last buffer per pass

struct WholeCase {
    uint64_t start;
    uint64_t length;
};

class AlsaWhole : public AlsaPlayer, public ::testing::WithParamInterface<WholeCase> {};

TEST_P(AlsaWhole, PlaysTheRegionOnceAndEndsWithOneNotice) {
    const WholeCase c = GetParam();
    ASSERT_EQ(audio.OpenOutput(), 0) << audio.lastError();
    audio.PlayRegion(c.start, c.length, false);
    const auto out = finish();
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(audio.state().Playing);
    ASSERT_EQ(out.size(), c.length);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), sampleBytes.begin() + static_cast<long>(c.start)));
}

INSTANTIATE_TEST_SUITE_P(Regions, AlsaWhole,
                         ::testing::Values(WholeCase{0, 20000}, WholeCase{4, 32000} /* plus an empty buffer */,
                                           WholeCase{0, 64000} /* exactly all buffers */, WholeCase{16, 96004},
                                           WholeCase{0, 250000}, WholeCase{100, 0}));

TEST_F(AlsaPlayer, StopEndsOnceAfterEveryBufferCameBackAndThenThePendingPlayStarts) {
    ASSERT_EQ(audio.OpenOutput(), 0);
    std::vector<std::string> events;
    audio.OnWaveoutput = [&](twabeAudio& a) {
        events.push_back("ran dry, outstanding " + std::to_string(a.state().Outstanding));
        if (events.size() == 1) {
            a.PlayRegion(1000, 500, false); // the pending play
        }
    };
    audio.PlayRegion(0, 200000, true);
    audio.Stop();
    EXPECT_TRUE(events.empty()); // nothing before the buffers come back
    EXPECT_TRUE(pumpUntil(loop, [&] { return events.size() >= 2; }));
    pumpUntil(loop, [] { return false; }, 50);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], "ran dry, outstanding 0");
    EXPECT_EQ(audio.state().StaleNotices, 0);
}

TEST_F(AlsaPlayer, PlayFileSendsAiffSamplesLittleEndian) {
    std::vector<int16_t> samples;
    for (int i = 0; i < 30000; ++i) {
        samples.push_back(static_cast<int16_t>(i * 37 - 20000)); // 120000 bytes: more than all buffers
    }
    const std::string aiff = dir.file("loop.aiff");
    cleavix::test::AiffSpec spec;
    spec.channels = 2;
    spec.sampleRate = 8000;
    cleavix::test::writeFile(aiff, cleavix::test::makeAiff(spec, cleavix::test::be16Bytes(samples)));
    ASSERT_EQ(audio.PlayFile(aiff), 0) << audio.lastError();
    EXPECT_TRUE(audio.state().FileMode);
    const auto out = finish();
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(out == cleavix::test::le16Bytes(samples));
}

TEST_F(AlsaPlayer, PlayFileOfAWaveFilePassesItsBytesThrough) {
    const auto data = patternBytes(70000, 9);
    const std::string wav = dir.file("take.wav");
    cleavix::test::WaveSpec spec;
    spec.channels = 1;
    spec.sampleRate = 8000;
    spec.extraChunk = true;
    cleavix::test::writeFile(wav, cleavix::test::makeWave(spec, data));
    ASSERT_EQ(audio.PlayFile(wav), 0) << audio.lastError();
    const auto out = finish();
    EXPECT_TRUE(out == data);
}

TEST_F(AlsaPlayer, AnUnknownDeviceGivesTheOpenMessageWithItsCode) {
    audio.setDeviceID(provider.addDevice("hw:97,0"));
    const int code = audio.OpenOutput();
    EXPECT_NE(code, 0);
    EXPECT_FALSE(audio.IsOpen());
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].caption, "Error Opening Wave Output Device:#" + std::to_string(code));
    EXPECT_EQ(prompter.shown[0].text, audio.lastError());
    EXPECT_FALSE(audio.lastError().empty());
}

TEST_F(AlsaPlayer, AFormatTheDeviceCannotTakeGivesCode32AndTheRateMessage) {
    audio.setDeviceID(provider.addDevice("null"));
    audio.BitsPerSample = 12;
    EXPECT_EQ(audio.OpenOutput(), 32);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].caption, "Error Opening Wave Output Device:#32");
    EXPECT_EQ(prompter.shown[0].text, kOutputRateText);
}

TEST_F(AlsaPlayer, DeviceListsStartWithTheDefaultDeviceAndOfferNull) {
    const auto outputs = provider.outputs();
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs[0].id, -1);
    EXPECT_EQ(outputs[0].name, "default");
    bool null = false;
    for (const auto& d : outputs) {
        null = null || d.name == "null";
        EXPECT_LE(d.productName.size(), 32u);
    }
    EXPECT_TRUE(null);
    EXPECT_EQ(provider.resolve("-1"), -1);
    EXPECT_EQ(provider.resolve("null"), provider.resolve("null"));
    EXPECT_FALSE(provider.resolve("4711").has_value());
}

} // namespace
} // namespace cleavix::audio::test
