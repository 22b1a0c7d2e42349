#pragma once
// A main-thread event loop for programs without a window system: the command-line tool and the
// tests. The thread that constructs it is the main thread. Workers post or call into it; the main
// thread drains the queue with runUntil().
#include "jobs/Dispatcher.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace cleavix::jobs {

class MainLoop final : public Dispatcher {
public:
    MainLoop();
    void post(std::function<void()> fn) override;
    void call(std::function<void()> fn) override;
    bool isMainThread() const override;

    // Main thread: run queued calls until done() returns true (tested after every call and
    // whenever the queue is empty).
    void runUntil(const std::function<bool()>& done);
    // Main thread: wait for one queued call and run it.
    void runOne();
    // Main thread: run whatever is queued now, without waiting.
    void runPending();

private:
    std::thread::id mainThread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
};

} // namespace cleavix::jobs
