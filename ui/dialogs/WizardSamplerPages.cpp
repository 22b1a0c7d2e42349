#include "ui/dialogs/WizardSamplerPages.h"

#include "sampler/profiles/DeviceTypes.h"
#include "sampler/profiles/ProfileStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWizard>
#include <QWizardPage>

#include <algorithm>
#include <functional>
#include <string>

namespace cleavix::ui {

namespace pf = sampler::profiles;

namespace {

// A page whose way on, completeness and check are the pages object's.
class SamplerStep final : public QWizardPage {
public:
    SamplerStep(const QString& title, const QString& text, std::function<int()> next)
        : next_(std::move(next)), text_(new QLabel(text, this)), column_(new QVBoxLayout(this)) {
        setTitle(title);
        text_->setWordWrap(true);
        column_->addWidget(text_);
    }
    int nextId() const override { return next_(); }
    bool isComplete() const override { return complete_ ? complete_() : true; }
    bool validatePage() override { return validate_ ? validate_() : true; }
    void initializePage() override {
        if (enter_) {
            enter_();
        }
    }

    QFormLayout* form() {
        if (form_ == nullptr) {
            form_ = new QFormLayout;
            column_->addLayout(form_);
        }
        return form_;
    }
    void finish() { column_->addStretch(); }
    void setText(const QString& text) { text_->setText(text); }
    void changed() { emit completeChanged(); }

    std::function<bool()> complete_;
    std::function<bool()> validate_;
    std::function<void()> enter_;

private:
    std::function<int()> next_;
    QLabel* text_;
    QVBoxLayout* column_;
    QFormLayout* form_ = nullptr;
};

QString qs(const std::string& text) { return QString::fromStdString(text); }

bool typeTextHas(int type, const char* word) {
    const auto* t = pf::deviceType(type);
    return t != nullptr && std::string(t->text).find(word) != std::string::npos;
}

constexpr const char* kProfileText =
    "A sampler profile tells Cleavix how to reach a hardware sampler: the protocol it speaks and the "
    "MIDI or SCSI devices it is connected through. Cleavix lists its own virtual samplers with the "
    "real devices, so a profile can be tried without hardware.\n\n"
    "Press Next to make a profile, or Skip to finish without one.";
constexpr const char* kNoProfileText =
    "A sampler profile tells Cleavix how to reach a hardware sampler. The configuration cannot be "
    "opened, so no profile can be stored now.\n\nPress Skip to finish the wizard.";
constexpr const char* kScsiText =
    "Choose the host adaptor and the SCSI ID of the sampler. Devices that report themselves as "
    "processors, as SMDI samplers do, are marked (*). The Cleavix virtual SCSI bus holds emulated "
    "samplers: an Akai S2000 at ID 2, an SMDI sampler at ID 3 and an E-mu sampler at ID 4.";
constexpr const char* kMidiText =
    "Choose the MIDI ports the sampler is connected to. The virtual ports come after the hardware "
    "ones: the virtual cable, and the Cleavix virtual SDS sampler, an emulated sampler that speaks "
    "the MIDI Sample Dump Standard.";
constexpr const char* kMidiOutText =
    "This sampler takes its key maps as MIDI messages: choose the MIDI output it is connected to.";
constexpr const char* kOptionsText =
    "The offset is added to the sample position typed in the transfer dialogs, for samplers that "
    "count their samples from another number.";
constexpr const char* kOptionsMidiText =
    "Choose the sampler's MIDI channel. Open loop sends without waiting for the sampler's "
    "answers, for samplers connected by a MIDI output only.\n\n"
    "The offset is added to the sample position typed in the transfer dialogs, for samplers that "
    "count their samples from another number.";
constexpr const char* kNameText =
    "Name the profile. The transfer dialogs and the profile manager list it by this name.";

} // namespace

WizardSamplerPages::WizardSamplerPages(QWizard& wizard, Ids ids, std::optional<ProfileManagerSetup> sampler)
    : QObject(&wizard), wizard_(wizard), ids_(ids), setup_(std::move(sampler)) {
    buildPages();
}

WizardSamplerPages::~WizardSamplerPages() = default;

void WizardSamplerPages::buildPages() {
    auto* intro = new SamplerStep("Sampler Profile", setup_ ? kProfileText : kNoProfileText,
                                  [this] { return skipping_ || !setup_ ? ids_.complete : ids_.protocol; });
    intro->finish();
    wizard_.setPage(ids_.samplerProfile, intro);

    auto* protocol = new SamplerStep("Protocol Selection", "Choose the protocol your sampler speaks:",
                                     [this] { return protocolHasScsi() ? ids_.scsiDevices : ids_.midiDevices; });
    protocols_ = new QListWidget(protocol);
    protocols_->setObjectName("ProtocolList");
    for (const auto& type : pf::kDeviceTypes) {
        protocols_->addItem(type.text);
    }
    protocols_->setCurrentRow(0);
    protocol->form()->addRow(protocols_);
    protocol->complete_ = [this] { return protocols_->currentRow() >= 0; };
    connect(protocols_, &QListWidget::currentRowChanged, protocol, [protocol](int) { protocol->changed(); });
    wizard_.setPage(ids_.protocol, protocol);

    auto* scsiPage = new SamplerStep("SCSI devices", kScsiText,
                                     [this] { return protocolHasMidi() ? ids_.midiDevices : ids_.options; });
    adaptor_ = new QComboBox(scsiPage);
    adaptor_->setObjectName("AdaptorBox");
    device_ = new QComboBox(scsiPage);
    device_->setObjectName("DeviceBox");
    scsiPage->form()->addRow("SCSI  Adaptor:", adaptor_);
    scsiPage->form()->addRow("SCSI Device:", device_);
    scsiPage->finish();
    scsiLists_ = new ScsiDeviceLists(setup_ ? setup_->scsi : nullptr, adaptor_, device_, this);
    // The device is known once its listing has ended.
    scsiPage->complete_ = [this] { return !scsiLists_->running(); };
    scsiPage->enter_ = [this] { enterScsiPage(); };
    connect(scsiLists_, &ScsiDeviceLists::listed, scsiPage, [scsiPage] { scsiPage->changed(); });
    wizard_.setPage(ids_.scsiDevices, scsiPage);

    auto* midiPage = new SamplerStep("MIDI devices", kMidiText, [this] { return ids_.options; });
    midiIn_ = new QComboBox(midiPage);
    midiIn_->setObjectName("MidiInBox");
    midiOut_ = new QComboBox(midiPage);
    midiOut_->setObjectName("MidiOutBox");
    midiInRow_ = new QLabel("MIDI Input:", midiPage);
    midiPage->form()->addRow(midiInRow_, midiIn_);
    midiPage->form()->addRow("MIDI Output:", midiOut_);
    midiPage->finish();
    midiPage->enter_ = [this, midiPage] {
        enterMidiPage();
        midiPage->setText(protocolHasScsi() ? kMidiOutText : kMidiText);
    };
    wizard_.setPage(ids_.midiDevices, midiPage);

    auto* options = new SamplerStep("Miscellaneous Sampler Options", kOptionsText, [this] { return ids_.profileName; });
    channel_ = new QSpinBox(options);
    channel_->setObjectName("ChannelBox");
    channel_->setRange(1, 16);
    channel_->setValue(pf::clampMidiChannel(setup_ ? setup_->midiChannel : 1));
    openLoop_ = new QCheckBox("Open loop", options);
    openLoop_->setObjectName("OpenLoopBox");
    offset_ = new QSpinBox(options);
    offset_->setObjectName("OffsetBox");
    offset_->setRange(pf::kMinOffset, pf::kMaxOffset);
    channelRow_ = new QLabel("Channel:", options);
    options->form()->addRow(channelRow_, channel_);
    options->form()->addRow(QString(), openLoop_);
    options->form()->addRow("Offset:", offset_);
    options->finish();
    options->enter_ = [this, options] {
        enterOptionsPage();
        options->setText(pf::enablingFor(deviceType()).channel ? kOptionsMidiText : kOptionsText);
    };
    wizard_.setPage(ids_.options, options);

    auto* naming = new SamplerStep("Profile Name", kNameText, [this] { return ids_.complete; });
    name_ = new QLineEdit(naming);
    name_->setObjectName("ProfileNameEdit");
    naming->form()->addRow("Name:", name_);
    naming->finish();
    naming->complete_ = [this] { return !name_->text().trimmed().isEmpty(); };
    naming->validate_ = [this] { return nameAccepted(); };
    connect(name_, &QLineEdit::textChanged, naming, [naming] { naming->changed(); });
    wizard_.setPage(ids_.profileName, naming);
}

void WizardSamplerPages::skip() {
    if (wizard_.currentId() != ids_.samplerProfile) {
        return;
    }
    skipping_ = true;
    wizard_.next();
}

void WizardSamplerPages::pageEntered(int id) {
    if (id == ids_.samplerProfile) {
        skipping_ = false; // back on the page: Next makes a profile again
    }
}

int WizardSamplerPages::deviceType() const {
    return std::clamp(protocols_->currentRow(), 0, pf::kDeviceTypeCount - 1);
}

bool WizardSamplerPages::protocolHasScsi() const { return typeTextHas(deviceType(), "SCSI"); }

bool WizardSamplerPages::protocolHasMidi() const { return typeTextHas(deviceType(), "MIDI"); }

void WizardSamplerPages::enterScsiPage() {
    // Listed once; coming back keeps the choice.
    if (!scsiFilled_) {
        scsiFilled_ = true;
        scsiLists_->fill();
    }
}

void WizardSamplerPages::enterMidiPage() {
    fillMidiList(midiIn_, setup_ && setup_->midiInputs ? setup_->midiInputs() : QStringList());
    fillMidiList(midiOut_, setup_ && setup_->midiOutputs ? setup_->midiOutputs() : QStringList());
    const pf::Enabling uses = pf::enablingFor(deviceType());
    midiIn_->setEnabled(uses.midiIn);
    midiInRow_->setEnabled(uses.midiIn);
}

void WizardSamplerPages::enterOptionsPage() {
    const pf::Enabling uses = pf::enablingFor(deviceType());
    channel_->setEnabled(uses.channel);
    channelRow_->setEnabled(uses.channel);
    openLoop_->setVisible(uses.openLoopShown);
}

bool WizardSamplerPages::profileMade() const {
    return setup_.has_value() && wizard_.hasVisitedPage(ids_.profileName);
}

QString WizardSamplerPages::profileName() const { return name_->text().trimmed(); }

sampler::SamplerProfile WizardSamplerPages::record() const {
    ProfileFields f;
    f.deviceType = deviceType();
    f.midiInput = midiIn_->currentIndex();
    f.midiOutput = midiOut_->currentIndex();
    f.scsiAdaptor = scsiLists_->adaptorPosition();
    f.scsiDevice = scsiLists_->deviceId();
    f.midiChannel = channel_->value();
    f.openLoop = pf::enablingFor(f.deviceType).openLoopShown && openLoop_->isChecked();
    f.offset = offset_->value();
    return buildProfileRecord(f);
}

bool WizardSamplerPages::nameAccepted() {
    if (!setup_) {
        return false;
    }
    const std::string name = profileName().toStdString();
    if (auto why = pf::invalidProfileName(name)) {
        message(qs(*why));
        return false;
    }
    const pf::ProfileStore store(setup_->settingsFile);
    const auto names = store.names();
    if (std::find(names.begin(), names.end(), name) != names.end()) {
        return confirm(QString("A profile named \"%1\" is already stored.\r\n\r\nReplace it?").arg(profileName()));
    }
    return true;
}

bool WizardSamplerPages::store() {
    if (!profileMade()) {
        return true;
    }
    std::string error;
    if (!pf::ProfileStore(setup_->settingsFile).store(profileName().toStdString(), record(), &error)) {
        message(qs(error));
        return false;
    }
    return true;
}

int WizardSamplerPages::storedPosition() const {
    if (!setup_) {
        return 0;
    }
    return pf::positionOf(pf::ProfileStore(setup_->settingsFile).names(), profileName().toStdString());
}

void WizardSamplerPages::message(const QString& text) {
    if (setup_ && setup_->showMessage) {
        setup_->showMessage(text);
    } else {
        QMessageBox::warning(&wizard_, wizard_.windowTitle(), text);
    }
}

bool WizardSamplerPages::confirm(const QString& question) {
    if (setup_ && setup_->confirm) {
        return setup_->confirm(question);
    }
    return QMessageBox::question(&wizard_, wizard_.windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace cleavix::ui
