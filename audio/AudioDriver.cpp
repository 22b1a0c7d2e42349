#include "audio/AudioDriver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace cleavix::audio {

void CountingSemaphore::release() {
    {
        std::lock_guard lock(mutex_);
        if (count_ >= maximum_) {
            return;
        }
        ++count_;
    }
    changed_.notify_one();
}

bool CountingSemaphore::acquireFor(int milliseconds) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return count_ > 0; })) {
        return false;
    }
    --count_;
    return true;
}

int CountingSemaphore::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

CWaveBuffer::CWaveBuffer(WaveOutDevice& device, uint32_t bytes)
    : device_(device), block_(std::make_unique<uint8_t[]>(bytes)), capacity_(bytes) {
    header.data = block_.get();
    header.bufferLength = bytes;
    device_.prepare(header);
}

CWaveBuffer::~CWaveBuffer() { device_.unprepare(header); }

TAudioDriver::TAudioDriver(WaveDeviceProvider& devices) : devices_(devices) {}

TAudioDriver::~TAudioDriver() { close(); }

int TAudioDriver::Open(int deviceId, uint16_t channels, uint32_t bufferBytes, uint16_t bits, uint32_t sampleRate) {
    close();
    channels_ = channels;
    sampleRate_ = sampleRate;
    format_ = WaveFormat::pcm(channels, sampleRate, bits);
    device_ = devices_.createOutput(deviceId);
    auto notices = NoticeChannel::direct([this](WaveHeader&, uint32_t) { semaphore_.release(); });
    const int code = device_->open(format_, notices);
    open_ = code == kWaveOk;
    if (!open_) {
        lastError_ = device_->lastError();
    }
    for (auto& buffer : buffers_) {
        buffer = std::make_unique<CWaveBuffer>(*device_, std::max<uint32_t>(bufferBytes, format_.blockAlign));
    }
    current_ = 0;
    needFresh_ = true;
    writeCount_ = 0;
    return code;
}

void TAudioDriver::Write(const uint8_t* data, size_t length) {
    if (!open_) {
        return;
    }
    ++writeCount_;
    while (length > 0) {
        CWaveBuffer& buffer = *buffers_[static_cast<size_t>(current_)];
        if (needFresh_) {
            semaphore_.acquireFor(500);
            if (buffer.header.withDevice()) {
                // The device kept every buffer past the wait: drop this block rather than
                // overwrite audio it still holds.
                dropped_ += length;
                return;
            }
            needFresh_ = false;
            buffer.fill = 0;
        }
        const size_t n = std::min<size_t>(length, buffer.capacity() - buffer.fill);
        std::memcpy(buffer.header.data + buffer.fill, data, n);
        buffer.fill += static_cast<uint32_t>(n);
        data += n;
        length -= n;
        if (buffer.fill < buffer.capacity()) {
            return; // the rest waits for the next call
        }
        buffer.header.bufferLength = buffer.fill;
        device_->write(buffer.header);
        needFresh_ = true;
        current_ = (current_ + 1) % kDriverBuffers;
    }
}

void TAudioDriver::Abandon() {
    if (!device_) {
        return;
    }
    CWaveBuffer& buffer = *buffers_[static_cast<size_t>(current_)];
    if (!needFresh_ && buffer.fill > 0) {
        buffer.fill = 0;
        device_->reset();
        needFresh_ = true;
        current_ = (current_ + 1) % kDriverBuffers;
        // The partial buffer was never queued: its semaphore count comes back here.
        semaphore_.release();
    }
}

void TAudioDriver::Reset() {
    if (!device_) {
        return;
    }
    writeCount_ = 0;
    device_->reset();
    if (!needFresh_) {
        // A partly filled buffer was taken from the semaphore but never queued.
        semaphore_.release();
    }
    for (auto& buffer : buffers_) {
        if (buffer) {
            buffer->fill = 0;
        }
    }
    needFresh_ = true;
    current_ = 0;
    semaphore_.release();
}

void TAudioDriver::close() {
    if (!device_) {
        return;
    }
    device_->reset();
    device_->close();
    for (int i = 0; i < kDriverBuffers; ++i) {
        semaphore_.release();
    }
    for (auto& buffer : buffers_) {
        buffer.reset();
    }
    device_.reset();
    open_ = false;
}

} // namespace cleavix::audio
