#include "audio/WaveDevice.h"

#include <algorithm>
#include <cassert>
#include <charconv>

namespace cleavix::audio {

WaveFormat WaveFormat::pcm(uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample) {
    WaveFormat format;
    format.formatTag = 1;
    format.channels = channels;
    format.sampleRate = sampleRate;
    format.bitsPerSample = bitsPerSample;
    format.blockAlign = static_cast<uint16_t>(channels * ((bitsPerSample + 7u) / 8u));
    format.avgBytesPerSec = format.blockAlign * sampleRate;
    format.extraSize = 0;
    return format;
}

NoticeChannel::NoticeChannel(jobs::Dispatcher* dispatcher, WaveNotice notice, bool direct)
    : dispatcher_(dispatcher), notice_(std::move(notice)), direct_(direct) {}

std::shared_ptr<NoticeChannel> NoticeChannel::posted(jobs::Dispatcher& dispatcher, WaveNotice notice) {
    auto channel = std::make_shared<NoticeChannel>(&dispatcher, std::move(notice), false);
    channel->self_ = channel;
    return channel;
}

std::shared_ptr<NoticeChannel> NoticeChannel::direct(WaveNotice notice) {
    auto channel = std::make_shared<NoticeChannel>(nullptr, std::move(notice), true);
    channel->self_ = channel;
    return channel;
}

void NoticeChannel::deliver(WaveHeader& header, uint32_t bytes) {
    if (direct_) {
        notice_(header, bytes);
        return;
    }
    // The header is the owner's and outlives the channel's use of it; `armed_` is read on the
    // owner's thread, where the notice runs.
    dispatcher_->post([self = self_.lock(), header = &header, bytes] {
        if (self && self->armed_) {
            self->notice_(*header, bytes);
        }
    });
}

namespace {

int16_t scale16(int16_t sample, uint32_t level) {
    return static_cast<int16_t>(static_cast<int32_t>(sample) * static_cast<int32_t>(level) / 65535);
}

} // namespace

void applyVolume(uint8_t* data, size_t bytes, const WaveFormat& format, uint32_t volume) {
    if (volume == kFullVolume || format.channels == 0) {
        return;
    }
    const uint32_t left = volume & 0xFFFFu;
    const uint32_t right = format.channels == 1 ? left : volume >> 16;
    const unsigned sampleBytes = format.bytesPerSample();
    size_t index = 0; // sample index, for the channel
    for (size_t at = 0; at + sampleBytes <= bytes; at += sampleBytes, ++index) {
        const uint32_t level = (format.channels == 1 || index % format.channels == 0) ? left : right;
        if (level == 0xFFFFu) {
            continue;
        }
        uint8_t* p = data + at;
        switch (sampleBytes) {
        case 1: {
            const int centred = static_cast<int>(p[0]) - 128;
            p[0] = static_cast<uint8_t>(centred * static_cast<int>(level) / 65535 + 128);
            break;
        }
        case 2: {
            const int16_t s = static_cast<int16_t>(p[0] | (p[1] << 8));
            const int16_t out = scale16(s, level);
            p[0] = static_cast<uint8_t>(out & 0xFF);
            p[1] = static_cast<uint8_t>((out >> 8) & 0xFF);
            break;
        }
        default: {
            // 24 or 32 bits: scale the value held in the top bytes.
            int64_t value = 0;
            for (unsigned b = 0; b < sampleBytes; ++b) {
                value |= static_cast<int64_t>(p[b]) << (8 * b);
            }
            const unsigned bits = 8 * sampleBytes;
            if (value & (int64_t(1) << (bits - 1))) {
                value -= int64_t(1) << bits;
            }
            value = value * static_cast<int64_t>(level) / 65535;
            for (unsigned b = 0; b < sampleBytes; ++b) {
                p[b] = static_cast<uint8_t>((value >> (8 * b)) & 0xFF);
            }
            break;
        }
        }
    }
}

void toLittleEndianPcm(uint8_t* data, size_t bytes, uint16_t bitsPerSample) {
    const unsigned sampleBytes = (bitsPerSample + 7u) / 8u;
    if (sampleBytes <= 1) {
        for (size_t i = 0; i < bytes; ++i) {
            data[i] ^= 0x80; // signed to offset-128
        }
        return;
    }
    for (size_t at = 0; at + sampleBytes <= bytes; at += sampleBytes) {
        std::reverse(data + at, data + at + sampleBytes);
    }
}

int WaveOutDevice::prepare(WaveHeader& header) {
    header.prepared = true;
    return kWaveOk;
}

int WaveOutDevice::unprepare(WaveHeader& header) {
    if (header.withDevice()) {
        return kWaveStillPlaying;
    }
    header.prepared = false;
    return kWaveOk;
}

int WaveOutDevice::getVolume(uint32_t& volume) const {
    volume = volume_.load(std::memory_order_relaxed);
    return kWaveOk;
}

int WaveOutDevice::setVolume(uint32_t volume) {
    volume_.store(volume, std::memory_order_relaxed);
    return kWaveOk;
}

bool WaveOutDevice::replaceWaiting(WaveHeader& header, uint8_t*& block) {
    uint8_t* old = header.waiting.load(std::memory_order_acquire);
    while (old != nullptr) {
        if (header.waiting.compare_exchange_weak(old, block, std::memory_order_acq_rel)) {
            header.data = block;
            block = old;
            return true;
        }
    }
    return false;
}

uint8_t* detail::take(WaveHeader& header) { return header.waiting.exchange(nullptr, std::memory_order_acq_rel); }

int detail::handOver(WaveHeader& header) {
    if (!header.prepared) {
        return kWaveUnprepared;
    }
    if (header.withDevice()) {
        return kWaveStillPlaying;
    }
    header.inDevice.store(true, std::memory_order_relaxed);
    header.waiting.store(header.data, std::memory_order_release);
    return kWaveOk;
}

int WaveInDevice::prepare(WaveHeader& header) {
    header.prepared = true;
    return kWaveOk;
}

int WaveInDevice::unprepare(WaveHeader& header) {
    if (header.withDevice()) {
        return kWaveStillPlaying;
    }
    header.prepared = false;
    return kWaveOk;
}

std::string productNameOf(const std::vector<WaveDeviceInfo>& devices, int id) {
    for (const auto& device : devices) {
        if (device.id == id) {
            return device.productName;
        }
    }
    return {};
}

int WaveDeviceProvider::addDevice(const std::string& /*name*/) { return -1; }

std::optional<int> WaveDeviceProvider::resolve(const std::string& numberOrName) {
    const bool numeric = !numberOrName.empty() && numberOrName != "-" &&
                         std::all_of(numberOrName.begin() + (numberOrName[0] == '-' ? 1 : 0), numberOrName.end(),
                                     [](char c) { return c >= '0' && c <= '9'; });
    int number = 0;
    if (numeric) {
        const auto parsed = std::from_chars(numberOrName.data(), numberOrName.data() + numberOrName.size(), number);
        if (parsed.ec != std::errc()) {
            return std::nullopt; // a number too large for any device
        }
    }
    for (bool capture : {false, true}) {
        for (const auto& device : capture ? inputs() : outputs()) {
            if (numeric ? device.id == number : device.name == numberOrName) {
                return device.id;
            }
        }
    }
    if (numeric) {
        return std::nullopt;
    }
    return addDevice(numberOrName);
}

} // namespace cleavix::audio
