#pragma once
// The engine's dispatcher on the Qt main thread. post() queues the call on the application's event
// loop; call() queues it and waits for it (a worker's synchronised call).
//
// A window that closes while a worker waits in call() must not deadlock: shutDown() wakes every
// waiting call without running it, and later calls return at once. The job frame then sees its
// worker terminated and joins it.
#include "jobs/Dispatcher.h"

#include <QObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace cleavix::ui {

class QtDispatcher final : public jobs::Dispatcher {
public:
    // The thread that constructs the dispatcher is the main thread (the one running the event loop).
    QtDispatcher();
    ~QtDispatcher() override;

    void post(std::function<void()> fn) override;
    void call(std::function<void()> fn) override;
    bool isMainThread() const override;

    // Main thread: no more calls run; waiting callers return.
    void shutDown();

private:
    struct Waiting {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    std::thread::id mainThread_;
    std::unique_ptr<QObject> context_; // calls run in its thread; dropped with the dispatcher
    std::shared_ptr<std::atomic<bool>> open_;
    std::mutex waitersMutex_;
    std::vector<std::weak_ptr<Waiting>> waiters_;
};

} // namespace cleavix::ui
