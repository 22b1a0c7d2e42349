#include "ui/sampler/ProfileManagerForm.h"

#include "sampler/profiles/DeviceTypes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace cleavix::ui {

namespace pf = sampler::profiles;
namespace scsi = sampler::scsi;

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

void selectRow(QComboBox* box, int row) {
    if (row >= 0 && row < box->count()) {
        box->setCurrentIndex(row);
    }
}

} // namespace

std::optional<QString> askProfileName(QWidget* parent, const QString& prefill) {
    QDialog dialog(parent);
    dialog.setWindowTitle("Name Profile:");
    auto* layout = new QFormLayout(&dialog);
    auto* edit = new QLineEdit(prefill, &dialog);
    edit->setObjectName("nameEdit");
    layout->addRow("Name:", edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return edit->text();
}

sampler::SamplerProfile buildProfileRecord(const ProfileFields& f) {
    const pf::Enabling uses = pf::enablingFor(f.deviceType);
    sampler::SamplerProfile p;
    p.midiInput = static_cast<uint8_t>(std::clamp(f.midiInput, 0, 255));
    p.midiOutput = static_cast<uint8_t>(std::clamp(f.midiOutput, 0, 255));
    p.scsiAdaptor = static_cast<uint8_t>(std::clamp(f.scsiAdaptor, 0, pf::kMaxAdaptor));
    p.scsiDevice = static_cast<uint8_t>(std::clamp(f.scsiDevice, 0, pf::kMaxDevice));
    p.sysexId = static_cast<uint8_t>(std::clamp(f.sysexId, 1, 16));
    p.midiChannel = static_cast<uint8_t>(pf::clampMidiChannel(f.midiChannel));
    p.openLoop = f.openLoop ? 1 : 0;
    p.scsiInUse = uses.scsi ? 1 : 0;
    p.midiOutInUse = uses.midiOut ? 1 : 0;
    p.deviceType = static_cast<uint8_t>(std::clamp(f.deviceType, 0, pf::kDeviceTypeCount - 1));
    p.sampleNumberOffset = std::clamp(f.offset, pf::kMinOffset, pf::kMaxOffset);
    return p;
}

void fillMidiList(QComboBox* box, const QStringList& names) {
    const int previous = box->currentIndex();
    box->clear();
    box->addItems(names);
    selectRow(box, std::max(previous, 0));
}

ScsiDeviceLists::ScsiDeviceLists(scsi::ScsiLayer* layer, QComboBox* adaptors, QComboBox* devices, QObject* parent)
    : QObject(parent), scsi_(layer), adaptors_(adaptors), devices_(devices) {
    if (scsi_) {
        listing_ = std::make_unique<scsi::DeviceListing>(*scsi_);
    }
    adaptors_->addItem(kNoHostAdaptorFound);
    devices_->addItem(kNoDevicesFound);
    connect(adaptors_, &QComboBox::currentIndexChanged, this, [this](int) { listIfAdaptorChanged(); });
}

ScsiDeviceLists::~ScsiDeviceLists() = default;

void ScsiDeviceLists::fill() {
    if (running()) {
        return; // never under a running listing; the list is filled again next time
    }
    adaptors_->blockSignals(true);
    adaptors_->clear();
    adaptors_->addItem(kNoHostAdaptorFound);
    adaptorsFound_ = false;
    if (scsi_ && scsi_->available()) {
        const auto adaptors = scsi_->adaptors();
        for (const auto& adaptor : adaptors) {
            adaptors_->addItem(qs(scsi::adaptorLine(adaptor)));
        }
        if (!adaptors.empty()) {
            adaptors_->removeItem(0);
            adaptorsFound_ = true;
        }
    }
    adaptors_->setCurrentIndex(0);
    adaptors_->blockSignals(false);
    devices_->clear();
    devices_->addItem(kNoDevicesFound);
    if (listing_) {
        // A fresh list: the adaptor counts as changed.
        listing_ = std::make_unique<scsi::DeviceListing>(*scsi_);
    }
    listIfAdaptorChanged();
}

bool ScsiDeviceLists::running() const {
    return listing_ && listing_->running();
}

void ScsiDeviceLists::listIfAdaptorChanged() {
    if (!listing_ || !adaptorsFound_ || listing_->running()) {
        return;
    }
    const int adaptor = adaptors_->currentIndex();
    if (adaptor < 0 || listing_->lastListed() == adaptor) {
        return;
    }
    devices_->clear();
    devices_->addItem(kNoDevicesFound);
    listing_->start(
        adaptor, [this](const scsi::DeviceEntry& entry) { devices_->addItem(qs(entry.line)); },
        [this](const std::vector<scsi::DeviceEntry>&) {
            devices_->removeItem(0);
            selectRow(devices_, wantedDevice_);
            emit listed();
            // The adaptor may have changed while the listing ran.
            listIfAdaptorChanged();
        });
}

void ScsiDeviceLists::select(int adaptor, int device) {
    wantedDevice_ = device;
    selectRow(adaptors_, adaptor);
    if (!running()) {
        selectRow(devices_, device);
    }
}

int ScsiDeviceLists::adaptorPosition() const {
    return adaptorsFound_ ? std::max(adaptors_->currentIndex(), 0) : 0;
}

int ScsiDeviceLists::deviceId() const {
    // The device lines are the targets 0 to 6 in order once a listing ended.
    const bool listed = devices_->count() == scsi::kListedTargets && devices_->itemText(0) != kNoDevicesFound;
    return listed ? std::max(devices_->currentIndex(), 0) : wantedDevice_;
}

TGeneralProfileManagerForm::TGeneralProfileManagerForm(ProfileManagerSetup setup, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)), profiles_(setup_.settingsFile) {
    setWindowTitle("Sampler profile manager");

    type_ = new QComboBox(this);
    for (const auto& type : pf::kDeviceTypes) {
        type_->addItem(type.text);
    }
    adaptor_ = new QComboBox(this);
    device_ = new QComboBox(this);
    midiIn_ = new QComboBox(this);
    midiOut_ = new QComboBox(this);
    channel_ = new QSpinBox(this);
    channel_->setRange(1, 16);
    openLoop_ = new QCheckBox("Open loop", this);
    offset_ = new QSpinBox(this);
    offset_->setRange(pf::kMinOffset, pf::kMaxOffset);
    sysex_ = new QSpinBox(this);
    sysex_->setRange(1, 16);
    profile_ = new QComboBox(this);
    store_ = new QPushButton("Store", this);
    delete_ = new QPushButton("Delete", this);
    ok_ = new QPushButton("OK", this);
    help_ = new QPushButton("Help", this);

    auto* form = new QFormLayout;
    form->addRow("Type:", type_);
    adaptorLabel_ = new QLabel("SCSI  Adaptor:", this);
    form->addRow(adaptorLabel_, adaptor_);
    deviceLabel_ = new QLabel("SCSI Device:", this);
    form->addRow(deviceLabel_, device_);
    midiInLabel_ = new QLabel("MIDI Input:", this);
    form->addRow(midiInLabel_, midiIn_);
    midiOutLabel_ = new QLabel("MIDI Output:", this);
    form->addRow(midiOutLabel_, midiOut_);
    channelLabel_ = new QLabel("Channel:", this);
    form->addRow(channelLabel_, channel_);
    form->addRow(QString(), openLoop_);
    form->addRow("Offset:", offset_);
    sysexLabel_ = new QLabel("Sysex ID:", this);
    form->addRow(sysexLabel_, sysex_);
    sysexLabel_->hide();
    sysex_->hide();
    form->addRow("Profile:", profile_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(store_);
    buttons->addWidget(delete_);
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(help_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    scsiLists_ = new ScsiDeviceLists(setup_.scsi, adaptor_, device_, this);
    connect(scsiLists_, &ScsiDeviceLists::listed, this, &TGeneralProfileManagerForm::devicesListed);
    connect(type_, &QComboBox::currentIndexChanged, this, [this](int row) {
        applyType(row);
        scsiLists_->listIfAdaptorChanged();
    });
    connect(profile_, &QComboBox::currentIndexChanged, this, [this](int) {
        if (!loading_) {
            loadSelected();
        }
    });
    connect(store_, &QPushButton::clicked, this, &TGeneralProfileManagerForm::storeClicked);
    connect(delete_, &QPushButton::clicked, this, &TGeneralProfileManagerForm::deleteClicked);
    connect(ok_, &QPushButton::clicked, this, &TGeneralProfileManagerForm::okClicked);
    connect(help_, &QPushButton::clicked, this, &TGeneralProfileManagerForm::helpRequested);

    channel_->setValue(pf::clampMidiChannel(setup_.midiChannel));
    applyType(0);
}

TGeneralProfileManagerForm::~TGeneralProfileManagerForm() = default;

void TGeneralProfileManagerForm::message(const QString& text) {
    if (setup_.showMessage) {
        setup_.showMessage(text);
    } else {
        QMessageBox::warning(this, windowTitle(), text);
    }
}

int TGeneralProfileManagerForm::DisplayPresets(int index) {
    pendingSelect_ = index; // taken by the refresh that showing the dialog makes
    const int result = exec();
    pendingSelect_.reset();
    return result;
}

void TGeneralProfileManagerForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    refresh();
}

void TGeneralProfileManagerForm::refresh() {
    fillMidiLists();
    scsiLists_->fill();
    const int wanted = pendingSelect_ ? *pendingSelect_ : setup_.lastUsed ? setup_.lastUsed() : 0;
    fillProfiles(pf::lastUsedPosition(wanted, static_cast<int>(profiles_.listLines().size())));
}

void TGeneralProfileManagerForm::fillMidiLists() {
    fillMidiList(midiIn_, setup_.midiInputs ? setup_.midiInputs() : QStringList());
    fillMidiList(midiOut_, setup_.midiOutputs ? setup_.midiOutputs() : QStringList());
}

bool TGeneralProfileManagerForm::listingRunning() const { return scsiLists_->running(); }

void TGeneralProfileManagerForm::fillProfiles(int select) {
    loading_ = true;
    profile_->clear();
    for (const auto& line : profiles_.listLines()) {
        profile_->addItem(qs(line));
    }
    selectRow(profile_, std::max(select, 0));
    loading_ = false;
    loadSelected();
}

QString TGeneralProfileManagerForm::selectedName() const {
    const QString text = profile_->currentText();
    return text == pf::kNoPresetsStored ? QString() : text;
}

int TGeneralProfileManagerForm::selectedPosition() const {
    return std::max(profile_->currentIndex(), 0);
}

pf::InstalledDevices TGeneralProfileManagerForm::installed() const {
    pf::InstalledDevices devices;
    devices.midiInputs = midiIn_->count();
    devices.midiOutputs = midiOut_->count();
    devices.scsiAdaptors = scsiLists_->adaptorsFound() ? adaptor_->count() : 0;
    return devices;
}

void TGeneralProfileManagerForm::loadSelected() {
    const QString name = selectedName();
    if (name.isEmpty()) {
        return;
    }
    const auto load = pf::loadForManager(profiles_.read(name.toStdString()), installed());
    if (!load.profile) {
        message(qs(load.message));
        return;
    }
    const sampler::SamplerProfile& p = *load.profile;
    type_->blockSignals(true);
    type_->setCurrentIndex(p.deviceType);
    type_->blockSignals(false);
    applyType(p.deviceType);
    if (!load.message.empty()) {
        message(qs(load.message));
    }
    if (p.midiOutInUse) {
        selectRow(midiIn_, p.midiInput);
        selectRow(midiOut_, p.midiOutput);
    }
    if (p.scsiInUse) {
        scsiLists_->select(p.scsiAdaptor, p.scsiDevice);
    }
    offset_->setValue(p.sampleNumberOffset);
    sysex_->setValue(p.sysexId);
    openLoop_->setChecked(p.openLoop != 0);
    channel_->setValue(p.midiChannel);
    scsiLists_->listIfAdaptorChanged();
}

void TGeneralProfileManagerForm::applyType(int type) {
    const pf::Enabling e = pf::enablingFor(type);
    adaptor_->setEnabled(e.scsi);
    adaptorLabel_->setEnabled(e.scsi);
    device_->setEnabled(e.scsi);
    deviceLabel_->setEnabled(e.scsi);
    midiIn_->setEnabled(e.midiIn);
    midiInLabel_->setEnabled(e.midiIn);
    midiOut_->setEnabled(e.midiOut);
    midiOutLabel_->setEnabled(e.midiOut);
    channel_->setEnabled(e.channel);
    channelLabel_->setEnabled(e.channel);
    openLoop_->setVisible(e.openLoopShown);
}

sampler::SamplerProfile TGeneralProfileManagerForm::recordFromFields() const {
    ProfileFields f;
    f.deviceType = type_->currentIndex();
    f.midiInput = midiIn_->currentIndex();
    f.midiOutput = midiOut_->currentIndex();
    f.scsiAdaptor = scsiLists_->adaptorPosition();
    f.scsiDevice = scsiLists_->deviceId();
    f.sysexId = sysex_->value();
    f.midiChannel = channel_->value();
    f.openLoop = openLoop_->isChecked();
    f.offset = offset_->value();
    return buildProfileRecord(f);
}

void TGeneralProfileManagerForm::storeClicked() {
    const auto asked = setup_.askName ? setup_.askName(selectedName()) : askProfileName(this, selectedName());
    if (!asked) {
        return;
    }
    const std::string name = asked->trimmed().toStdString();
    if (auto why = pf::invalidProfileName(name)) {
        message(qs(*why));
        return;
    }
    std::string error;
    if (!profiles_.store(name, recordFromFields(), &error)) {
        message(qs(error));
        return;
    }
    // Selected by name: the list is sorted, so a new name need not land last.
    fillProfiles(pf::positionOf(profiles_.names(), name));
}

void TGeneralProfileManagerForm::deleteClicked() {
    const QString name = selectedName();
    if (name.isEmpty()) {
        return;
    }
    const int position = selectedPosition();
    std::string error;
    if (!profiles_.remove(name.toStdString(), &error)) {
        message(qs(error));
        return;
    }
    fillProfiles(pf::positionAfterDelete(position));
}

void TGeneralProfileManagerForm::okClicked() {
    emit profileChosen(selectedPosition(), selectedName());
    accept();
}

} // namespace cleavix::ui
