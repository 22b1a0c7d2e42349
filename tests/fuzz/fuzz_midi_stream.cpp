// The MIDI input byte stream, cut into reads at points taken from the input.
#include "FuzzTarget.h"
#include "sampler/midi/MidiByteParser.h"

namespace {

struct Sink final : cleavix::sampler::midi::MidiInputSink {
    void shortMessage(uint32_t, uint32_t packed) override {
        if ((packed & 0x80) == 0) {
            __builtin_trap(); // every short message starts with a status byte
        }
    }
    void sysex(uint32_t, const uint8_t* data, size_t size, bool damaged) override {
        if (size > 64 || (!damaged && (size < 2 || data[0] != 0xF0 || data[size - 1] != 0xF7))) {
            __builtin_trap(); // within the limit, and whole when not marked damaged
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cleavix::sampler::midi::MidiByteParser parser(64);
    Sink sink;
    size_t at = 0;
    uint32_t time = 0;
    while (at < size) {
        const size_t piece = 1 + data[at] % 7;
        const size_t take = piece < size - at ? piece : size - at;
        parser.feed(data + at, take, ++time, sink);
        at += take;
    }
    return 0;
}
