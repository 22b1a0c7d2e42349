// The plug-in menus, the plug-in window and its control pages, presets and preview, processing the
// loop and the whole sample with undo, cancelling, the Smooth tick, and Edit Externally with a
// script standing in for the wave editor, on the offscreen platform over the tests' own LV2 bundle.
#include "ui/UiTest.h"

#include "ui/commands/PluginCommands.h"
#include "ui/dialogs/ProcessForm.h"
#include "ui/plugins/ControlPages.h"
#include "ui/plugins/PlugInForm.h"
#include "ui/platform/QtPrompter.h"

#include <QDateTime>
#include <QDirIterator>
#include <QGuiApplication>
#include <QInputDialog>
#include <QStandardPaths>
#include <QTabWidget>

#include <cmath>
#include <vector>

namespace {

#ifdef CLEAVIX_TEST_LV2_PATH
constexpr const char* kBundle = CLEAVIX_TEST_LV2_PATH;
#else
constexpr const char* kBundle = "";
#endif

// A 16-bit Wave file of `frames` frames: a ramp on the left, its negative on the right.
QString writeWave(const QString& path, uint16_t channels, uint32_t frames) {
    std::vector<int16_t> data;
    data.reserve(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        const int16_t v = int16_t(int(i * 37 % 40000) - 20000);
        for (uint16_t c = 0; c < channels; ++c) {
            data.push_back(c == 0 ? v : int16_t(-v / 2));
        }
    }
    return uitest::writeWave(path, channels, data);
}

// What the bridge makes of a 16-bit sample through a gain: float maths, rounded ties to even.
int16_t gained(int16_t x, double gain) {
    return int16_t(std::clamp(std::nearbyint(double(x) * gain), -32768.0, 32767.0));
}

// A window over our bundle (or `lv2Path`), with stored presets in the sandbox.
struct PluginDemo {
    explicit PluginDemo(const QString& lv2Path = kBundle) {
        qputenv("LV2_PATH", lv2Path.toLocal8Bit());
        qputenv("XDG_DATA_HOME", box.path("data").toLocal8Bit());
    }
    Sandbox box;
    Window w;
    bool open(const QString& file = {}) {
        w->show();
        uitest::useNullOutput(*w.form);
        return uitest::openThroughMenu(*w.form, file.isEmpty() ? box.demoLoop() : file) && uitest::waitIdle(*w.form);
    }
    plugins::PluginHost& host() { return w->session().plugins(); }
    int index(const char* name) { return host().bridge().find(std::string("urn:cleavix-test:") + name); }
    QAction* item(const char* name) { return w->findChild<QAction*>(QString("Plugin%1").arg(index(name))); }
    ui::PluginCommands& commands() { return *w->pluginCommands(); }
    // The plug-in window shown without its modal loop, for the tests that look inside it.
    std::unique_ptr<ui::TPlugInForm> form(const char* name) {
        auto chain = host().open(index(name));
        if (!chain) {
            return nullptr;
        }
        auto f = std::make_unique<ui::TPlugInForm>(w->session(), std::move(chain), plugins::PluginScope::Loop,
                                                   w->session().player().DeviceID(), w.form.get());
        f->show();
        return f;
    }
};

// The plug-in window: `setup` on it, then Process.
void answerPluginForm(ModalScript& script, std::function<void(ui::TPlugInForm&)> setup) {
    uitest::expect<ui::TPlugInForm>(script, [setup = std::move(setup)](ui::TPlugInForm* form) {
        setup(*form);
        QMetaObject::invokeMethod(form->processButton(), "click", Qt::QueuedConnection);
        return true;
    });
}

template <class W>
W* control(QWidget& form, const char* symbol) {
    return form.findChild<W*>(QString("Control_") + symbol);
}

QStringList presetNames(const ui::TPlugInForm& f) { return uitest::texts(f.presetList()); }

} // namespace

class PluginsTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        if (QString(kBundle).isEmpty()) {
            QSKIP("built without the LV2 host library");
        }
    }
    void menusListTheBundleWhileASampleIsLoaded();
    void noPluginsGivesOneDisabledItem();
    void controlPagesFollowThePortKinds();
    void pagesOfAHandMadeListing();
    void previewPlaysTheLoopAndIsOffForAnEmptyRange();
    void presetsStoreAndDeleteInsideTheirFolder();
    void processTheLoopThenTheWholeSampleWithUndo();
    void oneChannelAndThePresetKept();
    void aPluginWithoutControlsAsksFirst();
    void monoToStereoAsksAndUndoes();
    void cancelLeavesTheAudioUnchanged();
    void smoothTogglesAndStartsOff();
    void editExternallyReloadsOnActivation();
    void noReloadWhileThePluginWindowIsOpen();
};

void PluginsTest::menusListTheBundleWhileASampleIsLoaded() {
    PluginDemo d;
    QVERIFY(d.commands().pluginMenus().empty()); // nothing listed before a sample is there
    QVERIFY(d.open());
    const auto& menus = d.commands().pluginMenus();
    QCOMPARE(int(menus.size()), 1);
    QMenu* menu = menus.front();
    QCOMPARE(menu->title(), QString("L&V2"));
    QVERIFY(menu->menuAction()->isVisible());
    const QStringList names = uitest::texts(menu->actions());
    QStringList want;
    for (const auto& p : d.host().bridge().plugins()) {
        want << QString::fromStdString(p.name);
    }
    QCOMPARE(names, want);
    for (const char* listed : {"Test Gain", "Test Split", "Test Delay", "Test NaN", "Test Invert", "Test Swap"}) {
        QVERIFY2(names.contains(listed), listed);
    }
    for (const char* left : {"Test Instrument", "Test Needs Feature", "Test Analyser"}) {
        QVERIFY2(!names.contains(left), left);
    }
    QCOMPARE(d.item("gain")->statusTip(), QString("Show Test Gain"));
    // Ahead of the Help menu.
    const auto bar = d.w->menuBar()->actions();
    QCOMPARE(bar.indexOf(menu->menuAction()) + 1, bar.indexOf(d.w->findChild<QMenu*>("HelpMenu")->menuAction()));

    d.w->CloseFile();
    QVERIFY(!d.w->session().loaded());
    QVERIFY(!menu->menuAction()->isVisible());
    QVERIFY(d.open());
    QVERIFY(menu->menuAction()->isVisible());
    QCOMPARE(int(d.commands().pluginMenus().size()), 1); // built once
}

void PluginsTest::noPluginsGivesOneDisabledItem() {
    Sandbox empty;
    QDir().mkpath(empty.path("lv2"));
    PluginDemo d(empty.path("lv2"));
    QVERIFY(d.open());
    const auto& menus = d.commands().pluginMenus();
    QCOMPARE(int(menus.size()), 1);
    const auto items = menus.front()->actions();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.front()->text(), QString("No plugins available"));
    QVERIFY(!items.front()->isEnabled());
}

void PluginsTest::controlPagesFollowThePortKinds() {
    PluginDemo d;
    QVERIFY(d.open());
    {
        auto f = d.form("swap");
        QVERIFY(f);
        QCOMPARE(f->windowTitle(), QString("Plugin: Test Swap"));
        QCOMPARE(f->cpuLabel()->text(), QString("CPU: ---"));
        // The grouped control on its group's page, the rest on "Controls".
        QCOMPARE(f->PlugTab()->count(), 2);
        QCOMPARE(f->PlugTab()->tabText(0), QString("Mix"));
        QCOMPARE(f->PlugTab()->tabText(1), QString("Controls"));
        auto* level = control<QComboBox>(*f->PlugTab()->widget(0), "level");
        QVERIFY(level != nullptr);
        QCOMPARE(level->count(), 3);
        QCOMPARE(level->itemText(0), QString("Off"));
        QCOMPARE(level->currentText(), QString("Unity"));
        auto* swap = control<QCheckBox>(*f->PlugTab()->widget(1), "swap");
        QVERIFY(swap != nullptr);
        QVERIFY(swap->isChecked()); // its default
        QVERIFY(control<QWidget>(*f, "peak") == nullptr); // an output has no widget
        level->setCurrentIndex(2);
        QCOMPARE(f->chain().control("level"), 2.0f);
        swap->setChecked(false);
        QCOMPARE(f->chain().control("swap"), 0.0f);
        QCOMPARE(f->scopeList()->itemText(0), QString("Loop"));
        QCOMPARE(f->scopeList()->itemText(1), QString("All"));
    }
    {
        auto f = d.form("gain");
        QCOMPARE(f->PlugTab()->count(), 1);
        QCOMPARE(f->PlugTab()->tabText(0), QString("Controls"));
        auto* gain = control<QSlider>(*f, "gain");
        QVERIFY(gain != nullptr);
        QCOMPARE(gain->value(), ui::kSliderSteps / 4); // 1.0 of 0..4
        gain->setValue(ui::kSliderSteps / 2);
        QCOMPARE(f->chain().control("gain"), 2.0f);
        QCOMPARE(f->findChild<QLabel*>("Control_gain_Value")->text(), QString("2"));
    }
    {
        // A range in fractions of the sample rate is shown in hertz.
        auto f = d.form("split");
        auto* cutoff = control<QSlider>(*f, "cutoff");
        QVERIFY(cutoff != nullptr);
        cutoff->setValue(ui::kSliderSteps);
        QCOMPARE(f->chain().control("cutoff"), 0.5f * float(d.w->session().format().sampleRate));
    }
}

void PluginsTest::pagesOfAHandMadeListing() {
    plugins::PluginInfo info;
    plugins::PluginControl steps;
    steps.symbol = "steps";
    steps.name = "Steps";
    steps.integer = true;
    steps.minimum = -3;
    steps.maximum = 5;
    steps.defaultValue = 2;
    steps.group = "Controls"; // a group named like the page of the ungrouped ones
    plugins::PluginControl free = steps;
    free.symbol = "free";
    free.integer = false;
    free.group.clear();
    free.minimum = free.maximum = 1; // an empty range
    info.controls = {steps, free};
    QTabWidget tabs;
    ui::ControlPages pages(info, tabs);
    QCOMPARE(tabs.count(), 1);
    auto* s = control<QSlider>(tabs, "steps");
    auto* f = control<QSlider>(tabs, "free");
    QVERIFY(s != nullptr && f != nullptr);
    QCOMPARE(tabs.findChildren<QSlider*>("Control_steps").size(), 1);
    QCOMPARE(s->minimum(), 0);
    QCOMPARE(s->maximum(), 8); // a position per whole step
    QCOMPARE(s->value(), 5);
    QList<float> seen;
    pages.onChange = [&](const std::string&, float v) { seen << v; };
    s->setValue(8);
    QCOMPARE(seen, QList<float>{5.0f});
    QCOMPARE(f->value(), 0);
    pages.show([](const std::string&) { return 100.0f; }); // held to the range, no onChange
    QCOMPARE(s->value(), 8);
    QCOMPARE(seen.size(), 1);
}

void PluginsTest::previewPlaysTheLoopAndIsOffForAnEmptyRange() {
    PluginDemo d;
    QVERIFY(d.open());
    auto& slicer = d.w->session().slicer();
    slicer.setLoop(4000, 4000);
    {
        auto f = d.form("gain");
        QVERIFY(!f->previewButton()->isEnabled());
    }
    slicer.setLoop(0, 40000);
    auto f = d.form("gain");
    QVERIFY(f->previewButton()->isEnabled());
    f->previewButton()->click();
    QVERIFY(f->previewing());
    QCOMPARE(f->previewButton()->text(), QString("Stop"));
    QVERIFY(f->cpuLabel()->text().startsWith("CPU: "));
    QVERIFY(f->cpuLabel()->text().endsWith("%"));
    // A control moved while it plays, and Bypass: the preview keeps running.
    control<QSlider>(*f, "gain")->setValue(ui::kSliderSteps / 8);
    f->bypassBox()->setChecked(true);
    QVERIFY(uitest::waitFor([&] { return f->previewBlocks() >= 4; }, 20000));
    f->previewButton()->click();
    QVERIFY(!f->previewing());
    QCOMPARE(f->previewButton()->text(), QString("Preview"));
    QCOMPARE(f->cpuLabel()->text(), QString("CPU: ---"));
    // The window's chain took the control; the audio is untouched.
    QCOMPARE(f->chain().control("gain"), 0.5f);
    QVERIFY(!d.w->session().modified());
    // Cancel during a preview stops it and closes the window.
    f->previewButton()->click();
    QVERIFY(f->previewing());
    f->cancelButton()->click();
    QVERIFY(!f->previewing());
    QVERIFY(!f->isVisible());
}

void PluginsTest::presetsStoreAndDeleteInsideTheirFolder() {
    PluginDemo d;
    QVERIFY(d.open());
    auto f = d.form("gain");
    QCOMPARE(presetNames(*f), (QStringList{"No profile selected", "Double", "Quarter"}));
    QVERIFY(!f->deleteButton()->isEnabled()); // entry 0
    f->presetList()->setCurrentIndex(1);
    QCOMPARE(f->chain().control("gain"), 2.0f);
    QCOMPARE(control<QSlider>(*f, "gain")->value(), ui::kSliderSteps / 2);
    QVERIFY(!f->deleteButton()->isEnabled()); // the plug-in's own preset

    // Store, first from entry 0: nothing is offered as the name.
    f->presetList()->setCurrentIndex(0);
    control<QSlider>(*f, "gain")->setValue(ui::kSliderSteps * 3 / 4);
    ModalScript script;
    QString prefill = "unset";
    uitest::expect<QInputDialog>(script, [&](QInputDialog* ask) {
        prefill = ask->textValue();
        if (ask->labelText() != "Name Profile:") {
            return false;
        }
        ask->setTextValue("Loud");
        uitest::acceptLater(ask);
        return true;
    });
    f->storeButton()->click();
    QCOMPARE(prefill, QString());
    QCOMPARE(presetNames(*f), (QStringList{"No profile selected", "Double", "Quarter", "Loud"}));
    QCOMPARE(f->presetList()->currentIndex(), 3);
    QVERIFY(f->deleteButton()->isEnabled());
    const QString folder = d.box.path("data/Cleavix/Presets");
    QDirIterator it(folder, {"preset.ttl"}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY2(it.hasNext(), qPrintable(folder));

    // Stored again from its own entry: the name is offered, the preset replaced.
    uitest::expect<QInputDialog>(script, [&](QInputDialog* ask) {
        prefill = ask->textValue();
        uitest::acceptLater(ask);
        return true;
    });
    f->storeButton()->click();
    QCOMPARE(prefill, QString("Loud"));
    QCOMPARE(f->presetList()->count(), 4);

    // Applying it gives its value back.
    f->presetList()->setCurrentIndex(0);
    control<QSlider>(*f, "gain")->setValue(0);
    f->presetList()->setCurrentIndex(3);
    QCOMPARE(f->chain().control("gain"), 3.0f);

    f->deleteButton()->click();
    QCOMPARE(presetNames(*f), (QStringList{"No profile selected", "Double", "Quarter"}));
    QCOMPARE(f->presetList()->currentIndex(), 2);
    QDirIterator gone(folder, {"preset.ttl"}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(!gone.hasNext());
    QCOMPARE(script.pending(), 0);
}

void PluginsTest::processTheLoopThenTheWholeSampleWithUndo() {
    PluginDemo d;
    QVERIFY(d.open());
    auto& s = d.w->session();
    const auto before = uitest::samples(*d.w.form);
    const uint32_t left = 40000;
    const uint32_t right = 80000;
    s.slicer().setLoop(left, right);
    ModalScript script;
    answerPluginForm(script, [](ui::TPlugInForm& f) {
        control<QSlider>(f, "gain")->setValue(ui::kSliderSteps / 8); // 0.5
        f.scopeList()->setCurrentIndex(0);
    });
    QList<plugins::PluginResult> results;
    connect(&d.commands(), &ui::PluginCommands::processFinished, this,
            [&](const plugins::PluginResult& r) { results << r; });
    d.item("gain")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    QCOMPARE(results.size(), 1);
    QVERIFY(results[0].ok);
    auto after = uitest::samples(*d.w.form);
    QCOMPARE(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        const bool inside = i * 2 >= left && i * 2 < right;
        QCOMPARE(after[i], inside ? gained(before[i], 0.5) : before[i]);
    }
    QVERIFY(s.modified());
    QVERIFY(d.w->windowTitle().contains("*"));
    QVERIFY(!d.w->processForm()->isVisible());

    d.w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    QVERIFY(uitest::samples(*d.w.form) == before);

    // The scope choice is kept: All this time, chosen in the window.
    answerPluginForm(script, [](ui::TPlugInForm& f) {
        QCOMPARE(f.scopeList()->currentIndex(), 0);
        control<QSlider>(f, "gain")->setValue(ui::kSliderSteps / 8);
        f.scopeList()->setCurrentIndex(1);
    });
    d.item("gain")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    after = uitest::samples(*d.w.form);
    for (size_t i = 0; i < after.size(); ++i) {
        QCOMPARE(after[i], gained(before[i], 0.5));
    }
    d.w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    QVERIFY(uitest::samples(*d.w.form) == before);
    QCOMPARE(script.pending(), 0);
}

void PluginsTest::oneChannelAndThePresetKept() {
    PluginDemo d;
    QVERIFY(d.open());
    auto& s = d.w->session();
    const auto before = uitest::samples(*d.w.form);
    d.w->action("RightChannel1")->trigger(); // the left channel alone
    QCOMPARE(s.editor().processChannel(), 1);
    ModalScript script;
    answerPluginForm(script, [](ui::TPlugInForm& f) {
        f.presetList()->setCurrentIndex(2); // "Quarter"
        f.scopeList()->setCurrentIndex(1);
    });
    d.item("gain")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    const auto after = uitest::samples(*d.w.form);
    QCOMPARE(after.size(), before.size());
    for (size_t i = 0; i < after.size(); i += 2) {
        QCOMPARE(after[i], gained(before[i], 0.25));
        QCOMPARE(after[i + 1], before[i + 1]);
    }
    // Opened again, the plug-in comes with the profile chosen last time.
    float gain = 0;
    QString shown;
    uitest::expect<ui::TPlugInForm>(script, [&](ui::TPlugInForm* form) {
        shown = form->presetList()->currentText();
        gain = form->chain().control("gain");
        QMetaObject::invokeMethod(form->cancelButton(), "click", Qt::QueuedConnection);
        return true;
    });
    d.item("gain")->trigger();
    QCOMPARE(shown, QString("Quarter"));
    QCOMPARE(gain, 0.25f);
    QVERIFY(uitest::samples(*d.w.form) == after); // Cancel processed nothing
}

void PluginsTest::aPluginWithoutControlsAsksFirst() {
    PluginDemo d;
    QVERIFY(d.open());
    const auto before = uitest::samples(*d.w.form);
    ModalScript script;
    script.answer(QMessageBox::No);
    d.item("invert")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    QCOMPARE(script.texts, QStringList{"Plugin has no property pages - process?"});
    QVERIFY(uitest::samples(*d.w.form) == before);
    script.answer(QMessageBox::Yes);
    d.item("invert")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    const auto after = uitest::samples(*d.w.form);
    for (size_t i = 0; i < after.size(); ++i) {
        QCOMPARE(after[i], gained(before[i], -1.0));
    }
}

void PluginsTest::monoToStereoAsksAndUndoes() {
    PluginDemo d;
    QVERIFY(d.open(writeWave(d.box.path("mono.wav"), 1, 20000)));
    auto& s = d.w->session();
    const auto before = uitest::samples(*d.w.form);
    s.slicer().setLoop(0, 4000);
    ModalScript script;
    answerPluginForm(script, [](ui::TPlugInForm&) {});
    script.answer(QMessageBox::Cancel);
    d.item("split")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    QCOMPARE(script.texts, QStringList{ui::messageText(plugins::kMsgWholeSample)});
    QCOMPARE(s.format().channels, uint16_t(1));
    QVERIFY(uitest::samples(*d.w.form) == before);
    QVERIFY(!s.modified());

    answerPluginForm(script, [](ui::TPlugInForm&) {});
    script.answer(QMessageBox::Ok);
    d.item("split")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    QCOMPARE(s.format().channels, uint16_t(2));
    QCOMPARE(s.format().dataLength, uint32_t(before.size() * 4)); // the whole sample, now stereo
    QVERIFY(d.w->statusPanel(1).contains("stereo"));
    d.w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form));
    QCOMPARE(s.format().channels, uint16_t(1));
    QVERIFY(uitest::samples(*d.w.form) == before);
}

void PluginsTest::cancelLeavesTheAudioUnchanged() {
    PluginDemo d;
    // Long enough that Cancel lands while it runs.
    QVERIFY(d.open(writeWave(d.box.path("long.wav"), 2, 44100 * 60)));
    auto& s = d.w->session();
    const auto before = uitest::samples(*d.w.form);
    ModalScript script;
    answerPluginForm(script, [](ui::TPlugInForm& f) {
        control<QSlider>(f, "gain")->setValue(ui::kSliderSteps / 8);
        f.scopeList()->setCurrentIndex(1);
    });
    bool seenProgress = false;
    connect(&d.commands(), &ui::PluginCommands::processStarted, this, [&] {
        seenProgress = d.w->processForm()->Label1()->text() == "Processing LV2 plugin:";
        d.w->processForm()->CancelButton()->click();
    });
    QList<plugins::PluginResult> results;
    connect(&d.commands(), &ui::PluginCommands::processFinished, this,
            [&](const plugins::PluginResult& r) { results << r; });
    d.item("gain")->trigger();
    QVERIFY(uitest::waitIdle(*d.w.form, 60000));
    QVERIFY(seenProgress);
    QCOMPARE(results.size(), 1);
    QVERIFY(results[0].cancelled);
    QVERIFY(!results[0].ok);
    QVERIFY(uitest::samples(*d.w.form) == before);
    QVERIFY(!s.modified());
    QVERIFY(d.commands().pluginMenus().front()->isEnabled()); // idle again
}

void PluginsTest::smoothTogglesAndStartsOff() {
    Sandbox box;
    {
        Window w;
        QAction* smooth = w->action("Smooth1");
        QVERIFY(smooth->isCheckable());
        QVERIFY(!smooth->isChecked());
        QVERIFY(!smooth->isEnabled()); // no sample
        QVERIFY(w->findChild<QMenu*>("ProcessMenu")->actions().contains(smooth));
        QCOMPARE(smooth->statusTip(), QString("Tick to ensure division points are automatically adjusted towards zero"));
        w->show();
        uitest::useNullOutput(*w.form);
        QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()));
        QVERIFY(smooth->isEnabled());
        smooth->trigger();
        QVERIFY(smooth->isChecked());
        QVERIFY(w->session().slicer().smooth);
        smooth->trigger();
        QVERIFY(!w->session().slicer().smooth);
        smooth->trigger();
        QVERIFY(w->saveConfiguration());
    }
    Window again;
    QVERIFY(!again->action("Smooth1")->isChecked()); // not stored
    QVERIFY(!again->session().slicer().smooth);
}

void PluginsTest::editExternallyReloadsOnActivation() {
    const QString sox = QStandardPaths::findExecutable("sox");
    if (sox.isEmpty()) {
        QSKIP("sox is not installed");
    }
    PluginDemo d;
    QVERIFY(d.open());
    auto& s = d.w->session();
    const std::string original = s.fileName();
    const auto before = uitest::samples(*d.w.form);
    QAction* item = d.w->action("EditExternally1");
    QVERIFY(d.w->findChild<QMenu*>("EditMenu")->actions().contains(item));
    QVERIFY(item->isEnabled());

    ModalScript script;
    d.w->config().editLoc.clear();
    script.answer(QMessageBox::Ok);
    item->trigger();
    QVERIFY(uitest::settled(script, 10000));
    QCOMPARE(script.texts, QStringList{"No wave editor specified!"});

    // The "editor": reverses the copy in place, then leaves a mark.
    const QString done = d.box.path("edited");
    const QString editor = d.box.path("my editor.sh");
    QFile f(editor);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QString("#!/bin/sh\nset -e\n\"%1\" \"$2\" \"$2.rev.wav\" reverse\ncat \"$2.rev.wav\" > \"$2\"\nrm \"$2.rev.wav\"\n"
                    "echo \"$1 $2\" > \"%2\"\n")
                .arg(sox, done)
                .toUtf8());
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    // Split like a command line: the quoted path with its blank, then an argument of its own.
    d.w->config().editLoc = "\"" + editor + "\" --from-cleavix";
    script.texts.clear();
    item->trigger();
    // The shell makes the mark before it writes the line: wait for the whole line.
    QString line;
    QVERIFY(uitest::waitFor(
        [&] {
            QFile mark(done);
            if (!mark.open(QIODevice::ReadOnly)) {
                return false;
            }
            line = QString::fromUtf8(mark.readAll());
            return line.endsWith('\n');
        },
        20000));
    line = line.trimmed();
    QVERIFY2(line.startsWith("--from-cleavix /"), qPrintable(line));
    const QString copy = line.section(' ', 1);
    QVERIFY(QFileInfo(copy).fileName().startsWith("CXT"));
    QCOMPARE(QFileInfo(copy).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    QVERIFY(script.texts.isEmpty());
    QVERIFY(uitest::waitIdle(*d.w.form));

    // Switching away and back asks once; Yes loads the edited copy under the sample's own name.
    script.answer(QMessageBox::Yes);
    uitest::switchAwayAndBack();
    QVERIFY(uitest::settled(script, 10000));
    QVERIFY(uitest::waitLoaded(*d.w.form));
    QCOMPARE(script.texts, QStringList{"File being edited externally has changed! Reload?"});
    QCOMPARE(s.fileName(), original);
    QVERIFY(s.modified());
    QVERIFY(d.w->windowTitle().contains("*"));
    const auto after = uitest::samples(*d.w.form);
    QCOMPARE(after.size(), before.size());
    const size_t frames = before.size() / 2;
    for (size_t i = 0; i < frames; i += 997) {
        QCOMPARE(after[i * 2], before[(frames - 1 - i) * 2]);
        QCOMPARE(after[i * 2 + 1], before[(frames - 1 - i) * 2 + 1]);
    }
    // Nothing changed since: no question the next time.
    uitest::switchAwayAndBack();
    QTest::qWait(200);
    QCOMPARE(script.texts.size(), 1);
}

void PluginsTest::noReloadWhileThePluginWindowIsOpen() {
    PluginDemo d;
    const QString file = d.box.demoLoop("changing.wav");
    QVERIFY(d.open(file));
    ModalScript script;
    bool inside = false;
    uitest::expect<ui::TPlugInForm>(script, [&](ui::TPlugInForm* form) {
        inside = d.commands().pluginForm() == form;
        // The loaded file changes on disk while the plug-in window is up.
        QFile f(file);
        if (f.open(QIODevice::ReadWrite)) {
            f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
        }
        uitest::switchAwayAndBack();
        QMetaObject::invokeMethod(form->cancelButton(), "click", Qt::QueuedConnection);
        return true;
    });
    d.item("gain")->trigger();
    QVERIFY(inside);
    QVERIFY(script.texts.isEmpty());
    QVERIFY(d.commands().pluginForm() == nullptr);
    // Once it is closed the change is still news.
    script.answer(QMessageBox::No);
    uitest::switchAwayAndBack();
    QVERIFY(uitest::settled(script, 10000));
    QCOMPARE(script.texts, QStringList{"File has changed! Reload?"});
}

static uitest::Register<PluginsTest> registerPluginsTest;

#include "plugins_test.moc"
