#include "sampler/midi/VirtualMidi.h"

#include "sampler/midi/MidiByteParser.h"
#include "sampler/midi/QueuedOutPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <thread>

namespace cleavix::sampler::midi {

namespace {

constexpr int kToEndpoint = 0;
constexpr int kToHost = 1;

void sleepFor(const std::atomic<bool>& realTime, size_t bytes) {
    if (realTime.load()) {
        std::this_thread::sleep_for(std::chrono::microseconds(bytes * kMicrosPerMidiByte));
    }
}

} // namespace

uint64_t VirtualLineClock::transmit(int line, size_t bytes) {
    std::lock_guard lock(mutex_);
    const uint64_t start = std::max(now_, lineFree_[line]);
    const uint64_t end = start + bytes * kMicrosPerMidiByte;
    lineFree_[line] = end;
    now_ = std::max(now_, end);
    return end;
}

uint64_t VirtualLineClock::nowMicros() const {
    std::lock_guard lock(mutex_);
    return now_;
}

// The reader side of an endpoint's line towards the host.
class VirtualInPort final : public MidiInPort {
public:
    VirtualInPort(std::shared_ptr<VirtualMidiEndpoint> endpoint, std::shared_ptr<VirtualLineClock> clock,
                  std::shared_ptr<std::atomic<bool>> realTime)
        : endpoint_(std::move(endpoint)), clock_(std::move(clock)), realTime_(std::move(realTime)) {}
    ~VirtualInPort() override { close(); }

    int open(MidiInputSink& sink, size_t sysexLimit) override {
        sink_ = &sink;
        parser_ = std::make_unique<MidiByteParser>(sysexLimit);
        endpoint_->attachInput(this);
        return 0;
    }
    int start() override {
        if (!thread_.joinable() && sink_) {
            thread_ = std::thread([this] { run(); });
        }
        return 0;
    }
    void close() override {
        if (sink_) {
            endpoint_->detachInput(this);
        }
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        sink_ = nullptr;
    }
    const std::string& lastError() const override { return error_; }

    void deliver(const uint8_t* data, size_t size) {
        {
            std::lock_guard lock(mutex_);
            queue_.emplace_back(data, data + size);
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
            std::vector<uint8_t> block = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            const uint64_t arrived = clock_->transmit(kToHost, block.size());
            sleepFor(*realTime_, block.size());
            parser_->feed(block.data(), block.size(), uint32_t(arrived / 1000), *sink_);
            lock.lock();
        }
    }

    std::shared_ptr<VirtualMidiEndpoint> endpoint_;
    std::shared_ptr<VirtualLineClock> clock_;
    std::shared_ptr<std::atomic<bool>> realTime_;
    MidiInputSink* sink_ = nullptr;
    std::unique_ptr<MidiByteParser> parser_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::vector<uint8_t>> queue_;
    bool stop_ = false;
    std::thread thread_;
    std::string error_;
};

class VirtualOutPort final : public QueuedOutPort {
public:
    VirtualOutPort(std::shared_ptr<VirtualMidiEndpoint> endpoint, std::shared_ptr<VirtualLineClock> clock,
                   std::shared_ptr<std::atomic<bool>> realTime)
        : endpoint_(std::move(endpoint)), clock_(std::move(clock)), realTime_(std::move(realTime)) {}
    ~VirtualOutPort() override { close(); }

    int open(MidiCompletion completed) override {
        startWriter(std::move(completed));
        return 0;
    }
    void close() override { stopWriter(); }

private:
    int writeOut(const std::vector<uint8_t>& bytes) override {
        clock_->transmit(kToEndpoint, bytes.size());
        sleepFor(*realTime_, bytes.size());
        endpoint_->fromHost(bytes.data(), bytes.size());
        return 0;
    }

    std::shared_ptr<VirtualMidiEndpoint> endpoint_;
    std::shared_ptr<VirtualLineClock> clock_;
    std::shared_ptr<std::atomic<bool>> realTime_;
};

void VirtualMidiEndpoint::toHost(const uint8_t* data, size_t size) {
    std::lock_guard lock(inputMutex_);
    if (input_) {
        input_->deliver(data, size);
    }
}

void VirtualMidiEndpoint::attachInput(VirtualInPort* port) {
    std::lock_guard lock(inputMutex_);
    input_ = port;
}

void VirtualMidiEndpoint::detachInput(VirtualInPort* port) {
    std::lock_guard lock(inputMutex_);
    if (input_ == port) {
        input_ = nullptr;
    }
}

VirtualMidiBackend::VirtualMidiBackend() {
    const char* timing = std::getenv("CLEAVIX_VIRTUAL_MIDI_TIMING");
    realTime_->store(timing != nullptr && std::string(timing) == "realtime");
}

void VirtualMidiBackend::addEndpoint(std::shared_ptr<VirtualMidiEndpoint> endpoint) {
    endpoints_.push_back(std::move(endpoint));
}

std::shared_ptr<VirtualMidiEndpoint> VirtualMidiBackend::endpoint(const std::string& key) const {
    for (const auto& endpoint : endpoints_) {
        if (endpoint->key() == key) {
            return endpoint;
        }
    }
    return nullptr;
}

std::vector<MidiPortInfo> VirtualMidiBackend::inputs() {
    std::vector<MidiPortInfo> out;
    for (const auto& endpoint : endpoints_) {
        out.push_back({endpoint->key(), endpoint->name()});
    }
    return out;
}

std::vector<MidiPortInfo> VirtualMidiBackend::outputs() { return inputs(); }

std::unique_ptr<MidiInPort> VirtualMidiBackend::createInput(const std::string& key) {
    auto found = endpoint(key);
    return found ? std::make_unique<VirtualInPort>(found, clock_, realTime_) : nullptr;
}

std::unique_ptr<MidiOutPort> VirtualMidiBackend::createOutput(const std::string& key) {
    auto found = endpoint(key);
    return found ? std::make_unique<VirtualOutPort>(found, clock_, realTime_) : nullptr;
}

} // namespace cleavix::sampler::midi
