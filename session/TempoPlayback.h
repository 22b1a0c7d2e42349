#pragma once
// The loop at another tempo as the player's source: the slice re-triggering rendering read
// straight from the store, block by block, at whatever offset the player's buffers ask for. No
// copy of the rendering exists anywhere: memory stays at the player's own buffers however long
// the loop, and a play starts as soon as its first buffer is read.
//
// Threads: main thread only (the player reads it there, and the store is not busy while it plays).
#include "audio/PlaySource.h"
#include "sample/FileAndMemoryStream.h"
#include "slicing/TempoRender.h"

#include <cstdint>
#include <vector>

namespace cleavix::session {

class TempoPlaySource final : public audio::PlaySource {
public:
    TempoPlaySource(const sample::TFileAndMemoryStream& store, slicing::TempoPlan plan);
    uint64_t length() const override { return source_.outputBytes(); }
    void readAt(uint64_t offset, uint8_t* out, uint64_t count) override;
    uint64_t storePosition(uint64_t offset) const override;
    const slicing::TempoPlan& plan() const { return source_.plan(); }

private:
    slicing::TempoSource source_;
    uint64_t frameBytes_;
    std::vector<int16_t> scratch_; // for reads that do not start or end on a frame
};

} // namespace cleavix::session
