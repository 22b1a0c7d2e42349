#include "session/TempoPlayback.h"

#include "session/Session.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cleavix::session {

namespace {

constexpr uint64_t kScratchFrames = 4096;

} // namespace

TempoPlaySource::TempoPlaySource(const sample::TFileAndMemoryStream& store, slicing::TempoPlan plan)
    : source_(store, std::move(plan)), frameBytes_(uint64_t(source_.plan().channels) * 2) {}

void TempoPlaySource::readAt(uint64_t offset, uint8_t* out, uint64_t count) {
    const uint64_t total = length();
    const size_t channels = source_.plan().channels;
    uint64_t done = 0;
    while (done < count && offset + done < total) {
        const uint64_t at = offset + done;
        const uint64_t frame = at / frameBytes_;
        const uint64_t skip = at % frameBytes_;
        const uint64_t want = std::min(count - done, total - at);
        if (source_.frame() != frame) {
            source_.seek(frame);
        }
        uint8_t* to = out + done;
        const bool direct = skip == 0 && want >= frameBytes_ && reinterpret_cast<uintptr_t>(to) % alignof(int16_t) == 0;
        uint64_t got = 0;
        if (direct) {
            got = uint64_t(source_.read(reinterpret_cast<int16_t*>(to), size_t(want / frameBytes_ * channels))) * 2;
        } else {
            // Part of a frame at either end: render whole frames aside and copy the bytes asked for.
            const uint64_t frames = std::min<uint64_t>((skip + want + frameBytes_ - 1) / frameBytes_, kScratchFrames);
            scratch_.resize(size_t(frames * channels));
            const uint64_t rendered = uint64_t(source_.read(scratch_.data(), scratch_.size())) * 2;
            got = rendered > skip ? std::min(rendered - skip, want) : 0;
            std::memcpy(to, reinterpret_cast<const uint8_t*>(scratch_.data()) + skip, size_t(got));
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    if (done < count) {
        std::memset(out + done, 0, size_t(count - done));
    }
}

uint64_t TempoPlaySource::storePosition(uint64_t offset) const {
    return slicing::sourceFrameAt(source_.plan(), offset / frameBytes_) * frameBytes_;
}

std::shared_ptr<audio::PlaySource> Session::loopAtTempo(uint64_t left, uint64_t right, double tempo,
                                                        std::string* refused) {
    if (!loaded_ || !(tempo > 0)) {
        return nullptr;
    }
    const auto& own = slicer_->tempo();
    const double from = own.bars == 0 && own.beats == 0 ? 0.0 : double(own.tempo);
    // At the loop's own tempo the rendering is the loop itself: play the store's bytes.
    if (from > 0 && std::fabs(tempo - from) <= from * 1e-9) {
        return nullptr;
    }
    slicer_->rebuild();
    const uint32_t limit = format().dataLength;
    slicing::TempoPlan plan =
        slicing::planTempo(slicer_->slicePoints(), uint32_t(std::min<uint64_t>(left, limit)),
                           uint32_t(std::min<uint64_t>(right, limit)), format(), from, tempo);
    if (!plan.error.empty()) {
        if (refused != nullptr) {
            *refused = plan.error;
        }
        return nullptr;
    }
    return std::make_shared<TempoPlaySource>(store_->stream(), std::move(plan));
}

} // namespace cleavix::session
