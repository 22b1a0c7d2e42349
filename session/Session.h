#pragma once
// The session: everything the main window owns for as long as the program runs -- the sample
// format and store, the peak table, the working files, the job frame, the settings values -- and
// every command of the program as a method. The Qt window and the command-line tool both drive a
// Session; neither holds engine state of its own.
//
// Threads: all public methods are for the main thread (the dispatcher's). Commands that run long
// start a worker through the job frame and return at once; their completion runs later on the
// main thread, and `done` callbacks are called from there.
#include "editing/Editor.h"
#include "editing/Selection.h"
#include "audio/Transport.h"
#include "audio/WabeAudio.h"
#include "jobs/Dispatcher.h"
#include "jobs/JobFrame.h"
#include "jobs/Prompter.h"
#include "sample/FileAndMemoryStream.h"
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "sample/WavParser.h"
#include "processing/Processor.h"
#include "session/Backends.h"
#include "plugins/ExternalEdit.h"
#include "plugins/PluginHost.h"
#include "slicing/Slicer.h"
#include "slicing/export/InstrumentExport.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::session {

class RecordTake;
class SamplerTransfer;

// The configuration values the engine reads (the window keeps the rest).
struct Settings {
    std::string tempPath;          // "TempPath": working directory when it names one
    long long waveCacheSize = 128; // "WaveCacheSize": peak block bytes
    bool enableUndo = true;        // "EnableUndo"
    bool scanOnLoad = true;        // "Scan sample when loading"
    bool setOneBar = false;        // "SetOneBar": a load sets bars to 1
    bool promptToSave = true;      // ask to save unsaved changes
    bool ostrelHost = false;       // started with "ostrel" as the second argument
};

// Where an open comes from; each has its own checks, questions and messages.
enum class OpenOrigin {
    Menu,        // File Open, and the command-line tool's file arguments
    CommandLine, // the window's start-up argument
    Recent,      // a Reopen entry: "File not found..." first, "File is incorrect format"
    Drop,        // a file dropped on the window: the unsaved-changes prompt first
    Revert,      // the loaded file again, after "Are you sure..."
    Reload,      // the loaded file again after it changed outside, without checks
};

// The questions of the opens that ask.
inline constexpr const char* kMsgRevert = "Are you sure you wish to revert to the original sample?";
inline constexpr const char* kMsgFileChanged = "File has changed! Reload?";

// What the window listens to. All calls on the main thread.
class SessionListener {
public:
    virtual ~SessionListener() = default;
    virtual void titleChanged(const std::string& /*title*/) {}
    virtual void statusChanged(const std::string& /*formatPanel*/, const std::string& /*filePanel*/) {}
    virtual void sampleChanged() {} // loaded, closed, or the audio changed: redraw
    virtual void fileSaved(const std::string& /*fileName*/) {}
    // A file was loaded through open(); the window keeps its Reopen list and folders from this.
    virtual void fileOpened(const std::string& /*fileName*/, OpenOrigin /*origin*/) {}
    // The selection or the loop region changed outside the window's own drawing.
    virtual void selectionChanged() {}
    // The peak table was rebuilt (a new block size): pictures made from it are stale.
    virtual void peaksRebuilt() {}
};

class Session {
public:
    Session(jobs::Dispatcher& dispatcher, jobs::Prompter& prompter, Settings settings = {},
            Backends backends = Backends::defaults());
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void setListener(SessionListener* listener) { listener_ = listener; }
    const Settings& settings() const { return settings_; }
    Settings& settings() { return settings_; }

    // State
    sample::SampleStore& store() { return *store_; }
    const sample::SampleStore& store() const { return *store_; }
    const sample::SampleFormat& format() const { return store_->format(); }
    sample::SampleFormat& format() { return store_->format(); }
    sample::PeakTable& peaks() { return *peaks_; }
    jobs::JobFrame& jobs() { return jobs_; }
    // The slicing state and commands: points, sensitivity, loop region, tempo, exports.
    slicing::Slicer& slicer() { return *slicer_; }
    // Save Segments in Loop with the SFZ instrument, MIDI file and Hydrogen drum kit beside it.
    // False, with `refused` saying why when it is given, when the request is refused (nothing is
    // written) or a job runs; otherwise done(report) once every file has been tried.
    bool exportSlices(const slicing::instrument::Request& request,
                      std::function<void(const slicing::instrument::Report&)> done, std::string* refused = nullptr);
    // Save Region at Tempo: the loop region re-triggered slice by slice at `tempo` BPM (its own
    // tempo comes from its bars and beats) written to fileName at bits. False, with `refused`
    // saying why, when there is no rendering or a job runs; otherwise done(result) once written.
    bool saveRegionAtTempo(const std::string& fileName, uint8_t bits, double tempo,
                           std::function<void(const sample::WriteResult&)> done, std::string* refused = nullptr);
    // The loop [left, right) (byte positions) re-triggered slice by slice at `tempo` BPM, for the
    // player to loop (PlayRendered) without rendering it anywhere first. Null when the loop plays
    // as it is: no sample, no tempo asked for (0), or the loop's own tempo. Null with `refused`
    // saying why when there is no rendering (no bars and beats, an empty loop, ...). The
    // transport's Loop asks here for the Tempo box's tempo and shows a refusal.
    std::shared_ptr<audio::PlaySource> loopAtTempo(uint64_t left, uint64_t right, double tempo,
                                                   std::string* refused = nullptr);
    // The edit state, selection, clipboard image and undo record, and the edit commands.
    editing::Editor& editor() { return *editor_; }
    // The one selection and channel choice the edits work on and the views show.
    editing::Selection& selection() { return *selection_; }
    // The effect plug-ins: menus, presets, processing with undo (the bridge is made on first use).
    plugins::PluginHost& plugins();
    // Edit Externally: the sample written to a private copy and `editorCommand` started on it.
    bool editExternally(const std::string& editorCommand, std::function<void(bool)> done = {});
    // The window came back to the foreground: a copy being edited externally that changed is
    // offered for reloading ("File being edited externally has changed! Reload?"; the sample keeps
    // its own name and becomes modified), then the loaded file's outside change is checked.
    void applicationActivated();
    // The process commands and their dialogs' settings.
    processing::Processor& processor() { return *processor_; }
    // The wave devices, the player (playing straight from the store) and the transport's engine
    // side. Every long operation stops the player, which keeps away from the store while busy.
    audio::WaveDeviceProvider& devices() { return *backends_.waveDevices; }
    audio::twabeAudio& player() { return *player_; }
    audio::TTransport& transport() { return *transport_; }
    // The MIDI ports, the SCSI layer, the sampler drivers and the transfer commands.
    SamplerTransfer& sampler() { return *sampler_; }
    jobs::Prompter& prompter() { return prompter_; }
    jobs::Dispatcher& dispatcher() { return dispatcher_; }
    const std::string& workingDirectory() const { return workDir_; }
    // The undo file; null when it could not be created (undo is then off).
    sample::TFileAndMemoryStream* undoFile() { return undoFile_.get(); }
    sample::TFileAndMemoryStream& clipboard() { return clipboard_; }

    bool loaded() const { return loaded_; }
    bool busy() const { return jobs_.busy(); }
    const std::string& fileName() const { return fileName_; }
    bool modified() const { return modified_; }
    void setModified(bool modified);
    // "loop.wav - Cleavix", "loop.wav* - Cleavix", or the host-mode titles.
    std::string title() const;
    // The status line's format panel: "16 Bit / 44100 hz stereo".
    std::string formatText() const;
    bool lastSaveFailed() const { return lastSaveFailed_; }
    const std::string& lastSaveError() const { return lastSaveError_; }
    // Why the last load failed (empty after a successful or aborted one).
    const std::string& lastLoadError() const { return lastLoadError_; }
    // The loaded (or last saved) file's modification time in nanoseconds, to notice outside changes.
    long long loadedFileStamp() const { return modifiedStamp_; }
    bool readOnly() const { return readOnly_; }

    // Commands
    sample::SampleFileCheck checkFile(const std::string& fileName, bool previewMode = false) const;
    // StartLoad: checks free space and starts the load worker. `done(true)` once a sample is
    // loaded, `done(false)` when the load failed or was aborted. Returns false when nothing started.
    bool startLoad(const std::string& fileName, std::function<void(bool)> done = {});
    // Every open of the program: the checks, questions and messages of its origin, then the load.
    // `done(true)` once loaded; `done(false)` when the load failed or was aborted. Returns false
    // when nothing started (refused, or the user said no); a drop's prompt may still be pending
    // when it returns true (the unsaved-changes question answered later).
    bool open(const std::string& fileName, OpenOrigin origin = OpenOrigin::Menu, std::function<void(bool)> done = {});
    // The loaded file changed on disk since it was loaded or saved (asked once per change): asks
    // "File has changed! Reload?" and reloads on Yes. True when a reload started.
    bool checkOutsideChange();
    // The peak table at a new block size, rebuilt from the store behind the progress window when a
    // sample is loaded; done(true) when the table describes the store at the new size.
    void setPeakBlockSize(uint32_t blockBytes, std::function<void(bool)> done = {});
    // Save to the sample's own name; on failure asks the error question, Yes leads to saveAs().
    void save(std::function<void(bool)> done = {});
    // Save As through the prompter's save dialog; repeats on failure while the user says Yes.
    void saveAs(std::function<void(bool)> done = {});
    // Writes the whole sample to fileName at bits without any dialog; done(ok).
    bool saveTo(const std::string& fileName, uint8_t bits, std::function<void(bool)> done = {});
    // The unsaved-changes prompt: runs `pending` at once, after a successful save, or never.
    void promptToSave(std::function<void()> pending);
    // Close the sample.
    void close();
    // The name a sample taken over from elsewhere (a sampler) goes by; the title follows.
    void renameSample(const std::string& fileName);
    // Stereo: the slice points shared by both channels ("L + R") or each channel's own ("L / R").
    // The points are searched afresh for the new mode, and Undo gives back the old points with
    // their mode. False when nothing started: no stereo sample, a job runs, or the mode is already
    // that one; otherwise done(true) once the new points are in place.
    bool setPointsShared(bool shared, std::function<void(bool)> done = {});
    bool pointsShared() const;

    // The record command. DoRecord stops playback and gives a take to record into (null, after a
    // message, when busy or when its working file cannot be made); the loaded sample stays as it
    // is until keepRecording(). That asks the unsaved-changes question for a modified sample,
    // then the take becomes the whole sample ("Untitled.wav", modified, peaks rebuilt, a slice
    // search when scanning on load) with the old sample as the undo backup; done(ok) at the end.
    // False when nothing was recorded, when busy, or when the question was cancelled: the take is
    // then still the caller's, and unchanged.
    std::shared_ptr<RecordTake> DoRecord();
    bool keepRecording(std::shared_ptr<RecordTake> take, std::function<void(bool)> done = {});

    // Per-sample state resets run by every load and by close, in registration order (the slice
    // tables, the undo record and the player register theirs).
    void addResetHook(std::function<void()> hook) { resetHooks_.push_back(std::move(hook)); }
    // Run on the main thread after a load completed successfully (the slice search starts here
    // when the settings ask for a scan on load).
    void addLoadedHook(std::function<void()> hook) { loadedHooks_.push_back(std::move(hook)); }

    // The load worker's main-thread steps (ttload calls them through synchronised calls).
    void resetForLoad(const std::string& fileName);
    void finishLoad(const std::string& fileName);

private:
    void notifyTitle();
    bool openChecked(const std::string& fileName, OpenOrigin origin, std::function<void(bool)> done);
    void notifyStatus(const std::string& filePanel);
    void runSave(const std::string& fileName, std::function<void(bool)> completion);
    // Writes the whole sample to path; on success path becomes the sample's name, on failure the
    // error question offers Save As.
    void saveUnder(const std::string& path, std::function<void(bool)> done);

    jobs::Dispatcher& dispatcher_;
    jobs::Prompter& prompter_;
    Settings settings_;
    jobs::JobFrame jobs_;
    SessionListener* listener_ = nullptr;
    std::string workDir_;
    std::unique_ptr<sample::TFileAndMemoryStream> undoFile_;
    std::unique_ptr<sample::SampleStore> store_;
    std::unique_ptr<sample::PeakTable> peaks_;
    std::unique_ptr<slicing::Slicer> slicer_;
    std::unique_ptr<slicing::instrument::InstrumentExport> instrumentExport_;
    std::unique_ptr<editing::Editor> editor_;
    std::unique_ptr<editing::Selection> selection_;
    std::unique_ptr<processing::Processor> processor_;
    std::unique_ptr<plugins::PluginHost> pluginHost_;
    std::unique_ptr<plugins::ExternalEdit> externalEdit_;
    Backends backends_;
    std::unique_ptr<audio::twabeAudio> player_;
    std::unique_ptr<audio::TTransport> transport_;
    std::unique_ptr<SamplerTransfer> sampler_;
    sample::TFileAndMemoryStream clipboard_;
    std::vector<std::function<void()>> resetHooks_;
    std::vector<std::function<void()>> loadedHooks_;
    std::string fileName_;
    bool loaded_ = false;
    bool modified_ = false;
    bool untitled_ = false; // "Untitled.wav" from a paste, a take or a received sample: Save asks for a name
    bool readOnly_ = false;
    bool lastSaveFailed_ = false;
    std::string lastLoadError_;
    long long modifiedStamp_ = 0; // the loaded file's modification time (ns), to notice outside changes
    std::string lastSaveError_;
};

} // namespace cleavix::session
