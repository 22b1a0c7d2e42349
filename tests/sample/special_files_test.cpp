// Whatever sits under a name the user or the working folder gives: FIFOs, devices, links, long
// names. Nothing blocks, nothing but a regular file is read or replaced, and a link keeps linking.
#include "sample/SafeFiles.h"
#include "sample/WavParser.h"
#include "sample/WavWriter.h"
#include "sample/WorkFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

using namespace cleavix::sample;
using namespace cleavix::test;

namespace {

std::string makeFifo(const TempDir& dir, const std::string& name) {
    const std::string path = dir.file(name);
    if (::mkfifo(path.c_str(), 0600) != 0) {
        throw std::runtime_error(std::string("mkfifo: ") + std::strerror(errno));
    }
    return path;
}

bool isFifo(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

WriteResult saveSilence(const std::string& name) {
    TFileAndMemoryStream store;
    const std::vector<int16_t> words(200, 1000);
    store.writeAll(words.data(), words.size() * 2);
    WriteRequest r;
    r.fileName = name;
    r.length = 400;
    r.layout = LayoutMono;
    r.sampleChannels = 1;
    return WriteSplit(r, store, nullptr);
}

} // namespace

TEST(SpecialFiles, AFifoWithAWorkingFileNameDoesNotBlockTheCleanUp) {
    TempDir dir;
    const std::string fifo = makeFifo(dir, "CXTabcdef.tmp");
    const timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimes(fifo.c_str(), old);
    writeFile(dir.file("CXTzzzzzz.tmp"), Bytes{1, 2});
    ::utimes(dir.file("CXTzzzzzz.tmp").c_str(), old);
    EXPECT_EQ(exitWithin(5, [&] { return cleanStaleWorkFiles(dir.path(), 60); }), 1);
    EXPECT_TRUE(isFifo(fifo)); // not ours to remove
}

TEST(SpecialFiles, AFifoOpenedAsASampleIsRefusedAsUnrecognisedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = makeFifo(dir, "loop.wav");
    const int code = exitWithin(5, [&] {
        const SampleFileCheck check = CheckSampleFile(fifo);
        return check.result == CheckUnsupported && check.refusal == kMsgUnrecognised ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    // The parser underneath refuses it too, for a name swapped after the check.
    EXPECT_EQ(exitWithin(5,
                         [&] {
                             try {
                                 parseSampleFile(fifo);
                             } catch (const EWavParserError&) {
                                 return 0;
                             }
                             return 1;
                         }),
              0);
    EXPECT_EQ(exitWithin(5, [&] { return CheckSampleFile(dir.path()).result == CheckUnparseable ? 0 : 1; }), 0);
}

TEST(SpecialFiles, ReadingAFifoWholeIsRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = makeFifo(dir, "clip.wav");
    EXPECT_EQ(exitWithin(5,
                         [&] {
                             try {
                                 readRegularFile(fifo, 1000);
                             } catch (const FileError&) {
                                 return 0;
                             }
                             return 1;
                         }),
              0);
    writeFile(dir.file("small"), Bytes{1, 2, 3});
    EXPECT_EQ(readRegularFile(dir.file("small"), 3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_THROW(readRegularFile(dir.file("small"), 2), FileError);
    EXPECT_TRUE(isSpecialFile(fifo));
    EXPECT_FALSE(isSpecialFile(dir.file("small")));
    EXPECT_FALSE(isSpecialFile(dir.file("missing")));
}

TEST(SpecialFiles, SavingOntoAFifoOrADeviceIsRefusedAndLeavesIt) {
    TempDir dir;
    const std::string fifo = makeFifo(dir, "out.wav");
    const int code = exitWithin(5, [&] {
        const WriteResult r = saveSilence(fifo);
        return !r.ok && r.error.find("not a regular file") != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(isFifo(fifo));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"}); // no temporary file left
    // A device node of our own (the null device's numbers), never the system's: a save that
    // renamed over it would otherwise replace /dev/null for the whole machine. Making one needs
    // root; elsewhere the FIFO above stands for every special file.
    const std::string node = dir.file("null.wav");
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_FALSE(saveSilence(node).ok);
        struct stat st {};
        ASSERT_EQ(::lstat(node.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"null.wav", "out.wav"}));
    }
}

TEST(SpecialFiles, SavingThroughALinkReplacesItsTargetAndKeepsTheLink) {
    TempDir dir;
    ::mkdir(dir.file("real").c_str(), 0700);
    writeFile(dir.file("real/old.wav"), Bytes{9, 9, 9});
    ::chmod(dir.file("real/old.wav").c_str(), 0640);
    ASSERT_EQ(::symlink("real/old.wav", dir.file("first").c_str()), 0);
    ASSERT_EQ(::symlink("first", dir.file("link.wav").c_str()), 0); // a chain of two links
    ASSERT_TRUE(saveSilence(dir.file("link.wav")).ok);
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat(dir.file("first").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    const Bytes saved = readFile(dir.file("real/old.wav"));
    ASSERT_GT(saved.size(), 44u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 4), "RIFF");
    ASSERT_EQ(::stat(dir.file("real/old.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(dir.file("link.wav")), saved);
    // A link that names a file not there yet makes that file.
    ASSERT_EQ(::symlink("real/new.wav", dir.file("new-link.wav").c_str()), 0);
    ASSERT_TRUE(saveSilence(dir.file("new-link.wav")).ok);
    EXPECT_TRUE(fileExists(dir.file("real/new.wav")));
    // A loop of links is refused.
    ASSERT_EQ(::symlink("loop-b", dir.file("loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", dir.file("loop-b").c_str()), 0);
    EXPECT_FALSE(saveSilence(dir.file("loop-a")).ok);
}

TEST(SpecialFiles, ANameAtTheSystemLimitCanBeSaved) {
    TempDir dir;
    for (size_t length : {248u, 251u, 255u}) {
        const std::string name = std::string(length - 4, 'a') + ".wav";
        const WriteResult r = saveSilence(dir.file(name));
        EXPECT_TRUE(r.ok) << length << ": " << r.error;
        EXPECT_TRUE(fileExists(dir.file(name)));
        // Saved again over itself: the temporary name beside it must fit as well.
        EXPECT_TRUE(saveSilence(dir.file(name)).ok) << length;
    }
    EXPECT_EQ(dir.entries().size(), 3u);
}

TEST(SpecialFiles, ANoSpaceFailureIsToldApartFromTheOthers) {
    EXPECT_TRUE(isNoSpaceReason(std::string("Cannot write: ") + std::strerror(ENOSPC)));
    EXPECT_TRUE(isNoSpaceReason(std::string("a.wav: Cannot write: ") + std::strerror(EFBIG)));
    EXPECT_FALSE(isNoSpaceReason("The target is read-only"));
    EXPECT_FALSE(isNoSpaceReason(std::string("Cannot create the file: ") + std::strerror(EACCES)));
}
