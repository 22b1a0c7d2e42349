#pragma once
// What the SCSI sampler commands (akai, smdi) share: their verbs, the bus they reach the sampler
// through, the sampler they talk to (a profile, or an adaptor and target), the key-map options,
// one transfer from identification to its end, and the small formats they print and write.
//
// Threads: main thread only; SamplerRun's watchdog has a timer thread that only posts to the loop.
#include "cli/Cli.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/SamplerClass.h"
#include "sampler/TransferWatchdog.h"
#include "sampler/scsi/ScsiLayer.h"
#include "sampler/virtual/EmulatedScsiBus.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::cli {

// The verb (identify, list, send, receive or map) taken from the front of `args`; UsageError naming
// `command` for any other.
std::string takeSamplerVerb(Args& args, const std::string& command);

// A main loop and the SCSI layer over the system's buses and the emulated one (the last adaptor).
struct SamplerBus {
    SamplerBus();
    jobs::MainLoop loop;
    sampler::virt::EmulatedScsiBus emulated;
    std::unique_ptr<sampler::scsi::ScsiLayer> layer;
    std::vector<sampler::scsi::Adaptor> adaptors;
};

// One transfer of a sampler command: the driver identifies the sampler, then the verb's operation
// runs, and the command waits for its end. The first end() ends the run; should no end come within
// the quiet time (re-armed by every status text), the transfer is aborted and ended as lost.
class SamplerRun {
public:
    // The longest a sampler may keep quiet before the command gives the transfer up (the drivers'
    // own limits end it well before).
    static constexpr std::chrono::milliseconds kQuiet{90000};

    SamplerRun(jobs::MainLoop& loop, sampler::TSamplerClass& driver, std::function<bool()> busy);
    // The end to hand to the driver's completions; only the first of a run counts.
    const std::function<void()>& end() const { return end_; }
    // For the driver's status panel: keeps the last text and counts as a sign of life.
    sampler::StatusSink statusPanel();
    // Identifies the sampler and, when it answered, starts `operation`; returns once the run ended
    // and the driver is idle (or at once when it was lost).
    void run(const std::function<void()>& operation);
    const std::string& lastStatus() const { return lastStatus_; }
    // kLostEndText when the watchdog ended the run, else empty.
    const std::string& lost() const { return lost_; }

private:
    jobs::MainLoop& loop_;
    sampler::TSamplerClass& driver_;
    std::function<bool()> busy_;
    sampler::TransferWatchdog watchdog_;
    bool ended_ = false;
    std::string lost_;
    std::string lastStatus_;
    std::function<void()> end_;
};

// A listing row as the commands print it.
nlohmann::json sampleRow(const sampler::SamplerSampleEntry& row, const std::string& size, int bits, bool stereo);

// The index 1..12 of a note name C, C#, D, ... B (any case); UsageError for anything else.
int noteIndexOf(const std::string& note);

// Bytes as upper-case hex pairs separated by blanks.
std::string hexBytes(const std::vector<uint8_t>& bytes);

// "--profile NAME [--config FILE]", or "--adaptor A --target T" with `type` as the device type.
// A profile must be of a type `accepts` takes (else UsageError naming `kind`). nullopt when the
// profile check failed; its message is then on standard error.
std::optional<sampler::SamplerProfile> takeScsiSampler(Args& args, const std::vector<sampler::scsi::Adaptor>& adaptors,
                                                       bool scsiAvailable, uint8_t type,
                                                       const std::function<bool(uint8_t)>& accepts,
                                                       const std::string& kind);

// The key-map options: --names a,b,c [--bank NAME --note C --octave O --interval I --white-keys].
struct KeyMapOptions {
    std::vector<std::string> names;
    sampler::MapSamplesArgs map;
};
KeyMapOptions takeKeyMapOptions(Args& args);

// Reads a PCM Wave or AIFF file into `store` and describes it as a single send from the store
// (name from the file, length in the 16-bit bytes of one channel the sample source delivers).
sampler::SendSampleArgs loadSendFile(const std::string& file, sample::TFileAndMemoryStream& store);

// A 16-bit PCM Wave file of interleaved little-endian samples.
void writeWave(const std::string& fileName, const std::vector<uint8_t>& data, uint32_t rate, uint16_t channels);
// The whole store as such a Wave file.
void writeStoreAsWave(const sample::TFileAndMemoryStream& store, const std::string& fileName, uint32_t rate,
                      uint16_t channels);

} // namespace cleavix::cli
