#pragma once
// The sample format: how to read the sample store. One instance for the whole program.
#include <cstdint>

namespace cleavix::sample {

struct SampleFormat {
    uint32_t sampleRate = 44100;     // frames per second, as read from the file
    uint32_t bytesPerSecond = 0;     // as read from a Wave format chunk; computed for AIFF
    uint16_t bitsPerSample = 16;     // bits of the data in the store: 16 once a load completed
    uint16_t channels = 2;           // 1 or 2
    uint32_t dataLength = 0;         // audio bytes in the store
    uint8_t sourceBits = 16;         // bit depth of the opened file (8 or 16)
    uint8_t saveBits = 16;           // bit depth used when writing; set from sourceBits by a load

    // Bytes per frame of the data in the store (always 16-bit there).
    uint32_t blockAlign() const { return channels * 2u; }
    uint32_t frames() const { return dataLength / blockAlign(); }
    double seconds() const { return sampleRate == 0 ? 0.0 : double(dataLength) / sampleRate / blockAlign(); }
    // The frame start at or before a byte position (two low bits cleared in stereo).
    uint32_t frameStart(uint32_t position) const {
        return channels == 2 ? (position & ~3u) : (position & ~1u);
    }
};

// The largest sample the store can hold: every position is an unsigned 32-bit byte offset, and
// the store keeps 80 guard bytes after the audio.
inline constexpr uint64_t kMaxDataLength = 0xFFFFFFFFull - 80;

} // namespace cleavix::sample
