#pragma once
// The sampler side of the session: the MIDI ports, the SCSI layer and the drivers the main window
// owns, the profile binding, and the transfer commands of the transfer and batch dialogs -- send
// the loop region, request a numbered sample, wait for the sampler to send one, list the
// sampler's samples and fetch one of them, and send a list of files one after another with their
// key map. The window's dialogs and the command-line tool call these; they hold no transfer state
// of their own.
//
// Every command runs the common checks first (a profile stored and readable, the SCSI layer for a
// SCSI type, device numbers in range), binds the profile's driver and then runs ClearError,
// CheckDevice and the operation. While one runs, running() is true and onRunning(true) has told
// the window to disable itself; each transfer ends through one end path exactly once --
// driver end, failure, abort, lost end (the watchdog) -- which calls onRunning(false), shows the
// end's message and calls the command's `done`. Abort asks the driver to stop and shows "Inactive",
// but the transfer stays running until the driver's end comes, so no new one starts on ports still
// open.
//
// A received sample is taken over as Paste To New takes a sample: from a scratch working file the
// driver filled, with the loaded sample kept as the undo backup (code 11).
//
// Threads: main thread only (the dispatcher's). The send thread TSMDISend only waits; the drivers'
// threads post their ends here.
#include "jobs/Dispatcher.h"
#include "jobs/Prompter.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/KeyAssignment.h"
#include "sampler/SamplerClass.h"
#include "sampler/TransferWatchdog.h"
#include "sampler/profiles/ProfileBinding.h"
#include "sampler/profiles/ProfileStore.h"
#include "slicing/WaveSmoother.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sampler::midi {
class TMidiInput;
class TMidiOutput;
}
namespace cleavix::sampler::scsi {
class ScsiLayer;
}
namespace cleavix::sampler::sds {
class TSDSDriver;
}
namespace cleavix::sampler::akai {
class TAkaiS2000Driver;
}
namespace cleavix::sampler::smdi {
class TSMIDIDriver;
}

namespace cleavix::session {

class Session;
struct Backends;
class TSMDISend;

inline constexpr const char* kMsgTransferComplete = "Transfer complete!";
inline constexpr const char* kMsgBatchComplete = "Batch transfer complete!";
inline constexpr const char* kMsgTransferAborted = "Transfer aborted!";
inline constexpr const char* kMsgAkaiStereo = "Akai driver cannot handle stereo at this time!";
inline constexpr const char* kMsgWaveCorrupted = "Wave File Corrupted!\r\n";
inline constexpr const char* kMsgKeysExceed = "WARNING! -  Samples exceed available notes";
inline constexpr const char* kMsgNoDriver = "No driver is available for this profile's sampler type";
inline constexpr const char* kMsgTransferRunning = "A transfer is already running";
inline constexpr const char* kStatusInactive = "Inactive";

// The key-map settings the batch reads (the window keeps them with its configuration).
struct KeyMapSettings {
    std::string bankName = "Vantrel";
    int noteIndex = 1; // 1 = C .. 12 = B
    int octave = 2;
    int interval = 0;
    bool whiteKeys = false;
    bool smoothBatch = false;
    int smoothLevel = 30; // 0..60
    int baseNote() const { return sampler::baseNoteOf(noteIndex, octave); }
};

// How a transfer ended. message: what was shown ("" when nothing was).
struct TransferEnd {
    bool ok = false;
    bool aborted = false;
    std::string message;
};
using TransferDone = std::function<void(const TransferEnd&)>;

// One file of the batch list.
struct BatchEntry {
    std::string path;
    uint64_t dataBytes = 0;
    std::string sizeText; // data bytes div 1024 and "kb"
    std::optional<sampler::KeyRange> keys; // set after a batch that mapped the keys
};

// One sample a batch sent.
struct BatchSent {
    std::string file;
    int32_t number = 0;
    int displayNumber = 0;
    std::string name;
    std::optional<sampler::KeyRange> keys;
};

struct BatchReport {
    std::vector<BatchSent> sent;
    bool mapped = false;
};

// Where an added batch file comes from: Add checks its header; a drop says which check failed.
enum class BatchOrigin { Add, Drop };

class SamplerTransfer {
public:
    SamplerTransfer(Session& session, Backends& backends);
    ~SamplerTransfer();
    SamplerTransfer(const SamplerTransfer&) = delete;
    SamplerTransfer& operator=(const SamplerTransfer&) = delete;

    // --- devices and drivers ---
    sampler::midi::TMidiInput& midiInput() { return *midiIn_; }
    sampler::midi::TMidiOutput& midiOutput() { return *midiOut_; }
    sampler::scsi::ScsiLayer& scsi() { return *scsi_; }
    sampler::sds::TSDSDriver& sdsDriver() { return *sds_; }
    sampler::akai::TAkaiS2000Driver& akaiDriver() { return *akai_; }
    sampler::smdi::TSMIDIDriver& smdiDriver() { return *smdiOwn_; }
    // Another driver for the SMDI types (tests); null: the session's own.
    void setSmdiDriver(sampler::TSamplerClass* driver);
    sampler::profiles::InstalledDevices installed();

    // --- profiles ---
    void setProfileStore(sampler::profiles::ProfileStore store) { profiles_ = std::move(store); }
    const sampler::profiles::ProfileStore& profileStore() const { return profiles_; }
    // What the profile lists show: the names, or "No Presets Stored".
    std::vector<std::string> profileLines() const { return profiles_.listLines(); }
    // The profile the commands use, by name (the dialogs' selection).
    void selectProfile(const std::string& name) { selected_ = name; }
    const std::string& selectedProfile() const { return selected_; }
    // The common checks for the selected profile, without binding (the dialogs show the receive
    // button and "Auto map" from it).
    sampler::profiles::BindingCheck checkSelected();
    // The last used position in the profile lists ("PNo").
    int profilePosition = 0;

    // --- options ---
    bool roundRate = true;        // "Round sample rate"
    KeyMapSettings keyMap;
    // Quiet time after which a transfer with no sign of life is ended as lost.
    void setQuietTime(std::chrono::milliseconds quiet);

    // --- state ---
    bool running() const { return running_; }
    bool aborted() const { return aborted_; }
    const std::string& status() const { return status_; }
    // The window: disable while running, enable at the end (each exactly once per transfer).
    std::function<void(bool running)> onRunning;
    std::function<void(const std::string& status)> onStatus;
    // The rows of the last listing.
    const std::vector<sampler::SamplerSampleEntry>& listing() const { return listing_; }
    // What the last batch sent.
    const BatchReport& lastBatch() const { return lastBatch_; }

    // --- commands: false when refused at once (the message shown), else `done` comes once ---
    // Sends the loop region as one sample at position + offset. bothChannels: the view shows
    // both channels of a stereo sample; channel: the one it shows otherwise (1 or 2).
    bool sendRegion(int position, bool bothChannels, int channel, TransferDone done = {});
    // Asks for sample position + offset; waitForSend: waits for the sampler to start a dump of it
    // instead (the MIDI sample dump).
    bool request(int position, bool waitForSend, TransferDone done = {});
    // Fetches a listed sample by the sampler's own number (no offset).
    bool receiveListed(int32_t number, TransferDone done = {});
    // Lists the sampler's samples into listing().
    bool listSamples(TransferDone done = {});
    // "Abort dump".
    void abort();

    // --- the batch list ---
    const std::vector<BatchEntry>& batchList() const { return batch_; }
    // Empty when added; else the refusal to show.
    std::string addBatchFile(const std::string& path, BatchOrigin origin = BatchOrigin::Add);
    void removeBatchEntries(std::vector<int> indices);
    void clearBatch() { batch_.clear(); }
    // By file name without folder.
    void sortBatch();
    void swapBatchEntries(int a, int b);
    // Sends every file from position + offset, then, with autoMap, lays them over the keyboard.
    bool batchSend(int position, bool autoMap, TransferDone done = {});

private:
    struct Bound {
        sampler::TSamplerClass* driver = nullptr;
        sampler::SamplerProfile profile;
        sampler::profiles::DriverKind kind = sampler::profiles::DriverKind::Sds;
    };
    // The common checks and the binding; nullopt after showing the refusal.
    std::optional<Bound> checkAndBind(sample::TFileAndMemoryStream* store);
    bool refuse(const std::string& text);
    void begin(TransferDone done);
    // The one end of every transfer.
    void end(bool ok, const std::string& message, bool inform = true);
    // The driver's end: its error text when it has one.
    void endFromDriver(bool sent, const std::string& success);
    void setStatus(const std::string& text);
    // ClearError and CheckDevice on the bound driver, then `operation` unless the check failed.
    void withDevice(std::function<void()> operation);
    // Wraps a driver's continuation or end so it runs only while its own transfer is running:
    // a late end of a transfer already ended (aborted, lost) changes nothing.
    template <class... Args>
    std::function<void(Args...)> step(std::function<void(Args...)> f) {
        return [this, alive = std::weak_ptr<bool>(alive_), epoch = epoch_, f = std::move(f)](Args... args) {
            if (alive.expired() || !running_ || epoch != epoch_) {
                return;
            }
            f(args...);
        };
    }
    std::function<void()> step(std::function<void()> f) { return step<>(std::move(f)); }
    bool startReceive(int32_t number, TransferDone done);
    void receiveEnded(const sampler::ReceivedSample& received);
    void takeOver(uint8_t channels, uint32_t rate, uint32_t bytes);
    void batchStep();
    void batchSendNext(size_t index);
    void batchFinish();

    Session& session_;
    jobs::Dispatcher& dispatcher_;
    jobs::Prompter& prompter_;
    std::unique_ptr<sampler::midi::TMidiInput> midiIn_;
    std::unique_ptr<sampler::midi::TMidiOutput> midiOut_;
    std::unique_ptr<sampler::scsi::ScsiLayer> scsi_;
    std::unique_ptr<sampler::sds::TSDSDriver> sds_;
    std::unique_ptr<sampler::akai::TAkaiS2000Driver> akai_;
    std::unique_ptr<sampler::smdi::TSMIDIDriver> smdiOwn_;
    sampler::TSamplerClass* smdi_ = nullptr;
    slicing::TWaveSmoother smoother_;
    sampler::profiles::ProfileStore profiles_;
    std::string selected_;
    std::unique_ptr<sampler::TransferWatchdog> watchdog_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // One transfer.
    bool running_ = false;
    uint64_t epoch_ = 0;
    bool aborted_ = false;
    std::string status_ = kStatusInactive;
    TransferDone done_;
    Bound bound_;
    std::unique_ptr<TSMDISend> sender_;
    std::unique_ptr<sample::TFileAndMemoryStream> scratch_;
    std::vector<sampler::SamplerSampleEntry> listing_;

    // The batch.
    std::vector<BatchEntry> batch_;
    std::vector<BatchEntry> sending_;
    std::unique_ptr<sample::TFileAndMemoryStream> batchFile_;
    std::vector<std::string> names_;
    int32_t current_ = 0;
    int32_t first_ = 0;
    size_t next_ = 0;
    bool autoMap_ = false;
    BatchReport lastBatch_;
};

} // namespace cleavix::session
