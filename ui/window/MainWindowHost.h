#pragma once
// MainWindowHost: what the main window lends its command classes (edits, mouse tools, processes,
// plug-ins, exports, recording, the bars and locators, sampler transfers). They reach the window
// only through this, so none of them depends on how the window keeps its widgets and state.
//
// Threads: main thread only.
#include "jobs/Prompter.h"
#include "ui/commands/TransportControl.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QAction;
class QMainWindow;
class QPushButton;

namespace cleavix::session {
class Session;
}

namespace cleavix::ui {

struct Config;
struct ViewState;
class EditCommands;
class ExportCommands;
class TWaveBox;
class WaveRenderer;

class MainWindowHost {
public:
    virtual ~MainWindowHost() = default;

    // The window itself: the parent of the commands' actions, menus and dialogs.
    virtual QMainWindow& mainWindow() = 0;

    // --- the engine and the settings ---
    virtual session::Session& session() = 0;
    virtual Config& config() = 0;
    // False when the configuration could not be read or stored (the defaults are in use).
    virtual bool configWritable() const = 0;
    virtual jobs::Prompter& prompter() = 0;
    // A window action by its object name (nullptr when there is none).
    virtual QAction* action(const QString& objectName) const = 0;

    // --- the views ---
    virtual ViewState& viewState() = 0;
    virtual const WaveRenderer& renderer() const = 0;
    virtual TWaveBox* waveView() const = 0;
    virtual TWaveBox* barView() const = 0;
    virtual TWaveBox* segmentBar2() const = 0;
    virtual QPushButton* locatorL() const = 0;
    virtual QPushButton* locatorR() const = 0;
    // The wave view's left edge in the locator strip's coordinates.
    virtual int waveLeftInLocatorStrip() const = 0;
    // The row of the bar view where the segment bar ends and the region bar begins.
    virtual int splitRow() const = 0;

    // --- playback ---
    virtual TransportControl* transport() const = 0;
    // What the transport needs to know of the sample, the view and the loop.
    virtual TransportInput transportInput() const = 0;
    // Plays the selected segment as the "Selected" button does, when it is enabled.
    virtual void playSelectedSegment() = 0;
    // The Play toolbar's tempo for a render; 0 means the loop's own.
    virtual double renderTempo() const = 0;

    // --- the other command classes ---
    virtual EditCommands* editCommands() const = 0;
    virtual ExportCommands* exportCommands() const = 0;

    // --- refreshes after a change ---
    virtual void updateEnabling() = 0;
    virtual void redrawWave(bool dirty) = 0;
    // The slice points changed: locators, tempo label and views follow.
    virtual void slicesChanged() = 0;
    // The view's range changed: bars, zoom panel and picture follow.
    virtual void viewChanged() = 0;
    // An edit or process finished: points, picture and enabling follow.
    virtual void sampleEdited() = 0;
    // The sample's length or format may be another: the whole of it in view, the bars laid out again.
    virtual void showWholeSample() = 0;
    // The next sampleChanged() shows a new sample (whole view, both channels, cleared panels).
    virtual void expectNewSample() = 0;
    // The sample was replaced: views, panels, title and menus follow it.
    virtual void sampleChanged() = 0;

    // --- the status line and messages ---
    // The file panel: `text`, or when empty what it shows by itself (format or "No File Loaded").
    virtual void showFileStatus(const QString& text) = 0;
    // The hint panel.
    virtual void showHint(const QString& text) = 0;
    // The pointer's position again (after the units or the tool changed).
    virtual void showPointerPosition() = 0;
    virtual void message(jobs::MessageKind kind, const QString& text) = 0;

    // --- zooming ---
    // Calls `change` with the zoom centre, the sample's length and frame size, when a sample is
    // loaded and idle, then refreshes the view.
    virtual void zoom(const std::function<void(uint32_t centre, uint32_t total, uint32_t frameBytes)>& change) = 0;
    virtual void Zoom11() = 0;
    virtual void zoomToSegmentAt(uint32_t position) = 0;
    // Zooms onto segment `index` and selects it.
    virtual void zoomToSegmentIndex(int index) = 0;

    // --- files ---
    // The save dialog; nothing is remembered until the file is written (rememberSaveFolder).
    virtual std::optional<jobs::SaveTarget> runSaveDialog(const std::string& suggested, uint8_t bits) = 0;
    // A save or an export into `file` succeeded: its folder becomes the save dialog's.
    virtual void rememberSaveFolder(const QString& file) = 0;
    // The save dialog offers no file name next time (only the *.wav pattern).
    virtual void clearSaveFileName() = 0;
    // Loads `file` with File Open's checks and messages.
    virtual bool loadFile(const QString& file) = 0;
};

} // namespace cleavix::ui
