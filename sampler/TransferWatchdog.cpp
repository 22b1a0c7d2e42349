// Threads: see TransferWatchdog.h. The lock guards the deadline shared with the timer thread.
#include "sampler/TransferWatchdog.h"

namespace cleavix::sampler {

TransferWatchdog::TransferWatchdog(jobs::Dispatcher& dispatcher, std::chrono::milliseconds quiet)
    : dispatcher_(dispatcher), quiet_(quiet), token_(std::make_shared<int>(0)), alive_(std::make_shared<bool>(true)),
      timer_([this] { runTimer(); }) {}

TransferWatchdog::~TransferWatchdog() {
    *alive_ = false;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    timer_.join();
}

void TransferWatchdog::begin(std::function<void()> lost) {
    if (guarding_) {
        auto previous = std::move(lost_);
        close(token_);
        if (previous) {
            previous();
        }
    }
    token_ = std::make_shared<int>(0);
    lost_ = std::move(lost);
    guarding_ = true;
    alive();
}

void TransferWatchdog::alive() {
    if (!guarding_) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        deadline_ = Clock::now() + quiet_;
        armed_ = true;
    }
    wake_.notify_all();
}

bool TransferWatchdog::close(const std::shared_ptr<int>& token) {
    if (!guarding_ || token != token_) {
        return false;
    }
    guarding_ = false;
    lost_ = nullptr;
    std::lock_guard lock(mutex_);
    armed_ = false;
    return true;
}

void TransferWatchdog::check(const std::shared_ptr<int>& token) {
    if (!guarding_ || token != token_) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (armed_ && Clock::now() < deadline_) {
            return; // a sign of life came after the timer looked
        }
    }
    auto lost = std::move(lost_);
    close(token_);
    if (lost) {
        lost();
    }
}

void TransferWatchdog::runTimer() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!armed_) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < deadline_) {
            wake_.wait_until(lock, deadline_);
            continue;
        }
        armed_ = false; // the main thread decides; it re-arms on a late sign of life
        lock.unlock();
        dispatcher_.post([this, alive = alive_] {
            if (*alive) {
                check(token_);
            }
        });
        lock.lock();
    }
}

} // namespace cleavix::sampler
