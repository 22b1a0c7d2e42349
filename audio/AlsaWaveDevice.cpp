#include "audio/AlsaWaveDevice.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace cleavix::audio {

namespace {

// How much ALSA itself buffers: short enough that a stop is heard at once and a buffer's notice
// comes close to the moment it was heard, long enough to ride out a busy main thread.
constexpr unsigned kBufferMicros = 200000;
constexpr unsigned kPeriodMicros = 50000;
// Bytes scaled at a time when the volume is not full.
constexpr size_t kScratchBytes = 16384;
// Added devices are numbered from here in both lists.
constexpr int kFirstAddedId = 1000;

void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// alsa-lib prints its own diagnostics to standard error; ours carry the result code instead.
void quietAlsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&silentAlsaErrors); });
}

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string truncated(std::string text) {
    if (text.size() > 32) {
        text.resize(32);
    }
    return text;
}

bool alsaFormat(uint16_t bits, snd_pcm_format_t& format) {
    switch (bits) {
    case 8:
        format = SND_PCM_FORMAT_U8;
        return true;
    case 16:
        format = SND_PCM_FORMAT_S16_LE;
        return true;
    case 24:
        format = SND_PCM_FORMAT_S24_3LE;
        return true;
    case 32:
        format = SND_PCM_FORMAT_S32_LE;
        return true;
    default:
        return false;
    }
}

// Opens and configures a PCM; on failure closes it, sets `error` and returns the result code.
int openPcm(const std::string& name, snd_pcm_stream_t stream, const WaveFormat& format, snd_pcm_t*& pcm,
            std::string& error, uint32_t* periodFrames = nullptr) {
    quietAlsa();
    pcm = nullptr;
    if (name.empty()) {
        error = "No such device";
        return kWaveBadDeviceId;
    }
    snd_pcm_format_t pcmFormat{};
    if (format.formatTag != 1 || format.channels == 0 || format.sampleRate == 0 ||
        !alsaFormat(format.bitsPerSample, pcmFormat)) {
        error = "Unsupported format: " + std::to_string(format.channels) + " channels, " +
                std::to_string(format.sampleRate) + " Hz, " + std::to_string(format.bitsPerSample) + " bits";
        return kWaveBadFormat;
    }
    int err = snd_pcm_open(&pcm, name.c_str(), stream, SND_PCM_NONBLOCK);
    if (err < 0) {
        pcm = nullptr;
        error = "Cannot open " + name + ": " + snd_strerror(err);
        return waveResultFromAlsa(err, false);
    }
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    const char* step = "";
    bool formatStep = true;
    unsigned rate = format.sampleRate;
    unsigned bufferTime = kBufferMicros;
    unsigned periodTime = kPeriodMicros;
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0) {
        step = "no configurations";
    } else if ((err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1)) < 0) {
        step = "resampling";
    } else if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) {
        step = "interleaved access";
    } else if ((err = snd_pcm_hw_params_set_format(pcm, hw, pcmFormat)) < 0) {
        step = "sample format";
    } else if ((err = snd_pcm_hw_params_set_channels(pcm, hw, format.channels)) < 0) {
        step = "channel count";
    } else if ((err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0)) < 0) {
        step = "sample rate";
    } else {
        formatStep = false;
        int dir = 0;
        if ((err = snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferTime, &dir)) < 0) {
            step = "buffer time";
        } else if ((err = snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodTime, &dir)) < 0) {
            step = "period time";
        } else if ((err = snd_pcm_hw_params(pcm, hw)) < 0) {
            step = "hardware parameters";
        }
    }
    if (err >= 0) {
        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_uframes_t bufferSize = 0;
        snd_pcm_uframes_t periodSize = 0;
        snd_pcm_get_params(pcm, &bufferSize, &periodSize);
        if (periodFrames) {
            *periodFrames = static_cast<uint32_t>(std::max<snd_pcm_uframes_t>(1, periodSize));
        }
        if ((err = snd_pcm_sw_params_current(pcm, sw)) >= 0) {
            snd_pcm_sw_params_set_avail_min(pcm, sw, periodSize);
            snd_pcm_sw_params_set_start_threshold(pcm, sw, stream == SND_PCM_STREAM_PLAYBACK ? bufferSize : 1);
            err = snd_pcm_sw_params(pcm, sw);
        }
        if (err < 0) {
            step = "software parameters";
        }
    }
    if (err < 0) {
        error = "Cannot set " + std::string(step) + " on " + name + ": " + snd_strerror(err);
        snd_pcm_close(pcm);
        pcm = nullptr;
        return formatStep ? kWaveBadFormat : waveResultFromAlsa(err, true);
    }
    return kWaveOk;
}

void pollWith(snd_pcm_t* pcm, int wakeFd, bool forPcm, int timeoutMs) {
    struct pollfd fds[9];
    int count = 0;
    fds[count++] = {wakeFd, POLLIN, 0};
    if (forPcm) {
        const int n = snd_pcm_poll_descriptors(pcm, fds + 1, 8);
        if (n > 0) {
            count += n;
        }
    }
    ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    if (fds[0].revents & POLLIN) {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd, &value, sizeof value);
    }
}

void wakeFd(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t put = ::write(fd, &one, sizeof one);
}

} // namespace

int waveResultFromAlsa(int alsaError, bool configuring) {
    switch (-alsaError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return kWaveBadDeviceId;
    case EBUSY:
    case EAGAIN:
        return kWaveAllocated;
    case ENOMEM:
        return kWaveNoMem;
    case EINVAL:
        return configuring ? kWaveBadFormat : kWaveInvalidParam;
    default:
        return kWaveError;
    }
}

// ---------------------------------------------------------------------------------------------
// The link between an owner and its ALSA thread

int AlsaLink::open(const std::string& name, bool capture, const WaveFormat& format, std::string& error,
                   uint32_t* periodFrames) {
    const int code = openPcm(name, capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK, format, pcm, error,
                             periodFrames);
    if (code != kWaveOk) {
        return code;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        error = std::string("Cannot create an event: ") + std::strerror(errno);
        snd_pcm_close(pcm);
        pcm = nullptr;
        return kWaveNoMem;
    }
    quit_ = false;
    return kWaveOk;
}

void AlsaLink::startThread(std::function<void()> body) { thread_ = std::thread(std::move(body)); }

void AlsaLink::close() {
    if (!pcm) {
        return;
    }
    quit_.store(true, std::memory_order_release);
    wake();
    thread_.join();
    snd_pcm_close(pcm);
    pcm = nullptr;
    ::close(wakeFd_);
    wakeFd_ = -1;
}

int AlsaLink::queue(WaveHeader& header) {
    if (!pcm) {
        return kWaveInvalidHandle;
    }
    const int code = detail::handOver(header);
    if (code != kWaveOk) {
        return code;
    }
    if (!queue_.push(&header)) {
        detail::take(header);
        detail::giveBack(header);
        return kWaveNoMem;
    }
    wake();
    return kWaveOk;
}

int AlsaLink::reset() {
    if (!pcm) {
        return kWaveInvalidHandle;
    }
    const uint32_t wanted = resetRequest_.fetch_add(1, std::memory_order_acq_rel) + 1;
    wake();
    uint32_t seen = resetDone_.load(std::memory_order_acquire);
    while (seen != wanted) {
        resetDone_.wait(seen, std::memory_order_acquire);
        seen = resetDone_.load(std::memory_order_acquire);
    }
    return kWaveOk;
}

void AlsaLink::wake() const { wakeFd(wakeFd_); }

void AlsaLink::wait(bool forPcm, int timeoutMs) { pollWith(pcm, wakeFd_, forPcm, timeoutMs); }

bool AlsaLink::resetRequested(uint32_t& which) const {
    which = resetRequest_.load(std::memory_order_acquire);
    return which != resetDone_.load(std::memory_order_relaxed);
}

void AlsaLink::acknowledgeReset(uint32_t which) {
    resetDone_.store(which, std::memory_order_release);
    resetDone_.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Playback

AlsaWaveOut::AlsaWaveOut(std::string pcmName) : pcmName_(std::move(pcmName)) {}

AlsaWaveOut::~AlsaWaveOut() { close(); }

int AlsaWaveOut::open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) {
    if (link_.isOpen()) {
        return kWaveAllocated;
    }
    format_ = format;
    const int code = link_.open(pcmName_, false, format, lastError_);
    if (code != kWaveOk) {
        return code;
    }
    pcm_ = link_.pcm;
    notices_ = std::move(notices);
    failed_ = false;
    framesWritten_ = framesPlayed_ = 0;
    playedFrames_ = writtenFrames_ = 0;
    running_ = false;
    scratch_.resize(kScratchBytes);
    link_.startThread([this] { run(); });
    return kWaveOk;
}

void AlsaWaveOut::close() { link_.close(); }

int AlsaWaveOut::write(WaveHeader& header) { return link_.queue(header); }

int AlsaWaveOut::reset() { return link_.reset(); }

uint64_t AlsaWaveOut::position() const {
    if (!link_.isOpen()) {
        return 0;
    }
    uint64_t frames = playedFrames_.load(std::memory_order_acquire);
    if (running_.load(std::memory_order_acquire)) {
        // Between the ALSA thread's looks the hardware keeps playing: extrapolate by the clock,
        // never past what was handed over.
        const int64_t since = nowNs() - playedStampNs_.load(std::memory_order_acquire);
        if (since > 0) {
            frames += static_cast<uint64_t>(since) * format_.sampleRate / 1000000000ull;
        }
        frames = std::min(frames, writtenFrames_.load(std::memory_order_acquire));
    }
    return frames * format_.blockAlign;
}

uint64_t AlsaWaveOut::bytesHandedToAlsa() const {
    return writtenFrames_.load(std::memory_order_acquire) * format_.blockAlign;
}

void AlsaWaveOut::returnAll() {
    // Oldest first: what ALSA holds, the buffer being handed over, then the queue.
    for (const Written& written : written_) {
        detail::giveBack(*written.header);
        notices_->deliver(*written.header, written.header->bufferLength);
    }
    written_.clear();
    if (current_) {
        WaveHeader* header = current_;
        current_ = nullptr;
        detail::giveBack(*header);
        notices_->deliver(*header, currentOffset_);
    }
    while (auto next = link_.pop()) {
        detail::take(**next);
        detail::giveBack(**next);
        notices_->deliver(**next, 0);
    }
}

void AlsaWaveOut::fail(const std::string& what, int error) {
    // Written once; the owner reads it only after the notices that follow.
    if (!failed_) {
        lastError_ = what + ": " + snd_strerror(error);
    }
    failed_ = true;
    snd_pcm_drop(pcm_);
    running_.store(false, std::memory_order_release);
    returnAll();
}

void AlsaWaveOut::updatePlayed(bool mayStart) {
    snd_pcm_state_t state = snd_pcm_state(pcm_);
    if (mayStart && state == SND_PCM_STATE_PREPARED && framesWritten_ > framesPlayed_) {
        snd_pcm_start(pcm_);
        state = snd_pcm_state(pcm_);
    }
    snd_pcm_sframes_t delay = 0;
    uint64_t played = framesWritten_;
    if (state == SND_PCM_STATE_XRUN) {
        // Ran dry: everything handed over has been heard.
        snd_pcm_prepare(pcm_);
    } else if (snd_pcm_delay(pcm_, &delay) == 0 && delay > 0) {
        played = framesWritten_ - std::min<uint64_t>(framesWritten_, static_cast<uint64_t>(delay));
    }
    framesPlayed_ = std::max(framesPlayed_, played);
    while (!written_.empty() && written_.front().endFrame <= framesPlayed_) {
        WaveHeader* header = written_.front().header;
        written_.pop_front();
        detail::giveBack(*header);
        notices_->deliver(*header, header->bufferLength);
    }
    playedStampNs_.store(nowNs(), std::memory_order_release);
    playedFrames_.store(framesPlayed_, std::memory_order_release);
    writtenFrames_.store(framesWritten_, std::memory_order_release);
    running_.store(snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING, std::memory_order_release);
}

void AlsaWaveOut::run() {
    const uint32_t frameBytes = format_.blockAlign;
    for (;;) {
        if (link_.quitting()) {
            snd_pcm_drop(pcm_);
            returnAll();
            return;
        }
        uint32_t resets = 0;
        if (link_.resetRequested(resets)) {
            snd_pcm_drop(pcm_);
            returnAll();
            if (!failed_) {
                snd_pcm_prepare(pcm_);
            }
            framesWritten_ = framesPlayed_ = 0;
            playedFrames_.store(0, std::memory_order_release);
            writtenFrames_.store(0, std::memory_order_release);
            running_.store(false, std::memory_order_release);
            link_.acknowledgeReset(resets);
            continue;
        }
        if (failed_) {
            // A device that failed gives every buffer straight back, so nobody waits on it.
            returnAll();
            link_.wait(false, -1);
            continue;
        }
        if (!current_) {
            if (auto next = link_.pop()) {
                current_ = *next;
                currentData_ = detail::take(*current_);
                currentOffset_ = 0;
            }
        }
        bool blocked = false;
        if (current_) {
            const uint32_t left = (current_->bufferLength - currentOffset_) / frameBytes * frameBytes;
            if (left == 0) {
                written_.push_back({current_, framesWritten_});
                current_ = nullptr;
                updatePlayed(false);
                continue;
            }
            const uint8_t* from = currentData_ + currentOffset_;
            uint32_t chunk = left;
            const uint32_t volume = volume_.load(std::memory_order_relaxed);
            if (volume != kFullVolume) {
                chunk = std::min<uint32_t>(left, static_cast<uint32_t>(scratch_.size() / frameBytes * frameBytes));
                std::memcpy(scratch_.data(), from, chunk);
                applyVolume(scratch_.data(), chunk, format_, volume);
                from = scratch_.data();
            }
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, from, chunk / frameBytes);
            if (n > 0) {
                currentOffset_ += static_cast<uint32_t>(n) * frameBytes;
                framesWritten_ += static_cast<uint64_t>(n);
                writtenFrames_.store(framesWritten_, std::memory_order_release);
                updatePlayed(false);
                continue;
            }
            if (n == -EAGAIN || n == 0) {
                blocked = true;
            } else if (n == -EPIPE || n == -ESTRPIPE) {
                if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
                    fail("Cannot recover " + pcmName_, static_cast<int>(n));
                }
                continue;
            } else {
                fail("Cannot write to " + pcmName_, static_cast<int>(n));
                continue;
            }
        }
        // Nothing more to hand over now: make sure what was handed over plays, and wait.
        updatePlayed(true);
        if (blocked) {
            link_.wait(true, -1);
        } else if (!written_.empty()) {
            const uint64_t framesLeft = written_.front().endFrame - std::min(written_.front().endFrame, framesPlayed_);
            const uint64_t ms = framesLeft * 1000 / std::max<uint32_t>(1, format_.sampleRate) + 1;
            link_.wait(false, static_cast<int>(std::min<uint64_t>(ms, kPeriodMicros / 1000)));
        } else {
            link_.wait(false, -1);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Capture

AlsaWaveIn::AlsaWaveIn(std::string pcmName) : pcmName_(std::move(pcmName)) {}

AlsaWaveIn::~AlsaWaveIn() { close(); }

int AlsaWaveIn::open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) {
    if (link_.isOpen()) {
        return kWaveAllocated;
    }
    format_ = format;
    const int code = link_.open(pcmName_, true, format, lastError_, &periodFrames_);
    if (code != kWaveOk) {
        return code;
    }
    pcm_ = link_.pcm;
    notices_ = std::move(notices);
    startRequested_ = false;
    started_ = false;
    failed_ = false;
    link_.startThread([this] { run(); });
    return kWaveOk;
}

void AlsaWaveIn::close() { link_.close(); }

int AlsaWaveIn::addBuffer(WaveHeader& header) { return link_.queue(header); }

int AlsaWaveIn::start() {
    if (!link_.isOpen()) {
        return kWaveInvalidHandle;
    }
    startRequested_.store(true, std::memory_order_release);
    link_.wake();
    return kWaveOk;
}

int AlsaWaveIn::reset() { return link_.reset(); }

void AlsaWaveIn::returnAll() {
    if (current_) {
        WaveHeader* header = current_;
        current_ = nullptr;
        header->bytesRecorded = currentOffset_;
        detail::giveBack(*header);
        notices_->deliver(*header, currentOffset_);
    }
    while (auto next = link_.pop()) {
        detail::take(**next);
        (*next)->bytesRecorded = 0;
        detail::giveBack(**next);
        notices_->deliver(**next, 0);
    }
}

void AlsaWaveIn::fail(const std::string& what, int error) {
    if (!failed_) {
        lastError_ = what + ": " + snd_strerror(error);
    }
    failed_ = true;
    snd_pcm_drop(pcm_);
    returnAll();
}

void AlsaWaveIn::run() {
    const uint32_t frameBytes = format_.blockAlign;
    for (;;) {
        if (link_.quitting()) {
            snd_pcm_drop(pcm_);
            returnAll();
            return;
        }
        uint32_t resets = 0;
        if (link_.resetRequested(resets)) {
            snd_pcm_drop(pcm_);
            returnAll();
            if (!failed_) {
                snd_pcm_prepare(pcm_);
            }
            started_ = false;
            startRequested_.store(false, std::memory_order_release);
            link_.acknowledgeReset(resets);
            continue;
        }
        if (failed_) {
            returnAll();
            link_.wait(false, -1);
            continue;
        }
        if (!started_) {
            if (!startRequested_.load(std::memory_order_acquire)) {
                link_.wait(false, -1);
                continue;
            }
            const int err = snd_pcm_start(pcm_);
            if (err < 0) {
                fail("Cannot start " + pcmName_, err);
                continue;
            }
            started_ = true;
        }
        if (!current_) {
            if (auto next = link_.pop()) {
                current_ = *next;
                detail::take(*current_);
                currentOffset_ = 0;
            } else {
                link_.wait(false, -1);
                continue;
            }
        }
        // A period at a time: some plugins (the file plugin's infile) take no more per read.
        const uint32_t room = std::min((current_->bufferLength - currentOffset_) / frameBytes, periodFrames_);
        if (room == 0) {
            WaveHeader* header = current_;
            current_ = nullptr;
            header->bytesRecorded = currentOffset_;
            detail::giveBack(*header);
            notices_->deliver(*header, currentOffset_);
            continue;
        }
        const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, current_->data + currentOffset_, room);
        if (n > 0) {
            currentOffset_ += static_cast<uint32_t>(n) * frameBytes;
        } else if (n == -EAGAIN || n == 0) {
            link_.wait(true, -1);
        } else if (n == -EPIPE || n == -ESTRPIPE) {
            // Overrun: the input ran ahead of the queued buffers; carry on from now.
            if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0 || snd_pcm_start(pcm_) < 0) {
                fail("Cannot recover " + pcmName_, static_cast<int>(n));
            }
        } else {
            fail("Cannot read from " + pcmName_, static_cast<int>(n));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Device lists

AlsaDeviceProvider::AlsaDeviceProvider() { quietAlsa(); }

std::vector<WaveDeviceInfo> AlsaDeviceProvider::list(bool capture) {
    std::vector<WaveDeviceInfo> devices;
    devices.push_back({-1, "default", "Default"});
    int id = 0;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        snd_ctl_t* ctl = nullptr;
        const std::string ctlName = "hw:" + std::to_string(card);
        if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0) {
            continue;
        }
        snd_ctl_card_info_t* cardInfo = nullptr;
        snd_ctl_card_info_alloca(&cardInfo);
        std::string cardName = ctlName;
        if (snd_ctl_card_info(ctl, cardInfo) == 0) {
            cardName = snd_ctl_card_info_get_name(cardInfo);
        }
        int device = -1;
        while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
            snd_pcm_info_t* info = nullptr;
            snd_pcm_info_alloca(&info);
            snd_pcm_info_set_device(info, static_cast<unsigned>(device));
            snd_pcm_info_set_subdevice(info, 0);
            snd_pcm_info_set_stream(info, capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK);
            if (snd_ctl_pcm_info(ctl, info) < 0) {
                continue;
            }
            devices.push_back({id++, "plughw:" + std::to_string(card) + "," + std::to_string(device),
                               truncated(cardName + ": " + snd_pcm_info_get_name(info))});
        }
        snd_ctl_close(ctl);
    }
    devices.push_back({id++, "null", "Null"});
    for (const auto& added : added_) {
        devices.push_back(added);
    }
    return devices;
}

std::vector<WaveDeviceInfo> AlsaDeviceProvider::outputs() { return list(false); }

std::vector<WaveDeviceInfo> AlsaDeviceProvider::inputs() { return list(true); }

std::string AlsaDeviceProvider::nameOf(int id, bool capture) {
    for (const auto& device : list(capture)) {
        if (device.id == id) {
            return device.name;
        }
    }
    return {};
}

std::unique_ptr<WaveOutDevice> AlsaDeviceProvider::createOutput(int id) {
    return std::make_unique<AlsaWaveOut>(nameOf(id, false));
}

std::unique_ptr<WaveInDevice> AlsaDeviceProvider::createInput(int id) {
    return std::make_unique<AlsaWaveIn>(nameOf(id, true));
}

int AlsaDeviceProvider::addDevice(const std::string& pcmName) {
    for (const auto& added : added_) {
        if (added.name == pcmName) {
            return added.id;
        }
    }
    const int id = kFirstAddedId + static_cast<int>(added_.size());
    added_.push_back({id, pcmName, truncated(pcmName)});
    return id;
}

std::unique_ptr<WaveDeviceProvider> makeDefaultWaveDevices() { return std::make_unique<AlsaDeviceProvider>(); }

} // namespace cleavix::audio
