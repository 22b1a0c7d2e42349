#pragma once
// The main-thread dispatcher: the one way engine code running on a worker reaches the thread that
// owns the windows (or, in the command-line tool, the thread that runs the event loop).
//
// post():  queue a call to run later on the main thread; returns at once.
// call():  run a call on the main thread and wait for it to finish (a "synchronised call").
//          Called on the main thread itself it runs the call directly.
#include <functional>

namespace cleavix::jobs {

class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    virtual void post(std::function<void()> fn) = 0;
    virtual void call(std::function<void()> fn) = 0;
    virtual bool isMainThread() const = 0;
};

} // namespace cleavix::jobs
