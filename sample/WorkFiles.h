#pragma once
// Working files: where they live, how they are named, and how files left by a crash are cleared.
//
// Each working file is created exclusively (mode 0600) in the working directory with one of the
// prefixes below and a unique suffix, and holds an exclusive advisory lock (flock) for as long as
// it is open. A file with our name pattern that nobody holds locked belongs to no running
// instance: cleanStaleWorkFiles() removes those at start-up.
#include "sample/FileAndMemoryStream.h"

#include <memory>
#include <string>

namespace cleavix::sample {

inline constexpr const char* kStorePrefix = "CXT";    // sample store, undo file, other per-operation files
inline constexpr const char* kScratchPrefix = "CXRND"; // an edit's scratch copy when undo is off
inline constexpr const char* kPluginPrefix = "CXDX";   // plug-in output

// The "TempPath" setting when it names an existing directory, else the system temporary directory
// ($TMPDIR, or /tmp).
std::string workingDirectory(const std::string& tempPathSetting);

// Creates a new, empty, locked working file with the prefix in dir. Throws StreamError.
std::unique_ptr<TFileAndMemoryStream> createWorkFile(const std::string& dir, const std::string& prefix);

// Whether a name has the shape of one of our working files (prefix + 6 characters + ".tmp").
bool isWorkFileName(const std::string& name);

// Removes working files in dir that no running instance holds and that are older than
// minAgeSeconds (so a file another instance has just created but not yet locked is safe).
// Returns how many were removed.
int cleanStaleWorkFiles(const std::string& dir, int minAgeSeconds = 10);

} // namespace cleavix::sample
