#pragma once
// A ring of slots through which a pass over the store (the load, a normalise) hands its blocks to
// a thread of its own that feeds an observer (and builds a peak table, when given one) while the
// pass reads and writes the next ones. The pass fills a slot, writes it, hands it over and takes
// the next free one; memory stays at the ring's few slots whatever the length. A short sample
// goes through one slot with all of it done on the pass's own thread: there the thread would
// cost more than it saves. (The pass keeps the store's writes: a slot written from the other
// core's cache makes the kernel's copy several times slower, while the observer reads it anyway.)
//
// Threads: freeSlot, hand and finish on the pass's thread; the table's additions and the
// observer's addSamples on the helper thread (or the pass's own for a short sample), never two at
// once. The pass leaves the table alone until finish.
#include "sample/IoBuffer.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

namespace cleavix::sample {

struct SampleFormat;
class PeakTable;

// Sees the audio as a pass writes it: the store's 16-bit samples in order from byte 0. Called on
// the pass's helper thread.
class LoadObserver {
public:
    virtual ~LoadObserver() = default;
    // Before the first samples: the format of the sample, its dataLength included.
    virtual void begin(const SampleFormat& format) = 0;
    // The next `count` samples (interleaved in stereo), in pieces of any size.
    virtual void addSamples(const int16_t* samples, size_t count) = 0;
};

class BlockAnalysis {
public:
    static constexpr size_t kSlotBytes = 256 * 1024;
    static constexpr size_t kSlots = 4;

    // observer and peaks may be null: the slots are then only the pass's buffers. With `peaks`,
    // each slot handed over is added to that table before the observer sees it.
    BlockAnalysis(LoadObserver* observer, uint64_t storeLength, PeakTable* peaks = nullptr);
    // Aborted or failed: what is still queued is of no use.
    ~BlockAnalysis() { stop(true); }
    BlockAnalysis(const BlockAnalysis&) = delete;
    BlockAnalysis& operator=(const BlockAnalysis&) = delete;

    // The slot to fill next (kSlotBytes, or the store's length when shorter), once the analysis
    // has finished with it.
    int16_t* freeSlot();
    // The slot from freeSlot() holds `bytes` bytes of the store: over to the analysis.
    void hand(size_t bytes);
    // Waits until every slot handed over is analysed. Throws what the analysis threw.
    void finish();

private:
    void rethrow();
    void stop(bool discard);
    void run();
    void take(const int16_t* slot, size_t bytes);

    LoadObserver* observer_;
    PeakTable* peaks_;
    bool threaded_;
    std::array<IoBuffer<int16_t>, kSlots> slots_;
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

} // namespace cleavix::sample
