#pragma once
// An emulated SMDI sampler: a processor device on the virtual SCSI bus that holds samples and
// trades them with the host by SMDI messages, written from the sampler's side with its own small
// parsing. Flavours: generic (numbers from 0) and E-mu (INQUIRY "E-MU SYS" / "E4XT ULTRA",
// numbers from 1, keeps the key ranges of key-range headers, packets of 0x4000 bytes).
//
// The host SENDs a message and then RECEIVEs the answer; the sampler works out the answer when the
// message arrives and hands it to the next RECEIVE.
//
// It can be told to misbehave: a negotiated packet length of its choosing (0, odd, huge), a Send
// Next Packet that repeats or skips, an answer cut short, an answer without "SMDI", answering
// Master Identify with no SMDI at all, a Wait before answers with busy polls, an Abort Procedure
// of its own after some packets, a Data Packet with the wrong number. Commands that never end and
// CHECK CONDITION come from the bus's own faults.
//
// When $CLEAVIX_VIRTUAL_SAMPLERS names a directory, what it holds is read from and written to a
// file there (one per flavour), so that separate runs of the command-line tool see the same
// sampler.
//
// Threads: execute() runs on the bus thread. Everything else may be called from any thread; all
// state is behind the sampler's lock.
#include "sampler/virtual/VirtualScsiBus.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sampler::scsi {

class VirtualSmdiSampler final : public VirtualScsiTarget {
public:
    enum class Flavour { Generic, Emu };

    struct Sample {
        std::string name;
        uint8_t bits = 16;
        uint8_t channels = 1;
        uint32_t periodNs = 22676;
        std::vector<uint8_t> data; // 16-bit words, most significant byte first, interleaved
        // Only E-mu keeps these (from a key-range header).
        std::optional<uint8_t> rootKey, lowKey, highKey;
        uint32_t words() const { return static_cast<uint32_t>(data.size() / 2); }
    };

    struct Faults {
        std::optional<uint32_t> packetLength{}; // what the sampler negotiates instead of its own
        int repeatSendNextPacket = 0;           // asks for the same packet again, this many times
        bool shortDataPacket = false;           // the first Data Packet to the host lacks 2 bytes
        bool skipSendNextPacket = false;        // asks for a packet past the next one
        bool askPastEnd = false;                // asks for one packet more instead of ending
        bool unknownAnswer = false;             // the next answer carries an ID of no message
        std::optional<uint32_t> shortAnswer{};  // the next answer cut to this many bytes
        bool dropTag = false;                   // the next answer without "SMDI"
        bool notSmdi = false;                   // Master Identify answered with noise
        int waits = 0;                          // Wait answers before the next real one
        int busyPolls = 0;                      // TEST UNIT READY busy after each Wait
        bool failPolls = false;                 // TEST UNIT READY meets CHECK CONDITION, hardware error
        std::optional<uint32_t> claimedWords{}; // headers to the host claim this length
        std::optional<int> abortAfterPackets{}; // Abort Procedure after this many data packets
        bool wrongDataPacketNumber = false;     // Data Packets to the host carry a wrong number
        bool rejectHeaders = false;             // Message Reject to every Sample Header sent
    };

    // The IDs the program puts them at on its virtual bus (the Akai sampler is at 2, the disk at 6).
    static constexpr uint8_t kGenericId = 3;
    static constexpr uint8_t kEmuId = 4;

    explicit VirtualSmdiSampler(Flavour flavour = Flavour::Generic);
    // Keeps its state in `stateFile` (empty: nowhere).
    VirtualSmdiSampler(Flavour flavour, std::string stateFile);
    // Keeps its state in $CLEAVIX_VIRTUAL_SAMPLERS when set.
    static std::shared_ptr<VirtualSmdiSampler> fromEnvironment(Flavour flavour);

    TargetAnswer execute(const TargetCommand& command) override;

    Flavour flavour() const { return flavour_; }
    uint32_t firstNumber() const { return flavour_ == Flavour::Emu ? 1 : 0; }
    void setFaults(const Faults& faults);
    void putSample(uint32_t number, Sample sample);
    std::map<uint32_t, Sample> samples() const;
    // Messages by ID the host sent, in order (for tests that check the exchange).
    std::vector<uint16_t> messagesSeen() const;
    // Data Packets the host sent, by packet number, in order.
    std::vector<uint32_t> packetsReceived() const;
    int testUnitReadies() const;

private:
    enum class Procedure { Idle, HeaderTaken, Receiving, Sending };
    std::vector<uint8_t> handle(const std::vector<uint8_t>& message);
    std::vector<uint8_t> onSampleHeader(uint16_t sub, const std::vector<uint8_t>& data);
    std::vector<uint8_t> onBeginTransfer(const std::vector<uint8_t>& data);
    std::vector<uint8_t> onDataPacket(const std::vector<uint8_t>& data);
    std::vector<uint8_t> onSendNextPacket(const std::vector<uint8_t>& data);
    std::vector<uint8_t> headerOf(uint32_t number, const Sample& sample) const;
    uint32_t ownPacketLength() const { return flavour_ == Flavour::Emu ? 0x4000 : 0x10000; }
    void reset();
    void load();
    void save() const;

    const Flavour flavour_;
    const std::string stateFile_;
    mutable std::mutex mutex_;
    Faults faults_;
    std::map<uint32_t, Sample> samples_;
    std::vector<uint8_t> outbox_;
    std::vector<uint8_t> held_; // the real answer behind a Wait
    int busyLeft_ = 0;
    Procedure procedure_ = Procedure::Idle;
    uint32_t number_ = 0;
    Sample incoming_;
    uint32_t expectedWords_ = 0;
    uint32_t packetLength_ = 0;
    uint32_t nextPacket_ = 0;
    int packetsThisProcedure_ = 0;
    std::vector<uint16_t> seen_;
    std::vector<uint32_t> packets_;
    int testUnitReadies_ = 0;
};

} // namespace cleavix::sampler::scsi
