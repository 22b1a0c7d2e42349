#include "sampler/midi/QueuedOutPort.h"

#include "sampler/midi/MidiByteParser.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace cleavix::sampler::midi {

StopSignal::StopSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

StopSignal::~StopSignal() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void StopSignal::raise() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

int QueuedOutPort::sendShort(uint8_t status, uint8_t data1, uint8_t data2) {
    const uint8_t bytes[3] = {status, data1, data2};
    return queue(bytes, size_t(1 + midiDataBytes(status)), false);
}

int QueuedOutPort::sendLong(const uint8_t* data, size_t size) { return queue(data, size, true); }

bool QueuedOutPort::drain(std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, deadline, [this] { return queue_.empty() && !busy_; });
}

void QueuedOutPort::startWriter(MidiCompletion completed) {
    completed_ = std::move(completed);
    stop_ = false;
    thread_ = std::thread([this] { run(); });
}

void QueuedOutPort::stopWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    stopSignal_.raise();
    if (thread_.joinable()) {
        thread_.join();
    }
    std::deque<Block> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(queue_);
    }
    for (const auto& block : dropped) {
        if (block.isLong && completed_) {
            completed_(block.bytes.size());
        }
    }
}

bool QueuedOutPort::stopping() {
    std::lock_guard lock(mutex_);
    return stop_;
}

int QueuedOutPort::queue(const uint8_t* data, size_t size, bool isLong) {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || stop_) {
            error_ = "MIDI Output device not open";
            return -EBADFD;
        }
        queue_.push_back({std::vector<uint8_t>(data, data + size), isLong});
    }
    wake_.notify_all();
    return 0;
}

void QueuedOutPort::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) {
            return;
        }
        Block block = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        const int result = writeOut(block.bytes);
        if (block.isLong && completed_) {
            completed_(block.bytes.size()); // also after a failed write: every block ends once
        }
        lock.lock();
        if (result < 0) {
            error_ = describe(result);
        }
        busy_ = false;
        idle_.notify_all();
    }
}

} // namespace cleavix::sampler::midi
