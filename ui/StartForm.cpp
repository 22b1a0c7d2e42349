#include "ui/StartForm.h"

#include "sample/FormatPosition.h"
#include "sample/WavParser.h"
#include "ui/AboutForm.h"
#include "ui/BarsBeatsControl.h"
#include "ui/Artwork.h"
#include "ui/BarMouse.h"
#include "ui/CXWizard.h"
#include "ui/FileDialogs.h"
#include "ui/OptionsForm.h"
#include "ui/EditCommands.h"
#include "ui/MouseTools.h"
#include "ui/ProcessCommands.h"
#include "ui/ExportCommands.h"
#include "ui/ProcessForm.h"
#include "ui/SensitivityForm.h"
#include "ui/WaveBox.h"

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

namespace {

constexpr const char* kMsgConfigAccess = "An error occured when accessing the configuration file!";
constexpr const char* kMsgConfigUpdate = "Configuration File Update Failed!";
constexpr const char* kMsgInitialise = "An error occurred when initialising Cleavix!";
constexpr const char* kMsgNoSoundcard = "Error! - no soundcard found - check system sound settings";
constexpr const char* kMsgCommandLineFile = "Error opening file - check path!";
constexpr const char* kMsgNoControlPanel = "No control panel specified!";
constexpr const char* kMsgControlPanel = "Error opening control panel; check path in options";
constexpr const char* kHomePage = "https://cleavix.brindlecote.example/";

// "Open file|Click to open a new file": the short part is the tooltip, the long part the status text.
void setHint(QAction* action, const QString& hint) {
    const auto bar = hint.indexOf('|');
    action->setToolTip(bar < 0 ? hint : hint.left(bar));
    action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}
void setHint(QWidget* widget, const QString& hint) {
    const auto bar = hint.indexOf('|');
    widget->setToolTip(bar < 0 ? hint : hint.left(bar));
    widget->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

} // namespace

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

// ---------------------------------------------------------------------------------------------
// Start-up

void TMainForm::FormCreate() {
    setObjectName("TMainForm");
    setWindowTitle("Cleavix");
    setWindowIcon(art::applicationIcon());
    setAcceptDrops(true);
    prompter_.setParent(this);
    prompter_.saveDialog = [this](const std::string& suggested, uint8_t bits) { return runSaveDialog(suggested, bits); };

    config_ = readConfig(&configOk_);
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
        session_ = std::make_unique<session::Session>(dispatcher_, prompter_, settings);
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
    resize(config_.width, config_.height);
    move(config_.left, config_.top);
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
    }
    if (transport_->outputNames().empty()) {
        message(jobs::MessageKind::Error, kMsgNoSoundcard);
    }
    if (!options_.file.isEmpty()) {
        // The file the user named is opened even on the first run.
        if (QFileInfo(options_.file).isFile()) {
            transport_->closeOutput();
            session_->open(options_.file.toStdString(), session::OpenOrigin::CommandLine);
        } else {
            message(jobs::MessageKind::Warning, kMsgCommandLineFile);
        }
    } else if (config_.showOpenDialog && !config_.showWizardOnStartup) {
        OpenFile();
    }
    if (config_.max) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

// ---------------------------------------------------------------------------------------------
// Menus, toolbars, views

void TMainForm::buildActions() {
    auto make = [this](const char* name, const QString& text, std::function<void()> fn,
                       const QKeySequence& key = {}) {
        auto* a = new QAction(text, this);
        a->setObjectName(name);
        if (!key.isEmpty()) {
            a->setShortcut(key);
        }
        connect(a, &QAction::triggered, this, [fn = std::move(fn)] { fn(); });
        return a;
    };
    auto* open = make("Open1", "&Open...", [this] { session_->promptToSave([this] { OpenFile(); }); },
                      QKeySequence("Ctrl+O"));
    open->setIcon(art::glyph(art::Glyph::Open));
    setHint(open, "Open file|Click to open a new file");
    make("Revert1", "&Revert", [this] { RevertItemClick(); });
    make("Close1", "Close", [this] { session_->promptToSave([this] { CloseFile(); }); });
    make("OpenPointFile1", "Open Point File", [this] { OpenPointFile(); });
    make("SavePointFile1", "Save &Point File", [this] { SavePointFile(); });
    auto* save = make("Save1", "&Save", [this] { SaveItemClick(); }, QKeySequence("Ctrl+S"));
    save->setIcon(art::glyph(art::Glyph::Save));
    setHint(save, "Save|Save the sample");
    make("SaveAs1", "Save As...", [this] { SaveAsItemClick(); });
    exports_ = new ExportCommands(*this);
    exports_->buildActions();
    make("Options1", "Op&tions", [this] { Options1Click(); });
    make("Exit1", options_.ostrel ? "Return to Ostrel" : "E&xit", [this] { close(); }, QKeySequence("Alt+F4"));

    auto toggle = [&](const char* name, const QString& text, bool on, std::function<void(bool)> fn,
                      const QKeySequence& key = {}) {
        auto* a = new QAction(text, this);
        a->setObjectName(name);
        a->setCheckable(true);
        a->setChecked(on);
        if (!key.isEmpty()) {
            a->setShortcut(key);
        }
        connect(a, &QAction::toggled, this, [fn = std::move(fn)](bool checked) { fn(checked); });
        return a;
    };
    toggle("FileToolbar1", "&File Toolbar", config_.fileToolbar, [this](bool on) {
        config_.fileToolbar = on;
        panel3_->setVisible(on);
    });
    toggle("EditToolbar1", "&Edit Toolbar", config_.editToolbar, [this](bool on) {
        config_.editToolbar = on;
        panel2_->setVisible(on);
    });
    toggle("ViewToolbar1", "&View Toolbar", config_.viewToolbar, [this](bool on) {
        config_.viewToolbar = on;
        viewBar_->setVisible(on);
    });
    toggle("SelectionBar1", "Selection Bar", config_.showSegmentBar, [this](bool on) {
        config_.showSegmentBar = on;
        layoutBars();
    });
    toggle("RegionBar1", "Region Bar", config_.showRegionBar, [this](bool on) {
        config_.showRegionBar = on;
        layoutBars();
    });
    toggle("LeftChannel1", "&Left Channel", true, [this](bool on) {
        session_->selection().setChannelTicks(on, session_->selection().rightTicked());
        redrawWave(true);
    }, QKeySequence("Ctrl+1"));
    toggle("RightChannel1", "Right Channel", true, [this](bool on) {
        session_->selection().setChannelTicks(session_->selection().leftTicked(), on);
        redrawWave(true);
    }, QKeySequence("Ctrl+2"));
    auto* cp = make("ControlPanel1", "Soun&d Settings...", [this] { ControlPanel1Click(); });
    cp->setIcon(art::glyph(art::Glyph::ControlPanel));
    setHint(cp, "Sound settings|Open the sound settings program");

    auto* zin = make("ZoomIn1", "Zoom In", [this] { ZoomIn(); }, QKeySequence(Qt::CTRL | Qt::Key_Equal));
    zin->setIcon(art::glyph(art::Glyph::ZoomIn));
    setHint(zin, "Zoom in|Zoom in on the waveform");
    auto* zout = make("ZoomOut1", "Zoom Out", [this] { ZoomOut(); }, QKeySequence(Qt::CTRL | Qt::Key_Minus));
    zout->setIcon(art::glyph(art::Glyph::ZoomOut));
    setHint(zout, "Zoom out|Zoom out of the waveform");
    auto* z11 = make("ToolbarButton973", "Zoom (1:1)", [this] { Zoom11(); });
    z11->setIcon(art::glyph(art::Glyph::Zoom11));
    setHint(z11, "Zoom 1:1|Zoom out to a scale of 1:1");
    auto* zseg = make("ZoomToSegment1", "Zoom To Segment", [this] { ZoomToSegment(); });
    zseg->setIcon(art::glyph(art::Glyph::ZoomSegment));
    setHint(zseg, "Zoom to segment|Zoom to the segment under the mouse");

    auto* icons = toggle("SpeedButton5", "Sample Icons", config_.showIcon, [this](bool on) {
        config_.showIcon = on;
        redrawWave(false);
    });
    icons->setIcon(art::glyph(art::Glyph::ShowSampleIcons));
    setHint(icons, "Sample icons|Show/hide sample icons");
    auto* locks = toggle("SpeedButton6", "Lock Icons", config_.showLock, [this](bool on) {
        config_.showLock = on;
        redrawWave(false);
    });
    locks->setIcon(art::glyph(art::Glyph::ShowLockIcons));
    setHint(locks, "Lock icons|Show/hide lock icons");
    auto* disabled = toggle("SpeedButton7", "Disabled Icons", config_.showEnable, [this](bool on) {
        config_.showEnable = on;
        redrawWave(false);
    });
    disabled->setIcon(art::glyph(art::Glyph::ShowDisabledIcons));
    setHint(disabled, "Disabled icons|Show/hide sample disabled icons");

    edits_ = new EditCommands(*this);
    edits_->buildActions();
    processes_ = new ProcessCommands(*this);
    processes_->buildActions();
    make("ShowSensitivity1", "Show Sensitivity", [this] { ShowSensitivity(); }, QKeySequence("Ctrl+Y"));
    tools_ = new MouseTools(*this);
    tools_->buildActions();
    auto* lockAll = make("LockAll1", "Lock All", [this] { session_->slicer().lockAll(); });
    lockAll->setIcon(art::glyph(art::Glyph::LockAll));
    setHint(lockAll, "Lock all|Lock all slice points");
    auto* unlockAll = make("UnlockAll1", "Unlock All", [this] { session_->slicer().unlockAll(); });
    unlockAll->setIcon(art::glyph(art::Glyph::UnlockAll));
    setHint(unlockAll, "Unlock all|Unlock all slice points");

    auto* help = make("Help1", "&Help (F1)", [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile("index.html")));
    }, QKeySequence(Qt::Key_F1));
    help->setIcon(art::glyph(art::Glyph::Help));
    make("HomePage1", "&Brindlecote Home Page", [this] {
        if (!QDesktopServices::openUrl(QUrl(kHomePage))) {
            message(jobs::MessageKind::Error,
                 QString("Error opening homepage\nCheck browser is installed, and go to\n") + kHomePage);
        }
    });
    make("ConfigurationWizard1", "Configuration Wizard", [this] { ShowWiz(); });
    make("Tips1", "&Tips", [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile("tips.html"))); });
    make("About1", "&About...", [this] {
        TCXAboutForm about(this);
        about.exec();
    });

    unitsGroup_ = new QActionGroup(this);
    const std::pair<const char*, int> units[] = {{"Bytes", 4}, {"Samples", 2}, {"Seconds", 1}, {"Time", 8}};
    for (const auto& [name, value] : units) {
        auto* a = new QAction(name, unitsGroup_);
        a->setObjectName(QString("Units") + name);
        a->setCheckable(true);
        a->setData(value);
        connect(a, &QAction::triggered, this, [this, value = value] {
            config_.units = value;
            showPosition(lastMouseX_);
        });
    }
}

QAction* TMainForm::action(const QString& objectName) const { return findChild<QAction*>(objectName); }

QToolButton* TMainForm::transportButton(const QString& objectName) const {
    return findChild<QToolButton*>(objectName);
}

void TMainForm::buildMenus() {
    fileMenu_ = menuBar()->addMenu("&File");
    fileMenu_->setObjectName("FileMenu");
    fileMenu_->addAction(action("Open1"));
    reopenMenu_ = fileMenu_->addMenu("Reopen");
    reopenMenu_->setObjectName("Reopen1");
    for (int i = 0; i < kRecentFiles; ++i) {
        recentActions_[i] = reopenMenu_->addAction(QString());
        recentActions_[i]->setObjectName(QString("SubOpenItem%1").arg(i + 1));
        connect(recentActions_[i], &QAction::triggered, this,
                [this, i] { session_->promptToSave([this, i] { openRecent(i); }); });
    }
    fileMenu_->addAction(action("Revert1"));
    fileMenu_->addAction(action("Close1"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("OpenPointFile1"));
    fileMenu_->addAction(action("SavePointFile1"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("Save1"));
    fileMenu_->addAction(action("SaveAs1"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("Options1"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("Exit1"));
    exports_->fillFileMenu(*fileMenu_);
    connect(fileMenu_, &QMenu::aboutToShow, this, [this] { UpdateFileMenu(); });

    auto* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("EditMenu");
    edit->addAction(action("ShowSensitivity1"));
    edit->addSeparator();
    edit->addAction(action("LockAll1"));
    edit->addAction(action("UnlockAll1"));
    edits_->fillEditMenu(*edit);
    tools_->fillEditMenu(*edit);

    auto* process = menuBar()->addMenu("&Process");
    process->setObjectName("ProcessMenu");
    edits_->fillProcessMenu(*process);
    processes_->fillProcessMenu(*process);

    auto* viewMenu = menuBar()->addMenu("&View");
    viewMenu->setObjectName("ViewMenu");
    viewMenu->addAction(action("FileToolbar1"));
    viewMenu->addAction(action("EditToolbar1"));
    viewMenu->addAction(action("ViewToolbar1"));
    viewMenu->addSeparator();
    viewMenu->addAction(action("SelectionBar1"));
    viewMenu->addAction(action("RegionBar1"));
    viewMenu->addSeparator();
    viewMenu->addAction(action("ZoomIn1"));
    viewMenu->addAction(action("ZoomOut1"));
    viewMenu->addAction(action("ToolbarButton973"));
    viewMenu->addAction(action("ZoomToSegment1"));
    viewMenu->addSeparator();
    viewMenu->addAction(action("LeftChannel1"));
    viewMenu->addAction(action("RightChannel1"));
    viewMenu->addSeparator();
    viewMenu->addAction(action("ControlPanel1"));
    unitsMenu_ = viewMenu->addMenu("Units");
    unitsMenu_->setObjectName("UnitsMenu");
    unitsMenu_->addActions(unitsGroup_->actions());
    connect(unitsMenu_, &QMenu::aboutToShow, this, [this] {
        for (QAction* a : unitsGroup_->actions()) {
            a->setChecked(a->data().toInt() == config_.units);
        }
    });

    auto* help = menuBar()->addMenu("&Help");
    help->setObjectName("HelpMenu");
    help->addAction(action("Help1"));
    help->addAction(action("HomePage1"));
    help->addAction(action("ConfigurationWizard1"));
    help->addAction(action("Tips1"));
    help->addSeparator();
    help->addAction(action("About1"));
}

void TMainForm::buildToolbars() {
    setIconSize(QSize(20, 20));
    panel3_ = addToolBar("File");
    panel3_->setObjectName("Panel3");
    panel3_->addAction(action("Open1"));
    panel3_->addAction(action("Save1"));
    exports_->fillFileToolbar(*panel3_);
    panel2_ = addToolBar("Edit");
    panel2_->setObjectName("Panel2");
    edits_->fillEditToolbar(*panel2_);
    panel2_->addAction(action("LockAll1"));
    panel2_->addAction(action("UnlockAll1"));
    processes_->fillEditToolbar(*panel2_);
    viewBar_ = addToolBar("View");
    viewBar_->setObjectName("ViewToolbar");
    viewBar_->addAction(action("ZoomIn1"));
    viewBar_->addAction(action("ZoomOut1"));
    viewBar_->addAction(action("ToolbarButton973"));
    viewBar_->addAction(action("ZoomToSegment1"));
    viewBar_->addSeparator();
    viewBar_->addAction(action("SpeedButton5"));
    viewBar_->addAction(action("SpeedButton6"));
    viewBar_->addAction(action("SpeedButton7"));
    viewBar_->addSeparator();
    viewBar_->addAction(action("ControlPanel1"));
    // Closing a toolbar by other means keeps the View menu's ticks in step.
    for (auto [bar, name] : {std::pair{panel3_, "FileToolbar1"}, std::pair{panel2_, "EditToolbar1"},
                             std::pair{viewBar_, "ViewToolbar1"}}) {
        QAction* tick = action(name);
        connect(bar, &QToolBar::visibilityChanged, this, [this, tick, bar = bar](bool visible) {
            if (!isVisible() || isMinimized()) {
                return; // the window itself is hiding
            }
            if (tick->isChecked() != visible) {
                tick->setChecked(visible);
            }
            (void)bar;
        });
    }
    panel3_->setVisible(config_.fileToolbar);
    panel2_->setVisible(config_.editToolbar);
    viewBar_->setVisible(config_.viewToolbar);

    addToolBar(tools_->buildToolbar());

    addToolBarBreak();
    panel4_ = addToolBar("Play");
    panel4_->setObjectName("Panel4");
    auto button = [this](const char* name, art::Glyph g, const QString& hint, const QString& legend) {
        auto* b = new QToolButton(panel4_);
        b->setObjectName(name);
        b->setIcon(art::glyph(g));
        b->setText(legend);
        b->setCheckable(true);
        b->setAutoRaise(true);
        setHint(b, hint);
        panel4_->addWidget(b);
        return b;
    };
    playSelectionButton_ = button("PlaySelectionButton", art::Glyph::Play, "Play|Click to play the visible region", "Play");
    button24_ = button("Button24", art::Glyph::Stop, "Stop|Click to stop sample playback", "Stop");
    button24_->setCheckable(false);
    button20_ = button("Button20", art::Glyph::Loop, "Loop|Click to loop region defined by locators", "Loop");
    button4_ = button("button4", art::Glyph::Selected, "Selected|Click to play selected segment", "Selected");
    button3_ = button("Button3", art::Glyph::PlayAll, "Play|Click to play entire visible region", "All");
    // Button3 is kept for the legend's layout but not shown.
    for (QAction* a : panel4_->actions()) {
        if (panel4_->widgetForAction(a) == button3_) {
            a->setVisible(false);
        }
    }
    connect(playSelectionButton_, &QToolButton::clicked, this, [this] { transport_->playVisible(transportInput()); });
    connect(button3_, &QToolButton::clicked, this, [this] { transport_->playAll(transportInput()); });
    connect(button20_, &QToolButton::clicked, this, [this] { transport_->playLoop(transportInput()); });
    connect(button4_, &QToolButton::clicked, this, [this] { transport_->playSegment(transportInput()); });
    connect(button24_, &QToolButton::clicked, this, [this] { transport_->stop(); });
    connect(transport_.get(), &TransportControl::changed, this, [this] {
        const PlayButtonDown down = transport_->down();
        playSelectionButton_->setChecked(down == PlayButtonDown::PlaySelection);
        button3_->setChecked(down == PlayButtonDown::All);
        button20_->setChecked(down == PlayButtonDown::Loop);
        button4_->setChecked(down == PlayButtonDown::Selected);
    });
    connect(transport_.get(), &TransportControl::cursorMoved, this, [this] {
        if (paintbox1_ != nullptr) {
            paintbox1_->update();
        }
    });

    panel4_->addSeparator();
    auto* sensitivityCaption = new QLabel(" Sensitivity ", panel4_);
    panel4_->addWidget(sensitivityCaption);
    slider_ = new QSlider(Qt::Horizontal, panel4_);
    slider_->setObjectName("SensitivitySlider");
    slider_->setRange(0, 65535);
    slider_->setPageStep(655);
    slider_->setSingleStep(655);
    slider_->setMinimumWidth(180);
    setHint(slider_, "Sensitivity|Show more or fewer slice points");
    panel4_->addWidget(slider_);
    sensitivityLabel_ = new QLabel("0%", panel4_);
    sensitivityLabel_->setObjectName("SensitivityLabel");
    sensitivityLabel_->setMinimumWidth(QFontMetrics(font()).horizontalAdvance("100% "));
    sensitivityLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    panel4_->addWidget(sensitivityLabel_);
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        if (session_->slicer().slider() != value) {
            session_->slicer().setSlider(value);
        }
    });
    panel4_->addSeparator();
    tempoLabel_ = new QLabel("0.000 BPM", panel4_);
    tempoLabel_->setObjectName("TempoLabel");
    tempoLabel_->setMinimumWidth(QFontMetrics(font()).horizontalAdvance(" 000.000 BPM "));
    tempoLabel_->setAlignment(Qt::AlignCenter);
    panel4_->addWidget(tempoLabel_);
    barsBeats_ = new TBarsBeatsControl(*session_, *panel4_, *tempoLabel_);
}

void TMainForm::applyLegend(bool legend) {
    legend_ = legend;
    const std::pair<QToolButton*, std::pair<int, int>> widths[] = {{button3_, {46, 28}},
                                                                  {button20_, {70, 48}},
                                                                  {button4_, {70, 28}},
                                                                  {button24_, {46, 30}}};
    for (const auto& [b, w] : widths) {
        b->setToolButtonStyle(legend ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
        b->setFixedWidth(legend ? std::max(w.first, b->sizeHint().width()) : std::max(w.second, 28));
    }
    playSelectionButton_->setToolButtonStyle(legend ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
}

void TMainForm::buildViews() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(4, 2, 4, 2);
    column->setSpacing(0);

    locatorStrip_ = new QWidget(central);
    locatorStrip_->setObjectName("LocatorStrip");
    locatorStrip_->setFixedHeight(18);
    button19_ = new QPushButton("L", locatorStrip_);
    button19_->setObjectName("Button19");
    button21_ = new QPushButton("R", locatorStrip_);
    button21_->setObjectName("Button21");
    for (QPushButton* b : {button19_, button21_}) {
        b->setFixedSize(18, 18);
        b->setFocusPolicy(Qt::NoFocus);
        b->hide();
    }
    setHint(button19_, "Left locator|The start of the loop region");
    setHint(button21_, "Right locator|The end of the loop region");
    column->addWidget(locatorStrip_);

    paintbox1_ = new TWaveBox(central);
    paintbox1_->setObjectName("Paintbox1");
    paintbox1_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    paintbox1_->setMinimumHeight(60);
    paintbox1_->onPaint = [this](TWaveBox& box, QPainter& p) { paintWave(box, p); };
    paintbox1_->onResize = [this](TWaveBox& box) {
        renderer_.setSize(box.width(), box.height());
        session_->slicer().setViewWidth(box.width());
        placeLocators();
    };
    paintbox1_->onMouseMove = [this](TWaveBox& box, QMouseEvent* e) {
        showPosition(int(e->position().x()));
        tools_->mouseMove(box, e);
    };
    paintbox1_->onMousePress = [this](TWaveBox& box, QMouseEvent* e) { tools_->mousePress(box, e); };
    paintbox1_->onMouseRelease = [this](TWaveBox& box, QMouseEvent* e) { tools_->mouseRelease(box, e); };
    paintbox1_->onWheel = [this](TWaveBox& box, QWheelEvent* e) { edits_->wheel(box, e); };
    column->addWidget(paintbox1_, 1);

    paintbox2_ = new TWaveBox(central);
    paintbox2_->setObjectName("PaintBox2");
    setHint(paintbox2_, "Segment bar (LMB to zoom to segment, RMB 1:1) and region bar (LMB move region, RMB Zoom)");
    paintbox2_->onPaint = [this](TWaveBox& box, QPainter& p) { paintBars(box, p); };
    column->addWidget(paintbox2_);

    paintbox3_ = new TWaveBox(central);
    paintbox3_->setObjectName("Paintbox3");
    setHint(paintbox3_, "Shows selected segment - left mouse to zoom to segment, right mouse to zoom 1:1");
    paintbox3_->setFixedHeight(9);
    paintbox3_->onPaint = [this](TWaveBox& box, QPainter& p) { paintSegmentBar2(box, p); };
    paintbox3_->hide();
    column->addWidget(paintbox3_);

    setCentralWidget(central);
    bars_ = new BarMouse(*this);
    bars_->attach();
}

void TMainForm::buildStatusBar() {
    auto* bar = statusBar();
    bar->setSizeGripEnabled(true);
    const QFontMetrics fm(font());
    const int widths[4] = {30, std::max(130, fm.horizontalAdvance("16 Bit / 44100 hz stereo") + 16),
                           std::max(70, fm.horizontalAdvance("s: 00:00:00:000") + 12),
                           std::max(50, fm.horizontalAdvance("x512.0") + 12)};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel(bar);
        panels_[i]->setObjectName(QString("Panel%1").arg(i));
        panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panels_[i]->setMinimumWidth(widths[i]);
        if (i > 0) {
            panels_[i]->setAlignment(Qt::AlignCenter);
            bar->addPermanentWidget(panels_[i]);
        } else {
            bar->addWidget(panels_[i], 1);
        }
    }
    panels_[1]->setText("No File Loaded");
    panels_[3]->setText("x1.0");
}

QString TMainForm::statusPanel(int index) const {
    return index >= 0 && index < 4 && panels_[index] != nullptr ? panels_[index]->text() : QString();
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // Hints go to panel 0 rather than replacing the whole status bar.
        if (panels_[0] != nullptr) {
            panels_[0]->setText(static_cast<QStatusTipEvent*>(event)->tip());
        }
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::connectSession() {
    session_->setListener(this);
    auto& slicer = session_->slicer();
    slicer.onRedraw = [this] { slicesChanged(); };
    slicer.onTempo = [this] { barsBeats_->refresh(); };
    session_->addResetHook([this] {
        // A load begins or the sample closes: the view starts over.
        freshLoad_ = true;
        transport_->stop();
        summary_.clear();
    });
    // While the slice search runs the status line says so.
    processForm_->onVisibility = [this](bool shown) {
        if (shown && session_->jobs().progress().mode() == jobs::ProcessMode::Scanning) {
            panels_[1]->setText("Cutting...");
        } else if (!shown) {
            statusChanged({}, {});
        }
    };
}

// ---------------------------------------------------------------------------------------------
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

void TMainForm::sampleChanged() {
    summary_.clear();
    const auto& format = session_->format();
    if (session_->loaded()) {
        if (freshLoad_) {
            freshLoad_ = false;
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
    placeLocators();
    redrawWave(false);
}

// ---------------------------------------------------------------------------------------------
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
    tools_->updateEnabling();
    processes_->updateEnabling();
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

// ---------------------------------------------------------------------------------------------
// File commands

bool TMainForm::loadFile(const QString& file) {
    transport_->closeOutput();
    return session_->open(file.toStdString(), session::OpenOrigin::Menu);
}

void TMainForm::fileOpened(const std::string& fileName, session::OpenOrigin origin) {
    const QString file = QString::fromStdString(fileName);
    switch (origin) {
    case session::OpenOrigin::Menu:
    case session::OpenOrigin::CommandLine:
    case session::OpenOrigin::Drop:
        AddRecentFile(file);
        config_.openDir = QFileInfo(file).absolutePath();
        break;
    case session::OpenOrigin::Recent: {
        // The clicked entry and entry 1 change places.
        const int entry = config_.recentFiles.indexOf(QFileInfo(file).absoluteFilePath());
        if (entry > 0) {
            config_.recentFiles.swapItemsAt(0, entry);
        }
        updateRecentMenu();
        break;
    }
    case session::OpenOrigin::Revert:
    case session::OpenOrigin::Reload:
        break;
    }
}

void TMainForm::OpenFile() {
    if (session_->busy()) {
        return;
    }
    transport_->closeOutput(); // the dialog's auditions use the output
    odForm_->setRecentFolders(config_.recentFolders);
    if (QFileInfo(config_.openDir).isDir()) {
        odForm_->setDirectory(config_.openDir);
    }
    odForm_->selectNameFilter(kOpenFilters[1]);
    odForm_->setAutoPlay(config_.autoPlay);
    const bool accepted = odForm_->exec() == QDialog::Accepted && !odForm_->selectedFiles().isEmpty();
    config_.autoPlay = odForm_->autoPlay();
    transport_->closeOutput();
    if (!accepted) {
        if (session_->loaded()) {
            transport_->setFormat(session_->format().channels, session_->format().sampleRate);
        }
        return;
    }
    const QString file = odForm_->selectedFiles().first();
    odForm_->noteChosen(file);
    config_.recentFolders = odForm_->recentFolders();
    loadFile(file);
}

void TMainForm::openRecent(int entry) {
    if (entry < 0 || entry >= kRecentFiles || session_->busy()) {
        return;
    }
    transport_->closeOutput();
    session_->open(config_.recentFiles.value(entry).toStdString(), session::OpenOrigin::Recent);
}

void TMainForm::RevertItemClick() {
    transport_->closeOutput();
    session_->open(session_->fileName(), session::OpenOrigin::Revert);
    odForm_->selectFile("*.wav");
}

void TMainForm::CloseFile() {
    if (session_->fileName().empty() && !session_->loaded()) {
        return;
    }
    transport_->stop();
    transport_->closeOutput();
    session_->close(); // both channels ticked again
    view_.whole(0);
    panels_[1]->setText("No File Loaded");
    panels_[3]->setText("x1.0");
    updateRecentMenu();
    updateEnabling();
    redrawWave(true);
    updateTitle();
    tempoLabel_->setText("0.000 BPM");
}

void TMainForm::SaveItemClick() {
    if (!session_->loaded()) {
        return;
    }
    transport_->stop();
    session_->save();
}

void TMainForm::SaveAsItemClick() {
    if (!session_->loaded()) {
        return;
    }
    transport_->stop();
    session_->saveAs();
}

std::optional<jobs::SaveTarget> TMainForm::runSaveDialog(const std::string& suggested, uint8_t bits, bool addRecent) {
    saveForm_->setRecentFolders(config_.recentFolders);
    if (QFileInfo(config_.saveDir).isDir()) {
        saveForm_->setDirectory(config_.saveDir);
    }
    const QString name = QString::fromStdString(suggested);
    if (QFileInfo(name).isAbsolute()) {
        saveForm_->setDirectory(QFileInfo(name).absolutePath());
    }
    saveForm_->selectNameFilter(kSaveFilters[1]);
    saveForm_->setDefaultSuffix("wav");
    saveForm_->setFileName(QFileInfo(name).fileName());
    saveForm_->setFormat(session_->format().sampleRate, session_->format().channels, bits);
    if (saveForm_->exec() != QDialog::Accepted || saveForm_->selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString file = saveForm_->selectedFiles().first();
    saveForm_->noteChosen(file);
    config_.recentFolders = saveForm_->recentFolders();
    config_.saveDir = QFileInfo(file).absolutePath();
    if (addRecent) {
        AddRecentFile(file);
    }
    return jobs::SaveTarget{file.toStdString(), saveForm_->saveBits()};
}

void TMainForm::OpenPointFile() {
    if (!session_->loaded() || session_->busy()) {
        return;
    }
    const QString file = QFileDialog::getOpenFileName(this, "Load point file", config_.openPoint,
                                                      "CX / Vantrel point files (*.clx);;All files (*)");
    if (file.isEmpty()) {
        return;
    }
    config_.openPoint = QFileInfo(file).absolutePath();
    const auto result = session_->slicer().loadPoints(file.toStdString());
    if (!result.ok) {
        message(jobs::MessageKind::Error, QString::fromStdString(result.error));
    }
}

void TMainForm::SavePointFile() {
    if (!session_->loaded() || session_->busy()) {
        return;
    }
    QString file = QFileDialog::getSaveFileName(this, "Save point file", config_.savePoint + "/*.clx",
                                                "CX / Vantrel point files (*.clx)");
    if (file.isEmpty()) {
        return;
    }
    if (QFileInfo(file).suffix().isEmpty()) {
        file += ".clx";
    }
    config_.savePoint = QFileInfo(file).absolutePath();
    const auto result = session_->slicer().savePoints(file.toStdString());
    if (!result.ok) {
        message(jobs::MessageKind::Error, QString::fromStdString(result.error));
    }
}

void TMainForm::Options1Click() {
    TForm4 form(config_, *transport_, *session_, this);
    const uint32_t blockBefore = session_->peaks().blockBytes();
    if (form.exec() != QDialog::Accepted) {
        return;
    }
    applyPreferences();
    const uint32_t blockAfter = sample::peakBlockBytesFromSetting(config_.waveCacheSize);
    if (blockAfter != blockBefore) {
        session_->setPeakBlockSize(blockAfter); // the window redraws on peaksRebuilt
    }
    redrawWave(true);
}

void TMainForm::applyPreferences() {
    auto& settings = session_->settings();
    settings.scanOnLoad = config_.scanWaveOnLoad;
    settings.setOneBar = config_.setOneBar;
    settings.promptToSave = config_.prompt;
    settings.enableUndo = config_.enableUndo;
    settings.waveCacheSize = config_.waveCacheSize;
    applyLegend(config_.showButtonText);
    tools_->applyPreferences();
    layoutBars();
    redrawWave(true);
}

void TMainForm::ShowWiz() {
    TCXWizard wizard(config_, *transport_, this);
    if (wizard.exec() == QDialog::Accepted) {
        transport_->closeOutput();
        transport_->setDevice(config_.waveId);
    }
}

void TMainForm::ShowSensitivity() {
    if (!session_->loaded()) {
        return;
    }
    TSensitivityForm form(session_->slicer(), this);
    form.exec();
}

void TMainForm::ControlPanel1Click() {
    if (config_.cpLoc.trimmed().isEmpty()) {
        message(jobs::MessageKind::Error, kMsgNoControlPanel);
        return;
    }
    if (!QProcess::startDetached(config_.cpLoc.trimmed(), {})) {
        message(jobs::MessageKind::Error, kMsgControlPanel);
    }
}

// ---------------------------------------------------------------------------------------------
// Views

void TMainForm::layoutBars() {
    const bool segment = config_.showSegmentBar;
    const bool region = config_.showRegionBar;
    int height = 0;
    if (segment && region) {
        height = 17;
        splitRow_ = 9;
    } else if (segment) {
        height = 9;
        splitRow_ = 9;
    } else if (region) {
        height = 9;
        splitRow_ = 1;
    } else {
        height = 0;
        splitRow_ = 1;
    }
    paintbox2_->setFixedHeight(height);
    paintbox2_->setVisible(height > 0);
    const bool separate = session_->loaded() && session_->format().channels == 2 && !session_->slicer().linked();
    paintbox3_->setVisible(separate && segment);
    paintbox2_->update();
}

void TMainForm::placeLocators() {
    if (button19_ == nullptr || paintbox1_ == nullptr) {
        return;
    }
    const bool loaded = session_->loaded();
    const uint32_t length = view_.length();
    if (!loaded || length == 0) {
        button19_->hide();
        button21_->hide();
        return;
    }
    const auto& slicer = session_->slicer();
    const int W = paintbox1_->width();
    const int left = paintbox1_->x() - locatorStrip_->x();
    auto pixel = [&](uint32_t position) {
        return int(std::lround((double(position) - view_.start) / length * W)) + left;
    };
    const uint32_t L = slicer.left();
    const uint32_t R = slicer.right();
    button19_->setVisible(L >= view_.start && L <= view_.end);
    button19_->move(pixel(L), 0);
    button21_->setVisible(R >= view_.start && R <= view_.end);
    button21_->move(pixel(R) - button21_->width(), 0);
}

void TMainForm::redrawWave(bool dirty) {
    if (dirty) {
        renderer_.markDirty();
    }
    if (paintbox1_ != nullptr) {
        paintbox1_->update();
        paintbox2_->update();
        paintbox3_->update();
    }
}

void TMainForm::viewChanged() {
    transport_->viewMoved(transportInput());
    panels_[3]->setText(zoomText(view_.zoom));
    placeLocators();
    updateEnabling();
    redrawWave(true);
}

void TMainForm::paintWave(TWaveBox& box, QPainter& painter) {
    renderer_.setSize(box.width(), box.height());
    const bool busy = session_->busy();
    WaveInput in;
    in.store = &session_->store();
    in.peaks = &session_->peaks();
    in.summary = &summary_;
    in.loaded = session_->loaded() && !busy;
    in.viewStart = view_.start;
    in.viewEnd = view_.end;
    in.colours = config_.colours;
    in.buttonFace = palette().color(QPalette::Button);
    in.channelOn[0] = session_->selection().leftTicked();
    in.channelOn[1] = session_->selection().rightTicked();
    const auto& slicer = session_->slicer();
    if (slicer.selectedIndex >= 0 && slicer.selectionEnd > slicer.selectionStart) {
        in.hasSelection = true;
        in.selectionStart = slicer.selectionStart;
        in.selectionEnd = slicer.selectionEnd;
    }
    if (busy) {
        // A worker owns the store: show the last picture, or the empty view.
        if (renderer_.cleanImage().isNull()) {
            painter.fillRect(box.rect(), in.buttonFace);
        } else {
            painter.drawImage(0, 0, renderer_.cleanImage());
        }
        return;
    }
    if (in.loaded && session_->peaks().entries() > 0 && !summary_.matches(session_->peaks())) {
        summary_.build(session_->peaks());
    }
    renderer_.renderWaveform(in);
    static const QImage sample = art::sampleIcon();
    static const QImage lock = art::lockIcon();
    static const QImage disabled = art::disabledIcon();
    OverlayInput overlay;
    overlay.points = &slicer.slicePoints();
    overlay.candidates = &slicer.candidates();
    overlay.linked = slicer.linked();
    overlay.showIcon = config_.showIcon;
    overlay.showLock = config_.showLock;
    overlay.showEnable = config_.showEnable;
    overlay.sampleIcon = &sample;
    overlay.lockIcon = &lock;
    overlay.disabledIcon = &disabled;
    renderer_.composeView(in, overlay);
    painter.drawImage(0, 0, renderer_.cleanImage());
    edits_->paintSelection(box, painter);
    tools_->paintOverlay(box, painter);
    // The play cursor: an inverted column over the clean image.
    if (transport_->cursorVisible()) {
        const int x = transport_->cursorX();
        if (x > 0 && x < box.width() - 1) {
            painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter.setPen(Qt::white);
            painter.drawLine(x, 1, x, box.height() - 2);
        }
    }
}

void TMainForm::paintBars(TWaveBox& box, QPainter& painter) {
    const int W = box.width();
    const int H = box.height();
    const auto& c = config_.colours;
    const bool loaded = session_->loaded() && !session_->busy();
    const uint32_t length = view_.length();
    auto column = [&](double position) { return int(std::lround((position - view_.start) / length * W)); };
    if (config_.showSegmentBar) {
        painter.fillRect(0, 0, W, splitRow_, c[ColSegmentBar]);
        const auto& slicer = session_->slicer();
        const bool secondBar = !slicer.linked() && slicer.selectedIndex >= 0 &&
                               slicer.slicePoints().at(slicer.selectedIndex).channel == slicing::kCodeSecondOrMono &&
                               session_->format().channels == 2;
        if (loaded && length > 0 && slicer.selectedIndex >= 0 && !secondBar &&
            slicer.selectionEnd > slicer.selectionStart) {
            const int x0 = std::clamp(column(slicer.selectionStart), 0, W);
            const int x1 = std::clamp(column(slicer.selectionEnd), 0, W);
            painter.fillRect(x0, 0, std::max(1, x1 - x0), splitRow_, c[ColSelectedSegment]);
        }
    }
    if (config_.showRegionBar) {
        const int top = std::max(0, splitRow_ - 1);
        painter.fillRect(0, top, W, H - top, c[ColRegionBar]);
        const uint32_t total = session_->format().dataLength;
        if (loaded && total > 0) {
            const int x0 = int(double(view_.start) / total * W);
            const int x1 = int(double(view_.end) / total * W);
            painter.fillRect(x0, top, std::max(1, x1 - x0), H - top, c[ColRegion]);
        }
    }
}

void TMainForm::paintSegmentBar2(TWaveBox& box, QPainter& painter) {
    const auto& c = config_.colours;
    painter.fillRect(box.rect(), c[ColSegmentBar]);
    const auto& slicer = session_->slicer();
    const uint32_t length = view_.length();
    if (!session_->loaded() || session_->busy() || length == 0 || slicer.selectedIndex < 0) {
        return;
    }
    if (slicer.slicePoints().at(slicer.selectedIndex).channel != slicing::kCodeSecondOrMono) {
        return;
    }
    const int W = box.width();
    const int x0 = std::clamp(int((double(slicer.selectionStart) - view_.start) / length * W), 0, W);
    const int x1 = std::clamp(int((double(slicer.selectionEnd) - view_.start) / length * W), 0, W);
    painter.fillRect(x0, 0, std::max(1, x1 - x0), box.height(), c[ColSelectedSegment]);
}

void TMainForm::zoomToSegmentAt(uint32_t position) {
    auto& slicer = session_->slicer();
    const auto& list = slicer.slicePoints();
    if (list.count() == 0) {
        return; // no slice points, no segments to zoom to
    }
    const int index = session_->selection().segmentAt(position);
    view_.zoomTo(list.at(index).position, slicing::segmentEnd(list, index), session_->format().dataLength);
    session_->selection().selectSegment(index);
    viewChanged();
}

uint32_t TMainForm::zoomCentre() const {
    // The sample under the mouse when it is over the view, else the middle of the view.
    const QPoint local = paintbox1_->mapFromGlobal(QCursor::pos());
    if (paintbox1_->rect().contains(local)) {
        return view_.positionAt(local.x(), paintbox1_->width());
    }
    return view_.start + view_.length() / 2;
}

void TMainForm::zoom(const std::function<void(uint32_t centre, uint32_t total, uint32_t frameBytes)>& change) {
    if (!session_->loaded() || session_->busy()) {
        return;
    }
    change(zoomCentre(), session_->format().dataLength, session_->format().blockAlign());
    viewChanged();
}

void TMainForm::ZoomIn() {
    zoom([this](uint32_t centre, uint32_t total, uint32_t frameBytes) { view_.zoomIn(centre, total, frameBytes); });
}

void TMainForm::ZoomOut() {
    zoom([this](uint32_t centre, uint32_t total, uint32_t frameBytes) { view_.zoomOut(centre, total, frameBytes); });
}

void TMainForm::Zoom11() {
    zoom([this](uint32_t, uint32_t total, uint32_t) { view_.whole(total); });
}

void TMainForm::ZoomToSegment() {
    if (session_->loaded() && !session_->busy()) {
        zoomToSegmentAt(zoomCentre());
    }
}

void TMainForm::showPosition(int x) {
    lastMouseX_ = x;
    if (!session_->loaded() || x < 0) {
        panels_[2]->clear();
        return;
    }
    const auto& f = session_->format();
    const uint32_t position = f.frameStart(view_.positionAt(x, paintbox1_->width()));
    panels_[2]->setText("s: " + QString::fromStdString(sample::FormatPosition(position, config_.units, f.bitsPerSample,
                                                                             f.sampleRate, f.channels)));
}

TransportInput TMainForm::transportInput() const {
    TransportInput in;
    const auto& f = session_->format();
    const auto& slicer = session_->slicer();
    in.loaded = session_->loaded();
    in.channels = f.channels;
    in.sampleRate = f.sampleRate;
    in.totalLength = f.dataLength;
    in.viewStart = view_.start;
    in.viewEnd = view_.end;
    in.viewWidth = paintbox1_->width();
    in.locatorL = slicer.left();
    in.locatorR = slicer.right();
    in.segmentStart = slicer.selectionStart;
    in.segmentEnd = slicer.selectionEnd;
    in.linkedChannels = slicer.linked();
    in.leftTicked = session_->selection().leftTicked();
    in.rightTicked = session_->selection().rightTicked();
    in.processChannel = session_->editor().processChannel();
    in.segmentInLeft = slicer.selectedIndex < 0 ||
                       slicer.slicePoints().at(slicer.selectedIndex).channel == slicing::kCodeFirst;
    return in;
}

// ---------------------------------------------------------------------------------------------
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

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void TMainForm::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile() || session_->busy()) {
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
    if (session_->busy()) {
        return;
    }
    session_->checkOutsideChange();
    if (outputClosedWhileInactive_) {
        outputClosedWhileInactive_ = false;
        transport_->openOutput();
    }
}

} // namespace cleavix::ui
