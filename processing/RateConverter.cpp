#include "processing/RateConverter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#if defined(CLEAVIX_HAVE_SOXR)
#include <soxr.h>
#endif

namespace cleavix::processing {

namespace {
constexpr size_t kOutFrames = 16384; // output frames per soxr call
constexpr float kScale = 32768.0f;
} // namespace

uint64_t resampledFrames(uint64_t frames, uint32_t fromRate, uint32_t toRate) {
    if (fromRate == 0) {
        return 0;
    }
    // In two parts, so no product passes 64 bits: whole multiples of the old rate, then the rest.
    const uint64_t whole = frames / fromRate;
    const uint64_t rest = (frames % fromRate) * toRate;
    const uint64_t remainder = rest % fromRate;
    return whole * toRate + rest / fromRate + (remainder * 2 >= fromRate ? 1 : 0);
}

#if defined(CLEAVIX_HAVE_SOXR)

struct RateConverter::Soxr {
    soxr_t handle = nullptr;
    ~Soxr() {
        if (handle != nullptr) {
            soxr_delete(handle);
        }
    }
};

bool RateConverter::available() { return true; }

RateConverter::RateConverter(uint32_t fromRate, uint32_t toRate, uint16_t channels, uint64_t outFrames)
    : soxr_(std::make_unique<Soxr>()), channels_(channels), target_(outFrames) {
    if (fromRate == 0 || toRate == 0 || channels == 0) {
        throw std::runtime_error("no such conversion");
    }
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, SOXR_LINEAR_PHASE);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_->handle = soxr_create(double(fromRate), double(toRate), channels, &error, &io, &quality, &runtime);
    if (error != nullptr || soxr_->handle == nullptr) {
        throw std::runtime_error(std::string("cannot make the rate converter: ") + soxr_strerror(error));
    }
    out_.resize(kOutFrames * channels);
    words_.resize(kOutFrames * channels);
}

void RateConverter::feed(const int16_t* samples, size_t frames, const Sink& sink) {
    in_.resize(frames * channels_);
    for (size_t i = 0; i < in_.size(); ++i) {
        in_[i] = float(samples[i]) / kScale;
    }
    size_t used = 0;
    size_t made = 0;
    do {
        size_t took = 0;
        const soxr_error_t error =
            soxr_process(soxr_->handle, in_.data() + used * channels_, frames - used, &took, out_.data(), kOutFrames, &made);
        if (error != nullptr) {
            throw std::runtime_error(std::string("rate conversion failed: ") + error);
        }
        used += took;
        deliver(made, sink);
        // A full output block may leave more behind: ask again until it comes out short.
    } while (used < frames || made == kOutFrames);
}

void RateConverter::finish(const Sink& sink) {
    size_t made = 0;
    do {
        const soxr_error_t error = soxr_process(soxr_->handle, nullptr, 0, nullptr, out_.data(), kOutFrames, &made);
        if (error != nullptr) {
            throw std::runtime_error(std::string("rate conversion failed: ") + error);
        }
        deliver(made, sink);
    } while (made > 0 && written_ < target_);
    // The filter's own length seldom lands on the rounded frame count: the last frames are silence.
    std::fill(words_.begin(), words_.end(), int16_t(0));
    while (written_ < target_) {
        const size_t n = size_t(std::min<uint64_t>(kOutFrames, target_ - written_));
        sink(words_.data(), n);
        written_ += n;
    }
}

#else

struct RateConverter::Soxr {};

bool RateConverter::available() { return false; }

RateConverter::RateConverter(uint32_t, uint32_t, uint16_t channels, uint64_t outFrames)
    : channels_(channels), target_(outFrames) {
    throw std::runtime_error("this build has no rate converter (libsoxr)");
}

void RateConverter::feed(const int16_t*, size_t, const Sink&) {}
void RateConverter::finish(const Sink&) {}

#endif

RateConverter::~RateConverter() = default;

void RateConverter::deliver(size_t frames, const Sink& sink) {
    const size_t keep = size_t(std::min<uint64_t>(frames, target_ - written_));
    if (keep == 0) {
        return;
    }
    const size_t count = keep * channels_;
    for (size_t i = 0; i < count; ++i) {
        const float v = std::nearbyint(out_[i] * kScale);
        words_[i] = int16_t(std::clamp(v, -32768.0f, 32767.0f));
    }
    sink(words_.data(), keep);
    written_ += keep;
}

} // namespace cleavix::processing
