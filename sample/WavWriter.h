#pragma once
// Writing Wave and AIFF files: every file the editor writes (the sample, a region, a segment, a
// slice) goes through WriteSplit.
//
// A target whose name ends in ".aif" or ".aiff" (any case) is written as AIFF, every other as
// Wave. The file is written beside the target under a temporary name and renamed over it only
// once complete, so a failed save never destroys the file it was replacing.
#include "sample/FileAndMemoryStream.h"
#include "sample/PeakTable.h"
#include "sample/SampleSource.h"

#include <cstdint>
#include <sys/types.h>
#include <string>

namespace cleavix::sample {

enum ChannelLayout : int {
    LayoutMono = 1,   // one channel (a mono sample, or one channel of a stereo sample)
    LayoutStereo = 3, // both channels of a stereo sample
};

struct WriteRequest {
    std::string fileName;
    uint32_t start = 0;   // store position where the audio begins
    uint32_t length = 0;  // bytes of 16-bit output data
    int layout = LayoutStereo;
    uint16_t sampleChannels = 2; // channels of the sample in the store
    uint8_t saveBits = 16;
    uint32_t sampleRate = 44100;
};

struct WriteResult {
    bool ok = false;
    std::string error; // what went wrong, for logs and the command-line tool
};

bool isAiffName(const std::string& fileName);

// The folder part of a path ("." when it has none) and the name part after the last slash.
std::string directoryOf(const std::string& path);
std::string baseOf(const std::string& path);

// Creates a new file beside `target` under a temporary name (".name.XXXXXX" in its folder) with
// the permissions of the file it will replace (`existingMode`, 0 when there is none: the default
// ones), and names it in `tempName`. The descriptor, or -1 with errno set.
int openBeside(const std::string& target, mode_t existingMode, std::string& tempName);

// Writes one file. source: where the samples come from (the end-point smoother, say); when null
// the store is read directly. Never throws.
WriteResult WriteSplit(const WriteRequest& request, const TFileAndMemoryStream& store, SampleSource* source,
                       const BlockProgress& progress = {});

// Whether a save failed for want of space (a full disk, a quota, a file-size limit): the error
// question then says so rather than blaming open or read-only files.
bool isNoSpaceReason(const std::string& reason);
inline constexpr const char* kMsgSaveNoSpace =
    "Error saving file!\r\n\r\nThere is not enough disk space for the file.\r\n\r\nSave under a different name?";

// The error question of every save.
inline constexpr const char* kMsgSaveError =
    "Error saving file!\r\n\r\nA file of that name may be open in another program, or its read only file "
    "attribute set.\r\n\r\nSave under a different name?";

} // namespace cleavix::sample
