#pragma once
// A watchdog over one transfer's end. A driver must end every operation exactly once (through its
// continuation, completion, next, finished or done event), and the window is enabled again by that
// end. The watchdog hands out guarded ends: the first one to run goes through, any later one is
// dropped; and when no end came within the quiet time, re-armed by every sign of life (a status
// text, a packet), the watchdog ends the transfer as a failure itself, so a lost end never leaves
// the window disabled.
//
// Threads: begin(), guard(), alive() and the ends are for the main thread; the timer thread only
// posts a look at the deadline through the dispatcher.
#include "jobs/Dispatcher.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace cleavix::sampler {

inline constexpr const char* kLostEndText = "The sampler stopped answering; the transfer was ended.";

class TransferWatchdog {
public:
    using Clock = std::chrono::steady_clock;
    TransferWatchdog(jobs::Dispatcher& dispatcher, std::chrono::milliseconds quiet);
    ~TransferWatchdog();
    TransferWatchdog(const TransferWatchdog&) = delete;
    TransferWatchdog& operator=(const TransferWatchdog&) = delete;

    // Starts guarding a transfer; `lost` runs (once, on the main thread) if no guarded end comes in
    // time. A transfer still guarded is ended as lost first.
    void begin(std::function<void()> lost);
    // Wraps an end to hand to the driver. Every wrapped end of one transfer shares one "ended"; an
    // end that runs after the watchdog is gone does nothing.
    template <class... Args>
    std::function<void(Args...)> guard(std::function<void(Args...)> end) {
        return [this, alive = alive_, token = token_, end = std::move(end)](Args... args) {
            if (!*alive || !close(token)) {
                return;
            }
            if (end) {
                end(args...);
            }
        };
    }
    std::function<void()> guard(std::function<void()> end) { return guard<>(std::move(end)); }
    // A sign of life: the quiet time starts again.
    void alive();
    bool guarding() const { return guarding_; }

private:
    // Main thread. Ends the transfer of `token`; false when it had ended (or is not the current one).
    bool close(const std::shared_ptr<int>& token);
    void check(const std::shared_ptr<int>& token);
    void runTimer();

    jobs::Dispatcher& dispatcher_;
    const std::chrono::milliseconds quiet_;
    std::shared_ptr<int> token_; // one per transfer; compared by identity
    std::function<void()> lost_;
    bool guarding_ = false;
    std::shared_ptr<bool> alive_;

    std::mutex mutex_;
    std::condition_variable wake_;
    Clock::time_point deadline_{};
    bool armed_ = false;
    bool stop_ = false;
    std::thread timer_;
};

} // namespace cleavix::sampler
