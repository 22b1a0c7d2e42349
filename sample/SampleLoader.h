#pragma once
// Loading a file's sound data into the sample store: 64 KiB blocks (8 KiB source blocks for 8-bit
// data), 8-bit data widened to 16 bits, AIFF data swapped to little-endian, the guard tail after
// the audio, and the peak table built from the blocks as they pass.
#include "sample/BlockAnalysis.h"
#include "sample/FileAndMemoryStream.h"
#include "sample/PeakTable.h"
#include "sample/SampleFormat.h"
#include "sample/WavParser.h"

#include <string>

namespace cleavix::sample {

inline constexpr uint32_t kGuardBytes = 80;

enum class LoadOutcome { Loaded, Aborted };

// Loads fileName into store and sets format. Progress runs 0..100 over the data. Throws
// EWavParserError or StreamError on failure, leaving the store partial and format.dataLength 0.
// When peaks is given, the peak table is built on the way (equal to a rebuildPeaks afterwards).
// An observer sees every sample on the way, on a thread of the load's own beside the reading and
// writing; it is done with them when the load returns.
LoadOutcome loadSampleData(const std::string& fileName, TFileAndMemoryStream& store, SampleFormat& format,
                           PeakTable* peaks, const BlockProgress& progress = {}, LoadObserver* observer = nullptr);

// The 8-bit widening: an offset-128 byte (Wave) or a signed byte (AIFF) to 16 bits,
// round(s / 128 * 32767) with ties to even.
int16_t widen8(int signedSample);

} // namespace cleavix::sample
