#pragma once
// A ring of slots through which a pass over the store (the load, a normalise) hands its blocks to
// a thread of its own that feeds an observer while the pass reads and writes the next ones. The
// pass fills a slot, writes it, hands it over and takes the next free one; memory stays at the
// ring's few slots whatever the length. A short sample goes through one slot with the observer
// fed on the pass's own thread: there the thread would cost more than it saves.
//
// Threads: freeSlot, hand and finish on the pass's thread; the observer's addSamples on the
// helper thread (or the pass's own for a short sample), never two at once.
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

    // observer may be null: the slots are then only the pass's buffers.
    BlockAnalysis(LoadObserver* observer, uint64_t storeLength);
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

    LoadObserver* observer_;
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
