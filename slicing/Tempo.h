#pragma once
// Tempo of the loop region from its bars and beats, and the grid cut (Cut Loop To 8ths, 16ths,
// 32nds) that replaces the candidates with evenly spaced, locked points.
#include "sample/SampleFormat.h"
#include "slicing/SlicePoint.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::slicing {

inline constexpr const char* kMsgNoTempo = "No tempo information has been set!\r\nSet to one bar?";

struct TempoState {
    int bars = 0;  // 0..32767
    int beats = 0; // 0..32767, beyond the whole bars
    uint8_t beatsPerBar = 4;
    uint8_t beatUnit = 4;
    long double tempo = 0.0L;
    std::string text = "0.000 BPM";
};

// "120.000 BPM": three decimals, right-aligned in at least 4 characters.
std::string tempoText(long double tempo);

// Reads a bars or beats field: a whole number from 0 to 32767, nothing else.
bool parseCount(const std::string& text, int& value);

// ComputeTempo: tempo = (4 / beat unit) * 60 / seconds(L..R) * total beats. Leaves the tempo as it
// was when bars and beats are both 0, and when the region is empty (no finite tempo exists).
// Returns whether it changed the tempo.
bool ComputeTempo(TempoState& state, uint32_t left, uint32_t right, uint16_t channels, uint32_t sampleRate);

enum class GridDivision { Eighths = 8, Sixteenths = 16, ThirtySeconds = 32 };

// Divisions per bar and per beat of a grid: 8ths 8/2, 16ths 16/4, 32nds 32/8.
int divisionsPerBar(GridDivision division);
int divisionsPerBeat(GridDivision division);

// Which channel selections a grid cut walks: {1} for mono and linked stereo; in unlinked stereo the
// selected channel (1 first, 2 second) or both (3).
std::vector<int> gridChannels(uint16_t channels, bool linked, int channelSelection);

// Replaces the candidates by the grid between L and R: for k = 0..N each point lies 50 bytes after
// its exact grid position, enabled and locked. Sets the markers. Returns false when the grid had
// more points than the table holds (the first 8192 are kept).
bool cutLoopToGrid(CandidateList& list, GridDivision division, int bars, int beats, uint32_t left, uint32_t right,
                   const sample::SampleFormat& format, bool linked, int channelSelection);

} // namespace cleavix::slicing
