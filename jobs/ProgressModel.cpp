#include "jobs/ProgressModel.h"

#include <algorithm>
#include <cmath>

namespace cleavix::jobs {

std::string processModeCaption(ProcessMode mode) {
    static const char* const captions[] = {
        "Creating peak file...", "Scanning for slices...", "Pasting data...",     "Copying data...",
        "Undoing...",            "Cropping...",            "Cutting...",          "Loading...",
        "Reversing...",          "Silencing...",           "Inverting...",        "Randomising...",
        "Quantising...",         "Creating undo file...",  "Normalising...",      "Converting...",
        "Removing silence...",   "Saving...",              "Processing VST plugin:",
        "Importing CD track...", "Creating Mixman data...",
    };
    if (mode == ProcessMode::Resampling) {
        return "Resampling...";
    }
    const int index = static_cast<int>(mode);
    if (index < 0 || index >= static_cast<int>(std::size(captions))) {
        return kPluginCaption;
    }
    return captions[index];
}

int progressIn(double done, double total, int from, int to) {
    if (total <= 0) {
        return to;
    }
    return from + static_cast<int>(std::nearbyint(done / total * (to - from)));
}

void ProgressModel::show(ProcessMode mode) {
    visible_ = true;
    position_ = 0;
    fileNumber_ = 0;
    fileCount_ = 0;
    mode_ = mode;
    caption_ = processModeCaption(mode);
    if (view_ != nullptr) {
        view_->progressShown();
    }
}

void ProgressModel::hide() {
    if (!visible_) {
        return;
    }
    visible_ = false;
    if (view_ != nullptr) {
        view_->progressHidden();
    }
}

void ProgressModel::setMode(ProcessMode mode) {
    mode_ = mode;
    caption_ = processModeCaption(mode);
    changed();
}

void ProgressModel::setPosition(int position) {
    position = std::clamp(position, 0, 100);
    if (position == position_) {
        return;
    }
    position_ = position;
    changed();
}

void ProgressModel::setFiles(int number, int count) {
    if (number == fileNumber_ && count == fileCount_) {
        return;
    }
    fileNumber_ = number;
    fileCount_ = count;
    changed();
}

void ProgressModel::setStagePosition(int stageIndex, double done, double total) {
    const double stages = std::max(stageCount_, 1);
    const double within = total > 0 ? done / total : 1.0;
    setPosition(static_cast<int>(std::nearbyint(((stageIndex - 1) / stages + (1.0 / stages) * within) * 100.0)));
}

void ProgressModel::changed() {
    if (visible_ && view_ != nullptr) {
        view_->progressChanged();
    }
}

} // namespace cleavix::jobs
