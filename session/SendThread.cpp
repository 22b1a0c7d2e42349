#include "session/SendThread.h"

namespace cleavix::session {

void AutoResetEvent::signal() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    wake_.notify_all();
}

void AutoResetEvent::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

bool AutoResetEvent::wait() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return set_ || stopped_; });
    const bool signalled = set_;
    set_ = false;
    return signalled;
}

TSMDISend::TSMDISend(jobs::Dispatcher& dispatcher, std::function<void(std::function<void()> signal)> start,
                     std::function<void(bool signalled)> ended) {
    thread_ = std::thread([&dispatcher, event = event_, start = std::move(start), ended = std::move(ended)] {
        std::weak_ptr<AutoResetEvent> weak = event;
        dispatcher.post([start, weak] {
            // The signal outlives this thread safely: it only reaches the event while it exists.
            start([weak] {
                if (auto e = weak.lock()) {
                    e->signal();
                }
            });
        });
        const bool signalled = event->wait();
        dispatcher.post([ended, signalled] { ended(signalled); });
    });
}

TSMDISend::~TSMDISend() {
    event_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

} // namespace cleavix::session
