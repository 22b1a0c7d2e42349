#include "sample/SampleStore.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace cleavix::sample {

SampleStore::SampleStore(std::unique_ptr<TFileAndMemoryStream> stream) : stream_(std::move(stream)) {}

void SampleStore::readAudio(int64_t position, void* out, size_t count) const {
    // Only the bytes outside the audio (or beyond a short read) are cleared: callers such as the
    // slice search read every byte of the sample more than once.
    auto* bytes = static_cast<uint8_t*>(out);
    const int64_t end = position + static_cast<int64_t>(count);
    const int64_t from = std::max<int64_t>(position, 0);
    const int64_t to = std::min<int64_t>(end, format_.dataLength);
    if (from >= to) {
        std::memset(bytes, 0, count);
        return;
    }
    std::memset(bytes, 0, static_cast<size_t>(from - position));
    const size_t got =
        stream_->readAt(static_cast<uint64_t>(from), bytes + (from - position), static_cast<size_t>(to - from));
    std::memset(bytes + (from - position) + got, 0, static_cast<size_t>(end - from) - got);
}

void SampleStore::readSamples(int64_t position, int16_t* out, size_t count) const {
    readAudio(position, out, count * 2);
    // The store is little-endian, as is every machine this builds for.
    static_assert(std::endian::native == std::endian::little);
}

void SampleStore::clear() {
    stream_->clear();
    format_.dataLength = 0;
}

} // namespace cleavix::sample
