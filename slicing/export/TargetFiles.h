#pragma once
// The small files the instrument exports write (an SFZ, a MIDI file, a drum kit's drumkit.xml):
// checking a target name before anything is written, and writing a file beside its target under a
// temporary name that is renamed over it only once complete. Plain functions; no threads.
#include "sample/WavWriter.h"

#include <string>

namespace cleavix::slicing::instrument {

// Why `path` cannot take a file ending in `extension` (any case; ".sfz"), or empty when it can:
// an empty or unprintable name, a name without the extension, a folder that does not exist, or a
// target that is a folder, a device, a pipe or another special file.
std::string targetProblem(const std::string& path, const std::string& extension);

// Why `path` cannot be a drum kit folder, or empty when it can: it may exist as a folder, or not
// yet exist in a folder that does.
std::string folderProblem(const std::string& path);

// Writes `bytes` to `path` atomically; the text of what went wrong, or empty on success. A file
// already at `path` keeps its permissions and is replaced only by a complete new file.
std::string writeFileAtomically(const std::string& path, const std::string& bytes);

using sample::baseOf;
using sample::openBeside;
using sample::directoryOf;

} // namespace cleavix::slicing::instrument
