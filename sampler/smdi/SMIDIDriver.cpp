#include "sampler/smdi/SMIDIDriver.h"

#include "sample/FileAndMemoryStream.h"

#include <algorithm>
#include <cstdio>

namespace cleavix::sampler::smdi {

namespace {

std::string twoDecimals(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::clamp(value, 0.0, 100.0));
    return text;
}

bool failedPoll(const scsi::Completion& c) {
    if (c.completed) {
        return false;
    }
    if (c.timedOut || c.systemError != 0 || c.hostStatus != scsi::host_status::kOk) {
        return true;
    }
    // Busy, or not ready yet: poll again. Any other condition is a failing unit.
    if (c.targetStatus == scsi::target_status::kBusy) {
        return false;
    }
    return !(c.targetStatus == scsi::target_status::kCheckCondition &&
             scsi::senseKeyOf(c.sense, c.senseLength) == scsi::sense_key::kNotReady);
}

} // namespace

TSMIDIDriver::TSMIDIDriver(scsi::ScsiLayer& layer, jobs::Dispatcher& dispatcher)
    : TSMIDIDriver(layer, dispatcher, Options{}) {}

TSMIDIDriver::TSMIDIDriver(scsi::ScsiLayer& layer, jobs::Dispatcher& dispatcher, Options options)
    : layer_(layer), dispatcher_(dispatcher), options_(options) {}

TSMIDIDriver::~TSMIDIDriver() {
    {
        std::lock_guard lock(timerMutex_);
        timerStop_ = true;
    }
    timerWake_.notify_all();
    if (timer_.joinable()) {
        timer_.join();
    }
    alive_.reset();
}

void TSMIDIDriver::setMidiPorts(midi::TMidiInput* /*input*/, midi::TMidiOutput* output) { output_ = output; }

void TSMIDIDriver::abort() {
    error_ = true;
    aborted_ = true;
    errorText_ = kAborted;
}

void TSMIDIDriver::clearError() {
    error_ = false;
    aborted_ = false;
    errorText_.clear();
}

std::vector<SamplerSampleEntry> TSMIDIDriver::copySampleList() const {
    std::vector<SamplerSampleEntry> out;
    for (size_t n = 0; n < table_.size(); ++n) {
        const auto& e = table_[n];
        if (e.filled) {
            out.push_back({int32_t(n), e.name, e.totalWords, e.sampleRate, e.channels});
        }
    }
    return out;
}

void TSMIDIDriver::status(const std::string& text) const {
    if (status_) {
        status_(text);
    }
}

void TSMIDIDriver::begin(State state, std::function<void()> end) {
    if (state_ != State::Idle) {
        // One exchange at a time: the new operation ends at once as a failure, the running one
        // goes on with its own error state untouched.
        dispatcher_.post([this, alive = std::weak_ptr<int>(alive_), end = std::move(end)] {
            if (alive.expired() || !end) {
                return;
            }
            const bool error = error_;
            const std::string text = errorText_;
            error_ = true;
            errorText_ = kBusy;
            end();
            error_ = error;
            errorText_ = text;
        });
        return;
    }
    state_ = state;
    end_ = std::move(end);
    ++generation_;
    waitStarted_.reset();
}

void TSMIDIDriver::fail(const std::string& text) {
    if (state_ == State::Idle) {
        return;
    }
    error_ = true;
    errorText_ = aborted_ ? kAborted : text;
    finish();
}

void TSMIDIDriver::finish() {
    state_ = State::Idle;
    ++generation_;
    waitStarted_.reset();
    {
        std::lock_guard lock(timerMutex_);
        timerStep_ = nullptr;
    }
    scratch_.discard();
    status("Inactive");
    auto end = std::move(end_);
    end_ = nullptr;
    if (end) {
        end();
    }
}

scsi::Request TSMIDIDriver::request(scsi::Direction direction, const scsi::Cdb& cdb, uint8_t* buffer,
                                    uint32_t length) const {
    scsi::Request r;
    r.adaptor = adaptorOverride_ >= 0 ? adaptorOverride_ : profile_.scsiAdaptor;
    r.target = profile_.scsiDevice;
    r.direction = direction;
    r.cdb = cdb;
    r.buffer = buffer;
    r.length = length;
    r.timeout = options_.commandTimeout;
    return r;
}

void TSMIDIDriver::issue(const scsi::Request& r, CompletionStep next) {
    layer_.execute(r, [this, alive = std::weak_ptr<int>(alive_), generation = generation_,
                       next = std::move(next)](const scsi::Completion& done) {
        if (alive.expired() || generation != generation_ || state_ == State::Idle) {
            return;
        }
        if (aborted_ && state_ != State::Aborting) {
            userAbort();
            return;
        }
        next(done);
    });
}

void TSMIDIDriver::command(scsi::Direction direction, uint8_t operation, uint8_t* buffer, uint32_t length,
                           CompletionStep next) {
    const auto cdb = scsi::makeCdb(operation, length);
    if (!cdb || length > options_.adaptorLimit) {
        fail(kCommunicationError);
        return;
    }
    issue(request(direction, *cdb, buffer, length), std::move(next));
}

void TSMIDIDriver::exchange(std::vector<uint8_t> message, uint32_t answerLength, AnswerHandler next) {
    out_ = std::move(message);
    command(scsi::Direction::Out, scsi::op::kSend, out_.data(), uint32_t(out_.size()),
            [this, answerLength, next = std::move(next)](const scsi::Completion& done) {
                if (!done.completed) {
                    fail(state_ == State::Aborting ? kAborted : scsi::communicationErrorText(done));
                    return;
                }
                receiveAnswer(answerLength, next);
            });
}

void TSMIDIDriver::receiveAnswer(uint32_t answerLength, AnswerHandler next) {
    answerLength = std::min(answerLength, options_.adaptorLimit);
    in_.assign(answerLength, 0);
    command(scsi::Direction::In, scsi::op::kReceive, in_.data(), answerLength,
            [this, answerLength, next = std::move(next)](const scsi::Completion& done) {
                if (!done.completed) {
                    fail(state_ == State::Aborting ? kAborted : scsi::communicationErrorText(done));
                    return;
                }
                const std::span<const uint8_t> answer(in_.data(), std::min<size_t>(done.transferred, in_.size()));
                if (state_ != State::Aborting && isMessage(answer, id::kWait)) {
                    poll(answerLength, next);
                    return;
                }
                waitStarted_.reset();
                next(answer);
            });
}

// After a Wait: TEST UNIT READY until the unit is no longer busy, then RECEIVE the real answer.
// The whole wait, however many Wait answers it takes, is held to the wait limit.
void TSMIDIDriver::poll(uint32_t answerLength, AnswerHandler next) {
    const auto now = std::chrono::steady_clock::now();
    if (!waitStarted_) {
        waitStarted_ = now;
    } else if (now - *waitStarted_ > options_.waitLimit) {
        fail(kCommunicationError);
        return;
    }
    status("Waiting...");
    issue(request(scsi::Direction::None, scsi::testUnitReadyCdb(), nullptr, 0),
          [this, answerLength, next = std::move(next)](const scsi::Completion& done) {
              if (failedPoll(done)) {
                  fail(scsi::communicationErrorText(done));
                  return;
              }
              if (done.completed) {
                  receiveAnswer(answerLength, next);
                  return;
              }
              pauseThen([this, answerLength, next] { poll(answerLength, next); });
          });
}

void TSMIDIDriver::pauseThen(std::function<void()> step) {
    std::lock_guard lock(timerMutex_);
    timerDue_ = std::chrono::steady_clock::now() + options_.pollInterval;
    timerStep_ = [this, alive = std::weak_ptr<int>(alive_), generation = generation_, step = std::move(step)] {
        if (alive.expired() || generation != generation_ || state_ == State::Idle) {
            return;
        }
        if (aborted_) {
            userAbort();
            return;
        }
        step();
    };
    if (!timer_.joinable()) {
        timer_ = std::thread([this] {
            std::unique_lock guard(timerMutex_);
            while (!timerStop_) {
                if (!timerStep_) {
                    timerWake_.wait(guard);
                    continue;
                }
                if (timerWake_.wait_until(guard, timerDue_) == std::cv_status::timeout && timerStep_ &&
                    std::chrono::steady_clock::now() >= timerDue_) {
                    auto due = std::move(timerStep_);
                    timerStep_ = nullptr;
                    dispatcher_.post(std::move(due));
                }
            }
        });
    }
    timerWake_.notify_all();
}

void TSMIDIDriver::userAbort() {
    switch (state_) {
    case State::SendHeader:
    case State::SendBegin:
    case State::SendPackets:
    case State::RecvBegin:
    case State::RecvPackets: abortProcedure(false); break;
    case State::Aborting:
    case State::Idle: break;
    default: fail(kAborted); break;
    }
}

// Our Abort Procedure and its answer, whatever it is, then the end with "Operation aborted!".
void TSMIDIDriver::abortProcedure(bool samplerAborted) {
    if (samplerAborted) {
        errorText_ = kAborted;
    }
    state_ = State::Aborting;
    exchange(smdi::abortProcedure(), uint32_t(kHeaderBytes), [this](std::span<const uint8_t>) { fail(kAborted); });
}

uint32_t TSMIDIDriver::adaptorData() const {
    return options_.adaptorLimit > kHeaderBytes + 3 ? options_.adaptorLimit - uint32_t(kHeaderBytes + 3) : 0;
}

uint32_t TSMIDIDriver::receiveLimit() const { return std::min(kReceivePacket, adaptorData()) & ~1u; }

void TSMIDIDriver::soon(std::function<void()> step) {
    dispatcher_.post([this, alive = std::weak_ptr<int>(alive_), generation = generation_, step = std::move(step)] {
        if (!alive.expired() && generation == generation_) {
            step();
        }
    });
}

void TSMIDIDriver::refuse(const std::string& text) {
    soon([this, text] { fail(text); });
}

// ---- identification -----------------------------------------------------------------------

void TSMIDIDriver::checkDevice(Continuation continuation) {
    begin(State::Identify, std::move(continuation));
    if (state_ != State::Identify) {
        return;
    }
    inquiry_.reset();
    in_.assign(scsi::kInquiryLength, 0);
    issue(request(scsi::Direction::In, scsi::inquiryCdb(scsi::kInquiryLength), in_.data(), uint32_t(in_.size())),
          [this](const scsi::Completion& done) { onInquiry(done); });
}

void TSMIDIDriver::onInquiry(const scsi::Completion& done) {
    if (done.completed) {
        inquiry_ = scsi::parseInquiry(std::span<const uint8_t>(in_.data(), std::min<size_t>(done.transferred, in_.size())));
    }
    if (!done.completed || !inquiry_ || inquiry_->peripheralType != scsi::kProcessorDevice) {
        fail(done.completed ? std::string(kCommunicationError) : scsi::communicationErrorText(done));
        return;
    }
    exchange(masterIdentify(), uint32_t(kHeaderBytes), [this](std::span<const uint8_t> answer) {
        if (isMessage(answer, id::kIdentify, 1)) {
            finish();
            return;
        }
        fail(hasTag(answer) ? kCommunicationError : kNotCompliant);
    });
}

// ---- sending --------------------------------------------------------------------------------

void TSMIDIDriver::sendSample(const SendSampleArgs& args) {
    // The end keeps its own copies: a send refused while another runs must not touch that one.
    begin(State::SendHeader, [this, fromFile = args.fromFile, next = args.next, finished = args.finished] {
        if (fromFile) {
            // A failed or aborted batch step ends the batch; a good one goes on with the next file.
            if (error_ && finished) {
                finished();
            } else if (next) {
                next();
            }
        } else if (doneEvent_) {
            doneEvent_();
        }
    });
    if (state_ != State::SendHeader) {
        return;
    }
    send_ = args;
    bytesSent_ = 0;
    packetCounter_ = 0;
    packetLength_ = 0;
    resends_ = 0;
    keptPacket_.clear();

    const sample::TFileAndMemoryStream* input = args.fromFile ? sourceStream_ : store_;
    if (!input || args.sampleNumber < 0 || args.sampleRate == 0) {
        refuse(kCommunicationError);
        return;
    }
    const bool stereo = args.channels == 2;
    const int channels = stereo && args.keepStereo ? 2 : 1;
    if (!source_ && !ownSource_) {
        ownSource_ = std::make_unique<slicing::TWaveSmoother>();
    }
    active_ = source_ ? source_ : ownSource_.get();
    slicing::TWaveSmoother::Settings settings;
    settings.input = input;
    settings.start = args.start;
    settings.length = args.length;
    settings.lengthPerChannel = true;
    settings.channels = channels;
    settings.step = stereo && !args.keepStereo ? 2 : 1;
    settings.inputOrder = args.bigEndian ? slicing::ByteOrder::Big : slicing::ByteOrder::Little;
    // SMDI carries words most significant byte first: packets go out as the source delivers them.
    settings.outputOrder = slicing::ByteOrder::Big;
    settings.inputBits = args.bits == 8 ? 8 : 16;
    settings.blockBytes = 4096;
    settings.level = smoothingLevel_;
    active_->configure(settings);
    totalBytes_ = active_->outputBytes() & ~uint64_t(1);
    const uint64_t words = active_->channelBytes() / 2;
    if (words == 0 || words > 0xFFFFFFFFull || totalBytes_ > 0xFFFFFFFFull) {
        refuse(words == 0 ? "The sample is empty" : "The sample is too large for the sampler");
        return;
    }
    lengthWords_ = uint32_t(words);

    SampleHeader header;
    header.number = uint32_t(args.sampleNumber);
    // The source always delivers 16-bit words (8-bit files are widened), so the header says 16.
    header.bits = 16;
    header.channels = uint8_t(channels);
    header.periodNs = periodOfRate(args.sampleRate);
    header.lengthWords = lengthWords_;
    header.loopStart = 0;
    header.loopEnd = lengthWords_ - 1;
    if (isEmu() && args.rootKey != 0) {
        header.keys = KeyRangeBytes{std::min<uint8_t>(args.rootKey, 127), std::min<uint8_t>(args.lowKey, 127),
                                    std::min<uint8_t>(args.highKey, 127)};
    }
    header.name = args.name;
    exchange(sampleHeader(header), uint32_t(kHeaderBytes + 6), [this](std::span<const uint8_t> answer) { onSendAck(answer); });
}

void TSMIDIDriver::onSendAck(std::span<const uint8_t> answer) {
    const auto ack = parseBeginTransferAck(answer);
    if (!ack || ack->sampleNumber != uint32_t(send_.sampleNumber)) {
        fail(kCommunicationError);
        return;
    }
    uint32_t length = ack->packetLength;
    if (isEmu()) {
        length = kEmuPacket;
    } else {
        // A length of 0 would never move a byte; words go in pairs, so odd lengths round down.
        length = std::min({length, kMaxSendPacket, adaptorData()}) & ~3u;
        if (length == 0) {
            fail(kCommunicationError);
            return;
        }
    }
    packetLength_ = length;
    state_ = State::SendBegin;
    exchange(beginSampleTransfer(uint32_t(send_.sampleNumber), packetLength_), uint32_t(kHeaderBytes + 3),
             [this](std::span<const uint8_t> a) { onSendAnswer(a); });
}

void TSMIDIDriver::onSendAnswer(std::span<const uint8_t> answer) {
    if (const auto asked = parseSendNextPacket(answer)) {
        if (*asked == packetCounter_ && bytesSent_ < totalBytes_) {
            sendPacket(*asked, false);
        } else if (packetCounter_ > 0 && *asked == packetCounter_ - 1 && ++resends_ <= kMaxResends) {
            sendPacket(*asked, true);
        } else {
            fail(kCommunicationError);
        }
        return;
    }
    if (isMessage(answer, id::kEndOfProcedure)) {
        if (bytesSent_ < totalBytes_) {
            fail(kCommunicationError); // the sampler stopped before the sample was whole
            return;
        }
        finish();
        return;
    }
    if (isMessage(answer, id::kAbortProcedure)) {
        abortProcedure(true);
        return;
    }
    fail(kCommunicationError);
}

void TSMIDIDriver::sendPacket(uint32_t number, bool resend) {
    state_ = State::SendPackets;
    if (!resend) {
        const auto size = uint32_t(std::min<uint64_t>(packetLength_, totalBytes_ - bytesSent_));
        keptPacket_.assign(size, 0);
        const size_t values = active_->read(reinterpret_cast<int16_t*>(keptPacket_.data()), size / 2);
        if (values != size / 2) {
            fail("Error reading the sample to send");
            return;
        }
        const bool full = size == packetLength_;
        const std::string x = full ? twoDecimals(double(packetCounter_) * packetLength_ / double(totalBytes_) * 100.0)
                                   : std::string("100");
        if (!send_.single || send_.fromFile) {
            if (full) {
                status("Sending # " + std::to_string(send_.displayNumber) + ": " + x + "%");
            }
        } else {
            status("Sending: " + x + "%");
        }
        ++packetCounter_;
        bytesSent_ += size;
        resends_ = 0;
    }
    exchange(dataPacket(number, keptPacket_), uint32_t(kHeaderBytes + 3), [this](std::span<const uint8_t> a) { onSendAnswer(a); });
}

// ---- receiving ------------------------------------------------------------------------------

void TSMIDIDriver::receiveSample(int32_t number, ReceiveCompletion completion) {
    begin(State::RecvHeader, [this, completion = std::move(completion)] {
        ReceivedSample result;
        if (!error_) {
            result = {header_.channels, rate_, uint32_t(expected_), {}};
        } else {
            result.error = errorText_;
        }
        if (completion) {
            completion(result);
        }
    });
    if (state_ != State::RecvHeader) {
        return;
    }
    receivedName_.clear();
    received_ = 0;
    expected_ = 0;
    packetCounter_ = 0;
    if (number < 0 || !store_) {
        refuse(number < 0 ? kOutOfRange : kCommunicationError);
        return;
    }
    // The scratch working file first: without it nothing can be received.
    if (const auto refusal = scratch_.open(scratchDirectory_, "cleavix-smdi-"); !refusal.empty()) {
        refuse(refusal);
        return;
    }
    number_ = uint32_t(number);
    exchange(sampleHeaderRequest(number_), uint32_t(kHeaderBytes + kKeyRangeHeaderLength),
             [this](std::span<const uint8_t> answer) { onReceiveHeader(answer); });
}

void TSMIDIDriver::onReceiveHeader(std::span<const uint8_t> answer) {
    const auto header = parseSampleHeader(answer);
    if (!header || header->number != number_ || !checkReceivedHeader(*header).empty() || header->lengthWords == 0) {
        fail(kOutOfRange);
        return;
    }
    header_ = *header;
    receivedName_ = header_.name;
    expected_ = uint64_t(header_.lengthWords) * header_.channels * 2;
    rate_ = rateOfPeriod(header_.periodNs);
    fillTable(number_, header_);
    state_ = State::RecvBegin;
    exchange(beginSampleTransfer(number_, receiveLimit()), uint32_t(kHeaderBytes + 6),
             [this](std::span<const uint8_t> a) { onReceiveAck(a); });
}

void TSMIDIDriver::onReceiveAck(std::span<const uint8_t> answer) {
    const auto ack = parseBeginTransferAck(answer);
    if (!ack || ack->sampleNumber != number_) {
        if (isMessage(answer, id::kAbortProcedure)) {
            abortProcedure(true);
            return;
        }
        fail(kCommunicationError);
        return;
    }
    // Packets longer than our buffer could not arrive whole; words go in pairs of bytes.
    packetLength_ = std::min(ack->packetLength, receiveLimit()) & ~1u;
    if (packetLength_ == 0) {
        fail(kCommunicationError);
        return;
    }
    state_ = State::RecvPackets;
    if (const auto error = scratch_.clear(); !error.empty()) {
        fail(error);
        return;
    }
    requestPacket();
}

void TSMIDIDriver::requestPacket() {
    const uint32_t number = packetCounter_++;
    exchange(sendNextPacket(number), uint32_t(kHeaderBytes + 3) + receiveLimit(),
             [this](std::span<const uint8_t> a) { onReceivePacket(a); });
}

void TSMIDIDriver::onReceivePacket(std::span<const uint8_t> answer) {
    const auto packet = parseDataPacket(answer);
    if (!packet) {
        if (isMessage(answer, id::kAbortProcedure)) {
            // The sampler gave up: acknowledge, and the receive ends.
            errorText_ = kAborted;
            out_ = ack();
            command(scsi::Direction::Out, scsi::op::kSend, out_.data(), uint32_t(out_.size()),
                    [this](const scsi::Completion&) { fail(kAborted); });
            return;
        }
        fail(kCommunicationError);
        return;
    }
    const uint64_t missing = expected_ - received_;
    const size_t size = packet->data.size();
    // The packet we asked for, of the negotiated length (only the last may be shorter).
    if (packet->packetNumber != packetCounter_ - 1 || size == 0 || size % 2 != 0 || size > packetLength_ ||
        size < std::min<uint64_t>(packetLength_, missing)) {
        fail(kCommunicationError);
        return;
    }
    const auto take = size_t(std::min<uint64_t>(size, missing));
    std::vector<uint8_t> words(take);
    for (size_t i = 0; i + 1 < take; i += 2) {
        words[i] = packet->data[i + 1];
        words[i + 1] = packet->data[i];
    }
    if (const auto error = scratch_.write(received_, words.data(), words.size()); !error.empty()) {
        fail(error);
        return;
    }
    received_ += take;
    status("Receiving: " + twoDecimals(double(received_) / double(expected_) * 100.0) + "%");
    if (received_ < expected_) {
        requestPacket();
        return;
    }
    if (storeReceived()) {
        finish();
    }
}

bool TSMIDIDriver::storeReceived() {
    if (const auto error = scratch_.commitTo(*store_, int64_t(expected_)); !error.empty()) {
        fail(error);
        return false;
    }
    return true;
}

void TSMIDIDriver::fillTable(uint32_t number, const SampleHeader& header) {
    if (number >= table_.size()) {
        return;
    }
    auto& e = table_[number];
    e.filled = true;
    e.name = header.name;
    e.totalWords = uint32_t(std::min<uint64_t>(uint64_t(header.lengthWords) * header.channels, 0xFFFFFFFFull));
    e.sampleRate = rateOfPeriod(header.periodNs);
    e.bits = header.bits;
    e.channels = header.channels;
}

// ---- listing --------------------------------------------------------------------------------

void TSMIDIDriver::listSamples(std::function<void(const std::vector<SamplerSampleEntry>&)> done) {
    begin(State::Listing, [this, done = std::move(done)] {
        if (done) {
            done(rows_);
        }
    });
    if (state_ != State::Listing) {
        return;
    }
    collecting_ = false;
    startListing();
}

void TSMIDIDriver::startListing() {
    rows_.clear();
    found_.clear();
    number_ = isEmu() ? 1 : 0;
    listNext();
}

// Sample numbers are taken to run on from the first one; the table ends the listing at 1024.
void TSMIDIDriver::listNext() {
    if (number_ >= uint32_t(kTableEntries)) {
        if (collecting_) {
            buildMap();
            return;
        }
        finish();
        return;
    }
    exchange(sampleHeaderRequest(number_), uint32_t(kHeaderBytes + kKeyRangeHeaderLength),
             [this](std::span<const uint8_t> answer) { onListAnswer(answer); });
}

void TSMIDIDriver::onListAnswer(std::span<const uint8_t> answer) {
    if (const auto header = parseSampleHeader(answer)) {
        status("Retrieving info #" + std::to_string(number_));
        fillTable(number_, *header);
        const auto& e = table_[number_];
        rows_.push_back({int32_t(number_), e.name, e.totalWords, e.sampleRate, e.channels});
        found_.push_back(header->name);
        ++number_;
        listNext();
        return;
    }
    if (isMessage(answer, id::kMessageReject)) {
        if (collecting_) {
            buildMap();
            return;
        }
        if (rows_.empty()) {
            error_ = true;
            errorText_ = kNoSamples;
        }
        finish();
        return;
    }
    fail(isMessage(answer, id::kAbortProcedure) ? kAborted : kCommunicationError);
}

} // namespace cleavix::sampler::smdi
