#include "sample/SampleLoader.h"

#include "sample/BlockAnalysis.h"
#include "sample/IoBuffer.h"

#include <algorithm>
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

// Builds the peak table from the slots the load hands to its analysis, then passes them on to the
// load's own observer: on the analysis's thread, which reads every slot anyway for the detection.
// (The store's writes stay on the reading thread: a slot written from the other core's cache makes
// the kernel's copy several times slower.)
class TableThenObserver final : public LoadObserver {
public:
    TableThenObserver(PeakTable* peaks, LoadObserver* observer) : peaks_(peaks), observer_(observer) {}
    void begin(const SampleFormat&) override {} // the load tells its observer itself
    void addSamples(const int16_t* samples, size_t count) override {
        if (peaks_ != nullptr) {
            peaks_->addBlocks(samples, count * 2);
        }
        if (observer_ != nullptr) {
            observer_->addSamples(samples, count);
        }
    }

private:
    PeakTable* peaks_;
    LoadObserver* observer_;
};

} // namespace

LoadOutcome loadSampleData(const std::string& fileName, TFileAndMemoryStream& store, SampleFormat& format,
                           PeakTable* peaks, const BlockProgress& progress, LoadObserver* observer) {
    format.dataLength = 0;
    TWaveDataExtractor reader(fileName);
    const SampleFileInfo& info = reader.info();
    const FormatRecord& f = info.format;
    if (!info.pcm || (f.bitsPerSample != 8 && f.bitsPerSample != 16) || (f.channels != 1 && f.channels != 2) ||
        f.sampleRate == 0) {
        throw EWavParserError("Unsupported sample format");
    }
    const bool eightBit = f.bitsPerSample == 8;
    const bool aiff = info.container == Container::Aiff;
    const bool bigEndian = aiff && !info.littleEndianAiff;
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
    store.reserveSpace(static_cast<int64_t>(storeLength + kGuardBytes));
    if (peaks != nullptr) {
        peaks->beginBuild(loaded.channels);
    }
    if (observer != nullptr) {
        SampleFormat coming = loaded;
        coming.bitsPerSample = 16;
        coming.dataLength = static_cast<uint32_t>(storeLength);
        observer->begin(coming);
    }
    TableThenObserver feed(peaks, observer);
    BlockAnalysis analysis(peaks != nullptr || observer != nullptr ? &feed : nullptr, storeLength);

    // 64 KiB of 16-bit data per block; 8 KiB source blocks for 8-bit data (each widens to 16 KiB).
    const size_t sourceBlock = eightBit ? 8192 : 65536;
    const size_t storeBlock = eightBit ? sourceBlock * 2 : sourceBlock;
    IoBuffer<uint8_t> in(sourceBlock);
    const bool direct = !eightBit && !bigEndian; // little-endian 16-bit: read straight into place
    const std::vector<int16_t> table = eightBit ? widenTable(aiff) : std::vector<int16_t>{};

    // Blocks gather in a slot, which is written to the store in one piece (fewer, larger writes
    // cost the file system less) and then handed to the analysis.
    int16_t* slot = nullptr;
    size_t inSlot = 0; // bytes of the slot filled
    uint64_t slotAt = 0; // where the slot goes in the store
    uint64_t done = 0;
    while (done < sourceLength) {
        if (slot == nullptr) {
            slot = analysis.freeSlot();
            inSlot = 0;
        }
        int16_t* out = slot + inSlot / 2;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sourceBlock, sourceLength - done));
        const size_t got = reader.readBlock(direct ? static_cast<void*>(out) : in.data(), done, want);
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
        inSlot += outBytes;
        done += got;
        if (inSlot + storeBlock > BlockAnalysis::kSlotBytes || done == sourceLength) {
            store.writeAllAt(slotAt, slot, inSlot);
            slotAt += inSlot;
            analysis.hand(inSlot);
            slot = nullptr;
        }
        if (progress.report) {
            progress.report(done, sourceLength);
        }
        if (progress.stop && progress.stop()) {
            // What was copied stays in the store.
            if (slot != nullptr) {
                store.writeAllAt(slotAt, slot, inSlot);
            }
            analysis.finish(); // the table is left alone from here
            return LoadOutcome::Aborted;
        }
    }
    analysis.finish();

    // The guard tail: zeros after the audio, so short reads past the end find silence.
    const uint8_t guard[kGuardBytes] = {};
    store.writeAllAt(storeLength, guard, sizeof guard);
    store.seek(0);

    loaded.dataLength = static_cast<uint32_t>(storeLength);
    loaded.bitsPerSample = 16;
    format = loaded;
    if (peaks != nullptr) {
        peaks->endBuild();
        peaks->builtFrom(store, storeLength);
    }
    return LoadOutcome::Loaded;
}

} // namespace cleavix::sample
