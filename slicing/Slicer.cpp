#include "slicing/Slicer.h"

#include "sample/WavWriter.h"
#include "sample/WorkFiles.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <memory>
#include <random>

namespace cleavix::slicing {

Slicer::Slicer(jobs::JobFrame& jobs, sample::SampleStore& store, sample::PeakTable& peaks,
               std::string workingDirectory)
    : jobs_(jobs), store_(store), peaks_(peaks), workDir_(std::move(workingDirectory)) {}

void Slicer::setThreshold(int64_t threshold) {
    threshold_ = threshold;
    rebuild();
}

void Slicer::setSlider(int position) {
    assert(jobs_.dispatcher().isMainThread());
    slider_ = std::clamp(position, 0, 65535);
    setThreshold(thresholdForSlider(slider_));
}

std::string Slicer::sensitivityLabel() const { return std::to_string(percentForThreshold(threshold_)) + "%"; }

bool Slicer::applySensitivityText(const std::string& text) {
    assert(jobs_.dispatcher().isMainThread());
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return false;
    }
    const int percent = std::stoi(text);
    if (percent > 100) {
        return false;
    }
    setSlider(sliderForPercent(percent));
    return true;
}

void Slicer::setLoop(uint32_t left, uint32_t right) {
    assert(jobs_.dispatcher().isMainThread());
    const uint32_t end = store_.dataLength();
    left = std::min(left, end);
    right = std::min(right, end);
    if (left > right) {
        std::swap(left, right);
    }
    left_ = left;
    right_ = right;
    computeTempo();
}

void Slicer::releaseLeft(uint32_t position) {
    assert(jobs_.dispatcher().isMainThread());
    left_ = snapLocator(slicePoints_, position, true, right_);
    computeTempo();
}

void Slicer::releaseRight(uint32_t position) {
    assert(jobs_.dispatcher().isMainThread());
    right_ = snapLocator(slicePoints_, position, false, left_);
    computeTempo();
}

void Slicer::dropLeft(uint32_t position) {
    assert(jobs_.dispatcher().isMainThread());
    left_ = dropLocator(slicePoints_, position, true, right_);
    computeTempo();
}

void Slicer::dropRight(uint32_t position) {
    assert(jobs_.dispatcher().isMainThread());
    right_ = dropLocator(slicePoints_, position, false, left_);
    computeTempo();
}

bool Slicer::selectSegment(int index) {
    assert(jobs_.dispatcher().isMainThread());
    if (index < 0 || index > slicePoints_.count()) {
        return false;
    }
    selectedIndex = index;
    selectionStart = slicePoints_.at(index).position;
    selectionEnd = segmentEnd(slicePoints_, index);
    return true;
}

int Slicer::segmentAt(uint32_t position, uint8_t channelCode) const {
    int found = 0;
    for (int i = 1; i <= slicePoints_.count() && slicePoints_.at(i).position <= position; ++i) {
        if (channelCode == 0 || slicePoints_.at(i).channel == channelCode) {
            found = i;
        }
    }
    return found;
}

CandidateSnapshot Slicer::snapshot() const {
    CandidateSnapshot s;
    s.entries.assign(candidates_.entries().begin(), candidates_.entries().begin() + kMaxPoints + 1);
    s.count = candidates_.count();
    return s;
}

void Slicer::restore(const CandidateSnapshot& snapshot) {
    assert(jobs_.dispatcher().isMainThread());
    std::copy(snapshot.entries.begin(), snapshot.entries.end(), candidates_.entries().begin());
    candidates_.setCount(snapshot.count);
    rebuild();
}

void Slicer::changing(PointChange change) {
    if (onPointsChanging) {
        onPointsChanging(change, snapshot());
    }
}

void Slicer::clearForLoad() {
    assert(jobs_.dispatcher().isMainThread());
    candidates_.clearPoints();
    candidates_.setMarkers(0);
    slicePoints_.setCount(0);
    slicePoints_.setMarkers(0);
    flags_ = {};
    lastSearch_ = {};
    selectedIndex = -1;
    selectionStart = selectionEnd = 0;
    left_ = right_ = 0;
    loadDetection_.reset();
}

void Slicer::setLoadDetection(std::shared_ptr<const OnsetDetector> detection) {
    assert(jobs_.dispatcher().isMainThread());
    loadDetection_ = std::move(detection);
    loadDetectionChanges_ = store_.stream().changes();
}

std::shared_ptr<const OnsetDetector> Slicer::loadDetection() const {
    // Any write since (an edit, a process, an undo, a recording) makes it stale.
    return store_.stream().changes() == loadDetectionChanges_ ? loadDetection_ : nullptr;
}

void Slicer::sampleLoaded(bool setOneBar) {
    assert(jobs_.dispatcher().isMainThread());
    const uint32_t end = store_.dataLength();
    candidates_.setMarkers(end);
    slider_ = 0;
    threshold_ = 65536; // no point shown until the slider moves
    mode_ = ChannelMode{};
    tempo_ = TempoState{};
    tempo_.bars = setOneBar ? 1 : 0;
    left_ = 0;
    right_ = end;
    computeTempo();
    flags_.searchRequest = true;
    rebuild();
}

void Slicer::rebuild() {
    assert(jobs_.dispatcher().isMainThread());
    slicePoints_.rebuild(candidates_, threshold_, store_.dataLength());
    if (onRedraw) {
        onRedraw();
    }
}

bool Slicer::startSliceSearch(std::function<void(const SearchOutcome&)> done) {
    assert(jobs_.dispatcher().isMainThread());
    if (jobs_.busy()) {
        return false;
    }
    auto outcome = std::make_shared<SearchOutcome>();
    SearchOptions options;
    options.linked = linked();
    options.viewWidth = viewWidth_;
    options.detected = loadDetection();
    options.peaks = &peaks_;
    auto job = std::make_unique<tpseek>(store_, candidates_, flags_, options, *outcome);
    return jobs_.start(std::move(job), jobs::ProcessMode::Scanning, [this, outcome, done = std::move(done)] {
        lastSearch_ = *outcome;
        flags_.searchRequest = false;
        if (outcome->merged) {
            left_ = store_.format().frameStart(left_);
            right_ = store_.format().frameStart(right_);
            setSlider(slider_ - 1); // one step down: refilters and redraws
        } else {
            rebuild();
        }
        if (outcome->limitReached) {
            jobs_.prompter().ask(jobs::MessageKind::Warning, kMsgPointLimit, "", jobs::Buttons::Ok);
        }
        if (done) {
            done(*outcome);
        }
    });
}

void Slicer::alignForAdd(SlicePoint& point, uint32_t position, bool upperHalf) const {
    const auto& format = store_.format();
    if (format.channels != 2) {
        point.channel = kCodeSecondOrMono;
        point.position = position & ~1u;
    } else if (mode_.linked) {
        point.channel = kCodeSecondOrMono;
        point.position = position & ~3u;
    } else {
        point.channel = upperHalf ? kCodeFirst : kCodeSecondOrMono;
        point.position = (position & ~3u) + (point.channel == kCodeSecondOrMono ? 2 : 0);
    }
}

bool Slicer::addPoint(uint32_t position, bool upperHalf) {
    assert(jobs_.dispatcher().isMainThread());
    if (position >= store_.dataLength()) {
        return false;
    }
    if (candidates_.full()) {
        jobs_.prompter().ask(jobs::MessageKind::Error, kMsgPointTableFull, "", jobs::Buttons::Ok);
        return false;
    }
    changing(PointChange::Add);
    SlicePoint point;
    point.enabled = 1;
    point.locked = 1;
    point.strength = addAtCurrentLength ? int32_t(threshold_ + 10) : 32640;
    // Aligned before it is placed, so the table stays in order.
    alignForAdd(point, position, upperHalf);
    candidates_.insert(firstAfter(candidates_, point.position), point);
    candidates_.endMarker().channel = kCodeSecondOrMono;
    candidates_.at(0).channel = kCodeSecondOrMono;
    rebuild();
    return true;
}

bool Slicer::movePoint(int index, uint32_t position) {
    assert(jobs_.dispatcher().isMainThread());
    if (index < 1 || index > candidates_.count() || position >= store_.dataLength()) {
        return false;
    }
    changing(PointChange::Move);
    SlicePoint point = candidates_.at(index);
    candidates_.remove(index);
    const uint8_t code = point.channel;
    alignForAdd(point, position, code == kCodeFirst);
    if (store_.format().channels == 2 && !mode_.linked) {
        point.channel = code; // a moved point keeps its channel
    }
    candidates_.insert(firstAfter(candidates_, point.position), point);
    rebuild();
    return true;
}

bool Slicer::enablePoint(int index) {
    assert(jobs_.dispatcher().isMainThread());
    if (index < 1 || index > candidates_.count()) {
        return false;
    }
    changing(PointChange::Enable);
    candidates_.at(index).enabled = 1;
    rebuild();
    return true;
}

bool Slicer::disablePoint(int index) {
    assert(jobs_.dispatcher().isMainThread());
    if (index < 1 || index > candidates_.count()) {
        return false;
    }
    changing(PointChange::Disable);
    candidates_.at(index).enabled = 0;
    candidates_.at(index).locked = 0;
    rebuild();
    return true;
}

bool Slicer::lockPoint(int index) {
    assert(jobs_.dispatcher().isMainThread());
    if (index < 1 || index > candidates_.count()) {
        return false;
    }
    changing(PointChange::Lock);
    candidates_.at(index).locked = 1;
    candidates_.at(index).enabled = 1;
    rebuild();
    return true;
}

bool Slicer::unlockPoint(int index) {
    assert(jobs_.dispatcher().isMainThread());
    if (index < 1 || index > candidates_.count()) {
        return false;
    }
    changing(PointChange::Unlock);
    candidates_.at(index).locked = 0;
    candidates_.at(index).enabled = 1;
    rebuild();
    return true;
}

void Slicer::lockAll() {
    assert(jobs_.dispatcher().isMainThread());
    for (int k = 1; k <= candidates_.count(); ++k) {
        SlicePoint& c = candidates_.at(k);
        for (int j = 1; j <= slicePoints_.count(); ++j) {
            if (slicePoints_.at(j).position == c.position) {
                c.locked = 1;
                break;
            }
        }
    }
    rebuild();
}

void Slicer::unlockAll() {
    assert(jobs_.dispatcher().isMainThread());
    for (int k = 1; k <= candidates_.count(); ++k) {
        candidates_.at(k).locked = 0;
    }
    rebuild();
}

PointFileResult Slicer::savePoints(const std::string& fileName) const {
    assert(jobs_.dispatcher().isMainThread());
    return savePointFile(candidates_, fileName);
}

PointFileResult Slicer::loadPoints(const std::string& fileName) {
    assert(jobs_.dispatcher().isMainThread());
    PointFileResult result = loadPointFile(candidates_, fileName, store_.dataLength());
    if (result.ok) {
        rebuild();
    }
    return result;
}

void Slicer::computeTempo() {
    assert(jobs_.dispatcher().isMainThread());
    ComputeTempo(tempo_, left_, right_, store_.format().channels, store_.format().sampleRate);
    if (onTempo) {
        onTempo();
    }
}

bool Slicer::setBarsAndBeats(const std::string& bars, const std::string& beats) {
    assert(jobs_.dispatcher().isMainThread());
    int b = 0;
    int c = 0;
    if (!parseCount(bars, b) || !parseCount(beats, c)) {
        return false;
    }
    tempo_.bars = b;
    tempo_.beats = c;
    computeTempo();
    return true;
}

bool Slicer::ensureTempo() {
    assert(jobs_.dispatcher().isMainThread());
    if (tempo_.bars != 0 || tempo_.beats != 0) {
        return true;
    }
    // Yes and Cancel: the prompter's two-button question is Yes/No, No standing for Cancel.
    if (jobs_.prompter().ask(jobs::MessageKind::Warning, kMsgNoTempo, "", jobs::Buttons::YesCancel) != jobs::Answer::Yes) {
        return false;
    }
    tempo_.bars = 1;
    tempo_.beats = 0;
    computeTempo();
    return true;
}

void Slicer::cutLoopTo(GridDivision division, std::function<void(bool)> done) {
    assert(jobs_.dispatcher().isMainThread());
    if (jobs_.busy() || !ensureTempo()) {
        if (done) {
            done(false);
        }
        return;
    }
    changing(PointChange::GridCut);
    const bool complete =
        cutLoopToGrid(candidates_, division, tempo_.bars, tempo_.beats, left_, right_, store_.format(),
                      linked() || store_.format().channels != 2, mode_.selection);
    if (!complete) {
        jobs_.prompter().ask(jobs::MessageKind::Warning, kMsgPointLimit, "", jobs::Buttons::Ok);
    }
    if (smooth) {
        // The grid points settle on quiet spots on the worker; their strengths are set once it has
        // finished, never while it runs.
        flags_.refineOnly = true;
        requestSearch();
        rebuild();
        if (startSliceSearch([this, done](const SearchOutcome&) { gridPlaced(done); })) {
            return;
        }
        flags_.refineOnly = false;
    }
    gridPlaced(std::move(done));
}

void Slicer::gridPlaced(std::function<void(bool)> done) {
    rebuild();
    releaseRight(right_);
    releaseLeft(left_);
    const int32_t strength = addAtCurrentLength ? int32_t(threshold_ + 10) : 32640;
    for (int k = 1; k <= candidates_.count(); ++k) {
        candidates_.at(k).strength = strength;
    }
    rebuild();
    if (done) {
        done(true);
    }
}

bool Slicer::recut(std::function<void(const SearchOutcome&)> done) {
    assert(jobs_.dispatcher().isMainThread());
    if (jobs_.busy()) {
        return false;
    }
    flags_.refineOnly = false;
    changing(PointChange::Recut);
    requestSearch();
    releaseRight(right_);
    releaseLeft(left_);
    return startSliceSearch(std::move(done));
}

bool Slicer::setShared(bool shared, std::function<void(const SearchOutcome&)> done) {
    assert(jobs_.dispatcher().isMainThread());
    if (jobs_.busy() || store_.format().channels != 2 || store_.dataLength() == 0 || mode_.linked == shared) {
        return false;
    }
    changing(PointChange::Sharing);
    mode_.linked = shared;
    // The selected segment was one of the old points'.
    selectedIndex = -1;
    selectionStart = selectionEnd = 0;
    flags_.refineOnly = false;
    requestSearch();
    if (!startSliceSearch(std::move(done))) {
        mode_.linked = !shared;
        return false;
    }
    return true;
}

bool Slicer::randomise(uint32_t start, uint32_t length, bool keepPoints, std::function<void(bool)> done) {
    assert(jobs_.dispatcher().isMainThread());
    const auto& format = store_.format();
    if (jobs_.busy() || store_.dataLength() == 0) {
        return false;
    }
    start = format.frameStart(std::min(start, store_.dataLength()));
    length = std::min<uint32_t>(length, store_.dataLength() - start);
    length -= length % format.blockAlign();
    auto scratch = std::make_shared<std::unique_ptr<sample::TFileAndMemoryStream>>();
    try {
        *scratch = sample::createWorkFile(workDir_, sample::kScratchPrefix);
    } catch (const std::exception&) {
        jobs_.prompter().ask(jobs::MessageKind::Error, kMsgRandomiseNoFile, "", jobs::Buttons::Ok);
        return false;
    }
    rebuild();
    auto outcome = std::make_shared<RandomiseOutcome>();
    const uint32_t seed = seeded_ ? seed_ : std::random_device{}();
    auto job = std::make_unique<trandom>(store_, &peaks_, slicePoints_, start, length, mode_, **scratch, seed, *outcome);
    return jobs_.start(std::move(job), jobs::ProcessMode::Randomising,
                       [this, scratch, outcome, keepPoints, done = std::move(done)]() mutable {
                           sample::ReleaseWorkFile(*scratch);
                           if (onAudioChanged) {
                               onAudioChanged();
                           }
                           const bool ok = !outcome->failed && !outcome->aborted;
                           if (keepPoints) {
                               rebuild();
                               if (done) {
                                   done(ok);
                               }
                               return;
                           }
                           changing(PointChange::Randomise);
                           requestSearch();
                           if (!startSliceSearch([ok, done](const SearchOutcome&) {
                                   if (done) {
                                       done(ok);
                                   }
                               }) &&
                               done) {
                               done(ok);
                           }
                       });
}

template <class Worker>
bool Slicer::runExport(const std::string& name, uint8_t bits, int smoothLevel, Planner planner, bool manyFiles,
                       std::function<void(const ExportReport&)> done) {
    if (jobs_.busy()) {
        return false;
    }
    rebuild();
    auto outcome = std::make_shared<ExportOutcome>();
    auto job = std::make_unique<Worker>(store_, planner(name), bits, smoothLevel, *outcome);
    return jobs_.start(std::move(job), jobs::ProcessMode::Saving,
                       [this, outcome, name, bits, smoothLevel, planner, manyFiles, done = std::move(done)] {
                           ExportReport report;
                           report.ok = outcome->ok();
                           report.written = outcome->written;
                           report.failed = outcome->failed;
                           if (!report.ok && !outcome->aborted) {
                               const bool noSpace =
                                   std::any_of(report.failed.begin(), report.failed.end(), sample::isNoSpaceReason);
                               const char* text = noSpace ? (manyFiles ? kMsgSaveFilesNoSpace : sample::kMsgSaveNoSpace)
                                                          : (manyFiles ? kMsgSaveFilesError : sample::kMsgSaveError);
                               const auto answer =
                                   jobs_.prompter().ask(jobs::MessageKind::Error, text, "", jobs::Buttons::YesNo);
                               if (answer == jobs::Answer::Yes) {
                                   if (const auto target = jobs_.prompter().chooseSaveTarget(name, bits)) {
                                       if (runExport<Worker>(target->fileName, target->saveBits, smoothLevel, planner,
                                                             manyFiles, done)) {
                                           return;
                                       }
                                   }
                               }
                           }
                           if (done) {
                               done(report);
                           }
                       });
}

bool Slicer::saveSegmentsInLoop(const std::string& chosenName, uint8_t bits,
                                std::function<void(const ExportReport&)> done) {
    assert(jobs_.dispatcher().isMainThread());
    smoothLevelInForce = exportSettings.smoothEndPoints ? exportSettings.smoothLevel : 0;
    const int level = exportSettings.smoothEndPoints ? smoothLevelInForce : 0;
    return runExport<TCutWave>(
        chosenName, bits, level,
        [this](const std::string& name) {
            return planSegmentsInLoop(slicePoints_, left_, right_, store_.format(), mode_, name);
        },
        true, std::move(done));
}

bool Slicer::saveSelectedSegment(const std::string& name, uint8_t bits, bool upperHalf,
                                 std::function<void(const ExportReport&)> done) {
    assert(jobs_.dispatcher().isMainThread());
    smoothLevelInForce = 0;
    return runExport<ttseg>(
        name, bits, 0,
        [this, upperHalf](const std::string& chosen) {
            return std::vector<ExportFile>{
                planSelectedSegment(selectionStart, selectionEnd, store_.format(), mode_, upperHalf, chosen)};
        },
        false, std::move(done));
}

bool Slicer::saveSegmentAt(int index, const std::string& name, uint8_t bits,
                           std::function<void(const ExportReport&)> done) {
    assert(jobs_.dispatcher().isMainThread());
    if (index < 0 || index > slicePoints_.count()) {
        return false;
    }
    const int level = exportSettings.smoothEndPoints ? smoothLevelInForce : 0;
    return runExport<tsaveselseg>(
        name, bits, level,
        [this, index](const std::string& chosen) {
            ExportFile file = planSegmentAt(slicePoints_, index, store_.format(), mode_, chosen);
            file.smooth = true;
            return std::vector<ExportFile>{file};
        },
        false, std::move(done));
}

bool Slicer::saveRegion(const std::string& name, uint8_t bits, std::function<void(const ExportReport&)> done) {
    assert(jobs_.dispatcher().isMainThread());
    smoothLevelInForce = 0;
    return runExport<ttsregion>(
        name, bits, 0,
        [this](const std::string& chosen) {
            return std::vector<ExportFile>{planRegion(left_, right_, store_.format(), chosen)};
        },
        false, std::move(done));
}

} // namespace cleavix::slicing
