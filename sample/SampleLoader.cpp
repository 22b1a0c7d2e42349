#include "sample/SampleLoader.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace cleavix::sample {

int16_t widen8(int signedSample) {
    // s / 128 * 32767 is exact in double, so nearbyint's ties-to-even rounding is the rule.
    return static_cast<int16_t>(std::nearbyint(double(signedSample) * 32767.0 / 128.0));
}

namespace {

// The 256 widened values of a byte, for offset-128 (Wave) or signed (AIFF) 8-bit data.
std::vector<int16_t> widenTable(bool signedBytes) {
    std::vector<int16_t> table(256);
    for (int b = 0; b < 256; ++b) {
        const int s = signedBytes ? static_cast<int8_t>(b) : b - 128;
        table[b] = widen8(s);
    }
    return table;
}

} // namespace

LoadOutcome loadSampleData(const std::string& fileName, TFileAndMemoryStream& store, SampleFormat& format,
                           PeakTable* peaks, const BlockProgress& progress) {
    format.dataLength = 0;
    TWaveDataExtractor reader(fileName);
    const SampleFileInfo& info = reader.info();
    const FormatRecord& f = info.format;
    if (!info.pcm || (f.bitsPerSample != 8 && f.bitsPerSample != 16) || (f.channels != 1 && f.channels != 2) ||
        f.sampleRate == 0) {
        throw EWavParserError("Unsupported sample format");
    }
    const bool eightBit = f.bitsPerSample == 8;
    const bool bigEndian = info.container == Container::Aiff;
    const uint64_t sourceLength = info.dataLength;
    const uint64_t storeLength = eightBit ? sourceLength * 2 : sourceLength;
    if (storeLength > kMaxDataLength) {
        throw EWavParserError("File too large");
    }

    SampleFormat loaded;
    loaded.sampleRate = f.sampleRate;
    loaded.bytesPerSecond = f.bytesPerSecond;
    loaded.bitsPerSample = f.bitsPerSample;
    loaded.channels = f.channels;
    loaded.sourceBits = static_cast<uint8_t>(f.bitsPerSample);
    loaded.saveBits = loaded.sourceBits;

    store.setSize(0);
    if (peaks != nullptr) {
        peaks->beginBuild(loaded.channels);
    }

    // 64 KiB of 16-bit data per block; 8 KiB source blocks for 8-bit data (each widens to 16 KiB).
    const size_t sourceBlock = eightBit ? 8192 : 65536;
    std::vector<uint8_t> in(sourceBlock);
    std::vector<int16_t> out(65536 / 2);
    const bool direct = !eightBit && !bigEndian; // little-endian 16-bit: read straight into place
    const std::vector<int16_t> table = eightBit ? widenTable(bigEndian) : std::vector<int16_t>{};

    uint64_t done = 0;
    while (done < sourceLength) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sourceBlock, sourceLength - done));
        const size_t got = reader.readBlock(direct ? static_cast<void*>(out.data()) : in.data(), done, want);
        if (got != want) {
            throw StreamError("The file ended before its sound data: " + fileName);
        }
        size_t outBytes = 0;
        if (eightBit) {
            for (size_t i = 0; i < got; ++i) {
                out[i] = table[in[i]];
            }
            outBytes = got * 2;
        } else if (bigEndian) {
            for (size_t i = 0; i + 1 < got; i += 2) {
                out[i / 2] = static_cast<int16_t>((in[i] << 8) | in[i + 1]);
            }
            outBytes = got;
        } else {
            outBytes = got;
        }
        store.writeAllAt(eightBit ? done * 2 : done, out.data(), outBytes);
        if (peaks != nullptr) {
            peaks->addBlocks(out.data(), outBytes);
        }
        done += got;
        if (progress.report) {
            progress.report(done, sourceLength);
        }
        if (progress.stop && progress.stop()) {
            return LoadOutcome::Aborted;
        }
    }

    // The guard tail: zeros after the audio, so short reads past the end find silence.
    const uint8_t guard[kGuardBytes] = {};
    store.writeAllAt(storeLength, guard, sizeof guard);
    store.seek(0);

    loaded.dataLength = static_cast<uint32_t>(storeLength);
    loaded.bitsPerSample = 16;
    format = loaded;
    if (peaks != nullptr) {
        peaks->endBuild();
    }
    return LoadOutcome::Loaded;
}

} // namespace cleavix::sample
