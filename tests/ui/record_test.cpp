// The record command on the offscreen platform over the virtual wave devices: the "Record"
// dialog's states and texts, the LED ladder following a signal fed into the virtual input (the
// monitor capture while waiting, the recorder while recording), a take kept as "Untitled.wav" and
// a take discarded, the unsaved-changes question first, the "New Sample" dialog's rate check, a
// working folder running out of room, and the LED ladder's own arithmetic.
#include "ui/UiTest.h"
#include "ui/VirtualDevices.h"

#include "audio/VirtualWaveDevice.h"
#include "sample/FormatPosition.h"
#include "session/RecordTake.h"
#include "ui/commands/RecordCommands.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/ProcessForm.h"
#include "ui/platform/QtPrompter.h"
#include "ui/record/LedLadder.h"
#include "ui/record/NewSampleForm.h"
#include "ui/record/RecordForm.h"

#include <QRadioButton>
#include <QTimer>

#include <cmath>

namespace {

// A window whose session records from (and plays into) virtual devices the test can feed.
struct Recording {
    Recording() : w(uitest::virtualDeviceOptions(provider)) {}
    bool openDemo() {
        w->show();
        return uitest::openThroughMenu(*w.form, box.demoLoop()) && uitest::waitIdle(*w.form);
    }
    ui::TRecordForm* openDialog() {
        w->action("Record1")->trigger();
        auto* dialog = w->recordCommands()->dialog();
        if (dialog != nullptr) {
            uitest::waitFor([&] { return dialog->isVisible(); }, 5000);
        }
        return dialog;
    }
    // Feeds `bytes` into the virtual input as fast as its buffers come back.
    bool feed(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        return uitest::waitFor([&] {
            if (audio::VirtualWaveIn* in = provider->lastInput; in != nullptr && in->started()) {
                done += in->feed(bytes.data() + done, bytes.size() - done);
            }
            return done == bytes.size();
        }, 10000);
    }
    std::vector<uint8_t> storeBytes() {
        std::vector<uint8_t> out(w->session().format().dataLength);
        w->session().store().stream().readAt(0, out.data(), out.size());
        return out;
    }
    QString remainingText(ui::TRecordForm* d) { return d->remainingLabel()->text(); }

    Sandbox box;
    audio::VirtualDeviceProvider* provider = nullptr;
    Window w;
};

// Frames of a square wave of the given peak; each frame's samples differ, so a byte out of place shows.
std::vector<uint8_t> signal(size_t frames, uint16_t channels, int peak) {
    std::vector<uint8_t> out;
    out.reserve(frames * channels * 2);
    for (size_t f = 0; f < frames; ++f) {
        for (uint16_t c = 0; c < channels; ++c) {
            const int base = (f / 50) % 2 == 0 ? peak : -peak;
            const int value = base - int((f * 7 + c * 3) % 64) * (base > 0 ? 1 : -1);
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(value));
            out.push_back(uint8_t(v & 0xFF));
            out.push_back(uint8_t(v >> 8));
        }
    }
    return out;
}

// Drum-like hits a quarter of a second apart (at 22050 Hz): noise bursts that decay into near
// silence, which the slice search finds.
std::vector<uint8_t> hits(size_t frames, uint16_t channels) {
    std::vector<uint8_t> out;
    uint32_t noise = 12345;
    for (size_t f = 0; f < frames; ++f) {
        const size_t at = f % 5512;
        noise = noise * 1103515245u + 12345u;
        const double envelope = at < 2000 ? std::exp(-double(at) / 300.0) : 0.0;
        const int value = int((int((noise >> 16) & 0x7FFF) - 16384) * 1.8 * envelope);
        for (uint16_t c = 0; c < channels; ++c) {
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(value + int(f % 3)));
            out.push_back(uint8_t(v & 0xFF));
            out.push_back(uint8_t(v >> 8));
        }
    }
    return out;
}

int lit(const ui::TLedLadder* ladder) { return ladder->litCount(); }

} // namespace

class RecordTest : public QObject {
    Q_OBJECT
private slots:
    void ladderArithmeticAndColours();
    void commandEntriesAndDialogStates();
    void metersFollowTheInput();
    void keptTakeBecomesUntitledAndSaveAsksForAName();
    void closingWithoutRecordingOrDiscardingChangesNothing();
    void modifiedSampleIsAskedAboutFirst();
    void newSampleDialogChecksTheRate();
    void fullWorkingFolderStopsTheTake();
    void noInputMeansNoMonitoring();
};

void RecordTest::ladderArithmeticAndColours() {
    ui::TLedLadder ladder;
    QCOMPARE(ladder.Orientation(), Qt::Vertical);
    QCOMPARE(ladder.LedCount(), 10);
    QCOMPARE(ladder.Spacing(), 2);
    QCOMPARE(ladder.Max(), 10);
    QVERIFY(ladder.Ctl3D());
    QVERIFY(ladder.BorderSingle());
    QCOMPARE(ladder.size(), QSize(30, 200));
    ladder.setPosition(5);
    QCOMPARE(lit(&ladder), 5);
    // Ten LEDs: above 9 red, above 8 orange, else green; dark shades while unlit.
    const auto c = ui::LedColours::defaults();
    QCOMPARE(c.red, QColor(255, 0, 0));
    QCOMPARE(c.orange, QColor(255, 128, 0));
    QCOMPARE(c.green, QColor(0, 255, 0));
    QCOMPARE(c.darkRed, QColor(128, 0, 0));
    QCOMPARE(c.brown, QColor(168, 84, 0));
    QCOMPARE(c.darkGreen, QColor(0, 128, 0));
    QCOMPARE(ladder.ledColour(4), c.green);
    QCOMPARE(ladder.ledColour(5), c.darkGreen);
    QCOMPARE(ladder.ledColour(9), c.brown);
    ladder.setPosition(10);
    QCOMPARE(lit(&ladder), 10);
    QCOMPARE(ladder.ledColour(8), c.green);
    QCOMPARE(ladder.ledColour(9), c.orange);
    // 77 LEDs: t9 = 69, t8 = 62.
    ladder.setLedCount(77);
    ladder.setMax(50);
    ladder.setPosition(25);
    QCOMPARE(lit(&ladder), 39); // 38.5 to the nearest
    ladder.setPosition(50);
    QCOMPARE(ladder.ledColour(62), c.green);
    QCOMPARE(ladder.ledColour(63), c.orange);
    QCOMPARE(ladder.ledColour(69), c.orange);
    QCOMPARE(ladder.ledColour(70), c.red);
    // Beyond the range: all or nothing, never more LEDs than there are.
    ladder.setPosition(500);
    QCOMPARE(lit(&ladder), 77);
    ladder.setPosition(-5);
    QCOMPARE(lit(&ladder), 0);
    // A ladder with no range lights nothing and paints without dividing by zero.
    ladder.setMax(0);
    ladder.setPosition(3);
    QCOMPARE(lit(&ladder), 0);
    ladder.setLedCount(0);
    QCOMPARE(ladder.LedCount(), 1);
    ladder.setOrientation(Qt::Horizontal);
    ladder.resize(77, 10);
    const QImage picture = ladder.grab().toImage();
    QCOMPARE(picture.pixelColor(picture.width() / 2, picture.height() / 2), c.darkGreen);
    // Lit, painted: the middle of a full horizontal ladder without 3D frames.
    ladder.setLedCount(10);
    ladder.setMax(10);
    ladder.setPosition(10);
    ladder.setCtl3D(false);
    ladder.setSpacing(0);
    ladder.resize(100, 10);
    const QImage full = ladder.grab().toImage();
    QCOMPARE(full.pixelColor(5, 5), c.green);
    QCOMPARE(full.pixelColor(95, 5), c.orange);
    // Vertical ladders fill from the bottom up.
    ladder.setOrientation(Qt::Vertical);
    ladder.setPosition(5);
    ladder.resize(10, 100);
    const QImage column = ladder.grab().toImage();
    QCOMPARE(column.pixelColor(5, 95), c.green);
    QCOMPARE(column.pixelColor(5, 45), c.darkGreen);
    QCOMPARE(column.pixelColor(5, 5), c.brown);
}

void RecordTest::commandEntriesAndDialogStates() {
    Recording r;
    QVERIFY(r.openDemo());
    auto* menu = r.w->findChild<QMenu*>("FileMenu");
    QStringList items;
    for (QAction* a : menu->actions()) {
        items << a->text();
    }
    QVERIFY(items.indexOf("&Record...") == items.indexOf("Close") + 1);
    auto* button = r.w->recordCommands()->toolbarButton();
    QVERIFY(button != nullptr);
    QCOMPARE(button->defaultAction(), r.w->action("Record1"));
    QCOMPARE(button->parentWidget()->objectName(), QString("Panel4"));

    ui::TRecordForm* d = r.openDialog();
    QVERIFY(d != nullptr);
    QCOMPARE(d->windowTitle(), QString("Record"));
    // The loaded sample's format.
    QCOMPARE(d->sampleTypeLabel()->text(), QString("Sample Type: 16 Bit / 44100 hz stereo"));
    QCOMPARE(d->statusLabel()->text(), QString(" Waiting..."));
    QCOMPARE(d->LedLadder1()->LedCount(), 77);
    QCOMPARE(d->LedLadder1()->Orientation(), Qt::Horizontal);
    QCOMPARE(d->LedLadder1()->Spacing(), 0);
    QCOMPARE(d->LedLadder1()->Min(), 0);
    QCOMPARE(d->LedLadder1()->Max(), 32768); // the meter control's maximum
    QVERIFY(d->monitorCheckbox()->isChecked());
    QVERIFY(d->monitorCheckbox()->isEnabled());
    QCOMPARE(d->thresholdCheckbox()->text(), QString("Use Threshold"));
    QCOMPARE(d->supertimer1()->interval(), 100);
    QVERIFY(d->supertimer1()->isActive());
    QVERIFY(!d->stopButton()->isEnabled());
    QVERIFY(r.w->session().player().StoreBusy);

    d->armButton()->click();
    QCOMPARE(d->statusLabel()->text(), QString(" Armed"));
    QVERIFY(!d->armButton()->isEnabled());
    QVERIFY(!d->changeButton()->isEnabled());
    QVERIFY(d->recordButton()->isEnabled());
    QVERIFY(d->stopButton()->isEnabled());
    d->recordButton()->click();
    QCOMPARE(d->statusLabel()->text(), QString(" Recording"));
    for (QPushButton* b : {d->closeButton(), d->recordButton(), d->armButton(), d->changeButton()}) {
        QVERIFY2(!b->isEnabled(), qPrintable(b->text()));
    }
    QVERIFY(d->stopButton()->isEnabled());
    // Two of the recorder's 32768-byte buffers: "Recorded:" counts buffers written, in the current
    // units (the window's) and the take's format.
    QVERIFY(r.feed(signal(16384, 2, 9000)));
    const int units = r.w->config().units;
    QVERIFY(uitest::waitFor([&] {
        return d->recordedLabel()->text() == QString::fromStdString(sample::FormatPosition(65536, units, 16, 44100, 2));
    }, 3000));
    d->stopButton()->click();
    QCOMPARE(d->statusLabel()->text(), QString(" Waiting..."));
    for (QPushButton* b : {d->closeButton(), d->recordButton(), d->armButton()}) {
        QVERIFY2(b->isEnabled(), qPrintable(b->text()));
    }
    QVERIFY(!d->stopButton()->isEnabled());
    // Something is recorded in this format: the format stays.
    QVERIFY(!d->changeButton()->isEnabled());
    // Record again: the take goes on after what it has.
    d->recordButton()->click();
    QVERIFY(r.feed(signal(1000, 2, 9000)));
    d->stopButton()->click();
    QCOMPARE(d->recordedLabel()->text(),
             QString::fromStdString(sample::FormatPosition(65536 + 4000, units, 16, 44100, 2)));
    ModalScript script;
    script.answer(QMessageBox::Yes);
    d->reject();
    QCOMPARE(script.texts, QStringList{ui::kMsgDiscardTake});
    QVERIFY(r.w->recordCommands()->dialog() == nullptr);
    QVERIFY(!r.w->session().player().StoreBusy);
}

void RecordTest::metersFollowTheInput() {
    Recording r;
    QVERIFY(r.openDemo());
    ui::TRecordForm* d = r.openDialog();
    QVERIFY(d != nullptr);
    auto* ladder = d->LedLadder1();
    QCOMPARE(ladder->Position(), 0);
    // Waiting: the monitor capture feeds the meter.
    QVERIFY(r.provider->lastInput != nullptr && r.provider->lastInput->started());
    QVERIFY(r.feed(signal(8820, 2, 16384)));
    QVERIFY(uitest::waitFor([&] { return ladder->Position() == 16384; }, 3000));
    QCOMPARE(lit(ladder), 39); // half of 77, to the nearest
    // Unticked: the ladder goes to 0 and stays there.
    d->monitorCheckbox()->click();
    QCOMPARE(ladder->Position(), 0);
    QTest::qWait(250);
    QCOMPARE(ladder->Position(), 0);
    d->monitorCheckbox()->click();
    // Recording: the recorder's buffers feed it.
    d->recordButton()->click();
    QCOMPARE(d->statusLabel()->text(), QString(" Recording"));
    QVERIFY(r.feed(signal(22050, 2, 30000)));
    QVERIFY(uitest::waitFor([&] { return ladder->Position() == 30000; }, 3000));
    QCOMPARE(lit(ladder), int(std::lround(30000.0 / 32768 * 77)));
    QVERIFY(r.feed(signal(22050, 2, 3000)));
    QVERIFY(uitest::waitFor([&] { return ladder->Position() == 3000; }, 3000));
    d->stopButton()->click();
    ModalScript script;
    script.answer(QMessageBox::Yes);
    d->reject();
    QVERIFY(uitest::settled(script, 3000));
}

void RecordTest::keptTakeBecomesUntitledAndSaveAsksForAName() {
    Recording r;
    QVERIFY(r.openDemo());
    auto& session = r.w->session();
    const std::vector<uint8_t> before = r.storeBytes();
    ui::TRecordForm* d = r.openDialog();
    QVERIFY(d != nullptr);
    // Mono at 22050 Hz through the New Sample dialog.
    {
        ModalScript script;
        uitest::expect<ui::TNewSampleForm>(script, [](ui::TNewSampleForm* form) {
            form->rateList()->setCurrentIndex(form->rateList()->findText("22050"));
            form->monoButton()->setChecked(true);
            uitest::acceptLater(form);
            return true;
        });
        d->changeButton()->click();
        QCOMPARE(script.pending(), 0);
    }
    QCOMPARE(d->sampleTypeLabel()->text(), QString("Sample Type: 16 Bit / 22050 hz mono"));
    const std::vector<uint8_t> take = hits(30000, 1);
    d->recordButton()->click();
    QVERIFY(r.feed(take));
    // The loaded sample is untouched while recording.
    QCOMPARE(r.storeBytes(), before);
    d->stopButton()->click();
    // The times count in the take's own format (22050 Hz mono), not in 44100 Hz stereo.
    const int units = r.w->config().units;
    QCOMPARE(d->recordedLabel()->text(),
             QString::fromStdString(sample::FormatPosition(uint32_t(take.size()), units, 16, 22050, 1)));
    QVERIFY(!d->remainingLabel()->text().isEmpty());
    // Keeping shows the "Processing" window while the picture is built and the slices searched.
    QStringList shown;
    auto* progress = r.w->processForm();
    progress->onVisibility = [&shown, progress, previous = progress->onVisibility](bool on) {
        if (on) {
            shown << progress->windowTitle() + ": " + progress->Label1()->text();
        }
        if (previous) {
            previous(on);
        }
    };
    d->closeButton()->click();
    QVERIFY(uitest::waitLoaded(*r.w.form));
    QVERIFY(uitest::waitIdle(*r.w.form));
    // The previous sample's undo copy comes first, then the picture, in one showing of the window.
    QVERIFY2(shown.value(0) == "Processing: Creating undo file...", qPrintable(shown.join(", ")));
    QVERIFY2(shown.contains("Processing: Scanning for slices..."), qPrintable(shown.join(", ")));
    const auto& f = session.format();
    QCOMPARE(f.sampleRate, 22050u);
    QCOMPARE(f.channels, uint16_t(1));
    QCOMPARE(f.bitsPerSample, uint16_t(16));
    QCOMPARE(f.bytesPerSecond, 44100u);
    QCOMPARE(f.dataLength, uint32_t(take.size()));
    QVERIFY(r.storeBytes() == take);
    QCOMPARE(r.w->windowTitle(), QString("Untitled.wav* - Cleavix"));
    QCOMPARE(session.peaks().entries(), (take.size() + 127) / 128);
    QCOMPARE(r.w->view().end, uint32_t(take.size()));
    // Scanning on load is on: the take was searched for slice points.
    QVERIFY(session.slicer().candidates().count() > 0);
    QVERIFY(session.editor().undoAvailable());
    QVERIFY(uitest::waitFor([&] { return r.w->action("Undo1")->isEnabled(); }, 3000));
    QVERIFY(!session.player().StoreBusy);

    // Save asks for a name, offering "Untitled.wav".
    const QString saved = r.box.path("take.wav");
    ModalScript script;
    QString offered;
    uitest::expect<ui::TSaveForm>(script, [&](ui::TSaveForm* dialog) {
        if (offered.isEmpty()) {
            offered = dialog->selectedFiles().value(0);
        }
        return uitest::chooseFile(dialog, saved);
    });
    QVERIFY(uitest::run(*r.w.form, "Save1", script));
    QCOMPARE(QFileInfo(offered).fileName(), QString("Untitled.wav"));
    QCOMPARE(QFileInfo(saved).size(), qint64(44 + take.size()));
    QCOMPARE(r.w->windowTitle(), QString("take.wav - Cleavix"));

    // Undo gives the demo loop back.
    r.w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*r.w.form));
    QCOMPARE(session.format().sampleRate, 44100u);
    QVERIFY(r.storeBytes() == before);
}

void RecordTest::closingWithoutRecordingOrDiscardingChangesNothing() {
    Recording r;
    QVERIFY(r.openDemo());
    auto& session = r.w->session();
    const std::vector<uint8_t> before = r.storeBytes();
    const QString title = r.w->windowTitle();
    // Close with nothing recorded.
    ui::TRecordForm* d = r.openDialog();
    QVERIFY(d != nullptr);
    d->armButton()->click();
    d->closeButton()->click();
    QVERIFY(r.w->recordCommands()->dialog() == nullptr);
    QVERIFY(uitest::waitIdle(*r.w.form));
    QCOMPARE(r.storeBytes(), before);
    QCOMPARE(r.w->windowTitle(), title);
    QVERIFY(!session.player().StoreBusy);
    QVERIFY(!session.editor().undoAvailable());

    // Recorded, then Escape: asked, "No" stays, "Yes" goes without keeping.
    d = r.openDialog();
    QVERIFY(d != nullptr);
    d->recordButton()->click();
    QVERIFY(r.feed(signal(5000, 2, 8000)));
    {
        ModalScript script;
        script.answer(QMessageBox::No);
        QTest::keyClick(d, Qt::Key_Escape);
        QCOMPARE(script.texts, QStringList{ui::kMsgDiscardTake});
    }
    QVERIFY(d->isVisible());
    QCOMPARE(d->statusLabel()->text(), QString(" Waiting..."));
    {
        ModalScript script;
        script.answer(QMessageBox::Yes);
        d->close();
        QCOMPARE(script.texts, QStringList{ui::kMsgDiscardTake});
    }
    QVERIFY(r.w->recordCommands()->dialog() == nullptr);
    QVERIFY(uitest::waitIdle(*r.w.form));
    QCOMPARE(r.storeBytes(), before);
    QCOMPARE(r.w->windowTitle(), title);
    QCOMPARE(session.format().sampleRate, 44100u);
    QVERIFY(!session.editor().undoAvailable());
}

void RecordTest::modifiedSampleIsAskedAboutFirst() {
    Recording r;
    QVERIFY(r.openDemo());
    auto& session = r.w->session();
    session.setModified(true);
    const std::vector<uint8_t> before = r.storeBytes();
    const std::vector<uint8_t> take = signal(6000, 2, 7000);
    auto recordAndClose = [&] {
        ui::TRecordForm* d = r.openDialog();
        QVERIFY(d != nullptr);
        d->recordButton()->click();
        QVERIFY(r.feed(take));
        d->stopButton()->click();
        d->closeButton()->click();
    };
    // Cancel: nothing changes.
    {
        ModalScript script;
        script.answer(QMessageBox::Cancel);
        recordAndClose();
        QVERIFY(uitest::settled(script, 5000));
        QCOMPARE(script.texts, QStringList{"Save changes to " + r.box.path("demo.wav") + "?"});
    }
    QVERIFY(uitest::waitIdle(*r.w.form));
    QCOMPARE(r.storeBytes(), before);
    QVERIFY(session.modified());
    // No: the take replaces the sample, which undo gives back.
    {
        ModalScript script;
        script.answer(QMessageBox::No);
        recordAndClose();
        QVERIFY(uitest::settled(script, 5000));
    }
    QVERIFY(uitest::waitIdle(*r.w.form));
    QVERIFY(r.storeBytes() == take);
    QCOMPARE(r.w->windowTitle(), QString("Untitled.wav* - Cleavix"));
    QVERIFY(uitest::waitFor([&] { return r.w->action("Undo1")->isEnabled(); }, 3000));
    r.w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*r.w.form));
    QCOMPARE(session.format().dataLength, uint32_t(before.size()));
    QVERIFY(r.storeBytes() == before);
}

void RecordTest::newSampleDialogChecksTheRate() {
    Recording r;
    r.w->show();
    // Nothing loaded: 44100 Hz mono.
    ui::TRecordForm* d = r.openDialog();
    QVERIFY(d != nullptr);
    QCOMPARE(d->sampleTypeLabel()->text(), QString("Sample Type: 16 Bit / 44100 hz mono"));
    ModalScript script;
    QStringList rates;
    QString bits;
    bool monoFirst = false;
    QString afterBad;
    QString afterHigh;
    auto tryRate = [&](const QString& text, QString* shownAfter) {
        uitest::expect<ui::TNewSampleForm>(script, [&, text, shownAfter](ui::TNewSampleForm* form) {
            if (shownAfter != nullptr && rates.isEmpty()) {
                for (int i = 0; i < form->rateList()->count(); ++i) {
                    rates << form->rateList()->itemText(i);
                }
                bits = form->bitsList()->currentText();
                monoFirst = form->monoButton()->isChecked();
            }
            if (shownAfter == nullptr) {
                form->stereoButton()->setChecked(true);
            }
            form->rateList()->setEditText(text);
            uitest::acceptLater(form);
            return true;
        });
        if (shownAfter != nullptr) {
            script.answer(QMessageBox::Ok);
            uitest::expect<ui::TNewSampleForm>(script, [&, shownAfter](ui::TNewSampleForm* form) {
                *shownAfter = form->rateList()->currentText();
                return true; // looked at; the next handler acts on it
            });
        }
    };
    tryRate("fast", &afterBad);
    tryRate("300000", &afterHigh);
    tryRate("32000", nullptr);
    d->changeButton()->click();
    QCOMPARE(script.pending(), 0);
    QCOMPARE(rates, (QStringList{"11025", "22050", "44100", "48000"}));
    QCOMPARE(bits, QString("16"));
    QVERIFY(monoFirst);
    QCOMPARE(script.texts, (QStringList{ui::kMsgInvalidRate, ui::kMsgInvalidRate}));
    QCOMPARE(afterBad, QString("44100"));
    QCOMPARE(afterHigh, QString("44100"));
    QCOMPARE(d->sampleTypeLabel()->text(), QString("Sample Type: 16 Bit / 32000 hz stereo"));
    // An unlisted rate preselects 44100 the next time.
    ModalScript again;
    QString preselected;
    uitest::expect<ui::TNewSampleForm>(again, [&](ui::TNewSampleForm* form) {
        preselected = form->rateList()->currentText();
        uitest::rejectLater(form);
        return true;
    });
    d->changeButton()->click();
    QCOMPARE(preselected, QString("44100"));
    QCOMPARE(d->sampleTypeLabel()->text(), QString("Sample Type: 16 Bit / 32000 hz stereo"));
    d->closeButton()->click();
    QVERIFY(!r.w->session().loaded());
    QVERIFY(!r.w->session().busy());

    // A take kept with nothing loaded: the new sample, with nothing to undo.
    d = r.openDialog();
    QVERIFY(d != nullptr);
    QCOMPARE(d->sampleTypeLabel()->text(), QString("Sample Type: 16 Bit / 44100 hz mono"));
    const std::vector<uint8_t> take = hits(16384, 1);
    d->recordButton()->click();
    QVERIFY(r.feed(take));
    d->stopButton()->click();
    d->closeButton()->click();
    QVERIFY(uitest::waitLoaded(*r.w.form));
    QVERIFY(uitest::waitIdle(*r.w.form));
    QVERIFY(r.storeBytes() == take);
    QCOMPARE(r.w->session().format().bytesPerSecond, 88200u);
    QCOMPARE(r.w->windowTitle(), QString("Untitled.wav* - Cleavix"));
    QVERIFY(!r.w->session().editor().undoAvailable());
}

void RecordTest::fullWorkingFolderStopsTheTake() {
    Recording r;
    QVERIFY(r.openDemo());
    ui::TRecordForm* d = r.openDialog();
    QVERIFY(d != nullptr);
    session::RecordTake* take = r.w->recordCommands()->take();
    QVERIFY(take != nullptr);
    uint64_t room = 1 << 30;
    take->freeSpaceProbe = [&room] { return room; };
    d->recordButton()->click();
    const std::vector<uint8_t> part = signal(16384, 2, 5000); // two whole buffers
    QVERIFY(r.feed(part));
    QVERIFY(uitest::waitFor([&] { return take->recordedBytes() == part.size(); }, 3000));
    ModalScript script;
    script.answer(QMessageBox::Ok);
    room = session::kRecordReserveBytes - 1;
    QVERIFY(uitest::waitFor([&] { return d->statusLabel()->text() == " Waiting..."; }, 3000));
    QVERIFY(uitest::settled(script, 3000));
    QCOMPARE(script.texts, QStringList{ui::messageText(session::kMsgRecordDiskFull)});
    QVERIFY(d->closeButton()->isEnabled());
    QVERIFY(!d->stopButton()->isEnabled());
    QVERIFY(take->stoppedForSpace());
    d->closeButton()->click();
    QVERIFY(uitest::waitLoaded(*r.w.form));
    QVERIFY(uitest::waitIdle(*r.w.form));
    QVERIFY(r.storeBytes() == part);
}

void RecordTest::noInputMeansNoMonitoring() {
    Recording r;
    QVERIFY(r.openDemo());
    r.provider->refuseWith = audio::kWaveAllocated;
    ui::TRecordForm* d = r.openDialog();
    QVERIFY(d != nullptr);
    QVERIFY(!d->monitorCheckbox()->isChecked());
    QVERIFY(!d->monitorCheckbox()->isEnabled());
    QTest::qWait(250);
    QCOMPARE(d->LedLadder1()->Position(), 0);
    // Arming reports the device's refusal and stays waiting.
    ModalScript script;
    script.answer(QMessageBox::Ok);
    d->armButton()->click();
    QCOMPARE(script.pending(), 0);
    QCOMPARE(d->statusLabel()->text(), QString(" Waiting..."));
    QVERIFY(d->armButton()->isEnabled());
    d->closeButton()->click();
    QVERIFY(!r.w->session().player().StoreBusy);
}

static uitest::Register<RecordTest> registerRecordTest;
#include "record_test.moc"
