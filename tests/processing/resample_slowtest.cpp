// Resample against sox's own very-high-quality rate conversion (`sox -D IN -b 16 OUT rate -v HZ`,
// without dither so both sides round plainly) on the same input: mono and stereo, 8 and 16 bits,
// up and down. The difference must stay within rounding (see the bound below); the length is
// round(frames x new / old) exactly, which is also what sox gives.
#include "SoxData.h"
#include "editing/EditTestKit.h"
#include "processing/RateConverter.h"

#include <cmath>
#include <iostream>

namespace cleavix::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Tones across the passband both rates share (up to 0.85 of the lower Nyquist frequency, below
// where the two converters' filters begin to roll off, each in its own way), and when the rate
// goes down one more in the stopband (1.3 times the new Nyquist), which both must take out.
std::vector<double> music(size_t frames, uint16_t channels, uint32_t from, uint32_t to) {
    const double nyquist = std::min(from, to) / 2.0;
    std::vector<double> tones;
    for (double share : {0.005, 0.04, 0.11, 0.27, 0.5, 0.85}) {
        tones.push_back(share * nyquist);
    }
    if (to < from && 1.3 * to / 2.0 < 0.9 * from / 2.0) {
        tones.push_back(1.3 * to / 2.0);
    }
    std::vector<double> v(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            double s = 0;
            for (size_t k = 0; k < tones.size(); ++k) {
                // The second channel's tones a little lower, so the channels differ.
                s += 0.09 * std::sin(2 * kPi * tones[k] * (c == 0 ? 1.0 : 0.9) * double(i) / from + double(k));
            }
            v[i * channels + c] = s;
        }
    }
    return v;
}

struct Case {
    uint16_t channels;
    uint16_t bits;
    uint32_t from;
    uint32_t to;
};

class AgainstSoxRate : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (soxPath().empty()) {
            GTEST_SKIP() << "sox is not installed";
        }
    }
};

TEST_P(AgainstSoxRate, WithinTheBoundAndExactlyRoundedInLength) {
    const Case c = GetParam();
    EditBench b;
    const size_t frames = size_t(c.from) * 3 / 2 + 7; // a second and a half, and an odd frame count
    const auto signal = music(frames, c.channels, c.from, c.to);
    Bytes data;
    for (double s : signal) {
        if (c.bits == 8) {
            data.push_back(uint8_t(std::lrint(128 + 127 * s)));
        } else {
            const auto v = int16_t(std::lrint(32767 * s));
            data.push_back(uint8_t(v & 0xFF));
            data.push_back(uint8_t((v >> 8) & 0xFF));
        }
    }
    WaveSpec spec;
    spec.channels = c.channels;
    spec.sampleRate = c.from;
    spec.bits = c.bits;
    const std::string in = b.files.file("in.wav");
    const std::string out = b.files.file("sox.wav");
    writeFile(in, makeWave(spec, data));
    ASSERT_TRUE(b.fx.load(in));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().resample(std::to_string(c.to), std::move(d)); }));
    const auto ours = b.samples();
    const auto r = run({soxPath(), "-D", in, "-b", "16", out, "rate", "-v", std::to_string(c.to)});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto theirs = soxData(out);
    ASSERT_FALSE(theirs.empty());

    const uint64_t exact = processing::resampledFrames(frames, c.from, c.to);
    EXPECT_EQ(ours.size(), exact * c.channels);
    const uint64_t soxFrames = theirs.size() / c.channels;
    // sox's own length is within a frame of ours.
    EXPECT_LE(std::llabs(int64_t(soxFrames) - int64_t(exact)), 1);

    const size_t n = std::min(ours.size(), theirs.size());
    double signalPower = 0;
    double diffPower = 0;
    int worst = 0;
    int worstInside = 0; // leaving out the first and last 20 ms, where each filter meets the ends
    const size_t edge = size_t(c.to / 50) * c.channels;
    size_t worstAt = 0;
    for (size_t i = 0; i < n; ++i) {
        signalPower += double(theirs[i]) * theirs[i];
        const int d = int(ours[i]) - int(theirs[i]);
        diffPower += double(d) * d;
        if (std::abs(d) > worst) {
            worst = std::abs(d);
            worstAt = i / c.channels;
        }
        if (i >= edge && i + edge < n) {
            worstInside = std::max(worstInside, std::abs(d));
        }
    }
    const double belowDb = 10 * std::log10(signalPower / std::max(diffPower, 1e-9));
    const double rmsSteps = std::sqrt(diffPower / double(n));
    std::cout << c.channels << " ch " << c.bits << " bit " << c.from << " -> " << c.to << ": frames ours " << exact
              << " sox " << soxFrames << ", difference " << belowDb << " dB below the signal (RMS " << rmsSteps
              << " steps), worst "
              << worst << " steps (frame " << worstAt << "), " << worstInside << " inside\n";
    RecordProperty("differenceBelowSignalDb", std::to_string(belowDb));
    RecordProperty("worstSteps", worst);
    // The bound: the difference is the two sides' rounding, under one step RMS and at most two
    // steps anywhere but at the very start and end, where the sample begins and stops abruptly
    // and each filter meets that edge in its own way (a few dozen steps in its first frames).
    RecordProperty("worstInsideSteps", worstInside);
    EXPECT_GE(belowDb, 70.0);
    EXPECT_LE(rmsSteps, 1.0);
    EXPECT_LE(worstInside, 2);
    EXPECT_LE(worst, 64);
}

INSTANTIATE_TEST_SUITE_P(Rates, AgainstSoxRate,
                         ::testing::Values(Case{1, 16, 44100, 48000}, Case{2, 16, 44100, 48000},
                                           Case{2, 16, 44100, 22050}, Case{1, 16, 48000, 44100},
                                           Case{2, 16, 22050, 96000}, Case{1, 8, 22050, 44100},
                                           Case{2, 8, 11025, 8000}, Case{2, 16, 96000, 11025}));

} // namespace
} // namespace cleavix::test
