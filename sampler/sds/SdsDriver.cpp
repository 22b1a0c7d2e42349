#include "sampler/sds/SdsDriver.h"

#include "sample/WorkFiles.h"
#include "sampler/midi/MidiIn.h"
#include "sampler/midi/MidiOut.h"
#include "sampler/sds/SdsCodec.h"

#include <algorithm>
#include <cstdio>

namespace cleavix::sampler::sds {

namespace {

constexpr int kNakLimit = 10;

std::string percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string millis(std::chrono::milliseconds ms) { return std::to_string(ms.count()) + " ms"; }

} // namespace

TSDSDriver::TSDSDriver(jobs::Dispatcher& dispatcher)
    : dispatcher_(dispatcher), alive_(std::make_shared<TSDSDriver*>(this)) {}

TSDSDriver::~TSDSDriver() {
    {
        std::lock_guard lock(mutex_);
        abort_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    *alive_ = nullptr;
    closePorts();
}

void TSDSDriver::setMidiPorts(midi::TMidiInput* input, midi::TMidiOutput* output) {
    input_ = input;
    output_ = output;
}

void TSDSDriver::setCapture(SdsCapture capture) {
    std::lock_guard lock(captureMutex_);
    capture_ = std::move(capture);
}

void TSDSDriver::setLoop(uint32_t start, uint32_t end, uint8_t type) {
    loopSet_ = true;
    loopStart_ = start;
    loopEnd_ = end;
    loopType_ = type;
}

std::string TSDSDriver::errorText() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool TSDSDriver::hasError() const {
    std::lock_guard lock(mutex_);
    return errorFlag_;
}

SdsSendReport TSDSDriver::lastSend() const {
    std::lock_guard lock(mutex_);
    SdsSendReport report = report_;
    report.error = error_;
    report.aborted = abort_;
    return report;
}

void TSDSDriver::abort() { fail("Transfer aborted"); }

void TSDSDriver::clearError() {
    std::lock_guard lock(mutex_);
    abort_ = false;
    errorFlag_ = false;
    error_.clear();
}

void TSDSDriver::checkDevice(Continuation continuation) {
    if (continuation) {
        continuation();
    }
}

void TSDSDriver::fail(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        failLocked(text);
    }
    wake_.notify_all();
}

void TSDSDriver::failLocked(const std::string& text) {
    if (!errorFlag_) {
        error_ = text;
    }
    errorFlag_ = true;
    abort_ = true;
}

uint8_t TSDSDriver::channelByte() const {
    return uint8_t(std::clamp<int>(profile_.midiChannel, 1, 128) - 1);
}

void TSDSDriver::status(const std::string& text) {
    if (status_) {
        status_(text);
    }
}

void TSDSDriver::postToMain(void (TSDSDriver::*step)()) {
    std::weak_ptr<TSDSDriver*> weak = alive_;
    dispatcher_.post([weak, step] {
        if (auto alive = weak.lock(); alive && *alive) {
            ((*alive)->*step)();
        }
    });
}

bool TSDSDriver::openPorts(bool input, bool output) {
    try {
        if (input) {
            if (!input_) {
                fail("No MIDI input given to the sample dump driver");
                return false;
            }
            input_->setDeviceId(profile_.midiInput);
            if (input_->deviceId() != profile_.midiInput) {
                fail("MIDI input " + std::to_string(profile_.midiInput) + " is not installed");
                return false;
            }
            input_->OnMidiInput = [this] { onInput(); };
            input_->openDevice();
            inputOpen_ = true;
            input_->startInput();
        }
        if (output) {
            if (!output_) {
                fail("No MIDI output given to the sample dump driver");
                return false;
            }
            output_->setDeviceId(profile_.midiOutput);
            if (output_->deviceId() != profile_.midiOutput) {
                fail("MIDI output " + std::to_string(profile_.midiOutput) + " is not installed");
                return false;
            }
            output_->Onmidioutput = [this] { onOutputDone(); };
            output_->openDevice();
            outputOpen_ = true;
        }
    } catch (const std::exception& error) {
        fail(error.what());
        return false;
    }
    return true;
}

void TSDSDriver::closePorts() {
    try {
        if (inputOpen_ && input_) {
            input_->closeDevice();
            input_->OnMidiInput = nullptr;
        }
    } catch (const std::exception& error) {
        fail(error.what());
    }
    inputOpen_ = false;
    if (outputOpen_ && output_) {
        output_->closeDevice();
        output_->Onmidioutput = nullptr;
    }
    outputOpen_ = false;
}

void TSDSDriver::sendBlock(const uint8_t* data, size_t size) {
    {
        std::lock_guard lock(captureMutex_);
        if (capture_) {
            capture_('>', data, size);
        }
    }
    output_->sendLong(data, size);
}

void TSDSDriver::reply(uint8_t sub, uint8_t packet) {
    if (!outputOpen_) {
        return;
    }
    const auto message = encodeHandshake(sub, channelByte(), packet);
    try {
        sendBlock(message.data(), message.size());
    } catch (const std::exception& error) {
        fail(error.what());
    }
}

// ---- sending ----

void TSDSDriver::sendSample(const SendSampleArgs& args) {
    if (busy_) {
        // One transfer at a time: this request ends at once, as a failure, without touching the
        // transfer that runs.
        if (args.fromFile && args.next) {
            dispatcher_.post(args.next);
        }
        return;
    }
    args_ = args;
    busy_ = true;
    mode_ = Mode::Sending;
    openLoop_ = profile_.openLoop != 0;
    {
        std::lock_guard lock(mutex_);
        abort_ = false;
        errorFlag_ = false;
        error_.clear();
        answer_ = resend_ = hold_ = complete_ = false;
        report_ = {};
    }
    activeSource_ = source_ ? source_ : &ownSource_;
    slicing::TWaveSmoother::Settings settings = activeSource_->settings();
    settings.input = args.fromFile ? sourceStream_ : store_;
    settings.start = args.start;
    settings.length = args.length;
    settings.lengthPerChannel = true;
    const bool stereo = args.channels == 2;
    settings.channels = (stereo && args.keepStereo) ? 2 : 1;
    settings.step = (stereo && !args.keepStereo) ? 2 : 1;
    settings.inputOrder = args.bigEndian ? slicing::ByteOrder::Big : slicing::ByteOrder::Little;
    settings.outputOrder = slicing::ByteOrder::Little;
    settings.inputBits = args.bits == 8 ? 8 : 16;
    settings.blockBytes = 4096;
    std::string refusal;
    if (settings.input == nullptr) {
        refusal = "Nothing to send: no sample source";
    } else {
        activeSource_->configure(settings);
        // Two channels kept go out as their mix, one value per frame: the header counts those.
        const uint64_t words = activeSource_->channelBytes() / 2;
        refusal = checkSendable(args.sampleRate, words, args.sampleNumber);
        std::lock_guard lock(mutex_);
        report_.lengthWords = uint32_t(std::min<uint64_t>(words, UINT32_MAX));
        report_.period = periodForRate(args.sampleRate);
    }
    totalPackets_ = (report_.lengthWords + uint32_t(kWordsPerPacket) - 1) / uint32_t(kWordsPerPacket);
    if (!refusal.empty()) {
        fail(refusal);
        postToMain(&TSDSDriver::endSend);
        return;
    }
    if (!openPorts(!openLoop_, true)) {
        postToMain(&TSDSDriver::endSend);
        return;
    }
    status(args_.single ? "Sending: 0.00%" : "Sending # " + std::to_string(args_.displayNumber) + ": 0.00%");
    thread_ = std::thread([this] { runSend(); });
}

void TSDSDriver::beginAwait(uint8_t number, bool header) {
    std::lock_guard lock(mutex_);
    awaitHeader_ = header;
    answer_ = false;
    resend_ = false;
    hold_ = false;
    nakRun_ = 0;
    awaited_ = number;
}

bool TSDSDriver::awaitAnswer(std::chrono::milliseconds timeout, const uint8_t* message, size_t size) {
    std::unique_lock lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (abort_) {
            return false;
        }
        if (resend_) {
            resend_ = false;
            ++report_.resends;
            lock.unlock();
            sendBlock(message, size);
            lock.lock();
            deadline = std::chrono::steady_clock::now() + timeout;
            continue;
        }
        if (answer_) {
            return true;
        }
        if (hold_) {
            // WAIT: no time-out until the sampler's next message; abort still ends it.
            wake_.wait(lock);
            deadline = std::chrono::steady_clock::now() + timeout;
            continue;
        }
        if (wake_.wait_until(lock, deadline) == std::cv_status::timeout && !abort_ && !answer_ && !resend_ &&
            !hold_) {
            failLocked("No answer from the sampler within " + millis(timeout));
            return false;
        }
    }
}

void TSDSDriver::runSend() {
    uint8_t number = 0;
    try {
        DumpHeader header;
        header.channel = channelByte();
        header.sampleNumber = uint32_t(args_.sampleNumber);
        header.bits = 16;
        header.periodNs = periodForRate(args_.sampleRate);
        header.lengthWords = report_.lengthWords;
        header.loopStart = loopSet_ ? std::min(loopStart_, header.lengthWords) : 0;
        header.loopEnd = loopSet_ ? std::min(loopEnd_, header.lengthWords) : header.lengthWords;
        header.loopType = loopSet_ ? loopType_ : kLoopOff;
        const Header bytes = encodeHeader(header);
        beginAwait(0, true);
        sendBlock(bytes.data(), bytes.size());
        if (awaitAnswer(timeouts_.header, bytes.data(), bytes.size())) {
            const bool mix = activeSource_->settings().channels == 2;
            uint32_t left = header.lengthWords;
            std::vector<int16_t> frames(kWordsPerPacket * 2);
            int16_t values[kWordsPerPacket];
            while (left > 0) {
                const size_t count = std::min<size_t>(left, kWordsPerPacket);
                const size_t want = count * (mix ? 2 : 1);
                const size_t got = activeSource_->read(frames.data(), want);
                std::fill(frames.begin() + std::ptrdiff_t(got), frames.begin() + std::ptrdiff_t(want), int16_t(0));
                for (size_t i = 0; i < count; ++i) {
                    values[i] = mix ? int16_t((int(frames[2 * i]) + int(frames[2 * i + 1])) / 2) : frames[i];
                }
                const Packet packet = encodePacket(header.channel, number, values, count);
                beginAwait(number, false);
                sendBlock(packet.data(), packet.size());
                if (!awaitAnswer(timeouts_.packet, packet.data(), packet.size())) {
                    break;
                }
                left -= uint32_t(count);
                number = uint8_t((number + 1) & 0x7F);
            }
        }
    } catch (const std::exception& error) {
        fail(error.what());
    }
    bool aborted = false;
    {
        std::lock_guard lock(mutex_);
        aborted = abort_;
    }
    if (aborted) {
        try {
            const auto cancel = encodeHandshake(kSubCancel, channelByte(), number);
            sendBlock(cancel.data(), cancel.size());
        } catch (const std::exception&) { // NOLINT(bugprone-empty-catch): the port already failed
        }
    }
    postToMain(&TSDSDriver::endSend);
}

void TSDSDriver::sendProgress() {
    uint32_t sent = 0;
    {
        std::lock_guard lock(mutex_);
        sent = report_.packets;
    }
    const double x = totalPackets_ == 0 ? 100.0 : 100.0 * double(sent) / double(totalPackets_);
    status(args_.single ? "Sending: " + percent(x) + "%"
                        : "Sending # " + std::to_string(args_.displayNumber) + ": " + percent(x) + "%");
}

void TSDSDriver::handleSendMessage(const std::vector<uint8_t>& message) {
    const auto handshake = decodeHandshake(message.data(), message.size());
    if (!handshake || handshake->channel != channelByte()) {
        return; // other system-exclusive traffic on the line
    }
    std::string shown;
    bool progress = false;
    {
        std::lock_guard lock(mutex_);
        switch (handshake->sub) {
        case kSubAck:
            hold_ = false;
            // Only the answer to the message just sent counts; a late or stray ACK does not.
            if (handshake->packet == awaited_ && !answer_) {
                answer_ = true;
                if (!awaitHeader_) {
                    ++report_.packets;
                    progress = handshake->packet % 5 == 0 || report_.packets == totalPackets_;
                }
            }
            break;
        case kSubNak:
            hold_ = false;
            if (handshake->packet == awaited_ && !answer_) {
                ++report_.naks;
                if (++nakRun_ >= kNakLimit) {
                    failLocked("The sampler refused packet " + std::to_string(awaited_) + " ten times");
                } else {
                    resend_ = true; // the send thread resends; the packet it fills stays its own
                    shown = "Resending packet " + std::to_string(awaited_);
                }
            }
            break;
        case kSubWait:
            hold_ = true;
            ++report_.waits;
            break;
        case kSubCancel:
            failLocked("The sampler cancelled the transfer");
            break;
        default: break;
        }
    }
    wake_.notify_all();
    if (!shown.empty()) {
        status(shown);
    }
    if (progress) {
        sendProgress();
    }
}

void TSDSDriver::onOutputDone() {
    if (mode_ != Mode::Sending || !openLoop_) {
        return;
    }
    bool progress = false;
    {
        std::lock_guard lock(mutex_);
        if (answer_) {
            return; // the completion of a CANCEL or of a block already answered
        }
        answer_ = true;
        if (!awaitHeader_) {
            ++report_.packets;
            progress = report_.packets % 5 == 0 || report_.packets == totalPackets_;
        }
    }
    wake_.notify_all();
    if (progress) {
        sendProgress();
    }
}

void TSDSDriver::endSend() {
    if (thread_.joinable()) {
        thread_.join();
    }
    closePorts();
    status("Inactive");
    mode_ = Mode::Idle;
    busy_ = false;
    // A send from a file always ends its batch step, also when it failed; hasError() says which.
    if (args_.fromFile) {
        if (args_.next) {
            args_.next();
        }
    } else if (done_) {
        done_();
    }
}

// ---- receiving ----

void TSDSDriver::receiveSample(int32_t number, ReceiveCompletion completion) {
    if (busy_) {
        dispatcher_.post([completion] {
            if (completion) {
                completion(ReceivedSample{0, 0, 0, "A transfer is already running"});
            }
        });
        return;
    }
    busy_ = true;
    mode_ = Mode::Receiving;
    openLoop_ = profile_.openLoop != 0;
    completion_ = std::move(completion);
    const bool request = number >= 0 && number < 100000;
    const int64_t sampleNumber = request ? number : int64_t(number) - 100000;
    {
        std::lock_guard lock(mutex_);
        abort_ = false;
        errorFlag_ = false;
        error_.clear();
        answer_ = resend_ = hold_ = complete_ = false;
        activity_ = 0;
        lastPacketNumber_ = 0;
    }
    awaitingHeader_ = true;
    remainingWords_ = 0;
    receiveWords_ = 0;
    receiveRate_ = 0;
    lastGood_ = -1;
    expectedPacket_ = 0;
    receiveNaks_ = 0;
    const std::string refusal = checkSampleNumber(sampleNumber);
    if (!refusal.empty()) {
        fail(refusal);
        postToMain(&TSDSDriver::endReceive);
        return;
    }
    try {
        scratch_ = scratchFolder_.empty() ? std::make_unique<sample::TFileAndMemoryStream>()
                                          : sample::createWorkFile(scratchFolder_, sample::kStorePrefix);
    } catch (const std::exception& error) {
        fail(error.what());
        postToMain(&TSDSDriver::endReceive);
        return;
    }
    // The Dump Request needs the output even in open loop.
    if (!openPorts(true, request || !openLoop_)) {
        postToMain(&TSDSDriver::endReceive);
        return;
    }
    status("Waiting...");
    thread_ = std::thread([this, request, sampleNumber] { runReceive(request, uint32_t(sampleNumber)); });
}

void TSDSDriver::runReceive(bool request, uint32_t number) {
    try {
        if (request) {
            const auto message = encodeRequest(channelByte(), number);
            sendBlock(message.data(), message.size());
        }
        std::unique_lock lock(mutex_);
        uint64_t seen = activity_;
        auto deadline = std::chrono::steady_clock::now() + timeouts_.receive;
        while (!abort_ && !complete_) {
            if (wake_.wait_until(lock, deadline) == std::cv_status::timeout && !abort_ && !complete_) {
                if (activity_ == seen) {
                    failLocked(seen == 0 ? "No dump from the sampler within " + millis(timeouts_.receive)
                                         : "The dump stopped: nothing for " + millis(timeouts_.receive));
                    break;
                }
            }
            if (activity_ != seen) {
                seen = activity_;
                deadline = std::chrono::steady_clock::now() + timeouts_.receive;
            }
        }
    } catch (const std::exception& error) {
        fail(error.what());
    }
    bool aborted = false;
    uint8_t next = 0;
    {
        std::lock_guard lock(mutex_);
        aborted = abort_ && !complete_;
        next = uint8_t((lastPacketNumber_ + 1) & 0x7F);
    }
    if (aborted && outputOpen_) {
        try {
            const auto cancel = encodeHandshake(kSubCancel, channelByte(), next);
            sendBlock(cancel.data(), cancel.size());
        } catch (const std::exception&) { // NOLINT(bugprone-empty-catch): the port already failed
        }
    }
    postToMain(&TSDSDriver::endReceive);
}

void TSDSDriver::handleReceiveMessage(const std::vector<uint8_t>& message) {
    if (message.size() < 5 || message[0] != 0xF0 || message[1] != 0x7E || message[2] != channelByte()) {
        return;
    }
    if (complete_) {
        return; // extra packets after the length are ignored
    }
    const uint8_t sub = message[3];
    if (sub == kSubCancel && decodeHandshake(message.data(), message.size())) {
        fail("The sampler cancelled the transfer");
        return;
    }
    if (awaitingHeader_) {
        if (sub != kSubHeader) {
            return;
        }
        const auto header = decodeHeader(message.data(), message.size());
        if (!header) {
            return;
        }
        if (header->bits != 16) {
            fail("Incorrect sample format (must be 16 bit!)");
            return;
        }
        if (header->periodNs == 0) {
            fail("The dump header gives a sample period of 0");
            return;
        }
        if (header->lengthWords == 0) {
            fail("The dump header gives a sample length of 0");
            return;
        }
        awaitingHeader_ = false;
        receiveRate_ = rateForPeriod(header->periodNs);
        receiveWords_ = header->lengthWords;
        remainingWords_ = header->lengthWords;
        {
            std::lock_guard lock(mutex_);
            ++activity_;
        }
        wake_.notify_all();
        if (!openLoop_) {
            reply(kSubAck, 0);
        }
        return;
    }
    if (sub != kSubPacket) {
        return;
    }
    const size_t samples = std::min<size_t>(remainingWords_, kWordsPerPacket);
    const PacketView view = checkPacket(message.data(), message.size(), samples);
    const bool framed = view.fault == PacketFault::None || view.fault == PacketFault::Checksum;
    const uint8_t number = framed ? view.number : uint8_t(message[4] & 0x7F);
    {
        std::lock_guard lock(mutex_);
        ++activity_;
    }
    wake_.notify_all();
    if (!framed) {
        refusePacket(number);
        return;
    }
    if (number != expectedPacket_) {
        if (int(number) == lastGood_) {
            if (!openLoop_) {
                reply(kSubAck, number); // our ACK was lost: say it again, keep the data once
            }
        } else {
            refusePacket(number);
        }
        return;
    }
    if (view.fault == PacketFault::Checksum && !openLoop_) {
        refusePacket(number);
        return;
    }
    receiveNaks_ = 0;
    uint8_t bytes[kWordsPerPacket * 2];
    for (size_t i = 0; i < samples; ++i) {
        const auto value = uint16_t(decodeSample(&message[5 + 3 * i]));
        bytes[2 * i] = uint8_t(value);
        bytes[2 * i + 1] = uint8_t(value >> 8);
    }
    try {
        scratch_->writeAll(bytes, samples * 2);
    } catch (const std::exception& error) {
        fail(error.what());
        return;
    }
    remainingWords_ -= uint32_t(samples);
    lastGood_ = number;
    expectedPacket_ = uint8_t((number + 1) & 0x7F);
    {
        std::lock_guard lock(mutex_);
        lastPacketNumber_ = number;
        complete_ = remainingWords_ == 0;
    }
    wake_.notify_all();
    if (!openLoop_) {
        reply(kSubAck, number);
    }
    if (number % 5 == 0 && receiveWords_ > 0) {
        const double y = 100.0 * double(receiveWords_ - remainingWords_) / double(receiveWords_);
        status("Receiving: " + percent(y) + "%");
    }
}

void TSDSDriver::refusePacket(uint8_t number) {
    status("Error in packet:" + std::to_string(number));
    if (openLoop_) {
        return;
    }
    // A sender that keeps sending what we refuse would otherwise hold the line for ever.
    if (++receiveNaks_ >= kNakLimit) {
        fail("Packet " + std::to_string(number) + " arrived damaged or out of order ten times");
        return;
    }
    reply(kSubNak, number);
}

void TSDSDriver::endReceive() {
    if (thread_.joinable()) {
        thread_.join();
    }
    closePorts();
    status("Inactive");
    bool ok = false;
    {
        std::lock_guard lock(mutex_);
        ok = complete_ && !errorFlag_;
    }
    ReceivedSample result;
    if (ok && store_ != nullptr) {
        try {
            // Only now does the received audio replace what the target held.
            store_->seek(0);
            store_->setSize(0);
            scratch_->seek(0);
            store_->copyFrom(*scratch_, scratch_->size());
        } catch (const std::exception& error) {
            fail(error.what());
            ok = false;
        }
    }
    if (ok) {
        result = {1, receiveRate_, receiveWords_ * 2, {}};
    } else {
        result.error = errorText();
    }
    if (scratch_) {
        sample::ReleaseWorkFile(scratch_);
    }
    mode_ = Mode::Idle;
    busy_ = false;
    auto completion = std::move(completion_);
    completion_ = nullptr;
    if (completion) {
        completion(result);
    }
}

// ---- the handler ----

void TSDSDriver::onInput() {
    while (input_ && input_->isOpen()) {
        auto event = input_->readEvent();
        if (!event) {
            break;
        }
        if (event->sysex.empty() || event->damaged) {
            continue;
        }
        {
            std::lock_guard lock(captureMutex_);
            if (capture_) {
                capture_('<', event->sysex.data(), event->sysex.size());
            }
        }
        if (mode_ == Mode::Sending) {
            handleSendMessage(event->sysex);
        } else if (mode_ == Mode::Receiving) {
            handleReceiveMessage(event->sysex);
        }
    }
}

} // namespace cleavix::sampler::sds
