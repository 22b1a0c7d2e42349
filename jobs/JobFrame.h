#pragma once
// The job frame: every long operation (load, search, save, export, edit, process, undo) runs here.
//
// Threads. start(), requestCancel() and everything about the progress model run on the main
// thread. Exactly one worker thread runs at a time; it runs Job::run() with a JobContext, through
// which it reports progress and mode changes (posted to the main thread), makes synchronised
// calls, and tests the stop flags after every block. When run() returns, the frame posts the
// completion to the main thread: it joins the worker, hides the progress model, clears the busy
// state and calls the command's completion handler.
//
// The data a worker touches (the sample store, the undo file, the point tables) has no locks:
// the busy state keeps every other command away from it until the completion has run.
#include "jobs/Dispatcher.h"
#include "jobs/ProgressModel.h"
#include "jobs/Prompter.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace cleavix::jobs {

class JobFrame;

// A worker's view of the frame. Worker thread only.
class JobContext {
public:
    explicit JobContext(JobFrame& frame) : frame_(frame) {}
    // True once Cancel or a termination asked this worker to stop. Blocks first while the
    // worker is suspended (Cancel asking its question), so a block boundary is a safe pause.
    bool stopRequested();
    // True once the worker was told to terminate (not merely a cancel of a block routine).
    bool terminated() const;
    // Bar position 0..100; only changes are posted to the main thread.
    void setProgress(int position);
    // Bar position mapped into [from, to] for done of total.
    void setProgress(double done, double total, int from, int to);
    void setMode(ProcessMode mode);
    // The progress window's file counter: file `number` of `count`.
    void setFiles(int number, int count);
    // The status line's text while the worker runs ("Quantising..."); posted to the main thread.
    void setStatus(const std::string& text);
    // A synchronised call on the main thread. Returns false when the worker was terminated
    // meanwhile, in which case the worker should end at once.
    bool call(const std::function<void()>& fn);
    Dispatcher& dispatcher();
    JobFrame& frame() { return frame_; }

private:
    JobFrame& frame_;
    int lastPosted_ = -1;
};

class Job {
public:
    virtual ~Job() = default;
    virtual void run(JobContext& context) = 0;
};

// A job made from a callable, for short workers that need no class of their own.
class FunctionJob final : public Job {
public:
    explicit FunctionJob(std::function<void(JobContext&)> fn) : fn_(std::move(fn)) {}
    void run(JobContext& context) override { fn_(context); }

private:
    std::function<void(JobContext&)> fn_;
};

class JobFrame {
public:
    JobFrame(Dispatcher& dispatcher, Prompter& prompter);
    ~JobFrame();
    JobFrame(const JobFrame&) = delete;
    JobFrame& operator=(const JobFrame&) = delete;

    // Main thread. Shows the progress model in `mode`, starts the worker, and when it has ended
    // calls `completion` on the main thread. The busy state is set until after the completion.
    // Refuses (returns false) while another job runs.
    bool start(std::unique_ptr<Job> job, ProcessMode mode, std::function<void()> completion);

    // Main thread. The busy state: set from start() (or earlier, by beginBusy(), for commands that
    // show a dialog before their worker starts) until the completion has run.
    bool busy() const { return busy_; }
    void beginBusy() { setBusy(true); }
    void endBusy() { setBusy(false); }
    // Main thread: told whenever the busy state changes (the player keeps away from the store
    // while it is set).
    std::function<void(bool)> onBusyChanged;
    bool running() const { return worker_.joinable(); }

    // Main thread: the Cancel button (or Esc) of the progress window; acts by the current mode.
    void requestCancel();

    // Flags shared with the worker.
    bool cancelRequested() const { return cancelRequested_.load(); }
    void clearCancel() { cancelRequested_ = false; }
    bool undoReady() const { return undoReady_.load(); }
    void setUndoReady(bool ready) { undoReady_ = ready; }

    ProgressModel& progress() { return progress_; }
    // Main thread: where status texts go (the session forwards them to the window, and puts the
    // format text back once the busy state clears).
    std::function<void(const std::string&)> onStatus;
    // Main thread: a command's status text while its worker runs ("Quantising...").
    void showStatus(const std::string& text) {
        if (onStatus) {
            onStatus(text);
        }
    }
    Dispatcher& dispatcher() { return dispatcher_; }
    Prompter& prompter() { return prompter_; }

    // Main thread: tell a running worker to stop and wait for its thread to end, without running
    // its completion. For shutting down with a job still running.
    void shutdown();

    // Main thread: block until the running job (if any) has completed, running main-thread calls
    // meanwhile through `pump` (which should run one pending call or wait briefly).
    void waitIdle(const std::function<void()>& pump);

private:
    friend class JobContext;
    void finish(const std::function<void()>& completion);
    void suspend();
    void resume();
    void setBusy(bool busy);

    Dispatcher& dispatcher_;
    Prompter& prompter_;
    ProgressModel progress_;
    std::thread worker_;
    bool busy_ = false;
    bool shutDown_ = false;
    // Shared with the calls this frame posts: false once the frame is gone. Main thread only.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> undoReady_{false};
    std::mutex suspendMutex_;
    std::condition_variable suspendWake_;
    bool suspended_ = false;
};

} // namespace cleavix::jobs
