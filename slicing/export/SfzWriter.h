#pragma once
// The slices as an SFZ instrument: one <region> per slice file, its sample named relative to the
// SFZ file, keyed by the key map and played as a one-shot. Plain text. Pure functions; no threads.
#include "slicing/export/SlicePlan.h"

#include <string>

namespace cleavix::slicing::instrument {

struct SfzText {
    std::string text;
    std::string error; // why no instrument can be written (text is then empty)
};

// The SFZ for the slices, to be written at `sfzPath`. Sample paths are relative to its folder.
// Refused: a sample path SFZ readers cannot hold (line breaks, '=', '<', '>', a backslash, blanks
// at either end).
SfzText sfzText(const SlicePlan& plan, const std::string& name, const std::string& sfzPath);

// The path of `file` relative to the folder `folder`, with forward slashes ("../kit/a.wav").
std::string relativePath(const std::string& file, const std::string& folder);

} // namespace cleavix::slicing::instrument
