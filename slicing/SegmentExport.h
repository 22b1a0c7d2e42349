#pragma once
// Taking the pieces out: every segment of the loop as a numbered file (TCutWave), the selected
// segment (ttseg), the segment under the mouse (tsaveselseg) and the loop region (ttsregion). Each
// command first makes a plan -- the files with their store stretch and layout -- and a worker then
// writes the plan through WriteSplit, reading through the end-point smoother.
#include "jobs/JobFrame.h"
#include "sample/SampleStore.h"
#include "sample/WavWriter.h"
#include "slicing/SlicePoint.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::slicing {

inline constexpr const char* kMsgSaveFilesError =
    "Error saving files!\r\n\r\nFiles of that name may be open in another program, or their read only file attributes "
    "set.\r\n\r\nSave under a different name?";
inline constexpr const char* kMsgSaveFilesNoSpace =
    "Error saving files!\r\n\r\nThere is not enough disk space for the files.\r\n\r\nSave under a different name?";

// How the channels are shown and cut: mono; stereo linked ("L + R"); or unlinked stereo with
// channel selection 1 (first), 2 (second) or 3 (both).
struct ChannelMode {
    bool linked = true;
    int selection = 3;
};

struct ExportFile {
    std::string name;
    uint32_t start = 0;  // store position of the first sample
    uint32_t length = 0; // bytes of 16-bit output before smoothing
    int layout = sample::LayoutStereo;
    bool smooth = false; // end-point smoothing applies to this file
};

struct Segment {
    uint32_t start = 0;  // store position
    uint32_t length = 0; // output bytes
};

// The segments of the loop for one channel: channel 0 for mono and linked stereo (files of the
// sample's own channel count), 1 or 2 for a channel of unlinked stereo (mono files).
std::vector<Segment> loopSegments(const SlicePointList& list, uint32_t left, uint32_t right,
                                  const sample::SampleFormat& format, int channel);

// "loop.wav", segment 3 of a list with 12 points -> "loop03.wav"; with suffix "L" -> "loop03L.wav".
// Numbers are padded to the digits of (slice points in the list + 1).
std::string segmentFileName(const std::string& chosen, int number, int listCount, const std::string& suffix);

std::vector<ExportFile> planSegmentsInLoop(const SlicePointList& list, uint32_t left, uint32_t right,
                                           const sample::SampleFormat& format, const ChannelMode& mode,
                                           const std::string& chosenName);
// The selection [selStart, selEnd); upperHalf: clicked in the first channel's half (unlinked stereo).
ExportFile planSelectedSegment(uint32_t selStart, uint32_t selEnd, const sample::SampleFormat& format,
                               const ChannelMode& mode, bool upperHalf, const std::string& name);
// The segment that starts at slice point `index` of the list, in the channel of the selection.
ExportFile planSegmentAt(const SlicePointList& list, int index, const sample::SampleFormat& format,
                         const ChannelMode& mode, const std::string& name);
ExportFile planRegion(uint32_t left, uint32_t right, const sample::SampleFormat& format, const std::string& name);

struct ExportOutcome {
    std::vector<std::string> written;
    std::vector<std::string> failed; // "name: why"
    bool aborted = false;
    bool ok() const { return failed.empty() && !aborted; }
};

// Writes each file of a plan. A file that fails is noted and the next one written.
class ExportWorker : public jobs::Job {
public:
    ExportWorker(const sample::SampleStore& store, std::vector<ExportFile> files, uint8_t saveBits, int smoothLevel,
                 ExportOutcome& outcome)
        : store_(store), files_(std::move(files)), saveBits_(saveBits), smoothLevel_(smoothLevel), outcome_(outcome) {}
    void run(jobs::JobContext& context) override;

private:
    const sample::SampleStore& store_;
    std::vector<ExportFile> files_;
    uint8_t saveBits_;
    int smoothLevel_;
    ExportOutcome& outcome_;
};

// Writes one planned file through the end-point smoother. Never throws.
sample::WriteResult writeExportFile(const sample::SampleStore& store, const ExportFile& file, uint8_t saveBits,
                                    int smoothLevel, const sample::BlockProgress& progress = {});

// The four save workers.
class TCutWave final : public ExportWorker {
public:
    using ExportWorker::ExportWorker;
};
class ttseg final : public ExportWorker {
public:
    using ExportWorker::ExportWorker;
};
class tsaveselseg final : public ExportWorker {
public:
    using ExportWorker::ExportWorker;
};
class ttsregion final : public ExportWorker {
public:
    using ExportWorker::ExportWorker;
};

} // namespace cleavix::slicing
