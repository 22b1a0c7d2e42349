// The record command through the session: alsa-lib's `file` PCM reads an input file as the capture
// device. A take lands in the store byte for byte only when kept, undo gives the old sample back,
// a take dropped changes nothing, and a working folder that runs out of room stops the take with
// the part recorded kept.
#include "audio/AudioTestHelpers.h"
#include "sample/FormatPosition.h"
#include "sample/WorkFiles.h"
#include "session/RecordTake.h"
#include "support/FoldEngine.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

using namespace cleavix;
using namespace cleavix::test;
using cleavix::audio::test::patternBytes;
using cleavix::audio::test::pumpUntil;
using session::RecordTake;

namespace {

class SessionRecord : public ::testing::Test {
protected:
    // The capture device reads `captured` from its file, then silence.
    void useCapture(const std::vector<uint8_t>& bytes) {
        captured = bytes;
        const std::string infile = files.file("in.raw");
        writeFile(infile, captured);
        const std::string conf = files.file("capture.conf");
        {
            std::ofstream out(conf);
            out << "pcm.cleavix_record_test {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n infile \""
                << infile << "\"\n format \"raw\"\n}\n";
        }
        ::setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
        const auto id = f.session->devices().resolve("cleavix_record_test");
        ASSERT_TRUE(id.has_value());
        f.session->player().setInputDeviceID(*id);
    }
    std::string loadLoop() {
        const std::string path = files.file("loop.wav");
        original = le16Bytes(testSignal(8000));
        writeFile(path, makeWave({}, original));
        EXPECT_TRUE(f.load(path));
        return path;
    }
    // Records until at least `bytes` are in the take.
    void recordAtLeast(RecordTake& take, uint64_t bytes) {
        ASSERT_TRUE(take.record());
        ASSERT_TRUE(pumpUntil(f.loop, [&] { return take.recordedBytes() >= bytes; }));
        take.stop();
        f.loop.runPending();
    }
    bool keep(std::shared_ptr<RecordTake> take) { return keepTake(f, std::move(take)); }
    Bytes storeBytes() { return test::storeBytes(*f.session); }

    TempDir files;
    SessionFixture f;
    std::vector<uint8_t> captured;
    std::vector<uint8_t> original;
};

TEST_F(SessionRecord, AKeptTakeLandsByteForByteAsANewUntitledSample) {
    useCapture(patternBytes(120000, 5));
    loadLoop();
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take);
    ASSERT_TRUE(take->setFormat(8000, 2));
    recordAtLeast(*take, captured.size());
    const uint64_t recorded = take->recordedBytes();
    EXPECT_EQ(recorded % 4, 0u);
    // Nothing of the loaded sample changed while recording.
    EXPECT_EQ(storeBytes(), original);
    EXPECT_EQ(f.session->title(), "loop.wav - Cleavix");

    ASSERT_TRUE(keep(take));
    take.reset();
    const auto& format = f.session->format();
    EXPECT_EQ(format.dataLength, recorded);
    EXPECT_EQ(format.sampleRate, 8000u);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.bitsPerSample, 16);
    EXPECT_EQ(format.bytesPerSecond, 32000u);
    const auto kept = storeBytes();
    ASSERT_GE(kept.size(), captured.size());
    EXPECT_TRUE(std::equal(captured.begin(), captured.end(), kept.begin()));
    EXPECT_EQ(f.session->title(), "Untitled.wav* - Cleavix");
    EXPECT_EQ(f.session->formatText(), "16 Bit / 8000 hz stereo");
    EXPECT_EQ(f.session->peaks().entries(), (recorded + 127) / 128);
    EXPECT_TRUE(f.session->editor().undoAvailable());
    // Scan on load: the new sample was searched for slice points.
    EXPECT_GT(f.session->slicer().candidates().count(), 0);
    EXPECT_TRUE(f.prompter.asked.empty());
}

TEST_F(SessionRecord, UndoGivesThePreviousSampleBack) {
    useCapture(patternBytes(40000, 6));
    loadLoop();
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take->setFormat(22050, 1));
    recordAtLeast(*take, 20000);
    ASSERT_TRUE(keep(std::move(take)));
    ASSERT_NE(f.session->format().sampleRate, 44100u);
    ASSERT_TRUE(f.runAndWait([&](std::function<void(bool)> done) { f.session->editor().undo(std::move(done)); }));
    EXPECT_EQ(storeBytes(), original);
    EXPECT_EQ(f.session->format().sampleRate, 44100u);
    EXPECT_EQ(f.session->format().channels, 2);
    EXPECT_EQ(f.session->format().bytesPerSecond, 176400u);
}

TEST_F(SessionRecord, ATakeDroppedOrEmptyChangesNothing) {
    useCapture(patternBytes(40000, 7));
    loadLoop();
    const size_t filesBefore = f.workFileCount();
    auto take = f.session->DoRecord();
    EXPECT_EQ(f.workFileCount(), filesBefore + 1);
    // Arm and stop: the input opened and closed, nothing recorded; keeping that is refused.
    ASSERT_TRUE(take->arm());
    EXPECT_EQ(take->state(), RecordTake::State::Armed);
    take->stop();
    f.loop.runPending();
    EXPECT_EQ(take->state(), RecordTake::State::Waiting);
    EXPECT_EQ(take->recordedBytes(), 0u);
    EXPECT_FALSE(f.session->keepRecording(take));
    // A take recorded and then dropped.
    recordAtLeast(*take, 8000);
    take.reset();
    EXPECT_EQ(f.workFileCount(), filesBefore);
    EXPECT_EQ(storeBytes(), original);
    EXPECT_FALSE(f.session->modified());
    EXPECT_FALSE(f.session->busy());
    EXPECT_EQ(f.session->title(), "loop.wav - Cleavix");
    EXPECT_FALSE(f.session->editor().undoAvailable());
    EXPECT_TRUE(f.prompter.asked.empty());
    // The player plays the sample again, not the take.
    EXPECT_FALSE(f.session->player().recorder().InputOpen);
}

TEST_F(SessionRecord, AModifiedSampleIsAskedForFirstAndCancelKeepsBoth) {
    useCapture(patternBytes(40000, 8));
    loadLoop();
    f.session->setModified(true);
    auto take = f.session->DoRecord();
    recordAtLeast(*take, 16000);
    const uint64_t recorded = take->recordedBytes();
    f.prompter.answers = {jobs::Answer::Cancel};
    EXPECT_FALSE(f.session->keepRecording(take));
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_NE(f.prompter.asked[0].find("Save changes to"), std::string::npos);
    EXPECT_EQ(storeBytes(), original);
    EXPECT_EQ(take->recordedBytes(), recorded);
    f.prompter.answers = {jobs::Answer::No};
    ASSERT_TRUE(keep(take));
    EXPECT_EQ(f.session->format().dataLength, recorded);
}

TEST_F(SessionRecord, RecordingAgainAddsToTheTakeAndAStopThenKeepsTheWhole) {
    useCapture(patternBytes(300000, 9));
    auto take = f.session->DoRecord(); // nothing loaded: 44100 Hz mono
    EXPECT_EQ(take->rate(), 44100u);
    EXPECT_EQ(take->channels(), 1);
    recordAtLeast(*take, 10000);
    const uint64_t first = take->recordedBytes();
    recordAtLeast(*take, first + 10000);
    const uint64_t both = take->recordedBytes();
    ASSERT_TRUE(keep(take));
    EXPECT_EQ(f.session->format().dataLength, both);
    // The second run reopened the file device, which reads its file from the start again.
    const auto kept = storeBytes();
    // The file device reads faster than real time, so a run may outlast the file (silence after).
    const long firstPart = static_cast<long>(std::min<uint64_t>(first, captured.size()));
    const long secondPart = static_cast<long>(std::min<uint64_t>(both - first, captured.size()));
    EXPECT_TRUE(std::equal(captured.begin(), captured.begin() + firstPart, kept.begin()));
    EXPECT_TRUE(std::equal(captured.begin(), captured.begin() + secondPart, kept.begin() + static_cast<long>(first)));
    // Without a sample before, there is nothing to undo to.
    EXPECT_FALSE(f.session->editor().undoAvailable());
}

TEST_F(SessionRecord, AFullWorkingFolderStopsTheTakeAndKeepsThePart) {
    useCapture(patternBytes(400000, 10));
    loadLoop();
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take->setFormat(8000, 2));
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_TRUE(take->record());
    const bool stopped = pumpUntil(f.loop, [&] {
        take->tick();
        return take->state() == RecordTake::State::Waiting;
    });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(stopped);
    ASSERT_EQ(f.prompter.asked.size(), 1u); // the write error, once
    const uint64_t recorded = take->recordedBytes();
    EXPECT_GT(recorded, 0u);
    EXPECT_LE(recorded, 100000u);
    EXPECT_EQ(take->stream().size(), static_cast<int64_t>(recorded));
    ASSERT_TRUE(keep(take));
    const auto kept = storeBytes();
    ASSERT_EQ(kept.size(), recorded);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), captured.begin()));
}

TEST_F(SessionRecord, LowFreeSpaceStopsWithItsMessage) {
    useCapture(patternBytes(100000, 11));
    auto take = f.session->DoRecord();
    uint64_t free = 10'000'000;
    take->freeSpaceProbe = [&] { return free; };
    ASSERT_TRUE(take->setFormat(8000, 2));
    ASSERT_TRUE(take->record());
    ASSERT_TRUE(pumpUntil(f.loop, [&] { return take->recordedBytes() >= 30000; }));
    take->tick();
    EXPECT_EQ(take->state(), RecordTake::State::Recording);
    free = session::kRecordReserveBytes - 1;
    take->tick();
    EXPECT_EQ(take->state(), RecordTake::State::Waiting);
    EXPECT_TRUE(take->stoppedForSpace());
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], session::kMsgRecordDiskFull);
    EXPECT_GE(take->recordedBytes(), 30000u);
    EXPECT_EQ(take->remainingText(sample::UnitsBytes), std::to_string(free));
}

TEST_F(SessionRecord, FormatsOutsideTheRangeAreRefusedAndTimesUseTheTakesFormat) {
    useCapture(patternBytes(50000, 12));
    auto take = f.session->DoRecord();
    EXPECT_FALSE(take->setFormat(3999, 1));
    EXPECT_FALSE(take->setFormat(192001, 1));
    EXPECT_FALSE(take->setFormat(44100, 3));
    EXPECT_TRUE(take->setFormat(4000, 1));
    EXPECT_TRUE(take->setFormat(192000, 2));
    ASSERT_TRUE(take->setFormat(8000, 1));
    recordAtLeast(*take, 16000);
    const uint64_t bytes = take->recordedBytes();
    EXPECT_EQ(take->recordedText(sample::UnitsSamples), std::to_string(bytes / 2));
    EXPECT_EQ(take->recordedText(sample::UnitsBytes), std::to_string(bytes));
    EXPECT_EQ(take->recordedText(sample::UnitsSeconds),
              sample::FormatPosition(static_cast<uint32_t>(bytes), sample::UnitsSeconds, 16, 8000, 1));
    // 16000 bytes of 8000 Hz mono are one second, which 44100 Hz stereo would have made 0.09070.
    take->freeSpaceProbe = [] { return uint64_t(16000); };
    EXPECT_EQ(take->remainingText(sample::UnitsSeconds), "1.00000");
    // While recording the format stays.
    ASSERT_TRUE(take->record());
    EXPECT_FALSE(take->setFormat(44100, 2));
    take->stop();
}

TEST_F(SessionRecord, TheMeterShowsTheInputsPeakWhileMonitoringAndRecording) {
    // Long enough that the device, which reads as fast as buffers come back, has not reached its
    // end (silence) when the level is read.
    useCapture(le16Bytes(stereoFrames(200000, [](int) { return 12000; }, [](int) { return -20000; })));
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take->setFormat(8000, 2));
    EXPECT_EQ(take->level(), 0); // off
    ASSERT_TRUE(take->setMonitor(true));
    EXPECT_TRUE(pumpUntil(f.loop, [&] { return take->level() == 12000; }));
    ASSERT_TRUE(take->record());
    ASSERT_TRUE(pumpUntil(f.loop, [&] { return take->recordedBytes() >= 8000; }));
    EXPECT_EQ(take->level(), 12000);
    take->stop();
    ASSERT_TRUE(take->setMonitor(false));
    EXPECT_EQ(take->level(), 0);
}

} // namespace
