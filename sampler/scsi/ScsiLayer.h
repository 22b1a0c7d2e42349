#pragma once
// The SCSI layer: host adaptors, and 6-byte SCSI commands with data in, out or none, each ending in
// exactly one completion on the main thread.
//
// Backends stand behind it in listing order: the Linux SCSI generic backend (when built) and the
// virtual SCSI bus, always last. Adaptor numbers run across them: 0..n-1 for the real adaptors,
// then the virtual bus.
//
// Threads:
// - ScsiLayer's methods are for the main thread (the dispatcher's).
// - A backend runs a command on a thread of its own and ends it with ScsiCommand::finish().
// - The layer's watchdog thread ends a command that outlives its time-out (not completed,
//   timedOut set), so a dead target never blocks the caller. Whichever end comes first wins; the
//   other is dropped.
// - The completion is posted through the dispatcher and runs on the main thread. Only there are
//   the caller's buffer and callback touched: data-out bytes are copied out when the command is
//   issued, data-in bytes are copied in just before the callback. A command that ends late, or
//   after the layer is gone, changes nothing. The dispatcher must outlive the backends' threads.
#include "jobs/Dispatcher.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cleavix::sampler::scsi {

inline constexpr size_t kCdbLength = 6;
inline constexpr size_t kSenseLength = 14;
inline constexpr size_t kIdentifierLength = 16;
using Cdb = std::array<uint8_t, kCdbLength>;
using Sense = std::array<uint8_t, kSenseLength>;

enum class Direction : uint8_t { None, In, Out };

// Target status bytes.
namespace target_status {
inline constexpr uint8_t kGood = 0x00;
inline constexpr uint8_t kCheckCondition = 0x02;
inline constexpr uint8_t kConditionMet = 0x04;
inline constexpr uint8_t kBusy = 0x08;
inline constexpr uint8_t kReservationConflict = 0x18;
inline constexpr uint8_t kTaskSetFull = 0x28;
} // namespace target_status

// Host adaptor status, numbered as Linux numbers it.
namespace host_status {
inline constexpr uint8_t kOk = 0x00;
inline constexpr uint8_t kNoConnect = 0x01; // nothing answers at that ID
inline constexpr uint8_t kBusBusy = 0x02;
inline constexpr uint8_t kTimeOut = 0x03;
inline constexpr uint8_t kBadTarget = 0x04;
inline constexpr uint8_t kAbort = 0x05;
inline constexpr uint8_t kParity = 0x06;
inline constexpr uint8_t kError = 0x07;
inline constexpr uint8_t kReset = 0x08;
} // namespace host_status

// Driver status, numbered as Linux numbers it (low nibble).
namespace driver_status {
inline constexpr uint8_t kOk = 0x00;
inline constexpr uint8_t kBusy = 0x01;
inline constexpr uint8_t kError = 0x04;
inline constexpr uint8_t kInvalid = 0x05;
inline constexpr uint8_t kTimeout = 0x06;
inline constexpr uint8_t kHard = 0x07;
inline constexpr uint8_t kSense = 0x08; // sense data is valid
} // namespace driver_status

// Time-outs: identification and polling commands answer quickly; data commands may move a packet
// of a sample.
inline constexpr std::chrono::milliseconds kControlTimeout{5000};
inline constexpr std::chrono::milliseconds kDataTimeout{30000};
// kControlTimeout for INQUIRY, TEST UNIT READY and REQUEST SENSE, kDataTimeout for the rest.
std::chrono::milliseconds defaultTimeout(uint8_t operationCode);

struct Adaptor {
    int index = 0;          // the number requests use
    int host = 0;           // the backend's own number (Linux host number; 0 for the virtual bus)
    // Names the adaptor: a real adaptor's 16-character identifier (its driver's name), or the
    // virtual bus's full name.
    std::string identifier;
    bool virtualBus = false;
};

struct Request {
    int adaptor = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    Direction direction = Direction::None;
    Cdb cdb{};
    // Data in: zeroed when the command is issued, filled just before the completion runs.
    // Data out: copied when the command is issued. Owned by the caller; must stay valid until the
    // completion has run (or the layer is destroyed).
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    // Zero: defaultTimeout(cdb[0]).
    std::chrono::milliseconds timeout{0};
};

struct Completion {
    // The command reached the target and ended with no host, driver or target error.
    bool completed = false;
    // The command did not end within its time-out.
    bool timedOut = false;
    uint8_t hostStatus = host_status::kOk;
    uint8_t driverStatus = driver_status::kOk;
    uint8_t targetStatus = target_status::kGood;
    Sense sense{};
    uint8_t senseLength = 0; // valid bytes of sense
    // Bytes actually moved (never more than the request's length). Answers are read only this far.
    uint32_t transferred = 0;
    // errno of a failed system call (EACCES when /dev/sg* may not be opened), else 0.
    int systemError = 0;
    // What went wrong, for diagnostics; empty when completed.
    std::string detail;
};
using CompletionHandler = std::function<void(const Completion&)>;

// The outcome a backend reports for a command, from any thread.
struct Outcome {
    uint8_t hostStatus = host_status::kOk;
    uint8_t driverStatus = driver_status::kOk;
    uint8_t targetStatus = target_status::kGood;
    Sense sense{};
    uint8_t senseLength = 0;
    uint32_t transferred = 0;
    std::vector<uint8_t> dataIn; // data-in bytes (at most the request's length)
    int systemError = 0;
    std::string detail;
};

// One command in flight, shared by the layer, its backend and the watchdog. Everything but the
// end state is fixed before the backend sees it.
class ScsiCommand {
public:
    int localAdaptor = 0; // index in the backend's own adaptor list
    uint8_t target = 0;
    uint8_t lun = 0;
    Direction direction = Direction::None;
    Cdb cdb{};
    uint32_t length = 0;
    std::vector<uint8_t> dataOut; // data-out bytes (length of them)
    std::chrono::milliseconds timeout{0};

    // Any thread: ends the command with `outcome`. False (and nothing happens) when it had ended.
    bool finish(Outcome outcome);
    // Any thread: whether the command has ended (a backend skips a queued command that expired).
    bool ended() const { return ended_.load(std::memory_order_acquire); }

private:
    friend class ScsiLayer;
    std::atomic<bool> ended_{false};
    std::function<void(Outcome)> onEnd_; // set by the layer before the backend sees the command
};

class ScsiBackend {
public:
    struct AdaptorInfo {
        int host = 0;
        std::string identifier;
    };
    virtual ~ScsiBackend() = default;
    // Main thread. The adaptors this backend offers now, in order.
    virtual std::vector<AdaptorInfo> adaptors() = 0;
    // Main thread. Starts one command on adaptor command->localAdaptor; returns at once. The
    // backend calls command->finish() at most once, from any thread; if it never does, the
    // layer's watchdog ends the command.
    virtual void start(std::shared_ptr<ScsiCommand> command) = 0;
    virtual bool isVirtualBus() const { return false; }
};

class ScsiLayer {
public:
    explicit ScsiLayer(jobs::Dispatcher& dispatcher);
    ~ScsiLayer();
    ScsiLayer(const ScsiLayer&) = delete;
    ScsiLayer& operator=(const ScsiLayer&) = delete;

    // Main thread. Backends in listing order (the virtual bus last).
    void addBackend(std::shared_ptr<ScsiBackend> backend);
    // Main thread. Whether any backend stands behind the layer.
    bool available() const { return !backends_.empty(); }
    // Main thread. Lists the adaptors afresh; requests use the numbers of the last listing (one is
    // made on the first request when none was).
    std::vector<Adaptor> adaptors();
    // Main thread. Issues one command; `done` runs exactly once, on the main thread, never inside
    // this call.
    void execute(const Request& request, CompletionHandler done);

private:
    class Watchdog;
    struct Route {
        std::shared_ptr<ScsiBackend> backend;
        int local = 0;
    };
    void post(std::function<void()> fn);

    jobs::Dispatcher& dispatcher_;
    std::vector<std::shared_ptr<ScsiBackend>> backends_;
    std::vector<Route> routes_;
    bool listed_ = false;
    std::shared_ptr<std::atomic<bool>> alive_;
    std::unique_ptr<Watchdog> watchdog_;
};

} // namespace cleavix::sampler::scsi
