#include "session/Session.h"

#include "sample/WorkFiles.h"
#include "session/LoadWorker.h"
#include "session/PeakRebuildWorker.h"
#include "session/SaveWorker.h"
#include "session/SamplerTransfer.h"
#include "sampler/virtual/MidiBackendList.h"
#include "slicing/TempoRender.h"

#include <cassert>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace cleavix::session {

namespace {

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        return path;
    }
    return std::string(buffer) + "/" + path;
}

void deleteWorkFile(std::unique_ptr<sample::TFileAndMemoryStream> stream) { sample::ReleaseWorkFile(stream); }

// A file's modification time in nanoseconds; 0 when it cannot be read.
long long fileStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return 0;
    }
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

} // namespace

Session::Session(jobs::Dispatcher& dispatcher, jobs::Prompter& prompter, Settings settings, Backends backends)
    : dispatcher_(dispatcher), prompter_(prompter), settings_(std::move(settings)), jobs_(dispatcher, prompter),
      backends_(std::move(backends)) {
    assert(dispatcher_.isMainThread());
    if (!backends_.waveDevices) {
        backends_.waveDevices = audio::makeDefaultWaveDevices();
    }
    if (backends_.midi.empty()) {
        backends_.midi = sampler::virt::defaultMidiBackends();
    }
    if (!backends_.scsiBus) {
        backends_.scsiBus = Backends::defaultScsiBus();
    }
    jobs_.onStatus = [this](const std::string& text) { notifyStatus(text); };
    workDir_ = sample::workingDirectory(settings_.tempPath);
    sample::cleanStaleWorkFiles(workDir_);
    // Undo file first: without it the program runs on with undo switched off.
    try {
        undoFile_ = sample::createWorkFile(workDir_, sample::kStorePrefix);
    } catch (const sample::StreamError&) {
        settings_.enableUndo = false;
    }
    // Without a store there is no program: this one throws to the caller.
    store_ = std::make_unique<sample::SampleStore>(sample::createWorkFile(workDir_, sample::kStorePrefix));
    store_->format().dataLength = 0;
    peaks_ = std::make_unique<sample::PeakTable>(sample::createWorkFile(workDir_, sample::kStorePrefix),
                                                 sample::peakBlockBytesFromSetting(settings_.waveCacheSize));
    try {
        peaks_->setSpareBacking(sample::createWorkFile(workDir_, sample::kStorePrefix));
    } catch (const sample::StreamError&) {
        // Without it an undo rebuilds the table, as it would anyway.
    }
    slicer_ = std::make_unique<slicing::Slicer>(jobs_, *store_, *peaks_, workDir_);
    slicer_->onAudioChanged = [this] { setModified(true); };
    instrumentExport_ = std::make_unique<slicing::instrument::InstrumentExport>(*slicer_, jobs_, *store_);
    addResetHook([this] { slicer_->clearForLoad(); });
    editing::EditorParts parts;
    parts.jobs = &jobs_;
    parts.store = store_.get();
    parts.peaks = peaks_.get();
    parts.slicer = slicer_.get();
    parts.undoFile = &undoFile_;
    parts.clipboard = &clipboard_;
    parts.workDir = workDir_;
    parts.loaded = [this] { return loaded_; };
    parts.modified = [this] { return modified_; };
    parts.setModified = [this](bool modified) { setModified(modified); };
    parts.becameUntitled = [this] {
        fileName_ = "Untitled.wav";
        untitled_ = true; // a name to show, not a file to save into
        loaded_ = true;
        readOnly_ = false;
        modified_ = true;
        notifyTitle();
        notifyStatus("");
        // The pasted sample is set up as a freshly loaded one: bars from the settings, and a
        // search when the settings ask for a scan on load.
        if (settings_.setOneBar) {
            slicer_->sampleLoaded(true);
        }
        if (settings_.scanOnLoad) {
            slicer_->requestSearch();
            slicer_->startSliceSearch();
        }
    };
    parts.changed = [this] {
        if (listener_ != nullptr) {
            listener_->sampleChanged();
        }
    };
    editor_ = std::make_unique<editing::Editor>(std::move(parts), settings_.enableUndo);
    processor_ = std::make_unique<processing::Processor>(*editor_);
    selection_ = std::make_unique<editing::Selection>(*editor_, *slicer_);
    selection_->onChanged = [this] {
        if (listener_ != nullptr) {
            listener_->selectionChanged();
        }
    };
    addResetHook([this] {
        editor_->resetForLoad();
        selection_->resetChannels();
    });

    player_ = std::make_unique<audio::twabeAudio>(dispatcher_, *backends_.waveDevices, &prompter_);
    player_->setStore(&store_->stream());
    transport_ = std::make_unique<audio::TTransport>(*player_);
    transport_->openOutput = [this] { player_->OpenOutput(); };
    transport_->loopAtTempo = [this](uint64_t left, uint64_t right, double tempo, std::string& refused) {
        auto rendering = loopAtTempo(left, right, tempo, &refused);
        if (!refused.empty()) {
            prompter_.ask(jobs::MessageKind::Error, refused, "", jobs::Buttons::Ok);
        }
        return rendering;
    };
    // Every long operation stops playback first; while it runs the player queues silence rather
    // than reading a store that a worker is rewriting.
    jobs_.onBusyChanged = [this](bool busy) {
        if (busy) {
            player_->Stop();
        }
        player_->StoreBusy = busy;
        if (!busy) {
            notifyStatus(""); // the format text is back once a job has ended
        }
    };
    sampler_ = std::make_unique<SamplerTransfer>(*this, backends_);
    addLoadedHook([this] {
        slicer_->sampleLoaded(settings_.setOneBar);
        if (settings_.scanOnLoad) {
            slicer_->requestSearch();
            slicer_->startSliceSearch();
        }
    });
}

Session::~Session() {
    jobs_.shutdown();
    sampler_.reset();
    pluginHost_.reset();
    externalEdit_.reset();
    // The player reads the store: it goes first.
    transport_.reset();
    player_.reset();
    deleteWorkFile(std::move(undoFile_));
    clipboard_.releaseBacking();
    const std::string storeName = store_->stream().fileName();
    store_->stream().setSize(0);
    store_.reset();
    ::unlink(storeName.c_str());
    const std::string peaksName = peaks_->fileName();
    peaks_.reset();
    if (!peaksName.empty()) {
        ::unlink(peaksName.c_str());
    }
}

void Session::renameSample(const std::string& fileName) {
    fileName_ = fileName;
    notifyTitle();
    notifyStatus("");
}

void Session::setModified(bool modified) {
    if (modified_ == modified) {
        return;
    }
    modified_ = modified;
    notifyTitle();
}

std::string Session::title() const {
    const std::string mark = modified_ ? "*" : "";
    if (settings_.ostrelHost) {
        return "Editing Ostrel File" + mark + " - Cleavix";
    }
    if (!loaded_ && fileName_.empty()) {
        return "Cleavix";
    }
    return baseName(fileName_) + mark + " - Cleavix";
}

std::string Session::formatText() const {
    const auto& f = format();
    return std::to_string(f.sourceBits) + " Bit / " + std::to_string(f.sampleRate) + " hz" +
           (f.channels == 2 ? " stereo" : " mono");
}

void Session::notifyTitle() {
    if (listener_ != nullptr) {
        listener_->titleChanged(title());
    }
}

void Session::notifyStatus(const std::string& filePanel) {
    if (listener_ != nullptr) {
        listener_->statusChanged(loaded_ ? formatText() : std::string(), filePanel);
    }
}

sample::SampleFileCheck Session::checkFile(const std::string& fileName, bool previewMode) const {
    return sample::CheckSampleFile(fileName, previewMode);
}

bool Session::open(const std::string& fileName, OpenOrigin origin, std::function<void(bool)> done) {
    assert(dispatcher_.isMainThread());
    if (jobs_.busy()) {
        return false;
    }
    switch (origin) {
    case OpenOrigin::Revert:
        if (!loaded_ || fileName_.empty() ||
            prompter_.ask(jobs::MessageKind::Confirmation, kMsgRevert, "", jobs::Buttons::YesNo) != jobs::Answer::Yes) {
            return false;
        }
        return openChecked(fileName_, origin, std::move(done));
    case OpenOrigin::Reload:
        return startLoad(fileName_, [this, done = std::move(done)](bool ok) {
            if (ok && listener_ != nullptr) {
                listener_->fileOpened(fileName_, OpenOrigin::Reload);
            }
            if (done) {
                done(ok);
            }
        });
    case OpenOrigin::Drop: {
        // The prompt runs the open at once, after a save it starts, or never (Cancel).
        auto started = std::make_shared<bool>(false);
        promptToSave([this, fileName, started, done]() mutable {
            *started = openChecked(fileName, OpenOrigin::Drop, done);
            if (!*started && done) {
                done(false);
            }
        });
        return *started || jobs_.busy();
    }
    default:
        return openChecked(fileName, origin, std::move(done));
    }
}

bool Session::openChecked(const std::string& fileName, OpenOrigin origin, std::function<void(bool)> done) {
    // A Reopen entry names a file that may have gone since; File Open's own check takes a missing
    // file for an unrecognised one.
    if (origin == OpenOrigin::Recent && ::access(fileName.c_str(), F_OK) != 0) {
        prompter_.ask(jobs::MessageKind::Warning, sample::kMsgNotFound, "", jobs::Buttons::Ok);
        return false;
    }
    const sample::SampleFileCheck check = checkFile(fileName);
    if (check.result == sample::CheckUnparseable) {
        prompter_.ask(jobs::MessageKind::Error, sample::kMsgUnableToLoad, "", jobs::Buttons::Ok);
        return false;
    }
    if (check.result == sample::CheckUnsupported) {
        const char* fallback = origin == OpenOrigin::Recent ? sample::kMsgIncorrectFormat : sample::kMsgUnrecognised;
        prompter_.ask(jobs::MessageKind::Warning, check.refusal.empty() ? fallback : check.refusal, "",
                      jobs::Buttons::Ok);
        return false;
    }
    readOnly_ = check.readOnly;
    const std::string path = absolutePath(fileName);
    return startLoad(fileName, [this, path, origin, done = std::move(done)](bool ok) {
        if (ok && listener_ != nullptr) {
            listener_->fileOpened(path, origin);
        }
        if (done) {
            done(ok);
        }
    });
}

plugins::PluginHost& Session::plugins() {
    if (!pluginHost_) {
        if (!backends_.plugins) {
            backends_.plugins = plugins::makeBridge();
        }
        pluginHost_ = std::make_unique<plugins::PluginHost>(*editor_, *backends_.plugins);
    }
    return *pluginHost_;
}

bool Session::editExternally(const std::string& editorCommand, std::function<void(bool)> done) {
    assert(dispatcher_.isMainThread());
    if (!loaded_ || jobs_.busy()) {
        return false;
    }
    if (!externalEdit_) {
        externalEdit_ = std::make_unique<plugins::ExternalEdit>(workDir_);
    }
    return externalEdit_->begin(jobs_, *store_, editorCommand, std::move(done));
}

void Session::applicationActivated() {
    assert(dispatcher_.isMainThread());
    if (!loaded_ || jobs_.busy()) {
        return;
    }
    if (externalEdit_ && externalEdit_->takeChange() &&
        prompter_.ask(jobs::MessageKind::Warning, plugins::kMsgEditedChanged, "", jobs::Buttons::YesNo) ==
            jobs::Answer::Yes) {
        // The edited copy comes back under the sample's own name, so Save and Revert still mean
        // the original file.
        const std::string original = fileName_;
        const long long stamp = modifiedStamp_;
        startLoad(externalEdit_->copyPath(), [this, original, stamp](bool ok) {
            if (ok) {
                fileName_ = original;
                modifiedStamp_ = stamp;
                modified_ = true;
                notifyTitle();
            }
        });
        return;
    }
    checkOutsideChange();
}

bool Session::checkOutsideChange() {
    assert(dispatcher_.isMainThread());
    if (!loaded_ || fileName_.empty() || jobs_.busy() || modifiedStamp_ == 0) {
        return false;
    }
    const long long now = fileStamp(fileName_);
    if (now == 0 || now == modifiedStamp_) {
        return false;
    }
    modifiedStamp_ = now; // asked once per change
    if (prompter_.ask(jobs::MessageKind::Warning, kMsgFileChanged, "", jobs::Buttons::YesNo) != jobs::Answer::Yes) {
        return false;
    }
    return open(fileName_, OpenOrigin::Reload);
}

void Session::setPeakBlockSize(uint32_t blockBytes, std::function<void(bool)> done) {
    assert(dispatcher_.isMainThread());
    if (jobs_.busy()) {
        if (done) {
            done(false);
        }
        return;
    }
    if (!loaded_ || blockBytes == peaks_->blockBytes()) {
        peaks_->setBlockBytes(blockBytes);
        if (done) {
            done(true);
        }
        return;
    }
    // The frame frees the job when run() returns, so what the completion needs is shared.
    auto stopped = std::make_shared<bool>(false);
    auto job = std::make_unique<jobs::FunctionJob>([this, blockBytes, stopped](jobs::JobContext& context) {
        PeakRebuildWorker worker(store_->stream(), store_->format(), *peaks_, blockBytes);
        worker.run(context);
        *stopped = worker.stopped() || context.terminated();
    });
    const bool started =
        jobs_.start(std::move(job), jobs::ProcessMode::CreatingPeaks, [this, stopped, done = std::move(done)] {
            if (listener_ != nullptr) {
                listener_->peaksRebuilt();
                listener_->sampleChanged();
            }
            if (done) {
                done(!*stopped);
            }
        });
    if (!started && done) {
        done(false);
    }
}

bool Session::startLoad(const std::string& fileName, std::function<void(bool)> done) {
    assert(dispatcher_.isMainThread());
    if (jobs_.busy()) {
        return false;
    }
    struct stat st {};
    struct statvfs fs {};
    const bool found = ::stat(fileName.c_str(), &st) == 0;
    const bool space = found && ::statvfs(workDir_.c_str(), &fs) == 0 &&
                       static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize >=
                           static_cast<unsigned long long>(st.st_size);
    if (!found || !space) {
        prompter_.ask(jobs::MessageKind::Warning, sample::kMsgDiskSpaceLow, "", jobs::Buttons::Ok);
        return false;
    }
    modifiedStamp_ = fileStamp(fileName);
    notifyStatus("Loading...");
    // The frame frees the job when run() returns, so what the completion needs is shared.
    struct Outcome {
        bool aborted = false;
        std::string error;
    };
    auto outcome = std::make_shared<Outcome>();
    auto job = std::make_unique<jobs::FunctionJob>([this, path = absolutePath(fileName), outcome](
                                                       jobs::JobContext& context) {
        ttload worker(*this, path);
        worker.run(context);
        outcome->aborted = worker.aborted() || context.terminated();
        outcome->error = worker.failed() ? worker.error() : std::string();
    });
    return jobs_.start(std::move(job), jobs::ProcessMode::Loading, [this, outcome, done = std::move(done)] {
        const bool aborted = outcome->aborted;
        const bool failed = !outcome->error.empty();
        lastLoadError_ = outcome->error;
        if (aborted || failed) {
            loaded_ = false;
            store_->clear();
            peaks_->reset();
            notifyStatus("");
            notifyTitle();
            if (listener_ != nullptr) {
                listener_->sampleChanged();
            }
            if (failed) {
                prompter_.ask(jobs::MessageKind::Error, sample::kMsgUnableToLoad, "", jobs::Buttons::Ok);
            }
            if (done) {
                done(false);
            }
            return;
        }
        if (listener_ != nullptr) {
            listener_->sampleChanged();
        }
        if (done) {
            done(true);
        }
        for (auto& hook : loadedHooks_) {
            hook();
        }
    });
}

void Session::resetForLoad(const std::string& fileName) {
    if (loaded_) {
        loaded_ = false;
    }
    for (auto& hook : resetHooks_) {
        hook();
    }
    store_->clear();
    peaks_->reset();
    peaks_->forgetSpare();
    fileName_ = fileName;
    untitled_ = false;
    modified_ = false;
}

void Session::finishLoad(const std::string& fileName) {
    // The player plays the new sample in its own format from the next play on.
    player_->CloseOutput();
    player_->SampleRate = format().sampleRate;
    player_->Channels = static_cast<uint8_t>(format().channels);
    player_->BitsPerSample = 16;
    fileName_ = fileName;
    untitled_ = false;
    loaded_ = true;
    modified_ = false;
    notifyTitle();
    notifyStatus("");
}

void Session::runSave(const std::string& fileName, std::function<void(bool)> completion) {
    if (!loaded_ || jobs_.busy()) {
        if (completion) {
            completion(false);
        }
        return;
    }
    notifyStatus("Saving...");
    auto result = std::make_shared<sample::WriteResult>();
    auto job = std::make_unique<jobs::FunctionJob>([this, fileName, result](jobs::JobContext& context) {
        tmainsave worker(*this, fileName);
        worker.run(context);
        *result = worker.result();
    });
    jobs_.start(std::move(job), jobs::ProcessMode::Saving, [this, result, completion = std::move(completion)] {
        lastSaveFailed_ = !result->ok;
        lastSaveError_ = result->error;
        notifyStatus("");
        if (completion) {
            completion(result->ok);
        }
    });
}

void Session::save(std::function<void(bool)> done) {
    if (!loaded_ || fileName_.empty() || untitled_) {
        saveAs(std::move(done));
        return;
    }
    saveUnder(fileName_, std::move(done));
}

void Session::saveUnder(const std::string& path, std::function<void(bool)> done) {
    runSave(path, [this, path, done = std::move(done)](bool ok) mutable {
        if (ok) {
            fileName_ = path;
            untitled_ = false;
            readOnly_ = false;
            modified_ = false;
            editor_->sampleSaved();
            modifiedStamp_ = fileStamp(path); // our own save is not an outside change
            notifyTitle();
            if (listener_ != nullptr) {
                listener_->fileSaved(fileName_);
            }
            if (done) {
                done(true);
            }
            return;
        }
        // A failed save leaves the sample, its name and its modified mark as they were.
        const char* text = sample::isNoSpaceReason(lastSaveError_) ? sample::kMsgSaveNoSpace : sample::kMsgSaveError;
        if (prompter_.ask(jobs::MessageKind::Error, text, "", jobs::Buttons::YesNo) ==
            jobs::Answer::Yes) {
            saveAs(std::move(done));
        } else if (done) {
            done(false);
        }
    });
}

void Session::saveAs(std::function<void(bool)> done) {
    if (!loaded_) {
        if (done) {
            done(false);
        }
        return;
    }
    // Prefill: the name without its folder and its extension when it has a 3-letter one.
    std::string suggested = fileName_;
    if (suggested.size() >= 4 && suggested[suggested.size() - 4] == '.') {
        suggested = baseName(suggested).substr(0, baseName(suggested).size() - 4);
    }
    const auto target = prompter_.chooseSaveTarget(suggested, format().saveBits);
    if (!target) {
        if (done) {
            done(false);
        }
        return;
    }
    saveTo(target->fileName, target->saveBits, std::move(done));
}

bool Session::exportSlices(const slicing::instrument::Request& request,
                           std::function<void(const slicing::instrument::Report&)> done, std::string* refused) {
    if (!loaded_ || busy()) {
        return false;
    }
    player_->Stop();
    return instrumentExport_->start(request, std::move(done), refused);
}

bool Session::saveRegionAtTempo(const std::string& fileName, uint8_t bits, double tempo,
                                std::function<void(const sample::WriteResult&)> done, std::string* refused) {
    if (!loaded_ || busy()) {
        return false;
    }
    slicer_->rebuild();
    const auto& loopTempo = slicer_->tempo();
    const double from = loopTempo.bars == 0 && loopTempo.beats == 0 ? 0.0 : double(loopTempo.tempo);
    slicing::TempoPlan plan = slicing::planTempo(slicer_->slicePoints(), slicer_->left(), slicer_->right(), format(),
                                                 from, tempo);
    if (!plan.error.empty()) {
        if (refused) {
            *refused = plan.error;
        }
        return false;
    }
    player_->Stop();
    auto result = std::make_shared<sample::WriteResult>();
    const uint32_t rate = format().sampleRate;
    auto job = std::make_unique<jobs::FunctionJob>([this, plan = std::move(plan), fileName, bits, rate,
                                                    result](jobs::JobContext& context) {
        sample::BlockProgress progress;
        progress.report = [&context](uint64_t doneBytes, uint64_t total) {
            context.setProgress(double(doneBytes), double(total == 0 ? 1 : total), 0, 100);
        };
        progress.stop = [&context] { return context.stopRequested(); };
        *result = slicing::writeTempoRendering(store_->stream(), plan, fileName, bits, rate, progress);
    });
    return jobs_.start(std::move(job), jobs::ProcessMode::Saving, [result, done = std::move(done)] {
        if (done) {
            done(*result);
        }
    });
}

bool Session::saveTo(const std::string& fileName, uint8_t bits, std::function<void(bool)> done) {
    if (!loaded_ || jobs_.busy()) {
        if (done) {
            done(false);
        }
        return false;
    }
    format().saveBits = bits == 8 ? 8 : 16;
    saveUnder(absolutePath(fileName), std::move(done));
    return true;
}

void Session::promptToSave(std::function<void()> pending) {
    if (!loaded_ || !modified_ || !settings_.promptToSave) {
        pending();
        return;
    }
    const jobs::Answer answer = prompter_.ask(jobs::MessageKind::Confirmation, "Save changes to " + fileName_ + "?",
                                              "Current File Not Saved", jobs::Buttons::YesNoCancel);
    if (answer == jobs::Answer::No) {
        pending();
        return;
    }
    if (answer != jobs::Answer::Yes) {
        return;
    }
    auto then = [pending = std::move(pending)](bool ok) {
        if (ok) {
            pending();
        }
    };
    if (!fileName_.empty() && !readOnly_ && !untitled_) {
        save(std::move(then));
        return;
    }
    const auto target = prompter_.chooseSaveTarget("Untitled.wav", format().saveBits);
    if (!target) {
        return;
    }
    saveTo(target->fileName, target->saveBits, std::move(then));
}

void Session::close() {
    if (jobs_.busy()) {
        return;
    }
    for (auto& hook : resetHooks_) {
        hook();
    }
    loaded_ = false;
    modified_ = false;
    untitled_ = false;
    fileName_.clear();
    store_->clear();
    peaks_->reset();
    peaks_->forgetSpare();
    notifyTitle();
    notifyStatus("");
    if (listener_ != nullptr) {
        listener_->sampleChanged();
    }
}

} // namespace cleavix::session
