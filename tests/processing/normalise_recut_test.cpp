// The re-cut after a normalise of the whole sample takes the detection the normalise made on its
// way: its points must be those of a search that reads the normalised store itself.
#include "editing/EditTestKit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::test {
namespace {

// Decaying noise hits every `spacing` frames on a quiet floor, alternating channels in stereo.
std::vector<int16_t> hits(size_t frames, uint16_t channels, size_t spacing) {
    std::vector<int16_t> v(frames * channels);
    uint32_t x = 12345;
    const auto noise = [&] {
        x = x * 1664525u + 1013904223u;
        return int((x >> 16) % 2001) - 1000;
    };
    for (size_t f = 0; f < frames; ++f) {
        for (uint16_t c = 0; c < channels; ++c) {
            v[f * channels + c] = int16_t(noise() / 40);
        }
    }
    for (size_t at = spacing / 3, n = 0; at < frames; at += spacing, ++n) {
        const uint16_t c = uint16_t(n % channels);
        const double amplitude = 4000 + 1500 * double(n % 7);
        for (size_t i = 0; i < 5000 && at + i < frames; ++i) {
            const double value = amplitude * std::exp(-double(i) / 700.0) * (noise() / 1000.0);
            v[(at + i) * channels + c] = int16_t(std::lround(std::clamp(value, -32768.0, 32767.0)));
        }
    }
    return v;
}

std::vector<slicing::SlicePoint> points(EditBench& b) {
    const auto& list = b.slicer().candidates();
    std::vector<slicing::SlicePoint> out;
    for (int k = 0; k <= list.count() + 1; ++k) {
        out.push_back(list.at(k));
    }
    return out;
}

} // namespace

TEST(NormaliseRecut, TheDetectionMadeOnTheWayGivesThePointsOfASearchOfTheStore) {
    // Long enough for the detection's own thread (beyond four 256 KiB slots) and short.
    for (const size_t frames : {size_t(400000), size_t(40000)}) {
        for (const uint16_t channels : {uint16_t(1), uint16_t(2)}) {
            SCOPED_TRACE(std::to_string(frames) + " frames, " + std::to_string(channels) + " channels");
            const auto data = hits(frames, channels, 3100);

            EditBench detected;
            ASSERT_TRUE(detected.loadSamples(data, channels));
            detected.processor().settings.normalisePercent = "90";
            ASSERT_TRUE(detected.run([&](editing::Done d) { return detected.processor().normalise(std::move(d)); }));
            const bool tookDetection = detected.slicer().loadDetection() != nullptr;

            EditBench read;
            ASSERT_TRUE(read.loadSamples(data, channels));
            read.processor().settings.normalisePercent = "90";
            read.processor().settings.recutAfterNormalise = false;
            ASSERT_TRUE(read.run([&](editing::Done d) { return read.processor().normalise(std::move(d)); }));
            EXPECT_EQ(read.slicer().loadDetection(), nullptr) << "the normalise changed the store the load detected";
            ASSERT_TRUE(read.run([&](editing::Done d) {
                return read.slicer().recut([d](const slicing::SearchOutcome&) { d(true); });
            }));

            EXPECT_EQ(detected.samples(), read.samples());
            EXPECT_GT(read.slicer().candidates().count(), int(frames / 3100 / 2));
            EXPECT_EQ(points(detected), points(read));
            // Only a sample past the table's threshold (65536 samples) is detected on the way.
            EXPECT_EQ(tookDetection, frames * channels > 65536);
        }
    }
}

TEST(NormaliseRecut, APartOfTheSampleOrOneChannelIsSearchedFromTheStore) {
    const auto data = hits(200000, 2, 2900);
    for (const int variant : {0, 1}) {
        EditBench b;
        ASSERT_TRUE(b.loadSamples(data, 2));
        if (variant == 0) {
            b.editor().setupSelections(4 * 10, 4 * 150000);
        } else {
            b.editor().setProcessChannel(1);
        }
        b.processor().settings.normalisePercent = "100";
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
        EXPECT_EQ(b.slicer().loadDetection(), nullptr) << variant;
        EXPECT_GT(b.slicer().candidates().count(), 20) << variant;
    }
}

} // namespace cleavix::test
