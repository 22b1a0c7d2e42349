#pragma once
// An emulated Akai S2000 on the virtual SCSI bus, written from the sampler's side: it answers
// INQUIRY as "AKAI" "S2000" (processor device), TEST UNIT READY, and the four vendor commands that
// carry system-exclusive messages (09 mode on/off, 0C send, 0D status, 0E receive). While the mode
// is off every vendor command but 09 meets CHECK CONDITION.
//
// It keeps samples (Akai name, rate byte, 16-bit data), programs and their keygroups, and its free
// memory, which a test may set. When $CLEAVIX_VIRTUAL_SAMPLERS names a directory, what it keeps
// is read from and written to a file there, so that separate runs of the command-line tool see
// the same sampler.
//
// Faults, set by tests: WAIT a number of times (or for ever) after a sample header, NAK after the
// header, a malformed handshake, a refused program or keygroup, CHECK CONDITION on the n-th vendor
// command, answers shorter than announced, an absurd pending length, a pending length that never
// reaches 0, fewer data bytes than announced.
//
// Threads: execute() runs on the bus thread; everything else may be called from any thread. One
// lock guards all state.
#include "sampler/virtual/VirtualScsiBus.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace cleavix::sampler::scsi {

class VirtualAkaiSampler final : public VirtualScsiTarget {
public:
    // The ID the program puts it at on its virtual bus.
    static constexpr uint8_t kDefaultId = 2;
    static constexpr uint32_t kDefaultFreeWords = 8 * 1024 * 1024; // 16 MB

    struct Sample {
        std::string name;  // as the sampler shows it: 12 characters of its set, trailing blanks kept
        uint8_t rate = 0;  // 0: 22050 Hz, 1: 44100 Hz
        uint8_t rootKey = 60;
        std::vector<uint8_t> data; // 16-bit little-endian
    };
    struct Keygroup {
        uint8_t lowKey = 0;
        uint8_t highKey = 0;
        std::string sampleName;
    };
    struct Program {
        std::string name;
        uint8_t baseNote = 0;
        uint8_t lastKey = 0;
        std::vector<Keygroup> keygroups;
    };
    struct Faults {
        int waits = 0;                 // WAIT handshakes before the ACK; -1: WAIT for ever
        bool nakAfterHeader = false;
        bool malformedHandshake = false;
        bool refuseProgram = false;
        bool refuseKeygroup = false;
        int checkConditionAt = 0;      // > 0: the n-th vendor command from now fails
        bool shortAnswers = false;     // message reads give half of what the status announced
        bool absurdPending = false;    // the status announces 16 MB
        bool pendingNeverZero = false; // the status never reaches 0 after a message
        uint32_t dataShortBy = 0;      // data reads give this many bytes fewer
    };

    // Reads $CLEAVIX_VIRTUAL_SAMPLERS when set.
    VirtualAkaiSampler();
    // Keeps its state in `stateFile` (empty: nowhere).
    explicit VirtualAkaiSampler(std::string stateFile);

    TargetAnswer execute(const TargetCommand& command) override;

    void setFreeWords(uint32_t words);
    uint32_t freeWords() const;
    void setFaults(const Faults& faults);
    std::vector<Sample> samples() const;
    std::vector<Program> programs() const;
    void addSample(Sample sample);
    bool modeOn() const;
    // Full system-exclusive messages received so far (for tests).
    std::vector<std::vector<uint8_t>> messages() const;

private:
    TargetAnswer sendCommand(const TargetCommand& command, bool data);
    TargetAnswer statusCommand(bool data);
    TargetAnswer receiveCommand(uint32_t length, bool data);
    void handleMessage(const std::vector<uint8_t>& message);
    void receiveSampleHeader(const std::vector<uint8_t>& message);
    void receiveProgram(const std::vector<uint8_t>& message);
    void receiveKeygroup(const std::vector<uint8_t>& message);
    void queueHandshake(uint8_t status);
    void load();
    void save() const;

    mutable std::mutex mutex_;
    std::string stateFile_;
    bool modeOn_ = false;
    uint32_t freeWords_ = kDefaultFreeWords;
    Faults faults_;
    std::vector<Sample> samples_;
    std::vector<Program> programs_;
    std::vector<std::vector<uint8_t>> messages_;

    std::vector<uint8_t> incoming_;   // a message being assembled across send commands
    std::vector<uint8_t> pending_;    // the answer the initiator may read (messages)
    std::vector<uint8_t> lastAnswer_; // repeated when the pending length never reaches 0
    bool pendingIsWait_ = false;
    int waitsLeft_ = 0;
    std::vector<uint8_t> dataOut_;    // sample data the initiator may read
    // A sample whose header was accepted, filling with data.
    bool takingData_ = false;
    size_t takingNumber_ = 0;
    uint32_t takingBytes_ = 0;
    Sample taking_;
};

} // namespace cleavix::sampler::scsi
