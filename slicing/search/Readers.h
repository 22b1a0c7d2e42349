#pragma once
// The search's reads of the store: a byte window around the current candidate, a reader of one
// channel's samples (from that window or straight from the store), and a large window streaming
// through the store for the segment levels.
#include "sample/IoBuffer.h"
#include "slicing/search/Common.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cleavix::slicing::search {

// Bytes [start, end) of the store held in memory, zeros outside the audio (as the store reads
// them). The buffer is allocated once: moving the window only reads.
class ByteWindow {
public:
    explicit ByteWindow(size_t capacity) : bytes_(capacity) {}
    size_t capacity() const { return bytes_.size(); }
    void fill(const sample::SampleStore& store, int64_t start, size_t size);
    bool holds(int64_t from, int64_t to) const { return from >= start_ && to <= end_ && from < to; }
    int64_t end() const { return end_; }
    const uint8_t* at(int64_t position) const { return bytes_.data() + (position - start_); }

private:
    sample::IoBuffer<uint8_t> bytes_;
    int64_t start_ = 0;
    int64_t end_ = 0;
};

// Reads `frames` samples of one channel starting at byte `start` (zeros outside the data): from
// the window around the current candidate when it holds them, else straight from the store.
class ChannelReader {
public:
    ChannelReader(const sample::SampleStore& store, const Geometry& g, size_t windowBytes = 0)
        : store_(store), g_(g), window_(windowBytes) {}
    // Reads the bytes [from, to) (at most the window's capacity) for the reads that follow.
    void readAround(int64_t from, int64_t to) { window_.fill(store_, from, size_t(to - from)); }
    const int16_t* read(int64_t start, size_t frames);

private:
    const sample::SampleStore& store_;
    Geometry g_;
    ByteWindow window_;
    sample::IoBuffer<int16_t> raw_;
    std::vector<int16_t> samples_;
};

// Runs over one channel's samples in pieces held by a large window that moves through the store.
class StreamReader {
public:
    StreamReader(const sample::SampleStore& store, const Geometry& g, size_t windowBytes)
        : store_(store), g_(g), window_(windowBytes) {}
    // Where the next scan will start: a refill keeps it in the window when it lies not too far
    // behind (in stereo the next point's window starts inside this point's segment).
    void keepFrom(int64_t position) { keep_ = position; }
    // Calls piece(bytes, count) for consecutive pieces covering `frames` frames from byte `start`.
    template <class Piece>
    void scan(int64_t start, int64_t frames, Piece&& piece) {
        while (frames > 0) {
            if (!window_.holds(start, start + 2)) {
                const bool keep = keep_ < start && start - keep_ < int64_t(window_.capacity() / 2);
                window_.fill(store_, keep ? keep_ : start, window_.capacity());
            }
            const int64_t held = (window_.end() - start - 2) / g_.blockAlign + 1;
            const int64_t take = std::min(frames, held);
            piece(window_.at(start), size_t(take));
            start += take * g_.blockAlign;
            frames -= take;
        }
    }

private:
    const sample::SampleStore& store_;
    Geometry g_;
    ByteWindow window_;
    int64_t keep_ = INT64_MAX;
};

// The stream window of the segment levels: large reads, a fixed amount of memory.
constexpr size_t kStreamBytes = 256 * 1024;

// The largest magnitude of 4 frames at `start`.
int lookMagnitude(ChannelReader& reader, int64_t start);

} // namespace cleavix::slicing::search
