#pragma once
// The stages of the search that the orchestration runs and the tests reach only through it.
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "slicing/SlicePoint.h"
#include "slicing/SliceSearch.h"

#include <cstdint>
#include <vector>

namespace cleavix::slicing::search {

// The onsets of a detection done already (by the load), with the reports detectOnsets gives.
bool takeOnsets(const OnsetDetector& detector, CandidateList& list, const SearchProgress& progress,
                bool& limitReached);

// Moves every candidate onto a quiet spot before its attack. Returns false when aborted.
bool refineCandidates(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress);

// The segment levels of a sorted list with markers set, and with preLevels the levels of the
// stretches before the points on the same reads. Returns false when aborted.
bool levels(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress,
            std::vector<int64_t>* preLevels, const sample::PeakTable* peaks = nullptr);
// The strengths from the segment levels and the pre-levels. Returns false when aborted.
bool applyStrengths(CandidateList& list, const std::vector<int64_t>& preLevels, const SearchProgress& progress);

} // namespace cleavix::slicing::search
