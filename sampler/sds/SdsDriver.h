#pragma once
// TSDSDriver: the sampler driver for the MIDI Sample Dump Standard. It sends a sample as a Dump
// Header and Data Packets and receives one the same way, with the handshake (ACK, NAK, WAIT,
// CANCEL) or open loop.
//
// Threads. The main thread runs every public method, the input handler (each OnMidiInput) and the
// output-completion handler; those decide what each message means and set the shared flags under
// one mutex. TMidiSend (the send thread) builds and sends the header and packets and waits on a
// condition variable for the answer, a resend request, WAIT, abort or its time-out; it reads the
// sample source while the transfer runs and nothing else of the editor's. TMidiReceive (the
// receive thread) sends the Dump Request and waits for packets or its time-out; the handler
// decodes packets on the main thread into a scratch stream, which replaces the target store only
// when the whole dump arrived. Each transfer ends exactly once, on the main thread.
#include "jobs/Dispatcher.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/SamplerClass.h"
#include "slicing/WaveSmoother.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cleavix::sampler::midi {
struct TMyMidiEvent;
}

namespace cleavix::sampler::sds {

struct SdsTimeouts {
    std::chrono::milliseconds header{10000};  // sender: the answer to the Dump Header
    std::chrono::milliseconds packet{5000};   // sender: the answer to each Data Packet
    std::chrono::milliseconds receive{10000}; // receiver: between messages of the dump
};

// What the last send did, for the command-line tool and the tests.
struct SdsSendReport {
    uint32_t packets = 0;
    uint32_t resends = 0;
    uint32_t naks = 0;
    uint32_t waits = 0;
    bool aborted = false;
    std::string error;
    uint32_t lengthWords = 0;
    uint32_t period = 0;
};

// A message on the wire: '>' sent, '<' received.
using SdsCapture = std::function<void(char direction, const uint8_t* data, size_t size)>;

class TSDSDriver final : public TSamplerClass {
public:
    explicit TSDSDriver(jobs::Dispatcher& dispatcher);
    ~TSDSDriver() override;

    std::string errorText() const override;
    void setDoneEvent(std::function<void()> signal) override { done_ = std::move(signal); }
    void setSampleSource(slicing::TWaveSmoother* source) override { source_ = source; }
    void abort() override;
    void setSourceStream(const sample::TFileAndMemoryStream* stream) override { sourceStream_ = stream; }
    void setProfile(const SamplerProfile& profile) override { profile_ = profile; }
    void setSampleStore(sample::TFileAndMemoryStream* store) override { store_ = store; }
    void setStatusPanel(StatusSink status) override { status_ = std::move(status); }
    // The ports must outlive the driver (it closes them and clears their handlers when it goes).
    void setMidiPorts(midi::TMidiInput* input, midi::TMidiOutput* output) override;
    void clearError() override;
    std::vector<SamplerSampleEntry> copySampleList() const override { return {}; }
    bool hasError() const override;
    void checkDevice(Continuation continuation) override;
    void sendSample(const SendSampleArgs& args) override;
    // number < 100000: asks for that sample with a Dump Request; 100000 and up: waits for the
    // sampler to start a dump of sample (number - 100000).
    void receiveSample(int32_t number, ReceiveCompletion completion) override;

    void setTimeouts(const SdsTimeouts& timeouts) { timeouts_ = timeouts; }
    // A folder for the scratch file of a receive; empty keeps it in memory.
    void setScratchFolder(const std::string& folder) { scratchFolder_ = folder; }
    void setCapture(SdsCapture capture);
    void setLoop(uint32_t start, uint32_t end, uint8_t type);
    void clearLoop() { loopSet_ = false; }
    bool busy() const { return busy_; }
    SdsSendReport lastSend() const;

private:
    enum class Mode { Idle, Sending, Receiving };
    void onInput();
    void onOutputDone();
    void handleSendMessage(const std::vector<uint8_t>& message);
    void handleReceiveMessage(const std::vector<uint8_t>& message);
    void runSend();
    void runReceive(bool request, uint32_t number);
    void endSend();
    void endReceive();
    void refusePacket(uint8_t number);
    // Main thread: opens the ports a transfer needs; false (error set) when one cannot be opened.
    bool openPorts(bool input, bool output);
    void closePorts();
    // Any thread: records the first error and stops the transfer.
    void fail(const std::string& text);
    void failLocked(const std::string& text);
    // Send thread: the next message waits for an answer to packet `number` (header: 0).
    void beginAwait(uint8_t number, bool header);
    bool awaitAnswer(std::chrono::milliseconds timeout, const uint8_t* message, size_t size);
    void sendBlock(const uint8_t* data, size_t size);
    void reply(uint8_t sub, uint8_t packet);
    void status(const std::string& text);
    void sendProgress();
    uint8_t channelByte() const;
    void postToMain(void (TSDSDriver::*step)());

    jobs::Dispatcher& dispatcher_;
    SamplerProfile profile_;
    slicing::TWaveSmoother* source_ = nullptr;
    slicing::TWaveSmoother ownSource_;
    const sample::TFileAndMemoryStream* sourceStream_ = nullptr;
    sample::TFileAndMemoryStream* store_ = nullptr;
    StatusSink status_;
    std::function<void()> done_;
    midi::TMidiInput* input_ = nullptr;
    midi::TMidiOutput* output_ = nullptr;
    SdsTimeouts timeouts_;
    std::string scratchFolder_;
    bool loopSet_ = false;
    uint32_t loopStart_ = 0;
    uint32_t loopEnd_ = 0;
    uint8_t loopType_ = 0x7F;

    // Main thread only.
    Mode mode_ = Mode::Idle;
    bool busy_ = false;
    bool openLoop_ = false;
    SendSampleArgs args_;
    ReceiveCompletion completion_;
    std::unique_ptr<sample::TFileAndMemoryStream> scratch_;
    std::thread thread_;
    bool inputOpen_ = false;
    bool outputOpen_ = false;
    bool awaitingHeader_ = false;
    uint32_t remainingWords_ = 0;
    int lastGood_ = -1;
    int receiveNaks_ = 0;
    uint8_t expectedPacket_ = 0;
    uint32_t receiveRate_ = 0;
    uint32_t receiveWords_ = 0;
    slicing::TWaveSmoother* activeSource_ = nullptr;
    uint32_t totalPackets_ = 0;

    // Shared with the transfer threads, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool abort_ = false;
    bool errorFlag_ = false;
    std::string error_;
    bool answer_ = false;
    bool resend_ = false;
    bool hold_ = false;
    bool complete_ = false;
    uint64_t activity_ = 0;
    uint8_t awaited_ = 0;
    bool awaitHeader_ = false;
    int nakRun_ = 0;
    uint8_t lastPacketNumber_ = 0;
    SdsSendReport report_;

    std::mutex captureMutex_;
    SdsCapture capture_;
    std::shared_ptr<TSDSDriver*> alive_;
};

} // namespace cleavix::sampler::sds
