#pragma once
// TSMIDIDriver: the sampler driver for SMDI over SCSI (generic SMDI, E-mu, and the Yamaha models
// for their samples). An explicit state machine over one command at a time: every SCSI
// completion arrives on the main thread and decides the next command, so nothing waits in a loop.
//
// Every transfer ends exactly once, through the end its operation was given (the continuation,
// next / finished / the done event, the receive completion, the listing's callback), after a
// failure, an abort or a time-out as well. Answers are checked (tag, ID, lengths, packet numbers)
// before any field is read. Received audio goes to a scratch file and reaches the sample store
// only when the whole sample came.
//
// Threads: all methods and all completions on the main thread (the dispatcher's). The one helper
// thread is the pause timer between busy polls after a Wait: it only sleeps and posts the next
// step through the dispatcher.
#include "sampler/SamplerClass.h"
#include "sampler/scsi/ScsiCommands.h"
#include "sampler/smdi/SmdiCodec.h"
#include "slicing/WaveSmoother.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace cleavix::sampler::smdi {

inline constexpr const char* kNotCompliant = "Device is not SMIDI compliant!";
inline constexpr const char* kAborted = "Operation aborted!";
inline constexpr const char* kOutOfRange = "Error communicating with sampler\r\n\r\nSample out of range?";
inline constexpr const char* kNoSamples = "No samples available for retrieval";

inline constexpr int kTableEntries = 1025; // sample numbers 0..1024
inline constexpr uint32_t kMaxSendPacket = 0x20000;
inline constexpr uint32_t kEmuPacket = 0x4000;
inline constexpr uint32_t kReceivePacket = 32768;

class TSMIDIDriver final : public TSamplerClass {
public:
    struct Options {
        std::chrono::milliseconds pollInterval{500};
        std::chrono::milliseconds waitLimit{60000}; // total time a Wait may keep us polling
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
    void abort() override;
    void setSourceStream(const sample::TFileAndMemoryStream* stream) override { sourceStream_ = stream; }
    void setProfile(const SamplerProfile& profile) override { profile_ = profile; }
    void setSampleStore(sample::TFileAndMemoryStream* store) override { store_ = store; }
    void setStatusPanel(StatusSink status) override { status_ = std::move(status); }
    void clearError() override;
    std::vector<SamplerSampleEntry> copySampleList() const override;
    bool hasError() const override { return error_; }
    void checkDevice(Continuation continuation) override;
    void sendSample(const SendSampleArgs& args) override;
    void receiveSample(int32_t number, ReceiveCompletion completion) override;
    void listSamples(std::function<void(const std::vector<SamplerSampleEntry>&)> done) override;
    std::string receivedName() const override { return receivedName_; }

    bool busy() const { return state_ != State::Idle; }
    // What the last INQUIRY answered (blank fields when the answer was short).
    const std::optional<scsi::InquiryData>& inquiry() const { return inquiry_; }
    // The packet length the last send used.
    uint32_t negotiatedPacketLength() const { return packetLength_; }

private:
    enum class State {
        Idle,
        Inquiry, Identify,                            // checkDevice
        SendHeader, SendBegin, SendPackets,           // sendSample
        RecvHeader, RecvBegin, RecvPackets,           // receiveSample
        Listing,                                      // listSamples
        Polling,                                      // after a Wait
        Aborting,                                     // our Abort Procedure and its answer
    };
    using AnswerHandler = std::function<void(std::span<const uint8_t>)>;

    bool isEmu() const { return profile_.deviceType == 4; }
    void begin(State state, std::function<void()> end);
    void setState(State state) { state_ = state; }
    void fail(const std::string& text);
    void finish();
    void status(const std::string& text) const;
    void command(scsi::Direction direction, uint8_t operation, uint32_t length,
                 std::function<void(const scsi::Completion&)> next);
    // SEND a message, then RECEIVE up to answerLength bytes and hand over what came.
    void exchange(std::vector<uint8_t> message, uint32_t answerLength, AnswerHandler next);
    void receiveAnswer(uint32_t answerLength, AnswerHandler next);
    // A Wait answer: poll the unit until ready, then RECEIVE again into `next`.
    void onWait(uint32_t answerLength, AnswerHandler next);
    void poll(uint32_t answerLength, AnswerHandler next);
    void pauseThen(std::function<void()> step);
    // Our Abort Procedure, its answer, then the end with "Operation aborted!".
    void abortProcedure();
    // Whether the answer is one every exchange treats alike (abort, reject, garbage); ends the
    // operation when it is.
    bool endsOnCommonAnswer(std::span<const uint8_t> answer, bool samplerAbortGetsAck);

    void onInquiry(const scsi::Completion& done);
    void onSendAck(std::span<const uint8_t> answer);
    void onSendAnswer(std::span<const uint8_t> answer);
    void sendPacket(bool resend);
    void onReceiveHeader(std::span<const uint8_t> answer);
    void onReceiveAck(std::span<const uint8_t> answer);
    void requestPacket();
    void onReceivePacket(std::span<const uint8_t> answer);
    void onListAnswer(std::span<const uint8_t> answer);
    void fillTable(uint32_t number, const SampleHeader& header);

    scsi::ScsiLayer& layer_;
    jobs::Dispatcher& dispatcher_;
    const Options options_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    uint64_t generation_ = 0;

    SamplerProfile profile_;
    StatusSink status_;
    std::function<void()> doneEvent_;
    slicing::TWaveSmoother* source_ = nullptr;
    slicing::TWaveSmoother ownSource_;
    const sample::TFileAndMemoryStream* sourceStream_ = nullptr;
    sample::TFileAndMemoryStream* store_ = nullptr;

    State state_ = State::Idle;
    bool error_ = false;
    bool aborted_ = false;
    std::string errorText_;
    std::function<void()> end_;
    std::vector<uint8_t> buffer_;
    std::optional<scsi::InquiryData> inquiry_;
    std::chrono::steady_clock::time_point waitStarted_{};
    bool waiting_ = false;

    // Sending.
    SendSampleArgs send_;
    slicing::TWaveSmoother* activeSource_ = nullptr;
    uint64_t totalBytes_ = 0;
    uint64_t bytesSent_ = 0;
    uint32_t packetLength_ = 0;
    uint32_t packetCounter_ = 0;
    std::vector<uint8_t> keptPacket_;

    // Receiving and listing.
    ReceiveCompletion receiveDone_;
    uint32_t number_ = 0;
    uint8_t channels_ = 0;
    uint32_t rate_ = 0;
    uint64_t received_ = 0;
    std::unique_ptr<sample::TFileAndMemoryStream> scratch_;
    std::string receivedName_;
    std::vector<SamplerSampleEntry> rows_;
    std::vector<std::optional<SamplerSampleEntry>> table_ =
        std::vector<std::optional<SamplerSampleEntry>>(kTableEntries);

    // The pause timer.
    std::thread timer_;
    std::mutex timerMutex_;
    std::condition_variable timerWake_;
    bool timerStop_ = false;
};

} // namespace cleavix::sampler::smdi
