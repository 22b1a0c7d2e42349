#include "audio/MeterData.h"

#include <algorithm>
#include <cstdlib>

namespace cleavix::audio {

namespace {

constexpr int kMonitorBuffers = 4;
constexpr uint32_t kMonitorMs = 25;

} // namespace

TMeterData::~TMeterData() {
    if (notices_) {
        notices_->disarm();
    }
    stopMonitor();
}

bool TMeterData::SetActive(bool on) {
    if (on == active_) {
        return true;
    }
    if (!on) {
        stopMonitor();
        controls_.clear();
        window_.clear();
        windowFrames_ = 0;
        active_ = false;
        return true;
    }
    controls_.push_back(std::make_unique<TMeterControl>(*this, "Input Peak"));
    active_ = true;
    if (devices_ && !suspended_ && !startMonitor()) {
        SetActive(false);
        return false;
    }
    return true;
}

bool TMeterData::ReadLevel(const TMeterControl& control, int32_t& left, int32_t& right) const {
    if (!active_ || &control.owner() != this) {
        return false;
    }
    int32_t l = 0;
    int32_t r = 0;
    for (const Block& block : window_) {
        l = std::max(l, block.left);
        r = std::max(r, block.right);
    }
    left = l;
    right = r;
    return true;
}

void TMeterData::feed(const uint8_t* data, size_t bytes, uint16_t channels, uint32_t sampleRate) {
    if (!active_ || channels == 0 || sampleRate == 0) {
        return;
    }
    const size_t frameBytes = channels * 2u;
    const size_t frames = bytes / frameBytes;
    const uint32_t blockFrames = std::max<uint32_t>(1, sampleRate / 100); // 10 ms blocks
    const uint64_t windowLimit = std::max<uint32_t>(1, sampleRate / 10); // 100 ms
    for (size_t first = 0; first < frames; first += blockFrames) {
        const size_t count = std::min<size_t>(blockFrames, frames - first);
        Block block{static_cast<uint32_t>(count), 0, 0};
        for (size_t f = first; f < first + count; ++f) {
            const uint8_t* p = data + f * frameBytes;
            const int32_t l = std::abs(static_cast<int32_t>(static_cast<int16_t>(p[0] | (p[1] << 8))));
            const int32_t r =
                channels > 1 ? std::abs(static_cast<int32_t>(static_cast<int16_t>(p[2] | (p[3] << 8)))) : l;
            block.left = std::max(block.left, l);
            block.right = std::max(block.right, r);
        }
        window_.push_back(block);
        windowFrames_ += count;
        while (!window_.empty() && windowFrames_ - window_.front().frames >= windowLimit) {
            windowFrames_ -= window_.front().frames;
            window_.pop_front();
        }
    }
}

void TMeterData::setMonitorInput(jobs::Dispatcher& dispatcher, WaveDeviceProvider& devices, int inputId,
                                 uint16_t channels, uint32_t sampleRate) {
    stopMonitor();
    dispatcher_ = &dispatcher;
    devices_ = &devices;
    inputId_ = inputId;
    channels_ = channels;
    sampleRate_ = sampleRate;
    if (!notices_) {
        notices_ = NoticeChannel::posted(dispatcher, [this](WaveHeader& h, uint32_t b) { monitorNotice(h, b); });
    }
    if (active_ && !suspended_) {
        startMonitor();
    }
}

bool TMeterData::startMonitor() {
    if (monitor_ || !devices_) {
        return monitor_ != nullptr;
    }
    monitor_ = devices_->createInput(inputId_);
    if (monitor_->open(WaveFormat::pcm(channels_, sampleRate_, 16), notices_) != kWaveOk) {
        monitor_.reset();
        return false;
    }
    const uint32_t bytes = std::max<uint32_t>(1, sampleRate_ * kMonitorMs / 1000) * channels_ * 2u;
    monitorBlocks_.assign(kMonitorBuffers, std::vector<uint8_t>(bytes));
    monitorHeaders_.clear();
    for (int i = 0; i < kMonitorBuffers; ++i) {
        auto header = std::make_unique<WaveHeader>();
        header->data = monitorBlocks_[static_cast<size_t>(i)].data();
        header->bufferLength = bytes;
        monitor_->prepare(*header);
        monitor_->addBuffer(*header);
        monitorHeaders_.push_back(std::move(header));
    }
    monitor_->start();
    return true;
}

void TMeterData::stopMonitor() {
    if (!monitor_) {
        return;
    }
    monitor_->close();
    monitor_.reset();
    // Notices of the buffers just given back may still be queued; they find no monitor and are
    // dropped, so the blocks can go once the channel is renewed.
    if (notices_ && dispatcher_) {
        notices_->disarm();
        notices_ = NoticeChannel::posted(*dispatcher_, [this](WaveHeader& h, uint32_t b) { monitorNotice(h, b); });
    }
    monitorHeaders_.clear();
    monitorBlocks_.clear();
}

void TMeterData::monitorNotice(WaveHeader& header, uint32_t bytes) {
    if (!monitor_) {
        return;
    }
    feed(header.data, bytes, channels_, sampleRate_);
    monitor_->addBuffer(header);
}

void TMeterData::suspendMonitor() {
    suspended_ = true;
    stopMonitor();
}

void TMeterData::resumeMonitor() {
    suspended_ = false;
    if (active_ && devices_) {
        startMonitor();
    }
}

} // namespace cleavix::audio
