#pragma once
// TAkaiS2000Driver: Akai S2000 / S3000XL / S3200XL samplers over SCSI. System-exclusive messages
// travel inside four vendor commands (09 mode on/off, 0C send, 0D status, 0E receive); each step
// is one SCSI command whose completion issues the next. Every operation switches the message mode
// on first and off at the end, failures included, and ends exactly once.
//
// After each message the driver reads the status and, while the sampler has an answer pending,
// receives it (at most kMaxAnswer bytes, at most kMaxRounds rounds) and hands it to the step.
// Sample data move in chunks of 1024 bytes; a receive reads against the length the sampler
// announces and goes to a scratch working file, copied to the sample store only once complete.
//
// Failures are shown through the prompter and leave hasError() true; the end of a failed operation
// still happens: a listing's continuation gets the rows so far, a receive's completion zeros, a
// send ends with next or the done event, a key map with finished (or next / the done event).
//
// Threads: main thread only. The SCSI layer runs commands on its backends' threads and posts every
// completion to the main thread, where this state machine runs; prompts and status texts are
// shown from there.
#include "jobs/Prompter.h"
#include "sampler/KeyAssignment.h"
#include "sampler/ReceiveScratch.h"
#include "sampler/SamplerClass.h"
#include "sampler/akai/AkaiCodec.h"
#include "sampler/scsi/ScsiLayer.h"

#include <memory>
#include <string>
#include <vector>

namespace cleavix::sampler::akai {

// How a listing shows a size: bytes ÷ 1024 and "kb" from 1024 bytes on, else the bytes and " bytes".
std::string listingSize(uint32_t bytes);

class TAkaiS2000Driver final : public TSamplerClass {
public:
    static constexpr uint32_t kMaxAnswer = 4096;        // bytes of one pending answer
    static constexpr int kMaxRounds = 256;              // status reads after one message
    static constexpr uint32_t kMaxSampleWords = 1u << 26; // 128 MB: beyond any S2000's memory

    TAkaiS2000Driver(scsi::ScsiLayer& layer, jobs::Prompter& prompter);
    ~TAkaiS2000Driver() override;

    void setDoneEvent(std::function<void()> signal) override { doneEvent_ = std::move(signal); }
    void setSampleSource(slicing::TWaveSmoother* source) override { source_ = source; }
    void setNameList(const std::vector<std::string>& names) override { names_ = names; }
    void abort() override { abort_ = true; }
    void setSourceStream(const sample::TFileAndMemoryStream* stream) override { sourceStream_ = stream; }
    void mapSamples(const MapSamplesArgs& args) override;
    void setProfile(const SamplerProfile& profile) override { profile_ = profile; }
    void setSampleStore(sample::TFileAndMemoryStream* store) override { store_ = store; }
    void setStatusPanel(StatusSink status) override { status_ = std::move(status); }
    void clearError() override { abort_ = false; }
    bool hasError() const override { return abort_; }
    void checkDevice(Continuation continuation) override;
    void sendSample(const SendSampleArgs& args) override;
    void receiveSample(int32_t number, ReceiveCompletion completion) override;
    void listSamples(std::function<void(const std::vector<SamplerSampleEntry>&)> done) override;
    std::string receivedName() const override { return receivedName_; }

    // The adaptor index of the SCSI layer the profile's host adaptor field names (the profile
    // record holds 0..7; the virtual bus may sit beyond). Unset: the profile's own field.
    void setAdaptorIndex(int adaptor) { adaptorOverride_ = adaptor; }
    // Where a receive keeps its scratch working file (default: the system's temporary directory).
    void setScratchDirectory(std::string directory) { scratchDirectory_ = std::move(directory); }
    // The end-point smoothing level the transfer dialog chose for the sample source.
    void setSmoothingLevel(int level) { smoothingLevel_ = level; }
    // What the last key map sent (program and keygroup messages), for the command-line tool.
    const std::vector<Bytes>& lastMapMessages() const { return mapMessages_; }
    bool busy() const { return op_ != Op::None; }

private:
    enum class Op { None, Listing, Receiving, Sending, Mapping };
    // What a step makes of one answer: go on reading the status, or fail with a text.
    struct Verdict {
        bool ok = true;
        std::string error;
    };
    using AnswerHandler = std::function<Verdict(const Bytes&)>;
    using Step = std::function<void()>;

    void command(scsi::Direction direction, const scsi::Cdb& cdb, uint8_t* buffer, uint32_t length,
                 std::function<void()> then);
    void modeOn(Step then);
    // Sends `parts` (one send command each), then reads answers until none is pending.
    void transact(std::vector<Bytes> parts, AnswerHandler onAnswer, Step whenIdle);
    void sendParts(size_t index, AnswerHandler onAnswer, Step whenIdle);
    void poll(int round, AnswerHandler onAnswer, Step whenIdle);
    // Sends a request and reads one number from its answer; no answer, or a malformed one, fails.
    void query(Bytes request, std::function<std::optional<uint32_t>(const Bytes&)> parse,
               std::function<void(uint32_t)> then);
    void fail(const std::string& text, jobs::MessageKind kind);
    void finish();
    void show(jobs::MessageKind kind, const std::string& text);
    void status(const std::string& text);
    bool aborted();

    void listNext(uint32_t number);
    void receiveData();
    void sendData();
    void sendKeygroup(size_t index);
    void endSend();
    void endMap();

    scsi::ScsiLayer& layer_;
    jobs::Prompter& prompter_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    SamplerProfile profile_;
    int adaptorOverride_ = -1;
    std::function<void()> doneEvent_;
    slicing::TWaveSmoother* source_ = nullptr;
    const sample::TFileAndMemoryStream* sourceStream_ = nullptr;
    sample::TFileAndMemoryStream* store_ = nullptr;
    StatusSink status_;
    std::vector<std::string> names_;
    std::string scratchDirectory_;
    int smoothingLevel_ = 0;
    bool abort_ = false;

    Op op_ = Op::None;
    std::vector<Bytes> parts_; // the message being sent, one send command per part
    Bytes in_;
    std::array<uint8_t, 6> statusBytes_{};
    scsi::Completion last_;

    // Listing.
    std::function<void(const std::vector<SamplerSampleEntry>&)> listDone_;
    std::vector<SamplerSampleEntry> rows_;
    uint32_t count_ = 0;
    // Receiving.
    ReceiveCompletion receiveDone_;
    std::string receivedName_;
    SampleHeader header_;
    ReceiveScratch scratch_;
    uint32_t bytesDone_ = 0;
    int idleRounds_ = 0;
    // Sending.
    SendSampleArgs send_;
    std::unique_ptr<slicing::TWaveSmoother> ownSource_;
    slicing::TWaveSmoother* active_ = nullptr;
    uint32_t sampleBytes_ = 0;
    Bytes data_; // the chunk being sent
    // Mapping.
    MapSamplesArgs map_;
    std::vector<KeyRange> keys_;
    std::vector<Bytes> mapMessages_;
};

} // namespace cleavix::sampler::akai
