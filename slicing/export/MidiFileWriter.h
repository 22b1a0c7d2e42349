#pragma once
// The slices as a Standard MIDI File (format 0, 480 ticks per quarter note) that plays the loop
// from a sampler holding them: one note per slice at its start, held to the next slice, on the
// slice's key, with the loop's tempo and time signature as meta events, so a sequencer replays the
// loop at any tempo. Pure functions; no threads.
#include "slicing/Tempo.h"
#include "slicing/export/SlicePlan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::slicing::instrument {

inline constexpr int kTicksPerQuarter = 480;
inline constexpr const char* kMsgMidiNoTempo =
    "The MIDI file needs the loop's tempo: set its bars and beats first";

struct MidiFile {
    std::vector<uint8_t> bytes;
    std::string error; // why no file can be written (bytes is then empty)
};

// The tick of each slice's note and the loop's length in ticks: the slice's share of the loop
// times the loop's quarter notes.
struct MidiTimes {
    std::vector<uint64_t> noteTicks;
    uint64_t loopTicks = 0;
};
MidiTimes midiTimes(const SlicePlan& plan, const TempoState& tempo);

// Refused: no tempo (bars and beats both 0), a tempo a MIDI file cannot hold, more than 128
// slices for "base note only" (one program each).
MidiFile midiFile(const SlicePlan& plan, const TempoState& tempo, const Options& options);

} // namespace cleavix::slicing::instrument
