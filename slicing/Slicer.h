#pragma once
// The slicing state the main window owns -- candidates, slice points, sensitivity, the loop
// region, the selected segment, bars and beats, the channel mode, the export settings -- and the
// slicing commands: the search, the point operations, tempo and grid, Re-cut, Randomise, the
// point file and the exports. The session owns one Slicer; the window and the command-line tool
// call it.
//
// Threads: every method is for the main thread (the commands assert it). The long commands start
// a worker through the job frame and return at once; their completion (and `done`) runs later on
// the main thread.
#include "jobs/JobFrame.h"
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "slicing/PointFile.h"
#include "slicing/Randomise.h"
#include "slicing/SegmentExport.h"
#include "slicing/SlicePoint.h"
#include "slicing/SliceSearch.h"
#include "slicing/Tempo.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::slicing {

inline constexpr const char* kMsgPointLimit = "Found points may exceed 8192;\r\nTry cutting the file into smaller pieces!";
inline constexpr const char* kMsgPointTableFull =
    "The point table is full (8192 points);\r\n\r\nThe point was not added.";

// What an undoable change to the candidates was (the undo record keeps its own codes).
enum class PointChange { Add, Move, Enable, Disable, Lock, Unlock, GridCut, Recut, Randomise, Sharing };

struct ExportSettings {
    bool smoothEndPoints = false; // "Smooth sample end points"
    int smoothLevel = 30;         // 0..60
    std::string bankName = "Vantrel";
};

// The result of an export command, once its error-and-retry flow has ended.
struct ExportReport {
    bool ok = false;
    std::vector<std::string> written;
    std::vector<std::string> failed;
};

class Slicer {
public:
    Slicer(jobs::JobFrame& jobs, sample::SampleStore& store, sample::PeakTable& peaks, std::string workingDirectory);

    // --- state ---
    CandidateList& candidates() { return candidates_; }
    const CandidateList& candidates() const { return candidates_; }
    const SlicePointList& slicePoints() const { return slicePoints_; }
    SearchFlags& flags() { return flags_; }
    const SearchOutcome& lastSearch() const { return lastSearch_; }

    int slider() const { return slider_; }
    int64_t threshold() const { return threshold_; }
    // The sensitivity slider moved: threshold = 65535 - position - 1, then a redraw.
    void setSlider(int position);
    // The label beside the slider: "57%".
    std::string sensitivityLabel() const;
    // The sensitivity dialog: a whole number 0..100 (at most 3 characters); false changes nothing.
    bool applySensitivityText(const std::string& text);

    uint32_t left() const { return left_; }
    uint32_t right() const { return right_; }
    // Sets the loop region as it stands (L <= R, both within the sample) and recomputes the tempo.
    void setLoop(uint32_t left, uint32_t right);
    // A locator released at `position`: it snaps to the nearer slice point.
    void releaseLeft(uint32_t position);
    void releaseRight(uint32_t position);
    // A locator dragged by the user and dropped at `position` (dropLocator's rules), tempo recomputed.
    void dropLeft(uint32_t position);
    void dropRight(uint32_t position);

    ChannelMode& channelMode() { return mode_; }
    const ChannelMode& channelMode() const { return mode_; }
    bool linked() const { return store_.format().channels == 2 && mode_.linked; }
    int viewWidth() const { return viewWidth_; }
    void setViewWidth(int pixels) { viewWidth_ = pixels < 1 ? 1 : pixels; }

    TempoState& tempo() { return tempo_; }
    const TempoState& tempo() const { return tempo_; }
    bool smooth = false;              // "Smooth": grid points settle on quiet spots
    bool addAtCurrentLength = false;  // added points get threshold + 10 instead of 32640
    ExportSettings exportSettings;
    int smoothLevelInForce = 0;

    // The selected segment: the slice point that starts it and the selection it sets.
    int selectedIndex = -1;
    uint32_t selectionStart = 0;
    uint32_t selectionEnd = 0;
    bool selectSegment(int index);
    // The segment holding `position`: the last slice point at or before it (0, the start, when none
    // is), counting only the points of one channel when channelCode names one (kCodeFirst or
    // kCodeSecondOrMono; 0 counts every point).
    int segmentAt(uint32_t position, uint8_t channelCode = 0) const;

    // Undo of point edits belongs to the undo record: it listens here and keeps the snapshot.
    std::function<void(PointChange, const CandidateSnapshot&)> onPointsChanging;
    // The audio changed (Randomise): the session marks the sample modified.
    std::function<void()> onAudioChanged;
    // The slice point list was rebuilt: the window redraws.
    std::function<void()> onRedraw;
    // The tempo was computed (bars, beats or the loop region changed): the window shows it.
    std::function<void()> onTempo;

    CandidateSnapshot snapshot() const;
    void restore(const CandidateSnapshot& snapshot);

    // --- per-sample life ---
    // A load begins, or the sample is closed: both tables emptied.
    void clearForLoad();
    // A load completed: L = 0, R = dataLength, threshold 65536 (slider 0), bars 1 or 0, beats 0,
    // a 4/4 signature, the channels linked, the tempo computed.
    void sampleLoaded(bool setOneBar);

    // Rebuilds the slice point list with the current threshold (every redraw does).
    void rebuild();

    // --- search ---
    void requestSearch() { flags_.searchRequest = true; }
    // The detection that the load (or a normalise of the whole sample) did on its way over the
    // store as it now is: a search takes its onsets instead of reading the store again, for as
    // long as the store has not changed since.
    void setLoadDetection(std::shared_ptr<const OnsetDetector> detection);
    // That detection while the store is as it was then, else null.
    std::shared_ptr<const OnsetDetector> loadDetection() const;
    // StartSliceSearch: runs tpseek; false when another job runs. done gets the outcome.
    bool startSliceSearch(std::function<void(const SearchOutcome&)> done = {});

    // --- point operations (false when refused or nothing to do) ---
    // upperHalf: the click was in the first channel's half of the waveform (unlinked stereo).
    bool addPoint(uint32_t position, bool upperHalf = false);
    bool movePoint(int index, uint32_t position);
    bool enablePoint(int index);
    bool disablePoint(int index);
    bool lockPoint(int index);
    bool unlockPoint(int index);
    void lockAll();
    void unlockAll();

    // --- point file ---
    PointFileResult savePoints(const std::string& fileName) const;
    PointFileResult loadPoints(const std::string& fileName);

    // --- tempo and grid ---
    void computeTempo();
    // The bars and beats dialog: both fields must be whole numbers 0..32767.
    bool setBarsAndBeats(const std::string& bars, const std::string& beats);
    // Asks to set one bar when no tempo is set; false when the user cancels.
    bool ensureTempo();
    // Cut Loop To 8ths, 16ths or 32nds. done(true) once the grid is in place (after the refine-only
    // search when Smooth is on); done(false) when the user refused to set a tempo.
    void cutLoopTo(GridDivision division, std::function<void(bool)> done = {});
    // Re-cut: a fresh search, the locators snapped to the new points.
    bool recut(std::function<void(const SearchOutcome&)> done = {});
    // Stereo: the slice points shared by both channels ("L + R") or each channel's own ("L / R"),
    // found afresh for the new mode. False (nothing changes) for mono, while a job runs, or when
    // the mode is already that one.
    bool setShared(bool shared, std::function<void(const SearchOutcome&)> done = {});
    // Randomise the segments of [start, start + length) (the selection, or the whole sample).
    // keepPoints: "Ran&domise and keep points"; otherwise a fresh search follows.
    bool randomise(uint32_t start, uint32_t length, bool keepPoints, std::function<void(bool)> done = {});
    void setRandomSeed(uint32_t seed) { seed_ = seed; seeded_ = true; }

    // --- exports (error-and-retry flow through the prompter) ---
    // Save Segments in Loop to chosenName at bits; the smoothing level in force comes from the
    // export settings.
    bool saveSegmentsInLoop(const std::string& chosenName, uint8_t bits, std::function<void(const ExportReport&)> done);
    bool saveSelectedSegment(const std::string& name, uint8_t bits, bool upperHalf,
                             std::function<void(const ExportReport&)> done);
    bool saveSegmentAt(int index, const std::string& name, uint8_t bits, std::function<void(const ExportReport&)> done);
    bool saveRegion(const std::string& name, uint8_t bits, std::function<void(const ExportReport&)> done);

private:
    void changing(PointChange change);
    void setThreshold(int64_t threshold);
    void alignForAdd(SlicePoint& point, uint32_t position, bool upperHalf) const;
    void gridPlaced(std::function<void(bool)> done);
    using Planner = std::function<std::vector<ExportFile>(const std::string& name)>;
    template <class Worker>
    bool runExport(const std::string& name, uint8_t bits, int smoothLevel, Planner planner, bool manyFiles,
                   std::function<void(const ExportReport&)> done);

    jobs::JobFrame& jobs_;
    sample::SampleStore& store_;
    sample::PeakTable& peaks_;
    std::string workDir_;
    CandidateList candidates_;
    SlicePointList slicePoints_;
    SearchFlags flags_;
    SearchOutcome lastSearch_;
    int slider_ = 0;
    int64_t threshold_ = 65536;
    uint32_t left_ = 0;
    uint32_t right_ = 0;
    ChannelMode mode_;
    int viewWidth_ = 1000;
    TempoState tempo_;
    uint32_t seed_ = 0;
    bool seeded_ = false;
    std::shared_ptr<const OnsetDetector> loadDetection_;
    uint64_t loadDetectionChanges_ = 0; // the store's change count when it was made
};

} // namespace cleavix::slicing
