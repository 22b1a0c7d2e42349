// The Sampler menu and the transfer dialogs, driven through the window on the offscreen platform
// with profiles bound to the emulated samplers (the SDS sampler and the Yamaha key-map listener on
// the virtual MIDI ports; the S2000, a generic SMDI sampler and an E-mu on the virtual SCSI bus).
#include "ui/UiTest.h"

#include "sampler/virtual/MidiBackendList.h"
#include "sampler/virtual/VirtualAkaiSampler.h"
#include "sampler/virtual/VirtualSdsSampler.h"
#include "sampler/virtual/VirtualSmdiSampler.h"
#include "sampler/virtual/VirtualYamahaListener.h"
#include "session/SamplerTransfer.h"
#include "slicing/Slicer.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/sampler/BatchTrans.h"
#include "ui/sampler/SMDIForm.h"
#include "ui/sampler/SReqForm.h"
#include "ui/sampler/SamplerCommands.h"

#include <QTreeWidget>

namespace {

// A wait longer than this is a hang: the test fails instead.
constexpr int kWatchdogMs = 8000;

struct Rig {
    Sandbox box;
    std::shared_ptr<sampler::virt::VirtualSdsSampler> sds = std::make_shared<sampler::virt::VirtualSdsSampler>("", "");
    std::shared_ptr<sampler::scsi::VirtualAkaiSampler> akai = std::make_shared<sampler::scsi::VirtualAkaiSampler>("");
    std::shared_ptr<sampler::scsi::VirtualSmdiSampler> smdi = std::make_shared<sampler::scsi::VirtualSmdiSampler>();
    std::shared_ptr<sampler::scsi::VirtualSmdiSampler> emu =
        std::make_shared<sampler::scsi::VirtualSmdiSampler>(sampler::scsi::VirtualSmdiSampler::Flavour::Emu);
    std::shared_ptr<sampler::virt::VirtualYamahaListener> yamaha =
        std::make_shared<sampler::virt::VirtualYamahaListener>(sampler::virt::VirtualYamahaListener::Model::A3000);
    std::unique_ptr<uitest::Window> window;

    Rig() {
        sampler::profiles::ProfileStore store(box.configFile().toStdString());
        sampler::SamplerProfile sdsProfile;
        sdsProfile.midiInput = sdsProfile.midiOutput = 1; // after the virtual cable
        sdsProfile.sampleNumberOffset = 1;
        store.store("A SDS", sdsProfile);
        sampler::SamplerProfile akaiProfile;
        akaiProfile.deviceType = 5;
        akaiProfile.scsiDevice = sampler::scsi::VirtualAkaiSampler::kDefaultId;
        store.store("B Akai", akaiProfile);
        sampler::SamplerProfile emuProfile;
        emuProfile.deviceType = 4;
        emuProfile.scsiInUse = 1;
        emuProfile.scsiDevice = sampler::scsi::VirtualSmdiSampler::kEmuId;
        emuProfile.sampleNumberOffset = 1;
        store.store("C E-mu", emuProfile);
        sampler::SamplerProfile yamahaProfile;
        yamahaProfile.deviceType = 2; // A3000
        yamahaProfile.scsiInUse = yamahaProfile.midiOutInUse = 1;
        yamahaProfile.scsiDevice = sampler::scsi::VirtualSmdiSampler::kGenericId;
        yamahaProfile.midiOutput = 2; // the listener, after the cable and the SDS sampler
        store.store("D Yamaha", yamahaProfile);
        ui::StartOptions options;
        options.backends = [this] {
            session::Backends b;
            auto midi = sampler::virt::makeVirtualMidiBackend(sds);
            midi->addEndpoint(yamaha);
            b.midi = {midi};
            b.systemScsi = false;
            b.scsiBus = std::make_shared<sampler::scsi::VirtualScsiBus>();
            b.scsiBus->attach(sampler::scsi::VirtualAkaiSampler::kDefaultId, akai);
            b.scsiBus->attach(sampler::scsi::VirtualSmdiSampler::kGenericId, smdi);
            b.scsiBus->attach(sampler::scsi::VirtualSmdiSampler::kEmuId, emu);
            return b;
        };
        window = std::make_unique<uitest::Window>(options);
    }
    ui::TMainForm& w() { return *window->form; }
    session::SamplerTransfer& sampler() { return w().session().sampler(); }
    ui::TSMDIForm& transfer() { return *w().samplerCommands()->transferDialog(); }
    ui::TBatchTrans& batch() { return *w().samplerCommands()->batchDialog(); }
    bool open() { return uitest::openDemo(w(), box); }
    // Runs events until the transfer has ended and the session is idle.
    bool settle() {
        return uitest::waitFor([&] { return !sampler().running() && !w().session().busy(); }, kWatchdogMs);
    }
    // Clicks `button`, answers the message box that follows with OK, and gives its text once the
    // transfer has ended.
    QStringList clickAnswering(QPushButton* button) {
        ModalScript script;
        script.answer(QMessageBox::Ok);
        button->click();
        if (!settle() || !uitest::settled(script, kWatchdogMs)) {
            return {"(no end)"};
        }
        return script.texts;
    }
    bool windowEnabled() { return w().menuBar()->isEnabled() && w().centralWidget()->isEnabled(); }
    QString wave(const QString& name, const std::vector<int16_t>& samples) {
        return uitest::writeWave(box.path(name), 1, samples);
    }
};

void selectProfile(ui::TransferDialogBase& dialog, int index) { dialog.profileBox()->setCurrentIndex(index); }

// Slices the demo loop and writes the slices with Save Segments in Loop; their files in order.
QStringList exportSlices(Rig& rig, int count) {
    auto& slicer = rig.w().session().slicer();
    rig.w().sensitivitySlider()->setValue(65000);
    const QString out = rig.box.path("slices");
    QDir().mkpath(out);
    slicing::ExportReport report;
    bool exported = false;
    if (slicer.slicePoints().count() <= 3 ||
        !slicer.saveSegmentsInLoop((out + "/slice.wav").toStdString(), 16, [&](const slicing::ExportReport& r) {
            report = r;
            exported = true;
        })) {
        return {};
    }
    if (!uitest::waitFor([&] { return exported && !rig.w().session().busy(); }, kWatchdogMs) ||
        int(report.written.size()) < count) {
        return {};
    }
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << QString::fromStdString(report.written[size_t(i)]);
    }
    return files;
}

// The progress texts a transfer shows in the dialog, recorded as they come.
QStringList* recordStatus(Rig& rig) {
    auto* seen = new QStringList;
    auto& sampler = rig.sampler();
    auto shown = sampler.onStatus;
    sampler.onStatus = [seen, shown](const std::string& text) {
        *seen << QString::fromStdString(text);
        if (shown) {
            shown(text);
        }
    };
    return seen;
}

} // namespace

class TransferTest : public QObject {
    Q_OBJECT
private slots:
    void samplerMenuItemsAndToolbarButton();
    void sendRegionOverSdsAndAkai();
    void requestIntoTheEditorThenUndo();
    void waitForSendTakesTheSamplersDump();
    void listingRowsAndFetch();
    void batchOfExportedSlicesWithNumbers();
    void batchToTheAkaiWithAutoMap();
    void batchOfSlicesToTheEmuWithKeyRanges();
    void batchOfSlicesToAYamahaSendsItsKeyMapByMidi();
    void batchKeyMapDialogRefusesKeysPastTheTop();
    void injectedFaultsEndWithTheWindowEnabled();
};

void TransferTest::samplerMenuItemsAndToolbarButton() {
    Rig rig;
    auto* transfer = rig.w().action("SampleTransfer1");
    QVERIFY(transfer);
    QCOMPARE(transfer->text(), QString("Sample &Transfer"));
    QCOMPARE(transfer->shortcut(), QKeySequence("Ctrl+I"));
    QCOMPARE(transfer->statusTip(), QString("Show sampler transfer dialog"));
    auto* manager = rig.w().action("ProfileManager1");
    QCOMPARE(manager->shortcut(), QKeySequence("Ctrl+D"));
    QCOMPARE(manager->statusTip(), QString("Show sampler profile manager"));
    QVERIFY(manager->isEnabled());
    QCOMPARE(rig.w().action("BatchTransfer1")->statusTip(), QString("Show batch transfer dialog"));
    auto* button = rig.w().action("SampleTransferButton");
    QCOMPARE(button->toolTip(), QString("Sample Transfer"));
    QCOMPARE(button->statusTip(), QString("Show the sample transfer dialog"));
    auto* fileBar = rig.w().findChild<QToolBar*>("Panel3");
    QVERIFY(fileBar->actions().contains(button));
    auto* menu = rig.w().findChild<QMenu*>("SamplerMenu");
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 3);

    QVERIFY(rig.open());
    ModalScript script;
    QString caption;
    QString receiveText;
    uitest::expect<ui::TSMDIForm>(script, [&](ui::TSMDIForm* form) {
        caption = form->windowTitle();
        receiveText = form->receiveButton()->text();
        if (!form->sendButton()->isEnabled() || form->statusLabel()->text() != "Inactive") {
            caption = "wrong";
        }
        form->okButton()->click();
        return true;
    });
    button->trigger();
    QVERIFY(uitest::settled(script, kWatchdogMs));
    QCOMPARE(caption, QString("Sampler Transfer"));
    QCOMPARE(receiveText, QString("Wait For Send"));
}

void TransferTest::sendRegionOverSdsAndAkai() {
    Rig rig;
    QVERIFY(rig.open());
    auto& session = rig.w().session();
    session.slicer().setLoop(4000, 8000);
    auto& dialog = rig.transfer();
    dialog.show();
    selectProfile(dialog, 0);
    dialog.positionBox()->setValue(9);
    QVERIFY(dialog.channelBox()->isHidden()); // both channels in view
    QCOMPARE(rig.clickAnswering(dialog.sendButton()), QStringList{"Transfer complete!"});
    const auto held = rig.sds->sample(10);
    QVERIFY(held);
    QCOMPARE(int(held->samples.size()), 1000); // (8000 - 4000) div 8 x 4 bytes of one channel
    QVERIFY(rig.windowEnabled());
    QVERIFY(dialog.sendButton()->isEnabled());
    dialog.hide();

    // One channel in view: only the right channel goes, to the Akai (which takes mono).
    rig.w().action("LeftChannel1")->setChecked(false);
    dialog.show();
    QVERIFY(dialog.channelBox()->isVisible());
    QCOMPARE(dialog.channelBox()->currentIndex(), 1);
    selectProfile(dialog, 1);
    QCOMPARE(dialog.receiveButton()->text(), QString("List Samples"));
    QCOMPARE(rig.clickAnswering(dialog.sendButton()), QStringList{"Transfer complete!"});
    const auto samples = rig.akai->samples();
    QCOMPARE(int(samples.size()), 1);
    QCOMPARE(int(samples[0].data.size()), 2 * (1000 - 1));
    std::vector<int16_t> right(2);
    session.store().readSamples(4002, right.data(), 1);
    session.store().readSamples(4006, right.data() + 1, 1);
    QCOMPARE(int16_t(samples[0].data[0] | (samples[0].data[1] << 8)), right[0]);
    QCOMPARE(int16_t(samples[0].data[2] | (samples[0].data[3] << 8)), right[1]);
    QCOMPARE(QString::fromStdString(samples[0].name).trimmed(), QString("DEMO"));
    dialog.hide();
}

void TransferTest::requestIntoTheEditorThenUndo() {
    Rig rig;
    QVERIFY(rig.open());
    auto& session = rig.w().session();
    const uint32_t before = session.format().dataLength;
    sampler::virt::StoredSample stored;
    stored.samples.assign(700, 1234);
    rig.sds->putSample(6, stored);
    auto& dialog = rig.transfer();
    dialog.show();
    selectProfile(dialog, 0);
    dialog.positionBox()->setValue(5);
    dialog.requestButton()->click();
    QVERIFY(rig.settle());
    QVERIFY(dialog.received());
    QVERIFY(dialog.isHidden()); // closed with OK
    QCOMPARE(session.format().dataLength, 1400u);
    QCOMPARE(int(session.format().channels), 1);
    QCOMPARE(QString::fromStdString(session.fileName()), QString("Untitled.wav"));
    QVERIFY(rig.w().windowTitle().startsWith("Untitled.wav*"));
    QVERIFY(rig.windowEnabled());
    QCOMPARE(int(session.editor().record().undoCode), 11);

    bool undone = false;
    QVERIFY(session.editor().undo([&](bool) { undone = true; }));
    QVERIFY(uitest::waitFor([&] { return undone && !session.busy(); }, kWatchdogMs));
    QCOMPARE(session.format().dataLength, before);
    QCOMPARE(int(session.format().channels), 2);
}

void TransferTest::waitForSendTakesTheSamplersDump() {
    Rig rig;
    QVERIFY(rig.open());
    sampler::virt::StoredSample stored;
    stored.samples.assign(300, -77);
    rig.sds->putSample(4, stored);
    auto& dialog = rig.transfer();
    dialog.show();
    selectProfile(dialog, 0);
    dialog.positionBox()->setValue(3);
    rig.sds->dumpOnItsOwn(4, std::chrono::milliseconds(300));
    dialog.receiveButton()->click();
    QVERIFY(rig.sampler().running());
    QVERIFY(!rig.w().menuBar()->isEnabled());
    QVERIFY(dialog.abortButton()->isEnabled());
    QVERIFY(!dialog.okButton()->isEnabled());
    QVERIFY(rig.settle());
    QVERIFY(dialog.received());
    QCOMPARE(rig.w().session().format().dataLength, 600u);
    QVERIFY(rig.windowEnabled());
}

void TransferTest::listingRowsAndFetch() {
    Rig rig;
    QVERIFY(rig.open());
    for (const char* name : {"KICK        ", "SNARE       "}) {
        sampler::scsi::VirtualAkaiSampler::Sample s;
        s.name = name;
        s.rate = 1;
        s.data.assign(2048, 0);
        rig.akai->addSample(s);
    }
    auto& dialog = rig.transfer();
    dialog.show();
    selectProfile(dialog, 1);
    ModalScript script;
    QStringList rows;
    script.handle([&](QWidget* modal) {
        auto* list = qobject_cast<ui::TSReqForm*>(modal);
        if (list == nullptr || list->listingRunning() || list->list()->topLevelItemCount() == 0) {
            return false;
        }
        for (int i = 0; i < list->list()->topLevelItemCount(); ++i) {
            auto* item = list->list()->topLevelItem(i);
            rows << item->text(1).trimmed() + " " + item->text(2) + " " + item->text(3) + " " + item->text(4);
        }
        list->list()->setCurrentItem(list->list()->topLevelItem(1));
        list->receiveButton()->click();
        return true;
    });
    dialog.receiveButton()->click();
    QVERIFY(uitest::settled(script, kWatchdogMs));
    QVERIFY(rig.settle());
    QCOMPARE(rows, (QStringList{"KICK 2kb 16 mono", "SNARE 2kb 16 mono"}));
    QVERIFY(dialog.received());
    QCOMPARE(QString::fromStdString(rig.w().session().fileName()), QString("SNARE.wav"));
    QCOMPARE(rig.w().session().format().dataLength, 2048u);
}

void TransferTest::batchOfExportedSlicesWithNumbers() {
    Rig rig;
    QVERIFY(rig.open());
    const QStringList three = exportSlices(rig, 3);
    QCOMPARE(three.size(), 3);
    auto& dialog = rig.batch();
    dialog.show();
    selectProfile(dialog, 0);
    QVERIFY(!dialog.sendButton()->isEnabled());
    dialog.addFiles(three);
    QCOMPARE(dialog.fileList()->topLevelItemCount(), 3);
    QCOMPARE(dialog.fileList()->topLevelItem(0)->text(2), QString("None"));
    // Dragging the first entry onto the third swaps them; Sort puts them back.
    dialog.swapEntries(0, 2);
    QCOMPARE(dialog.fileList()->topLevelItem(0)->text(0), three[2]);
    dialog.sortButton()->click();
    QCOMPARE(dialog.fileList()->topLevelItem(0)->text(0), three[0]);
    dialog.positionBox()->setValue(10);
    QCOMPARE(rig.clickAnswering(dialog.sendButton()), QStringList{"Batch transfer complete!"});
    const auto& sent = rig.sampler().lastBatch().sent;
    QCOMPARE(int(sent.size()), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(sent[size_t(i)].number, 11 + i);
        QCOMPARE(sent[size_t(i)].displayNumber, 1 + i);
        QVERIFY(rig.sds->sample(uint32_t(11 + i)));
    }
    QCOMPARE(dialog.fileList()->topLevelItemCount(), 0);
    QVERIFY(rig.windowEnabled());
    dialog.hide();
}

void TransferTest::batchToTheAkaiWithAutoMap() {
    Rig rig;
    QVERIFY(rig.open());
    auto& dialog = rig.batch();
    dialog.show();
    selectProfile(dialog, 1);
    QStringList files;
    for (int i = 0; i < 8; ++i) {
        files << rig.wave(QString("hit%1.wav").arg(i), std::vector<int16_t>(200, int16_t(i * 10)));
    }
    dialog.addFiles(files);
    auto k = rig.w().samplerCommands()->keymap();
    k.whiteKeys = true;
    k.bankName = "KIT";
    rig.w().samplerCommands()->setKeymap(k);
    QVERIFY(dialog.autoMapBox()->isChecked());
    QCOMPARE(rig.clickAnswering(dialog.sendButton()), QStringList{"Batch transfer complete!"});
    const auto programs = rig.akai->programs();
    QVERIFY(!programs.empty());
    QCOMPARE(QString::fromStdString(programs.back().name).trimmed(), QString("KIT"));
    std::vector<int> lows;
    for (const auto& group : programs.back().keygroups) {
        lows.push_back(group.lowKey);
    }
    QCOMPARE(lows, (std::vector<int>{48, 50, 52, 53, 55, 57, 59, 60}));
    // 40 files at interval 2 from C2 do not fit: the key map's OK is disabled, the send refused.
    dialog.addFiles(QStringList(40, files[0]));
    k.whiteKeys = false;
    k.interval = 2;
    rig.w().samplerCommands()->setKeymap(k);
    QCOMPARE(rig.clickAnswering(dialog.sendButton()), QStringList{"WARNING! -  Samples exceed available notes"});
    QVERIFY(!rig.sampler().running());
    QVERIFY(rig.windowEnabled());
    dialog.hide();
}

void TransferTest::batchOfSlicesToTheEmuWithKeyRanges() {
    Rig rig;
    QVERIFY(rig.open());
    const QStringList slices = exportSlices(rig, 3);
    QCOMPARE(slices.size(), 3);
    auto& dialog = rig.batch();
    dialog.show();
    selectProfile(dialog, 2);
    QVERIFY(dialog.autoMapBox()->isEnabled());
    QVERIFY(dialog.autoMapBox()->isChecked());
    dialog.addFiles(slices);
    auto k = rig.w().samplerCommands()->keymap();
    k.interval = 2;
    rig.w().samplerCommands()->setKeymap(k);
    std::unique_ptr<QStringList> status(recordStatus(rig));
    dialog.positionBox()->setValue(10);
    QCOMPARE(rig.clickAnswering(dialog.sendButton()), QStringList{"Batch transfer complete!"});
    // Samples 11, 12 and 13 on the sampler, shown to the user as 1, 2 and 3.
    for (int shown = 1; shown <= 3; ++shown) {
        QVERIFY2(!status->filter(QString("Sending # %1: ").arg(shown)).isEmpty(), qPrintable(status->join(" | ")));
    }
    QVERIFY(status->filter("Sending # 11").isEmpty());
    // Interval 2 from C2: roots 48, 51, 54, each a key either side, kept by the E-mu from the
    // key-range headers.
    const auto held = rig.emu->samples();
    const int roots[] = {48, 51, 54};
    for (int i = 0; i < 3; ++i) {
        const auto it = held.find(uint32_t(11 + i));
        QVERIFY(it != held.end());
        QVERIFY(it->second.rootKey && it->second.lowKey && it->second.highKey);
        QCOMPARE(int(*it->second.rootKey), roots[i]);
        QCOMPARE(int(*it->second.lowKey), roots[i] - 1);
        QCOMPARE(int(*it->second.highKey), roots[i] + 1);
        QCOMPARE(QString::fromStdString(it->second.name).trimmed(),
                 QFileInfo(slices[i]).completeBaseName());
    }
    const auto& sent = rig.sampler().lastBatch();
    QVERIFY(sent.mapped);
    QCOMPARE(int(sent.sent.size()), 3);
    QCOMPARE(sent.sent[2].number, 13);
    QCOMPARE(sent.sent[2].displayNumber, 3);
    QVERIFY(sent.sent[2].keys);
    QCOMPARE(sent.sent[2].keys->root, 54);
    QVERIFY(rig.windowEnabled());
    dialog.hide();
}

void TransferTest::batchOfSlicesToAYamahaSendsItsKeyMapByMidi() {
    Rig rig;
    QVERIFY(rig.open());
    const QStringList slices = exportSlices(rig, 4);
    QCOMPARE(slices.size(), 4);
    auto& dialog = rig.batch();
    dialog.show();
    selectProfile(dialog, 3);
    QVERIFY(dialog.autoMapBox()->isChecked());
    dialog.addFiles(slices);
    auto k = rig.w().samplerCommands()->keymap();
    k.whiteKeys = true;
    k.bankName = "LOOP KIT";
    rig.w().samplerCommands()->setKeymap(k);
    dialog.positionBox()->setValue(20);
    QCOMPARE(rig.clickAnswering(dialog.sendButton()), QStringList{"Batch transfer complete!"});
    // The samples over SCSI, numbered from the position (no offset in this profile) ...
    const auto held = rig.smdi->samples();
    for (int i = 0; i < 4; ++i) {
        QVERIFY(held.count(uint32_t(20 + i)) == 1);
    }
    // ... and the key map over MIDI: a program naming the four slices, on white keys from C2.
    QVERIFY(uitest::waitFor([&] { return !rig.yamaha->programs().empty(); }, kWatchdogMs));
    const auto broken = rig.yamaha->errors();
    QVERIFY2(broken.empty(), broken.empty() ? "" : broken.front().c_str());
    const auto program = rig.yamaha->programs().back();
    QCOMPARE(QString::fromStdString(program.name).trimmed(), QString("LOOP KIT"));
    QCOMPARE(program.declaredSamples, 4);
    QStringList names;
    for (const auto& name : program.sampleNames) {
        names << QString::fromStdString(name).trimmed();
    }
    QStringList expected;
    for (const auto& file : slices) {
        expected << QFileInfo(file).completeBaseName().left(12);
    }
    QCOMPARE(names, expected);
    const auto keys = rig.yamaha->keys();
    QCOMPARE(int(keys.size()), 4);
    const int whites[] = {48, 50, 52, 53};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(keys[size_t(i)].root, whites[i]);
        QCOMPARE(keys[size_t(i)].low, whites[i]);
        QCOMPARE(keys[size_t(i)].high, whites[i]);
    }
    QVERIFY(rig.sampler().lastBatch().mapped);
    QVERIFY(rig.windowEnabled());
    dialog.hide();
}

void TransferTest::batchKeyMapDialogRefusesKeysPastTheTop() {
    Rig rig;
    QVERIFY(rig.open());
    auto& dialog = rig.batch();
    dialog.show();
    selectProfile(dialog, 1);
    const QString file = rig.wave("one.wav", std::vector<int16_t>(100, 5));
    dialog.addFiles(QStringList(40, file));
    auto k = rig.w().samplerCommands()->keymap();
    k.interval = 2;
    rig.w().samplerCommands()->setKeymap(k);
    // Set Mapping counts the batch list: 40 samples at interval 2 from C2 pass note 127.
    ModalScript script;
    QStringList seen;
    uitest::expect<ui::TForm6>(script, [&](ui::TForm6* form) {
        seen << QString("ok %1 warning %2").arg(form->okButton()->isEnabled()).arg(!form->warningLabel()->isHidden());
        form->intervalBox()->setValue(0); // 40 keys from 48 fit
        seen << QString("ok %1 warning %2").arg(form->okButton()->isEnabled()).arg(!form->warningLabel()->isHidden());
        form->intervalBox()->setValue(2);
        seen << QString("ok %1").arg(form->okButton()->isEnabled());
        form->reject();
        return true;
    });
    dialog.mappingButton()->click();
    QVERIFY(uitest::settled(script, kWatchdogMs));
    QCOMPARE(seen, (QStringList{"ok 0 warning 1", "ok 1 warning 0", "ok 0"}));
    QCOMPARE(rig.w().samplerCommands()->keymap().interval, 2); // Cancel kept the settings
    dialog.hide();
}

void TransferTest::injectedFaultsEndWithTheWindowEnabled() {
    Rig rig;
    QVERIFY(rig.open());
    auto& dialog = rig.transfer();
    dialog.show();
    selectProfile(dialog, 0);
    rig.w().session().slicer().setLoop(0, 40000);
    rig.sds->setFaults("cancel:2");
    {
        ModalScript script;
        script.answer(QMessageBox::Ok);
        dialog.sendButton()->click();
        QVERIFY(rig.settle());
        QVERIFY(uitest::settled(script, kWatchdogMs));
        QCOMPARE(script.texts.size(), 1);
        QVERIFY(script.texts[0] != "Transfer complete!");
    }
    QVERIFY(rig.windowEnabled());
    QVERIFY(dialog.sendButton()->isEnabled());
    QVERIFY(!dialog.abortButton()->isEnabled());

    // Abort: the controls stay disabled until the driver's end has come.
    rig.sds->setFaults("wait:0@never");
    {
        ModalScript script;
        script.answer(QMessageBox::Ok);
        dialog.sendButton()->click();
        QVERIFY(uitest::waitFor([&] { return rig.sds->stats().waits > 0; }, kWatchdogMs));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.statusLabel()->text(), QString("Inactive"));
        QVERIFY(!dialog.sendButton()->isEnabled());
        QVERIFY(rig.settle());
        QVERIFY(uitest::settled(script, kWatchdogMs));
        QCOMPARE(script.texts.size(), 1);
        QVERIFY(script.texts[0].contains("abort", Qt::CaseInsensitive));
    }
    QVERIFY(rig.windowEnabled());
    QVERIFY(dialog.sendButton()->isEnabled());

    // An empty region is refused before anything starts.
    rig.w().session().slicer().setLoop(100, 100);
    {
        ModalScript script;
        script.answer(QMessageBox::Ok);
        dialog.sendButton()->click();
        QVERIFY(uitest::settled(script, kWatchdogMs));
        QCOMPARE(script.texts.size(), 1);
        QVERIFY(script.texts[0].contains("too short"));
    }
    QVERIFY(rig.windowEnabled());
    dialog.hide();
}

static uitest::Register<TransferTest> registerTransferTest;

#include "transfer_test.moc"
