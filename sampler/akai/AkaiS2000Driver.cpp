#include "sampler/akai/AkaiS2000Driver.h"

#include "sample/FileAndMemoryStream.h"
#include "sampler/scsi/ScsiCommands.h"
#include "slicing/WaveSmoother.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace cleavix::sampler::akai {

namespace {

constexpr uint8_t kModeCommand = 0x09;
constexpr uint8_t kSendCommand = 0x0C;
constexpr uint8_t kStatusCommand = 0x0D;
constexpr uint8_t kReceiveCommand = 0x0E;
constexpr uint8_t kMessageFlag = 0x00;
constexpr uint8_t kDataFlag = 0x80;
// Rounds without data before a receive gives up on a sampler that announces nothing.
constexpr int kMaxIdleRounds = 64;

const char* const kCommunicationError = "Error communicating with sampler!";
const char* const kAborted = "Operation aborted!";

scsi::Cdb vendorCdb(uint8_t code, uint32_t length, uint8_t flag) {
    return {code, 0, uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), flag};
}

std::string percent(double done, double total) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", total > 0 ? done / total * 100.0 : 100.0);
    return text;
}

// The base name without its extension, cut to 9 characters, and the keygroup as three digits.
std::string numberedName(const std::string& base, size_t k) {
    std::string stem = std::filesystem::path(base).stem().string();
    stem.resize(std::min<size_t>(stem.size(), 9));
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03zu", k % 1000);
    return stem + digits;
}

} // namespace

std::string listingSize(uint32_t bytes) {
    return bytes >= 1024 ? std::to_string(bytes / 1024) + "kb" : std::to_string(bytes) + " bytes";
}

TAkaiS2000Driver::TAkaiS2000Driver(scsi::ScsiLayer& layer, jobs::Prompter& prompter)
    : layer_(layer), prompter_(prompter) {}

TAkaiS2000Driver::~TAkaiS2000Driver() {
    *alive_ = false;
}

void TAkaiS2000Driver::command(scsi::Direction direction, const scsi::Cdb& cdb, uint8_t* buffer, uint32_t length,
                               std::function<void()> then) {
    scsi::Request request;
    request.adaptor = adaptorOverride_ >= 0 ? adaptorOverride_ : profile_.scsiAdaptor;
    request.target = profile_.scsiDevice;
    request.direction = direction;
    request.cdb = cdb;
    request.buffer = buffer;
    request.length = length;
    std::weak_ptr<bool> alive = alive_;
    layer_.execute(request, [this, alive, then = std::move(then)](const scsi::Completion& done) {
        if (alive.expired()) {
            return;
        }
        last_ = done;
        // The guard before every step: a failed command or a user abort stops the operation.
        if (!done.completed || done.targetStatus != scsi::target_status::kGood || abort_) {
            fail(kAborted, jobs::MessageKind::Warning);
            return;
        }
        then();
    });
}

bool TAkaiS2000Driver::aborted() {
    if (abort_) {
        fail(kAborted, jobs::MessageKind::Warning);
        return true;
    }
    return false;
}

void TAkaiS2000Driver::modeOn(Step then) {
    command(scsi::Direction::None, {kModeCommand, 0, 1, 1, 0, 0}, nullptr, 0, std::move(then));
}

void TAkaiS2000Driver::transact(std::vector<Bytes> parts, AnswerHandler onAnswer, Step whenIdle) {
    parts_ = std::move(parts);
    sendParts(0, std::move(onAnswer), std::move(whenIdle));
}

void TAkaiS2000Driver::sendParts(size_t index, AnswerHandler onAnswer, Step whenIdle) {
    if (index == parts_.size()) {
        poll(0, std::move(onAnswer), std::move(whenIdle));
        return;
    }
    Bytes& part = parts_[index];
    command(scsi::Direction::Out, vendorCdb(kSendCommand, uint32_t(part.size()), kMessageFlag), part.data(),
            uint32_t(part.size()), [this, index, onAnswer, whenIdle] { sendParts(index + 1, onAnswer, whenIdle); });
}

void TAkaiS2000Driver::poll(int round, AnswerHandler onAnswer, Step whenIdle) {
    if (round >= kMaxRounds) {
        fail(kCommunicationError, jobs::MessageKind::Error);
        return;
    }
    command(scsi::Direction::In, vendorCdb(kStatusCommand, 0, kMessageFlag), statusBytes_.data(),
            uint32_t(statusBytes_.size()), [this, round, onAnswer, whenIdle] {
                const auto pending = last_.transferred == statusBytes_.size()
                                         ? parsePendingLength(statusBytes_)
                                         : std::nullopt;
                if (!pending || *pending > kMaxAnswer) {
                    fail(kCommunicationError, jobs::MessageKind::Error);
                    return;
                }
                if (*pending == 0) {
                    whenIdle();
                    return;
                }
                in_.assign(*pending, 0);
                command(scsi::Direction::In, vendorCdb(kReceiveCommand, *pending, kMessageFlag), in_.data(), *pending,
                        [this, round, onAnswer, whenIdle, expected = *pending] {
                            if (last_.transferred != expected) {
                                fail(kCommunicationError, jobs::MessageKind::Error);
                                return;
                            }
                            const Verdict verdict = onAnswer(in_);
                            if (!verdict.ok) {
                                fail(verdict.error, jobs::MessageKind::Error);
                                return;
                            }
                            poll(round + 1, onAnswer, whenIdle);
                        });
            });
}

void TAkaiS2000Driver::show(jobs::MessageKind kind, const std::string& text) {
    prompter_.ask(kind, text, {}, jobs::Buttons::Ok);
}

void TAkaiS2000Driver::status(const std::string& text) {
    if (status_) {
        status_(text);
    }
}

void TAkaiS2000Driver::fail(const std::string& text, jobs::MessageKind kind) {
    if (op_ == Op::None) {
        return;
    }
    abort_ = true;
    const Op op = op_;
    op_ = Op::None; // nothing else of this operation runs
    scsi::Request off;
    off.adaptor = adaptorOverride_ >= 0 ? adaptorOverride_ : profile_.scsiAdaptor;
    off.target = profile_.scsiDevice;
    off.cdb = {kModeCommand, 0, 0, 0, 0, 0};
    std::weak_ptr<bool> alive = alive_;
    layer_.execute(off, [this, alive, text, kind, op](const scsi::Completion&) {
        if (alive.expired()) {
            return;
        }
        show(kind, text);
        status("Inactive");
        op_ = op;
        finish();
    });
}

void TAkaiS2000Driver::finish() {
    const Op op = op_;
    op_ = Op::None;
    switch (op) {
    case Op::Listing:
        if (auto done = std::move(listDone_)) {
            done(rows_);
        }
        break;
    case Op::Receiving: {
        ReceivedSample result;
        if (!abort_ && store_ && scratch_.isOpen()) {
            result.error = scratch_.commitTo(*store_, header_.bytes());
            if (result.error.empty()) {
                result = {1, header_.sampleRate, header_.bytes(), {}};
            } else {
                abort_ = true;
            }
        } else {
            result.error = kAborted;
        }
        scratch_.discard();
        if (auto done = std::move(receiveDone_)) {
            done(result);
        }
        break;
    }
    case Op::Sending: endSend(); break;
    case Op::Mapping: endMap(); break;
    case Op::None: break;
    }
}

// Identification: INQUIRY, a processor device, TEST UNIT READY, then the continuation. A failure
// calls the continuation too, with the error set, so that the transfer ends.
void TAkaiS2000Driver::checkDevice(Continuation continuation) {
    in_.assign(scsi::kInquiryLength, 0);
    auto request = scsi::Request{};
    request.adaptor = adaptorOverride_ >= 0 ? adaptorOverride_ : profile_.scsiAdaptor;
    request.target = profile_.scsiDevice;
    request.direction = scsi::Direction::In;
    request.cdb = scsi::inquiryCdb(0x0A);
    request.buffer = in_.data();
    request.length = uint32_t(in_.size());
    auto failed = [this, continuation] {
        abort_ = true;
        show(jobs::MessageKind::Error, "Error communicating with sampler");
        if (continuation) {
            continuation();
        }
    };
    std::weak_ptr<bool> alive = alive_;
    layer_.execute(request, [this, alive, request, continuation, failed](const scsi::Completion& done) {
        if (alive.expired()) {
            return;
        }
        const auto inquiry = done.completed ? scsi::parseInquiry(std::span(in_.data(), done.transferred))
                                            : std::nullopt;
        if (!inquiry || inquiry->peripheralType != scsi::kProcessorDevice) {
            failed();
            return;
        }
        scsi::Request ready = request;
        ready.direction = scsi::Direction::None;
        ready.cdb = scsi::testUnitReadyCdb();
        ready.buffer = nullptr;
        ready.length = 0;
        layer_.execute(ready, [alive, continuation, failed](const scsi::Completion& ok) {
            if (alive.expired()) {
                return;
            }
            if (!ok.completed || ok.targetStatus != scsi::target_status::kGood) {
                failed();
                return;
            }
            if (continuation) {
                continuation();
            }
        });
    });
}

void TAkaiS2000Driver::listSamples(std::function<void(const std::vector<SamplerSampleEntry>&)> done) {
    abort_ = false;
    op_ = Op::Listing;
    listDone_ = std::move(done);
    rows_.clear();
    modeOn([this] {
        count_ = 0;
        auto got = std::make_shared<bool>(false);
        transact(
            {sampleCountRequest()},
            [this, got](const Bytes& answer) -> Verdict {
                const auto count = parseCount(answer);
                if (!count) {
                    return {false, kCommunicationError};
                }
                count_ = *count;
                *got = true;
                return {};
            },
            [this, got] {
                if (!*got) {
                    fail(kCommunicationError, jobs::MessageKind::Error);
                    return;
                }
                listNext(0);
            });
    });
}

void TAkaiS2000Driver::listNext(uint32_t number) {
    if (aborted()) {
        return;
    }
    if (number >= count_) {
        command(scsi::Direction::None, {kModeCommand, 0, 0, 0, 0, 0}, nullptr, 0, [this] { finish(); });
        return;
    }
    auto got = std::make_shared<bool>(false);
    transact(
        {sampleHeaderRequest(number)},
        [this, number, got](const Bytes& answer) -> Verdict {
            const auto header = parseSampleHeader(answer);
            if (!header) {
                return {false, kCommunicationError};
            }
            *got = true;
            rows_.push_back({int32_t(number), header->name, header->lengthWords, header->sampleRate, 1});
            return {};
        },
        [this, number, got] {
            if (!*got) {
                fail(kCommunicationError, jobs::MessageKind::Error);
                return;
            }
            listNext(number + 1);
        });
}

void TAkaiS2000Driver::receiveSample(int32_t number, ReceiveCompletion completion) {
    abort_ = false;
    op_ = Op::Receiving;
    receiveDone_ = std::move(completion);
    receivedName_.clear();
    bytesDone_ = 0;
    idleRounds_ = 0;
    // The scratch working file first: without it nothing can be received.
    const std::string refusal = number < 0 ? std::string(kAborted) : scratch_.open(scratchDirectory_, "cleavix-akai-");
    if (!refusal.empty()) {
        scratch_.discard();
        abort_ = true;
        show(jobs::MessageKind::Error, refusal);
        finish();
        return;
    }
    modeOn([this, number] {
        auto got = std::make_shared<bool>(false);
        transact(
            {sampleHeaderRequest(uint32_t(number))},
            [this, got](const Bytes& answer) -> Verdict {
                const auto header = parseSampleHeader(answer);
                if (!header || header->lengthWords == 0 || header->lengthWords > kMaxSampleWords) {
                    return {false, kCommunicationError};
                }
                header_ = *header;
                *got = true;
                return {};
            },
            [this, got, number] {
                if (!*got) {
                    fail(kCommunicationError, jobs::MessageKind::Error);
                    return;
                }
                receivedName_ = header_.name;
                if (const auto error = scratch_.clear(); !error.empty()) {
                    fail(error, jobs::MessageKind::Error);
                    return;
                }
                transact({sampleDataRequest(uint32_t(number), 0, header_.lengthWords)},
                         [](const Bytes&) -> Verdict { return {}; }, [this] { receiveData(); });
            });
    });
}

// One round: the data status, then at most one chunk of what it announces.
void TAkaiS2000Driver::receiveData() {
    if (aborted()) {
        return;
    }
    const uint32_t total = header_.bytes();
    if (bytesDone_ >= total) {
        command(scsi::Direction::None, {kModeCommand, 0, 0, 0, 0, 0}, nullptr, 0, [this] {
            status("Inactive");
            finish();
        });
        return;
    }
    command(scsi::Direction::In, vendorCdb(kStatusCommand, 0, kDataFlag), statusBytes_.data(),
            uint32_t(statusBytes_.size()), [this, total] {
                const auto pending = last_.transferred == statusBytes_.size()
                                         ? parsePendingLength(statusBytes_)
                                         : std::nullopt;
                if (!pending || *pending > total - bytesDone_ || (*pending == 0 && ++idleRounds_ > kMaxIdleRounds)) {
                    fail(kCommunicationError, jobs::MessageKind::Error);
                    return;
                }
                if (*pending == 0) {
                    receiveData();
                    return;
                }
                idleRounds_ = 0;
                const uint32_t chunk = std::min<uint32_t>(*pending, uint32_t(kDataChunk));
                in_.assign(chunk, 0);
                command(scsi::Direction::In, vendorCdb(kReceiveCommand, chunk, kDataFlag), in_.data(), chunk,
                        [this, chunk, total] {
                            if (last_.transferred != chunk) {
                                fail(kCommunicationError, jobs::MessageKind::Error);
                                return;
                            }
                            // A full scratch folder fails the receive; the store stays as it was.
                            if (const auto error = scratch_.write(bytesDone_, in_.data(), chunk); !error.empty()) {
                                fail(error, jobs::MessageKind::Error);
                                return;
                            }
                            bytesDone_ += chunk;
                            status("Receiving: " + percent(bytesDone_, total) + "%");
                            receiveData();
                        });
            });
}

void TAkaiS2000Driver::query(Bytes request, std::function<std::optional<uint32_t>(const Bytes&)> parse,
                             std::function<void(uint32_t)> then) {
    auto value = std::make_shared<std::optional<uint32_t>>();
    transact(
        {std::move(request)},
        [value, parse](const Bytes& answer) -> Verdict {
            *value = parse(answer);
            return *value ? Verdict{} : Verdict{false, kCommunicationError};
        },
        [this, value, then] {
            if (!*value) {
                fail(kCommunicationError, jobs::MessageKind::Error);
                return;
            }
            then(**value);
        });
}

void TAkaiS2000Driver::sendSample(const SendSampleArgs& args) {
    abort_ = false;
    op_ = Op::Sending;
    send_ = args;
    if (args.channels == 2 && args.keepStereo) {
        fail("Akai driver cannot handle stereo at this time!", jobs::MessageKind::Error);
        return;
    }
    if (args.bits != 16) {
        fail("Akai samplers take 16-bit samples", jobs::MessageKind::Error);
        return;
    }
    const auto rate = rateByte(args.sampleRate);
    if (!rate) {
        fail("Akai samplers take 22050 or 44100 Hz samples", jobs::MessageKind::Error);
        return;
    }
    const sample::TFileAndMemoryStream* input = args.fromFile ? sourceStream_ : store_;
    if (!input) {
        fail("Error communicating with sampler", jobs::MessageKind::Error);
        return;
    }
    if (!source_ && !ownSource_) {
        ownSource_ = std::make_unique<slicing::TWaveSmoother>();
    }
    active_ = source_ ? source_ : ownSource_.get();
    slicing::TWaveSmoother::Settings settings;
    settings.input = input;
    settings.start = args.start;
    settings.length = args.length;
    settings.channels = 1;
    settings.step = args.channels == 2 ? 2 : 1;
    settings.inputOrder = args.bigEndian ? slicing::ByteOrder::Big : slicing::ByteOrder::Little;
    settings.outputOrder = slicing::ByteOrder::Little;
    settings.level = smoothingLevel_;
    active_->configure(settings);
    const uint64_t size = active_->outputBytes();
    // An empty sample would announce a length of -1 words; a sampler's memory is far below 4 GB.
    if (size < 2 || size > uint64_t(kMaxSampleWords) * 2) {
        fail(size < 2 ? "The sample is empty" : "The sample is too large for the sampler", jobs::MessageKind::Error);
        return;
    }
    sampleBytes_ = uint32_t(size & ~uint64_t(1));
    bytesDone_ = 0;
    modeOn([this, rate = *rate] {
        query(freeMemoryRequest(), parseFreeMemory, [this, rate](uint32_t freeWords) {
            if (uint64_t(sampleBytes_) >= uint64_t(freeWords) * 2) {
                fail("Insufficient memory in sampler!", jobs::MessageKind::Error);
                return;
            }
            query(sampleCountRequest(), parseCount, [this, rate](uint32_t number) {
                const auto block = sampleHeaderBlock(send_.name, rate, send_.rootKey, sampleBytes_ / 2);
                auto message = sampleHeaderMessage(number, block);
                auto acked = std::make_shared<bool>(false);
                transact(
                    {std::move(message.first), std::move(message.second)},
                    [acked](const Bytes& answer) -> Verdict {
                        const auto reply = parseHandshake(answer);
                        if (reply == handshake::kWait && !*acked) {
                            return {}; // read the status again
                        }
                        if (reply == handshake::kAck && !*acked) {
                            *acked = true;
                            return {};
                        }
                        return {false, kCommunicationError};
                    },
                    [this, acked] {
                        if (!*acked) {
                            fail(kCommunicationError, jobs::MessageKind::Error);
                            return;
                        }
                        sendData();
                    });
            });
        });
    });
}

void TAkaiS2000Driver::sendData() {
    if (aborted()) {
        return;
    }
    if (bytesDone_ >= sampleBytes_) {
        command(scsi::Direction::None, {kModeCommand, 0, 0, 0, 0, 0}, nullptr, 0, [this] {
            status("Inactive");
            finish();
        });
        return;
    }
    const uint32_t chunk = std::min<uint32_t>(sampleBytes_ - bytesDone_, uint32_t(kDataChunk));
    data_.assign(chunk, 0);
    const size_t values = active_->read(reinterpret_cast<int16_t*>(data_.data()), chunk / 2);
    if (values != chunk / 2) {
        fail("Error reading the sample to send", jobs::MessageKind::Error);
        return;
    }
    command(scsi::Direction::Out, vendorCdb(kSendCommand, chunk, kDataFlag), data_.data(), chunk, [this, chunk] {
        bytesDone_ += chunk;
        const std::string x = percent(bytesDone_, sampleBytes_);
        // A single send reads "Sending # 12.50%", with the "#" and no number, as the dialog has
        // always shown it.
        status(send_.single ? "Sending # " + x + "%"
                            : "Sending # " + std::to_string(send_.displayNumber) + ": " + x + "%");
        sendData();
    });
}

void TAkaiS2000Driver::endSend() {
    if (send_.fromFile && send_.next) {
        send_.next();
    } else if (doneEvent_) {
        doneEvent_();
    }
}

void TAkaiS2000Driver::mapSamples(const MapSamplesArgs& args) {
    op_ = Op::Mapping;
    map_ = args;
    mapMessages_.clear();
    const size_t count = names_.empty() ? args.sampleCount : names_.size();
    if (count == 0) {
        fail("There are no samples to map", jobs::MessageKind::Error);
        return;
    }
    auto keys = assignKeysFromBase(int(count), args.baseNote, args.keySpan, args.whiteKeysOnly);
    if (!keys) {
        fail("The samples do not fit on the keyboard from this base note", jobs::MessageKind::Error);
        return;
    }
    keys_ = std::move(*keys);
    // The program ends at the highest key a keygroup was given.
    uint8_t lastKey = 0;
    for (const auto& key : keys_) {
        lastKey = std::max(lastKey, uint8_t(key.high));
    }
    modeOn([this, lastKey] {
        if (aborted()) {
            return;
        }
        query(programCountRequest(), parseCount, [this, lastKey](uint32_t programs) {
            auto message = programMessage(programs + 1, map_.programName, map_.baseNote, lastKey);
            Bytes whole = message.first;
            whole.insert(whole.end(), message.second.begin(), message.second.end());
            mapMessages_.push_back(std::move(whole));
            transact(
                {std::move(message.first), std::move(message.second)},
                [](const Bytes& answer) -> Verdict {
                    const auto stored = parseWriteResult(answer);
                    if (!stored) {
                        return {false, kCommunicationError};
                    }
                    return *stored ? Verdict{} : Verdict{false, "Error writing program!"};
                },
                [this] { sendKeygroup(0); });
        });
    });
}

void TAkaiS2000Driver::sendKeygroup(size_t index) {
    if (aborted()) {
        return;
    }
    if (index == keys_.size()) {
        command(scsi::Direction::None, {kModeCommand, 0, 0, 0, 0, 0}, nullptr, 0, [this] { finish(); });
        return;
    }
    const std::string name = names_.empty() ? numberedName(map_.baseSampleName, index + 1) : names_[index];
    auto message = keygroupMessage(uint32_t(index), uint8_t(keys_[index].low), uint8_t(keys_[index].high), name);
    Bytes whole = message.first;
    whole.insert(whole.end(), message.second.begin(), message.second.end());
    mapMessages_.push_back(std::move(whole));
    transact(
        {std::move(message.first), std::move(message.second)},
        [](const Bytes& answer) -> Verdict {
            const auto stored = parseWriteResult(answer);
            if (!stored) {
                return {false, kCommunicationError};
            }
            return *stored ? Verdict{} : Verdict{false, "Error writing keygroup!"};
        },
        [this, index] { sendKeygroup(index + 1); });
}

void TAkaiS2000Driver::endMap() {
    if (map_.finished) {
        map_.finished();
    } else {
        endSend();
    }
}

} // namespace cleavix::sampler::akai
