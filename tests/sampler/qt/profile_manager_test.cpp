// The sampler profile manager on the offscreen platform: lists filled afresh on showing, the SCSI
// device list filled from completions, enabling per type, Store (reselected by name), Delete,
// corrupt and out-of-range profiles.
#include "ui/sampler/ProfileManagerForm.h"

#include "sampler/ScsiTestKit.h"
#include "sampler/virtual/VirtualScsiBus.h"
#include "support/TestSupport.h"
#include "ui/platform/QtDispatcher.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace cleavix::ui {
namespace {

namespace pf = sampler::profiles;
namespace scsi = sampler::scsi;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

QStringList items(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) {
        out << box->itemText(i);
    }
    return out;
}

class ProfileManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_shared<scsi::VirtualScsiBus>();
        bus->attach(2, std::make_shared<scsi::testkit::EchoTarget>());
        bus->attach(6, std::make_shared<scsi::VirtualDiskTarget>());
        layer = std::make_unique<scsi::ScsiLayer>(dispatcher);
        layer->addBackend(bus);
        config = dir.file("Cleavix.ini");
    }

    std::unique_ptr<TGeneralProfileManagerForm> makeForm(bool withScsi = true) {
        ProfileManagerSetup setup;
        setup.settingsFile = config;
        setup.scsi = withScsi ? layer.get() : nullptr;
        setup.midiInputs = [this] { return inputs; };
        setup.midiOutputs = [this] { return outputs; };
        setup.midiChannel = 40; // clamped
        setup.lastUsed = [this] { return lastUsed; };
        setup.showMessage = [this](const QString& text) { messages << text; };
        setup.askName = [this](const QString& prefill) -> std::optional<QString> {
            prefills << prefill;
            return nextName;
        };
        auto form = std::make_unique<TGeneralProfileManagerForm>(std::move(setup));
        form->show();
        if (withScsi) {
            EXPECT_TRUE(waitFor([&] { return !form->listingRunning(); }));
        }
        return form;
    }

    // Profiles of the default record under `names`.
    void storeAll(std::initializer_list<const char*> names) {
        const pf::ProfileStore store(config);
        for (const char* name : names) {
            EXPECT_TRUE(store.store(name, sampler::SamplerProfile{})) << name;
        }
    }

    test::TempDir dir;
    std::string config;
    QtDispatcher dispatcher;
    std::shared_ptr<scsi::VirtualScsiBus> bus;
    std::unique_ptr<scsi::ScsiLayer> layer;
    QStringList inputs = {"Virtual MIDI In", "USB MIDI In"};
    QStringList outputs = {"Virtual MIDI Out", "USB MIDI Out", "Synth"};
    int lastUsed = 0;
    QStringList messages;
    QStringList prefills;
    std::optional<QString> nextName;
};

TEST_F(ProfileManagerTest, ShowsTheDeviceListsAndNoPresets) {
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), "Sampler profile manager");
    EXPECT_EQ(items(form->typeBox()).size(), 8);
    EXPECT_EQ(items(form->typeBox())[5], "Akai S2000 / S3000XL / S3200XL SCSI");
    EXPECT_EQ(items(form->midiInBox()), inputs);
    EXPECT_EQ(items(form->midiOutBox()), outputs);
    EXPECT_EQ(form->channelBox()->value(), 16) << "the configured channel is clamped";
    EXPECT_EQ(items(form->adaptorBox()), QStringList{"ID:0 Cleavix virtual SCSI bus"});
    EXPECT_EQ(items(form->deviceBox()),
              (QStringList{"ID:0 No Device Found", "ID:1 No Device Found", "ID:2 CLEAVIX ECHO SAMPLER 0.9 (*)",
                           "ID:3 No Device Found", "ID:4 No Device Found", "ID:5 No Device Found",
                           "ID:6 CLEAVIX VIRTUAL DISK 1.0"}));
    EXPECT_EQ(items(form->profileBox()), QStringList{"No Presets Stored"});
    EXPECT_FALSE(form->sysexBox()->isVisible());
    // Delete with nothing stored does nothing.
    form->deleteButton()->click();
    EXPECT_EQ(items(form->profileBox()), QStringList{"No Presets Stored"});
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ProfileManagerTest, WithoutScsiOnlyThePlaceholders) {
    auto form = makeForm(false);
    EXPECT_EQ(items(form->adaptorBox()), QStringList{"No host adaptor found"});
    EXPECT_EQ(items(form->deviceBox()), QStringList{"No devices found"});
    // A SCSI profile can still be stored.
    form->typeBox()->setCurrentIndex(1);
    nextName = "Scsi without layer";
    form->storeButton()->click();
    const auto read = pf::ProfileStore(config).read("Scsi without layer");
    ASSERT_TRUE(read.ok()) << read.detail;
    EXPECT_EQ(read.profile->scsiAdaptor, 0);
    EXPECT_EQ(read.profile->scsiInUse, 1);
}

TEST_F(ProfileManagerTest, EnablingFollowsTheType) {
    auto form = makeForm();
    for (int type = 0; type < pf::kDeviceTypeCount; ++type) {
        form->typeBox()->setCurrentIndex(type);
        const bool scsiType = type != 0;
        const bool needsOut = type == 2 || type == 3 || type == 6 || type == 7;
        EXPECT_EQ(form->adaptorBox()->isEnabled(), scsiType) << type;
        EXPECT_EQ(form->deviceBox()->isEnabled(), scsiType) << type;
        EXPECT_EQ(form->midiInBox()->isEnabled(), !scsiType) << type;
        EXPECT_EQ(form->midiOutBox()->isEnabled(), !scsiType || needsOut) << type;
        EXPECT_EQ(form->channelBox()->isEnabled(), !scsiType) << type;
        EXPECT_EQ(form->openLoopBox()->isVisible(), !scsiType) << type;
    }
}

TEST_F(ProfileManagerTest, StoreWritesTheFieldsAndSelectsTheNameInTheSortedList) {
    auto form = makeForm();
    form->typeBox()->setCurrentIndex(5);
    form->deviceBox()->setCurrentIndex(2);
    form->offsetBox()->setValue(-1024);
    nextName = "Zulu";
    form->storeButton()->click();
    EXPECT_EQ(prefills.back(), "") << "empty while the list shows No Presets Stored";
    EXPECT_EQ(form->selectedName(), "Zulu");

    form->typeBox()->setCurrentIndex(2);
    form->midiOutBox()->setCurrentIndex(2);
    nextName = "Alpha";
    form->storeButton()->click();
    EXPECT_EQ(prefills.back(), "Zulu");
    EXPECT_EQ(items(form->profileBox()), (QStringList{"Alpha", "Zulu"}));
    EXPECT_EQ(form->selectedName(), "Alpha") << "selected by name, not the position after the last entry";

    const pf::ProfileStore store(config);
    const auto akai = store.read("Zulu");
    ASSERT_TRUE(akai.ok()) << akai.detail;
    EXPECT_EQ(akai.profile->deviceType, 5);
    EXPECT_EQ(akai.profile->scsiDevice, 2);
    EXPECT_EQ(akai.profile->scsiInUse, 1);
    EXPECT_EQ(akai.profile->midiOutInUse, 0);
    EXPECT_EQ(akai.profile->sampleNumberOffset, -1024);
    const auto yamaha = store.read("Alpha");
    ASSERT_TRUE(yamaha.ok());
    EXPECT_EQ(yamaha.profile->midiOutInUse, 1);
    EXPECT_EQ(yamaha.profile->midiOutput, 2);

    // Selecting a profile loads it into the fields.
    form->profileBox()->setCurrentIndex(1);
    EXPECT_EQ(form->typeBox()->currentIndex(), 5);
    EXPECT_EQ(form->deviceBox()->currentIndex(), 2);
    EXPECT_EQ(form->offsetBox()->value(), -1024);
    EXPECT_FALSE(form->midiOutBox()->isEnabled());

    // Storing under an existing name overwrites it and keeps the position.
    form->deviceBox()->setCurrentIndex(6);
    nextName = "Zulu";
    form->storeButton()->click();
    EXPECT_EQ(form->selectedPosition(), 1);
    EXPECT_EQ(pf::ProfileStore(config).read("Zulu").profile->scsiDevice, 6);
    EXPECT_EQ(items(form->profileBox()).size(), 2);
}

TEST_F(ProfileManagerTest, RefusedNamesAndCancel) {
    auto form = makeForm();
    nextName = "a/b";
    form->storeButton()->click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_NE(messages[0].indexOf("'/'"), -1);
    nextName.reset();
    form->storeButton()->click();
    EXPECT_EQ(items(form->profileBox()), QStringList{"No Presets Stored"});
}

TEST_F(ProfileManagerTest, DeleteSelectsTheEntryBefore) {
    storeAll({"A", "B", "C"});
    lastUsed = 2;
    auto form = makeForm();
    EXPECT_EQ(form->selectedName(), "C") << "the last-used position";
    form->deleteButton()->click();
    EXPECT_EQ(form->selectedName(), "B");
    form->profileBox()->setCurrentIndex(0);
    form->deleteButton()->click();
    EXPECT_EQ(form->selectedName(), "B") << "deleting the first selects the new first";
    form->deleteButton()->click();
    EXPECT_EQ(items(form->profileBox()), QStringList{"No Presets Stored"});
}

TEST_F(ProfileManagerTest, LastUsedBeyondTheListSelectsTheFirst) {
    storeAll({"Only"});
    lastUsed = 5;
    auto form = makeForm();
    EXPECT_EQ(form->selectedName(), "Only");
}

TEST_F(ProfileManagerTest, CorruptAndOutOfRangeProfiles) {
    std::ofstream(config) << "[SOFTWARE]\n"
                             "Brindlecote%20Software\\Cleavix%20%28Advanced%29\\Samplers\\bad=@ByteArray(\\x1\\x2)\n";
    sampler::SamplerProfile far;
    far.midiInput = 7; // two inputs installed
    far.midiOutput = 1;
    far.midiOutInUse = 1;
    ASSERT_TRUE(pf::ProfileStore(config).store("far", far));
    auto form = makeForm();
    ASSERT_EQ(form->selectedName(), "bad");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Error reading preset - may be corrupted!");
    form->profileBox()->setCurrentIndex(1);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[1],
              "Device ID out of range;\r\nCheck settings in preset manager - midi or SCSI device may have been removed");
    EXPECT_EQ(form->midiInBox()->currentIndex(), 0);
    EXPECT_EQ(form->midiOutBox()->currentIndex(), 1);
}

TEST_F(ProfileManagerTest, ListsAreFilledAfreshWhenShownAgain) {
    auto form = makeForm();
    form->hide();
    inputs << "New keyboard";
    bus->setListed(false);
    form->show();
    EXPECT_EQ(items(form->midiInBox()).size(), 3);
    EXPECT_EQ(items(form->adaptorBox()), QStringList{"No host adaptor found"});
    EXPECT_EQ(items(form->deviceBox()), QStringList{"No devices found"});
    form->hide();
    bus->setListed(true);
    form->show();
    ASSERT_TRUE(waitFor([&] { return !form->listingRunning() && form->deviceBox()->count() == 7; }));
}

TEST_F(ProfileManagerTest, DisplayPresetsShowsTheAskedProfile) {
    storeAll({"One", "Three", "Two"});
    lastUsed = 0;
    auto form = makeForm();
    form->hide();
    QString shown;
    QTimer::singleShot(0, form.get(), [&] {
        shown = form->selectedName();
        form->reject();
    });
    form->DisplayPresets(2);
    EXPECT_EQ(shown, "Two");
    // Shown the ordinary way, it is the last-used position again.
    form->show();
    EXPECT_EQ(form->selectedName(), "One");
}

TEST_F(ProfileManagerTest, OkReportsTheSelectedProfile) {
    storeAll({"One", "Two"});
    auto form = makeForm();
    form->profileBox()->setCurrentIndex(1);
    int position = -1;
    QString name;
    QObject::connect(form.get(), &TGeneralProfileManagerForm::profileChosen, [&](int p, const QString& n) {
        position = p;
        name = n;
    });
    form->okButton()->click();
    EXPECT_EQ(position, 1);
    EXPECT_EQ(name, "Two");
    EXPECT_FALSE(form->isVisible());
}

} // namespace
} // namespace cleavix::ui
