// The bars and beats controls with the tempo label, and the point-file dialogs with the locks they
// keep, driven through the window on the offscreen platform with the demo loop.
#include "ui/UiTest.h"
#include "ui/view/MouseTools.h"

#include "ui/window/BarsBeatsControl.h"
#include "ui/dialogs/BarsBeatsForm.h"
#include "ui/view/WaveBox.h"

#include <cmath>
#include <cstring>

using uitest::openDemo;
using uitest::expect;
using uitest::expectedTempo;
using uitest::tempoLabel;

namespace {

// Chooses `file` in the next file dialog; its title and filters go to `seen`.
void pickFile(ModalScript& script, const QString& file, QStringList& seen) {
    uitest::expect<QFileDialog>(script, [&seen, file](QFileDialog* dialog) {
        if (seen.isEmpty()) {
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            seen << dialog->windowTitle() << dialog->nameFilters().join(";;") << (name ? name->text() : QString("?"));
        }
        return uitest::chooseFile(dialog, file);
    });
}

} // namespace

class TempoPointsTest : public QObject {
    Q_OBJECT
private slots:
    void barsAndBeatsSetTheTempo();
    void pointFileRoundTripAndLocks();
};

void TempoPointsTest::barsAndBeatsSetTheTempo() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto* controls = w->barsBeats();
    auto* bars = w->findChild<QLabel*>("BarsLabel");
    auto* beats = w->findChild<QLabel*>("BeatsLabel");
    QCOMPARE(bars->text(), QString("0"));
    QCOMPARE(beats->text(), QString("0"));
    QCOMPARE(tempoLabel(*w.form), QString("0.000 BPM"));

    // The up-down controls: one bar, two bars, two bars and a beat, one bar and a beat.
    QTest::mouseClick(controls->upButton(true), Qt::LeftButton);
    QCOMPARE(bars->text(), QString("1"));
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 1, 0));
    QTest::mouseClick(controls->upButton(true), Qt::LeftButton);
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 2, 0));
    // The demo loop is two bars at 120 BPM.
    QVERIFY(std::abs(tempoLabel(*w.form).split(' ').first().toDouble() - 120.0) < 1.0);
    QTest::mouseClick(controls->upButton(false), Qt::LeftButton);
    QCOMPARE(beats->text(), QString("1"));
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 2, 1));
    QTest::mouseClick(controls->downButton(true), Qt::LeftButton);
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 1, 1));
    QCOMPARE(w->session().slicer().tempo().bars, 1);
    QCOMPARE(w->session().slicer().tempo().beats, 1);

    // Double click on the beats label: the dialog, filled in, with the beats field focused.
    ModalScript script;
    QStringList seen;
    expect<ui::TBarsBeatsForm>(script, [&](ui::TBarsBeatsForm* f) {
        seen << f->windowTitle() << f->barsEdit()->text() << f->beatsEdit()->text()
             << QString::number(f->focusWidget() == f->beatsEdit());
        f->barsEdit()->clear();
        QTest::keyClicks(f->barsEdit(), "3");
        f->beatsEdit()->clear();
        QTest::keyClicks(f->beatsEdit(), "2");
        QTest::keyClick(f->beatsEdit(), Qt::Key_Return);
        return true;
    });
    const int toolBefore = w->mouseTools()->tool();
    QTest::mouseDClick(beats, Qt::LeftButton);
    QCOMPARE(seen, (QStringList{"Change bars and beats", "1", "1", "1"}));
    QCOMPARE(bars->text(), QString("3"));
    // The digits went into the fields, not to the tool keys.
    QCOMPARE(w->mouseTools()->tool(), toolBefore);
    QCOMPARE(beats->text(), QString("2"));
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 3, 2));

    // From the tempo label: the bars field has the focus; an invalid pair and Enter do nothing,
    // Escape then closes without a change.
    bool stillOpen = false;
    expect<ui::TBarsBeatsForm>(script, [&](ui::TBarsBeatsForm* f) {
        seen = {QString::number(f->focusWidget() == f->barsEdit())};
        QTest::keyClicks(f->barsEdit(), "x");
        QTest::keyClick(f->barsEdit(), Qt::Key_Return);
        stillOpen = f->isVisible();
        QTest::keyClick(f->barsEdit(), Qt::Key_Escape);
        return true;
    });
    QTest::mouseDClick(w->findChild<QLabel*>("TempoLabel"), Qt::LeftButton);
    QCOMPARE(seen, QStringList{"1"});
    QVERIFY(stillOpen);
    QCOMPARE(bars->text(), QString("3"));
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 3, 2));

    // A valid pair is taken however the dialog closes.
    expect<ui::TBarsBeatsForm>(script, [&](ui::TBarsBeatsForm* f) {
        f->barsEdit()->clear();
        QTest::keyClicks(f->barsEdit(), "4");
        QTest::keyClick(f->barsEdit(), Qt::Key_Escape);
        return true;
    });
    QTest::mouseDClick(bars, Qt::LeftButton);
    QCOMPARE(bars->text(), QString("4"));
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 4, 2));

    // A new loop region gives a new tempo at once.
    auto& slicer = w->session().slicer();
    slicer.setLoop(0, slicer.right() / 2 / 4 * 4);
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 4, 2));

    // Nothing but zeros keeps the last tempo shown.
    const QString last = tempoLabel(*w.form);
    expect<ui::TBarsBeatsForm>(script, [&](ui::TBarsBeatsForm* f) {
        f->barsEdit()->clear();
        QTest::keyClicks(f->barsEdit(), "0");
        f->beatsEdit()->clear();
        QTest::keyClicks(f->beatsEdit(), "0");
        QTest::keyClick(f->beatsEdit(), Qt::Key_Enter);
        return true;
    });
    QTest::mouseDClick(bars, Qt::LeftButton);
    QCOMPARE(bars->text(), QString("0"));
    QCOMPARE(beats->text(), QString("0"));
    QCOMPARE(tempoLabel(*w.form), last);
    // Down from 0 stays at 0.
    QTest::mouseClick(controls->downButton(true), Qt::LeftButton);
    QCOMPARE(bars->text(), QString("0"));
}

void TempoPointsTest::pointFileRoundTripAndLocks() {
    Sandbox box;
    Window w;
    w->show();
    QVERIFY(!w->action("OpenPointFile1")->isEnabled());
    QVERIFY(!w->action("SavePointFile1")->isEnabled());
    QVERIFY(!w->action("LockAll1")->isEnabled());
    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()) && uitest::waitIdle(*w.form));
    QVERIFY(w->action("OpenPointFile1")->isEnabled());
    QVERIFY(w->action("SavePointFile1")->isEnabled());
    QVERIFY(w->action("LockAll1")->isEnabled());
    auto& slicer = w->session().slicer();
    QVERIFY(slicer.candidates().count() > 2);

    // Lock All locks exactly the points shown; they stay shown when the sensitivity drops.
    w->sensitivitySlider()->setValue(40000);
    const int shown = slicer.slicePoints().count();
    QVERIFY(shown > 0 && shown < slicer.candidates().count());
    w->action("LockAll1")->trigger();
    int locked = 0;
    for (int k = 1; k <= slicer.candidates().count(); ++k) {
        locked += slicer.candidates().at(k).locked;
    }
    QCOMPARE(locked, shown);
    w->sensitivitySlider()->setValue(0);
    QCOMPARE(slicer.slicePoints().count(), shown);

    // Save through the dialog.
    const QString file = box.path("points/loop.clx");
    QDir().mkpath(QFileInfo(file).absolutePath());
    const auto saved = slicer.snapshot();
    ModalScript script;
    QStringList seen;
    pickFile(script, file, seen);
    w->action("SavePointFile1")->trigger();
    // The sample's name is offered, in the sample's folder the first time.
    QCOMPARE(seen, (QStringList{"Save point file", "CX / Vantrel point files (*.clx)", "demo.clx"}));
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QCOMPARE(bytes.size(), qsizetype(98320));
    uint32_t count = 0;
    std::memcpy(&count, bytes.constData(), 4);
    QCOMPARE(int(count), saved.count);
    QCOMPARE(w->config().savePoint, QFileInfo(file).absolutePath());

    // Unlock All, then load the file back: the points and their locks return.
    w->action("UnlockAll1")->trigger();
    for (int k = 1; k <= slicer.candidates().count(); ++k) {
        QCOMPARE(int(slicer.candidates().at(k).locked), 0);
    }
    QCOMPARE(slicer.slicePoints().count(), 0);
    seen.clear();
    pickFile(script, file, seen);
    w->action("OpenPointFile1")->trigger();
    QCOMPARE(seen, (QStringList{"Load point file", "CX / Vantrel point files (*.clx);;All files (*)", "demo.clx"}));
    QCOMPARE(slicer.candidates().count(), saved.count);
    for (int k = 0; k <= saved.count + 1; ++k) {
        QVERIFY2(slicer.candidates().at(k) == saved.entries[size_t(k)], qPrintable(QString("entry %1").arg(k)));
    }
    QCOMPARE(slicer.slicePoints().count(), shown);
    QCOMPARE(w->config().openPoint, QFileInfo(file).absolutePath());

    // A file that is not a point file: the message, and the points stay as they were.
    const QString bad = box.path("points/bad.clx");
    QFile junk(bad);
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not points");
    junk.close();
    QStringList ignored;
    pickFile(script, bad, ignored);
    script.answer(QMessageBox::Ok);
    w->action("OpenPointFile1")->trigger();
    QVERIFY(uitest::settled(script, 5000));
    QCOMPARE(script.texts.value(0), QString(slicing::kMsgBadPointFile).replace("\r\n", "\n"));
    QCOMPARE(slicer.candidates().count(), saved.count);

    w->CloseFile();
    QVERIFY(!w->action("OpenPointFile1")->isEnabled());
    QVERIFY(!w->action("LockAll1")->isEnabled());
}

static uitest::Register<TempoPointsTest> registerTempoPointsTest;
#include "tempo_points_test.moc"
