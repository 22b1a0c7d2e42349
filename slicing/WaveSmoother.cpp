#include "slicing/WaveSmoother.h"

#include <algorithm>
#include <cmath>

namespace cleavix::slicing {

namespace {

int16_t swap16(int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    return static_cast<int16_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
}

uint64_t roundHalfEven(double v) { return static_cast<uint64_t>(std::nearbyint(v)); }

} // namespace

uint64_t TWaveSmoother::smoothedLength(uint64_t length, int level) {
    const uint64_t zone = 4 * (roundHalfEven(0.23 * double(length)) / 4);
    const uint64_t tail = 4 * (roundHalfEven(double(level + 23) / 100.0 * double(length)) / 4);
    return length - zone + tail;
}

void TWaveSmoother::configure(const Settings& settings) {
    settings_ = settings;
    settings_.channels = settings.channels == 2 ? 2 : 1;
    settings_.step = settings.step == 2 ? 2 : 1;
    delivered_ = 0;
    peak_ = {-1, -1};
    for (auto& block : blocks_) {
        block.first = 0;
        block.samples.clear();
    }
    settings_.inputBits = settings.inputBits == 8 ? 8 : 16;
    const uint64_t frameBytes = 2 * uint64_t(settings_.channels);
    if (settings_.lengthPerChannel) {
        // The smoothing rule applies to one channel's length; every channel follows it.
        const uint64_t channelLength = settings_.length & ~uint64_t(1);
        if (settings_.level <= 0) {
            outputBytes_ = channelLength * uint64_t(settings_.channels);
            return;
        }
        const uint64_t smoothed = smoothedLength(channelLength, settings_.level) & ~uint64_t(1);
        outputBytes_ = smoothed * uint64_t(settings_.channels);
        lastFrame_ = int64_t(smoothed / 2) - 1;
        findPeaks(int64_t(channelLength / 2), int64_t((4 * (roundHalfEven(0.23 * double(channelLength)) / 4)) / 2));
        return;
    }
    const uint64_t length = settings_.length - settings_.length % frameBytes;
    if (settings_.level <= 0) {
        outputBytes_ = length;
        return;
    }
    outputBytes_ = smoothedLength(length, settings_.level);
    outputBytes_ -= outputBytes_ % frameBytes;
    lastFrame_ = int64_t(outputBytes_ / frameBytes) - 1;
    findPeaks(int64_t(length / frameBytes), int64_t((4 * (roundHalfEven(0.23 * double(length)) / 4)) / frameBytes));
}

void TWaveSmoother::findPeaks(int64_t frames, int64_t zoneFrames) {
    // Each channel's tail starts at its own largest (most positive) sample of the last 23 %; the
    // first one wins a tie. An empty zone puts the peak on the stretch's last frame.
    for (int c = 0; c < settings_.channels; ++c) {
        int64_t best = frames - 1;
        int bestValue = -32769;
        for (int64_t f = frames - zoneFrames; f < frames; ++f) {
            const int v = inputSample(c, f);
            if (v > bestValue) {
                bestValue = v;
                best = f;
            }
        }
        peak_[size_t(c)] = best;
    }
}

int16_t TWaveSmoother::inputSample(int channel, int64_t frame) {
    Block& block = blocks_[size_t(channel)];
    const int64_t have = int64_t(block.samples.size());
    if (frame < block.first || frame >= block.first + have) {
        const int64_t perBlock = std::max<int64_t>(
            1, int64_t(settings_.blockBytes) / (2 * settings_.channels * settings_.step));
        // Going backwards (the tail) the block ends at the frame asked for; otherwise it starts there.
        const int64_t first = (have > 0 && frame < block.first) ? std::max<int64_t>(0, frame - perBlock + 1) : frame;
        const size_t inputSamples = size_t(perBlock * settings_.channels * settings_.step);
        raw_.assign(inputSamples, 0);
        const uint64_t sampleBytes = settings_.inputBits == 8 ? 1 : 2;
        const uint64_t at = uint64_t(settings_.start) + uint64_t(first) * settings_.channels * settings_.step * sampleBytes;
        if (settings_.input != nullptr && sampleBytes == 2) {
            settings_.input->readAt(at, raw_.data(), inputSamples * 2);
        } else if (settings_.input != nullptr) {
            // 8-bit data is unsigned: 0x80 is silence. Unread bytes stay silent.
            bytes_.assign(inputSamples, 0x80);
            settings_.input->readAt(at, bytes_.data(), inputSamples);
            for (size_t i = 0; i < inputSamples; ++i) {
                raw_[i] = int16_t((int(bytes_[i]) - 128) * 256);
            }
        }
        block.first = first;
        block.samples.resize(size_t(perBlock));
        for (int64_t f = 0; f < perBlock; ++f) {
            int16_t v = raw_[size_t((f * settings_.channels + channel) * settings_.step)];
            block.samples[size_t(f)] = (settings_.inputOrder == ByteOrder::Big && settings_.inputBits == 16) ? swap16(v) : v;
        }
    }
    return block.samples[size_t(frame - block.first)];
}

int16_t TWaveSmoother::outputSample(uint64_t index) {
    const int channel = int(index % uint64_t(settings_.channels));
    const int64_t frame = int64_t(index / uint64_t(settings_.channels));
    const int64_t peak = peak_[size_t(channel)];
    if (settings_.level <= 0 || frame <= peak) {
        return inputSample(channel, frame);
    }
    // The tail: the audio before the peak, backwards. Its gain falls linearly from 1 at the peak to
    // exactly 0 on the file's last frame, so the file ends in silence; audio from before the
    // stretch's start is never used, the tail goes on in silence instead.
    const int64_t source = peak - (frame - peak);
    if (source < 0) {
        return 0;
    }
    const double gain = double(lastFrame_ - frame) / double(lastFrame_ - peak);
    return static_cast<int16_t>(std::nearbyint(double(inputSample(channel, source)) * gain));
}

size_t TWaveSmoother::read(int16_t* out, size_t count) {
    const uint64_t total = outputBytes_ / 2;
    const size_t n = size_t(std::min<uint64_t>(count, total - delivered_));
    for (size_t i = 0; i < n; ++i) {
        const int16_t v = outputSample(delivered_ + i);
        out[i] = settings_.outputOrder == ByteOrder::Big ? swap16(v) : v;
    }
    delivered_ += n;
    return n;
}

} // namespace cleavix::slicing
