#pragma once
// What the edits that change the sample's length do to the candidate list: points inside a removed
// or replaced range go, points behind it move with their audio, and the markers follow the new
// length. Main thread (completion handlers).
#include "slicing/SlicePoint.h"

#include <cstdint>

namespace cleavix::editing {

// Cut of [start, end): points after start and before end are removed, later ones move back.
void cutPoints(slicing::CandidateList& list, uint32_t start, uint32_t end, uint32_t newLength);
// A paste replacing [start, end) with `inserted` bytes: points after start and before end are
// removed, points at or after end move by inserted - (end - start).
void pastePoints(slicing::CandidateList& list, uint32_t start, uint32_t end, uint32_t inserted, uint32_t newLength);
// Crop to [start, end): points after start + 2 and before end are kept, moved back by start.
void cropPoints(slicing::CandidateList& list, uint32_t start, uint32_t end);
// End marker at the new length; neither marker enabled.
void settleMarkers(slicing::CandidateList& list, uint32_t newLength);

} // namespace cleavix::editing
