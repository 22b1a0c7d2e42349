#include "audio/VirtualWaveDevice.h"

#include <algorithm>
#include <cstring>

namespace cleavix::audio {

int VirtualWaveOut::open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) {
    if (open_) {
        return kWaveAllocated;
    }
    if (refuseWith_ != kWaveOk) {
        lastError_ = "The virtual device refused to open (code " + std::to_string(refuseWith_) + ")";
        return refuseWith_;
    }
    if (format.formatTag != 1 || format.channels == 0 || format.sampleRate == 0 || format.blockAlign == 0) {
        lastError_ = "Unsupported format";
        return kWaveBadFormat;
    }
    format_ = format;
    notices_ = std::move(notices);
    open_ = true;
    position_ = 0;
    return kWaveOk;
}

void VirtualWaveOut::close() {
    if (!open_) {
        return;
    }
    reset();
    open_ = false;
}

int VirtualWaveOut::write(WaveHeader& header) {
    if (!open_) {
        return kWaveInvalidHandle;
    }
    const int code = detail::handOver(header);
    if (code == kWaveOk) {
        queue_.push_back(&header);
    }
    return code;
}

void VirtualWaveOut::giveBack(WaveHeader& header, uint32_t bytes) {
    detail::giveBack(header);
    notices_->deliver(header, bytes);
}

int VirtualWaveOut::reset() {
    if (!open_) {
        return kWaveInvalidHandle;
    }
    ++resets_;
    while (!queue_.empty()) {
        WaveHeader* header = queue_.front();
        queue_.pop_front();
        if (header->waiting.load() != nullptr) {
            detail::take(*header);
        }
        giveBack(*header, 0);
    }
    headData_ = nullptr;
    headOffset_ = 0;
    position_ = 0;
    return kWaveOk;
}

uint64_t VirtualWaveOut::advance(uint64_t bytes) {
    uint64_t done = 0;
    const uint32_t frame = std::max<uint32_t>(1, format_.blockAlign);
    bytes -= bytes % frame;
    while (open_ && !queue_.empty()) {
        WaveHeader* header = queue_.front();
        if (!headData_) {
            headData_ = detail::take(*header);
            headOffset_ = 0;
        }
        const uint32_t length = header->bufferLength / frame * frame;
        const uint64_t n = std::min<uint64_t>(length - headOffset_, bytes - done);
        if (n > 0) {
            const size_t at = played_.size();
            played_.insert(played_.end(), headData_ + headOffset_, headData_ + headOffset_ + n);
            applyVolume(played_.data() + at, n, format_, volume_.load());
            headOffset_ += static_cast<uint32_t>(n);
            done += n;
            position_ += n;
        }
        if (headOffset_ < length) {
            break; // the clock stopped inside this buffer
        }
        queue_.pop_front();
        headData_ = nullptr;
        giveBack(*header, header->bufferLength);
    }
    return done;
}

uint64_t VirtualWaveOut::advanceMs(double ms) {
    return advance(static_cast<uint64_t>(ms * format_.sampleRate / 1000.0) * format_.blockAlign);
}

int VirtualWaveIn::open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) {
    if (open_) {
        return kWaveAllocated;
    }
    if (refuseWith_ != kWaveOk) {
        lastError_ = "The virtual device refused to open (code " + std::to_string(refuseWith_) + ")";
        return refuseWith_;
    }
    format_ = format;
    notices_ = std::move(notices);
    open_ = true;
    started_ = false;
    return kWaveOk;
}

void VirtualWaveIn::close() {
    if (!open_) {
        return;
    }
    reset();
    open_ = false;
}

int VirtualWaveIn::addBuffer(WaveHeader& header) {
    if (!open_) {
        return kWaveInvalidHandle;
    }
    const int code = detail::handOver(header);
    if (code == kWaveOk) {
        detail::take(header);
        queue_.push_back(&header);
    }
    return code;
}

int VirtualWaveIn::start() {
    if (!open_) {
        return kWaveInvalidHandle;
    }
    started_ = true;
    return kWaveOk;
}

int VirtualWaveIn::reset() {
    if (!open_) {
        return kWaveInvalidHandle;
    }
    bool head = true;
    while (!queue_.empty()) {
        WaveHeader* header = queue_.front();
        queue_.pop_front();
        header->bytesRecorded = head ? headOffset_ : 0;
        head = false;
        detail::giveBack(*header);
        notices_->deliver(*header, header->bytesRecorded);
    }
    headOffset_ = 0;
    started_ = false;
    return kWaveOk;
}

size_t VirtualWaveIn::feed(const uint8_t* data, size_t bytes) {
    size_t done = 0;
    while (open_ && started_ && done < bytes && !queue_.empty()) {
        WaveHeader* header = queue_.front();
        const size_t n = std::min<size_t>(header->bufferLength - headOffset_, bytes - done);
        std::memcpy(header->data + headOffset_, data + done, n);
        headOffset_ += static_cast<uint32_t>(n);
        done += n;
        if (headOffset_ == header->bufferLength) {
            queue_.pop_front();
            header->bytesRecorded = headOffset_;
            headOffset_ = 0;
            detail::giveBack(*header);
            notices_->deliver(*header, header->bytesRecorded);
        }
    }
    return done;
}

std::vector<WaveDeviceInfo> VirtualDeviceProvider::outputs() {
    return {{-1, "virtual-default", "Virtual Default"}, {0, "virtual-0", "Virtual Output 0"}};
}

std::vector<WaveDeviceInfo> VirtualDeviceProvider::inputs() {
    return {{-1, "virtual-default", "Virtual Default"}, {0, "virtual-0", "Virtual Input 0"}};
}

std::unique_ptr<WaveOutDevice> VirtualDeviceProvider::createOutput(int id) {
    auto device = std::make_unique<VirtualWaveOut>(id < -1 || id > 0 ? kWaveBadDeviceId : refuseWith);
    lastOutput = device.get();
    ++outputsMade;
    return device;
}

std::unique_ptr<WaveInDevice> VirtualDeviceProvider::createInput(int id) {
    auto device = std::make_unique<VirtualWaveIn>(id < -1 || id > 0 ? kWaveBadDeviceId : refuseWith);
    lastInput = device.get();
    return device;
}

} // namespace cleavix::audio
