// The main window's actions, menus, toolbars, views and status bar.
#include "ui/window/StartForm.h"
#include "ui/window/MainFormParts.h"
#include "sample/FormatPosition.h"
#include "sample/WavParser.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/window/BarsBeatsControl.h"
#include "ui/view/Artwork.h"
#include "ui/view/BarMouse.h"
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
#include "ui/sampler/SamplerCommands.h"
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
#include <QDoubleSpinBox>
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
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <sys/stat.h>

namespace cleavix::ui {

using namespace mainform;

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
    records_ = new RecordCommands(*this);
    records_->buildActions();
    sampler_ = new SamplerCommands(*this);
    sampler_->buildActions();
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
    (new ChannelPoints(*this))->buildActions();
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
    plugins_ = new PluginCommands(*this);
    plugins_->buildActions();
    make("ShowSensitivity1", "Show Sensitivity", [this] { ShowSensitivity(); }, QKeySequence("Ctrl+Y"));
    tools_ = new MouseTools(*this);
    tools_->buildActions();
    auto* lockAll = make("LockAll1", "Lock All", [this] { session_->slicer().lockAll(); });
    lockAll->setIcon(art::glyph(art::Glyph::LockAll));
    setHint(lockAll, "Lock all|Lock all slice points");
    auto* unlockAll = make("UnlockAll1", "Unlock All", [this] { session_->slicer().unlockAll(); });
    unlockAll->setIcon(art::glyph(art::Glyph::UnlockAll));
    setHint(unlockAll, "Unlock all|Unlock all slice points");

    auto* help = make("Help1", "&Help (F1)", [this] { showHelpPage(this, "index.html"); }, QKeySequence(Qt::Key_F1));
    help->setIcon(art::glyph(art::Glyph::Help));
    make("HomePage1", "&Brindlecote Home Page", [this] {
        if (!QDesktopServices::openUrl(QUrl(kHomePage))) {
            message(jobs::MessageKind::Error,
                 QString("Error opening homepage\nCheck browser is installed, and go to\n") + kHomePage);
        }
    });
    make("ConfigurationWizard1", "Configuration Wizard", [this] { ShowWiz(); });
    make("Tips1", "&Tips", [this] { showHelpPage(this, "tips.html"); });
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
    records_->fillFileMenu(*fileMenu_);
    connect(fileMenu_, &QMenu::aboutToShow, this, [this] { UpdateFileMenu(); });

    auto* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("EditMenu");
    edit->addAction(action("ShowSensitivity1"));
    edit->addSeparator();
    edit->addAction(action("LockAll1"));
    edit->addAction(action("UnlockAll1"));
    edits_->fillEditMenu(*edit);
    tools_->fillEditMenu(*edit);
    plugins_->fillEditMenu(*edit);

    auto* process = menuBar()->addMenu("&Process");
    process->setObjectName("ProcessMenu");
    edits_->fillProcessMenu(*process);
    processes_->fillProcessMenu(*process);
    plugins_->fillProcessMenu(*process);

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
    findChild<ChannelPoints*>()->fillViewMenu(*viewMenu);
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

    auto* samplerMenu = menuBar()->addMenu("&Sampler");
    samplerMenu->setObjectName("SamplerMenu");
    sampler_->fillSamplerMenu(*samplerMenu);

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
    sampler_->fillToolbar(*panel3_);
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
    findChild<ChannelPoints*>()->fillToolbar(*viewBar_);
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

    QToolBar* toolsBar = tools_->buildToolbar();
    addToolBar(toolsBar);
    toolsBar->setVisible(config_.toolsToolbar);
    // The Tools toolbar's own show/hide item, stored like the other toolbars'.
    QAction* toolsTick = toolsBar->toggleViewAction();
    toolsTick->setObjectName("ToolsToolbar1");
    toolsTick->setText("&Tools Toolbar");
    connect(toolsTick, &QAction::triggered, this, [this](bool on) { config_.toolsToolbar = on; });
    if (auto* viewMenu = findChild<QMenu*>("ViewMenu")) {
        const auto items = viewMenu->actions();
        const int after = int(items.indexOf(action("ViewToolbar1")));
        viewMenu->insertAction(after >= 0 && after + 1 < items.size() ? items[after + 1] : nullptr, toolsTick);
    }

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
        // Cut and the pastes wait for playing to end: an audition that runs out gives them back.
        edits_->updateEnabling();
    });
    connect(transport_.get(), &TransportControl::cursorMoved, this, [this] {
        if (paintbox1_ != nullptr) {
            paintbox1_->update();
        }
    });

    records_->fillPlayToolbar(*panel4_);
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
    // The tempo Loop plays and Save Region at Tempo renders at; its lowest value stands for the
    // loop's own.
    panel4_->addWidget(new QLabel(" Tempo ", panel4_));
    renderTempo_ = new QDoubleSpinBox(panel4_);
    renderTempo_->setObjectName("TempoBox");
    renderTempo_->setRange(0.0, 999.999);
    renderTempo_->setDecimals(3);
    renderTempo_->setSpecialValueText("Own");
    renderTempo_->setSuffix(" BPM");
    setHint(renderTempo_, "Tempo|The tempo Loop and Save Region at Tempo play the loop's slices at (Own: its own tempo)");
    panel4_->addWidget(renderTempo_);
    // A playing loop restarts at the new tempo once the typing has settled, not at every digit.
    auto* tempoSettled = new QTimer(renderTempo_);
    tempoSettled->setSingleShot(true);
    tempoSettled->setInterval(400);
    connect(renderTempo_, &QDoubleSpinBox::valueChanged, tempoSettled, qOverload<>(&QTimer::start));
    connect(tempoSettled, &QTimer::timeout, this, [this] { transport_->tempoChanged(transportInput()); });
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
    records_->applyLegend(legend);
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

} // namespace cleavix::ui
