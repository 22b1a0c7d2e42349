#pragma once
// A streaming sample-rate converter for the store's 16-bit interleaved frames, on libsoxr at its
// very high quality (28-bit precision, linear phase). The
// output is rounded without dither, so the same input always gives the same bytes, and it is cut
// or padded with silence to exactly the frame count asked for. Memory is one block's worth and
// the filter: it does not grow with the sample.
//
// One thread at a time (the resample worker); no shared state.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace cleavix::processing {

class RateConverter {
public:
    // Receives converted frames in order: `frames` interleaved frames at `samples`.
    using Sink = std::function<void(const int16_t* samples, size_t frames)>;

    // Throws std::runtime_error when the converter cannot be made (soxr refuses, or the program
    // was built without it).
    RateConverter(uint32_t fromRate, uint32_t toRate, uint16_t channels, uint64_t outFrames);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // Whether this build has a converter at all.
    static bool available();

    void feed(const int16_t* samples, size_t frames, const Sink& sink);
    // The filter's tail, then silence or a cut to the frame count. Feed no more afterwards.
    void finish(const Sink& sink);
    uint64_t written() const { return written_; }

private:
    void deliver(size_t frames, const Sink& sink);
    struct Soxr;
    std::unique_ptr<Soxr> soxr_;
    uint16_t channels_;
    uint64_t target_;
    uint64_t written_ = 0;
    std::vector<float> in_;
    std::vector<float> out_;
    std::vector<int16_t> words_;
};

// The frames a sample of `frames` frames has at `toRate` after resampling from `fromRate`:
// round(frames x to / from), halves away from zero.
uint64_t resampledFrames(uint64_t frames, uint32_t fromRate, uint32_t toRate);
// Frame index scaled the same way.
inline uint64_t scaledFrame(uint64_t frame, uint32_t fromRate, uint32_t toRate) {
    return resampledFrames(frame, fromRate, toRate);
}
// The widest ratio either way the converter is asked to make: beyond it libsoxr's filter design
// takes minutes or does not end.
inline constexpr uint32_t kMaxResampleRatio = 65536;

} // namespace cleavix::processing
