// A take's edges on virtual input the test feeds: a take that reaches the most a Wave file holds
// stops with its message and keeps exactly that much; a stop inside the first buffer keeps those
// bytes; a device that delivers nothing leaves nothing to keep; and the loaded sample changes only
// when a keep succeeds.
#include "audio/VirtualWaveDevice.h"
#include "sample/WorkFiles.h"
#include "session/Backends.h"
#include "session/RecordTake.h"
#include "support/FoldEngine.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace cleavix;
using namespace cleavix::test;
using session::RecordTake;

namespace {

// Bytes no two frames of which are alike.
std::vector<uint8_t> pattern(size_t bytes) {
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        out[i] = uint8_t((i * 7 + i / 251) & 0xFF);
    }
    return out;
}

class RecordLimits : public ::testing::Test {
protected:
    // Feeds the bytes as the recorder's buffers come back.
    void feed(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        for (int round = 0; round < 10000 && done < bytes.size(); ++round) {
            audio::VirtualWaveIn* in = provider->lastInput;
            ASSERT_NE(in, nullptr);
            done += in->feed(bytes.data() + done, bytes.size() - done);
            f.loop.runPending();
        }
        ASSERT_EQ(done, bytes.size());
    }
    bool keep(std::shared_ptr<RecordTake> take) { return keepTake(f, std::move(take)); }
    Bytes storeBytes() { return test::storeBytes(*f.session); }
    std::vector<uint8_t> loadLoop() {
        const auto data = le16Bytes(testSignal(4000, 3));
        writeFile(files.file("loop.wav"), makeWave({}, data));
        EXPECT_TRUE(f.load(files.file("loop.wav")));
        return data;
    }

    TempDir files;
    audio::VirtualDeviceProvider* provider = nullptr;
    SessionFixture f{session::Settings{}, virtualDeviceBackends(provider)};
};

TEST_F(RecordLimits, ATakeStopsAtTheLargestWaveDataWithItsMessageAndKeepsThatMuch) {
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take);
    ASSERT_TRUE(take->setFormat(8000, 2));
    take->byteLimit = 40002; // held to whole frames: 40000
    ASSERT_TRUE(take->record());
    const auto fed = pattern(70000);
    feed(fed);
    ASSERT_GE(take->recordedBytes(), 40000u) << "two buffers of 32768 are back";
    take->tick();
    EXPECT_EQ(take->state(), RecordTake::State::Waiting);
    EXPECT_TRUE(take->stoppedForLength());
    EXPECT_FALSE(take->stoppedForSpace());
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], session::kMsgRecordTooLong);
    EXPECT_EQ(take->recordedBytes(), 40000u);
    EXPECT_EQ(take->stream().size(), 40000);
    // Full: another run is refused with the same message, and the take stays as it is.
    EXPECT_FALSE(take->record());
    EXPECT_EQ(take->state(), RecordTake::State::Waiting);
    ASSERT_EQ(f.prompter.asked.size(), 2u);
    EXPECT_EQ(f.prompter.asked[1], session::kMsgRecordTooLong);
    ASSERT_TRUE(keep(take));
    EXPECT_EQ(storeBytes(), std::vector<uint8_t>(fed.begin(), fed.begin() + 40000));
    EXPECT_EQ(f.session->format().channels, 2);
}

TEST_F(RecordLimits, TheLimitIsTheLargestDataASampleHolds) {
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take);
    EXPECT_EQ(take->byteLimit, sample::kMaxDataLength);
}

TEST_F(RecordLimits, AStopInsideTheFirstBufferKeepsItsBytesOrDropsThemAll) {
    // The drop first: after a keep the sample is the take.
    for (const bool keepIt : {false, true}) {
        const auto original = loadLoop();
        auto take = f.session->DoRecord();
        ASSERT_TRUE(take->setFormat(8000, 1));
        ASSERT_TRUE(take->record());
        const auto fed = pattern(1001); // not a whole frame at its end
        feed(fed);
        EXPECT_EQ(take->recordedBytes(), 0u) << "the first buffer is still with the device";
        take->stop();
        f.loop.runPending();
        EXPECT_EQ(take->recordedBytes(), 1000u) << keepIt;
        EXPECT_EQ(storeBytes(), original) << "nothing of the sample changes while a take exists";
        if (keepIt) {
            ASSERT_TRUE(keep(take));
            EXPECT_EQ(storeBytes(), std::vector<uint8_t>(fed.begin(), fed.begin() + 1000));
        } else {
            take.reset();
            EXPECT_EQ(storeBytes(), original);
            EXPECT_EQ(f.session->format().channels, 2);
        }
        EXPECT_TRUE(f.prompter.asked.empty());
        take.reset();
        f.loop.runPending();
        f.prompter.asked.clear();
    }
}

TEST_F(RecordLimits, ADeviceThatDeliversNothingLeavesNothingToKeep) {
    const auto original = loadLoop();
    const size_t filesBefore = f.workFileCount();
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take->record());
    EXPECT_EQ(f.workFileCount(), filesBefore + 1);
    for (int i = 0; i < 20; ++i) {
        take->tick();
        f.loop.runPending();
    }
    EXPECT_EQ(take->state(), RecordTake::State::Recording);
    take->stop();
    EXPECT_EQ(take->recordedBytes(), 0u);
    EXPECT_FALSE(f.session->keepRecording(take, {}));
    take.reset();
    EXPECT_EQ(storeBytes(), original);
    EXPECT_FALSE(f.session->modified());
    EXPECT_EQ(f.workFileCount(), filesBefore) << "the take's file goes with it";
}

// A keep that cannot write the new sample (the working folder full: a file-size limit) fails and
// leaves the loaded sample as it was.
TEST_F(RecordLimits, AKeepThatCannotWriteLeavesTheSample) {
    const auto original = loadLoop();
    auto take = f.session->DoRecord();
    ASSERT_TRUE(take->setFormat(8000, 2));
    ASSERT_TRUE(take->record());
    feed(pattern(70000));
    take->stop();
    f.loop.runPending();
    ASSERT_GT(take->recordedBytes(), 4096u);
    bool kept = true;
    {
        FileSizeLimit limit(4096);
        kept = keep(take);
    }
    EXPECT_FALSE(kept);
    EXPECT_EQ(storeBytes(), original);
    EXPECT_EQ(f.session->format().channels, 2);
    EXPECT_EQ(f.session->format().sampleRate, 44100u);
}

} // namespace
