// Threads: see ScsiLayer.h. The watchdog thread only ends expired commands; every caller-visible
// step (buffer copy, callback) runs in a call posted to the dispatcher.
#include "sampler/scsi/ScsiLayer.h"

#include "sampler/scsi/ScsiCommands.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstring>
#include <map>
#include <thread>

namespace cleavix::sampler::scsi {

namespace {
// The driver byte's low nibble; "sense valid" alone is no failure.
bool driverOk(uint8_t status) {
    const uint8_t code = status & 0x0f;
    return code == driver_status::kOk || code == driver_status::kSense;
}
} // namespace

std::chrono::milliseconds defaultTimeout(uint8_t operationCode) {
    switch (operationCode) {
    case op::kInquiry:
    case op::kTestUnitReady:
    case op::kRequestSense:
        return kControlTimeout;
    default:
        return kDataTimeout;
    }
}

bool ScsiCommand::finish(Outcome outcome) {
    if (ended_.exchange(true, std::memory_order_acq_rel)) {
        return false;
    }
    // Only the one thread that ended the command gets here; dropping the handler lets go of what
    // the caller's callback holds at once, not when the last owner of the command lets go.
    if (auto onEnd = std::move(onEnd_)) {
        onEnd_ = nullptr;
        onEnd(std::move(outcome));
    }
    return true;
}

// Ends commands whose time-out passed. One thread, sleeping until the earliest deadline.
class ScsiLayer::Watchdog {
public:
    using Clock = std::chrono::steady_clock;
    Watchdog() : thread_([this] { run(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void watch(const std::shared_ptr<ScsiCommand>& command, Clock::time_point due) {
        {
            std::lock_guard lock(mutex_);
            deadlines_.emplace(due, command);
        }
        wake_.notify_all();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (deadlines_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const auto due = deadlines_.begin()->first;
            if (Clock::now() < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            auto command = std::move(deadlines_.begin()->second);
            deadlines_.erase(deadlines_.begin());
            if (command->ended()) {
                continue;
            }
            lock.unlock();
            Outcome outcome;
            outcome.hostStatus = host_status::kTimeOut;
            outcome.driverStatus = driver_status::kTimeout;
            outcome.detail = "timed out";
            command->finish(std::move(outcome));
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    // Strong references: a backend may drop a command it will never end, and the watchdog must
    // still end it.
    std::multimap<Clock::time_point, std::shared_ptr<ScsiCommand>> deadlines_;
    bool stop_ = false;
    std::thread thread_;
};

ScsiLayer::ScsiLayer(jobs::Dispatcher& dispatcher)
    : dispatcher_(dispatcher), alive_(std::make_shared<std::atomic<bool>>(true)),
      watchdog_(std::make_unique<Watchdog>()) {}

ScsiLayer::~ScsiLayer() {
    alive_->store(false);
    watchdog_.reset();
}

void ScsiLayer::addBackend(std::shared_ptr<ScsiBackend> backend) {
    if (backend) {
        backends_.push_back(std::move(backend));
        listed_ = false;
    }
}

std::vector<Adaptor> ScsiLayer::adaptors() {
    std::vector<Adaptor> list;
    routes_.clear();
    for (const auto& backend : backends_) {
        const auto offered = backend->adaptors();
        for (size_t i = 0; i < offered.size(); ++i) {
            Adaptor adaptor;
            adaptor.index = static_cast<int>(list.size());
            adaptor.host = offered[i].host;
            adaptor.identifier = offered[i].identifier;
            adaptor.virtualBus = backend->isVirtualBus();
            list.push_back(std::move(adaptor));
            routes_.push_back({backend, static_cast<int>(i)});
        }
    }
    listed_ = true;
    return list;
}

void ScsiLayer::post(std::function<void()> fn) {
    dispatcher_.post(std::move(fn));
}

void ScsiLayer::execute(const Request& request, CompletionHandler done) {
    assert(dispatcher_.isMainThread());
    if (!listed_) {
        adaptors();
    }
    if (request.direction == Direction::In && request.buffer && request.length > 0) {
        std::memset(request.buffer, 0, request.length);
    }
    const bool hasBuffer = request.buffer != nullptr || request.length == 0;
    if (request.adaptor < 0 || static_cast<size_t>(request.adaptor) >= routes_.size() || !hasBuffer) {
        Completion refused;
        refused.hostStatus = request.adaptor < 0 || static_cast<size_t>(request.adaptor) >= routes_.size()
                                 ? host_status::kNoConnect
                                 : host_status::kError;
        refused.detail = refused.hostStatus == host_status::kNoConnect
                             ? "no host adaptor " + std::to_string(request.adaptor)
                             : "no buffer for " + std::to_string(request.length) + " bytes";
        post([alive = alive_, done = std::move(done), refused] {
            if (alive->load() && done) {
                done(refused);
            }
        });
        return;
    }
    const Route& route = routes_[static_cast<size_t>(request.adaptor)];
    auto command = std::make_shared<ScsiCommand>();
    command->localAdaptor = route.local;
    command->target = request.target;
    command->lun = request.lun;
    command->direction = request.direction;
    command->cdb = request.cdb;
    command->length = request.length;
    command->timeout = request.timeout.count() > 0 ? request.timeout : defaultTimeout(request.cdb[0]);
    if (request.direction == Direction::Out && request.length > 0) {
        command->dataOut.assign(request.buffer, request.buffer + request.length);
    }
    uint8_t* buffer = request.buffer;
    const uint32_t length = request.length;
    const Direction direction = request.direction;
    // Runs on whichever thread ended the command; everything else happens on the main thread.
    command->onEnd_ = [dispatcher = &dispatcher_, alive = alive_, done = std::move(done), buffer, length, direction](Outcome outcome) {
        if (!alive->load()) {
            return;
        }
        dispatcher->post([alive, done, buffer, length, direction, outcome = std::move(outcome)] {
            if (!alive->load()) {
                return;
            }
            Completion c;
            c.hostStatus = outcome.hostStatus;
            c.driverStatus = outcome.driverStatus;
            c.targetStatus = outcome.targetStatus;
            c.timedOut = outcome.hostStatus == host_status::kTimeOut || outcome.driverStatus == driver_status::kTimeout;
            c.senseLength = std::min<uint8_t>(outcome.senseLength, kSenseLength);
            std::copy_n(outcome.sense.begin(), c.senseLength, c.sense.begin());
            c.transferred = std::min(outcome.transferred, length);
            if (direction == Direction::In) {
                c.transferred = std::min<uint32_t>(c.transferred, static_cast<uint32_t>(outcome.dataIn.size()));
                std::copy_n(outcome.dataIn.begin(), c.transferred, buffer);
            }
            c.systemError = outcome.systemError;
            c.completed = !c.timedOut && c.systemError == 0 && c.hostStatus == host_status::kOk &&
                          driverOk(c.driverStatus) && c.targetStatus == target_status::kGood;
            if (!c.completed) {
                c.detail = outcome.detail.empty() ? describeFailure(c) : outcome.detail;
            }
            if (done) {
                done(c);
            }
        });
    };
    watchdog_->watch(command, Watchdog::Clock::now() + command->timeout);
    route.backend->start(std::move(command));
}

} // namespace cleavix::sampler::scsi
