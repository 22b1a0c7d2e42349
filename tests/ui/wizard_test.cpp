// The configuration wizard's sampler pages, run from the Help menu on the offscreen platform:
// each protocol walked to a stored profile that then sends a region to the emulated sampler it
// names, the device pages listing the virtual MIDI ports and the emulated SCSI samplers, Skip,
// and the question before a stored name is replaced.
#include "ui/UiTest.h"

#include "sampler/profiles/ProfileStore.h"
#include "sampler/virtual/EmulatedScsiBus.h"
#include "sampler/virtual/MidiBackendList.h"
#include "sampler/virtual/VirtualSdsSampler.h"
#include "sampler/virtual/VirtualYamahaListener.h"
#include "session/SamplerTransfer.h"
#include "slicing/Slicer.h"
#include "ui/dialogs/CXWizard.h"
#include "ui/dialogs/WizardSamplerPages.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QTimer>

using Wizard = ui::TCXWizard;

namespace {

// A wait longer than this is a hang: the test fails instead.
constexpr int kWatchdogMs = 8000;

struct Rig {
    Sandbox box;
    std::shared_ptr<sampler::virt::VirtualSdsSampler> sds = std::make_shared<sampler::virt::VirtualSdsSampler>("", "");
    std::shared_ptr<sampler::virt::VirtualYamahaListener> yamaha =
        std::make_shared<sampler::virt::VirtualYamahaListener>(sampler::virt::VirtualYamahaListener::Model::A3000);
    // The bus the program offers: the Akai at 2, SMDI at 3, E-mu at 4, a disk at 6.
    sampler::virt::EmulatedScsiBus scsi = sampler::virt::makeEmulatedScsiBus();
    std::unique_ptr<uitest::Window> window;

    Rig() {
        ui::StartOptions options;
        options.backends = [this] {
            session::Backends b;
            auto midi = sampler::virt::makeVirtualMidiBackend(sds);
            midi->addEndpoint(yamaha);
            b.midi = {midi};
            b.systemScsi = false;
            b.scsiBus = scsi.bus;
            return b;
        };
        window = std::make_unique<uitest::Window>(options);
    }
    ui::TMainForm& w() { return *window->form; }
    session::SamplerTransfer& sampler() { return w().session().sampler(); }
    sampler::profiles::ProfileStore store() const { return sampler::profiles::ProfileStore(box.configFile().toStdString()); }
};

// What the wizard is told on the way, and what it showed.
struct Plan {
    int protocol = 0;
    int scsiId = 0;
    QString midiIn, midiOut; // port names; empty: leave the list as it is
    int channel = 1;
    int offset = 0;
    bool openLoop = false;
    QStringList names{"Wizard profile"}; // typed on each visit of the name page, the last kept
    bool skip = false;
    bool finish = true;
    // Message boxes: the button to press in each, in order (Yes when the list runs out).
    QList<QMessageBox::StandardButton> answers;
};

struct Walk {
    QStringList captions; // the window title on each page acted on
    QStringList boxes;    // message box texts
    QStringList adaptorLines, deviceLines, midiInLines, midiOutLines;
    bool midiInEnabled = true;
    bool skipOffered = false;
    bool nameNeeded = false; // Next disabled until a name was typed
    bool openLoopShown = false;
    bool channelEnabled = false;
    QString completeText;
    bool done = false;
};

QStringList lines(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) {
        out << box->itemText(i);
    }
    return out;
}

void clickLater(QAbstractButton* button) {
    // Queued: a message box the click opens runs its own loop, which the script must answer.
    QTimer::singleShot(0, button, [button] { button->click(); });
}

// Walks the wizard the Help menu opens, as `plan` says.
Walk runWizard(Rig& rig, const Plan& plan) {
    Walk walk;
    ModalScript script;
    int actedOn = -1;
    int nameVisits = 0;
    int answered = 0;
    script.handle([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            walk.boxes << box->text();
            const auto button = answered < plan.answers.size() ? plan.answers[answered] : QMessageBox::Yes;
            ++answered;
            QAbstractButton* b = box->button(button) != nullptr ? box->button(button) : box->button(QMessageBox::Ok);
            if (b != nullptr) {
                b->click();
            }
            actedOn = -1; // the page asked about is acted on again
            return false;
        }
        auto* wizard = qobject_cast<Wizard*>(modal);
        if (wizard == nullptr || wizard->currentId() == actedOn) {
            return false;
        }
        const int id = wizard->currentId();
        auto& pages = wizard->samplerPages();
        QAbstractButton* next = wizard->button(QWizard::NextButton);
        switch (id) {
        case Wizard::SamplerProfile:
            walk.skipOffered = wizard->button(QWizard::CustomButton1)->isVisible() &&
                               wizard->button(QWizard::CustomButton1)->text() == "Skip";
            if (plan.skip) {
                next = wizard->button(QWizard::CustomButton1);
            }
            break;
        case Wizard::Protocol:
            pages.protocolList()->setCurrentRow(plan.protocol);
            break;
        case Wizard::ScsiDevices:
            if (!next->isEnabled()) {
                return false; // the device listing is still running
            }
            walk.adaptorLines = lines(pages.adaptorBox());
            walk.deviceLines = lines(pages.deviceBox());
            pages.deviceBox()->setCurrentIndex(plan.scsiId);
            break;
        case Wizard::MidiDevices:
            walk.midiInLines = lines(pages.midiInBox());
            walk.midiOutLines = lines(pages.midiOutBox());
            walk.midiInEnabled = pages.midiInBox()->isEnabled();
            if (!plan.midiIn.isEmpty()) {
                pages.midiInBox()->setCurrentIndex(pages.midiInBox()->findText(plan.midiIn));
            }
            if (!plan.midiOut.isEmpty()) {
                pages.midiOutBox()->setCurrentIndex(pages.midiOutBox()->findText(plan.midiOut));
            }
            break;
        case Wizard::SamplerOptions:
            walk.openLoopShown = !pages.openLoopBox()->isHidden();
            walk.channelEnabled = pages.channelBox()->isEnabled();
            pages.channelBox()->setValue(plan.channel);
            pages.offsetBox()->setValue(plan.offset);
            pages.openLoopBox()->setChecked(plan.openLoop);
            break;
        case Wizard::ProfileName:
            if (nameVisits == 0) {
                walk.nameNeeded = !next->isEnabled();
            }
            pages.nameEdit()->setText(plan.names.value(std::min<int>(nameVisits, int(plan.names.size()) - 1)));
            ++nameVisits;
            break;
        case Wizard::Complete:
            walk.captions << wizard->windowTitle();
            walk.completeText = wizard->currentPage()->findChild<QLabel*>()->text();
            walk.done = true;
            if (plan.finish) {
                clickLater(wizard->button(QWizard::FinishButton));
            } else {
                QTimer::singleShot(0, wizard, &QWizard::reject);
            }
            return true;
        default:
            break;
        }
        walk.captions << wizard->windowTitle();
        actedOn = id;
        clickLater(next);
        return false;
    });
    rig.w().action("ConfigurationWizard1")->trigger();
    if (!uitest::waitFor([&] { return script.pending() == 0 && QApplication::activeModalWidget() == nullptr; },
                         kWatchdogMs)) {
        walk.done = false;
    }
    return walk;
}

// Sends one channel of the loop region to sample `position` with the profile `name`; the message
// shown at the end.
QStringList sendWith(Rig& rig, const QString& name, int position) {
    auto& sampler = rig.sampler();
    sampler.selectProfile(name.toStdString());
    ModalScript script;
    script.answer(QMessageBox::Ok);
    const bool started = sampler.sendRegion(position, false, 1);
    if (!uitest::waitFor([&] { return !sampler.running() && script.pending() == 0; }, kWatchdogMs)) {
        return {"(no end)"};
    }
    return started ? script.texts : QStringList{"(refused)"} + script.texts;
}

const QString kSdsPort = "Cleavix virtual SDS sampler";
const QString kYamahaPort = "Cleavix virtual Yamaha sampler";

} // namespace

class WizardTest : public QObject {
    Q_OBJECT
private slots:
    void eachProtocolMakesAProfileThatSends_data();
    void eachProtocolMakesAProfileThatSends();
    void devicePagesListTheVirtualSamplers();
    void skipGoesToTheEndAndStoresNothing();
    void storedNameIsReplacedOnlyWhenAsked();
    void cancelAtTheEndStoresNothing();
    void cancelWhileTheDevicesAreListed();
    void withoutAdaptorsAScsiProfileIsStoredButRefused();
};

void WizardTest::eachProtocolMakesAProfileThatSends_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("scsiId");
    QTest::addColumn<QStringList>("pages");
    const QStringList midi{"Sampler Profile", "Protocol Selection", "MIDI devices", "Miscellaneous Sampler Options",
                           "Profile Name", "Configuration Complete"};
    const QStringList scsi{"Sampler Profile", "Protocol Selection", "SCSI devices", "Miscellaneous Sampler Options",
                           "Profile Name", "Configuration Complete"};
    const QStringList both{"Sampler Profile", "Protocol Selection", "SCSI devices", "MIDI devices",
                           "Miscellaneous Sampler Options", "Profile Name", "Configuration Complete"};
    QTest::newRow("Generic MIDI SDS") << 0 << 0 << midi;
    QTest::newRow("Generic SCSI SMDI") << 1 << 3 << scsi;
    QTest::newRow("Yamaha A3000") << 2 << 3 << both;
    QTest::newRow("Yamaha EX") << 3 << 3 << both;
    QTest::newRow("E-mu") << 4 << 4 << scsi;
    QTest::newRow("Akai") << 5 << 2 << scsi;
    QTest::newRow("Yamaha A4000") << 6 << 3 << both;
    QTest::newRow("Yamaha A5000") << 7 << 3 << both;
}

void WizardTest::eachProtocolMakesAProfileThatSends() {
    QFETCH(int, type);
    QFETCH(int, scsiId);
    QFETCH(QStringList, pages);
    Rig rig;
    QVERIFY(uitest::openDemo(rig.w(), rig.box));
    rig.w().session().slicer().setLoop(4000, 8000);
    // One profile stored before, so the new one's position is checked too.
    sampler::SamplerProfile other;
    rig.store().store("A first", other);

    Plan plan;
    plan.protocol = type;
    plan.scsiId = scsiId;
    const bool sds = type == 0;
    plan.midiIn = sds ? kSdsPort : QString();
    plan.midiOut = sds ? kSdsPort : kYamahaPort;
    plan.channel = sds ? 3 : 1;
    plan.offset = 1;
    plan.names = {"Wizard profile"};
    const Walk walk = runWizard(rig, plan);
    QVERIFY(walk.done);
    QStringList expected{"Welcome", "Audio Device Selection"};
    expected << pages;
    QStringList captions;
    for (const auto& title : expected) {
        captions << "Configuration Wizard - " + title;
    }
    QCOMPARE(walk.captions, captions);
    QVERIFY(walk.boxes.isEmpty());
    QVERIFY(walk.nameNeeded);
    QCOMPARE(walk.openLoopShown, sds);
    QCOMPARE(walk.channelEnabled, sds);
    QVERIFY(walk.completeText.contains("\"Wizard profile\""));

    // The record, by the profile manager's rules.
    const auto read = rig.store().read("Wizard profile");
    QVERIFY(read.ok());
    const auto& p = *read.profile;
    QCOMPARE(int(p.deviceType), type);
    QCOMPARE(int(p.scsiInUse), sds ? 0 : 1);
    QCOMPARE(int(p.midiOutInUse), pages.contains("MIDI devices") ? 1 : 0);
    QCOMPARE(int(p.sampleNumberOffset), 1);
    QCOMPARE(int(p.midiChannel), sds ? 3 : 1);
    if (sds) {
        QCOMPARE(int(p.midiInput), 1); // after the virtual cable
        QCOMPARE(int(p.midiOutput), 1);
    } else {
        QCOMPARE(int(p.scsiAdaptor), 0);
        QCOMPARE(int(p.scsiDevice), scsiId);
        if (p.midiOutInUse) {
            QCOMPARE(int(p.midiOutput), 2); // the Yamaha listener, after the cable and the SDS sampler
        }
    }
    // The transfer dialogs open on it.
    QCOMPARE(rig.w().config().pNo, 1);

    // It works: a region sent with it reaches the emulated sampler at position + offset.
    QCOMPARE(sendWith(rig, "Wizard profile", 9), QStringList{"Transfer complete!"});
    switch (type) {
    case 0: {
        const auto held = rig.sds->sample(10);
        QVERIFY(held);
        QCOMPARE(int(held->samples.size()), 999); // one channel of (8000 - 4000) div 8 x 4 bytes, less one value
        break;
    }
    case 4:
        QVERIFY(rig.scsi.emu->samples().count(10) == 1);
        break;
    case 5:
        QCOMPARE(int(rig.scsi.akai->samples().size()), 1);
        break;
    default:
        QVERIFY(rig.scsi.smdi->samples().count(10) == 1);
        break;
    }
}

void WizardTest::devicePagesListTheVirtualSamplers() {
    Rig rig;
    rig.w().show();
    Plan plan;
    plan.protocol = 2; // Yamaha A3000: both device pages
    plan.scsiId = 3;
    plan.midiOut = kYamahaPort;
    plan.finish = false;
    const Walk walk = runWizard(rig, plan);
    QVERIFY(walk.done);
    QCOMPARE(walk.adaptorLines.size(), 1);
    QVERIFY(walk.adaptorLines[0].startsWith("ID:0 "));
    QCOMPARE(walk.deviceLines.size(), 7);
    QCOMPARE(walk.deviceLines[0], QString("ID:0 No Device Found"));
    QCOMPARE(walk.deviceLines[2], QString("ID:2 AKAI S2000 1.00 (*)"));
    QCOMPARE(walk.deviceLines[3], QString("ID:3 CLEAVIX SMDI SAMPLER 1.0 (*)"));
    QCOMPARE(walk.deviceLines[4], QString("ID:4 E-MU SYS E4XT ULTRA 4.70 (*)"));
    QVERIFY(walk.deviceLines[6].startsWith("ID:6 "));
    QVERIFY(!walk.deviceLines[6].endsWith("(*)")); // the disk is no sampler
    QVERIFY(walk.midiOutLines.contains(kSdsPort));
    QVERIFY(walk.midiOutLines.contains(kYamahaPort));
    QVERIFY(walk.midiInLines.contains(kSdsPort));
    // A Yamaha sampler takes only its key maps by MIDI: no input.
    QVERIFY(!walk.midiInEnabled);
}

void WizardTest::skipGoesToTheEndAndStoresNothing() {
    Rig rig;
    rig.w().show();
    Plan plan;
    plan.skip = true;
    const Walk walk = runWizard(rig, plan);
    QVERIFY(walk.done);
    QVERIFY(walk.skipOffered);
    QCOMPARE(walk.captions, (QStringList{"Configuration Wizard - Welcome", "Configuration Wizard - Audio Device Selection",
                                         "Configuration Wizard - Sampler Profile",
                                         "Configuration Wizard - Configuration Complete"}));
    QVERIFY(!walk.completeText.contains("profile"));
    QVERIFY(rig.store().names().empty());

    // Back from the end to the profile page: Next goes on to the protocols again, and "Skip" is
    // shown only on the profile page.
    ModalScript script;
    QStringList seen;
    int step = 0;
    uitest::expect<Wizard>(script, [&](Wizard* wizard) {
        auto* skip = wizard->button(QWizard::CustomButton1);
        const int id = wizard->currentId();
        if (step == 0 && id == Wizard::Welcome) {
            wizard->next();
            wizard->next(); // the profile page
            seen << QString("profile skip %1").arg(skip->isVisible());
            skip->click();
            step = 1;
            return false;
        }
        if (step == 1 && id == Wizard::Complete) {
            seen << QString("end skip %1").arg(skip->isVisible());
            wizard->back();
            step = 2;
            return false;
        }
        if (step == 2 && id == Wizard::SamplerProfile) {
            wizard->button(QWizard::NextButton)->click();
            seen << QString("next to %1").arg(wizard->currentPage()->title());
            QTimer::singleShot(0, wizard, &QWizard::reject);
            return true;
        }
        return false;
    });
    rig.w().action("ConfigurationWizard1")->trigger();
    QVERIFY(uitest::waitFor([&] { return script.pending() == 0 && QApplication::activeModalWidget() == nullptr; },
                            kWatchdogMs));
    QCOMPARE(seen, (QStringList{"profile skip 1", "end skip 0", "next to Protocol Selection"}));
    QVERIFY(rig.store().names().empty());
}

void WizardTest::storedNameIsReplacedOnlyWhenAsked() {
    Rig rig;
    QVERIFY(uitest::openDemo(rig.w(), rig.box));
    rig.w().session().slicer().setLoop(4000, 8000);
    sampler::SamplerProfile akai;
    akai.deviceType = 5;
    akai.scsiInUse = 1;
    akai.scsiDevice = 2;
    rig.store().store("Kit", akai);

    // A name that cannot name a profile is refused; "Kit" is asked about, No keeps the page and
    // the stored profile, and Yes on the next try replaces it.
    Plan plan;
    plan.midiIn = plan.midiOut = kSdsPort;
    plan.names = {"a/b", "Kit", "Kit"};
    plan.answers = {QMessageBox::Ok, QMessageBox::No, QMessageBox::Yes};
    const Walk walk = runWizard(rig, plan);
    QVERIFY(walk.done);
    QCOMPARE(walk.boxes.size(), 3);
    QVERIFY(walk.boxes[0].contains("/"));
    QVERIFY(walk.boxes[1].contains("\"Kit\""));
    QCOMPARE(walk.boxes[1], walk.boxes[2]);
    QCOMPARE(walk.captions.count("Configuration Wizard - Profile Name"), 3);
    const auto read = rig.store().read("Kit");
    QVERIFY(read.ok());
    QCOMPARE(int(read.profile->deviceType), 0);
    QCOMPARE(rig.store().names(), (std::vector<std::string>{"Kit"}));
    QCOMPARE(sendWith(rig, "Kit", 4), QStringList{"Transfer complete!"});
    QVERIFY(rig.sds->sample(4));

    // Cancelled at the end after saying Yes: the stored profile stays as it was.
    Plan keep;
    keep.protocol = 1;
    keep.scsiId = 3;
    keep.names = {"Kit"};
    keep.answers = {QMessageBox::No};
    keep.finish = false; // No, the same name again, Yes, then Cancel
    const Walk kept = runWizard(rig, keep);
    QVERIFY(kept.done);
    QCOMPARE(int(rig.store().read("Kit").profile->deviceType), 0);
}

void WizardTest::cancelAtTheEndStoresNothing() {
    Rig rig;
    rig.w().show();
    Plan plan;
    plan.protocol = 5;
    plan.scsiId = 2;
    plan.finish = false;
    const Walk walk = runWizard(rig, plan);
    QVERIFY(walk.done);
    QVERIFY(walk.completeText.contains("\"Wizard profile\""));
    QVERIFY(rig.store().names().empty());
}

void WizardTest::cancelWhileTheDevicesAreListed() {
    Rig rig;
    rig.w().show();
    // The Akai at ID 2 answers late, so the listing is still running when the wizard goes.
    rig.scsi.bus->injectFault(2, sampler::scsi::VirtualScsiFault::late(std::chrono::milliseconds(500)));
    ModalScript script;
    bool wasRunning = false;
    uitest::expect<Wizard>(script, [&](Wizard* wizard) {
        switch (wizard->currentId()) {
        case Wizard::Protocol:
            wizard->samplerPages().protocolList()->setCurrentRow(5);
            break;
        case Wizard::ScsiDevices:
            wasRunning = wizard->samplerPages().scsiLists()->running() &&
                         !wizard->button(QWizard::NextButton)->isEnabled();
            QTimer::singleShot(0, wizard, &QWizard::reject);
            return true;
        default:
            break;
        }
        wizard->next();
        return false;
    });
    rig.w().action("ConfigurationWizard1")->trigger();
    QVERIFY(uitest::waitFor([&] { return script.pending() == 0 && QApplication::activeModalWidget() == nullptr; },
                            kWatchdogMs));
    QVERIFY(wasRunning);
    // The late answers come after the wizard has gone: nothing is left to take them.
    QTest::qWait(900);
    QVERIFY(rig.store().names().empty());

    // The next wizard lists the bus afresh.
    Plan plan;
    plan.protocol = 5;
    plan.scsiId = 2;
    const Walk walk = runWizard(rig, plan);
    QVERIFY(walk.done);
    QCOMPARE(walk.deviceLines.value(2), QString("ID:2 AKAI S2000 1.00 (*)"));
    QCOMPARE(int(rig.store().read("Wizard profile").profile->scsiDevice), 2);
}

void WizardTest::withoutAdaptorsAScsiProfileIsStoredButRefused() {
    Rig rig;
    QVERIFY(uitest::openDemo(rig.w(), rig.box));
    rig.w().session().slicer().setLoop(4000, 8000);
    rig.scsi.bus->setListed(false);
    Plan plan;
    plan.protocol = 5;
    plan.scsiId = 2;
    const Walk walk = runWizard(rig, plan);
    QVERIFY(walk.done);
    QCOMPARE(walk.adaptorLines, QStringList{"No host adaptor found"});
    QCOMPARE(walk.deviceLines, QStringList{"No devices found"});
    const auto read = rig.store().read("Wizard profile");
    QVERIFY(read.ok());
    QCOMPARE(int(read.profile->deviceType), 5);
    QCOMPARE(int(read.profile->scsiInUse), 1);
    // A transfer with it is refused with the binding's message; nothing starts.
    const QStringList shown = sendWith(rig, "Wizard profile", 1);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0], QString("(refused)"));
    // The message box shows the text's line breaks as plain ones.
    const QString text = QString(shown[1]).replace("\r\n", "\n");
    QVERIFY2(text == QString(sampler::profiles::kOutOfRangeBinding).replace("\r\n", "\n") ||
                 text == QString(sampler::profiles::kCannotInitialiseScsi),
             qPrintable(text));
    QVERIFY(rig.scsi.akai->samples().empty());
}

static uitest::Register<WizardTest> registerWizardTest;

#include "wizard_test.moc"
