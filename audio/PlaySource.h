#pragma once
// Audio the player plays in place of the store's bytes: a rendering worked out block by block as
// the player's buffers are filled (the loop at another tempo), so nothing is rendered ahead into
// memory or onto disk and a play starts as soon as its first buffer is read.
//
// Threads: read by the player on the main thread only, like the store.
#include <cstdint>

namespace cleavix::audio {

class PlaySource {
public:
    virtual ~PlaySource() = default;
    // Bytes in the rendering, whole frames of the store's 16-bit layout.
    virtual uint64_t length() const = 0;
    // Fills `count` bytes of the rendering from byte `offset`, zeros past its end. Reads need not
    // follow one another: a looped play wraps, a reload reads a queued buffer again. May throw
    // when the store cannot be read; the player then plays silence.
    virtual void readAt(uint64_t offset, uint8_t* out, uint64_t count) = 0;
    // The store byte that sounds at `offset` of the rendering, for the play cursor.
    virtual uint64_t storePosition(uint64_t offset) const = 0;
};

} // namespace cleavix::audio
