#include "jobs/MainLoop.h"

#include <cassert>
#include <future>

namespace cleavix::jobs {

MainLoop::MainLoop() : mainThread_(std::this_thread::get_id()) {}

bool MainLoop::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

void MainLoop::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(fn));
    }
    wake_.notify_one();
}

void MainLoop::call(std::function<void()> fn) {
    if (isMainThread()) {
        fn();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    post([&] {
        try {
            fn();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    finished.get(); // rethrows on the worker what the call threw on the main thread
}

void MainLoop::runPending() {
    assert(isMainThread());
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) {
                return;
            }
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
    }
}

void MainLoop::runOne() {
    assert(isMainThread());
    std::function<void()> fn;
    {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return !queue_.empty(); });
        fn = std::move(queue_.front());
        queue_.pop_front();
    }
    fn();
}

void MainLoop::runUntil(const std::function<bool()>& done) {
    assert(isMainThread());
    while (!done()) {
        std::function<void()> fn;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return !queue_.empty(); });
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
    }
}

} // namespace cleavix::jobs
