#pragma once
// The point file (".clx"): a fixed 98320-byte image of the candidate list -- the count n as 4
// little-endian bytes, then the first 8193 entries of the table (start marker, the points, the end
// marker, and whatever the rest of the table holds), 12 bytes each. It holds no sample identity:
// positions are bytes of the sample it was saved for.
#include "slicing/SlicePoint.h"

#include <cstdint>
#include <string>

namespace cleavix::slicing {

inline constexpr size_t kPointFileBytes = 4 + (kMaxPoints + 1) * kPointRecordBytes; // 98320

inline constexpr const char* kPointFileFilter = "CX / Vantrel point files (*.clx)|*.clx";
inline constexpr const char* kPointFileSaveTitle = "Save point file";
inline constexpr const char* kPointFileLoadTitle = "Load point file";
inline constexpr const char* kMsgBadPointFile =
    "This is not a point file, or it is damaged;\r\n\r\nThe slice points were left as they were.";

struct PointFileResult {
    bool ok = false;
    std::string error; // the system's message, or kMsgBadPointFile
};

// Writes the list's image to fileName.
PointFileResult savePointFile(const CandidateList& list, const std::string& fileName);

// Reads fileName into the list for a sample of dataLength bytes: points beyond the sample's end
// are dropped and the end marker is set to dataLength. A file that is too short, claims more than
// 8192 points, or lists its points out of order is refused and the list is left untouched.
PointFileResult loadPointFile(CandidateList& list, const std::string& fileName, uint32_t dataLength);

} // namespace cleavix::slicing
