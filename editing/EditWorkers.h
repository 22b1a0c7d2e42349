#pragma once
// The clipboard and cut workers, and the steps every edit worker shares (backup copy, peak
// rebuild). Each worker reads what its command put in the edit state and writes its results
// there; the command's completion applies them on the main thread.
#include "editing/Blocks.h"
#include "editing/Editor.h"
#include "jobs/JobFrame.h"

#include <cstdint>
#include <vector>

namespace cleavix::editing {

// The worker's backup: the range as it was goes to the backup. With undo on into the undo file (progress 0 to
// 100, then the operation's mode and undoReady); with it off only when the worker reads its input
// from the backup (into the scratch file, progress 0 to 10). False when the worker must end.
bool makeBackup(Editor& editor, jobs::JobContext& context, Pace& pace, uint32_t start, uint32_t length,
                jobs::ProcessMode mode, bool neededAsInput);
// The worker's last stage: the peak table from the store as it now is (90 to 100, or 100 to 100
// after a stop). An operation that took an undo backup first sets the old table aside for its undo.
// unchangedBytes: how much of the store's start the worker left as it was (the entries there are
// copied from the table set aside instead of being built again).
void rebuildPeaksAfter(Editor& editor, Pace& pace, uint32_t dataLength, uint16_t channels, bool stopped,
                       uint32_t unchangedBytes = 0);
// Instead of rebuildPeaksAfter, for a worker that writes the whole store in order from byte 0 and
// feeds each block it writes to editor.peaks().addBlocks: the set-aside and a fresh table first,
// and once every byte is written the table marked as describing the store. A worker stopped half
// way calls rebuildPeaksAfter (stopped) instead of the end.
void beginPeaksOnTheWay(Editor& editor, uint16_t channels);
// The table of the store as the backup found it waits for the undo (with undo on and a table
// that described the store). True when it was set aside now.
bool setPeaksAside(Editor& editor);
// The table set aside is given up (its disk space with it), and the undo will rebuild instead.
void dropPeaksAside(Editor& editor);
void endPeaksOnTheWay(Editor& editor, Pace& pace, uint32_t dataLength);
// The rebuild alone, keeping the entries of the table set aside that lie in the first keepBytes.
void rebuildPeaksOnly(Editor& editor, Pace& pace, uint32_t dataLength, uint16_t channels, bool stopped,
                      uint32_t keepBytes = 0);

// Cut: the range leaves the store.
class TEditThread final : public jobs::Job {
public:
    explicit TEditThread(Editor& editor) : editor_(editor) {}
    void run(jobs::JobContext& context) override;

private:
    Editor& editor_;
};

// Copy and Copy Segment: the range (or one channel of it) after the image header in `image`.
class TCopyThread final : public jobs::Job {
public:
    TCopyThread(Editor& editor, std::vector<uint8_t>& image, bool& complete)
        : editor_(editor), image_(image), complete_(complete) {}
    void run(jobs::JobContext& context) override;

private:
    Editor& editor_;
    std::vector<uint8_t>& image_;
    bool& complete_;
};

// What a paste takes from the clipboard image.
struct PasteInput {
    int type = 0;           // conversion type 0..9
    size_t dataOffset = 0;  // in the image
    uint32_t dataSize = 0;  // image bytes
};

// Paste And Keep, Paste And Find New: the image replaces [opStart, opEnd).
class TPasteThread final : public jobs::Job {
public:
    TPasteThread(Editor& editor, PasteInput input) : editor_(editor), input_(input) {}
    void run(jobs::JobContext& context) override;

private:
    Editor& editor_;
    PasteInput input_;
};

// Paste Into Segment: the image overwrites the segment, the length stays.
class TPasteSegmentThread final : public jobs::Job {
public:
    TPasteSegmentThread(Editor& editor, PasteInput input) : editor_(editor), input_(input) {}
    void run(jobs::JobContext& context) override;

private:
    Editor& editor_;
    PasteInput input_;
};

// Paste To New: the image becomes the whole sample. With a source stream (a recorded take) the
// new sample is read from it instead of the clipboard image.
class TPasteToNewThread final : public jobs::Job {
public:
    TPasteToNewThread(Editor& editor, PasteInput input, bool backupOld, uint16_t channels,
                      const sample::TFileAndMemoryStream* source = nullptr)
        : editor_(editor), input_(input), backupOld_(backupOld), channels_(channels), source_(source) {}
    void run(jobs::JobContext& context) override;

private:
    Editor& editor_;
    PasteInput input_;
    bool backupOld_;
    uint16_t channels_;
    const sample::TFileAndMemoryStream* source_;
};

// Crop: only [opStart, opEnd) stays.
class TCropThread final : public jobs::Job {
public:
    explicit TCropThread(Editor& editor) : editor_(editor) {}
    void run(jobs::JobContext& context) override;

private:
    Editor& editor_;
};

// The undo copy of a region that Randomise is about to shuffle.
class TRandomiseBackupThread final : public jobs::Job {
public:
    explicit TRandomiseBackupThread(Editor& editor) : editor_(editor) {}
    void run(jobs::JobContext& context) override;

private:
    Editor& editor_;
};

} // namespace cleavix::editing
