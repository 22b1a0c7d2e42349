#pragma once
// What the progress window ("Processing") shows while a long operation runs: its mode and caption,
// a bar from 0 to 100, the Cancel button, and the two-level position for operations that run
// several stages in a row. Main thread only; a window (or the command-line tool) watches it
// through ProgressView.
#include <string>

namespace cleavix::jobs {

// The operation a progress window stands for; the caption follows from it.
enum class ProcessMode : int {
    CreatingPeaks = 0,
    Scanning = 1,
    Pasting = 2,
    Copying = 3,
    Undoing = 4,
    Cropping = 5,
    Cutting = 6,
    Loading = 7,
    Reversing = 8,
    Silencing = 9,
    Inverting = 10,
    Randomising = 11,
    Quantising = 12,
    CreatingUndo = 13,
    Normalising = 14,
    Converting = 15,
    RemovingSilence = 16,
    Saving = 17,
    ProcessingVst = 18,
    ImportingCd = 19,
    CreatingMixman = 20,
    // An effect plug-in run: the store is only written once the output is complete, so Cancel
    // stops it at once.
    ProcessingPlugin = 21,
    // A resample: read from its backup, so Cancel stops it at once and the backup is put back.
    Resampling = 22,
};

// The label's caption for a mode ("Saving...", "Undoing...", ...).
std::string processModeCaption(ProcessMode mode);
// The caption shown before any mode is set, for plug-in runs.
inline constexpr const char* kPluginCaption = "Processing LV2 plugin:";

class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void progressShown() = 0;
    virtual void progressChanged() = 0; // mode, caption, position or cancel visibility changed
    virtual void progressHidden() = 0;
};

class ProgressModel {
public:
    void setView(ProgressView* view) { view_ = view; }

    void show(ProcessMode mode);
    void hide();
    bool visible() const { return visible_; }

    void setMode(ProcessMode mode);
    ProcessMode mode() const { return mode_; }
    const std::string& caption() const { return caption_; }
    bool cancelVisible() const { return mode_ != ProcessMode::Saving; }

    void setPosition(int position); // clamped to 0..100
    int position() const { return position_; }

    // The file counter of an operation that writes several files: file `number` of `count`
    // (count 0: none shown). Reset when the window is shown.
    void setFiles(int number, int count);
    int fileNumber() const { return fileNumber_; }
    int fileCount() const { return fileCount_; }

    // Two-level progress: stage `stageIndex` (1-based) of `stageCount`, `done` of `total` within it.
    void setStages(int stageCount) { stageCount_ = stageCount; }
    void setStagePosition(int stageIndex, double done, double total);

private:
    void changed();
    ProgressView* view_ = nullptr;
    bool visible_ = false;
    ProcessMode mode_ = ProcessMode::CreatingPeaks;
    std::string caption_ = kPluginCaption;
    int position_ = 0;
    int stageCount_ = 1;
    int fileNumber_ = 0;
    int fileCount_ = 0;
};

// Linear progress inside a sub-range of the bar: from + round(done / total * (to - from)),
// rounding to nearest with ties to even; `to` when total is 0.
int progressIn(double done, double total, int from, int to);

} // namespace cleavix::jobs
