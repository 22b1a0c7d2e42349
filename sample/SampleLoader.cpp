#include "sample/SampleLoader.h"

#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
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

// The store's blocks pass through a ring of slots to a thread that feeds the observer while the
// load reads and writes the next ones. The load fills a slot, writes it to the store, hands it over
// and takes the next free one; memory stays at the ring's few slots whatever the length. A short
// sample goes through one slot with the observer fed on the load's own thread: there the thread
// would cost more than it saves.
class BlockAnalysis {
public:
    static constexpr size_t kSlotBytes = 256 * 1024; // four load blocks
    static constexpr size_t kSlots = 4;

    BlockAnalysis(LoadObserver* observer, uint64_t storeLength)
        : observer_(observer), threaded_(observer != nullptr && storeLength > kSlots * kSlotBytes) {
        // Filled before they are read: no need to clear them. A sample shorter than a slot needs
        // no more than its own length.
        const size_t slotSamples = std::min<uint64_t>(kSlotBytes, storeLength + 1) / 2;
        for (size_t k = 0; k < (threaded_ ? kSlots : 1); ++k) {
            slots_[k].reset(new int16_t[slotSamples]);
        }
        if (threaded_) {
            thread_ = std::thread([this] { run(); });
        }
    }
    ~BlockAnalysis() {
        // Aborted or failed: what is still queued is of no use.
        stop(true);
    }
    BlockAnalysis(const BlockAnalysis&) = delete;
    BlockAnalysis& operator=(const BlockAnalysis&) = delete;

    // The slot to fill next, once the analysis has finished with it.
    int16_t* freeSlot() {
        if (!threaded_) {
            return slots_[0].get();
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return handed_ - analysed_ < kSlots || error_; });
        rethrow();
        return slots_[handed_ % kSlots].get();
    }
    // The slot from freeSlot() holds `bytes` bytes of the store: over to the analysis.
    void hand(size_t bytes) {
        if (!threaded_) {
            if (observer_ != nullptr) {
                observer_->addSamples(slots_[0].get(), bytes / 2);
            }
            return;
        }
        std::lock_guard lock(mutex_);
        rethrow();
        lengths_[handed_ % kSlots] = bytes;
        ++handed_;
        changed_.notify_all();
    }
    // Waits until every slot handed over is analysed. Throws what the analysis threw.
    void finish() {
        stop(false);
        std::lock_guard lock(mutex_);
        rethrow();
    }

private:
    void rethrow() {
        if (error_) {
            std::rethrow_exception(error_);
        }
    }
    void stop(bool discard) {
        if (!thread_.joinable()) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            discard_ = discard;
            changed_.notify_all();
        }
        thread_.join();
    }
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return analysed_ < handed_ || closing_; });
            if (analysed_ == handed_ || discard_) {
                return;
            }
            const size_t index = analysed_ % kSlots;
            lock.unlock();
            try {
                if (observer_ != nullptr) {
                    observer_->addSamples(slots_[index].get(), lengths_[index] / 2);
                }
            } catch (...) {
                lock.lock();
                error_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            lock.lock();
            ++analysed_;
            changed_.notify_all();
        }
    }

    LoadObserver* observer_;
    bool threaded_;
    std::array<std::unique_ptr<int16_t[]>, kSlots> slots_;
    std::array<size_t, kSlots> lengths_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t handed_ = 0;
    size_t analysed_ = 0;
    bool closing_ = false;
    bool discard_ = false;
    std::exception_ptr error_;
    std::thread thread_;
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
    BlockAnalysis analysis(observer, storeLength);

    // 64 KiB of 16-bit data per block; 8 KiB source blocks for 8-bit data (each widens to 16 KiB).
    const size_t sourceBlock = eightBit ? 8192 : 65536;
    const size_t storeBlock = eightBit ? sourceBlock * 2 : sourceBlock;
    std::vector<uint8_t> in(sourceBlock);
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
        if (peaks != nullptr) {
            peaks->addBlocks(out, outBytes); // while the block is fresh in the cache
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
