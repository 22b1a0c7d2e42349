// Threads: see SgBackend.h. A NodeWorker's queue is the only state shared with its thread.
#include "sampler/scsi/SgBackend.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cleavix::sampler::scsi {

class SgBackend::NodeWorker {
public:
    explicit NodeWorker(std::filesystem::path path) : path_(std::move(path)), thread_([this] { run(); }) {}
    ~NodeWorker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    void push(std::shared_ptr<ScsiCommand> command) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(command));
        }
        wake_.notify_all();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (true) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) {
                return;
            }
            auto command = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            if (!command->ended()) {
                command->finish(issue(*command));
            }
            lock.lock();
        }
    }

    Outcome issue(const ScsiCommand& command) {
        Outcome outcome;
        if (fd_ < 0) {
            // Non-blocking open: a node another program holds exclusively fails at once instead of
            // stalling this thread; SG_IO itself still waits for the command.
            fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd_ < 0) {
                outcome.systemError = errno;
                outcome.hostStatus = host_status::kError;
                outcome.detail = "cannot open " + path_.string() + ": " + std::strerror(outcome.systemError);
                return outcome;
            }
        }
        std::vector<uint8_t> data(command.length, 0);
        if (command.direction == Direction::Out) {
            std::copy(command.dataOut.begin(), command.dataOut.end(), data.begin());
        }
        uint8_t sense[kSenseLength] = {};
        sg_io_hdr_t header = makeSgIoHeader(command, data.data(), sense);
        if (::ioctl(fd_, SG_IO, &header) < 0) {
            outcome.systemError = errno;
            outcome.hostStatus = host_status::kError;
            outcome.detail = "SG_IO on " + path_.string() + ": " + std::strerror(outcome.systemError);
            return outcome;
        }
        outcome = outcomeFromSgIoHeader(header, sense);
        if (command.direction == Direction::In) {
            data.resize(outcome.transferred);
            outcome.dataIn = std::move(data);
        }
        return outcome;
    }

    std::filesystem::path path_;
    int fd_ = -1; // the worker thread's only
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<ScsiCommand>> queue_;
    bool stop_ = false;
    std::thread thread_;
};

SgBackend::SgBackend(std::filesystem::path sysRoot, std::filesystem::path devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

SgBackend::~SgBackend() = default;

std::vector<ScsiBackend::AdaptorInfo> SgBackend::adaptors() {
    hosts_ = listSgHosts(sysRoot_);
    std::vector<AdaptorInfo> list;
    for (const auto& host : hosts_) {
        list.push_back({host.host, host.identifier});
    }
    return list;
}

void SgBackend::start(std::shared_ptr<ScsiCommand> command) {
    const SgNode* node = nullptr;
    if (command->localAdaptor >= 0 && static_cast<size_t>(command->localAdaptor) < hosts_.size() && command->lun == 0) {
        node = findNode(hosts_[static_cast<size_t>(command->localAdaptor)], command->target);
    }
    if (!node) {
        Outcome outcome;
        outcome.hostStatus = host_status::kNoConnect;
        outcome.detail = "no sg device at ID " + std::to_string(command->target);
        command->finish(std::move(outcome));
        return;
    }
    auto& worker = workers_[node->name];
    if (!worker) {
        worker = std::make_unique<NodeWorker>(devRoot_ / node->name);
    }
    worker->push(std::move(command));
}

} // namespace cleavix::sampler::scsi
