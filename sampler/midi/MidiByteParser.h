#pragma once
// Turns a MIDI byte stream into messages: running status, real-time bytes, system-exclusive
// assembly. Pure code, shared by the rawmidi reader, the sequencer reader (whose sysex arrives
// in chunks) and the virtual ports.
//
//  - Timing clock (F8) and active sensing (FE) are dropped wherever they come, even inside a
//    system-exclusive message; the other real-time bytes are passed on at once and disturb
//    nothing.
//  - F0 ... F7 is delivered as one block. A status byte inside it cuts it: what came so far is
//    delivered flagged as damaged, then the status byte starts its own message. A block longer
//    than the limit is delivered flagged, holding its first `limit` bytes.
//  - Data bytes without a status in force are dropped.
//
// Not thread-safe: one feeder. Never allocates after construction.
#include "sampler/midi/MidiBackend.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cleavix::sampler::midi {

class MidiByteParser {
public:
    explicit MidiByteParser(size_t sysexLimit);
    void feed(const uint8_t* data, size_t size, uint32_t timestamp, MidiInputSink& sink);
    // Forgets any message in progress.
    void reset();

private:
    void feedByte(uint8_t byte, uint32_t timestamp, MidiInputSink& sink);
    void endSysex(uint32_t timestamp, MidiInputSink& sink, bool damaged);

    std::vector<uint8_t> sysex_;
    size_t sysexUsed_ = 0;
    size_t sysexTotal_ = 0;
    bool inSysex_ = false;
    uint8_t status_ = 0;     // running status (channel messages) or the system common in progress
    uint8_t data_[2] = {};
    int have_ = 0;
    int need_ = 0;
};

// Data bytes a status byte takes (0x80..0xF6); 0 for the rest.
int midiDataBytes(uint8_t status);

} // namespace cleavix::sampler::midi
