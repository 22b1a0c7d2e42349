#pragma once
// The virtual SCSI bus: an in-process host adaptor, "Cleavix virtual SCSI bus", on which emulated
// devices sit as targets. It stands behind the SCSI layer like any other backend, so drivers and
// the profile manager reach an emulated sampler exactly as they would a real one.
//
// Targets are written from the device's side: a target gets each command's CDB and data-out bytes
// and answers with a status, data-in bytes and sense. IDs without a target do not answer (the
// command ends not completed, host status "no connect").
//
// Faults can be queued per target, each taken by the next command to that target: a command that
// never ends (the layer's time-out ends it), a host adaptor error, CHECK CONDITION with sense,
// BUSY, a short transfer, or an answer that comes late. The whole adaptor can also be hidden, so
// the adaptor list is empty.
//
// Threads: attach(), detach(), injectFault() and setListed() are for the main thread. Commands
// run one at a time, in order, on the bus's own thread: a target's execute() runs there and
// nowhere else. State a target shares with other threads (what an emulated sampler stored, for a
// test to look at) needs the target's own lock, or must be read after the completion of the last
// command sent to it (the completion is posted after execute() returned).
#include "sampler/scsi/ScsiLayer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace cleavix::sampler::scsi {

struct TargetCommand {
    Cdb cdb{};
    Direction direction = Direction::None;
    std::span<const uint8_t> dataOut; // the bytes sent (direction Out)
    uint32_t allocationLength = 0;    // the bytes the initiator takes (direction In)
};

struct TargetAnswer {
    uint8_t status = target_status::kGood;
    std::vector<uint8_t> dataIn; // cut to the allocation length by the bus
    Sense sense{};
    uint8_t senseLength = 0;

    // CHECK CONDITION with fixed-format sense: key, additional sense code and qualifier.
    static TargetAnswer checkCondition(uint8_t senseKey, uint8_t asc, uint8_t ascq = 0);
};

// A device on the bus.
class VirtualScsiTarget {
public:
    virtual ~VirtualScsiTarget() = default;
    // Bus thread. One command.
    virtual TargetAnswer execute(const TargetCommand& command) = 0;
};

// A direct-access device (peripheral type 0): answers INQUIRY and TEST UNIT READY and refuses the
// rest with CHECK CONDITION, ILLEGAL REQUEST. Listings show it as a device that is no sampler.
class VirtualDiskTarget final : public VirtualScsiTarget {
public:
    TargetAnswer execute(const TargetCommand& command) override;
};

struct VirtualScsiFault {
    enum class Kind {
        NeverCompletes, // the bus drops the command; the layer's time-out ends it
        HostError,      // host status "error", nothing moved
        CheckCondition, // target status CHECK CONDITION with `sense`
        Busy,           // target status BUSY, nothing moved
        ShortTransfer,  // the target's answer, cut to `bytes`
        Late,           // the target's answer after `delay` (which may pass the time-out)
    };
    Kind kind = Kind::NeverCompletes;
    Sense sense{};
    uint8_t senseLength = 0;
    uint32_t bytes = 0;
    std::chrono::milliseconds delay{0};

    static VirtualScsiFault neverCompletes() { return {Kind::NeverCompletes}; }
    static VirtualScsiFault hostError() { return {Kind::HostError}; }
    static VirtualScsiFault checkCondition(uint8_t senseKey, uint8_t asc, uint8_t ascq = 0);
    static VirtualScsiFault busy() { return {Kind::Busy}; }
    static VirtualScsiFault shortTransfer(uint32_t bytes);
    static VirtualScsiFault late(std::chrono::milliseconds delay);
};

class VirtualScsiBus final : public ScsiBackend {
public:
    static constexpr const char* kName = "Cleavix virtual SCSI bus";
    static constexpr uint8_t kTargetIds = 8; // IDs 0..7

    VirtualScsiBus();
    ~VirtualScsiBus() override;
    VirtualScsiBus(const VirtualScsiBus&) = delete;
    VirtualScsiBus& operator=(const VirtualScsiBus&) = delete;

    // Main thread. Puts a device at an ID (replacing one there); the bus shares ownership, so a
    // target lives while a command to it runs.
    void attach(uint8_t id, std::shared_ptr<VirtualScsiTarget> target);
    void detach(uint8_t id);
    // Main thread. The next command to `id` meets `fault` (faults queue up in order).
    void injectFault(uint8_t id, VirtualScsiFault fault);
    // Main thread. false: the bus offers no adaptor (an empty adaptor list).
    void setListed(bool listed);
    // Any thread. Commands the bus has taken for `id` so far (faulty ones included).
    uint32_t commandsSeen(uint8_t id) const;

    std::vector<AdaptorInfo> adaptors() override;
    void start(std::shared_ptr<ScsiCommand> command) override;
    bool isVirtualBus() const override { return true; }

private:
    using Clock = std::chrono::steady_clock;
    struct Delayed {
        Clock::time_point due;
        std::shared_ptr<ScsiCommand> command;
        Outcome outcome;
    };
    void run();
    // Bus thread, without the lock. Runs one command; a late answer goes to delayed_ instead.
    void runOne(const std::shared_ptr<ScsiCommand>& command);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<ScsiCommand>> queue_;
    std::vector<Delayed> delayed_; // late answers, handed back when due without holding up others
    std::map<uint8_t, std::shared_ptr<VirtualScsiTarget>> targets_;
    std::map<uint8_t, std::deque<VirtualScsiFault>> faults_;
    std::array<uint32_t, kTargetIds> seen_{};
    bool listed_ = true;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace cleavix::sampler::scsi
