// The transfer commands of the session: binding, the end path, region send, requests, listings
// and the take-over of a received sample. The batch steps are in SamplerBatch.cpp.
#include "session/SamplerTransfer.h"
#include "sample/WorkFiles.h"
#include "sampler/akai/AkaiS2000Driver.h"
#include "sampler/midi/MidiIn.h"
#include "sampler/midi/MidiOut.h"
#include "sampler/scsi/SystemBackends.h"
#include "sampler/sds/SdsDriver.h"
#include "sampler/smdi/SMIDIDriver.h"
#include "session/Backends.h"
#include "session/SendThread.h"
#include "session/Session.h"
#include "session/TransferRules.h"

#include <cassert>

namespace cleavix::session {

namespace pf = sampler::profiles;

namespace {
// Long enough for a slow sampler between packets; the drivers have their own shorter time-outs.
constexpr std::chrono::milliseconds kDefaultQuiet{60000};
} // namespace

SamplerTransfer::SamplerTransfer(Session& session, Backends& backends)
    : session_(session), dispatcher_(session.dispatcher()), prompter_(session.prompter()) {
    midiIn_ = std::make_unique<sampler::midi::TMidiInput>(dispatcher_, backends.midi);
    midiIn_->setCapacity(4096);
    midiOut_ = std::make_unique<sampler::midi::TMidiOutput>(dispatcher_, backends.midi);
    scsi_ = std::make_unique<sampler::scsi::ScsiLayer>(dispatcher_);
    if (backends.systemScsi) {
        for (auto& backend : sampler::scsi::systemBackends()) {
            scsi_->addBackend(std::move(backend));
        }
    }
    scsi_->addBackend(backends.scsiBus);
    sds_ = std::make_unique<sampler::sds::TSDSDriver>(dispatcher_);
    sds_->setScratchFolder(session.workingDirectory());
    akai_ = std::make_unique<sampler::akai::TAkaiS2000Driver>(*scsi_, prompter_);
    akai_->setScratchDirectory(session.workingDirectory());
    smdiOwn_ = std::make_unique<sampler::smdi::TSMIDIDriver>(*scsi_, dispatcher_);
    smdiOwn_->setScratchDirectory(session.workingDirectory());
    smdi_ = smdiOwn_.get();
    watchdog_ = std::make_unique<sampler::TransferWatchdog>(dispatcher_, kDefaultQuiet);
}

SamplerTransfer::~SamplerTransfer() {
    *alive_ = false;
    if (running_ && bound_.driver != nullptr) {
        bound_.driver->abort();
    }
    sender_.reset();
    watchdog_.reset();
    // The drivers close the ports they opened; they go before the ports and the layer.
    akai_.reset();
    smdiOwn_.reset();
    sds_.reset();
}

void SamplerTransfer::setSmdiDriver(sampler::TSamplerClass* driver) { smdi_ = driver ? driver : smdiOwn_.get(); }

void SamplerTransfer::setQuietTime(std::chrono::milliseconds quiet) {
    if (!running_) {
        watchdog_ = std::make_unique<sampler::TransferWatchdog>(dispatcher_, quiet);
    }
}

pf::InstalledDevices SamplerTransfer::installed() {
    pf::InstalledDevices devices;
    devices.midiInputs = int(midiIn_->devices().size());
    devices.midiOutputs = int(midiOut_->devices().size());
    devices.scsiAdaptors = int(scsi_->adaptors().size());
    return devices;
}

pf::BindingCheck SamplerTransfer::checkSelected() {
    return pf::checkBinding(!profiles_.names().empty(), profiles_.read(selected_), installed(), scsi_->available());
}

bool SamplerTransfer::refuse(const std::string& text) {
    prompter_.ask(jobs::MessageKind::Information, text, "Information", jobs::Buttons::Ok);
    return false;
}

std::optional<SamplerTransfer::Bound> SamplerTransfer::checkAndBind(sample::TFileAndMemoryStream* store) {
    if (running_) {
        refuse(kMsgTransferRunning);
        return std::nullopt;
    }
    if (session_.busy()) {
        return std::nullopt;
    }
    const auto check = checkSelected();
    if (!check.ok() || !check.profile) {
        refuse(check.message);
        return std::nullopt;
    }
    const auto table = pf::makeDriverTable(sds_.get(), smdi_, akai_.get());
    pf::BindResources resources;
    std::weak_ptr<bool> alive = alive_;
    resources.status = [this, alive](const std::string& text) {
        if (!alive.expired()) {
            setStatus(text);
        }
    };
    resources.store = store;
    resources.midiInput = midiIn_.get();
    resources.midiOutput = midiOut_.get();
    Bound bound;
    bound.profile = *check.profile;
    bound.driver = pf::bindProfile(bound.profile, table, resources);
    if (bound.driver == nullptr) {
        refuse(kMsgNoDriver);
        return std::nullopt;
    }
    bound.driver->setSampleSource(&smoother_);
    bound.kind = pf::deviceType(bound.profile.deviceType)->driver;
    if (bound.kind == pf::DriverKind::Akai) {
        akai_->setAdaptorIndex(bound.profile.scsiAdaptor);
    } else if (bound.kind == pf::DriverKind::Smdi && bound.driver == smdiOwn_.get()) {
        smdiOwn_->setAdaptorIndex(bound.profile.scsiAdaptor);
    }
    return bound;
}

void SamplerTransfer::setStatus(const std::string& text) {
    status_ = text;
    if (running_ && watchdog_) {
        watchdog_->alive();
    }
    if (onStatus) {
        onStatus(text);
    }
}

void SamplerTransfer::begin(TransferDone done) {
    assert(!running_);
    running_ = true;
    ++epoch_;
    aborted_ = false;
    done_ = std::move(done);
    watchdog_->begin([this] {
        if (bound_.driver != nullptr) {
            bound_.driver->abort();
        }
        end(false, sampler::kLostEndText);
    });
    if (onRunning) {
        onRunning(true);
    }
}

void SamplerTransfer::end(bool ok, const std::string& message, bool inform) {
    if (!running_) {
        return;
    }
    running_ = false;
    if (sender_) {
        sender_->stop();
    }
    // A guarded end still pending from the driver is dropped from now on.
    if (watchdog_->guarding()) {
        watchdog_->guard(std::function<void()>{})();
    }
    batchFile_.reset();
    setStatus(kStatusInactive);
    TransferEnd result{ok, aborted_, message};
    aborted_ = false;
    auto done = std::move(done_);
    done_ = nullptr;
    if (onRunning) {
        onRunning(false);
    }
    if (inform && !message.empty()) {
        prompter_.ask(jobs::MessageKind::Information, message, "Information", jobs::Buttons::Ok);
    }
    if (done) {
        done(result);
    }
    // The thread has posted its end or been stopped; it is joined outside its own end call.
    if (sender_) {
        dispatcher_.post([this, alive = std::weak_ptr<bool>(alive_)] {
            if (!alive.expired() && !running_) {
                sender_.reset();
            }
        });
    }
}

void SamplerTransfer::endFromDriver(bool sent, const std::string& success) {
    auto* driver = bound_.driver;
    if (driver != nullptr && driver->hasError()) {
        std::string text = driver->errorText();
        // The Akai driver shows its own failures as it meets them.
        if (text.empty() && bound_.kind != pf::DriverKind::Akai) {
            text = pf::kGeneralTransferError;
        }
        end(false, text);
        return;
    }
    end(sent, sent ? success : std::string());
}

void SamplerTransfer::withDevice(std::function<void()> operation) {
    auto* driver = bound_.driver;
    driver->clearError();
    driver->checkDevice(step([this, driver, operation = std::move(operation)] {
        if (driver->hasError()) {
            endFromDriver(false, {});
            return;
        }
        operation();
    }));
}

void SamplerTransfer::abort() {
    if (!running_) {
        return;
    }
    aborted_ = true;
    if (bound_.driver != nullptr) {
        bound_.driver->abort();
    }
    status_ = kStatusInactive;
    if (onStatus) {
        onStatus(status_);
    }
}

// ---- send region ----

bool SamplerTransfer::sendRegion(int position, bool bothChannels, int channel, TransferDone done) {
    if (!session_.loaded()) {
        return false;
    }
    auto bound = checkAndBind(&session_.store().stream());
    if (!bound) {
        return false;
    }
    std::string why;
    const auto& format = session_.format();
    const auto plan = planRegion(format, session_.slicer().left(), session_.slicer().right(), bothChannels, channel, &why);
    if (!plan) {
        return refuse(why);
    }
    const int32_t number = position + bound->profile.sampleNumberOffset;
    if (auto refusal = checkSampleNumber(number, bound->kind); !refusal.empty()) {
        return refuse(refusal);
    }
    sampler::SendSampleArgs args;
    args.name = regionSampleName(session_.fileName());
    args.sampleNumber = number;
    args.start = plan->start;
    args.length = plan->length;
    args.channels = uint8_t(format.channels);
    args.sampleRate = format.sampleRate;
    args.bits = 16; // the store holds 16-bit data whatever the file had
    args.keepStereo = plan->keepStereo;
    args.single = true;
    args.channelsToSend = plan->channelsToSend;
    args.displayNumber = 1;
    args.fromFile = false;

    // A region goes out as it stands in the store: no end-point smoothing.
    auto settings = smoother_.settings();
    settings.level = 0;
    smoother_.configure(settings);
    session_.player().Stop();
    bound_ = *bound;
    begin(std::move(done));
    auto* driver = bound_.driver;
    withDevice([this, driver, args] {
        // The driver's end comes as the done event; a fresh guard stands for it.
        auto finished = step([this] { endFromDriver(true, kMsgTransferComplete); });
        std::weak_ptr<bool> alive = alive_;
        sender_ = std::make_unique<TSMDISend>(
            dispatcher_,
            [this, alive, driver, args](std::function<void()> signal) {
                if (alive.expired() || !running_) {
                    signal();
                    return;
                }
                driver->setDoneEvent(std::move(signal));
                if (aborted_ || driver->hasError()) {
                    driver->setDoneEvent({});
                    endFromDriver(false, {});
                    return;
                }
                driver->sendSample(args);
            },
            [alive, finished](bool signalled) {
                if (!alive.expired() && signalled) {
                    finished();
                }
            });
    });
    return true;
}

// ---- receiving ----

bool SamplerTransfer::request(int position, bool waitForSend, TransferDone done) {
    const auto check = checkSelected();
    if (!check.ok() || !check.profile) {
        return refuse(check.message);
    }
    const auto kind = pf::deviceType(check.profile->deviceType)->driver;
    const int32_t number = position + check.profile->sampleNumberOffset;
    if (auto refusal = checkSampleNumber(number, kind); !refusal.empty()) {
        return refuse(refusal);
    }
    if (waitForSend && kind != pf::DriverKind::Sds) {
        return refuse("Only a MIDI sample dump profile can wait for the sampler to send");
    }
    // The sample dump driver reads numbers from 100000 up as "wait for a dump of number - 100000";
    // the number itself was checked to stay below that.
    return startReceive(waitForSend ? number + 100000 : number, std::move(done));
}

bool SamplerTransfer::receiveListed(int32_t number, TransferDone done) {
    const auto check = checkSelected();
    if (!check.ok() || !check.profile) {
        return refuse(check.message);
    }
    if (auto refusal = checkSampleNumber(number, pf::deviceType(check.profile->deviceType)->driver); !refusal.empty()) {
        return refuse(refusal);
    }
    return startReceive(number, std::move(done));
}

bool SamplerTransfer::startReceive(int32_t number, TransferDone done) {
    std::unique_ptr<sample::TFileAndMemoryStream> scratch;
    try {
        scratch = sample::createWorkFile(session_.workingDirectory(), sample::kStorePrefix);
    } catch (const std::exception&) {
        return refuse(editing::kMsgProcessingError);
    }
    auto bound = checkAndBind(scratch.get());
    if (!bound) {
        return false;
    }
    session_.player().Stop();
    bound_ = *bound;
    if (scratch_) {
        sample::ReleaseWorkFile(scratch_);
    }
    scratch_ = std::move(scratch);
    begin(std::move(done));
    auto* driver = bound_.driver;
    withDevice([this, driver, number] {
        driver->receiveSample(number, step(std::function<void(const sampler::ReceivedSample&)>(
                                          [this](const sampler::ReceivedSample& r) { receiveEnded(r); })));
    });
    return true;
}

void SamplerTransfer::receiveEnded(const sampler::ReceivedSample& received) {
    auto* driver = bound_.driver;
    if (received.channels == 0 || received.bytes == 0 || (driver != nullptr && driver->hasError())) {
        std::string text = driver != nullptr ? driver->errorText() : std::string();
        if (text.empty()) {
            text = received.error;
        }
        if (text.empty() && bound_.kind != pf::DriverKind::Akai) {
            text = aborted_ ? std::string() : std::string(pf::kGeneralTransferError);
        }
        end(false, bound_.kind == pf::DriverKind::Akai && driver != nullptr && driver->hasError() ? std::string() : text);
        return;
    }
    if (received.channels != 1 && received.channels != 2) {
        end(false, "The sampler sent " + std::to_string(received.channels) + " channels; only mono and stereo can be taken");
        return;
    }
    const uint32_t rate = roundRate ? roundSampleRate(received.sampleRate) : received.sampleRate;
    if (rate == 0) {
        end(false, "The sampler sent no sample rate");
        return;
    }
    const uint32_t frameBytes = received.channels * 2u;
    uint32_t bytes = received.bytes - received.bytes % frameBytes;
    if (scratch_) {
        const int64_t held = scratch_->size();
        if (held >= 0 && uint64_t(held) < bytes) {
            bytes = uint32_t(held) - uint32_t(held) % frameBytes;
        }
    }
    if (bytes == 0) {
        end(false, "The sampler sent no whole frame of audio");
        return;
    }
    takeOver(received.channels, rate, bytes);
}

void SamplerTransfer::takeOver(uint8_t channels, uint32_t rate, uint32_t bytes) {
    auto& editor = session_.editor();
    const bool hadSample = session_.loaded();
    const std::string name = bound_.kind == pf::DriverKind::Sds || bound_.driver == nullptr
                                 ? std::string("Untitled")
                                 : sanitiseReceivedName(bound_.driver->receivedName());
    session_.player().CloseOutput();
    std::weak_ptr<bool> alive = alive_;
    const bool started = editor.newSampleFrom(*scratch_, bytes, channels, rate, "Receive Sample",
                                              [this, alive, hadSample, channels, rate, name](bool ok) {
        if (alive.expired()) {
            return;
        }
        if (scratch_) {
            sample::ReleaseWorkFile(scratch_);
        }
        if (!ok) {
            end(false, editing::kMsgProcessingError);
            return;
        }
        auto& edits = session_.editor();
        auto& format = session_.format();
        format.saveBits = 16;
        // The old sample comes back whole, its rate and channels with it.
        if (hadSample && edits.undoAvailable()) {
            edits.record().undoCode = 11;
            edits.record().returnsTo = 0;
            edits.record().undoStart = 0;
            edits.record().pasteLength = format.dataLength;
        }
        session_.slicer().setLoop(0, format.dataLength);
        session_.player().SampleRate = rate;
        session_.player().Channels = channels;
        session_.player().BitsPerSample = 16;
        session_.renameSample(name + ".wav");
        end(true, {}, false);
    });
    if (!started) {
        end(false, editing::kMsgProcessingError);
    }
}

bool SamplerTransfer::listSamples(TransferDone done) {
    auto bound = checkAndBind(nullptr);
    if (!bound) {
        return false;
    }
    bound_ = *bound;
    listing_.clear();
    begin(std::move(done));
    auto* driver = bound_.driver;
    withDevice([this, driver] {
        driver->listSamples(step(std::function<void(const std::vector<sampler::SamplerSampleEntry>&)>(
            [this, driver](const std::vector<sampler::SamplerSampleEntry>& rows) {
                listing_ = driver->copySampleList();
                if (listing_.empty()) {
                    listing_ = rows;
                }
                endFromDriver(true, {});
            })));
    });
    return true;
}

} // namespace cleavix::session
