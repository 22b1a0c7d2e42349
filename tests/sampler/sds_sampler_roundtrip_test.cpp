// Sends through the emulated sampler and fetches back: every rate and the awkward lengths,
// byte-exact, with and without smoothing; and the send captured on the cable against the codec.
#include "SdsRig.h"

#include "sampler/sds/SdsCodec.h"
#include "support/TestSupport.h"

#include <cmath>

using namespace cleavix;
using namespace cleavix::test::sds;

namespace {

std::vector<int16_t> signal(size_t count, uint32_t seed) {
    std::vector<int16_t> out = cleavix::test::testSignal(count, seed);
    if (!out.empty()) {
        out[0] = -32768;
        out.back() = 32767;
    }
    return out;
}

// A rig whose ports lead to the emulated sampler.
class SdsSamplerRoundTrip : public ::testing::Test {
protected:
    SdsSamplerRoundTrip() { rig.useProfile(kSampler, kSampler); }
    Rig rig;
};

} // namespace

TEST_F(SdsSamplerRoundTrip, EveryRateAndLengthByteExact) {
    rig.driver.setTimeouts({std::chrono::milliseconds(3000), std::chrono::milliseconds(3000), std::chrono::milliseconds(3000)});
    const uint32_t rates[] = {11025, 22050, 32000, 44100, 48000, 88200, 96000};
    const size_t lengths[] = {1, 39, 40, 41, 120, 5 * 128 * 40 + 17};
    int32_t number = 0;
    for (uint32_t rate : rates) {
        for (size_t length : lengths) {
            SCOPED_TRACE("rate " + std::to_string(rate) + ", " + std::to_string(length) + " words");
            const auto samples = signal(length, uint32_t(rate + length));
            const auto report = rig.send(samples, rate, number);
            ASSERT_EQ(report.error, "");
            EXPECT_FALSE(rig.driver.hasError());
            EXPECT_EQ(report.lengthWords, length);
            EXPECT_EQ(report.packets, (length + 39) / 40);
            EXPECT_EQ(report.period, sampler::sds::periodForRate(rate));
            const auto stored = rig.sampler->sample(uint32_t(number));
            ASSERT_TRUE(stored);
            EXPECT_EQ(stored->samples, samples);
            EXPECT_EQ(stored->periodNs, sampler::sds::periodForRate(rate));
            const auto received = rig.receive(number);
            ASSERT_EQ(received.error, "");
            EXPECT_EQ(received.channels, 1);
            EXPECT_EQ(received.sampleRate, sampler::sds::rateForPeriod(sampler::sds::periodForRate(rate)));
            EXPECT_EQ(received.bytes, length * 2);
            EXPECT_EQ(rig.receivedSamples(), samples);
            ++number;
        }
    }
}

TEST_F(SdsSamplerRoundTrip, LengthZeroIsSentAsAnEmptyDumpAndRefusedOnReceipt) {
    const auto report = rig.send({}, 44100, 3);
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.packets, 0u);
    EXPECT_EQ(report.lengthWords, 0u);
    // A sampler header of length 0 ends a receive as a failure, never as an empty success.
    rig.sampler->putSample(4, {});
    const auto received = rig.receive(4);
    EXPECT_EQ(received.channels, 0);
    EXPECT_EQ(received.error, "The dump header gives a sample length of 0");
}

TEST_F(SdsSamplerRoundTrip, SmoothedSendsTheSmoothersOutput) {
    const auto samples = signal(4000, 5);
    const auto report = rig.send(samples, 44100, 7, 30);
    ASSERT_EQ(report.error, "");
    const uint64_t expectedWords = slicing::TWaveSmoother::smoothedLength(8000, 30) / 2;
    EXPECT_EQ(report.lengthWords, expectedWords);
    // What the smoother itself delivers for the same stretch.
    sample::TFileAndMemoryStream store;
    store.writeAll(samples.data(), samples.size() * 2);
    slicing::TWaveSmoother::Settings s{.input = &store, .length = 8000, .level = 30, .lengthPerChannel = true};
    slicing::TWaveSmoother reference(s);
    std::vector<int16_t> expected(expectedWords);
    ASSERT_EQ(reference.read(expected.data(), expected.size()), expected.size());
    const auto stored = rig.sampler->sample(7);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->samples, expected);
    EXPECT_EQ(stored->samples.back(), 0); // the fade ends in silence
    const auto received = rig.receive(7);
    ASSERT_EQ(received.error, "");
    EXPECT_EQ(rig.receivedSamples(), expected);
}

TEST_F(SdsSamplerRoundTrip, CableCaptureMatchesTheCodecByteForByte) {
    rig.useProfile(kCable, kCable, /*openLoop=*/true, /*channel=*/3);
    const auto samples = signal(130, 9);
    const auto report = rig.send(samples, 32000, 21);
    ASSERT_EQ(report.error, "");
    const auto sent = rig.sentMessages();
    ASSERT_EQ(sent.size(), 1u + 4u);
    sampler::sds::DumpHeader h{.channel = 2, .sampleNumber = 21, .periodNs = 31250, .lengthWords = 130, .loopEnd = 130};
    const auto header = sampler::sds::encodeHeader(h);
    EXPECT_EQ(sent[0], std::vector<uint8_t>(header.begin(), header.end()));
    for (size_t p = 0; p < 4; ++p) {
        const size_t count = std::min<size_t>(40, 130 - p * 40);
        const auto packet = sampler::sds::encodePacket(2, uint8_t(p), &samples[p * 40], count);
        EXPECT_EQ(sent[1 + p], std::vector<uint8_t>(packet.begin(), packet.end())) << "packet " << p;
    }
    EXPECT_EQ(sent[4][8 + 3 * 9], 0x00); // filler after the last packet's 10 samples
}

TEST_F(SdsSamplerRoundTrip, PacketNumbersWrapAfter127) {
    rig.useProfile(kCable, kCable, true);
    const auto report = rig.send(signal(129 * 40, 3), 44100);
    ASSERT_EQ(report.error, "");
    const auto sent = rig.sentMessages();
    ASSERT_EQ(sent.size(), 130u);
    EXPECT_EQ(sent[128][4], 127);
    EXPECT_EQ(sent[129][4], 0);
}

TEST_F(SdsSamplerRoundTrip, StereoKeptGoesOutAsTheMix) {
    std::vector<int16_t> frames;
    std::vector<int16_t> mix;
    for (int i = 0; i < 100; ++i) {
        const int16_t a = int16_t(i * 300 - 15000);
        const int16_t b = int16_t(-i * 7 - 1);
        frames.push_back(a);
        frames.push_back(b);
        mix.push_back(int16_t((int(a) + int(b)) / 2));
    }
    rig.store.writeAll(frames.data(), frames.size() * 2);
    rig.driver.setSampleStore(&rig.store);
    sampler::SendSampleArgs args;
    args.sampleNumber = 11;
    args.channels = 2;
    args.keepStereo = true;
    args.channelsToSend = 2;
    args.length = 200; // bytes of one channel
    args.sampleRate = 44100;
    const auto report = rig.runSend(args);
    ASSERT_EQ(report.error, "");
    EXPECT_EQ(report.lengthWords, 100u); // the header counts the values sent
    const auto stored = rig.sampler->sample(11);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->samples, mix);
    // One channel of the same frames: every second value from the start offset.
    args.keepStereo = false;
    args.start = 2;
    args.sampleNumber = 12;
    ASSERT_EQ(rig.runSend(args).error, "");
    std::vector<int16_t> right;
    for (size_t i = 1; i < frames.size(); i += 2) {
        right.push_back(frames[i]);
    }
    EXPECT_EQ(rig.sampler->sample(12)->samples, right);
}

TEST_F(SdsSamplerRoundTrip, EightBitFileIsWidened) {
    sample::TFileAndMemoryStream file;
    const uint8_t bytes[] = {0x00, 0x80, 0xFF, 0x7F, 0x81};
    file.writeAll(bytes, sizeof bytes);
    rig.driver.setSourceStream(&file);
    sampler::SendSampleArgs args;
    args.sampleNumber = 2;
    args.length = 10; // bytes of 16-bit output
    args.bits = 8;
    args.fromFile = true;
    args.sampleRate = 22050;
    ASSERT_EQ(rig.runSend(args).error, "");
    EXPECT_EQ(rig.sampler->sample(2)->samples, (std::vector<int16_t>{-32768, 0, 32512, -256, 256}));
}

TEST_F(SdsSamplerRoundTrip, FolderKeepsSamplesBetweenSamplers) {
    cleavix::test::TempDir dir;
    const auto samples = signal(77, 4);
    {
        Rig first("", dir.path());
        first.useProfile(kSampler, kSampler);
        ASSERT_EQ(first.send(samples, 48000, 300).error, "");
    }
    EXPECT_TRUE(cleavix::test::fileExists(dir.file("sds-300.wav")));
    EXPECT_TRUE(cleavix::test::fileExists(dir.file("sds-300.json")));
    Rig other("", dir.path());
    other.useProfile(kSampler, kSampler);
    const auto received = other.receive(300);
    ASSERT_EQ(received.error, "");
    EXPECT_EQ(received.sampleRate, 48001u); // period 20833 ns read back
    EXPECT_EQ(other.receivedSamples(), samples);
}

TEST_F(SdsSamplerRoundTrip, OneSecondAt31250BaudTakesWhatTheStandardSays) {
    const auto samples = signal(44100, 8);
    const uint64_t before = rig.ports->clock()->nowMicros();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(rig.send(samples, 44100).error, "");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double modelled = double(rig.ports->clock()->nowMicros() - before) / 1e6;
    // Bytes on the wire: header, packets, and the answers (an ACK per message).
    const double packets = std::ceil(44100.0 / 40.0);
    const double sentBytes = 21 + packets * 127;
    const double answerBytes = (packets + 1) * 6;
    const double standard = sentBytes / 3125.0;
    std::printf("one second at 44.1 kHz: %.0f bytes sent, modelled %.3f s, bytes/3125 = %.3f s, "
                "with the answers %.3f s; wall clock %.3f s\n",
                sentBytes, modelled, standard, (sentBytes + answerBytes) / 3125.0, wall);
    EXPECT_GE(modelled, standard);
    EXPECT_NEAR(modelled, (sentBytes + answerBytes) / 3125.0, 0.01);
}
