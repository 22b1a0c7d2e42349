#include "editing/Editor.h"

#include "editing/ClipboardImage.h"
#include "editing/EditWorkers.h"
#include "editing/PointShift.h"
#include "editing/UndoThread.h"
#include "sample/WorkFiles.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <new>

namespace cleavix::editing {

namespace {

// Catches what a worker throws (a full disk, a vanished file): the failure is shown by the
// completion, which still runs.
class GuardedJob final : public jobs::Job {
public:
    GuardedJob(std::unique_ptr<jobs::Job> job, Editor& editor, std::shared_ptr<bool> failed)
        : job_(std::move(job)), editor_(editor), failed_(std::move(failed)) {}
    void run(jobs::JobContext& context) override {
        try {
            job_->run(context);
        } catch (const std::exception&) {
            // Read by the completion, which the frame runs after this worker ended.
            *failed_ = true;
            context.call([this] { editor_.reportLater(kMsgProcessingError); });
        }
    }

private:
    std::unique_ptr<jobs::Job> job_;
    Editor& editor_;
    std::shared_ptr<bool> failed_;
};

uint8_t pointCode(slicing::PointChange change) {
    switch (change) {
    case slicing::PointChange::Add:
        return 5;
    case slicing::PointChange::Move:
        return 3;
    case slicing::PointChange::Enable:
        return 6;
    case slicing::PointChange::Disable:
        return 7;
    case slicing::PointChange::Lock:
        return 8;
    case slicing::PointChange::Unlock:
        return 4;
    case slicing::PointChange::Sharing:
        return kCodeSharing;
    default:
        return 14;
    }
}

const char* pointChangeName(slicing::PointChange change) {
    switch (change) {
    case slicing::PointChange::Add:
        return "Add Point";
    case slicing::PointChange::Move:
        return "Move Point";
    case slicing::PointChange::Enable:
        return "Enable Point";
    case slicing::PointChange::Disable:
        return "Disable Point";
    case slicing::PointChange::Lock:
        return "Lock Point";
    case slicing::PointChange::Unlock:
        return "Unlock Point";
    case slicing::PointChange::GridCut:
        return "Cut Loop";
    case slicing::PointChange::Recut:
        return "Re-cut";
    case slicing::PointChange::Randomise:
        return "Randomise";
    case slicing::PointChange::Sharing:
        break; // named by the direction it goes
    }
    return "";
}

} // namespace

Editor::Editor(EditorParts parts, bool undoEnabled) : parts_(std::move(parts)) {
    edit_.undoEnabled = undoEnabled && parts_.undoFile != nullptr && *parts_.undoFile != nullptr;
    parts_.slicer->onPointsChanging = [this](slicing::PointChange change, const slicing::CandidateSnapshot& s) {
        pointsChanging(change, s);
    };
}

Editor::~Editor() {
    parts_.slicer->onPointsChanging = nullptr;
    scratch_.reset();
}

void Editor::changed() {
    if (parts_.changed) {
        parts_.changed();
    }
}

void Editor::emptyUndoFile() {
    if (*parts_.undoFile) {
        (*parts_.undoFile)->setSize(0);
    }
}

void Editor::setUndoEnabled(bool on) {
    assert(jobs().dispatcher().isMainThread());
    on = on && *parts_.undoFile != nullptr;
    if (!on) {
        record_.returnsTo = 0;
        record_.undoCode = 0;
        record_.undoStart = 0;
        record_.undoLength = 0;
        emptyUndoFile();
        undoAvailable_ = false;
    }
    edit_.undoEnabled = on;
}

void Editor::setProcessChannel(uint8_t channel) {
    assert(jobs().dispatcher().isMainThread());
    edit_.processChannel = std::clamp<uint8_t>(channel, 1, 3);
    parts_.slicer->channelMode().selection = edit_.processChannel;
}

bool Editor::allChannels() const { return store().format().channels != 2 || edit_.processChannel == 3; }

void Editor::setupSelections(uint32_t start, uint32_t end) {
    assert(jobs().dispatcher().isMainThread());
    const uint32_t length = store().dataLength();
    start = std::min(start, length);
    end = std::min(end, length);
    selection_ = {0, start};
    if (end > 0 && end != start) {
        selection_.push_back(end);
        if (selection_[2] < selection_[1]) {
            std::swap(selection_[1], selection_[2]);
        }
    }
    selection_.push_back(length);
}

uint32_t Editor::selectionEnd() const { return selection_.size() >= 4 ? selection_[2] : selectionStart(); }

std::pair<uint32_t, uint32_t> Editor::operationRange() const {
    const uint32_t length = store().dataLength();
    if (onlyCursor()) {
        return {0, length};
    }
    const uint32_t a = std::min(selection_[1], length);
    const uint32_t b = std::min(selection_[2], length);
    return {std::min(a, b), std::max(a, b)};
}

std::vector<uint8_t> Editor::clipboardImage() const { return parts_.clipboard->memory(); }

void Editor::setClipboardImage(const std::vector<uint8_t>& image) {
    assert(jobs().dispatcher().isMainThread());
    parts_.clipboard->clear();
    parts_.clipboard->seek(0);
    parts_.clipboard->writeAll(image.data(), image.size());
}

PasteQuestion Editor::pasteQuestion(bool intoSegment) const {
    const ImageInfo info = readImage(parts_.clipboard->memory());
    if (info.status != ImageInfo::Ok) {
        return PasteQuestion::None;
    }
    const uint16_t channels = store().format().channels;
    const bool linked = parts_.slicer->channelMode().linked;
    if (info.channels == 2 && (channels == 1 || (intoSegment && !linked))) {
        return PasteQuestion::StereoToMono;
    }
    if (!intoSegment && info.channels == 1 && channels == 2) {
        return PasteQuestion::MonoToStereo;
    }
    return PasteQuestion::None;
}

std::string Editor::undoItemText() const {
    return record_.undoName.empty() ? undoCaption_ : undoCaption_ + " " + record_.undoName;
}

void Editor::beginOperation(const std::string& name) {
    operationName_ = name;
    keepBefore();
    undoCaption_ = kCaptionUndo;
    pendingUnmodified_ = parts_.modified ? !parts_.modified() : false;
    record_.returnsTo = 0; // until the operation's backup sets it
}

void Editor::keepBefore() {
    before_.record = record_;
    before_.undoAvailable = undoAvailable_;
    before_.caption = undoCaption_;
    before_.storeSize = store().stream().size();
    before_.format = store().format();
    before_.points = parts_.slicer->snapshot();
    before_.locators[0] = parts_.slicer->left();
    before_.locators[1] = parts_.slicer->right();
    before_.selection = selection_;
}

void Editor::rollBack() {
    // The workers take all the space they need (backup, redo copy, growth of the store) before
    // they change a byte of the sample, so a failure finds the audio itself untouched: what is
    // left is to give back the size and everything the operation had set up for itself.
    pendingUndo_.reset();
    scratch_.reset();
    try {
        if (store().stream().size() != before_.storeSize) {
            store().stream().setSize(before_.storeSize);
        }
    } catch (const std::exception&) {
    }
    record_ = before_.record;
    undoAvailable_ = before_.undoAvailable;
    undoCaption_ = before_.caption;
    store().format() = before_.format;
    parts_.slicer->restore(before_.points);
    parts_.slicer->setLoop(before_.locators[0], before_.locators[1]);
    selection_ = before_.selection;
    edit_.applied = false;
}

void Editor::keepLocatorsInside() {
    // Whatever an operation did to the length, no locator stays past the end of the sample,
    // where a play or an export would read what is not there.
    const uint32_t length = store().dataLength();
    const uint32_t left = parts_.slicer->left();
    const uint32_t right = parts_.slicer->right();
    if (left > length || right > length) {
        parts_.slicer->setLoop(std::min(left, length), std::min(right, length));
    }
}

void Editor::commitBackup() {
    if (!pendingUndo_) {
        return;
    }
    auto fresh = pendingUndo_->take();
    pendingUndo_.reset();
    sample::ReleaseWorkFile(*parts_.undoFile);
    *parts_.undoFile = std::move(fresh);
}

void Editor::SetupUndo(uint8_t code, uint32_t start, uint32_t length, uint8_t channels, uint8_t linked, uint32_t rate,
                       bool reset) {
    record_.undoProcessChannel = edit_.processChannel;
    record_.undoCode = code;
    record_.undoName = operationName_;
    record_.undoSelection = selection_;
    if (reset) {
        undoCaption_ = kCaptionUndo;
        record_.wasUnmodified = pendingUnmodified_;
    }
    record_.undoLinked = linked;
    record_.undoChannels = channels;
    if (record_.undoLength != 0 && !pendingUndo_) {
        emptyUndoFile();
    }
    record_.undoLength = length;
    record_.undoStart = start;
    record_.pasteLength = 0;
    record_.undoRate = rate;
    record_.undoPoints = parts_.slicer->snapshot();
    record_.pointsReplaced = false;
    undoAvailable_ = true;
    record_.undoLocators[0] = parts_.slicer->left();
    record_.undoLocators[1] = parts_.slicer->right();
}

void Editor::prepareBackup(uint8_t code, uint32_t start, uint32_t length) {
    scratch_.reset();
    pendingUndo_.reset();
    scratchName_.clear();
    if (edit_.undoEnabled) {
        pendingUndo_ = std::make_unique<ScratchFile>(parts_.workDir, sample::kStorePrefix);
        const auto& f = store().format();
        SetupUndo(code, start, length, uint8_t(f.channels), parts_.slicer->channelMode().linked ? 1 : 0, f.sampleRate,
                  true);
        return;
    }
    scratch_ = std::make_unique<ScratchFile>(parts_.workDir, sample::kScratchPrefix);
    scratchName_ = scratch_->fileName();
}

void Editor::DoUndo(uint8_t code) {
    if (!undoAvailable_ || !edit_.undoEnabled) {
        return;
    }
    auto& undo = **parts_.undoFile;
    const auto& f = store().format();
    record_.undoLinked = parts_.slicer->linked() ? 1 : 0;
    record_.undoChannels = uint8_t(f.channels);
    undo.setSize(0);
    undo.seek(0);
    store().stream().seek(0);
    Pace none;
    copyBlocks(store().stream(), undo, f.dataLength, none, 0, 100);
    record_.undoLength = f.dataLength;
    record_.undoStart = 0;
    record_.undoRate = f.sampleRate;
    record_.undoPoints = parts_.slicer->snapshot();
    record_.pointsReplaced = false;
    undoAvailable_ = true;
    record_.undoCode = code;
    record_.undoName = operationName_;
    record_.returnsTo = 0;
}

sample::TFileAndMemoryStream* Editor::backupStream() {
    if (pendingUndo_) {
        return &pendingUndo_->stream();
    }
    if (edit_.undoEnabled) {
        return parts_.undoFile->get();
    }
    return scratch_ ? &scratch_->stream() : nullptr;
}

jobs::ProcessMode Editor::firstMode(jobs::ProcessMode mode, bool backs) const {
    return edit_.undoEnabled && backs ? jobs::ProcessMode::CreatingUndo : mode;
}

bool Editor::launch(std::unique_ptr<jobs::Job> job, jobs::ProcessMode mode, std::function<void()> after) {
    edit_.applied = false;
    edit_.refused = false;
    failed_ = false;
    auto failed = std::make_shared<bool>(false);
    auto guarded = std::make_unique<GuardedJob>(std::move(job), *this, failed);
    const bool started = parts_.jobs->start(std::move(guarded), mode, [this, failed, after = std::move(after)] {
        failed_ = *failed || edit_.refused;
        if (failed_) {
            rollBack();
        } else {
            commitBackup();
        }
        if (after) {
            after();
        }
        failed_ = false;
        keepLocatorsInside();
        showReports();
    });
    if (!started) {
        scratch_.reset();
        pendingUndo_.reset();
    }
    return started;
}

void Editor::finishEdit(bool changedData) {
    if (failed_) {
        return; // everything is as it was, the undo record too
    }
    undoAvailable_ = edit_.undoEnabled && parts_.jobs->undoReady();
    scratch_.reset();
    if (changedData && parts_.setModified) {
        parts_.setModified(true);
    }
}

bool Editor::fitsPositions(uint64_t newLength) {
    if (newLength <= sample::kMaxDataLength) {
        return true;
    }
    parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgTooLong, "", jobs::Buttons::Ok);
    return false;
}

void Editor::reportLater(const std::string& message) { reports_.push_back(message); }

void Editor::showReports() {
    std::vector<std::string> reports;
    reports.swap(reports_);
    for (const auto& text : reports) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, text, "", jobs::Buttons::Ok);
    }
}

void Editor::shiftLocators(uint32_t opStart, uint32_t opEnd, uint32_t newEnd) {
    // Behind the range: moved with the audio. Inside a range that shrank: at its new end.
    auto shift = [&](uint32_t p) -> uint32_t {
        if (p >= opEnd) {
            return uint32_t(int64_t(p) + int64_t(newEnd) - int64_t(opEnd));
        }
        return std::min(p, std::max(newEnd, opStart));
    };
    const uint32_t left = shift(parts_.slicer->left());
    const uint32_t right = shift(parts_.slicer->right());
    parts_.slicer->setLoop(left, right);
}

void Editor::adjustRate(uint32_t rate) {
    if (rate == 0 || parts_.jobs->busy()) {
        return;
    }
    beginOperation("Adjust Sample Rate");
    auto& f = store().format();
    if (edit_.undoEnabled) {
        record_.undoRate = f.sampleRate;
        record_.undoCode = 18;
        record_.undoName = operationName_;
        record_.wasUnmodified = pendingUnmodified_;
        record_.undoLocators[0] = parts_.slicer->left();
        record_.undoLocators[1] = parts_.slicer->right();
        undoAvailable_ = true;
    }
    f.sampleRate = rate;
    f.bytesPerSecond = rate * f.blockAlign();
    parts_.slicer->computeTempo();
    if (parts_.setModified) {
        parts_.setModified(true);
    }
    changed();
}

void Editor::resetForLoad() {
    undoCaption_ = kCaptionUndo;
    record_.undoLength = 0;
    record_.undoCode = 0;
    record_.undoName.clear();
    record_.pasteLength = 0;
    record_.returnsTo = 0;
    emptyUndoFile();
    undoAvailable_ = false;
    selection_ = {0, 0, 0};
}

void Editor::pointsChanging(slicing::PointChange change, const slicing::CandidateSnapshot& snapshot) {
    if (randomising_ || holdPoints_) {
        // The running operation keeps its own record of points and audio: it took the points
        // before it began, and now they are to be given back with the audio.
        record_.pointsReplaced = record_.pointsReplaced || holdPoints_;
        return;
    }
    if (record_.undoLength != 0) {
        emptyUndoFile();
    }
    const auto& f = store().format();
    record_.returnsTo = 0;
    record_.undoCode = pointCode(change);
    // The points' sharing before the change, for its undo to go back to.
    record_.undoLinked = parts_.slicer->channelMode().linked ? 1 : 0;
    record_.undoName = change != slicing::PointChange::Sharing ? pointChangeName(change)
                       : record_.undoLinked == 1                ? "Separate Channel Points"
                                                               : "Share Channel Points";
    record_.undoLength = 0;
    record_.pasteLength = 0;
    record_.undoPoints = snapshot;
    record_.undoChannels = uint8_t(f.channels);
    record_.undoRate = f.sampleRate;
    record_.undoLocators[0] = parts_.slicer->left();
    record_.undoLocators[1] = parts_.slicer->right();
    record_.wasUnmodified = false;
    undoCaption_ = kCaptionUndo;
    undoAvailable_ = true;
}

bool Editor::searchThen(const Done& done) {
    parts_.slicer->requestSearch();
    return parts_.slicer->startSliceSearch([done](const slicing::SearchOutcome&) {
        if (done) {
            done(true);
        }
    });
}

// --- commands ---

bool Editor::undo(Done done) {
    assert(jobs().dispatcher().isMainThread());
    if (!undoAvailable_ || parts_.jobs->busy()) {
        return false;
    }
    keepBefore();
    undoCaption_ = undoCaption_ == kCaptionUndo ? kCaptionRedo : kCaptionUndo;
    if (record_.undoCode == 0) {
        if (done) {
            done(true);
        }
        return true;
    }
    auto outcome = std::make_shared<UndoOutcome>();
    return launch(std::make_unique<TUndoThread>(*this, *outcome), jobs::ProcessMode::Undoing,
                  [this, outcome, done = std::move(done)] {
                      if (failed_) {
                          // An undo that could not finish keeps the sample, the Undo and the
                          // modified mark as they are.
                          if (done) {
                              done(false);
                          }
                          return;
                      }
                      const uint8_t code = outcome->code;
                      auto& f = store().format();
                      if (code == 2) {
                          std::swap(edit_.processChannel, record_.undoProcessChannel);
                          parts_.slicer->channelMode().selection = edit_.processChannel;
                      }
                      f.dataLength = outcome->dataLength;
                      f.channels = outcome->channels;
                      f.sampleRate = outcome->rate;
                      f.bytesPerSecond = f.sampleRate * f.blockAlign();
                      if (outcome->relink) {
                          parts_.slicer->channelMode().linked = outcome->linked;
                      }
                      if (code == kCodeSharing) {
                          // The selected segment was one of the points just given up.
                          parts_.slicer->selectedIndex = -1;
                          parts_.slicer->selectionStart = parts_.slicer->selectionEnd = 0;
                      }
                      const bool pointOnly = isPointCode(code);
                      if (!(code == 1 || pointOnly || code == 10 || code == 18)) {
                          std::swap(selection_, record_.undoSelection);
                          if (selection_.size() < 3) {
                              setupSelections(0, 0);
                          }
                          selection_.back() = f.dataLength;
                      }
                      // The modified mark.
                      if (record_.wasUnmodified) {
                          if (parts_.setModified) {
                              parts_.setModified(false);
                          }
                          record_.wasUnmodified = false;
                      } else if (!pointOnly) {
                          record_.wasUnmodified = parts_.modified ? !parts_.modified() : false;
                          if (parts_.setModified) {
                              parts_.setModified(true);
                          }
                      }
                      // Locators back where the record has them; the record keeps the current ones
                      // for the redo.
                      const uint32_t left = parts_.slicer->left();
                      const uint32_t right = parts_.slicer->right();
                      const uint32_t newRight = code == 14 ? right : record_.undoLocators[1];
                      parts_.slicer->setLoop(record_.undoLocators[0], newRight);
                      record_.undoLocators[0] = left;
                      record_.undoLocators[1] = right;
                      settleMarkers(parts_.slicer->candidates(), f.dataLength);
                      parts_.slicer->rebuild();
                      changed();
                      if (code == 12 && outcome->restoredData && searchThen(done)) {
                          return;
                      }
                      if (done) {
                          done(true);
                      }
                  });
}

bool Editor::randomise(bool keepPoints, Done done) {
    assert(jobs().dispatcher().isMainThread());
    if (!loaded() || parts_.jobs->busy()) {
        return false;
    }
    const auto& f = store().format();
    auto [a, b] = operationRange();
    const uint32_t start = f.frameStart(a);
    uint32_t length = std::min<uint32_t>(b - std::min(a, b), f.dataLength - start);
    length -= length % f.blockAlign();
    if (!edit_.undoEnabled) {
        return parts_.slicer->randomise(start, length, keepPoints, std::move(done));
    }
    beginOperation(keepPoints ? "Randomise And Keep Points" : "Randomise");
    edit_.opStart = start;
    edit_.opEnd = start + length;
    prepareBackup(keepPoints ? 17 : 16, start, length);
    randomising_ = true;
    const bool started = launch(
        std::make_unique<TRandomiseBackupThread>(*this), jobs::ProcessMode::CreatingUndo,
        [this, start, length, keepPoints, done]() mutable {
            const bool backedUp = parts_.jobs->undoReady();
            if (failed_) {
                randomising_ = false;
                if (done) {
                    done(false);
                }
                return;
            }
            if (!backedUp) {
                randomising_ = false;
                undoAvailable_ = false;
                if (done) {
                    done(false);
                }
                return;
            }
            const bool shuffling = parts_.slicer->randomise(start, length, keepPoints, [this, done](bool ok) {
                randomising_ = false;
                undoAvailable_ = true;
                if (done) {
                    done(ok);
                }
            });
            if (!shuffling) {
                randomising_ = false;
                undoAvailable_ = false;
                if (done) {
                    done(false);
                }
            }
        });
    if (!started) {
        randomising_ = false;
    }
    return started;
}

} // namespace cleavix::editing
