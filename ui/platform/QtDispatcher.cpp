#include "ui/platform/QtDispatcher.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>

namespace cleavix::ui {

QtDispatcher::QtDispatcher()
    : mainThread_(std::this_thread::get_id()), context_(std::make_unique<QObject>()),
      open_(std::make_shared<std::atomic<bool>>(true)) {}

QtDispatcher::~QtDispatcher() { shutDown(); }

bool QtDispatcher::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

void QtDispatcher::post(std::function<void()> fn) {
    if (!open_->load()) {
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(),
        [open = open_, fn = std::move(fn)] {
            if (open->load()) {
                fn();
            }
        },
        Qt::QueuedConnection);
}

void QtDispatcher::call(std::function<void()> fn) {
    if (isMainThread()) {
        fn();
        return;
    }
    if (!open_->load()) {
        return;
    }
    auto waiting = std::make_shared<Waiting>();
    {
        std::lock_guard lock(waitersMutex_);
        waiters_.erase(std::remove_if(waiters_.begin(), waiters_.end(), [](const auto& w) { return w.expired(); }),
                       waiters_.end());
        waiters_.push_back(waiting);
    }
    QMetaObject::invokeMethod(
        context_.get(),
        [open = open_, waiting, fn = std::move(fn)] {
            if (open->load()) {
                fn();
            }
            std::lock_guard lock(waiting->mutex);
            waiting->finished = true;
            waiting->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(waiting->mutex);
    waiting->done.wait(lock, [&] { return waiting->finished || !open_->load(); });
}

void QtDispatcher::shutDown() {
    open_->store(false);
    std::lock_guard lock(waitersMutex_);
    for (auto& weak : waiters_) {
        if (auto waiting = weak.lock()) {
            std::lock_guard inner(waiting->mutex);
            waiting->done.notify_all();
        }
    }
    waiters_.clear();
}

} // namespace cleavix::ui
