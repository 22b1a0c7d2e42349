#pragma once
// TSMIDIDriver: samplers that speak SMDI over SCSI (generic SMDI, the Yamaha A3000, EX, A4000 and
// A5000, E-mu ESI and EOS). An explicit state machine over one command at a time: each SCSI
// completion decides the next command, so nothing waits in a loop. The only pause is the one
// between busy polls after a Wait, bounded by a total limit.
//
// Every operation ends exactly once through the end it was given (the continuation; next,
// finished or the done event; the receive completion; the listing's callback), after a failure,
// an abort or a time-out as well; hasError() and errorText() then say why. Answers are checked
// (tag, ID, lengths, packet numbers) within the bytes actually moved before a field is read.
// Received audio goes to a scratch working file and reaches the sample store only when the whole
// sample came. Yamaha key maps go out as system-exclusive messages through the MIDI output.
//
// Threads: main thread only; the SCSI layer posts every completion there. The one helper thread
// is the pause timer after a Wait: it only sleeps and posts the next step through the dispatcher.
#include "jobs/Dispatcher.h"
#include "sampler/KeyAssignment.h"
#include "sampler/ReceiveScratch.h"
#include "sampler/SamplerClass.h"
#include "sampler/scsi/ScsiCommands.h"
#include "sampler/scsi/ScsiLayer.h"
#include "sampler/smdi/SmdiCodec.h"
#include "slicing/WaveSmoother.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace cleavix::sampler::smdi {

inline constexpr const char* kCommunicationError = "An error occurred during communication with the sampler";
inline constexpr const char* kNotCompliant = "Device is not SMIDI compliant!";
inline constexpr const char* kAborted = "Operation aborted!";
inline constexpr const char* kOutOfRange = "Error communicating with sampler\r\n\r\nSample out of range?";
inline constexpr const char* kNoSamples = "No samples available for retrieval";
inline constexpr const char* kBusy = "The sampler is busy with another transfer";
inline constexpr const char* kKeymapError =
    "An error occurred when transferring keymap information!\r\nTry closing other midi programs...";

inline constexpr int kTableEntries = 1025; // sample numbers 0..1024
inline constexpr uint32_t kMaxSendPacket = 0x20000;
inline constexpr uint32_t kEmuPacket = 0x4000;
inline constexpr uint32_t kReceivePacket = 32768;
inline constexpr int kMaxResends = 8; // the same packet asked for again, in a row

// One entry of the table of samples found.
struct TableEntry {
    bool filled = false;
    std::string name;
    uint32_t totalWords = 0; // length x channels
    uint32_t sampleRate = 0;
    uint8_t bits = 0;
    uint8_t channels = 0;
};

class TSMIDIDriver final : public TSamplerClass {
public:
    struct Options {
        std::chrono::milliseconds pollInterval{500};
        std::chrono::milliseconds waitLimit{60000}; // total time Wait answers may keep us polling
        std::chrono::milliseconds commandTimeout{0}; // 0: the SCSI layer's defaults
        uint32_t adaptorLimit = scsi::kMaxTransfer24; // the most one command may move
    };

    TSMIDIDriver(scsi::ScsiLayer& layer, jobs::Dispatcher& dispatcher);
    TSMIDIDriver(scsi::ScsiLayer& layer, jobs::Dispatcher& dispatcher, Options options);
    ~TSMIDIDriver() override;
    TSMIDIDriver(const TSMIDIDriver&) = delete;
    TSMIDIDriver& operator=(const TSMIDIDriver&) = delete;

    std::string errorText() const override { return errorText_; }
    void setDoneEvent(std::function<void()> signal) override { doneEvent_ = std::move(signal); }
    void setSampleSource(slicing::TWaveSmoother* source) override { source_ = source; }
    void setNameList(const std::vector<std::string>& names) override { names_ = names; }
    // Sets the error flag and "Operation aborted!"; a running exchange stops at its next step
    // (with an Abort Procedure when a procedure is open on the sampler).
    void abort() override;
    void setSourceStream(const sample::TFileAndMemoryStream* stream) override { sourceStream_ = stream; }
    void mapSamples(const MapSamplesArgs& args) override;
    void setProfile(const SamplerProfile& profile) override { profile_ = profile; }
    void setSampleStore(sample::TFileAndMemoryStream* store) override { store_ = store; }
    void setStatusPanel(StatusSink status) override { status_ = std::move(status); }
    void setMidiPorts(midi::TMidiInput* input, midi::TMidiOutput* output) override;
    void clearError() override;
    std::vector<SamplerSampleEntry> copySampleList() const override;
    bool hasError() const override { return error_; }
    void checkDevice(Continuation continuation) override;
    void sendSample(const SendSampleArgs& args) override;
    void receiveSample(int32_t number, ReceiveCompletion completion) override;
    void listSamples(std::function<void(const std::vector<SamplerSampleEntry>&)> done) override;
    std::string receivedName() const override { return receivedName_; }

    // As the Akai driver: the adaptor index of the SCSI layer (the profile field holds 0..7; the
    // virtual bus may sit beyond), the scratch directory, the smoothing level, the key-map bytes.
    void setAdaptorIndex(int adaptor) { adaptorOverride_ = adaptor; }
    void setScratchDirectory(std::string directory) { scratchDirectory_ = std::move(directory); }
    void setSmoothingLevel(int level) { smoothingLevel_ = level; }
    // The system-exclusive messages of the last key map, whole (before the A3000's pieces).
    const std::vector<std::vector<uint8_t>>& lastMapMessages() const { return mapMessages_; }
    bool busy() const { return state_ != State::Idle; }

    // The table of samples found, indexed by sample number (0..1024).
    const std::vector<TableEntry>& sampleTable() const { return table_; }
    // What the last INQUIRY answered (blank fields when the answer was short).
    const std::optional<scsi::InquiryData>& inquiry() const { return inquiry_; }
    // The packet length the last send or receive used.
    uint32_t negotiatedPacketLength() const { return packetLength_; }

private:
    enum class State {
        Idle,
        Identify,
        SendHeader, SendBegin, SendPackets,
        RecvHeader, RecvBegin, RecvPackets,
        Listing,
        Mapping,
        Aborting,
    };
    using AnswerHandler = std::function<void(std::span<const uint8_t>)>;
    using CompletionStep = std::function<void(const scsi::Completion&)>;

    bool isEmu() const { return profile_.deviceType == 4; }
    // The most data one Data Packet may carry through the adaptor, and the receive packet length.
    uint32_t adaptorData() const;
    uint32_t receiveLimit() const;
    // Starts an operation: `end` runs once when it ends, whatever the outcome.
    void begin(State state, std::function<void()> end);
    void fail(const std::string& text);
    void finish();
    void status(const std::string& text) const;
    scsi::Request request(scsi::Direction direction, const scsi::Cdb& cdb, uint8_t* buffer, uint32_t length) const;
    void command(scsi::Direction direction, uint8_t operation, uint8_t* buffer, uint32_t length, CompletionStep next);
    void issue(const scsi::Request& request, CompletionStep next);
    // SEND a message, then RECEIVE up to answerLength bytes and hand over what came.
    void exchange(std::vector<uint8_t> message, uint32_t answerLength, AnswerHandler next);
    void receiveAnswer(uint32_t answerLength, AnswerHandler next);
    void poll(uint32_t answerLength, AnswerHandler next);
    void pauseThen(std::function<void()> step);
    void userAbort();
    void abortProcedure(bool samplerAborted);
    // Runs `step` from the main loop, unless the operation has ended by then.
    void soon(std::function<void()> step);
    // Ends the operation just started with `text`, from the main loop (never inside the call).
    void refuse(const std::string& text);

    void onInquiry(const scsi::Completion& done);
    void onSendAck(std::span<const uint8_t> answer);
    void onSendAnswer(std::span<const uint8_t> answer);
    void sendPacket(uint32_t number, bool resend);
    void onReceiveHeader(std::span<const uint8_t> answer);
    void onReceiveAck(std::span<const uint8_t> answer);
    void requestPacket();
    void onReceivePacket(std::span<const uint8_t> answer);
    bool storeReceived();
    void startListing();
    void listNext();
    void onListAnswer(std::span<const uint8_t> answer);
    void fillTable(uint32_t number, const SampleHeader& header);
    void buildMap();
    // The names sent for the batch, and the sampler's own name for each (found among the listed).
    std::vector<std::string> sentNames() const;
    std::string samplerName(const std::string& sent) const;

    scsi::ScsiLayer& layer_;
    jobs::Dispatcher& dispatcher_;
    const Options options_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    uint64_t generation_ = 0; // one per operation; a completion of an older one is dropped

    SamplerProfile profile_;
    int adaptorOverride_ = -1;
    StatusSink status_;
    std::function<void()> doneEvent_;
    slicing::TWaveSmoother* source_ = nullptr;
    std::unique_ptr<slicing::TWaveSmoother> ownSource_;
    const sample::TFileAndMemoryStream* sourceStream_ = nullptr;
    sample::TFileAndMemoryStream* store_ = nullptr;
    midi::TMidiOutput* output_ = nullptr;
    std::vector<std::string> names_;
    std::string scratchDirectory_;
    int smoothingLevel_ = 0;

    State state_ = State::Idle;
    bool error_ = false;
    bool aborted_ = false;
    std::string errorText_;
    std::function<void()> end_;
    std::vector<uint8_t> out_; // the message being sent
    std::vector<uint8_t> in_;  // the answer being received
    std::optional<scsi::InquiryData> inquiry_;
    std::optional<std::chrono::steady_clock::time_point> waitStarted_;

    // Sending.
    SendSampleArgs send_;
    slicing::TWaveSmoother* active_ = nullptr;
    uint64_t totalBytes_ = 0;
    uint64_t bytesSent_ = 0;
    uint32_t lengthWords_ = 0;
    uint32_t packetLength_ = 0;
    uint32_t packetCounter_ = 0;
    int resends_ = 0;
    std::vector<uint8_t> keptPacket_;

    // Receiving and listing.
    uint32_t number_ = 0;
    SampleHeader header_;
    uint32_t rate_ = 0;
    uint64_t expected_ = 0;
    uint64_t received_ = 0;
    ReceiveScratch scratch_;
    std::string receivedName_;
    std::vector<SamplerSampleEntry> rows_;
    std::vector<TableEntry> table_ = std::vector<TableEntry>(kTableEntries);

    // Mapping.
    MapSamplesArgs map_;
    bool collecting_ = false;        // a listing that gathers names for a key map
    std::vector<std::string> found_; // names the sampler listed, for the Yamaha maps
    std::vector<std::vector<uint8_t>> mapMessages_;

    // The pause timer.
    std::thread timer_;
    std::mutex timerMutex_;
    std::condition_variable timerWake_;
    std::function<void()> timerStep_;
    std::chrono::steady_clock::time_point timerDue_{};
    bool timerStop_ = false;
};

} // namespace cleavix::sampler::smdi
