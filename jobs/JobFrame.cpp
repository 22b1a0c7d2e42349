#include "jobs/JobFrame.h"

#include <cassert>
#include <exception>

namespace cleavix::jobs {

bool JobContext::stopRequested() {
    {
        std::unique_lock lock(frame_.suspendMutex_);
        frame_.suspendWake_.wait(lock, [&] { return !frame_.suspended_; });
    }
    return frame_.cancelRequested_.load() || frame_.terminated_.load();
}

bool JobContext::terminated() const { return frame_.terminated_.load(); }

void JobContext::setProgress(int position) {
    if (position == lastPosted_) {
        return;
    }
    lastPosted_ = position;
    JobFrame* frame = &frame_;
    frame_.dispatcher_.post([frame, alive = frame_.alive_, position] {
        if (*alive) {
            frame->progress_.setPosition(position);
        }
    });
}

void JobContext::setProgress(double done, double total, int from, int to) {
    setProgress(progressIn(done, total, from, to));
}

void JobContext::setMode(ProcessMode mode) {
    JobFrame* frame = &frame_;
    frame_.dispatcher_.call([frame, mode] { frame->progress_.setMode(mode); });
}

void JobContext::setFiles(int number, int count) {
    JobFrame* frame = &frame_;
    frame_.dispatcher_.post([frame, alive = frame_.alive_, number, count] {
        if (*alive) {
            frame->progress_.setFiles(number, count);
        }
    });
}

void JobContext::setStatus(const std::string& text) {
    JobFrame* frame = &frame_;
    frame_.dispatcher_.post([frame, alive = frame_.alive_, text] {
        if (*alive && frame->onStatus) {
            frame->onStatus(text);
        }
    });
}

bool JobContext::call(const std::function<void()>& fn) {
    frame_.dispatcher_.call(fn);
    return !frame_.terminated_.load();
}

Dispatcher& JobContext::dispatcher() { return frame_.dispatcher_; }

JobFrame::JobFrame(Dispatcher& dispatcher, Prompter& prompter) : dispatcher_(dispatcher), prompter_(prompter) {}

JobFrame::~JobFrame() {
    shutdown();
    *alive_ = false; // calls still queued on the main thread must not reach this frame
}

void JobFrame::shutdown() {
    // A program closing mid-job: stop the worker and wait, so it never outlives what it works on.
    // Its completion is not run (a posted one finds the thread already joined and does nothing).
    if (worker_.joinable()) {
        terminated_ = true;
        cancelRequested_ = true;
        resume();
        worker_.join();
        shutDown_ = true;
        setBusy(false);
        progress_.hide();
    }
}

bool JobFrame::start(std::unique_ptr<Job> job, ProcessMode mode, std::function<void()> completion) {
    assert(dispatcher_.isMainThread());
    if (worker_.joinable()) {
        return false;
    }
    setBusy(true);
    cancelRequested_ = false;
    terminated_ = false;
    suspended_ = false;
    progress_.show(mode);
    worker_ = std::thread([this, job = std::move(job), completion = std::move(completion)]() mutable {
        JobContext context(*this);
        try {
            job->run(context);
        } catch (const std::exception&) {
            // Workers report their own failures through the main thread; one that escapes ends
            // the job like a termination, and the completion handler still runs.
            terminated_ = true;
        } catch (...) {
            terminated_ = true;
        }
        job.reset();
        dispatcher_.post([this, alive = alive_, completion = std::move(completion)] {
            if (*alive) {
                finish(completion);
            }
        });
    });
    return true;
}

void JobFrame::finish(const std::function<void()>& completion) {
    if (shutDown_) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    progress_.hide();
    setBusy(false);
    if (completion) {
        completion();
    }
    cancelRequested_ = false;
}

void JobFrame::setBusy(bool busy) {
    if (busy_ == busy) {
        return;
    }
    busy_ = busy;
    if (onBusyChanged) {
        onBusyChanged(busy);
    }
}

void JobFrame::suspend() {
    std::lock_guard lock(suspendMutex_);
    suspended_ = true;
}

void JobFrame::resume() {
    {
        std::lock_guard lock(suspendMutex_);
        suspended_ = false;
    }
    suspendWake_.notify_all();
}

void JobFrame::requestCancel() {
    assert(dispatcher_.isMainThread());
    if (!worker_.joinable()) {
        return;
    }
    switch (progress_.mode()) {
    case ProcessMode::CreatingPeaks:
    case ProcessMode::ProcessingVst:
        return; // nothing to cancel
    case ProcessMode::Pasting:
    case ProcessMode::Copying:
    case ProcessMode::Undoing:
    case ProcessMode::Cropping:
    case ProcessMode::Cutting: {
        // These rewrite data whose backup may be the only way back: pause the worker at its next
        // block boundary and ask first.
        // A copy always asks: stopping it half way leaves the clipboard image unusable whether or
        // not a backup was made.
        suspend();
        if (undoReady_.load() || progress_.mode() == ProcessMode::Copying) {
            const std::string text =
                progress_.mode() == ProcessMode::Copying
                    ? "Warning - cancelling this operation may render the current clipboard \r\ndata unusable!\r\n\r\nCancel?"
                    : "Warning - cancelling this operation may mean it is impossible \r\nto undo\r\n\r\nCancel?";
            if (prompter_.ask(MessageKind::Warning, text, "", Buttons::YesNo) == Answer::Yes) {
                cancelRequested_ = true;
                terminated_ = true;
            }
        }
        resume();
        return;
    }
    default:
        cancelRequested_ = true;
        terminated_ = true;
        return;
    }
}

void JobFrame::waitIdle(const std::function<void()>& pump) {
    assert(dispatcher_.isMainThread());
    // The worker stays joinable until finish() has joined it, so this covers the completion too.
    while (worker_.joinable()) {
        pump();
    }
}

} // namespace cleavix::jobs
