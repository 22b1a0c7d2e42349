#pragma once
// An emulated sampler that speaks the MIDI Sample Dump Standard, written from the sampler's side
// with its own small parsing and building of the wire bytes (it shares no code with the driver,
// so a bug in one is not mirrored in the other). It takes dumps and keeps them by sample number,
// answers ACK/NAK/WAIT/CANCEL, and sends a stored sample back on a Dump Request: it waits about
// 2 s for a first answer to its header, and goes on open loop when none comes. Its faults are
// listed in SdsFaults.h.
//
// What it holds lives in memory or, when a folder is given (CLEAVIX_VIRTUAL_SAMPLERS), in that
// folder: sds-N.wav (16-bit mono) and sds-N.json per sample number N, so separate runs can send
// and then fetch.
//
// Threads: fromHost() (the host output's writer thread) only queues bytes. One worker thread of
// its own parses them, answers, keeps the store and sends dumps; it never blocks the lines.
#include "sampler/midi/VirtualMidi.h"
#include "sampler/virtual/SdsFaults.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cleavix::sampler::virt {

struct StoredSample {
    uint32_t periodNs = 22676;
    uint8_t bits = 16;
    uint32_t loopStart = 0;
    uint32_t loopEnd = 0;
    uint8_t loopType = 0x7F;
    std::vector<int16_t> samples;
};

struct SdsSamplerStats {
    uint32_t acks = 0;
    uint32_t naks = 0;
    uint32_t waits = 0;
    uint32_t cancels = 0;
    uint32_t dumpsStored = 0;
    uint32_t dumpsSent = 0;
    uint32_t cancelsReceived = 0;
};

class VirtualSdsSampler final : public midi::VirtualMidiEndpoint {
public:
    // folder: where samples are kept ("" for memory); faults: a fault list.
    VirtualSdsSampler(std::string folder, const std::string& faults);
    ~VirtualSdsSampler() override;
    // From CLEAVIX_VIRTUAL_SAMPLERS and CLEAVIX_VIRTUAL_FAULTS.
    static std::shared_ptr<VirtualSdsSampler> fromEnvironment();

    std::string key() const override { return "sds"; }
    std::string name() const override { return "Cleavix virtual SDS sampler"; }
    void fromHost(const uint8_t* data, size_t size) override;

    void setFaults(const std::string& list);
    std::optional<StoredSample> sample(uint32_t number) const;
    void putSample(uint32_t number, const StoredSample& sample);
    SdsSamplerStats stats() const;

private:
    using Message = std::vector<uint8_t>;
    struct Receiving {
        uint32_t number = 0;
        StoredSample sample;
        uint32_t length = 0;
        uint8_t expected = 0;
        uint32_t index = 0;
    };
    enum class Reply { None, Ack, Nak, Wait, Cancel };
    using Clock = std::chrono::steady_clock;

    void run();
    std::optional<Message> nextMessage(Clock::time_point until);
    void takeBytes();
    void handle(const Message& message);
    void handleHeader(const Message& message);
    void handlePacket(const Message& message);
    bool refuse(int k, uint8_t channel, uint8_t number);
    void answer(int k, uint8_t channel, uint8_t number);
    void sendDump(uint32_t number, uint8_t channel);
    Reply awaitReply(std::chrono::milliseconds timeout, uint8_t number);
    void send(Message message);
    void sendAt(Clock::time_point when, Message message);
    void flushScheduled();
    void persist(uint32_t number, const StoredSample& sample) const;
    std::optional<StoredSample> load(uint32_t number) const;
    Message handshake(uint8_t sub, uint8_t channel, uint8_t number) const;

    std::string folder_;
    mutable std::mutex mutex_; // inbox, faults, store, stats
    std::condition_variable wake_;
    std::vector<uint8_t> inbox_;
    SdsFaults faults_;
    std::map<uint32_t, StoredSample> store_;
    SdsSamplerStats stats_;
    bool stop_ = false;

    // Worker thread only.
    Message partial_;
    bool inSysex_ = false;
    std::deque<Message> messages_;
    std::multimap<Clock::time_point, Message> scheduled_;
    std::optional<Receiving> receiving_;
    std::thread worker_;
};

} // namespace cleavix::sampler::virt
