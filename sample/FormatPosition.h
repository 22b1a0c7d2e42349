#pragma once
// A byte position (or length) as text in the units of the units menu.
#include <cstdint>
#include <string>

namespace cleavix::sample {

enum Units : int {
    UnitsSeconds = 1, // "Seconds": 5 decimals
    UnitsSamples = 2, // "Samples": frames
    UnitsBytes = 4,   // "Bytes"
    UnitsTime = 8,    // "Time": hh:mm:ss:mmm
};

std::string FormatPosition(uint32_t position, int units, uint16_t bitsPerSample, uint32_t sampleRate,
                           uint16_t channels);

} // namespace cleavix::sample
