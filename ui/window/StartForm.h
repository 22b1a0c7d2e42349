#pragma once
// TMainForm: the main window. It owns the session (the engine), the configuration values, the
// views and the transport, and turns the engine's state into menus, toolbars, the status bar and
// pictures. Commands are the session's; what is here is about widgets: enabling, painting, dialogs.
//
// Threads: main thread only. Workers reach the window through the session's dispatcher.
#include "session/Session.h"
#include "ui/platform/Config.h"
#include "ui/window/MainWindowHost.h"
#include "ui/view/PeakSummary.h"
#include "ui/platform/QtDispatcher.h"
#include "ui/platform/QtPrompter.h"
#include "ui/commands/TransportControl.h"
#include "ui/view/ViewState.h"
#include "ui/view/WaveRenderer.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QDoubleSpinBox;
class QLabel;
class QMenu;
class QMimeData;
class QPushButton;
class QSlider;
class QToolBar;
class QToolButton;

namespace cleavix::ui {

class BarMouse;
class EditCommands;
class MouseTools;
class ProcessCommands;
class PluginCommands;
class RecordCommands;
class TBarsBeatsControl;
class ExportCommands;
class SamplerCommands;
class TOdForm;
class TSaveForm;
class TProcessForm;
class TWaveBox;

struct StartOptions {
    QString file;          // argument 1: a file to open at start-up
    bool ostrel = false;   // argument 2 "ostrel": host mode
    bool screenshot = false; // rendering a picture: no dialogs at start, configuration left as read
    // The device layers for the session (tests: virtual devices with emulated samplers); unset:
    // what the build offers.
    std::function<session::Backends()> backends;
};

class TMainForm final : public QMainWindow, public session::SessionListener, public MainWindowHost {
    Q_OBJECT
public:
    TMainForm(QtDispatcher& dispatcher, StartOptions options);
    ~TMainForm() override;

    // False when start-up failed (no sample store): the program ends.
    bool started() const { return session_ != nullptr; }

    // --- SessionListener ---
    void titleChanged(const std::string& title) override;
    void statusChanged(const std::string& formatPanel, const std::string& filePanel) override;
    void sampleChanged() override;
    void fileSaved(const std::string& fileName) override;
    void fileOpened(const std::string& fileName, session::OpenOrigin origin) override;
    void peaksRebuilt() override;

    // --- state, for the window's own tests and the screenshot ---
    session::Session& session() override { return *session_; }
    Config& config() override { return config_; }
    const ViewState& view() const { return view_; }
    QString statusPanel(int index) const;
    QAction* action(const QString& objectName) const override;
    QSlider* sensitivitySlider() const { return slider_; }
    QLabel* sensitivityLabel() const { return sensitivityLabel_; }
    TWaveBox* waveView() const override { return paintbox1_; }
    TWaveBox* barView() const override { return paintbox2_; }
    TWaveBox* segmentBar2() const override { return paintbox3_; }
    QPushButton* locatorL() const override { return button19_; }
    QPushButton* locatorR() const override { return button21_; }
    QToolButton* transportButton(const QString& objectName) const;
    const WaveRenderer& renderer() const override { return renderer_; }
    int splitRow() const override { return splitRow_; }
    TOdForm* openDialog() const { return odForm_; }
    TSaveForm* saveDialog() const { return saveForm_; }
    TProcessForm* processForm() const { return processForm_; }
    EditCommands* editCommands() const override { return edits_; }
    MouseTools* mouseTools() const { return tools_; }
    ProcessCommands* processCommands() const { return processes_; }
    PluginCommands* pluginCommands() const { return plugins_; }
    TBarsBeatsControl* barsBeats() const { return barsBeats_; }
    ExportCommands* exportCommands() const override { return exports_; }
    BarMouse* barMouse() const { return bars_; }
    RecordCommands* recordCommands() const { return records_; }
    TransportControl* transport() const override { return transport_.get(); }
    SamplerCommands* samplerCommands() const { return sampler_; }

    // --- commands (the menu items call these) ---
    void OpenFile();          // "&Open..."
    void openRecent(int entry); // a "Reopen" entry (0-based)
    void RevertItemClick();
    void CloseFile();
    void SaveItemClick();
    void SaveAsItemClick();
    void OpenPointFile();
    void SavePointFile();
    void Options1Click();
    void ShowWiz();
    void ShowSensitivity();
    void ControlPanel1Click();
    void AddRecentFile(const QString& path);
    void ZoomIn();
    void ZoomOut();
    void Zoom11() override;
    void ZoomToSegment();
    // Loads `file` with File Open's checks and messages (the command-line file, a drop, Revert).
    bool loadFile(const QString& file) override;
    // A point file named at start-up (the desktop opens .clx files with Cleavix): opens the sample
    // of the same name beside it (.wav, .aif or .aiff) and loads the points onto it in place of a
    // slice search. False, after a message, when there is no such sample or its open was refused.
    bool openPointFileWithSample(const QString& pointFile);
    // Applies the live preferences (colours, bars, legend, units...) after the options dialog.
    void applyPreferences();
    // Writes the configuration (FormClose); false when it could not be written.
    bool saveConfiguration();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool isOwnDraggedSlice(const QMimeData* mime) const;
    void clearPointerPanels();
    QString pointFileStart(const QString& remembered) const;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // --- MainWindowHost: what the command classes use of the window ---
    QMainWindow& mainWindow() override { return *this; }
    bool configWritable() const override { return configOk_; }
    jobs::Prompter& prompter() override { return prompter_; }
    ViewState& viewState() override { return view_; }
    int waveLeftInLocatorStrip() const override;
    void playSelectedSegment() override;
    double renderTempo() const override;
    void sampleEdited() override;
    void showWholeSample() override;
    void expectNewSample() override { freshLoad_ = true; }
    void showFileStatus(const QString& text) override;
    void showHint(const QString& text) override;
    void showPointerPosition() override { showPosition(lastMouseX_); }
    void clearSaveFileName() override;

    void FormCreate();
    void FormShow();
    void buildActions();
    void buildMenus();
    void buildToolbars();
    void buildViews();
    void buildStatusBar();
    void connectSession();
    void updateEnabling() override;
    void UpdateFileMenu();
    void updateRecentMenu();
    void updateTitle();
    void applyLegend(bool legend);
    void layoutBars();
    void placeLocators();
    void slicesChanged() override;
    void redrawWave(bool dirty) override;
    void viewChanged() override;
    void applicationStateChanged(Qt::ApplicationState state);
    void showPosition(int x);
    uint32_t zoomCentre() const;
    void zoom(const std::function<void(uint32_t centre, uint32_t total, uint32_t frameBytes)>& change) override;
    void zoomToSegmentAt(uint32_t position) override;
    void zoomToSegmentIndex(int index) override;
    TransportInput transportInput() const override;
    // The save dialog; nothing is remembered until the file is written (rememberSaveFolder).
    std::optional<jobs::SaveTarget> runSaveDialog(const std::string& suggested, uint8_t bits) override;
    // A save or an export into `file` succeeded: its folder becomes the save dialog's.
    void rememberSaveFolder(const QString& file) override;
    void paintWave(TWaveBox& box, QPainter& painter);
    void paintBars(TWaveBox& box, QPainter& painter);
    void paintSegmentBar2(TWaveBox& box, QPainter& painter);
    void message(jobs::MessageKind kind, const QString& text) override;

    QtDispatcher& dispatcher_;
    QtPrompter prompter_;
    StartOptions options_;
    Config config_;
    bool configOk_ = true;
    bool configLinesIgnored_ = false;
    std::unique_ptr<session::Session> session_;
    std::unique_ptr<TransportControl> transport_;
    TProcessForm* processForm_ = nullptr;
    TOdForm* odForm_ = nullptr;
    TSaveForm* saveForm_ = nullptr;
    EditCommands* edits_ = nullptr;
    MouseTools* tools_ = nullptr;
    ProcessCommands* processes_ = nullptr;
    PluginCommands* plugins_ = nullptr;
    TBarsBeatsControl* barsBeats_ = nullptr;
    ExportCommands* exports_ = nullptr;
    BarMouse* bars_ = nullptr;
    RecordCommands* records_ = nullptr;
    SamplerCommands* sampler_ = nullptr;

    // Views.
    TWaveBox* paintbox1_ = nullptr;
    TWaveBox* paintbox2_ = nullptr;
    TWaveBox* paintbox3_ = nullptr;
    QWidget* locatorStrip_ = nullptr;
    QPushButton* button19_ = nullptr;
    QPushButton* button21_ = nullptr;
    WaveRenderer renderer_;
    PeakSummary summary_;
    ViewState view_;
    int splitRow_ = 9;
    bool freshLoad_ = false;
    int lastMouseX_ = -1;
    bool legend_ = false;

    // Toolbars and their controls.
    QToolBar* panel3_ = nullptr; // File
    QToolBar* panel2_ = nullptr; // Edit
    QToolBar* viewBar_ = nullptr;
    QToolBar* panel4_ = nullptr; // Play
    QToolButton* playSelectionButton_ = nullptr;
    QToolButton* button24_ = nullptr;
    QToolButton* button20_ = nullptr;
    QToolButton* button4_ = nullptr;
    QToolButton* button3_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* sensitivityLabel_ = nullptr;
    QLabel* tempoLabel_ = nullptr;
    QDoubleSpinBox* renderTempo_ = nullptr; // the Play toolbar's "Tempo" box
    QLabel* panels_[4] = {};

    // Menus.
    QMenu* fileMenu_ = nullptr;
    QMenu* reopenMenu_ = nullptr;
    QMenu* unitsMenu_ = nullptr;
    QActionGroup* unitsGroup_ = nullptr;
    QAction* recentActions_[kRecentFiles] = {};

    bool closeConfirmed_ = false;
    bool shown_ = false;
    bool outputClosedWhileInactive_ = false;
};

} // namespace cleavix::ui
