// The main window driven through its menus on the offscreen platform: start-up and configuration,
// opening the demo loop, title and status texts, the enabling rules, the sensitivity slider against
// the slice point list, zoom ranges, bars, and the unsaved-changes prompt.
#include "ui/UiTest.h"

#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/dialogs/BarsBeatsForm.h"
#include "ui/dialogs/ConvertForm.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/dialogs/SensitivityForm.h"
#include "ui/commands/TransportControl.h"
#include "ui/view/WaveBox.h"
#include "ui/window/MainFormParts.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QProcess>
#include <QStatusTipEvent>

#include <cmath>
#include <utility>

namespace {

// The slice points the slider should show: enabled candidates above the threshold, and locked ones.
int expectedPoints(const slicing::Slicer& slicer) {
    int n = 0;
    const auto& c = slicer.candidates();
    for (int i = 1; i <= c.count(); ++i) {
        const auto& p = c.at(i);
        if ((p.enabled != 0 && p.strength > slicer.threshold()) || p.locked != 0) {
            ++n;
        }
    }
    return n;
}

int columnsOfColour(const QImage& image, QRgb colour, int row) {
    int n = 0;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, row) == colour) {
            ++n;
        }
    }
    return n;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void firstRunWritesDefaultsAndSecondRunHonoursThem();
    void oddBlockSizesFallBack();
    void withoutSampleOnlyFileCommandsWork();
    void openDemoLoopThroughTheMenu();
    void sliderAgainstSlicePointList();
    void sensitivityDialogSetsTheSlider();
    void zoomRanges();
    void barsLayout();
    void savePromptWithScriptedAnswers();
    void saveAsWritesTheChosenFormat();
    void recentFilesKeepTheirOrderForAListedFile();
    void saveDialogStartsOnlyInAnOrdinaryFolder();
    void missingCommandLineFileIsReported();
    void commandLinePointFileOpensItsSample();
    void zoomLabelAndStatusPanelsFollowTheSample();
    void openDialogTakesItsCompleterAlong();
    void shortDialogsShowTheirWholeTitleAndNotes();
    void helpOpensItsPageOrSaysWhyNot();
    void toolsToolbarShowsAndHidesFromTheViewMenu();
};

void WindowTest::firstRunWritesDefaultsAndSecondRunHonoursThem() {
    Sandbox box(Sandbox::Start::Fresh);
    {
        ModalScript script;
        bool offered = false;
        uitest::expect<ui::TOdForm>(script, [&](ui::TOdForm* dialog) {
            offered = true;
            dialog->reject();
            return true;
        });
        Window w;
        QVERIFY(w->started());
        // Every value exists at once, with its default.
        QVERIFY(QFile::exists(box.configFile()));
        // The selected waveform stands out from the background and from the selection's edges,
        // so a click that selects the whole view does not blank it.
        const std::pair<const char*, QString> defaults[] = {
            {"WaveCacheSize", "128"}, {"BGColour", "$00804000"}, {"LineColour", "clBlack"}, {"DivColour", "clRed"},
            {"DisabledColour", "clGray"}, {"BarColour", "$00C08000"}, {"SelectedWaveColour", "clYellow"},
            {"SelectedBGColour", "clWhite"}, {"Units", "2"}, {"Seconds", "4"}, {"Buffers", "6"}, {"WaveID", "-1"},
            {"Height", "480"}, {"Width", "640"}, {"MapTrackName", "Vantrel"}, {"MapSmoothPos", "30"},
            {"ShowWizardOnStartup", "true"}, {"showopendialog", "true"}, {"CPLoc", ui::kDefaultControlPanel},
            {"File1", ""}, {"MRD7", ""}};
        for (const auto& [name, value] : defaults) {
            QCOMPARE(QString(name) + "=" + box.config(name), QString(name) + "=" + value);
        }
        QVERIFY(w->config().colours[ui::ColSelectedWave] != w->config().colours[ui::ColBackground]);
        QVERIFY(w->config().colours[ui::ColSelectedWave] != w->config().colours[ui::ColSelectedBG]);
        QVERIFY(!box.config("OpenDir").isEmpty());
        // The first run offers a file, as "Show open dialog on startup" says.
        w->show();
        QVERIFY(uitest::waitFor([&] { return offered; }, 10000));
        QVERIFY(uitest::waitFor([] { return QApplication::activeModalWidget() == nullptr; }));
        // A colour change is kept through the exit.
        w->config().colours[ui::ColRegion] = QColor(0x33, 0x22, 0x11);
        QVERIFY(w->saveConfiguration());
    }
    QCOMPARE(box.config("ShowWizardOnStartup"), QString("false"));
    QCOMPARE(box.config("RegSegColour"), QString("$00112233"));
    box.setConfig("Units", "8");
    box.setConfig("ShowRegionBar", "false");
    box.setConfig("showopendialog", "false");
    {
        Window w;
        QCOMPARE(w->config().colours[ui::ColRegion], QColor(0x33, 0x22, 0x11));
        QCOMPARE(w->config().units, 8);
        QVERIFY(!w->action("RegionBar1")->isChecked());
        QCOMPARE(w->barView()->height(), 9);
        QCOMPARE(w->splitRow(), 9);
        QVERIFY(!w->config().showWizardOnStartup);
    }
}

void WindowTest::oddBlockSizesFallBack() {
    Sandbox box;
    { Window w; }
    box.setConfig("WaveCacheSize", "100");
    {
        Window w;
        QCOMPARE(w->config().waveCacheSize, 128);
        QCOMPARE(w->session().peaks().blockBytes(), 128u);
    }
    box.setConfig("WaveCacheSize", "192");
    {
        Window w;
        QCOMPARE(w->config().waveCacheSize, 192);
        QCOMPARE(w->session().peaks().blockBytes(), 192u);
    }
}

void WindowTest::withoutSampleOnlyFileCommandsWork() {
    Sandbox box;
    Window w;
    QCOMPARE(w->windowTitle(), QString("Cleavix"));
    QCOMPARE(w->statusPanel(1), QString("No File Loaded"));
    QCOMPARE(w->statusPanel(3), QString("x1.0"));
    for (const char* on : {"Open1", "Options1", "Exit1", "SelectionBar1", "RegionBar1", "Help1", "About1"}) {
        QVERIFY2(w->action(on)->isEnabled(), on);
    }
    for (const char* off : {"Save1", "SaveAs1", "Close1", "Revert1", "OpenPointFile1", "SavePointFile1", "ZoomIn1",
                            "ZoomOut1", "ToolbarButton973", "ZoomToSegment1", "LeftChannel1", "RightChannel1",
                            "LockAll1"}) {
        QVERIFY2(!w->action(off)->isEnabled(), off);
    }
    QVERIFY(!w->sensitivitySlider()->isEnabled());
    QCOMPARE(w->sensitivityLabel()->text(), QString("0%"));
    QVERIFY(!w->transportButton("PlaySelectionButton")->isEnabled());
    QVERIFY(!w->transportButton("Button20")->isEnabled());
    w->show();
    QTest::qWait(50);
    QVERIFY(w->locatorL()->isHidden());
}

void WindowTest::openDemoLoopThroughTheMenu() {
    Sandbox box;
    const QString demo = box.demoLoop();
    Window w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, demo));
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix"));
    QCOMPARE(w->statusPanel(1), QString("16 Bit / 44100 hz stereo"));
    QCOMPARE(w->statusPanel(3), QString("x 1.0"));
    QCOMPARE(w->config().recentFiles.value(0), demo);
    QVERIFY(w->action("SubOpenItem1")->isVisible());
    QVERIFY(!w->action("SubOpenItem2")->isVisible());
    for (const char* on : {"Save1", "SaveAs1", "Close1", "Revert1", "OpenPointFile1", "ZoomIn1", "ToolbarButton973",
                           "LeftChannel1", "RightChannel1", "LockAll1"}) {
        QVERIFY2(w->action(on)->isEnabled(), on);
    }
    QVERIFY(!w->action("ZoomOut1")->isEnabled());
    QVERIFY(w->sensitivitySlider()->isEnabled());
    // The search ran: candidates found, none shown at slider 0.
    QVERIFY(w->session().slicer().candidates().count() > 0);
    QCOMPARE(w->session().slicer().slicePoints().count(), 0);
    QVERIFY(!w->action("ZoomToSegment1")->isEnabled());
    // The view shows the whole loop; the waveform was drawn (from raw samples for two bars).
    QCOMPARE(w->view().start, 0u);
    QCOMPARE(w->view().end, w->session().format().dataLength);
    // Two bars span more than 1000 peak blocks: drawn from the peak table; zoomed in, from samples.
    w->action("ZoomIn1")->trigger();
    w->waveView()->grab();
    QCOMPARE(w->renderer().lastSource(), ui::WaveRenderer::Source::Raw);
    w->action("ToolbarButton973")->trigger();
    const QImage shot = w->waveView()->grab().toImage();
    QCOMPARE(w->renderer().lastSource(), ui::WaveRenderer::Source::Peaks);
    const QRgb wave = w->config().colours[ui::ColWaveform].rgb();
    const int quarter = shot.height() / 4;
    QVERIFY(columnsOfColour(shot, wave, quarter) > shot.width() / 4);
    // Locators at both ends of the loop.
    QVERIFY(w->locatorL()->isVisible());
    QVERIFY(w->locatorR()->isVisible());
    QVERIFY(w->locatorR()->x() > w->locatorL()->x());
    // Moving over the view reports the position in samples (the default unit).
    QTest::mouseMove(w->waveView(), QPoint(w->waveView()->width() / 2, 10));
    QVERIFY(w->statusPanel(2).startsWith("s: "));
    const int frame = w->statusPanel(2).mid(3).toInt();
    const int frames = int(w->session().format().frames());
    QVERIFY(std::abs(frame - frames / 2) < frames / 50);
    // Close: back to no file.
    w->action("Close1")->trigger();
    QCOMPARE(w->windowTitle(), QString("Cleavix"));
    QCOMPARE(w->statusPanel(1), QString("No File Loaded"));
    QVERIFY(!w->action("Save1")->isEnabled());
    QVERIFY(!w->action("Close1")->isEnabled());
}

void WindowTest::sliderAgainstSlicePointList() {
    Sandbox box;
    Window w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()));
    auto& slicer = w->session().slicer();
    QSlider* slider = w->sensitivitySlider();
    int previous = -1;
    for (int percent : {10, 40, 60, 80, 99}) {
        slider->setValue(int(std::lround(percent / 100.0 * 65535)));
        QCOMPARE(w->sensitivityLabel()->text(), QString("%1%").arg(percent));
        const int shown = slicer.slicePoints().count();
        QCOMPARE(shown, expectedPoints(slicer));
        QVERIFY(shown >= previous); // more sensitivity never shows fewer points
        previous = shown;
        QCOMPARE(w->action("ZoomToSegment1")->isEnabled(), shown > 0);
    }
    QVERIFY(previous > 0);
    // The demo loop has 16 hits; a high sensitivity shows a cut line for each shown point.
    const QImage shot = w->waveView()->grab().toImage();
    const QRgb cut = w->config().colours[ui::ColCutLine].rgb();
    int cutColumns = 0;
    for (int x = 1; x < shot.width() - 1; ++x) {
        if (shot.pixel(x, shot.height() / 2 + 3) == cut) {
            ++cutColumns;
        }
    }
    QVERIFY(cutColumns >= std::min(previous, 8));
    slider->setValue(0);
    QCOMPARE(slicer.slicePoints().count(), 0);
    QCOMPARE(w->sensitivityLabel()->text(), QString("0%"));
}

void WindowTest::sensitivityDialogSetsTheSlider() {
    Sandbox box;
    Window w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()));
    ModalScript script;
    uitest::expect<ui::TSensitivityForm>(script, [](ui::TSensitivityForm* form) {
        form->edit()->setText("150");
        QTest::keyClick(form, Qt::Key_Return); // too large: nothing happens
        if (!form->isVisible()) {
            return true;
        }
        form->edit()->setText("50");
        QTest::keyClick(form, Qt::Key_Return);
        return true;
    });
    w->action("ShowSensitivity1")->trigger();
    QCOMPARE(script.pending(), 0);
    QCOMPARE(w->sensitivitySlider()->value(), 32768); // round(0.5 * 65535), ties to even
    QCOMPARE(w->sensitivityLabel()->text(), QString("50%"));
}

void WindowTest::zoomRanges() {
    Sandbox box;
    Window w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()));
    const uint32_t total = w->session().format().dataLength;
    w->action("ZoomIn1")->trigger();
    QCOMPARE(w->statusPanel(3), QString("x 2.0"));
    QVERIFY(w->action("ZoomOut1")->isEnabled());
    // Centred on the middle of the view (the mouse is not over it), inside the sample, whole frames.
    QVERIFY(std::abs(double(w->view().length()) - total / 2.0) <= 8);
    QVERIFY(std::abs(double(w->view().start) - total / 4.0) <= 8);
    QCOMPARE(w->view().start % 4, 0u);
    for (int i = 0; i < 12; ++i) {
        w->action("ZoomIn1")->trigger();
    }
    QCOMPARE(w->view().zoom > 500, true);
    QVERIFY(!w->action("ZoomIn1")->isEnabled());
    QVERIFY(w->view().end <= total);
    w->action("ZoomOut1")->trigger();
    QVERIFY(w->action("ZoomIn1")->isEnabled());
    QVERIFY(w->view().zoom < 300);
    w->action("ToolbarButton973")->trigger();
    QCOMPARE(w->view().start, 0u);
    QCOMPARE(w->view().end, total);
    QCOMPARE(w->statusPanel(3), QString("x 1.0"));
    QVERIFY(!w->action("ZoomOut1")->isEnabled());
    // Zooming in at the left edge keeps the start at 0 and extends to the right.
    ui::ViewState v;
    v.whole(total);
    v.zoomIn(0, total, 4);
    QCOMPARE(v.start, 0u);
    QVERIFY(std::abs(double(v.end) - total / 2.0) <= 8);
    // At the right edge the range is shifted inside.
    v.whole(total);
    v.zoomIn(total - 4, total, 4);
    QCOMPARE(v.end, total);
    // Zoom out below 2 shows the whole sample.
    v.zoomOut(total / 2, total, 4);
    QCOMPARE(v.zoom, 1.0);
    QCOMPARE(v.end, total);
    QCOMPARE(ui::zoomText(16), QString("x16.0"));
    // Zoom To Segment takes the segment under the view's middle and selects it.
    w->sensitivitySlider()->setValue(65000);
    QVERIFY(w->action("ZoomToSegment1")->isEnabled());
    w->action("ZoomToSegment1")->trigger();
    const auto& slicer = w->session().slicer();
    QVERIFY(slicer.selectedIndex >= 0);
    QCOMPARE(w->view().start, slicer.slicePoints().at(slicer.selectedIndex).position & ~3u);
    QVERIFY(w->view().zoom > 1.0);
}

void WindowTest::barsLayout() {
    Sandbox box;
    Window w;
    w->show();
    QCOMPARE(w->barView()->height(), 17);
    QCOMPARE(w->splitRow(), 9);
    const int waveHeight = w->waveView()->height();
    w->action("SelectionBar1")->trigger();
    QCOMPARE(w->barView()->height(), 9);
    QCOMPARE(w->splitRow(), 1);
    w->action("RegionBar1")->trigger();
    QCOMPARE(w->barView()->height(), 0);
    QTest::qWait(50);
    QVERIFY(w->waveView()->height() > waveHeight); // the waveform takes the room
    w->action("SelectionBar1")->trigger();
    QCOMPARE(w->barView()->height(), 9);
    QCOMPARE(w->splitRow(), 9);
}

void WindowTest::savePromptWithScriptedAnswers() {
    Sandbox box;
    const QString copy = box.demoLoop("copy.wav");
    Window w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, copy));
    w->session().setModified(true);
    QCOMPARE(w->windowTitle(), QString("copy.wav* - Cleavix"));
    {
        ModalScript script;
        script.answer(QMessageBox::Cancel);
        w->action("Close1")->trigger();
        QCOMPARE(script.texts.value(0), QString("Save changes to %1?").arg(copy));
        QVERIFY(w->session().loaded()); // Cancel: nothing happens
    }
    {
        // Yes: saved to its own name, then closed.
        QFile::remove(copy);
        ModalScript script;
        script.answer(QMessageBox::Yes);
        w->action("Close1")->trigger();
        QVERIFY(uitest::waitFor([&] { return !w->session().loaded() && !w->session().busy(); }));
        QVERIFY(QFile::exists(copy));
        QCOMPARE(w->windowTitle(), QString("Cleavix"));
    }
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop("other.wav")));
    w->session().setModified(true);
    {
        // No: closed without saving; with the prompt option off no question at all.
        ModalScript script;
        script.answer(QMessageBox::No);
        w->action("Close1")->trigger();
        QCOMPARE(script.pending(), 0);
        QVERIFY(!w->session().loaded());
    }
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop("third.wav")));
    w->session().setModified(true);
    w->session().settings().promptToSave = false;
    w->action("Close1")->trigger();
    QVERIFY(!w->session().loaded());
}

void WindowTest::saveAsWritesTheChosenFormat() {
    Sandbox box;
    Window w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()));
    const QString target = box.path("out.aif");
    ModalScript script;
    QString offered;
    uitest::expect<ui::TSaveForm>(script, [&](ui::TSaveForm* form) {
        // The format list offers the sample's own rate and channels; 16 bits preselected.
        if (offered.isEmpty()) {
            offered = QString("%1: %2").arg(form->formatBox()->count()).arg(form->formatBox()->currentText());
            form->formatBox()->setCurrentIndex(0); // 8 bits
        }
        return uitest::chooseFile(form, target);
    });
    w->action("SaveAs1")->trigger();
    QCOMPARE(script.pending(), 0);
    QCOMPARE(offered, QString("2: 16 Bit / 44100 hz stereo"));
    QVERIFY(uitest::waitFor([&] { return !w->session().busy(); }));
    QCOMPARE(w->windowTitle(), QString("out.aif - Cleavix"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(12);
    QCOMPARE(head.left(4), QByteArray("FORM"));
    QCOMPARE(head.mid(8, 4), QByteArray("AIFF"));
    // 8-bit stereo: one byte a sample, 54 bytes of header.
    QCOMPARE(file.size(), qint64(54 + w->session().format().dataLength / 2));
    QCOMPARE(w->config().recentFiles.value(0), target);
}

// A remembered save folder in a kernel file system (where reading a file can block for good) or
// one that is gone gives way to the home folder; a folder is remembered only once a save into it
// has succeeded, so a cancelled dialog leaves the remembered one.
void WindowTest::saveDialogStartsOnlyInAnOrdinaryFolder() {
    QVERIFY(!ui::isOrdinaryFolder("/proc"));
    QVERIFY(!ui::isOrdinaryFolder("/sys/kernel"));
    QVERIFY(!ui::isOrdinaryFolder("/dev"));
    QVERIFY(!ui::isOrdinaryFile("/proc/kmsg"));
    QVERIFY(!ui::isOrdinaryFile("/dev/null"));
    Sandbox box;
    Window w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()));
    const QString home = QDir::homePath();
    auto startsIn = [&](const QString& remembered, const QString& choose) {
        w->config().saveDir = remembered;
        ModalScript script;
        QString seen;
        uitest::expect<ui::TSaveForm>(script, [&](ui::TSaveForm* form) {
            if (seen.isNull()) {
                seen = form->directory().absolutePath();
            }
            if (choose.isEmpty()) {
                uitest::rejectLater(form);
                return true;
            }
            return uitest::chooseFile(form, choose);
        });
        w->action("SaveAs1")->trigger();
        uitest::waitFor([&] { return script.pending() == 0 && !w->session().busy(); });
        return seen;
    };
    QCOMPARE(startsIn("/proc", ""), home);
    QCOMPARE(w->config().saveDir, QString("/proc")); // cancelled: nothing new remembered
    QCOMPARE(startsIn(box.path("gone"), ""), home);
    QVERIFY(QDir().mkpath(box.path("here")));
    QCOMPARE(startsIn(box.path("here"), ""), QDir(box.path("here")).absolutePath());
    // A save that succeeds remembers its folder.
    const QString out = box.path("kept");
    QVERIFY(QDir().mkpath(out));
    startsIn("/proc", out + "/saved.wav");
    QVERIFY(QFile::exists(out + "/saved.wav"));
    QCOMPARE(QDir(w->config().saveDir).absolutePath(), QDir(out).absolutePath());
}

void WindowTest::recentFilesKeepTheirOrderForAListedFile() {
    Sandbox box;
    const QString a = box.demoLoop("a.wav");
    const QString b = box.demoLoop("b.wav");
    const QString c = box.demoLoop("c.wav");
    Window w;
    w->AddRecentFile(a);
    w->AddRecentFile(b);
    w->AddRecentFile(c);
    QCOMPARE(w->config().recentFiles.mid(0, 3), QStringList({c, b, a}));
    w->AddRecentFile(a.toUpper() == a ? a : a); // listed already: no change
    QCOMPARE(w->config().recentFiles.mid(0, 3), QStringList({c, b, a}));
    w->AddRecentFile(box.path("missing.wav"));
    QCOMPARE(w->config().recentFiles.mid(0, 3), QStringList({c, b, a}));
    // Reopening entry 3 swaps it with entry 1.
    w->show();
    w->action("SubOpenItem3")->trigger();
    QVERIFY(uitest::waitLoaded(*w.form));
    QCOMPARE(w->config().recentFiles.mid(0, 3), QStringList({a, b, c}));
    QCOMPARE(w->windowTitle(), QString("a.wav - Cleavix"));
}

namespace {

// Starts a window with `file` on its command line and answers the message it shows: the message's
// text (empty when none came), and whether a sample and the scan-on-load setting ended up there.
struct StartMessage {
    QString text;
    bool loaded = false;
    bool scanOnLoad = false;
};
StartMessage startWith(const QString& file) {
    ui::StartOptions options;
    options.file = file;
    Window w(options);
    ModalScript script;
    script.answer(QMessageBox::Ok);
    w->show();
    StartMessage seen;
    if (uitest::settled(script, 5000)) {
        seen.text = script.texts.value(0);
    }
    seen.loaded = w->session().loaded();
    seen.scanOnLoad = w->session().settings().scanOnLoad;
    return seen;
}

} // namespace

void WindowTest::missingCommandLineFileIsReported() {
    Sandbox box;
    const StartMessage seen = startWith(box.path("nowhere.wav"));
    QCOMPARE(seen.text, QString("Error opening file - check path!"));
    QVERIFY(!seen.loaded);
}

// A point file named on the command line (as the desktop opens one) opens the sample of its name
// beside it with the file's points in place of a search; without such a sample a message says so.
void WindowTest::commandLinePointFileOpensItsSample() {
    Sandbox box;
    slicing::CandidateSnapshot saved;
    {
        // Locked points, which no search makes, tell the file's points from a search's.
        Window first;
        QVERIFY(uitest::openDemoWithPoints(*first.form, box));
        first->action("LockAll1")->trigger();
        QVERIFY(first->session().slicer().savePoints(box.path("demo.clx").toStdString()).ok);
        saved = first->session().slicer().snapshot();
    }
    int locked = 0;
    for (int k = 1; k <= saved.count; ++k) {
        locked += saved.entries[size_t(k)].locked;
    }
    QVERIFY(locked > 0);

    ui::StartOptions options;
    options.file = box.path("demo.clx");
    Window w(options);
    w->show();
    QVERIFY(uitest::waitLoaded(*w.form));
    const auto& slicer = w->session().slicer();
    QVERIFY(uitest::waitFor([&] { return slicer.candidates().count() == saved.count; }, 5000));
    for (int k = 0; k <= saved.count + 1; ++k) {
        QVERIFY2(slicer.candidates().at(k) == saved.entries[size_t(k)], qPrintable(QString("entry %1").arg(k)));
    }
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix"));
    QVERIFY(w->session().settings().scanOnLoad); // off for that load only

    QDir().mkpath(box.path("alone"));
    QVERIFY(QFile::copy(box.path("demo.clx"), box.path("alone/alone.clx")));
    const StartMessage seen = startWith(box.path("alone/alone.clx"));
    QCOMPARE(seen.text, QString(ui::mainform::kMsgNoSampleForPoints)
                            .arg("alone", QFileInfo(box.path("alone/alone.clx")).absoluteFilePath()));
    QVERIFY(!seen.loaded);
    QVERIFY(seen.scanOnLoad);
}

namespace {

QString soxTone(const Sandbox& box, int frames) {
    const QString file = box.path(QString("tone%1.wav").arg(frames));
    const int rc = QProcess::execute("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", file, "synth",
                                             QString("%1s").arg(frames), "sine", "440"});
    return rc == 0 ? file : QString();
}

} // namespace

// Zoom In on a sample whose length does not halve evenly still reads "x 2.0" (the view is a
// frame short of half); a newly opened sample starts without the last one's hint and position.
void WindowTest::zoomLabelAndStatusPanelsFollowTheSample() {
    Sandbox box;
    Window w;
    w->show();
    for (int frames : {44101, 44103, 44105, 44107, 88211, 99999}) {
        const QString file = soxTone(box, frames);
        QVERIFY(!file.isEmpty());
        QVERIFY(uitest::openThroughMenu(*w.form, file));
        w->action("ZoomIn1")->trigger();
        QCOMPARE(w->statusPanel(3), QString("x 2.0"));
        w->action("ZoomIn1")->trigger();
        QCOMPARE(w->statusPanel(3), QString("x 4.0"));
        w->action("ZoomOut1")->trigger();
        QCOMPARE(w->statusPanel(3), QString("x 2.0"));
    }
    QTest::mouseMove(w->waveView(), QPoint(w->waveView()->width() / 3, 12));
    QTest::mouseMove(w->waveView(), QPoint(w->waveView()->width() / 2, 10));
    QVERIFY(w->statusPanel(2).startsWith("s: "));
    QStatusTipEvent tip("Zoom in|Zoom in on the waveform");
    QApplication::sendEvent(w.form.get(), &tip);
    QVERIFY(!w->statusPanel(0).isEmpty());
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()));
    QCOMPARE(w->statusPanel(0), QString());
    QCOMPARE(w->statusPanel(2), QString());
    QCOMPARE(w->statusPanel(3), QString("x 1.0"));
}

// The name box's completion list goes away with the dialog instead of staying on the screen.
void WindowTest::openDialogTakesItsCompleterAlong() {
    Sandbox box;
    QVERIFY(!soxTone(box, 100).isEmpty());
    QVERIFY(!soxTone(box, 200).isEmpty());
    ui::TOdForm form(nullptr);
    form.setDirectory(QFileInfo(box.path("x")).absolutePath());
    form.show();
    auto* name = form.findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(name != nullptr);
    QVERIFY(name->completer() != nullptr);
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    name->setFocus();
    QTest::keyClicks(name, "ton");
    QAbstractItemView* popup = name->completer()->popup();
    // The folder's model fills in the background; ask again until the list has its entries.
    QTRY_VERIFY_WITH_TIMEOUT((name->completer()->complete(), popup->isVisible()), 5000);
    form.done(QDialog::Rejected);
    QVERIFY(!popup->isVisible());
}

// The short dialogs are wide enough for their title beside the title bar's buttons, and the
// Base Note box shows "C#" whole.
void WindowTest::shortDialogsShowTheirWholeTitleAndNotes() {
    ui::TConvertForm toMono(2, nullptr);
    ui::TBarsBeatsForm bars(2, 4, ui::TBarsBeatsForm::Field::Bars, nullptr);
    ui::TForm6 keymap(ui::KeymapSettings{}, ui::TForm6::Mode::Editor, 4, nullptr);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&toMono, &bars, &keymap}) {
        dialog->show();
        const int title = dialog->fontMetrics().horizontalAdvance(dialog->windowTitle());
        QVERIFY2(dialog->width() >= title + 100, qPrintable(dialog->windowTitle()));
        dialog->hide();
    }
    auto* note = keymap.findChild<QSpinBox*>("NoteBox");
    QVERIFY(note != nullptr);
    keymap.resize(keymap.minimumSizeHint());
    keymap.show();
    note->setValue(2);
    QCOMPARE(note->text(), QString("C#"));
    auto* edit = note->findChild<QLineEdit*>();
    QVERIFY(edit != nullptr);
    const QMargins margins = edit->textMargins();
    const int room = edit->contentsRect().width() - margins.left() - margins.right();
    QVERIFY2(room >= note->fontMetrics().horizontalAdvance("C#"), qPrintable(QString::number(room)));
}

// Help and Tips open the guide's pages from the source tree or the installed copy; when nothing
// can open them, or the sound settings program is missing, a message says so.
void WindowTest::helpOpensItsPageOrSaysWhyNot() {
    Sandbox box;
    Window w;
    w->show();
    const auto keep = ui::openHelpUrl;
    QList<QUrl> opened;
    ui::openHelpUrl = [&](const QUrl& url) {
        opened << url;
        return true;
    };
    w->action("Help1")->trigger();
    w->action("Tips1")->trigger();
    QCOMPARE(opened.size(), 2);
    QVERIFY(QFileInfo(opened[0].toLocalFile()).isFile());
    QCOMPARE(QFileInfo(opened[0].toLocalFile()).fileName(), QString("index.html"));
    QCOMPARE(QFileInfo(opened[1].toLocalFile()).fileName(), QString("tips.html"));
    QVERIFY(ui::helpFile("no-such-page.html").isEmpty());

    ui::openHelpUrl = [](const QUrl&) { return false; };
    const QStringList why = uitest::answering(QMessageBox::Ok, [&] { w->action("Help1")->trigger(); });
    QVERIFY2(!why.isEmpty() && why.first().startsWith("No program could open the help page"), qPrintable(why.join("|")));
    ui::openHelpUrl = keep;
    w->config().cpLoc = box.path("no-such-mixer");
    QCOMPARE(uitest::answering(QMessageBox::Ok, [&] { w->action("ControlPanel1")->trigger(); }).size(), 1);
}

// The Tools toolbar has its own View menu item, remembered like the other toolbars'.
void WindowTest::toolsToolbarShowsAndHidesFromTheViewMenu() {
    Sandbox box;
    {
        Window w;
        w->show();
        auto* bar = w->findChild<QToolBar*>("Panel1");
        QVERIFY(bar != nullptr);
        QVERIFY(bar->isVisible());
        QAction* tick = w->action("ToolsToolbar1");
        QVERIFY(tick != nullptr);
        QVERIFY(w->findChild<QMenu*>("ViewMenu")->actions().contains(tick));
        QVERIFY(tick->isChecked());
        tick->trigger();
        QVERIFY(!bar->isVisible());
        QVERIFY(!w->config().toolsToolbar);
        QVERIFY(w->saveConfiguration());
    }
    Window again;
    again->show();
    QVERIFY(!again->findChild<QToolBar*>("Panel1")->isVisible());
    QVERIFY(!again->action("ToolsToolbar1")->isChecked());
}

static cleavix::uitest::Register<WindowTest> registerWindowTest;

#include "window_test.moc"
