// The transfer watchdog: exactly one end per transfer, a lost end turned into a failure, signs of
// life keeping a slow transfer going.
#include "sampler/ScsiTestKit.h"
#include "sampler/SamplerClass.h"
#include "sampler/TransferWatchdog.h"

#include <gtest/gtest.h>

namespace cleavix::sampler {
namespace {

using namespace std::chrono_literals;
using scsi::testkit::runUntil;

TEST(TransferWatchdog, FirstEndPassesLaterOnesAreDropped) {
    jobs::MainLoop loop;
    TransferWatchdog watchdog(loop, 200ms);
    int lost = 0, continued = 0, finished = 0;
    watchdog.begin([&] { ++lost; });
    auto next = watchdog.guard(std::function<void()>([&] { ++continued; }));
    auto done = watchdog.guard(std::function<void()>([&] { ++finished; }));
    EXPECT_TRUE(watchdog.guarding());
    next();
    next();
    done();
    EXPECT_EQ(continued, 1);
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(watchdog.guarding());
    runUntil(loop, [] { return false; }, 350ms);
    EXPECT_EQ(lost, 0) << "an ended transfer is not ended again by the timer";
}

TEST(TransferWatchdog, LostEndBecomesAFailureOnTheMainThread) {
    jobs::MainLoop loop;
    TransferWatchdog watchdog(loop, 80ms);
    int lost = 0;
    std::thread::id where;
    ReceivedSample received;
    int receives = 0;
    watchdog.begin([&] {
        ++lost;
        where = std::this_thread::get_id();
    });
    auto completion = watchdog.guard(ReceiveCompletion([&](const ReceivedSample& r) {
        ++receives;
        received = r;
    }));
    ASSERT_TRUE(runUntil(loop, [&] { return lost > 0; }, 2000ms));
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(where, std::this_thread::get_id());
    EXPECT_FALSE(watchdog.guarding());
    // The driver's end, arriving after all, changes nothing.
    completion(ReceivedSample{2, 44100, 100, {}});
    EXPECT_EQ(receives, 0);
    runUntil(loop, [] { return false; }, 200ms);
    EXPECT_EQ(lost, 1);
}

TEST(TransferWatchdog, SignsOfLifeKeepASlowTransferGoing) {
    jobs::MainLoop loop;
    TransferWatchdog watchdog(loop, 100ms);
    int lost = 0;
    watchdog.begin([&] { ++lost; });
    auto done = watchdog.guard(std::function<void()>([] {}));
    const auto until = std::chrono::steady_clock::now() + 400ms;
    while (std::chrono::steady_clock::now() < until) {
        watchdog.alive();
        runUntil(loop, [] { return false; }, 20ms);
    }
    EXPECT_EQ(lost, 0);
    EXPECT_TRUE(watchdog.guarding());
    done();
    EXPECT_FALSE(watchdog.guarding());
}

TEST(TransferWatchdog, ANewTransferEndsTheOldOneAsLostAndEndsOfTheOldOneAreDropped) {
    jobs::MainLoop loop;
    TransferWatchdog watchdog(loop, 1000ms);
    int lostFirst = 0, lostSecond = 0, ends = 0;
    watchdog.begin([&] { ++lostFirst; });
    auto oldEnd = watchdog.guard(std::function<void()>([&] { ++ends; }));
    watchdog.begin([&] { ++lostSecond; });
    EXPECT_EQ(lostFirst, 1);
    oldEnd();
    EXPECT_EQ(ends, 0) << "an end of the first transfer does not end the second";
    EXPECT_TRUE(watchdog.guarding());
    auto newEnd = watchdog.guard(std::function<void()>([&] { ++ends; }));
    newEnd();
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(lostSecond, 0);
}

TEST(TransferWatchdog, EndsAfterTheWatchdogIsGoneDoNothing) {
    jobs::MainLoop loop;
    int ends = 0;
    std::function<void()> end;
    {
        TransferWatchdog watchdog(loop, 50ms);
        watchdog.begin([] {});
        end = watchdog.guard(std::function<void()>([&] { ++ends; }));
    }
    end();
    runUntil(loop, [] { return false; }, 100ms);
    EXPECT_EQ(ends, 0);
}

} // namespace
} // namespace cleavix::sampler
