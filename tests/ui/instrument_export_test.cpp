// Save Segments in Loop with the instrument files of the key-map dialog: the SFZ instrument, the
// MIDI file and the Hydrogen kit written beside the slices, a refusal shown before anything is
// written, and the dialog's names and folders.
#include "ui/UiTest.h"
#include "ui/window/StartForm.h"

#include "slicing/export/MidiFileWriter.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/KeymapForm.h"

#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QMessageBox>

using cleavix::uitest::answerSave;
using cleavix::uitest::openDemoWithPoints;

namespace {

// The key-map dialog with the instrument files checked and named as given (empty: unchecked).
void answerKeymap(ModalScript& script, const QString& sfz, const QString& midi, const QString& kit) {
    uitest::expect<ui::TForm6>(script, [=](ui::TForm6* form) {
        form->smoothBox()->setChecked(false);
        form->sfzBox()->setChecked(!sfz.isEmpty());
        form->sfzEdit()->setText(sfz);
        form->midiBox()->setChecked(!midi.isEmpty());
        form->midiEdit()->setText(midi);
        form->kitBox()->setChecked(!kit.isEmpty());
        form->kitEdit()->setText(kit);
        uitest::acceptLater(form);
        return true;
    });
}

QString text(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class InstrumentExportTest : public QObject {
    Q_OBJECT
private slots:
    void writesTheInstrumentFilesBesideTheSlices();
    void aRefusalIsShownAndNothingIsWritten();
    void dialogOffersTheFilesInEditorModeOnly();
    void saveRegionAtTempoRendersAtTheToolbarsTempo();
};

void InstrumentExportTest::writesTheInstrumentFilesBesideTheSlices() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& slicer = w->session().slicer();
    QVERIFY(slicer.setBarsAndBeats("1", "0"));
    const QString slices = box.path("slices");
    const QString elsewhere = box.path("midi");
    QVERIFY(QDir().mkpath(slices));
    QVERIFY(QDir().mkpath(elsewhere));
    ModalScript script;
    answerKeymap(script, "inst.sfz", elsewhere + "/loop.mid", "kit");
    answerSave(script, slices + "/loop.wav");
    w->action("SaveSegmentsInLoop1")->trigger();
    QVERIFY(uitest::settled(script));
    QVERIFY(uitest::waitFor([&] { return QFileInfo(elsewhere + "/loop.mid").isFile(); }));
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY2(script.texts.isEmpty(), qPrintable(script.texts.join(" | ")));
    const QStringList waves = QDir(slices).entryList({"loop*.wav"}, QDir::Files, QDir::Name);
    QCOMPARE(waves.size(), slicer.slicePoints().count() + 1);
    // The SFZ beside the slices names them by their own names; the kit holds its own copies.
    const QString sfz = text(slices + "/inst.sfz");
    QCOMPARE(sfz.count("<region> "), waves.size());
    QVERIFY(sfz.contains("sample=" + waves.first() + "\n"));
    QVERIFY(QFileInfo(slices + "/kit/drumkit.xml").isFile());
    for (const QString& wave : waves) {
        QVERIFY2(QFileInfo(slices + "/kit/" + wave).isFile(), qPrintable(wave));
    }
    QCOMPARE(text(slices + "/kit/drumkit.xml").count("<instrument>"), waves.size());
    // The folders the files went into are where their browse buttons start next time.
    const auto& config = w->config();
    QCOMPARE(QDir(config.saveSFDir).canonicalPath(), QDir(slices).canonicalPath());
    QCOMPARE(QDir(config.saveMidDir).canonicalPath(), QDir(elsewhere).canonicalPath());
    QCOMPARE(QDir(config.saveTrkDir).canonicalPath(), QDir(slices).canonicalPath());
}

void InstrumentExportTest::aRefusalIsShownAndNothingIsWritten() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    QVERIFY(w->session().slicer().setBarsAndBeats("0", "0"));
    const QString slices = box.path("refused");
    QVERIFY(QDir().mkpath(slices));
    ModalScript script;
    answerKeymap(script, "inst.sfz", "loop.mid", "");
    answerSave(script, slices + "/loop.wav");
    script.answer(QMessageBox::Ok);
    QVERIFY(uitest::run(*w.form, "SaveSegmentsInLoop1", script));
    QCOMPARE(script.texts.size(), 1);
    QCOMPARE(script.texts[0], QString(slicing::instrument::kMsgMidiNoTempo));
    QVERIFY(QDir(slices).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

void InstrumentExportTest::dialogOffersTheFilesInEditorModeOnly() {
    ui::KeymapSettings k;
    k.bankName = "Breaks";
    ui::TForm6 editor(k, ui::TForm6::Mode::Editor, 8);
    QVERIFY(!editor.findChild<QGroupBox*>("InstrumentGroup")->isHidden());
    QCOMPARE(editor.sfzEdit()->text(), QString("Breaks.sfz"));
    QCOMPARE(editor.midiEdit()->text(), QString("Breaks.mid"));
    QCOMPARE(editor.kitEdit()->text(), QString("Breaks"));
    QVERIFY(!editor.sfzEdit()->isEnabled());
    editor.sfzBox()->setChecked(true);
    QVERIFY(editor.sfzEdit()->isEnabled());
    QVERIFY(editor.findChild<QPushButton*>("SfzBrowse")->isEnabled());
    const ui::KeymapSettings chosen = editor.settings();
    QVERIFY(chosen.instruments.sfz && !chosen.instruments.midi && !chosen.instruments.kit);
    QCOMPARE(chosen.instruments.sfzName, QString("Breaks.sfz"));
    // Offered again as chosen.
    ui::TForm6 again(chosen, ui::TForm6::Mode::Editor, 8);
    QVERIFY(again.sfzBox()->isChecked());
    ui::TForm6 batch(k, ui::TForm6::Mode::Batch, 3);
    QVERIFY(batch.findChild<QGroupBox*>("InstrumentGroup")->isHidden());
}

// Save Region at Tempo: "Own" writes the loop region itself; twice the tempo, half its length; no
// tempo is refused with the reason.
void InstrumentExportTest::saveRegionAtTempoRendersAtTheToolbarsTempo() {
    Sandbox box;
    Window w;
    QVERIFY(openDemoWithPoints(*w.form, box));
    auto& session = w->session();
    auto& slicer = session.slicer();
    auto* tempoBox = w->findChild<QDoubleSpinBox*>("TempoBox");
    QVERIFY(tempoBox != nullptr);
    QCOMPARE(tempoBox->text(), QString("Own"));
    QVERIFY(slicer.setBarsAndBeats("0", "0"));
    {
        ModalScript script;
        answerSave(script, box.path("none.wav"));
        script.answer(QMessageBox::Ok);
        w->action("SaveRegionAtTempo1")->trigger();
        QVERIFY(uitest::settled(script));
        QCOMPARE(script.texts.size(), 1);
        QVERIFY2(script.texts[0].contains("no tempo"), qPrintable(script.texts[0]));
        QVERIFY(!QFileInfo(box.path("none.wav")).exists());
    }
    QVERIFY(slicer.setBarsAndBeats("1", "0"));
    const uint32_t loopBytes = slicer.right() - slicer.left();
    auto render = [&](double tempo, const QString& file) {
        tempoBox->setValue(tempo);
        ModalScript script;
        answerSave(script, file);
        w->action("SaveRegionAtTempo1")->trigger();
        return uitest::settled(script) && uitest::waitIdle(*w.form) &&
               script.texts.isEmpty();
    };
    QVERIFY(render(0.0, box.path("own.wav")));
    QFile own(box.path("own.wav"));
    QVERIFY(own.open(QIODevice::ReadOnly));
    const QByteArray ownData = own.readAll().mid(44);
    QCOMPARE(qint64(ownData.size()), qint64(loopBytes - loopBytes % 4));
    std::vector<char> region(ownData.size());
    session.store().stream().readAt(slicer.left() & ~3u, region.data(), region.size());
    QVERIFY(ownData == QByteArray(region.data(), qsizetype(region.size())));
    QVERIFY(render(double(slicer.tempo().tempo) * 2, box.path("fast.wav")));
    const qint64 fastBytes = QFileInfo(box.path("fast.wav")).size() - 44;
    QVERIFY2(std::abs(fastBytes - qint64(ownData.size()) / 2) <= 4, qPrintable(QString::number(fastBytes)));
}

static uitest::Register<InstrumentExportTest> registerInstrumentExportTest;

#include "instrument_export_test.moc"
