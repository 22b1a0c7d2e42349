// Writing Wave and AIFF files: the layouts byte by byte, bit depths and channel selection, and
// that a failed write never harms the file it was replacing.
#include "sample/SampleLoader.h"
#include "sample/WavParser.h"
#include "sample/WavWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace cleavix::sample;
using namespace cleavix::test;

namespace {

TFileAndMemoryStream storeOf(const std::vector<int16_t>& samples) {
    TFileAndMemoryStream store;
    store.writeAll(samples.data(), samples.size() * 2);
    return store;
}

WriteRequest request(const std::string& name, uint32_t length, int layout = LayoutStereo, uint8_t bits = 16) {
    WriteRequest r;
    r.fileName = name;
    r.length = length;
    r.layout = layout;
    r.sampleChannels = 2;
    r.saveBits = bits;
    r.sampleRate = 44100;
    return r;
}

} // namespace

TEST(WaveWriting, StereoWaveLayout) {
    TempDir dir;
    const uint32_t frames = 1000;
    const auto samples = testSignal(frames * 2);
    const auto store = storeOf(samples);
    ASSERT_TRUE(WriteSplit(request(dir.file("out.wav"), frames * 4), store, nullptr).ok);
    const Bytes file = readFile(dir.file("out.wav"));
    ASSERT_EQ(file.size(), 44 + 4 * frames);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(getLe32(file, 4), 36 + 4 * frames);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(getLe32(file, 16), 16u);
    EXPECT_EQ(getLe16(file, 20), 1);
    EXPECT_EQ(getLe16(file, 22), 2);
    EXPECT_EQ(getLe32(file, 24), 44100u);
    EXPECT_EQ(getLe32(file, 28), 44100u * 4);
    EXPECT_EQ(getLe16(file, 32), 4);
    EXPECT_EQ(getLe16(file, 34), 16);
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(getLe32(file, 40), 4 * frames);
    EXPECT_EQ(le16Samples(Bytes(file.begin() + 44, file.end())), samples);
}

TEST(WaveWriting, EightBitStereoWritesSilenceAs128) {
    TempDir dir;
    const uint32_t frames = 10;
    std::vector<int16_t> samples(frames * 2, 0);
    samples[0] = 32767;
    samples[1] = -32768;
    samples[2] = -255; // rounds toward zero: 0
    samples[3] = -256;
    const auto store = storeOf(samples);
    ASSERT_TRUE(WriteSplit(request(dir.file("eight.wav"), frames * 4, LayoutStereo, 8), store, nullptr).ok);
    const Bytes file = readFile(dir.file("eight.wav"));
    ASSERT_EQ(file.size(), 44 + 2 * frames);
    EXPECT_EQ(getLe16(file, 34), 8);
    EXPECT_EQ(getLe32(file, 28), 44100u * 2);
    EXPECT_EQ(getLe32(file, 40), 2 * frames);
    EXPECT_EQ(file[44], 127 + 128);
    EXPECT_EQ(file[45], 0);
    EXPECT_EQ(file[46], 128);
    EXPECT_EQ(file[47], 127);
    for (size_t i = 48; i < file.size(); ++i) {
        EXPECT_EQ(file[i], 128);
    }
}

TEST(WaveWriting, AiffLayoutAndReadBack) {
    TempDir dir;
    const uint32_t frames = 777;
    const auto samples = testSignal(frames * 2, 3);
    const auto store = storeOf(samples);
    for (const char* name : {"out.aif", "OUT.AIF", "out.aiff"}) {
        ASSERT_TRUE(WriteSplit(request(dir.file(name), frames * 4), store, nullptr).ok);
        const Bytes file = readFile(dir.file(name));
        ASSERT_EQ(file.size(), 54 + 4 * frames) << name;
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "FORM");
        EXPECT_EQ(getBe32(file, 4), file.size() - 8);
        EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "AIFFCOMM");
        EXPECT_EQ(getBe32(file, 16), 18u);
        EXPECT_EQ(getBe16(file, 20), 2);
        EXPECT_EQ(getBe32(file, 22), frames);
        EXPECT_EQ(getBe16(file, 26), 16);
        EXPECT_EQ(Bytes(file.begin() + 28, file.begin() + 38), extendedBytes(44100));
        EXPECT_EQ(std::string(file.begin() + 38, file.begin() + 42), "SSND");
        EXPECT_EQ(getBe32(file, 42), 8 + 4 * frames);
        EXPECT_EQ(getBe16(file, 54), uint16_t(samples[0]));

        TFileAndMemoryStream back;
        SampleFormat format;
        ASSERT_EQ(loadSampleData(dir.file(name), back, format, nullptr), LoadOutcome::Loaded);
        Bytes raw(format.dataLength);
        back.readAt(0, raw.data(), raw.size());
        EXPECT_EQ(le16Samples(raw), samples);
    }
}

TEST(WaveWriting, EightBitAiffIsSignedAndReadsBack) {
    TempDir dir;
    const auto store = storeOf({32767, -32768, 0, -256, 255, 511});
    auto r = request(dir.file("e.aif"), 12, LayoutStereo, 8);
    ASSERT_TRUE(WriteSplit(r, store, nullptr).ok);
    const Bytes file = readFile(dir.file("e.aif"));
    EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 60), (Bytes{0x7F, 0x80, 0x00, 0xFF, 0x00, 0x01}));
    EXPECT_EQ(getBe32(file, 22), 3u);
}

TEST(WaveWriting, OtherNamesAreWave) {
    TempDir dir;
    const auto store = storeOf(testSignal(8));
    for (const char* name : {"x.wave", "x.wav", "x", "x.aif.wav", "x.AIFX"}) {
        ASSERT_TRUE(WriteSplit(request(dir.file(name), 16), store, nullptr).ok);
        const Bytes file = readFile(dir.file(name));
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF") << name;
    }
}

TEST(WaveWriting, OneChannelOfStereoAsMono) {
    TempDir dir;
    std::vector<int16_t> samples;
    for (int frame = 0; frame < 50; ++frame) {
        samples.push_back(int16_t(frame));         // left
        samples.push_back(int16_t(-1000 - frame)); // right
    }
    const auto store = storeOf(samples);
    auto left = request(dir.file("left.wav"), 40 * 2, LayoutMono);
    left.start = 8; // frame 2
    ASSERT_TRUE(WriteSplit(left, store, nullptr).ok);
    auto right = request(dir.file("right.wav"), 40 * 2, LayoutMono);
    right.start = 10; // frame 2, second channel
    ASSERT_TRUE(WriteSplit(right, store, nullptr).ok);
    const Bytes l = readFile(dir.file("left.wav"));
    const Bytes r = readFile(dir.file("right.wav"));
    EXPECT_EQ(getLe16(l, 22), 1);
    EXPECT_EQ(getLe32(l, 40), 80u);
    const auto ls = le16Samples(Bytes(l.begin() + 44, l.end()));
    const auto rs = le16Samples(Bytes(r.begin() + 44, r.end()));
    ASSERT_EQ(ls.size(), 40u);
    ASSERT_EQ(rs.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(ls[i], 2 + i);
        EXPECT_EQ(rs[i], -1000 - 2 - i);
    }
}

TEST(WaveWriting, OddEightBitDataIsPaddedToAnEvenChunk) {
    TempDir dir;
    TFileAndMemoryStream store;
    const std::vector<int16_t> samples{100, 200, 300};
    store.writeAll(samples.data(), 6);
    auto r = request(dir.file("odd.wav"), 6, LayoutMono, 8);
    r.sampleChannels = 1;
    ASSERT_TRUE(WriteSplit(r, store, nullptr).ok);
    const Bytes file = readFile(dir.file("odd.wav"));
    EXPECT_EQ(file.size(), 44u + 3 + 1);
    EXPECT_EQ(getLe32(file, 40), 3u);
    EXPECT_EQ(getLe32(file, 4), file.size() - 8);
    EXPECT_EQ(CheckSampleFile(dir.file("odd.wav")).info.dataLength, 3u);
}

TEST(WaveWriting, ReadOnlyTargetFailsAndStaysWhole) {
    TempDir dir;
    const std::string target = dir.file("keep.wav");
    writeFile(target, Bytes{1, 2, 3});
    ::chmod(target.c_str(), 0444);
    const auto store = storeOf(testSignal(100));
    const WriteResult result = WriteSplit(request(target, 200), store, nullptr);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(readFile(target), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.wav"});
}

TEST(WaveWriting, MissingFolderFails) {
    TempDir dir;
    const auto store = storeOf(testSignal(100));
    EXPECT_FALSE(WriteSplit(request(dir.file("no/such/folder/x.wav"), 200), store, nullptr).ok);
    EXPECT_FALSE(WriteSplit(request(dir.path(), 200), store, nullptr).ok); // a folder is no file
}

TEST(WaveWriting, FullDiskKeepsTheOldFileAndLeavesNoPartialFile) {
    // A file-size limit makes writes fail the way a full disk does.
    TempDir dir;
    const std::string target = dir.file("old.wav");
    const Bytes old(3000, 0x42);
    writeFile(target, old);
    const auto store = storeOf(testSignal(100000));
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 50000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const WriteResult result = WriteSplit(request(target, 200000), store, nullptr);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"old.wav"});
}

TEST(WaveWriting, ReplacingKeepsThePermissionsOfTheOldFile) {
    TempDir dir;
    const std::string target = dir.file("p.wav");
    writeFile(target, Bytes{0});
    ::chmod(target.c_str(), 0640);
    const auto store = storeOf(testSignal(10));
    ASSERT_TRUE(WriteSplit(request(target, 20), store, nullptr).ok);
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(target).size(), 64u);
}

TEST(WaveWriting, CancelledWriteLeavesNothing) {
    TempDir dir;
    const auto store = storeOf(testSignal(100000));
    BlockProgress progress;
    int blocks = 0;
    progress.stop = [&] { return ++blocks == 3; };
    EXPECT_FALSE(WriteSplit(request(dir.file("c.wav"), 200000), store, nullptr, progress).ok);
    EXPECT_TRUE(dir.entries().empty());
}

// A store in a working file is saved by the kernel's copy where it can: the file must come out as
// the copy through memory writes it, and a full disk or a cancel must harm nothing.
namespace {

struct FileStore {
    explicit FileStore(const TempDir& dir, size_t samples)
        : stream(TFileAndMemoryStream::fmCreate, dir.file("store.bin")), memory(storeOf(testSignal(samples, 7))) {
        stream.writeAll(memory.memory().data(), memory.memory().size());
    }
    TFileAndMemoryStream stream;
    TFileAndMemoryStream memory;
};

} // namespace

TEST(WaveWritingFromAWorkingFile, MatchesTheCopyThroughMemory) {
    TempDir dir;
    TempDir other; // a second target: on tmpfs when /dev/shm is there, where the kernel may not copy
    const FileStore store(dir, 5u << 20);
    std::vector<std::string> targets{dir.file("kernel.wav")};
    if (fileExists("/dev/shm")) {
        targets.push_back("/dev/shm/cleavix-save-test-" + std::to_string(::getpid()) + ".wav");
    }
    auto r = request(dir.file("memory.wav"), (5u << 20) * 2 - 1000);
    r.start = 604; // not on a page
    ASSERT_TRUE(WriteSplit(r, store.memory, nullptr).ok);
    const Bytes expected = readFile(r.fileName);
    ASSERT_EQ(expected.size(), 44u + r.length);
    for (const auto& target : targets) {
        r.fileName = target;
        std::vector<uint64_t> told;
        BlockProgress progress;
        progress.report = [&](uint64_t done, uint64_t total) {
            EXPECT_EQ(total, r.length);
            told.push_back(done);
        };
        ASSERT_TRUE(WriteSplit(r, store.stream, nullptr, progress).ok) << target;
        EXPECT_TRUE(readFile(target) == expected) << target;
        ASSERT_FALSE(told.empty());
        EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
        EXPECT_EQ(told.back(), r.length);
    }
    if (targets.size() > 1) {
        ::unlink(targets[1].c_str());
    }
    // One channel of it goes through memory as before.
    auto mono = request(dir.file("mono.wav"), 40000, LayoutMono);
    ASSERT_TRUE(WriteSplit(mono, store.stream, nullptr).ok);
    mono.fileName = dir.file("mono-memory.wav");
    ASSERT_TRUE(WriteSplit(mono, store.memory, nullptr).ok);
    EXPECT_TRUE(readFile(dir.file("mono.wav")) == readFile(dir.file("mono-memory.wav")));
}

TEST(WaveWritingFromAWorkingFile, FullDiskAndCancelLeaveTheOldFile) {
    TempDir dir;
    const FileStore store(dir, 5u << 20);
    const std::string target = dir.file("old.wav");
    const Bytes old(3000, 0x42);
    writeFile(target, old);
    const auto expectOld = [&] {
        EXPECT_EQ(readFile(target), old);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"old.wav", "store.bin"}));
    };
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1u << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const WriteResult full = WriteSplit(request(target, 10u << 20), store.stream, nullptr);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(full.ok);
    EXPECT_TRUE(isNoSpaceReason(full.error)) << full.error;
    expectOld();

    BlockProgress progress;
    progress.stop = [] { return true; };
    const WriteResult cancelled = WriteSplit(request(target, 10u << 20), store.stream, nullptr, progress);
    EXPECT_FALSE(cancelled.ok);
    EXPECT_EQ(cancelled.error, "Cancelled");
    expectOld();

    // A store shorter than the request: the save fails and says so.
    const WriteResult early = WriteSplit(request(target, (10u << 20) + 4096), store.stream, nullptr);
    EXPECT_FALSE(early.ok);
    EXPECT_EQ(early.error, "The sample ended early");
    expectOld();
}
