#pragma once
// TMidiOutput: one MIDI output for the sampler drivers. Short messages and system-exclusive
// blocks go to a backend port; each block comes back as one completion, and Onmidioutput fires
// for it on the main thread.
//
// Threads: device selection, open and close are for the main thread. sendShort/sendLong/
// sendEvent may also be called from a transfer thread (the sample dump's send thread) while the
// main thread keeps the output open; a mutex keeps them apart from close. Completions are posted
// from the port's thread to the dispatcher.
#include "jobs/Dispatcher.h"
#include "sampler/midi/MidiBackend.h"
#include "sampler/midi/MidiIn.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cleavix::sampler::midi {

class EmidioutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TMidiOutput {
public:
    TMidiOutput(jobs::Dispatcher& dispatcher, MidiBackends backends);
    ~TMidiOutput();
    TMidiOutput(const TMidiOutput&) = delete;
    TMidiOutput& operator=(const TMidiOutput&) = delete;

    std::vector<MidiDeviceInfo> devices() const;
    const std::string& productName() const { return productName_; }
    void setProductName(const std::string& name); // throws while open or when not installed
    int deviceId() const { return deviceId_; }
    // -1 (the first output, standing for the system's default) .. count-1; refused silently while
    // open or out of range.
    void setDeviceId(int id);
    int error() const { return error_; }

    // Main thread, once per block that has left the port.
    std::function<void()> Onmidioutput;

    bool isOpen() const { return open_.load(); }
    bool openDevice(); // throws EmidioutputError
    // Waits for what is queued to leave, at most `drainDeadline`, then drops the rest and closes.
    // True when an open device was closed.
    bool closeDevice(std::chrono::milliseconds drainDeadline = std::chrono::milliseconds(2000));

    void sendShort(uint8_t status, uint8_t data1, uint8_t data2);
    // One block, at most kMaxSysexBlock bytes (a longer one is refused, never cut).
    void sendLong(const uint8_t* data, size_t size);
    void sendEvent(const TMyMidiEvent& event);

    // Blocks handed over and not yet completed, and their bytes.
    size_t pendingMessages() const { return pendingMessages_->load(); }
    size_t pendingBytes() const { return pendingBytes_->load(); }

private:
    struct Alive {
        TMidiOutput* owner = nullptr;
    };
    void completed(size_t bytes);

    jobs::Dispatcher& dispatcher_;
    MidiBackends backends_;
    std::string productName_;
    int deviceId_ = -1;
    std::optional<MidiDeviceInfo> selected_;
    int error_ = 0;
    std::atomic<bool> open_{false};
    std::mutex portMutex_;
    std::unique_ptr<MidiOutPort> port_;
    std::shared_ptr<Alive> alive_ = std::make_shared<Alive>(Alive{this});
    std::shared_ptr<std::atomic<size_t>> pendingMessages_ = std::make_shared<std::atomic<size_t>>(0);
    std::shared_ptr<std::atomic<size_t>> pendingBytes_ = std::make_shared<std::atomic<size_t>>(0);
};

} // namespace cleavix::sampler::midi
