#pragma once
// A source of 16-bit samples in the order a file is written: the writer and (later) the sampler
// drivers read what they send through one of these. The plain source reads the store; the
// end-point smoother wraps the same stretch and fades its tail.
#include "sample/FileAndMemoryStream.h"
#include "sample/IoBuffer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cleavix::sample {

class SampleSource {
public:
    virtual ~SampleSource() = default;
    // Fills up to `count` samples; returns how many (0 at the end).
    virtual size_t read(int16_t* out, size_t count) = 0;
    // Output bytes this source delivers in all (16-bit samples, so twice the sample count).
    virtual uint64_t outputBytes() const = 0;
};

// Reads `outputBytes` bytes of 16-bit output from the store beginning at `start`. With a step of 2
// (one channel of a stereo sample) it takes every second sample, beginning at start: a start on a
// frame start gives the first channel, 2 bytes later the second.
class StoreSource final : public SampleSource {
public:
    StoreSource(const TFileAndMemoryStream& store, uint32_t start, uint32_t outputBytes, int step);
    size_t read(int16_t* out, size_t count) override;
    uint64_t outputBytes() const override { return outputBytes_; }

private:
    const TFileAndMemoryStream& store_;
    uint64_t position_;
    uint64_t outputBytes_;
    uint64_t delivered_ = 0;
    int step_;
    IoBuffer<int16_t> both_;
};

} // namespace cleavix::sample
