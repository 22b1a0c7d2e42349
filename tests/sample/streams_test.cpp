// The streams behind every working file, and the working files' names, locks and clean-up.
#include "sample/FileAndMemoryStream.h"
#include "sample/SampleStore.h"
#include "sample/WorkFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <vector>

using namespace cleavix::sample;
using namespace cleavix::test;

TEST(Streams, MemoryAndFileBackingBehaveAlike) {
    TempDir dir;
    TFileAndMemoryStream memory;
    TFileAndMemoryStream file(TFileAndMemoryStream::fmCreate, dir.file("f"));
    for (TFileAndMemoryStream* s : {&memory, &file}) {
        const char text[] = "0123456789";
        EXPECT_EQ(s->write(text, 10), 10u);
        EXPECT_EQ(s->position(), 10);
        EXPECT_EQ(s->seek(-4, TFileAndMemoryStream::Origin::End), 6);
        char out[8] = {};
        EXPECT_EQ(s->read(out, 8), 4u); // a read past the end returns fewer bytes
        EXPECT_EQ(std::string(out, 4), "6789");
        s->setSize(4);
        EXPECT_EQ(s->size(), 4);
        EXPECT_EQ(s->recordedSize(), 4);
        s->setSizeOnly(20);
        EXPECT_EQ(s->size(), 20);
        EXPECT_EQ(s->recordedSize(), 4);
        s->clear();
        EXPECT_EQ(s->size(), 0);
        EXPECT_EQ(s->position(), 0);
    }
}

TEST(Streams, TheChangeCountMovesWithEveryWriteResizeAndClearButNotWithReads) {
    TempDir dir;
    TFileAndMemoryStream memory;
    TFileAndMemoryStream file(TFileAndMemoryStream::fmCreate, dir.file("f"));
    for (TFileAndMemoryStream* s : {&memory, &file}) {
        uint64_t last = s->changes();
        const auto changed = [&] {
            const bool moved = s->changes() != last;
            last = s->changes();
            return moved;
        };
        const char text[] = "0123456789";
        s->writeAll(text, 10);
        EXPECT_TRUE(changed());
        char out[4];
        s->readAt(2, out, 4);
        s->seek(0);
        s->read(out, 4);
        EXPECT_EQ(s->size(), 10);
        s->reserveSpace(1 << 20); // space, not content
        EXPECT_FALSE(changed());
        s->writeAllAt(3, "x", 1);
        EXPECT_TRUE(changed());
        s->setSizeOnly(5);
        EXPECT_TRUE(changed());
        s->setSize(6);
        EXPECT_TRUE(changed());
        s->clear();
        EXPECT_TRUE(changed());
    }
}

TEST(Streams, ReservedSpaceLeavesTheSizeAndTheBytesAlone) {
    TempDir dir;
    TFileAndMemoryStream file(TFileAndMemoryStream::fmCreate, dir.file("f"));
    file.writeAll("abc", 3);
    file.reserveSpace(4 << 20);
    EXPECT_EQ(file.size(), 3);
    std::vector<char> big(1 << 20, 'z');
    file.writeAllAt(3, big.data(), big.size());
    EXPECT_EQ(file.size(), 3 + int64_t(big.size()));
    char head[4] = {};
    EXPECT_EQ(file.readAt(0, head, 4), 4u);
    EXPECT_EQ(std::string(head, 4), "abcz");
    TFileAndMemoryStream memory;
    memory.reserveSpace(1 << 20);
    EXPECT_EQ(memory.size(), 0);
}

TEST(Streams, CopyFromMovesBytesBetweenBackings) {
    TempDir dir;
    TFileAndMemoryStream source;
    const Bytes data = le16Bytes(testSignal(70000));
    source.writeAll(data.data(), data.size());
    source.seek(10);
    TFileAndMemoryStream target(TFileAndMemoryStream::fmCreate, dir.file("t"));
    EXPECT_EQ(target.copyFrom(source, 100000), 100000);
    EXPECT_EQ(readFile(dir.file("t")), Bytes(data.begin() + 10, data.begin() + 100010));
    EXPECT_EQ(target.copyFrom(source, 1000000), int64_t(data.size()) - 100010); // stops at the end
}

TEST(Streams, TheKernelCopyBetweenFilesAndWhereItStepsAside) {
    TempDir dir;
    const Bytes data = le16Bytes(testSignal(90000));
    TFileAndMemoryStream source(TFileAndMemoryStream::fmCreate, dir.file("s"));
    source.writeAll(data.data(), data.size());
    TFileAndMemoryStream target(TFileAndMemoryStream::fmCreate, dir.file("t"));
    const uint64_t marks = target.changes();
    EXPECT_EQ(target.copyRangeFrom(source, 100, 7, 150000), 150000);
    EXPECT_NE(target.changes(), marks);
    Bytes expected(7, 0);
    expected.insert(expected.end(), data.begin() + 100, data.begin() + 150100);
    EXPECT_EQ(readFile(dir.file("t")), expected);
    EXPECT_EQ(source.position(), int64_t(data.size())); // where the writes left it
    EXPECT_EQ(target.position(), 0);
    // The source ends first: the bytes it has.
    EXPECT_EQ(target.copyRangeFrom(source, data.size() - 10, 0, 1000), 10);
    // Memory on either side, or ranges of one file that overlap: the caller copies.
    TFileAndMemoryStream memory;
    memory.writeAll(data.data(), 100);
    EXPECT_EQ(target.copyRangeFrom(memory, 0, 0, 100), -1);
    EXPECT_EQ(memory.copyRangeFrom(source, 0, 0, 100), -1);
    EXPECT_EQ(source.copyRangeFrom(source, 0, 50, 100), -1);
    EXPECT_EQ(source.copyRangeFrom(source, 0, 100, 100), 100); // touching, not overlapping
    EXPECT_EQ(target.copyRangeFrom(source, 0, 0, 0), 0);
}

TEST(Streams, TheKernelCopyTakesSpaceUnderTheTestingLimitAndStepsAsideWhenThereIsNone) {
    TempDir dir;
    const Bytes data = le16Bytes(testSignal(50000));
    TFileAndMemoryStream source(TFileAndMemoryStream::fmCreate, dir.file("s"));
    source.writeAll(data.data(), data.size());
    TFileAndMemoryStream target(TFileAndMemoryStream::fmCreate, dir.file("t"));
    setFreeSpaceForTesting(60000);
    EXPECT_EQ(target.copyRangeFrom(source, 0, 0, 50000), 50000);
    EXPECT_EQ(freeSpaceForTesting(), 10000);
    EXPECT_EQ(target.copyRangeFrom(source, 0, 0, 50000), 50000); // over its own bytes: no space taken
    EXPECT_EQ(freeSpaceForTesting(), 10000);
    EXPECT_EQ(target.copyRangeFrom(source, 0, 50000, 20000), -1); // 10000 short
    // The copy through memory then writes what fits and names the full disk.
    try {
        target.writeAllAt(50000, data.data(), 20000);
        ADD_FAILURE() << "the write should have failed";
    } catch (const StreamError& error) {
        EXPECT_NE(std::string(error.what()).find("No space left"), std::string::npos) << error.what();
    }
    EXPECT_EQ(target.size(), 60000);
    setFreeSpaceForTesting(-1);
}

TEST(Streams, LoadAndSaveToFileDoNothingOnAFileBackedStream) {
    TempDir dir;
    writeFile(dir.file("src"), Bytes{9, 8, 7});
    TFileAndMemoryStream file(TFileAndMemoryStream::fmCreate, dir.file("f"));
    file.writeAll("ab", 2);
    file.loadFromFile(dir.file("src"));
    EXPECT_EQ(file.size(), 2);
    file.saveToFile(dir.file("dst"));
    EXPECT_FALSE(fileExists(dir.file("dst")));

    TFileAndMemoryStream memory;
    memory.loadFromFile(dir.file("src"));
    EXPECT_EQ(memory.size(), 3);
    memory.saveToFile(dir.file("dst"));
    EXPECT_EQ(readFile(dir.file("dst")), (Bytes{9, 8, 7}));
}

TEST(Streams, OpeningAMissingFileThrows) {
    EXPECT_THROW(TFileAndMemoryStream(TFileAndMemoryStream::fmOpenRead, "/nonexistent/x"), StreamError);
}

TEST(SampleStore, ReadsOutsideTheAudioAreSilence) {
    auto stream = std::make_unique<TFileAndMemoryStream>();
    const std::vector<int16_t> samples{1, 2, 3, 4};
    stream->writeAll(samples.data(), 8);
    stream->writeAll(Bytes(80, 0x77).data(), 80); // guard bytes that are not audio
    SampleStore store(std::move(stream));
    store.format().dataLength = 8;
    store.format().channels = 2;
    int16_t out[6] = {9, 9, 9, 9, 9, 9};
    store.readSamples(-4, out, 6);
    EXPECT_EQ(std::vector<int16_t>(out, out + 6), (std::vector<int16_t>{0, 0, 1, 2, 3, 4}));
    store.readSamples(4, out, 4);
    EXPECT_EQ(std::vector<int16_t>(out, out + 4), (std::vector<int16_t>{3, 4, 0, 0}));
    EXPECT_EQ(store.format().frameStart(7), 4u);
    store.format().channels = 1;
    EXPECT_EQ(store.format().frameStart(7), 6u);
}

TEST(WorkFiles, NamesPrefixesAndPermissions) {
    TempDir dir;
    auto store = createWorkFile(dir.path(), kStorePrefix);
    auto scratch = createWorkFile(dir.path(), kScratchPrefix);
    auto plugin = createWorkFile(dir.path(), kPluginPrefix);
    for (const auto* s : {store.get(), scratch.get(), plugin.get()}) {
        const std::string name = s->fileName().substr(dir.path().size() + 1);
        EXPECT_TRUE(isWorkFileName(name)) << name;
        struct stat st {};
        ASSERT_EQ(::stat(s->fileName().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(store->fileName().substr(dir.path().size() + 1, 3), "CXT");
    EXPECT_EQ(scratch->fileName().substr(dir.path().size() + 1, 5), "CXRND");
    EXPECT_EQ(plugin->fileName().substr(dir.path().size() + 1, 4), "CXDX");
    EXPECT_FALSE(isWorkFileName("CXT.tmp"));
    EXPECT_FALSE(isWorkFileName("loop.wav"));
    const std::string name = scratch->fileName();
    ReleaseWorkFile(scratch);
    EXPECT_FALSE(fileExists(name));
    EXPECT_EQ(scratch, nullptr);
}

TEST(WorkFiles, WorkingDirectoryFallsBackWhenTheSettingIsNoFolder) {
    TempDir dir;
    EXPECT_EQ(workingDirectory(dir.path()), dir.path());
    EXPECT_NE(workingDirectory(dir.file("missing")), dir.file("missing"));
    EXPECT_NE(workingDirectory(""), "");
}

TEST(WorkFiles, StaleFilesGoLockedAndNewOnesStay) {
    TempDir dir;
    auto held = createWorkFile(dir.path(), kStorePrefix); // a running instance's file
    auto left = createWorkFile(dir.path(), kScratchPrefix);
    const std::string leftName = left->fileName();
    const std::string heldName = held->fileName();
    left->releaseBacking(); // closed without deleting: what a crash leaves
    left.reset();
    const std::string fresh = dir.file("CXDXabcdef.tmp"); // just made, not yet locked
    writeFile(fresh, Bytes{1});
    const std::string user = dir.file("CXT-notes.txt");   // not our name pattern
    writeFile(user, Bytes{1});
    const timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    for (const auto& name : {leftName, heldName, user}) {
        ::utimes(name.c_str(), old);
    }
    EXPECT_EQ(cleanStaleWorkFiles(dir.path(), 60), 1);
    EXPECT_FALSE(fileExists(leftName));
    EXPECT_TRUE(fileExists(heldName));
    EXPECT_TRUE(fileExists(fresh));
    EXPECT_TRUE(fileExists(user));
    // A link planted under our name is never followed or removed.
    const std::string link = dir.file("CXTzzzzzz.tmp");
    ASSERT_EQ(::symlink(user.c_str(), link.c_str()), 0);
    EXPECT_EQ(cleanStaleWorkFiles(dir.path(), 0), 1); // only the fresh file, now old enough
    EXPECT_TRUE(fileExists(user));
    EXPECT_TRUE(fileExists(heldName));
}

TEST(SampleStore, AShortBackingReadsAsSilencePastWhatItHolds) {
    // A store whose file is shorter than dataLength claims (a partial load): the missing bytes,
    // and every byte before the audio, read as 0 whatever the buffer held before.
    auto stream = std::make_unique<TFileAndMemoryStream>();
    const std::vector<int16_t> samples{7, 8};
    stream->writeAll(samples.data(), 4);
    SampleStore store(std::move(stream));
    store.format().dataLength = 12;
    int16_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    store.readSamples(-2, out, 8);
    EXPECT_EQ(std::vector<int16_t>(out, out + 8), (std::vector<int16_t>{0, 7, 8, 0, 0, 0, 0, 0}));
}
