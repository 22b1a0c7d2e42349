// Against sox, a Wave and AIFF reader and writer nobody here wrote: files sox writes load with the
// samples sox itself decodes, and files we write sox reads back with the same format and samples.
#include "sample/SampleLoader.h"
#include "sample/WavWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace cleavix::sample;
using namespace cleavix::test;

namespace {

struct Case {
    const char* name;
    int bits;
    int channels;
    int rate;
};

const Case kCases[] = {
    {"s16-stereo.wav", 16, 2, 44100}, {"s16-mono.wav", 16, 1, 22050}, {"u8-mono.wav", 8, 1, 11025},
    {"u8-stereo.wav", 8, 2, 8000},    {"s16-stereo.aif", 16, 2, 48000}, {"s16-mono.aiff", 16, 1, 32000},
    {"s8-mono.aif", 8, 1, 22254},     {"s8-stereo.aif", 8, 2, 44100},   {"odd-rate.wav", 16, 2, 37799},
};

void requireSox() {
    if (soxPath().empty()) {
        GTEST_SKIP() << "sox is not installed";
    }
}

// What sox decodes a file to, at the file's own bit depth: signed samples.
std::vector<int> soxDecode(const std::string& path, int bits) {
    const std::string raw = path + ".raw";
    const RunResult r =
        run({soxPath(), path, "-t", "raw", "-e", "signed-integer", "-b", std::to_string(bits), "-L", raw});
    EXPECT_EQ(r.status, 0) << r.err;
    const Bytes bytes = readFile(raw);
    std::vector<int> out;
    if (bits == 8) {
        for (uint8_t b : bytes) {
            out.push_back(int8_t(b));
        }
    } else {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            out.push_back(int16_t(getLe16(bytes, i)));
        }
    }
    return out;
}

} // namespace

TEST(SoxInterop, FilesSoxWritesLoadWithSoxsSamples) {
    requireSox();
    TempDir dir;
    for (const Case& c : kCases) {
        const std::string path = dir.file(c.name);
        // Two seconds of a chord with noise, made by sox itself.
        const RunResult made = run({soxPath(), "-n", "-r", std::to_string(c.rate), "-c", std::to_string(c.channels),
                                    "-b", std::to_string(c.bits), path, "synth", "0.5", "sine", "440", "sine", "660",
                                    "whitenoise", "vol", "0.7"});
        ASSERT_EQ(made.status, 0) << c.name << made.err;
        const std::vector<int> expected = soxDecode(path, c.bits);
        TFileAndMemoryStream store;
        SampleFormat format;
        ASSERT_EQ(loadSampleData(path, store, format, nullptr), LoadOutcome::Loaded) << c.name;
        EXPECT_EQ(format.channels, c.channels) << c.name;
        EXPECT_EQ(format.sampleRate, uint32_t(c.rate)) << c.name;
        EXPECT_EQ(format.sourceBits, c.bits) << c.name;
        Bytes raw(format.dataLength);
        store.readAt(0, raw.data(), raw.size());
        const auto loaded = le16Samples(raw);
        ASSERT_EQ(loaded.size(), expected.size()) << c.name;
        for (size_t i = 0; i < loaded.size(); ++i) {
            const int want = c.bits == 8 ? int(std::nearbyint(expected[i] * 32767.0 / 128.0)) : expected[i];
            ASSERT_EQ(loaded[i], want) << c.name << " sample " << i;
        }
    }
}

TEST(SoxInterop, FilesWeWriteSoxReadsBack) {
    requireSox();
    TempDir dir;
    for (const Case& c : kCases) {
        const size_t frames = 5003;
        const auto samples = testSignal(frames * c.channels, uint32_t(c.rate));
        TFileAndMemoryStream store;
        store.writeAll(samples.data(), samples.size() * 2);
        WriteRequest request;
        request.fileName = dir.file(std::string("ours-") + c.name);
        request.length = uint32_t(samples.size() * 2);
        request.layout = c.channels == 2 ? LayoutStereo : LayoutMono;
        request.sampleChannels = uint16_t(c.channels);
        request.saveBits = uint8_t(c.bits);
        request.sampleRate = uint32_t(c.rate);
        ASSERT_TRUE(WriteSplit(request, store, nullptr).ok) << c.name;

        const RunResult info = run({soxPath(), "--i", request.fileName});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find("Channels       : " + std::to_string(c.channels)), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Sample Rate    : " + std::to_string(c.rate)), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Precision      : " + std::to_string(c.bits) + "-bit"), std::string::npos) << info.out;
        const std::vector<int> decoded = soxDecode(request.fileName, c.bits);
        ASSERT_EQ(decoded.size(), samples.size()) << c.name;
        for (size_t i = 0; i < samples.size(); ++i) {
            const int want = c.bits == 8 ? samples[i] / 256 : samples[i];
            ASSERT_EQ(decoded[i], want) << c.name << " sample " << i;
        }
    }
}
