#include "slicing/search/Readers.h"

namespace cleavix::slicing::search {

void ByteWindow::fill(const sample::SampleStore& store, int64_t start, size_t size) {
    size = std::min(size, bytes_.size());
    store.readAudio(start, bytes_.data(), size);
    start_ = start;
    end_ = start + int64_t(size);
}

const int16_t* ChannelReader::read(int64_t start, size_t frames) {
    if (samples_.size() < frames) {
        samples_.resize(frames);
    }
    const int64_t last = start + int64_t(frames) * g_.blockAlign - g_.blockAlign + 2;
    if (window_.holds(start, last)) {
        const uint8_t* p = window_.at(start);
        for (size_t i = 0; i < frames; ++i) {
            samples_[i] = int16_t(sampleAt(p + i * size_t(g_.blockAlign)));
        }
        return samples_.data();
    }
    if (raw_.size() < frames * g_.channels) {
        raw_.resize(frames * g_.channels);
    }
    store_.readAudio(start, raw_.data(), frames * g_.channels * 2);
    for (size_t i = 0; i < frames; ++i) {
        samples_[i] = raw_[i * g_.channels];
    }
    return samples_.data();
}

int lookMagnitude(ChannelReader& reader, int64_t start) {
    const int16_t* s = reader.read(start, 4);
    int k = 0;
    for (int i = 0; i < 4; ++i) {
        k = std::max(k, magnitude(s[i]));
    }
    return k;
}

} // namespace cleavix::slicing::search
