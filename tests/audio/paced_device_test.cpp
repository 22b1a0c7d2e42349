// The paced virtual devices a build without ALSA offers the program: buffers come back in order,
// each once, after the time they take at the format's rate; reset and close give everything back
// at once; capture fills with silence; and the player and recorder work on them end to end.
#include "AudioTestHelpers.h"
#include "audio/PacedWaveDevice.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace cleavix::audio::test {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Buffers with their notices collected on the main loop, as the player gets them.
struct Buffers {
    explicit Buffers(size_t count, uint32_t bytes, uint8_t fill = 0x55) : blocks(count), headers(count) {
        for (size_t i = 0; i < count; ++i) {
            blocks[i].assign(bytes, fill);
            headers[i].data = blocks[i].data();
            headers[i].bufferLength = bytes;
        }
    }
    std::shared_ptr<NoticeChannel> channel(jobs::MainLoop& loop) {
        return NoticeChannel::posted(loop, [this](WaveHeader& header, uint32_t bytes) {
            const auto at = std::find_if(headers.begin(), headers.end(), [&](const WaveHeader& h) { return &h == &header; });
            noticed.push_back({int(at - headers.begin()), bytes});
        });
    }
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<WaveHeader> headers;
    std::vector<std::pair<int, uint32_t>> noticed; // buffer index, bytes
};

const WaveFormat kStereo = WaveFormat::pcm(2, 44100, 16); // 176400 bytes a second

TEST(PacedDevices, ListTheVirtualDevicesAndRefuseUnknownNumbersAndFormats) {
    PacedDeviceProvider provider;
    ASSERT_EQ(provider.outputs().size(), 2u);
    EXPECT_EQ(provider.outputs()[0].id, -1);
    EXPECT_EQ(provider.outputs()[0].name, "virtual-default");
    EXPECT_EQ(provider.inputs()[1].productName, "Virtual Input 0");
    jobs::MainLoop loop;
    Buffers b(1, 4);
    EXPECT_EQ(provider.createOutput(3)->open(kStereo, b.channel(loop)), kWaveBadDeviceId);
    EXPECT_EQ(provider.createInput(-2)->open(kStereo, b.channel(loop)), kWaveBadDeviceId);
    WaveFormat bad = kStereo;
    bad.sampleRate = 0;
    auto out = provider.createOutput(-1);
    EXPECT_EQ(out->open(bad, b.channel(loop)), kWaveBadFormat);
    EXPECT_FALSE(out->isOpen());
    EXPECT_EQ(out->write(b.headers[0]), kWaveInvalidHandle);
    ASSERT_EQ(out->open(kStereo, b.channel(loop)), kWaveOk);
    EXPECT_EQ(out->open(kStereo, b.channel(loop)), kWaveAllocated);
}

TEST(PacedDevices, OutputGivesEachBufferBackInOrderAfterItsPlayingTime) {
    jobs::MainLoop loop;
    Buffers b(3, 8820); // 50 ms each
    PacedWaveOut out;
    ASSERT_EQ(out.open(kStereo, b.channel(loop)), kWaveOk);
    for (auto& h : b.headers) {
        ASSERT_EQ(out.prepare(h), kWaveOk);
    }
    const auto start = Clock::now();
    for (auto& h : b.headers) {
        ASSERT_EQ(out.write(h), kWaveOk);
    }
    EXPECT_EQ(out.write(b.headers[0]), kWaveStillPlaying);
    ASSERT_TRUE(pumpUntil(loop, [&] { return !b.noticed.empty(); }));
    const double first = msSince(start);
    EXPECT_GE(first, 45.0);
    EXPECT_LE(out.position(), 3u * 8820u);
    ASSERT_TRUE(pumpUntil(loop, [&] { return b.noticed.size() == 3; }));
    EXPECT_GE(msSince(start), 145.0);
    const std::vector<std::pair<int, uint32_t>> want{{0, 8820}, {1, 8820}, {2, 8820}};
    EXPECT_EQ(b.noticed, want);
    EXPECT_EQ(out.position(), 3u * 8820u);
    for (auto& h : b.headers) {
        EXPECT_FALSE(h.withDevice());
    }
    // The position stands still while nothing is queued.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(out.position(), 3u * 8820u);
}

TEST(PacedDevices, ResetAndCloseGiveEveryBufferBackAtOnceWithThePlayedPart) {
    jobs::MainLoop loop;
    Buffers b(3, 176400 * 10); // ten seconds each: only a reset ends them
    PacedWaveOut out;
    ASSERT_EQ(out.open(kStereo, b.channel(loop)), kWaveOk);
    for (auto& h : b.headers) {
        ASSERT_EQ(out.prepare(h), kWaveOk);
        ASSERT_EQ(out.write(h), kWaveOk);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint64_t during = out.position();
    EXPECT_GT(during, 0u);
    EXPECT_EQ(during % 4, 0u);
    const auto start = Clock::now();
    ASSERT_EQ(out.reset(), kWaveOk);
    EXPECT_LT(msSince(start), 1000.0);
    for (auto& h : b.headers) {
        EXPECT_FALSE(h.withDevice());
    }
    EXPECT_EQ(out.position(), 0u);
    loop.runPending();
    ASSERT_EQ(b.noticed.size(), 3u);
    EXPECT_EQ(b.noticed[0].first, 0);
    EXPECT_GE(b.noticed[0].second, during);
    EXPECT_LT(b.noticed[0].second, 176400u * 10);
    EXPECT_EQ(b.noticed[1], (std::pair<int, uint32_t>{1, 0}));
    EXPECT_EQ(b.noticed[2], (std::pair<int, uint32_t>{2, 0}));

    // Queued again, then closed: each comes back once more.
    for (auto& h : b.headers) {
        ASSERT_EQ(out.write(h), kWaveOk);
    }
    out.close();
    EXPECT_FALSE(out.isOpen());
    loop.runPending();
    EXPECT_EQ(b.noticed.size(), 6u);
    EXPECT_EQ(out.reset(), kWaveInvalidHandle);
}

TEST(PacedDevices, InputFillsBuffersWithSilenceOnlyOnceStarted) {
    jobs::MainLoop loop;
    Buffers b(2, 4400); // 25 ms each (whole frames)
    PacedWaveIn in;
    ASSERT_EQ(in.open(kStereo, b.channel(loop)), kWaveOk);
    for (auto& h : b.headers) {
        ASSERT_EQ(in.prepare(h), kWaveOk);
        ASSERT_EQ(in.addBuffer(h), kWaveOk);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    loop.runPending();
    EXPECT_TRUE(b.noticed.empty()); // not started: nothing captured
    const auto start = Clock::now();
    ASSERT_EQ(in.start(), kWaveOk);
    ASSERT_TRUE(pumpUntil(loop, [&] { return b.noticed.size() == 2; }));
    EXPECT_GE(msSince(start), 45.0);
    const std::vector<std::pair<int, uint32_t>> want{{0, 4400}, {1, 4400}};
    EXPECT_EQ(b.noticed, want);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(b.headers[i].bytesRecorded, 4400u);
        EXPECT_TRUE(std::all_of(b.blocks[i].begin(), b.blocks[i].end(), [](uint8_t v) { return v == 0; }));
    }
}

TEST(PacedDevices, EightBitSilenceAndAResetKeepThePartCaptured) {
    jobs::MainLoop loop;
    const WaveFormat mono8 = WaveFormat::pcm(1, 8000, 8);
    Buffers b(2, 8000); // a second each
    PacedWaveIn in;
    ASSERT_EQ(in.open(mono8, b.channel(loop)), kWaveOk);
    for (auto& h : b.headers) {
        ASSERT_EQ(in.prepare(h), kWaveOk);
        ASSERT_EQ(in.addBuffer(h), kWaveOk);
    }
    ASSERT_EQ(in.start(), kWaveOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(in.reset(), kWaveOk);
    loop.runPending();
    ASSERT_EQ(b.noticed.size(), 2u);
    const uint32_t part = b.noticed[0].second;
    EXPECT_GT(part, 0u);
    EXPECT_LT(part, 8000u);
    EXPECT_EQ(b.headers[0].bytesRecorded, part);
    EXPECT_TRUE(std::all_of(b.blocks[0].begin(), b.blocks[0].begin() + part, [](uint8_t v) { return v == 0x80; }));
    EXPECT_EQ(b.blocks[0][part], 0x55); // the rest untouched
    EXPECT_EQ(b.noticed[1].second, 0u);
    in.close();
    loop.runPending();
    EXPECT_EQ(b.noticed.size(), 2u); // nothing was left to give back
}

TEST(PacedDevices, ThePlayerPlaysARegionToItsEndAndTheRecorderRecords) {
    jobs::MainLoop loop;
    PacedDeviceProvider provider;
    RecordingPrompter prompter;
    twabeAudio audio(loop, provider, &prompter);
    audio.BufferSize = 1;
    audio.BufferCount = 3;
    audio.setDeviceID(-1);
    const auto bytes = patternBytes(176400 / 5); // 200 ms
    auto store = memoryStore(bytes);
    audio.setStore(store.get());
    int ends = 0;
    audio.OnWaveoutput = [&](twabeAudio&) { ++ends; };
    ASSERT_EQ(audio.OpenOutput(), 0);
    const auto start = Clock::now();
    audio.PlayRegion(0, bytes.size(), false);
    EXPECT_TRUE(audio.state().Playing);
    ASSERT_TRUE(pumpUntil(loop, [&] { return ends > 0; }, 5000));
    EXPECT_GE(msSince(start), 190.0);
    EXPECT_FALSE(audio.state().Playing);
    audio.CloseOutput();
    EXPECT_TRUE(prompter.shown.empty());

    auto recording = std::make_unique<sample::TFileAndMemoryStream>();
    audio.setStore(recording.get());
    audio.setInputDeviceID(-1);
    ASSERT_EQ(audio.OpenInput(), 0);
    ASSERT_TRUE(audio.StartRecord());
    ASSERT_TRUE(pumpUntil(loop, [&] { return audio.recorder().RecordedBytes >= 176400 / 10; }, 5000));
    audio.StopRecord();
    audio.CloseInput();
    loop.runPending();
    EXPECT_GE(audio.lastRecordedBytes(), 176400u / 10);
    EXPECT_EQ(audio.lastRecordedBytes() % 4, 0u);
}

} // namespace
} // namespace cleavix::audio::test
