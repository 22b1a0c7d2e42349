#pragma once
// Helpers for the SCSI tests: running the main loop until something happened or a deadline, and a
// target that records what it was sent.
#include "jobs/MainLoop.h"
#include "sampler/scsi/ScsiCommands.h"
#include "sampler/scsi/ScsiLayer.h"
#include "sampler/virtual/VirtualScsiBus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace cleavix::sampler::scsi::testkit {

// Runs the loop until `done` or `limit` passed (a ticker wakes the loop); whether `done` held.
inline bool runUntil(jobs::MainLoop& loop, const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            loop.post([] {});
        }
    });
    const auto until = std::chrono::steady_clock::now() + limit;
    loop.runUntil([&] { return done() || std::chrono::steady_clock::now() >= until; });
    stop = true;
    ticker.join();
    loop.runPending();
    return done();
}

// The ends of one command: how many there were, the last one and the thread it ran on.
struct Ends {
    int count = 0;
    Completion last;
    std::thread::id thread;
};

// Issues one command and runs the loop until it ended (and a little longer, to catch a second
// end); a completion inside execute() itself fails the test.
inline Ends execute(jobs::MainLoop& loop, ScsiLayer& layer, const Request& request,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    Ends ends;
    layer.execute(request, [&](const Completion& c) {
        ++ends.count;
        ends.last = c;
        ends.thread = std::this_thread::get_id();
    });
    EXPECT_EQ(ends.count, 0) << "a completion ran inside execute()";
    runUntil(loop, [&] { return ends.count > 0; }, limit);
    runUntil(loop, [] { return false; }, std::chrono::milliseconds(30));
    return ends;
}

// Answers INQUIRY as a processor device, echoes data-out into later data-in, keeps the CDBs seen.
class EchoTarget final : public VirtualScsiTarget {
public:
    TargetAnswer execute(const TargetCommand& command) override {
        std::lock_guard lock(mutex_);
        cdbs.push_back(command.cdb);
        threads.push_back(std::this_thread::get_id());
        TargetAnswer answer;
        if (command.cdb[0] == op::kInquiry) {
            answer.dataIn = buildInquiry(kProcessorDevice, "CLEAVIX", "ECHO SAMPLER", "0.9");
        } else if (command.direction == Direction::Out) {
            stored.assign(command.dataOut.begin(), command.dataOut.end());
        } else if (command.direction == Direction::In) {
            answer.dataIn = stored;
        }
        return answer;
    }
    std::mutex mutex_;
    std::vector<Cdb> cdbs;
    std::vector<std::thread::id> threads;
    std::vector<uint8_t> stored;
};

} // namespace cleavix::sampler::scsi::testkit
