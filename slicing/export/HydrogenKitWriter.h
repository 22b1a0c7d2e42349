#pragma once
// The slices as a Hydrogen drum kit: a folder holding drumkit.xml and its own copy of each slice
// file, one instrument per slice (one layer playing the file), each answering the slice's root key
// as its MIDI note. The fields follow the drumkit_info schema Hydrogen ships. Pure functions; no
// threads.
#include "slicing/export/SlicePlan.h"

#include <string>
#include <vector>

namespace cleavix::slicing::instrument {

inline constexpr const char* kDrumkitFile = "drumkit.xml";

// The kit's file name for each slice: the slice file's own name inside `folder`.
std::vector<std::string> kitFileNames(const SlicePlan& plan, const std::string& folder);

// drumkit.xml for the slices, naming each file by its name alone (the files lie beside it).
std::string drumkitXml(const SlicePlan& plan, const std::string& name);

// Why drumkit.xml cannot name the slices, or empty: XML holds only UTF-8 text, so a file name that
// is not is refused.
std::string kitProblem(const SlicePlan& plan);

// Text made safe for XML 1.0 character data: &, <, >, quotes escaped; control characters, which
// XML 1.0 cannot hold, become blanks.
std::string xmlText(const std::string& text);

} // namespace cleavix::slicing::instrument
