#pragma once
// TMidiInput: one MIDI input for the sampler drivers. Messages come from a backend port's thread
// into a lock-free queue, and reach the owner on the main thread: OnMidiInput fires there, and
// the handler drains the queue with readEvent().
//
// Threads: every public method is for the main thread (the dispatcher's). The port's thread
// runs only the sink side (Sink below): it takes a free system-exclusive buffer, copies, pushes
// one queue item and posts at most one notice at a time; it never blocks and allocates nothing
// of its own. A handler that leaves events queued gets another notice, so none is stranded.
#include "audio/SpscRing.h"
#include "jobs/Dispatcher.h"
#include "sampler/midi/MidiBackend.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cleavix::sampler::midi {

class EMidiInputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One received event.
struct TMyMidiEvent {
    uint32_t timestamp = 0;
    uint8_t status = 0; // 0xF0 for system exclusive
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    std::vector<uint8_t> sysex; // F0 ... F7 as received; empty for a short message
    bool damaged = false;       // cut short or over SysexBufferSize: drivers ignore it
    size_t sysexLength() const { return sysex.size(); }
};

class TMidiInput {
public:
    static constexpr size_t kMaxCapacity = 4096;
    static constexpr size_t kMaxSysexBuffers = 1024;

    TMidiInput(jobs::Dispatcher& dispatcher, MidiBackends backends);
    ~TMidiInput();
    TMidiInput(const TMidiInput&) = delete;
    TMidiInput& operator=(const TMidiInput&) = delete;

    // The installed inputs, listed afresh.
    std::vector<MidiDeviceInfo> devices() const;
    const std::string& productName() const { return productName_; }
    // Selects by exact name. Throws while open, or when no device has that name.
    void setProductName(const std::string& name);
    int deviceId() const { return deviceId_; }
    // 0..count-1; refused silently while open or out of range.
    void setDeviceId(int id);
    size_t capacity() const { return capacity_; }
    void setCapacity(size_t slots); // 1..4096, while closed
    int error() const { return error_; }
    size_t sysexBufferSize() const { return sysexBufferSize_; }
    void setSysexBufferSize(size_t bytes); // throws while open
    size_t sysexBufferCount() const { return sysexBufferCount_; }
    void setSysexBufferCount(size_t count); // throws while open
    bool sysexOnly() const { return sysexOnly_->load(); }
    void setSysexOnly(bool on) { sysexOnly_->store(on); }

    std::function<void()> OnMidiInput;
    std::function<void()> OnOverflow;

    bool isOpen() const { return open_; }
    // Opens the selected device. Throws EMidiInputError with the port's text.
    void openDevice();
    void startInput();
    void closeDevice();
    size_t pendingEvents() const;
    // The oldest event, removed from the queue; nullopt when closed or empty.
    std::optional<TMyMidiEvent> readEvent();

private:
    struct Item {
        uint32_t timestamp = 0;
        uint32_t packed = 0;
        int32_t buffer = -1; // system-exclusive buffer index, -1 for a short message
        uint32_t size = 0;
        bool damaged = false;
    };
    struct Shared; // what the port's thread and posted notices share
    class Sink;

    void notice();
    void overflowNotice();

    jobs::Dispatcher& dispatcher_;
    MidiBackends backends_;
    std::string productName_;
    int deviceId_ = 0;
    std::optional<MidiDeviceInfo> selected_;
    size_t capacity_ = 1024;
    int error_ = 0;
    size_t sysexBufferSize_ = 4096;
    size_t sysexBufferCount_ = 16;
    std::shared_ptr<std::atomic<bool>> sysexOnly_ = std::make_shared<std::atomic<bool>>(false);
    bool open_ = false;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<MidiInputSink> sink_;
    std::unique_ptr<MidiInPort> port_;
};

} // namespace cleavix::sampler::midi
