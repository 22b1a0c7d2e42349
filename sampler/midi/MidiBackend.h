#pragma once
// The MIDI port layer's backend interface: what TMidiInput and TMidiOutput need from a place MIDI
// ports come from (ALSA rawmidi, ALSA sequencer, the virtual ports).
//
//  - list inputs and outputs; called again whenever a list is shown, so a port plugged in later
//    appears;
//  - an input port delivers parsed messages to a MidiInputSink on a thread of its own;
//  - an output port takes short messages and system-exclusive blocks; every block handed over
//    comes back as exactly one completion, called on the port's own thread once the block has
//    left (drained), in the order the blocks were sent.
//
// Threads: a port's methods are for the thread that owns it (open, close, start) and, for
// sendShort/sendLong, any one thread at a time (TMidiOutput serialises them). The port's thread
// calls the sink or the completion and nothing else of the owner; those must not block.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::sampler::midi {

// One port as a backend lists it. `key` finds it again in a later listing.
struct MidiPortInfo {
    std::string key;
    std::string name;
};

// Where an input port's messages go. Called on the port's thread; must not block or allocate.
class MidiInputSink {
public:
    virtual ~MidiInputSink() = default;
    // A short message packed as status | data1 << 8 | data2 << 16.
    virtual void shortMessage(uint32_t timestamp, uint32_t packed) = 0;
    // A whole system-exclusive message, F0 to F7. `damaged`: cut short by a status byte, or
    // longer than the parser's limit (then `data` holds only what fitted).
    virtual void sysex(uint32_t timestamp, const uint8_t* data, size_t size, bool damaged) = 0;
};

class MidiInPort {
public:
    virtual ~MidiInPort() = default;
    // Opens the port; messages reach `sink` after start(). `sysexLimit`: longest message kept.
    // Returns 0 or a negative error code (errno style); lastError() then says what went wrong.
    virtual int open(MidiInputSink& sink, size_t sysexLimit) = 0;
    virtual int start() = 0;
    // Stops the thread; no sink call happens after close returns.
    virtual void close() = 0;
    virtual const std::string& lastError() const = 0;
};

using MidiCompletion = std::function<void(size_t bytes)>;

class MidiOutPort {
public:
    virtual ~MidiOutPort() = default;
    virtual int open(MidiCompletion completed) = 0;
    virtual int sendShort(uint8_t status, uint8_t data1, uint8_t data2) = 0;
    // Queues one block; returns at once.
    virtual int sendLong(const uint8_t* data, size_t size) = 0;
    // Waits until every queued block has left, or the deadline. True when drained.
    virtual bool drain(std::chrono::milliseconds deadline) = 0;
    // Drops whatever is still queued (each dropped block still gets its completion) and closes.
    virtual void close() = 0;
    virtual const std::string& lastError() const = 0;
};

class MidiBackend {
public:
    virtual ~MidiBackend() = default;
    // "rawmidi", "seq" or "virtual".
    virtual std::string kind() const = 0;
    virtual std::vector<MidiPortInfo> inputs() = 0;
    virtual std::vector<MidiPortInfo> outputs() = 0;
    virtual std::unique_ptr<MidiInPort> createInput(const std::string& key) = 0;
    virtual std::unique_ptr<MidiOutPort> createOutput(const std::string& key) = 0;
};

using MidiBackends = std::vector<std::shared_ptr<MidiBackend>>;

// One entry of the combined device list: numbered over every backend in order (hardware first,
// the virtual ports last, so a hardware number stored in a profile never depends on them).
struct MidiDeviceInfo {
    int id = 0;
    std::string name;
    std::string backend;
    std::string key;
    size_t backendIndex = 0;
};
std::vector<MidiDeviceInfo> listMidiInputs(const MidiBackends& backends);
std::vector<MidiDeviceInfo> listMidiOutputs(const MidiBackends& backends);

// The system's text for a port error code, or "Specified error number is out of range".
std::string midiErrorText(int code);

// The largest system-exclusive block an output takes.
inline constexpr size_t kMaxSysexBlock = 65536;

} // namespace cleavix::sampler::midi
