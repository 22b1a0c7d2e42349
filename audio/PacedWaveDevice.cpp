#include "audio/PacedWaveDevice.h"

#include "audio/VirtualWaveDevice.h"

#include <algorithm>
#include <cstring>

namespace cleavix::audio {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nanosSinceEpoch(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// How long `bytes` take at the format's rate.
Clock::duration durationOf(uint64_t bytes, const WaveFormat& format) {
    const uint64_t perSecond = uint64_t(format.sampleRate) * format.blockAlign;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(bytes * 1000000000ull / perSecond));
}

// Whole frames of `length` bytes that pass in `elapsed`.
uint32_t bytesIn(Clock::duration elapsed, uint32_t length, const WaveFormat& format) {
    if (elapsed <= Clock::duration::zero()) {
        return 0;
    }
    const auto ns = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
    const uint64_t frames = ns * format.sampleRate / 1000000000ull;
    return uint32_t(std::min<uint64_t>(frames * format.blockAlign, length / format.blockAlign * format.blockAlign));
}

// Why a device may not open (kWaveOk when it may).
int refusal(bool alreadyOpen, int refuseWith, const WaveFormat& format, std::string& error) {
    if (alreadyOpen) {
        return kWaveAllocated;
    }
    if (refuseWith != kWaveOk) {
        error = "The virtual device refused to open (code " + std::to_string(refuseWith) + ")";
        return refuseWith;
    }
    if (format.formatTag != 1 || format.channels == 0 || format.sampleRate == 0 || format.blockAlign == 0) {
        error = "Unsupported format";
        return kWaveBadFormat;
    }
    return kWaveOk;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The link between an owner and its pacing thread

void PacedLink::start(std::function<void()> body) {
    {
        std::lock_guard lock(mutex_);
        quit_ = false;
        pending_ = false;
        queue_.clear();
    }
    thread_ = std::thread(std::move(body));
}

void PacedLink::stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        pending_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

int PacedLink::queue(WaveHeader& header, bool takeNow) {
    if (!running()) {
        return kWaveInvalidHandle;
    }
    const int code = detail::handOver(header);
    if (code != kWaveOk) {
        return code;
    }
    if (takeNow) {
        detail::take(header);
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(&header);
        pending_ = true;
    }
    wake_.notify_all();
    return kWaveOk;
}

int PacedLink::reset() {
    if (!running()) {
        return kWaveInvalidHandle;
    }
    std::unique_lock lock(mutex_);
    const uint32_t wanted = ++resetRequest_;
    pending_ = true;
    wake_.notify_all();
    acknowledged_.wait(lock, [&] { return resetDone_ == wanted; });
    return kWaveOk;
}

void PacedLink::wake() {
    {
        std::lock_guard lock(mutex_);
        pending_ = true;
    }
    wake_.notify_all();
}

void PacedLink::serve(const std::function<void(Clock::time_point)>& returnAll,
                      const std::function<void(std::unique_lock<std::mutex>&, Clock::time_point)>& step) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = Clock::now();
        if (quit_) {
            returnAll(now);
            return;
        }
        if (resetRequest_ != resetDone_) {
            returnAll(now);
            resetDone_ = resetRequest_;
            acknowledged_.notify_all();
            continue;
        }
        step(lock, now);
    }
}

void PacedLink::waitUntil(std::unique_lock<std::mutex>& lock, const Clock::time_point* until) {
    if (until == nullptr) {
        wake_.wait(lock, [&] { return pending_; });
    } else {
        wake_.wait_until(lock, *until, [&] { return pending_; });
    }
    pending_ = false;
}

// ---------------------------------------------------------------------------------------------
// Playback

int PacedWaveOut::open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) {
    if (const int code = refusal(link_.running(), refuseWith_, format, lastError_); code != kWaveOk) {
        return code;
    }
    format_ = format;
    notices_ = std::move(notices);
    doneBytes_ = 0;
    headStartNs_ = -1;
    headBytes_ = 0;
    headPlaying_ = false;
    link_.start([this] { run(); });
    return kWaveOk;
}

void PacedWaveOut::close() { link_.stop(); }

int PacedWaveOut::write(WaveHeader& header) { return link_.queue(header, false); }

int PacedWaveOut::reset() { return link_.reset(); }

uint64_t PacedWaveOut::position() const {
    if (!link_.running()) {
        return 0;
    }
    uint64_t bytes = doneBytes_.load(std::memory_order_acquire);
    const int64_t start = headStartNs_.load(std::memory_order_acquire);
    if (start >= 0) {
        const auto elapsed = std::chrono::nanoseconds(nanosSinceEpoch(Clock::now()) - start);
        bytes += bytesIn(std::chrono::duration_cast<Clock::duration>(elapsed), headBytes_.load(std::memory_order_acquire),
                         format_);
    }
    return bytes;
}

uint32_t PacedWaveOut::playedOfHead(Clock::time_point now) {
    auto& queue = link_.buffers();
    if (!headPlaying_ || queue.empty()) {
        return 0;
    }
    return bytesIn(now - headStart_, queue.front()->bufferLength, format_);
}

void PacedWaveOut::returnAll(Clock::time_point now) {
    auto& queue = link_.buffers();
    bool head = true;
    const uint32_t played = playedOfHead(now);
    while (!queue.empty()) {
        WaveHeader* header = queue.front();
        queue.pop_front();
        if (header->waiting.load() != nullptr) {
            detail::take(*header);
        }
        detail::giveBack(*header);
        notices_->deliver(*header, head ? played : 0);
        head = false;
    }
    headPlaying_ = false;
    headStartNs_.store(-1, std::memory_order_release);
}

void PacedWaveOut::run() {
    auto& queue = link_.buffers();
    link_.serve([this](Clock::time_point now) {
        returnAll(now);
        doneBytes_.store(0, std::memory_order_release);
    }, [this, &queue](std::unique_lock<std::mutex>& lock, Clock::time_point now) {
        if (queue.empty()) {
            // Ran dry: the clock stops until the next buffer comes.
            headPlaying_ = false;
            headStartNs_.store(-1, std::memory_order_release);
            link_.waitUntil(lock, nullptr);
            return;
        }
        WaveHeader* head = queue.front();
        if (!headPlaying_) {
            headPlaying_ = true;
            headStart_ = now;
            detail::take(*head); // it plays now: too late to swap its data
            headBytes_.store(head->bufferLength, std::memory_order_release);
            headStartNs_.store(nanosSinceEpoch(headStart_), std::memory_order_release);
        }
        const auto due = headStart_ + durationOf(head->bufferLength, format_);
        if (now < due) {
            link_.waitUntil(lock, &due);
            return;
        }
        queue.pop_front();
        doneBytes_.fetch_add(head->bufferLength, std::memory_order_acq_rel);
        detail::giveBack(*head);
        notices_->deliver(*head, head->bufferLength);
        // The next buffer follows without a gap when it is already queued.
        if (queue.empty()) {
            headPlaying_ = false;
            headStartNs_.store(-1, std::memory_order_release);
        } else {
            WaveHeader* next = queue.front();
            headStart_ = due;
            detail::take(*next);
            headBytes_.store(next->bufferLength, std::memory_order_release);
            headStartNs_.store(nanosSinceEpoch(headStart_), std::memory_order_release);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Capture

int PacedWaveIn::open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) {
    if (const int code = refusal(link_.running(), refuseWith_, format, lastError_); code != kWaveOk) {
        return code;
    }
    format_ = format;
    notices_ = std::move(notices);
    startRequested_ = false;
    capturing_ = false;
    link_.start([this] { run(); });
    return kWaveOk;
}

void PacedWaveIn::close() { link_.stop(); }

int PacedWaveIn::addBuffer(WaveHeader& header) { return link_.queue(header, true); }

int PacedWaveIn::start() {
    if (!link_.running()) {
        return kWaveInvalidHandle;
    }
    startRequested_.store(true, std::memory_order_release);
    link_.wake();
    return kWaveOk;
}

int PacedWaveIn::reset() { return link_.reset(); }

void PacedWaveIn::giveBackHead(uint32_t bytes) {
    auto& queue = link_.buffers();
    WaveHeader* header = queue.front();
    queue.pop_front();
    // Silence: the middle of the range for 8-bit (unsigned) samples, zero for the others.
    std::memset(header->data, format_.bitsPerSample == 8 ? 0x80 : 0, bytes);
    header->bytesRecorded = bytes;
    detail::giveBack(*header);
    notices_->deliver(*header, bytes);
}

void PacedWaveIn::returnAll(Clock::time_point now) {
    auto& queue = link_.buffers();
    if (!queue.empty()) {
        giveBackHead(capturing_ ? bytesIn(now - headStart_, queue.front()->bufferLength, format_) : 0);
    }
    while (!queue.empty()) {
        giveBackHead(0);
    }
    capturing_ = false;
    startRequested_.store(false, std::memory_order_release);
}

void PacedWaveIn::run() {
    auto& queue = link_.buffers();
    link_.serve([this](Clock::time_point now) { returnAll(now); },
                [this, &queue](std::unique_lock<std::mutex>& lock, Clock::time_point now) {
        if (!capturing_ && startRequested_.load(std::memory_order_acquire)) {
            capturing_ = true;
            headStart_ = now;
        }
        if (!capturing_ || queue.empty()) {
            // Not started, or no buffer to fill: what comes meanwhile is lost, as on a card.
            link_.waitUntil(lock, nullptr);
            if (capturing_) {
                headStart_ = Clock::now();
            }
            return;
        }
        const auto due = headStart_ + durationOf(queue.front()->bufferLength, format_);
        if (now < due) {
            link_.waitUntil(lock, &due);
            return;
        }
        giveBackHead(queue.front()->bufferLength / format_.blockAlign * format_.blockAlign);
        headStart_ = due;
    });
}

// ---------------------------------------------------------------------------------------------
// The program's devices

std::vector<WaveDeviceInfo> PacedDeviceProvider::outputs() { return VirtualDeviceProvider().outputs(); }

std::vector<WaveDeviceInfo> PacedDeviceProvider::inputs() { return VirtualDeviceProvider().inputs(); }

std::unique_ptr<WaveOutDevice> PacedDeviceProvider::createOutput(int id) {
    return std::make_unique<PacedWaveOut>(id < -1 || id > 0 ? kWaveBadDeviceId : kWaveOk);
}

std::unique_ptr<WaveInDevice> PacedDeviceProvider::createInput(int id) {
    return std::make_unique<PacedWaveIn>(id < -1 || id > 0 ? kWaveBadDeviceId : kWaveOk);
}

} // namespace cleavix::audio
