// The exports on the offscreen platform: Save Segments in Loop through the File menu with its
// "Keymap settings" dialog, Save Selected Segment and Save Region, what cancelling writes (nothing),
// the locators dragged and snapped, the segment and region bars, and a slice dragged out as a
// Wave file.
#include "ui/UiTest.h"

#include "ui/view/BarMouse.h"
#include "ui/commands/ExportCommands.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/dialogs/ProcessForm.h"
#include "ui/view/SegmentDrag.h"
#include "ui/view/WaveBox.h"

#include <QDropEvent>
#include <QUrl>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>

using cleavix::uitest::Demo;
using cleavix::uitest::answerSave;
using cleavix::uitest::openDemoWithPoints;

namespace {

struct WaveHeader {
    bool ok = false;
    int channels = 0;
    int bits = 0;
    uint32_t dataBytes = 0;
    qint64 fileSize = 0;
};

// The canonical 44-byte header the writer produces.
WaveHeader readWave(const QString& path) {
    WaveHeader h;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return h;
    }
    const QByteArray head = f.read(44);
    h.fileSize = f.size();
    if (head.size() < 44 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE" || head.mid(36, 4) != "data") {
        return h;
    }
    auto u16 = [&](int at) { return int(uint8_t(head[at])) | int(uint8_t(head[at + 1])) << 8; };
    auto u32 = [&](int at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    h.channels = u16(22);
    h.bits = u16(34);
    h.dataBytes = u32(40);
    h.ok = true;
    return h;
}

// Sample frames as sox reads them; -1 when sox cannot read the file, -2 when sox is missing.
qint64 soxFrames(const QString& path) {
    const QString sox = QStandardPaths::findExecutable("sox");
    if (sox.isEmpty()) {
        return -2;
    }
    QProcess p;
    p.start(sox, {"--i", "-s", path});
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return -1;
    }
    bool ok = false;
    const qint64 frames = QString::fromUtf8(p.readAllStandardOutput()).trimmed().toLongLong(&ok);
    return ok ? frames : -1;
}

// A Wave file of `bytes` 16-bit stereo data bytes that sox reads as bytes / 4 frames.
bool stereoWaveOf(const QString& path, uint32_t bytes) {
    const WaveHeader h = readWave(path);
    if (!h.ok || h.channels != 2 || h.bits != 16 || h.dataBytes != bytes || h.fileSize != 44 + qint64(bytes)) {
        qWarning("%s: header %d ch %d bit %u bytes, file %lld; wanted %u bytes", qPrintable(path), h.channels, h.bits,
                 h.dataBytes, h.fileSize, bytes);
        return false;
    }
    const qint64 frames = soxFrames(path);
    if (frames != -2 && frames != qint64(bytes / 4)) {
        qWarning("%s: sox reads %lld frames, wanted %u", qPrintable(path), frames, bytes / 4);
        return false;
    }
    return true;
}

QStringList wavesIn(const QString& folder) {
    return QDir(folder).entryList({"*.wav"}, QDir::Files, QDir::Name);
}

// The "Keymap settings" dialog: smoothing as asked, then OK (or Cancel).
void answerKeymap(ModalScript& script, bool smooth, bool ok, int* samplesSeen = nullptr) {
    uitest::expect<ui::TForm6>(script, [=](ui::TForm6* form) {
        form->smoothBox()->setChecked(smooth);
        if (samplesSeen != nullptr) {
            *samplesSeen = form->okButton()->isEnabled() ? 1 : 0;
        }
        QMetaObject::invokeMethod(form, ok ? "accept" : "reject", Qt::QueuedConnection);
        return true;
    });
}

// Drags a locator button so that its dropping edge (L: left, R: right) lies over `position`.
void dragLocator(ui::TMainForm& w, QPushButton* button, uint32_t position, bool isLeft) {
    QWidget* view = w.waveView();
    QWidget* strip = button->parentWidget();
    const int viewLeft = view->mapTo(&w, QPoint(0, 0)).x() - strip->mapTo(&w, QPoint(0, 0)).x();
    const auto& v = w.view();
    const int target = viewLeft + int(std::lround((double(position) - v.start) / v.length() * view->width()));
    const int edge = isLeft ? button->x() : button->x() + button->width();
    const int dx = target - edge;
    const QPoint grip(button->width() / 2, button->height() / 2);
    QTest::mousePress(button, Qt::LeftButton, {}, grip);
    QTest::mouseMove(button, grip + QPoint(dx / 2, 0));
    QTest::mouseMove(button, grip + QPoint(dx - dx / 2, 0)); // the button has moved by dx / 2
    QTest::mouseRelease(button, Qt::LeftButton, {}, grip);
}

} // namespace

class ExportTest : public QObject {
    Q_OBJECT
private slots:
    void saveSegmentsInLoopWritesOneFilePerSegment();
    void cancellingEitherDialogWritesNothing();
    void partlyFailedExportListsTheMissingFiles();
    void progressWindowCountsFiles();
    void selectedSegmentAndRegionByteCounts();
    void keymapDialogRangeCheckAndOptions();
    void locatorsSnapOnRelease();
    void segmentBarZoomsOnRelease();
    void regionBarMovesAndZoomsTheView();
    void draggedSliceIsAWaveFileOfTheSegment();
    void aDraggedSliceDroppedBackIsRefused();
    void anEightBitExportLeavesTheSamplesOwnDepth();
    void zoomToSegmentZoomsToTheSelectedSegment();
};

void ExportTest::saveSegmentsInLoopWritesOneFilePerSegment() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& slicer = w->session().slicer();
    const auto& list = slicer.slicePoints();
    const int m = list.count();
    // The loop from the second point to the second last: the segments between them.
    const uint32_t L = list.at(2).position;
    const uint32_t R = list.at(m - 1).position;
    slicer.setLoop(L, R);
    const int expected = slicing::CountPointsInLoop(list, L, R) + 1;
    QCOMPARE(w->exportCommands()->segmentsInLoop(), expected);
    QVERIFY(w->action("SaveSegmentsInLoop1")->isEnabled());
    QVERIFY(w->action("SaveWaveB")->isEnabled());
    QCOMPARE(w->action("SaveSegmentsInLoop1")->shortcut(), QKeySequence("Ctrl+W"));

    const QString out = box.path("out");
    QVERIFY(QDir().mkpath(out));
    QString prefill;
    {
        ModalScript script;
        answerKeymap(script, false, true);
        answerSave(script, out + "/loop.wav", &prefill);
        QVERIFY(uitest::run(*w.form, "SaveSegmentsInLoop1", script));
        QVERIFY(script.texts.isEmpty());
    }
    // The save dialog offered the sample's own name.
    QCOMPARE(prefill, QString("demo.wav"));
    // N files numbered to the width of (points in the list + 1), covering L to R exactly (the
    // segments of a loop add up to the loop), each readable by sox.
    const QStringList files = wavesIn(out);
    QCOMPARE(files.size(), expected);
    const int width = QString::number(m + 1).size();
    uint64_t total = 0;
    for (int i = 0; i < expected; ++i) {
        const QString name = QString("loop%1.wav").arg(i + 1, width, 10, QChar('0'));
        QCOMPARE(files[i], name);
        const WaveHeader h = readWave(out + "/" + name);
        QVERIFY(h.ok);
        QVERIFY(stereoWaveOf(out + "/" + name, h.dataBytes));
        total += h.dataBytes;
    }
    QCOMPARE(total, uint64_t(R - L));
    // The loop and the points are as they were; the sample is not marked saved or changed.
    QCOMPARE(slicer.left(), L);
    QCOMPARE(slicer.right(), R);
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix"));
    // The dialog's choice is remembered for the next time.
    QCOMPARE(w->config().mapSmoothEndPoints, false);
    QVERIFY(!slicer.exportSettings.smoothEndPoints);

    // With smoothing ticked every file grows by the smoothed tail.
    const QString smoothed = box.path("smoothed");
    QVERIFY(QDir().mkpath(smoothed));
    {
        ModalScript script;
        answerKeymap(script, true, true);
        answerSave(script, smoothed + "/loop.wav");
        QVERIFY(uitest::run(*w.form, "SaveWaveB", script));
    }
    QCOMPARE(wavesIn(smoothed).size(), expected);
    const uint32_t plain = readWave(out + "/" + files[0]).dataBytes;
    const uint32_t grown = readWave(smoothed + "/" + files[0]).dataBytes;
    QVERIFY2(grown > plain + plain / 5 && grown < plain + plain * 2 / 5, qPrintable(QString("%1 -> %2").arg(plain).arg(grown)));
    QCOMPARE(w->config().mapSmoothEndPoints, true);
    QCOMPARE(w->config().mapSmoothPos, 30);
}

void ExportTest::cancellingEitherDialogWritesNothing() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    const QString out = box.path("none");
    QVERIFY(QDir().mkpath(out));
    {
        // Cancel on the key map: no save dialog follows.
        ModalScript script;
        answerKeymap(script, false, false);
        w->action("SaveSegmentsInLoop1")->trigger();
        QVERIFY(uitest::settled(script));
        QVERIFY(!w->session().busy());
    }
    {
        ModalScript script;
        answerKeymap(script, false, true);
        answerSave(script, QString());
        w->action("SaveSegmentsInLoop1")->trigger();
        QVERIFY(uitest::settled(script));
    }
    {
        w->session().slicer().selectSegment(2);
        w->exportCommands()->updateEnabling();
        ModalScript script;
        answerSave(script, QString());
        w->action("SaveSelectedSegment1")->trigger();
        QVERIFY(uitest::settled(script));
    }
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(wavesIn(out).isEmpty());
    QCOMPARE(wavesIn(box.path("")), QStringList{"demo.wav"});
}

void ExportTest::partlyFailedExportListsTheMissingFiles() {
    Demo d;
    QVERIFY(d.openWithPoints());
    auto& [box, w] = d;
    auto& slicer = d.w->session().slicer();
    const auto& list = slicer.slicePoints();
    slicer.setLoop(list.at(1).position, list.at(4).position);
    const QString out = box.path("partly");
    const int width = QString::number(list.count() + 1).size();
    auto name = [&](int i) { return QString("loop%1.wav").arg(i, width, 10, QChar('0')); };
    // A folder where the second file should go: that one cannot be written.
    QVERIFY(QDir().mkpath(out + "/" + name(2)));
    ModalScript script;
    answerKeymap(script, false, true);
    answerSave(script, out + "/loop.wav");
    script.answer(QMessageBox::No);
    script.answer(QMessageBox::Ok);
    QVERIFY(uitest::run(*w.form, "SaveSegmentsInLoop1", script));
    QCOMPARE(script.texts.size(), 2);
    QVERIFY(script.texts[0].startsWith("Error saving files!"));
    QVERIFY(script.texts[1].startsWith("2 of 3 files were saved."));
    QVERIFY(script.texts[1].contains(name(2)));
    QVERIFY(!script.texts[1].contains(name(1)));
    QVERIFY(QFileInfo(out + "/" + name(1)).isFile());
    QVERIFY(QFileInfo(out + "/" + name(3)).isFile());
}

void ExportTest::progressWindowCountsFiles() {
    Sandbox box;
    Window w;
    w->show();
    auto& model = w->session().jobs().progress();
    auto* counter = w->processForm()->fileCounter();
    model.show(jobs::ProcessMode::Saving);
    QVERIFY(counter->isHidden()); // a single file is not counted
    model.setFiles(2, 12);
    QVERIFY(!counter->isHidden());
    QCOMPARE(counter->text(), QString("File 2 of 12"));
    QCOMPARE(w->processForm()->Label1()->text(), QString("Saving..."));
    model.hide();
    // The next operation starts without a counter.
    model.show(jobs::ProcessMode::Normalising);
    QVERIFY(counter->isHidden());
    model.hide();
}

void ExportTest::selectedSegmentAndRegionByteCounts() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& slicer = w->session().slicer();
    const auto& list = slicer.slicePoints();
    // Nothing selected yet: nothing to save.
    w->exportCommands()->updateEnabling();
    QVERIFY(!w->action("SaveSelectedSegment1")->isEnabled());

    // Clicking the segment bar selects the segment under the mouse.
    auto* bar = w->barView();
    const auto& v = w->view();
    const uint32_t mid = (list.at(3).position + list.at(4).position) / 2;
    const int x = int((double(mid) - v.start) / v.length() * bar->width());
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, 3));
    QCOMPARE(slicer.selectedIndex, 3);
    QVERIFY(w->action("SaveSelectedSegment1")->isEnabled());
    const uint32_t segmentBytes = slicer.selectionEnd - slicer.selectionStart;
    QCOMPARE(segmentBytes, list.at(4).position - list.at(3).position);

    QString prefill;
    {
        ModalScript script;
        answerSave(script, box.path("segment.wav"), &prefill);
        QVERIFY(uitest::run(*w.form, "SaveSelectedSegment1", script));
    }
    QCOMPARE(prefill, QString("*.wav"));
    QVERIFY(stereoWaveOf(box.path("segment.wav"), segmentBytes & ~3u));

    const uint32_t L = list.at(1).position;
    const uint32_t R = list.at(5).position + 6; // off the frame: the region keeps whole frames
    slicer.setLoop(L, R);
    {
        ModalScript script;
        answerSave(script, box.path("region.wav"), &prefill);
        prefill = QString();
        QVERIFY(uitest::run(*w.form, "SaveRegion1", script));
    }
    QCOMPARE(prefill, QString(""));
    QVERIFY(stereoWaveOf(box.path("region.wav"), (R - L) & ~3u));
    // Exports do not join the Reopen list.
    QVERIFY(!w->config().recentFiles.contains(box.path("region.wav")));
}

void ExportTest::keymapDialogRangeCheckAndOptions() {
    ui::KeymapSettings k;
    QCOMPARE(k.baseNote(), 48);
    // Forty samples two keys apart from C2 do not fit under note 128.
    k.interval = 2;
    // Before a batch transfer they cannot be sent mapped: OK is greyed.
    ui::TForm6 crowded(k, ui::TForm6::Mode::Batch, 40);
    QVERIFY(!crowded.okButton()->isEnabled());
    QVERIFY(!crowded.warningLabel()->isHidden());
    QCOMPARE(crowded.warningLabel()->text(), QString("WARNING! -  Samples exceed available notes"));
    crowded.intervalBox()->setValue(0);
    QVERIFY(crowded.okButton()->isEnabled());
    QVERIFY(crowded.warningLabel()->isHidden());
    // Before Save Segments in Loop the numbered files need no keys: warned, but OK stays.
    ui::TForm6 slices(k, ui::TForm6::Mode::Editor, 120);
    QVERIFY(!slices.warningLabel()->isHidden());
    QVERIFY(slices.okButton()->isEnabled());
    // An SFZ instrument or a MIDI file plays them from those keys: then they must fit.
    slices.sfzBox()->setChecked(true);
    QVERIFY(!slices.okButton()->isEnabled());
    slices.sfzBox()->setChecked(false);
    slices.midiBox()->setChecked(true);
    QVERIFY(!slices.okButton()->isEnabled());
    slices.midiBox()->setChecked(false);
    QVERIFY(slices.okButton()->isEnabled());

    // White keys only: C and no interval, both locked, restored when unticked.
    ui::TForm6 form(k, ui::TForm6::Mode::Editor, 8);
    form.noteBox()->setValue(5);
    form.whiteKeysBox()->setChecked(true);
    QCOMPARE(form.noteBox()->value(), 1);
    QCOMPARE(form.intervalBox()->value(), 0);
    QVERIFY(!form.noteBox()->isEnabled());
    form.whiteKeysBox()->setChecked(false);
    QCOMPARE(form.noteBox()->value(), 5);
    QCOMPARE(form.intervalBox()->value(), 2);
    QCOMPARE(form.noteBox()->text(), QString("E"));
    form.octaveBox()->setValue(5);
    form.resetButton()->click();
    QCOMPARE(form.settings().baseNote(), 48);
    // The smoothing bar works only while smoothing is ticked, and says its level.
    form.smoothBox()->setChecked(false);
    QVERIFY(!form.smoothBar()->isEnabled());
    form.smoothBox()->setChecked(true);
    form.smoothBar()->setValue(45);
    QCOMPARE(form.smoothBar()->toolTip(), QString("Smooth level (75%)"));
    QCOMPARE(form.settings().smoothLevel, 45);
    // Batch mode: the MIDI-file options do not apply, and the batch's own smoothing flag shows.
    k.smoothEditor = true;
    k.smoothBatch = false;
    ui::TForm6 batch(k, ui::TForm6::Mode::Batch, 3);
    QVERIFY(!batch.reverseBox()->isEnabled());
    QVERIFY(!batch.baseOnlyBox()->isEnabled());
    QVERIFY(!batch.smoothBox()->isChecked());
    QVERIFY(!ui::keysFit(48, 0, 80, false));
    QVERIFY(ui::keysFit(48, 0, 78, false));
    QVERIFY(ui::keysFit(48, 0, 20, true));
}

void ExportTest::locatorsSnapOnRelease() {
    Demo d;
    QVERIFY(d.openWithPoints());
    auto& [box, w] = d;
    auto& slicer = d.w->session().slicer();
    const auto& list = slicer.slicePoints();
    const uint32_t total = d.w->session().format().dataLength;
    if (list.at(1).position < 4000) {
        // The loop starts on a hit: take that point away so that the sample starts before the first point.
        const uint32_t p = list.at(1).position;
        for (int i = 1; i <= slicer.candidates().count(); ++i) {
            if (slicer.candidates().at(i).position == p) {
                QVERIFY(slicer.disablePoint(i));
                break;
            }
        }
        slicer.rebuild();
    }
    const uint32_t first = list.at(1).position;
    QVERIFY(first >= 4000);
    QVERIFY(slicer.setBarsAndBeats("2", "0"));
    slicer.setLoop(list.at(2).position, list.at(5).position);
    w->action("ToolbarButton973")->trigger(); // places the buttons
    auto* tempo = w->findChild<QLabel*>("TempoLabel");
    QVERIFY(tempo != nullptr);
    const QString before = QString::fromStdString(slicer.tempo().text);

    // L dropped beyond R: the last point before R.
    dragLocator(*w.form, w->locatorL(), list.at(5).position + (total - list.at(5).position) / 2, true);
    QCOMPARE(slicer.left(), list.at(4).position);
    QVERIFY(tempo->text() != before);
    QCOMPARE(tempo->text(), QString::fromStdString(slicer.tempo().text));
    // L dropped before the first point: onto it, not onto the sample start.
    dragLocator(*w.form, w->locatorL(), first / 4, true);
    QCOMPARE(slicer.left(), first);
    // The button sits on its point.
    const QWidget* view = w->waveView();
    const int viewLeft = view->mapTo(w.form.get(), QPoint(0, 0)).x() -
                         w->locatorL()->parentWidget()->mapTo(w.form.get(), QPoint(0, 0)).x();
    QVERIFY(std::abs(w->locatorL()->x() - (viewLeft + int(double(first) / total * view->width()))) <= 1);
    // R near the end: onto the end marker.
    dragLocator(*w.form, w->locatorR(), total - (total - list.at(list.count()).position) / 4, false);
    QCOMPARE(slicer.right(), total);
    // R dropped on a point between two others takes the nearer.
    const uint32_t p3 = list.at(3).position;
    const uint32_t p4 = list.at(4).position;
    dragLocator(*w.form, w->locatorR(), p3 + (p4 - p3) / 5, false);
    QCOMPARE(slicer.right(), p3);
    QCOMPARE(tempo->text(), QString::fromStdString(slicer.tempo().text));
}

void ExportTest::segmentBarZoomsOnRelease() {
    Demo d;
    QVERIFY(d.openWithPoints());
    auto& [box, w] = d;
    auto& slicer = d.w->session().slicer();
    const auto& list = slicer.slicePoints();
    const uint32_t total = d.w->session().format().dataLength;
    auto* bar = w->barView();
    const uint32_t mid = (list.at(2).position + list.at(3).position) / 2;
    const int x = int(double(mid) / total * bar->width());
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(x, 2));
    QCOMPARE(w->view().end, total); // nothing on the press
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(x, 2));
    QCOMPARE(w->view().start, list.at(2).position & ~3u);
    QCOMPARE(w->view().end, list.at(3).position & ~3u);
    QCOMPARE(slicer.selectedIndex, 2);
    QCOMPARE(w->statusPanel(3), ui::zoomText(w->view().zoom));
    // The right button: 1:1.
    QTest::mouseClick(bar, Qt::RightButton, {}, QPoint(x, 2));
    QCOMPARE(w->view().start, 0u);
    QCOMPARE(w->view().end, total);
    // A press on the region bar released over the segment bar does not zoom to a segment.
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(x, bar->height() - 2));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(x, 2));
    QCOMPARE(w->view().end, total);
}

void ExportTest::regionBarMovesAndZoomsTheView() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    const uint32_t total = w->session().format().dataLength;
    auto* bar = w->barView();
    const int W = bar->width();
    const int y = bar->height() - 3;
    w->action("ZoomIn1")->trigger();
    w->action("ZoomIn1")->trigger();
    const uint32_t length = w->view().length();
    QVERIFY(w->view().zoom >= 3.9);
    // Grab the highlighted range and drag it 40 pixels on.
    const uint32_t start = w->view().start;
    const int grab = int((double(start) + length / 2.0) / total * W);
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(grab, y));
    QTest::mouseMove(bar, QPoint(grab + 20, y));
    QTest::mouseMove(bar, QPoint(grab + 40, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(grab + 40, y));
    const double moved = double(w->view().start) - double(start);
    const double expected = 40.0 / W * total;
    QVERIFY2(std::abs(moved - expected) <= 2.0 * total / W, qPrintable(QString::number(moved)));
    QCOMPARE(w->view().length(), length);
    QCOMPARE(w->view().start % 4, 0u);
    // A press left of the range pages one view length towards the start.
    const uint32_t now = w->view().start;
    QVERIFY(now >= 8);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(0, y));
    QCOMPARE(w->view().start, now > length ? now - length : 0u);
    QCOMPARE(w->view().length(), length);
    // Dragging far to the right stops at the end of the sample.
    const int at = int((double(w->view().start) + length / 2.0) / total * W);
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(at, y));
    QTest::mouseMove(bar, QPoint(W * 3, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(W * 3, y));
    QCOMPARE(w->view().end, total);
    QCOMPARE(w->view().length(), length);
    // The right button drags the nearer edge: the start edge out to the left zooms out.
    const int startPx = int(double(w->view().start) / total * W);
    QTest::mousePress(bar, Qt::RightButton, {}, QPoint(startPx + 1, y));
    QTest::mouseMove(bar, QPoint(W / 4, y));
    QTest::mouseRelease(bar, Qt::RightButton, {}, QPoint(W / 4, y));
    QCOMPARE(w->view().end, total);
    QVERIFY(std::abs(double(w->view().start) - double(W / 4) / W * total) <= 4.0);
    QVERIFY(w->view().zoom < 2.0);
    QCOMPARE(w->statusPanel(3), ui::zoomText(w->view().zoom));
}

void ExportTest::draggedSliceIsAWaveFileOfTheSegment() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& slicer = w->session().slicer();
    const auto& list = slicer.slicePoints();
    auto* bars = w->barMouse();
    const uint32_t total = w->session().format().dataLength;
    const uint32_t mid = (list.at(3).position + list.at(4).position) / 2;
    QCOMPARE(bars->segmentUnder(mid, false), 3);
    QCOMPARE(bars->segmentUnder(list.at(1).position / 2, false), 0);

    QString error;
    const auto data = bars->dragOut().prepare(3, &error);
    QVERIFY2(data != nullptr, qPrintable(error));
    QVERIFY(data->hasUrls());
    QVERIFY(data->formats().contains("text/uri-list"));
    QCOMPARE(data->urls().size(), 1);
    const QString file = data->urls().first().toLocalFile();
    // Named after the sample, numbered from the sample's start as the export numbers its files.
    const int number = 3 + (list.at(1).position > 0 ? 1 : 0);
    const int width = QString::number(list.count() + 1).size();
    QCOMPARE(QFileInfo(file).fileName(), QString("demo%1.wav").arg(number, width, 10, QChar('0')));
    QVERIFY(stereoWaveOf(file, (list.at(4).position - list.at(3).position) & ~3u));
    // The last segment runs to the end of the sample.
    const auto last = bars->dragOut().prepare(list.count(), &error);
    QVERIFY(last != nullptr);
    QVERIFY(stereoWaveOf(last->urls().first().toLocalFile(), (total - list.at(list.count()).position) & ~3u));
    // The folder is the program's own and goes with it.
    const QString folder = QFileInfo(file).absolutePath();
    QVERIFY(folder != QFileInfo(box.demoLoop("other.wav")).absolutePath());
    QVERIFY(bars->dragOut().prepare(list.count() + 5, &error) == nullptr);
    w.form.reset();
    QVERIFY(!QDir(folder).exists());
}

// A slice dragged out and dropped back onto the window is not opened: the sample, its name and
// the Reopen list stay. The same file copied elsewhere is an ordinary drop and opens.
void ExportTest::aDraggedSliceDroppedBackIsRefused() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& session = w->session();
    const std::string name = session.fileName();
    const uint32_t total = session.format().dataLength;
    const QStringList recent = w->config().recentFiles;
    QString error;
    const auto data = w->barMouse()->dragOut().prepare(2, &error);
    QVERIFY2(data != nullptr, qPrintable(error));
    const QString file = data->urls().first().toLocalFile();

    auto drop = [&](const QMimeData* mime) {
        const QPointF at(w->width() / 2.0, w->height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.form.get(), &enter);
        QDropEvent event(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.form.get(), &event);
        return enter.isAccepted();
    };
    QVERIFY(!drop(data.get()));
    QTRY_VERIFY_WITH_TIMEOUT(!session.busy(), 10000);
    QCOMPARE(session.fileName(), name);
    QCOMPARE(session.format().dataLength, total);
    QCOMPARE(w->config().recentFiles, recent);

    const QString copy = box.path("copied.wav");
    QVERIFY(QFile::copy(file, copy));
    QMimeData outside;
    outside.setUrls({QUrl::fromLocalFile(copy)});
    QVERIFY(drop(&outside));
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(QString::fromStdString(session.fileName())).fileName(), QString("copied.wav"), 10000);
}

static uitest::Register<ExportTest> registerExportTest;
#include "export_test.moc"

// "8 Bit" in the export's save dialog is the exported files' depth only: a plain Save afterwards
// writes the sample at its own 16 bits.
void ExportTest::anEightBitExportLeavesTheSamplesOwnDepth() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& session = w->session();
    QCOMPARE(int(session.format().saveBits), 16);
    const QString out = box.path("eight");
    QVERIFY(QDir().mkpath(out));
    {
        ModalScript script;
        answerKeymap(script, false, true);
        uitest::expect<ui::TSaveForm>(script, [&](ui::TSaveForm* dialog) {
            dialog->formatBox()->setCurrentIndex(0); // 8 Bit
            return uitest::chooseFile(dialog, out + "/loop.wav");
        });
        QVERIFY(uitest::run(*w.form, "SaveSegmentsInLoop1", script));
    }
    const QStringList files = wavesIn(out);
    QVERIFY(!files.isEmpty());
    QCOMPARE(int(readWave(out + "/" + files[0]).bits), 8);
    QCOMPARE(int(session.format().saveBits), 16);
    // Save As the sample itself: the dialog offers 16 bits, and the file is written at 16.
    const QString saved = box.path("whole.wav");
    {
        ModalScript script;
        int offered = -1;
        uitest::expect<ui::TSaveForm>(script, [&](ui::TSaveForm* dialog) {
            if (offered < 0) {
                offered = dialog->formatBox()->currentIndex();
            }
            return uitest::chooseFile(dialog, saved);
        });
        QVERIFY(uitest::run(*w.form, "SaveAs1", script));
        QCOMPARE(offered, 1);
    }
    QCOMPARE(int(readWave(saved).bits), 16);
}

// Zoom To Segment (toolbar and View menu) shows the selected segment, wherever the pointer is.
void ExportTest::zoomToSegmentZoomsToTheSelectedSegment() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& session = w->session();
    const auto& list = session.slicer().slicePoints();
    QVERIFY(list.count() > 4);
    QVERIFY(session.selection().selectSegment(1));
    w->action("ZoomToSegment1")->trigger();
    QCOMPARE(w->view().start, list.at(1).position & ~3u);
    QCOMPARE(w->view().end, slicing::segmentEnd(list, 1) & ~3u);
    QCOMPARE(session.slicer().selectedIndex, 1);
    // Another one, selected while zoomed in elsewhere.
    QVERIFY(session.selection().selectSegment(list.count() - 1));
    w->action("ZoomToSegment1")->trigger();
    QCOMPARE(w->view().start, list.at(list.count() - 1).position & ~3u);
}
