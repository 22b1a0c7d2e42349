#pragma once
// Helpers for the slicing tests: stores built in memory from generated signals with hits at
// known frames.
#include "sample/SampleStore.h"
#include "slicing/SlicePoint.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <memory>
#include <vector>

namespace cleavix::slicing::test {

// A memory-backed store holding `samples` (interleaved when stereo) with a matching format.
inline std::unique_ptr<sample::SampleStore> makeStore(const std::vector<int16_t>& samples, uint16_t channels,
                                                      uint32_t sampleRate = 44100) {
    auto store = std::make_unique<sample::SampleStore>(std::make_unique<sample::TFileAndMemoryStream>());
    store->stream().writeAll(samples.data(), samples.size() * 2);
    auto& f = store->format();
    f.channels = channels;
    f.sampleRate = sampleRate;
    f.bitsPerSample = 16;
    f.bytesPerSecond = sampleRate * channels * 2;
    f.dataLength = uint32_t(samples.size() * 2);
    return store;
}

// A decaying burst (a drum hit) starting at `frame` in one channel (0 or 1) of an interleaved
// buffer: a 2 ms attack into an exponentially decaying, slightly detuned square-ish tone.
inline void addHit(std::vector<int16_t>& samples, uint16_t channels, int channel, int64_t frame, double amplitude,
                   uint32_t sampleRate = 44100, double seconds = 0.12) {
    const int64_t frames = int64_t(samples.size()) / channels;
    const int64_t length = int64_t(seconds * sampleRate);
    uint32_t noise = 12345u + uint32_t(frame);
    for (int64_t i = 0; i < length && frame + i < frames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = double(i) / sampleRate;
        const double envelope = std::exp(-t * 30.0);
        const double tone = std::sin(2.0 * std::numbers::pi * 180.0 * t) * 0.6 + (double(noise >> 16) / 32768.0 - 1.0) * 0.4;
        const double v = amplitude * envelope * tone;
        auto& s = samples[size_t((frame + i) * channels + channel)];
        s = int16_t(std::clamp(double(s) + v, -32768.0, 32767.0));
    }
}

// Low background noise (|value| <= level) over the whole buffer.
inline void addFloor(std::vector<int16_t>& samples, int level, uint32_t seed = 7) {
    uint32_t x = seed;
    for (auto& s : samples) {
        x = x * 1103515245u + 12345u;
        s = int16_t(int((x >> 16) % uint32_t(2 * level + 1)) - level);
    }
}

// A format of `channels` channels and `dataLength` bytes, the rest as a format starts.
inline sample::SampleFormat formatOf(uint16_t channels, uint32_t dataLength) {
    sample::SampleFormat f;
    f.channels = channels;
    f.dataLength = dataLength;
    return f;
}

// A point with its fields set.
inline SlicePoint point(uint32_t position, int32_t strength, bool enabled = true, bool locked = false,
                        uint8_t channel = 1) {
    SlicePoint p;
    p.position = position;
    p.strength = strength;
    p.enabled = enabled ? 1 : 0;
    p.locked = locked ? 1 : 0;
    p.channel = channel;
    return p;
}

// A slice point list of enabled, locked points (position, channel code) in a sample of
// `dataLength` bytes.
inline SlicePointList listOf(const std::vector<std::pair<uint32_t, uint8_t>>& points, uint32_t dataLength) {
    CandidateList c;
    for (auto [at, code] : points) {
        c.append(point(at, 0, true, true, code));
    }
    c.setMarkers(dataLength);
    SlicePointList list;
    list.rebuild(c, 0, dataLength);
    return list;
}

} // namespace cleavix::slicing::test
