#pragma once
// The virtual MIDI ports: in-process endpoints that stand where a MIDI interface would, for tests
// and for people without hardware. The cable sends every byte written to its output back to its
// input; the emulated samplers (sampler/virtual) are endpoints too. They are listed after every
// hardware port, with names beginning "Cleavix virtual".
//
// Timing: each direction is a line at 31250 baud (320 us a byte). The modelled clock adds up the
// time the bytes take, so a test reads how long a transfer would take on a real cable without
// waiting for it; in real-time mode the ports also sleep that long before handing bytes on.
//
// Threads: an open output port has a writer thread that hands each block to the endpoint
// (fromHost, on that thread) and then reports the completion. An open input port has a reader
// thread that feeds the endpoint's bytes (toHost, from any thread) through the byte parser to
// the input's sink. Endpoints must only queue in fromHost, never block.
#include "sampler/midi/MidiBackend.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cleavix::sampler::midi {

inline constexpr uint64_t kMicrosPerMidiByte = 320;

// The modelled time of the lines of one backend.
class VirtualLineClock {
public:
    // A message of `bytes` handed to line `line` at the current modelled time; returns when it
    // has fully arrived, and moves the clock on to that time.
    uint64_t transmit(int line, size_t bytes);
    uint64_t nowMicros() const;

private:
    mutable std::mutex mutex_;
    uint64_t now_ = 0;
    uint64_t lineFree_[2] = {0, 0};
};

class VirtualInPort;

class VirtualMidiEndpoint {
public:
    virtual ~VirtualMidiEndpoint() = default;
    virtual std::string key() const = 0;  // "cable", "sds"
    virtual std::string name() const = 0; // "Cleavix virtual cable"
    // Bytes the host's output sent, whole blocks or short messages, on the writer's thread.
    virtual void fromHost(const uint8_t* data, size_t size) = 0;

    // The endpoint's own bytes towards the host's input; dropped when no input is open on it.
    // Any thread.
    void toHost(const uint8_t* data, size_t size);
    // Backend side.
    void attachInput(VirtualInPort* port);
    void detachInput(VirtualInPort* port);

private:
    std::mutex inputMutex_;
    VirtualInPort* input_ = nullptr;
};

// A cable: what goes out comes back in.
class VirtualCable final : public VirtualMidiEndpoint {
public:
    std::string key() const override { return "cable"; }
    std::string name() const override { return "Cleavix virtual cable"; }
    void fromHost(const uint8_t* data, size_t size) override { toHost(data, size); }
};

class VirtualMidiBackend final : public MidiBackend {
public:
    VirtualMidiBackend();
    std::string kind() const override { return "virtual"; }
    std::vector<MidiPortInfo> inputs() override;
    std::vector<MidiPortInfo> outputs() override;
    std::unique_ptr<MidiInPort> createInput(const std::string& key) override;
    std::unique_ptr<MidiOutPort> createOutput(const std::string& key) override;

    void addEndpoint(std::shared_ptr<VirtualMidiEndpoint> endpoint);
    std::shared_ptr<VirtualMidiEndpoint> endpoint(const std::string& key) const;
    // Sleep the modelled time of each message (real time) or only count it.
    void setRealTime(bool on) { realTime_->store(on); }
    const std::shared_ptr<VirtualLineClock>& clock() const { return clock_; }

private:
    std::vector<std::shared_ptr<VirtualMidiEndpoint>> endpoints_;
    std::shared_ptr<VirtualLineClock> clock_ = std::make_shared<VirtualLineClock>();
    std::shared_ptr<std::atomic<bool>> realTime_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace cleavix::sampler::midi
