#include "sample/SampleSource.h"

#include <algorithm>
#include <vector>

namespace cleavix::sample {

StoreSource::StoreSource(const TFileAndMemoryStream& store, uint32_t start, uint32_t outputBytes, int step)
    : store_(store), position_(start), outputBytes_(outputBytes), step_(step == 2 ? 2 : 1) {}

size_t StoreSource::read(int16_t* out, size_t count) {
    const uint64_t left = (outputBytes_ - delivered_) / 2;
    count = static_cast<size_t>(std::min<uint64_t>(count, left));
    if (count == 0) {
        return 0;
    }
    if (step_ == 1) {
        const size_t got = store_.readAt(position_, out, count * 2) / 2;
        position_ += got * 2;
        delivered_ += got * 2;
        return got;
    }
    // One channel of stereo data: every second sample.
    both_.resize(count * 2);
    const size_t got = store_.readAt(position_, both_.data(), count * 4) / 2;
    const size_t samples = (got + 1) / 2;
    for (size_t i = 0; i < samples; ++i) {
        out[i] = both_[i * 2];
    }
    position_ += samples * 4;
    delivered_ += samples * 2;
    return samples;
}

} // namespace cleavix::sample
