#pragma once
// TSamplerClass: the one driver interface through which the editor talks to a hardware sampler,
// whatever the protocol (MIDI Sample Dump, SMDI over SCSI, Akai over SCSI). The operations follow
// the order of the driver table; each has a do-nothing default, so a driver overrides only what
// its protocol uses.
//
// Calling order: the binder hands the driver its resources (profile, status sink, store, ports,
// sample source); a transfer is clearError(), checkDevice(continuation) and, in the continuation,
// sendSample(), receiveSample() or listSamples(); afterwards hasError() and errorText(). abort()
// may be called at any time.
//
// Threads: every operation is for the main thread (the dispatcher's). A driver may run threads of
// its own for a transfer; they never call back into the caller except through the dispatcher, so
// every continuation, completion, `next` and `finished` runs on the main thread, and each
// transfer ends exactly once. Drivers never throw during a transfer: they set their error flag and
// text and report the end through the completion.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cleavix::sample {
class TFileAndMemoryStream;
}
namespace cleavix::slicing {
class TWaveSmoother;
}
namespace cleavix::sampler::midi {
class TMidiInput;
class TMidiOutput;
}

namespace cleavix::sampler {

// The 16-byte sampler profile record (multi-byte fields little-endian).
struct SamplerProfile {
    uint8_t midiInput = 0;
    uint8_t midiOutput = 0;
    uint8_t scsiAdaptor = 0;
    uint8_t scsiDevice = 0;
    uint8_t sysexId = 1;     // 1..16
    uint8_t midiChannel = 1; // 1..16, one-based
    uint8_t openLoop = 0;    // MIDI transfer without handshake
    uint8_t scsiInUse = 0;
    uint8_t midiOutInUse = 0;
    uint8_t deviceType = 0;  // 0..7, the row of the device type table
    std::array<uint8_t, 2> reserved{};
    int32_t sampleNumberOffset = 0; // -1024..1024

    static constexpr size_t kBytes = 16;
    std::array<uint8_t, kBytes> toBytes() const;
    // Fills the leading `size` bytes (at most 16) and leaves the rest of the record as it was.
    void fillFrom(const uint8_t* bytes, size_t size);
};

// The arguments of sendSample, in the order of the driver table.
struct SendSampleArgs {
    std::string name;           // name to give the sampler (protocols without names ignore it)
    int32_t sampleNumber = 0;   // destination number, profile offset already added
    uint32_t start = 0;         // byte offset in the source of the first value to send
    uint32_t length = 0;        // bytes of one channel to send
    uint8_t channels = 1;       // channels of the source, 1 or 2
    uint32_t sampleRate = 44100; // frames per second
    uint8_t bits = 16;          // bits per sample of the source (8 or 16)
    bool keepStereo = false;    // send both channels of a stereo source
    bool single = false;        // progress text without a sample counter
    uint8_t channelsToSend = 1; // 1, or 2 when keeping stereo
    int32_t displayNumber = 0;  // running number shown in progress texts
    bool fromFile = false;      // the source is the source stream, not the sample store
    // Called when this sample is done (batch: sends the next file). Called also after a failed or
    // aborted send from a file, so that a batch step always ends; hasError() then says so.
    std::function<void()> next;
    // Called when the batch is finished or failed (drivers that map after sending).
    std::function<void()> finished;
    bool bigEndian = false;     // the source's 16-bit samples are big-endian (AIFF)
    uint8_t rootKey = 0;        // 0 when not mapped
    uint8_t lowKey = 0;
    uint8_t highKey = 0;
};

// What a receive ended with. channels 0 means failure; error then says why.
struct ReceivedSample {
    uint8_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bytes = 0;
    std::string error;
};
using ReceiveCompletion = std::function<void(const ReceivedSample&)>;

// The arguments of mapSamples: how a batch is laid over the keyboard.
struct MapSamplesArgs {
    std::string programName;
    std::string baseSampleName;
    uint8_t baseNote = 60;
    uint8_t keySpan = 1;
    bool whiteKeysOnly = false;
    uint8_t sampleCount = 0;
    int32_t firstSampleNumber = 0;
    std::function<void()> finished;
};

// One sample a sampler listed.
struct SamplerSampleEntry {
    int32_t number = 0;
    std::string name;
    uint32_t lengthWords = 0;
    uint32_t sampleRate = 0;
    uint8_t channels = 1;
};

using StatusSink = std::function<void(const std::string& text)>;
using Continuation = std::function<void()>;

class TSamplerClass {
public:
    virtual ~TSamplerClass() = default;

    virtual std::string errorText() const { return {}; }
    // Signalled when a send from the sample store (or one sample of a batch) ends.
    virtual void setDoneEvent(std::function<void()> /*signal*/) {}
    virtual void setSampleSource(slicing::TWaveSmoother* /*source*/) {}
    virtual void setNameList(const std::vector<std::string>& /*names*/) {}
    virtual void abort() {}
    virtual void setSourceStream(const sample::TFileAndMemoryStream* /*stream*/) {}
    virtual void mapSamples(const MapSamplesArgs& /*args*/) {}
    virtual void setProfile(const SamplerProfile& /*profile*/) {}
    // Where received audio goes once a receive succeeded; untouched by a failed one.
    virtual void setSampleStore(sample::TFileAndMemoryStream* /*store*/) {}
    virtual void setStatusPanel(StatusSink /*status*/) {}
    virtual void setMidiPorts(midi::TMidiInput* /*input*/, midi::TMidiOutput* /*output*/) {}
    virtual void clearError() {}
    virtual std::vector<SamplerSampleEntry> copySampleList() const { return {}; }
    virtual bool hasError() const { return false; }
    virtual void checkDevice(Continuation continuation) = 0;
    virtual void sendSample(const SendSampleArgs& args) = 0;
    // number: the sample to fetch. Drivers document their own reading of it (the MIDI sample dump
    // driver waits for a dump the sampler starts itself when number >= 100000).
    virtual void receiveSample(int32_t number, ReceiveCompletion completion) = 0;
    virtual void listSamples(std::function<void(const std::vector<SamplerSampleEntry>&)> done) {
        if (done) {
            done({});
        }
    }
    virtual std::string receivedName() const { return {}; }
};

} // namespace cleavix::sampler
