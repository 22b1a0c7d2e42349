#pragma once
// The editing engine: the edit state that every edit and process shares, the selection list, the
// clipboard image, the undo record, and the clipboard and undo commands (Copy, Copy Segment, Cut,
// the pastes, Crop, Undo/Redo). The processes in processing/ launch through the same frame.
//
// Threads: every public method is for the main thread (the commands assert it). A command fills
// the edit state, records its undo (or makes a scratch backup), starts its worker through the job
// frame and returns; its completion runs later on the main thread and calls `done`. While a worker
// runs (the job frame's busy state) the worker alone touches the store, the undo file, the
// clipboard image and the candidate list.
#include "editing/Blocks.h"
#include "editing/ClipboardImage.h"
#include "jobs/JobFrame.h"
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "slicing/Slicer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::editing {

inline constexpr const char* kMsgCutOneChannel =
    "You cannot cut data from a single channel in a stereo file!\r\n\r\nUse the copy function to place data on the "
    "Clipboard.";
inline constexpr const char* kMsgProcessingError =
    "A processing error has occured!\r\n\r\nPlease check that there is sufficient disk space available for temporary "
    "\r\nfiles.";
inline constexpr const char* kMsgTooLong =
    "The sample would be too large;\r\n\r\nThe audio must stay under 4 GB.";
inline constexpr const char* kCaptionUndo = "&Undo";
// The undo code of a change between shared and separate channel points: the points and the mode
// go back together.
inline constexpr uint8_t kCodeSharing = 22;
inline constexpr const char* kCaptionRedo = "&Redo";

// What the launching command prepares for its worker, and what the worker hands back.
struct EditState {
    uint32_t opStart = 0;
    uint32_t opEnd = 0;
    uint32_t newStart = 0;
    uint32_t newEnd = 0;        // 0: not set
    uint8_t channelStep = 1;    // 2: one channel of stereo
    uint8_t processChannel = 3; // 1 left, 2 right, 3 both
    uint8_t bothChannels = 1;   // 2: stereo processed on both channels
    bool fadeLeadIn = false;
    uint32_t scratchLength = 0;
    bool undoEnabled = true;
    // Set by a worker once it got past its backup and began to change the data; the completion
    // applies the results only then.
    bool applied = false;
    // Set by a worker that found nothing it could do (a normalise of pure silence): the completion
    // then puts everything back as a failure does, the undo record included.
    bool refused = false;
};

// The one level of undo.
struct UndoRecord {
    uint8_t undoCode = 0;
    uint32_t undoStart = 0;
    uint32_t undoLength = 0;
    uint32_t pasteLength = 0;
    uint32_t undoRate = 0;
    uint8_t undoChannels = 0;
    uint8_t undoLinked = 0;
    slicing::CandidateSnapshot undoPoints;
    // An audio-only process whose points were replaced as part of it (a re-cut after it): its
    // undo gives the points back too.
    bool pointsReplaced = false;
    uint32_t undoLocators[2] = {0, 0};
    std::vector<uint32_t> undoSelection;
    uint8_t undoProcessChannel = 3;
    bool wasUnmodified = false;
    // What the record undoes, as the Undo item names it ("Cut", "Normalise"); it stays the same
    // through Undo and Redo.
    std::string undoName;
    // The store's change mark when the backup was taken, while the peak table described the store
    // then (0 otherwise): the undo puts exactly those bytes back, so it may bring back the table
    // set aside at that mark rather than rebuild it. Any other change of the record clears it.
    uint64_t returnsTo = 0;
    // The store's change mark when that operation (or the last undo) ended: a store changed since
    // without a record of its own no longer returns to `returnsTo` by this undo.
    uint64_t leftAt = 0;
};

// The dialog a paste would show before it runs.
enum class PasteQuestion { None, StereoToMono, MonoToStereo };

// The session pieces the editor works on.
struct EditorParts {
    jobs::JobFrame* jobs = nullptr;
    sample::SampleStore* store = nullptr;
    sample::PeakTable* peaks = nullptr;
    slicing::Slicer* slicer = nullptr;
    std::unique_ptr<sample::TFileAndMemoryStream>* undoFile = nullptr; // its slot: Undo exchanges files
    sample::TFileAndMemoryStream* clipboard = nullptr;
    std::string workDir;
    std::function<bool()> loaded;
    std::function<bool()> modified;
    std::function<void(bool)> setModified;
    // The pasted image became the whole sample ("Untitled.wav").
    std::function<void()> becameUntitled;
    // The audio or the format changed: views redraw.
    std::function<void()> changed;
};

using Done = std::function<void(bool)>;

class Editor {
public:
    Editor(EditorParts parts, bool undoEnabled);
    ~Editor();
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    // --- state ---
    EditState& edit() { return edit_; }
    const EditState& edit() const { return edit_; }
    UndoRecord& record() { return record_; }
    const UndoRecord& record() const { return record_; }
    bool undoAvailable() const { return undoAvailable_; }
    const std::string& undoCaption() const { return undoCaption_; }
    // The Undo item's text: the caption and what it undoes, "&Undo Cut" or "&Redo Normalise".
    std::string undoItemText() const;
    bool undoEnabled() const { return edit_.undoEnabled; }
    // The "Enable undo buffer" preference; off clears the record.
    void setUndoEnabled(bool on);
    uint8_t processChannel() const { return edit_.processChannel; }
    void setProcessChannel(uint8_t channel);
    // Whether the samples' operations work on both channels (mono always does).
    bool allChannels() const;

    // The selection list: start sentinel 0, the marks, end sentinel at the data length.
    const std::vector<uint32_t>& selectionList() const { return selection_; }
    void setupSelections(uint32_t start, uint32_t end);
    bool onlyCursor() const { return selection_.size() < 4; }
    // The range a selection command works on: the whole sample with only a cursor set.
    std::pair<uint32_t, uint32_t> operationRange() const;
    uint32_t selectionStart() const { return selection_.size() > 1 ? selection_[1] : 0; }
    uint32_t selectionEnd() const;

    // --- clipboard image ---
    std::vector<uint8_t> clipboardImage() const;
    void setClipboardImage(const std::vector<uint8_t>& image);
    // The conversion dialog Paste And Keep (segment false) or Paste Into Segment would show.
    PasteQuestion pasteQuestion(bool intoSegment) const;

    // --- commands (false when refused; `done(ok)` after the completion otherwise) ---
    bool copy(Done done = {});
    bool copySegment(int index, Done done = {});
    bool cut(Done done = {});
    // choice: the conversion dialog's answer (0..2), -1 for Cancel; ignored when no dialog shows.
    bool pasteKeep(int choice = 2, Done done = {});
    bool pasteFindNew(int choice = 2, Done done = {});
    bool pasteIntoSegment(int index, int choice = 2, Done done = {});
    bool pasteToNew(Done done = {});
    // The first `length` bytes of `source` (16-bit PCM, a recorded take) become the whole sample,
    // "Untitled.wav", as Paste To New makes it; the old sample is the undo backup. `source` must
    // outlive the worker (until `done`).
    // `name` is what the undo record calls it ("Record", "Receive Sample").
    bool newSampleFrom(const sample::TFileAndMemoryStream& source, uint32_t length, uint16_t channels, uint32_t rate,
                       const std::string& name, Done done = {});
    bool crop(Done done = {});
    // Undo, or Redo when the caption says so.
    bool undo(Done done = {});
    // Randomise the segments of the selection (the whole sample with only a cursor) with undo.
    bool randomise(bool keepPoints, Done done = {});

    // --- the frame, for processes ---
    // A new operation resets the caption and remembers whether the sample was unmodified, and
    // what a failure would put back. `name` is what the record it makes will undo ("Cut").
    void beginOperation(const std::string& name);
    // With undo on, SetupUndo and a fresh file for the backup, which becomes the undo file only
    // when the operation does not fail; else a scratch file. Throws when the file cannot be made.
    void prepareBackup(uint8_t code, uint32_t start, uint32_t length);
    void SetupUndo(uint8_t code, uint32_t start, uint32_t length, uint8_t channels, uint8_t linked, uint32_t rate,
                   bool reset);
    // A whole-sample backup at once (plug-in runs, a sample received from a sampler).
    void DoUndo(uint8_t code = 2);
    sample::TFileAndMemoryStream* backupStream();
    // Starts a worker; completion then `after` on the main thread.
    bool launch(std::unique_ptr<jobs::Job> job, jobs::ProcessMode mode, std::function<void()> after);
    // The mode a worker shows first: "Creating undo file..." while it makes its backup.
    jobs::ProcessMode firstMode(jobs::ProcessMode mode, bool backs) const;
    // The completion's shared part: Undo enabled := undoReady, scratch deleted, modified mark.
    void finishEdit(bool changed = true);
    // Whether the worker of the operation now completing failed (a full disk, a vanished file).
    // The store, the format, the points, the locators, the selection and the undo record are
    // then as they were before the operation began.
    bool failed() const { return failed_; }
    // Adjust Sample Rate (no worker): code 18 when undo is on.
    void adjustRate(uint32_t rate);
    void setUndoAvailable(bool on) { undoAvailable_ = on; }
    // Whether a result of newLength bytes fits the 32-bit positions; refuses aloud when not.
    bool fitsPositions(uint64_t newLength);
    // A failure while a worker ran, to be shown by its completion.
    void reportLater(const std::string& message);
    void showReports();
    // Locators and the end marker after a length change of [opStart, opEnd) to [opStart, newEnd).
    void shiftLocators(uint32_t opStart, uint32_t opEnd, uint32_t newEnd);
    const std::string& scratchName() const { return scratchName_; }
    // While held, point changes made by an operation's follow-up (a re-cut) make no record.
    void holdPointRecords(bool hold) { holdPoints_ = hold; }

    // The pieces, for workers.
    sample::SampleStore& store() { return *parts_.store; }
    sample::PeakTable& peaks() { return *parts_.peaks; }
    slicing::Slicer& slicer() { return *parts_.slicer; }
    jobs::JobFrame& jobs() { return *parts_.jobs; }
    std::unique_ptr<sample::TFileAndMemoryStream>& undoFileSlot() { return *parts_.undoFile; }
    sample::TFileAndMemoryStream& clipboard() { return *parts_.clipboard; }
    const std::string& workDir() const { return parts_.workDir; }
    bool loaded() const { return parts_.loaded ? parts_.loaded() : store().dataLength() > 0; }
    const sample::SampleStore& store() const { return *parts_.store; }

    // Requests and starts a fresh slice search, then done(true); false when it could not start.
    bool searchThen(const Done& done);

    // A load or Close: the record goes, Undo is disabled.
    void resetForLoad();
    // The sample was saved as it is now: the state an undo or redo would return to is no longer
    // the saved one, so crossing back makes the sample modified.
    void sampleSaved() { record_.wasUnmodified = false; }

private:
    void pointsChanging(slicing::PointChange change, const slicing::CandidateSnapshot& snapshot);
    bool startPaste(bool findNew, int choice, Done done);
    bool startNewSample(const sample::TFileAndMemoryStream* source, size_t offset, uint32_t length, uint16_t channels,
                        uint32_t rate, jobs::ProcessMode mode, const std::string& name, Done done);
    bool launchCopy(std::shared_ptr<std::vector<uint8_t>> image, Done done);
    // The clipboard image as a paste reads it; an image of other than 16 bits is refused aloud.
    ImageInfo pasteImage();
    void completePaste(bool findNew, uint32_t opStart, uint32_t opEnd, bool wasCursor, Done done);
    void emptyUndoFile();
    void changed();
    // What an operation that fails puts back.
    struct Before {
        UndoRecord record;
        bool undoAvailable = false;
        std::string caption;
        int64_t storeSize = 0;
        sample::SampleFormat format;
        slicing::CandidateSnapshot points;
        uint32_t locators[2] = {0, 0};
        std::vector<uint32_t> selection;
    };
    void keepBefore();
    void rollBack();
    void commitBackup();
    void keepLocatorsInside();

    EditorParts parts_;
    EditState edit_;
    UndoRecord record_;
    bool undoAvailable_ = false;
    std::string undoCaption_ = kCaptionUndo;
    std::vector<uint32_t> selection_{0, 0, 0};
    std::unique_ptr<ScratchFile> scratch_;
    // The backup an operation with undo on writes; the undo file once the operation succeeded.
    std::unique_ptr<ScratchFile> pendingUndo_;
    Before before_;
    bool failed_ = false;
    std::string scratchName_;
    std::vector<std::string> reports_;
    bool randomising_ = false;
    bool pendingUnmodified_ = false;
    bool holdPoints_ = false;
    std::string operationName_; // the running operation's, for the record it makes
};

} // namespace cleavix::editing
