// The main window: start-up, the session's notifications, enabling, shut-down, drops and focus.
#include "ui/window/StartForm.h"
#include "ui/window/MainFormParts.h"
#include "sample/FormatPosition.h"
#include "sample/WavParser.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/window/BarsBeatsControl.h"
#include "ui/window/StartBounds.h"
#include "ui/view/Artwork.h"
#include "ui/view/BarMouse.h"
#include "ui/view/SegmentDrag.h"
#include "ui/dialogs/CXWizard.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/OptionsForm.h"
#include "ui/commands/ChannelPoints.h"
#include "ui/commands/EditCommands.h"
#include "ui/view/MouseTools.h"
#include "ui/commands/ProcessCommands.h"
#include "ui/commands/PluginCommands.h"
#include "ui/commands/ExportCommands.h"
#include "ui/commands/RecordCommands.h"
#include "ui/dialogs/ProcessForm.h"
#include "ui/dialogs/SensitivityForm.h"
#include "ui/view/WaveBox.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <sys/stat.h>

namespace cleavix::ui {

using namespace mainform;

TMainForm::TMainForm(QtDispatcher& dispatcher, StartOptions options)
    : dispatcher_(dispatcher), options_(std::move(options)) {
    FormCreate();
}

TMainForm::~TMainForm() {
    // The event filters read this form's members, which are gone before the child widgets that
    // the filters watch: take them off first.
    if (bars_ != nullptr) {
        bars_->detach();
    }
    if (tools_ != nullptr) {
        qApp->removeEventFilter(tools_);
    }
    if (session_) {
        // A take still open goes before the session it records through.
        delete records_;
        records_ = nullptr;
        session_->setListener(nullptr);
        session_->slicer().onRedraw = nullptr;
        session_->slicer().onTempo = nullptr;
        // A worker still running is stopped first; waiting calls are released.
        dispatcher_.shutDown();
        session_->jobs().shutdown();
    }
    transport_.reset();
    delete processForm_;
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::ShiftModifier ||
        event->modifiers() == Qt::KeypadModifier) {
        if (tools_->keyPress(event)) {
            event->accept();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

void TMainForm::message(jobs::MessageKind kind, const QString& text) {
    prompter_.ask(kind, text.toStdString(), "", jobs::Buttons::Ok);
}

// Start-up

void TMainForm::FormCreate() {
    setObjectName("TMainForm");
    setWindowTitle("Cleavix");
    setWindowIcon(art::applicationIcon());
    setAcceptDrops(true);
    prompter_.setParent(this);
    prompter_.saveDialog = [this](const std::string& suggested, uint8_t bits) { return runSaveDialog(suggested, bits); };

    config_ = readConfig(&configOk_, &configLinesIgnored_);
    if (!configOk_) {
        // Reading went on with the defaults; the values could not be stored.
        config_ = Config();
    }
    session::Settings settings;
    settings.tempPath = config_.tempPath.toStdString();
    settings.waveCacheSize = config_.waveCacheSize;
    settings.enableUndo = config_.enableUndo;
    settings.scanOnLoad = config_.scanWaveOnLoad;
    settings.setOneBar = config_.setOneBar;
    settings.promptToSave = config_.prompt;
    settings.ostrelHost = options_.ostrel;
    try {
        session_ = std::make_unique<session::Session>(dispatcher_, prompter_, settings,
                                                      options_.backends ? options_.backends() : session::Backends::defaults());
    } catch (const std::exception& e) {
        // Without a sample store the window cannot work: the program ends.
        qWarning("cleavix: %s", e.what());
        message(jobs::MessageKind::Error, kMsgInitialise);
        return;
    }
    config_.enableUndo = session_->settings().enableUndo; // off when the undo file could not be made

    transport_ = std::make_unique<TransportControl>(*session_);
    transport_->setStore(&session_->store().stream());
    transport_->setInputDevice(-1);
    transport_->setDevice(config_.waveId);
    transport_->setBuffers(config_.seconds, config_.buffers);

    processForm_ = new TProcessForm(session_->jobs(), this);
    odForm_ = new TOdForm(this);
    saveForm_ = new TSaveForm(this);
    odForm_->playFile = [this](const QString& file) {
        transport_->stop();
        return transport_->playFile(file.toStdString());
    };
    odForm_->stopPlaying = [this] { transport_->closeOutput(); };
    transport_->openDialogPlayStopped = [this] { return odForm_->playbackEnded(); };

    buildActions();
    buildMenus();
    buildToolbars();
    buildViews();
    buildStatusBar();
    connectSession();
    applyLegend(false); // the legend starts off at every start
    layoutBars();
    updateRecentMenu();
    view_.whole(0);
    updateEnabling();
    const QRect bounds = startBounds(*this, config_);
    resize(bounds.size());
    move(bounds.topLeft());
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) { applicationStateChanged(state); });
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        // After the window is on screen, so its messages have a parent to sit over.
        QMetaObject::invokeMethod(this, [this] { FormShow(); }, Qt::QueuedConnection);
    }
}

void TMainForm::FormShow() {
    if (!session_) {
        close();
        return;
    }
    if (options_.screenshot) {
        return;
    }
    if (!configOk_) {
        message(jobs::MessageKind::Error, kMsgConfigAccess);
    } else if (configLinesIgnored_) {
        message(jobs::MessageKind::Warning, QString(kMsgConfigLinesIgnored).arg(configFilePath()));
    }
    if (transport_->outputNames().empty()) {
        message(jobs::MessageKind::Error, kMsgNoSoundcard);
    }
    if (!options_.file.isEmpty()) {
        // The file the user named is opened even on the first run.
        if (QFileInfo(options_.file).isFile() && QFileInfo(options_.file).suffix().compare("clx", Qt::CaseInsensitive) == 0) {
            openPointFileWithSample(options_.file);
        } else if (QFileInfo(options_.file).isFile()) {
            transport_->closeOutput();
            session_->open(options_.file.toStdString(), session::OpenOrigin::CommandLine);
        } else {
            message(jobs::MessageKind::Warning, kMsgCommandLineFile);
        }
    } else if (config_.showOpenDialog) {
        // The first start too: a new user is offered a file at once, as the option says.
        OpenFile();
    }
    if (config_.max) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

// Session notifications

void TMainForm::titleChanged(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

void TMainForm::updateTitle() { setWindowTitle(QString::fromStdString(session_->title())); }

void TMainForm::statusChanged(const std::string& formatPanel, const std::string& filePanel) {
    if (!filePanel.empty()) {
        panels_[1]->setText(QString::fromStdString(filePanel));
    } else if (!formatPanel.empty()) {
        panels_[1]->setText(QString::fromStdString(formatPanel));
    } else {
        panels_[1]->setText(session_->loaded() ? QString::fromStdString(session_->formatText()) : "No File Loaded");
    }
}

// The hint and the position under the pointer belong to the sample that was shown before.
void TMainForm::clearPointerPanels() {
    panels_[0]->clear();
    panels_[2]->clear();
}

void TMainForm::sampleChanged() {
    summary_.clear();
    const auto& format = session_->format();
    if (session_->loaded()) {
        if (freshLoad_) {
            freshLoad_ = false;
            clearPointerPanels();
            view_.whole(format.dataLength);
            session_->selection().resetChannels();
            action("LeftChannel1")->setChecked(true);
            action("RightChannel1")->setChecked(true);
        } else {
            view_.update(format.dataLength, format.blockAlign());
        }
        transport_->setFormat(format.channels, format.sampleRate);
    } else {
        view_.whole(0);
        clearPointerPanels();
    }
    panels_[3]->setText(session_->loaded() ? zoomText(view_.zoom) : "x1.0");
    statusChanged({}, {});
    updateTitle();
    updateEnabling();
    slicesChanged();
    redrawWave(true);
}

void TMainForm::fileSaved(const std::string& fileName) {
    const QString path = QString::fromStdString(fileName);
    AddRecentFile(path);
    rememberSaveFolder(path);
    saveForm_->setDirectory(QFileInfo(path).absolutePath());
    saveForm_->selectFile("*.wav");
    updateEnabling();
}

void TMainForm::peaksRebuilt() {
    summary_.clear();
    redrawWave(true);
}

void TMainForm::slicesChanged() {
    auto& slicer = session_->slicer();
    if (slider_->value() != slicer.slider()) {
        const QSignalBlocker block(slider_);
        slider_->setValue(slicer.slider());
    }
    sensitivityLabel_->setText(session_->loaded() ? QString::fromStdString(slicer.sensitivityLabel()) : "0%");
    barsBeats_->refresh(); // the bars, the beats and the tempo label
    action("ZoomToSegment1")->setEnabled(session_->loaded() && slicer.slicePoints().count() > 0);
    // The second segment bar belongs to separate channel points: it comes and goes with them.
    const bool separate = session_->loaded() && session_->format().channels == 2 && !slicer.linked();
    if (paintbox3_->isHidden() == (separate && config_.showSegmentBar)) {
        layoutBars();
    }
    placeLocators();
    redrawWave(false);
}

// Enabling

void TMainForm::updateEnabling() {
    const bool loaded = session_->loaded();
    const bool stereo = loaded && session_->format().channels == 2;
    for (const char* name : {"Save1", "SaveAs1", "ZoomIn1", "ZoomOut1", "ToolbarButton973", "ShowSensitivity1",
                             "LockAll1", "UnlockAll1"}) {
        action(name)->setEnabled(loaded);
    }
    action("ZoomIn1")->setEnabled(loaded && view_.zoomInEnabled);
    action("ZoomOut1")->setEnabled(loaded && view_.zoomOutEnabled);
    action("ZoomToSegment1")->setEnabled(loaded && session_->slicer().slicePoints().count() > 0);
    action("Revert1")->setEnabled(loaded && !session_->fileName().empty());
    action("LeftChannel1")->setEnabled(stereo);
    action("RightChannel1")->setEnabled(stereo);
    UpdateFileMenu();
    const bool canPlay = loaded;
    for (QToolButton* b : {playSelectionButton_, button24_, button20_, button4_, button3_}) {
        b->setEnabled(canPlay);
    }
    slider_->setEnabled(loaded);
    if (!loaded) {
        const QSignalBlocker block(slider_);
        slider_->setValue(0);
        sensitivityLabel_->setText("0%");
    }
    paintbox1_->setEnabled(loaded);
    button19_->setEnabled(loaded);
    button21_->setEnabled(loaded);
    placeLocators();
    edits_->updateEnabling();
    findChild<ChannelPoints*>()->updateEnabling();
    tools_->updateEnabling();
    processes_->updateEnabling();
    plugins_->updateEnabling();
    barsBeats_->refresh();
    exports_->updateEnabling();
}

void TMainForm::UpdateFileMenu() {
    const bool named = !session_->fileName().empty();
    action("Close1")->setEnabled(named);
    action("OpenPointFile1")->setEnabled(named && session_->loaded());
    action("SavePointFile1")->setEnabled(named && session_->loaded());
}

void TMainForm::updateRecentMenu() {
    while (config_.recentFiles.size() < kRecentFiles) {
        config_.recentFiles << QString();
    }
    for (int i = 0; i < kRecentFiles; ++i) {
        const QString& path = config_.recentFiles[i];
        recentActions_[i]->setText(QString("&%1 %2").arg(i + 1).arg(path));
        recentActions_[i]->setVisible(!path.isEmpty());
    }
    reopenMenu_->setEnabled(std::any_of(config_.recentFiles.begin(), config_.recentFiles.end(),
                                        [](const QString& p) { return !p.isEmpty(); }));
}

void TMainForm::AddRecentFile(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        updateRecentMenu();
        return;
    }
    const QString full = QFileInfo(path).absoluteFilePath();
    for (const QString& entry : config_.recentFiles) {
        if (entry.compare(full, Qt::CaseInsensitive) == 0) {
            updateRecentMenu();
            return;
        }
    }
    config_.recentFiles.prepend(full);
    while (config_.recentFiles.size() > kRecentFiles) {
        config_.recentFiles.removeLast();
    }
    updateRecentMenu();
}

// Shut-down, drops, focus

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!session_) {
        event->accept();
        return;
    }
    if (session_->busy()) {
        event->ignore();
        return;
    }
    transport_->stop();
    transport_->closeOutput();
    if (closeConfirmed_) {
        if (!options_.screenshot && !saveConfiguration()) {
            message(jobs::MessageKind::Error, kMsgConfigUpdate);
        }
        event->accept();
        return;
    }
    event->ignore();
    session_->promptToSave([this] {
        if (windowState() == Qt::WindowNoState) {
            config_.width = width();
            config_.height = height();
            config_.left = x();
            config_.top = y();
        }
        config_.max = isMaximized();
        config_.mws = isMinimized() ? 1 : isMaximized() ? 2 : 0;
        closeConfirmed_ = true;
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
    });
}

bool TMainForm::saveConfiguration() {
    config_.waveId = transport_->device();
    config_.showIcon = action("SpeedButton5")->isChecked();
    config_.showLock = action("SpeedButton6")->isChecked();
    config_.showEnable = action("SpeedButton7")->isChecked();
    return writeConfig(config_);
}

// A slice dragged out of the segment bar and dropped back here is refused: opening it would put
// a temporary copy in place of the sample and in the Reopen list.
bool TMainForm::isOwnDraggedSlice(const QMimeData* mime) const {
    const auto urls = mime->urls();
    return !urls.isEmpty() && urls.first().isLocalFile() && bars_ != nullptr &&
           bars_->dragOut().holds(urls.first().toLocalFile());
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !isOwnDraggedSlice(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void TMainForm::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile() || session_->busy() ||
        isOwnDraggedSlice(event->mimeData())) {
        event->ignore();
        return;
    }
    // Of several files only the first is taken.
    const QString file = urls.first().toLocalFile();
    event->acceptProposedAction();
    transport_->closeOutput();
    session_->open(file.toStdString(), session::OpenOrigin::Drop);
}

void TMainForm::applicationStateChanged(Qt::ApplicationState state) {
    if (!session_ || !session_->loaded()) {
        return;
    }
    if (state != Qt::ApplicationActive) {
        if (transport_->outputOpen()) {
            transport_->closeOutput();
            outputClosedWhileInactive_ = true;
        }
        return;
    }
    if (session_->busy() || plugins_->pluginForm() != nullptr) {
        return; // a reload now would pull the sample from under the run or the plug-in window
    }
    session_->applicationActivated();
    if (outputClosedWhileInactive_) {
        outputClosedWhileInactive_ = false;
        transport_->openOutput();
    }
}

} // namespace cleavix::ui
