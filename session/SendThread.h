#pragma once
// TSMDISend: the send thread of a region send. It asks the main thread to hand the driver an
// auto-reset event and start the send, then waits on that event until the driver signals the end
// of the sample, or until it is stopped (the transfer was ended by the watchdog, or the session is
// going). Then it posts `ended` and returns.
//
// Threads: construction, stop() and destruction on the main thread. The thread itself calls no
// driver and touches no editor state: everything it starts goes through dispatcher.post(), never
// a waiting call, so a main thread that joins it can never be waiting on it in turn.
#include "jobs/Dispatcher.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace cleavix::session {

// An auto-reset event: wait() returns once it was signalled (and clears it) or stopped.
class AutoResetEvent {
public:
    void signal();
    void stop();
    // True when signalled, false when stopped.
    bool wait();

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool set_ = false;
    bool stopped_ = false;
};

class TSMDISend {
public:
    // start(signal): main thread; hands `signal` to the driver (SetDoneEvent) and sends, or calls
    // signal itself when it does not send. ended(signalled): main thread, after the wait.
    TSMDISend(jobs::Dispatcher& dispatcher, std::function<void(std::function<void()> signal)> start,
              std::function<void(bool signalled)> ended);
    ~TSMDISend();
    TSMDISend(const TSMDISend&) = delete;
    TSMDISend& operator=(const TSMDISend&) = delete;

    // Ends the wait at once; `ended` still comes, with signalled false.
    void stop() { event_->stop(); }

private:
    std::shared_ptr<AutoResetEvent> event_ = std::make_shared<AutoResetEvent>();
    std::thread thread_;
};

} // namespace cleavix::session
