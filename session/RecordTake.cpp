#include "session/RecordTake.h"

#include "sample/FormatPosition.h"
#include "sample/WorkFiles.h"
#include "session/Session.h"

#include <algorithm>
#include <cstdlib>
#include <sys/statvfs.h>

namespace cleavix::session {

namespace {

uint32_t clampPosition(uint64_t bytes) { return static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFu)); }

} // namespace

RecordTake::RecordTake(Session& session) : session_(session) {
    file_ = sample::createWorkFile(session.workingDirectory(), sample::kStorePrefix);
    // The loaded sample's format when a take may have it, else 44100 Hz mono.
    if (session.loaded()) {
        const auto& f = session.format();
        if (f.sampleRate >= kMinRecordRate && f.sampleRate <= kMaxRecordRate && (f.channels == 1 || f.channels == 2)) {
            rate_ = f.sampleRate;
            channels_ = f.channels;
        }
    }
    auto& recorder = session.player();
    recorder.Stop();
    recorder.RecordRingSize = 4;
    recorder.RecordChannels = static_cast<uint8_t>(channels_);
    recorder.RecordRate = rate_;
    recorder.Meter = &meter_;
    const std::string dir = session.workingDirectory();
    freeSpaceProbe = [dir] {
        struct statvfs fs {};
        if (::statvfs(dir.c_str(), &fs) != 0) {
            return uint64_t(0);
        }
        return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    };
}

RecordTake::~RecordTake() {
    auto& recorder = session_.player();
    if (recorder.recorder().InputOpen) {
        recorder.CloseInput();
    }
    meter_.SetActive(false);
    recorder.Meter = nullptr;
    giveBackStore();
    sample::ReleaseWorkFile(file_);
}

void RecordTake::giveBackStore() { session_.player().setStore(&session_.store().stream()); }

bool RecordTake::setFormat(uint32_t rate, uint16_t channels) {
    if (state_ != State::Waiting || rate < kMinRecordRate || rate > kMaxRecordRate || (channels != 1 && channels != 2)) {
        return false;
    }
    if (kept_ > 0 && (rate != rate_ || channels != channels_)) {
        // What is recorded already is in the old format: a new format starts the take afresh.
        file_->setSize(0);
        file_->seek(0);
        kept_ = 0;
    }
    rate_ = rate;
    channels_ = channels;
    auto& recorder = session_.player();
    recorder.RecordChannels = static_cast<uint8_t>(channels);
    recorder.RecordRate = rate;
    restartMonitor();
    return true;
}

bool RecordTake::openInput() {
    auto& recorder = session_.player();
    // The recorder appends at the stream's position: after the runs kept so far.
    file_->seek(static_cast<int64_t>(kept_));
    recorder.setStore(file_.get());
    running_ = false;
    if (recorder.OpenInput() != 0) {
        giveBackStore();
        return false;
    }
    return true;
}

bool RecordTake::arm() {
    if (state_ != State::Waiting) {
        return state_ == State::Armed;
    }
    if (!openInput()) {
        return false;
    }
    state_ = State::Armed;
    return true;
}

uint64_t RecordTake::frameLimit() const {
    const uint64_t most = std::min(byteLimit, sample::kMaxDataLength);
    return most - most % (channels_ * 2u);
}

bool RecordTake::record() {
    if (state_ == State::Recording) {
        return true;
    }
    if (kept_ >= frameLimit()) {
        // Full already: another run could not be kept.
        session_.prompter().ask(jobs::MessageKind::Warning, kMsgRecordTooLong, "", jobs::Buttons::Ok);
        return false;
    }
    if (state_ == State::Waiting && !openInput()) {
        return false;
    }
    auto& recorder = session_.player();
    if (!recorder.StartRecord()) {
        finishRun();
        return false;
    }
    running_ = true;
    stoppedForSpace_ = false;
    stoppedForLength_ = false;
    state_ = State::Recording;
    return true;
}

void RecordTake::finishRun() {
    auto& recorder = session_.player();
    if (recorder.recorder().InputOpen) {
        recorder.CloseInput();
    }
    if (running_) {
        // The recorder's count holds only whole buffers written; a write that failed half way
        // left bytes past it, which go.
        const uint64_t frame = channels_ * 2u;
        const uint64_t count = recorder.lastRecordedBytes();
        kept_ += count - count % frame;
        if (static_cast<uint64_t>(file_->size()) != kept_) {
            try {
                file_->setSize(static_cast<int64_t>(kept_));
            } catch (const sample::StreamError&) {
                // the count is what a keep reads; a longer file does no harm
            }
        }
    }
    running_ = false;
    giveBackStore();
    state_ = State::Waiting;
}

void RecordTake::stop() {
    if (state_ == State::Waiting) {
        return;
    }
    session_.player().StopRecord();
    finishRun();
}

void RecordTake::trim(uint64_t bytes) {
    if (state_ != State::Waiting || bytes >= kept_) {
        return;
    }
    kept_ = bytes - bytes % (channels_ * 2u);
    file_->setSize(static_cast<int64_t>(kept_));
}

void RecordTake::tick() {
    if (state_ != State::Recording) {
        return;
    }
    if (!session_.player().recorder().Recording) {
        finishRun(); // the recorder gave up (and said why)
        return;
    }
    if (recordedBytes() >= frameLimit()) {
        // The recorder may have gone a little past the limit since the last step: that part goes.
        stop();
        trim(frameLimit());
        stoppedForLength_ = true;
        session_.prompter().ask(jobs::MessageKind::Warning, kMsgRecordTooLong, "", jobs::Buttons::Ok);
        return;
    }
    if (freeBytes() < kRecordReserveBytes) {
        stop();
        stoppedForSpace_ = true;
        session_.prompter().ask(jobs::MessageKind::Warning, kMsgRecordDiskFull, "", jobs::Buttons::Ok);
    }
}

uint64_t RecordTake::recordedBytes() const {
    uint64_t total = kept_;
    if (running_) {
        const uint64_t count = session_.player().recorder().RecordedBytes;
        total += count - count % (channels_ * 2u);
    }
    return total;
}

uint64_t RecordTake::freeBytes() const { return freeSpaceProbe ? freeSpaceProbe() : 0; }

std::string RecordTake::recordedText(int units) const {
    return sample::FormatPosition(clampPosition(recordedBytes()), units, bits(), rate_, channels_);
}

std::string RecordTake::remainingText(int units) const {
    return sample::FormatPosition(clampPosition(freeBytes()), units, bits(), rate_, channels_);
}

void RecordTake::restartMonitor() {
    if (!meter_.Active()) {
        return;
    }
    meter_.SetActive(false);
    setMonitor(true);
}

bool RecordTake::setMonitor(bool on) {
    if (!on) {
        return meter_.SetActive(false);
    }
    meter_.setMonitorInput(session_.dispatcher(), session_.devices(), session_.player().InputDeviceID(), channels_,
                           rate_);
    return meter_.SetActive(true) && meter_.ControlCount() > 0;
}

int32_t RecordTake::level() {
    if (!meter_.Active() || meter_.ControlCount() == 0) {
        return 0;
    }
    int32_t left = 0;
    int32_t right = 0;
    if (!meter_.ReadLevel(meter_.Control(0), left, right)) {
        return 0;
    }
    return std::min(std::abs(left), meterMaximum());
}

} // namespace cleavix::session
