#pragma once
// The configuration wizard's sampler pages: "Sampler Profile" (with "Skip", which goes to the
// end), "Protocol Selection" (the eight device types), "SCSI devices" (after a protocol whose
// name holds "SCSI"), "MIDI devices" (after one whose name holds "MIDI", or none with "SCSI"),
// "Miscellaneous Sampler Options" and "Profile Name". The device pages list what the profile
// manager lists, the virtual MIDI ports and the emulated samplers on the virtual SCSI bus among
// them, and the record is the profile manager's (buildProfileRecord), stored when the wizard
// finishes; a name already stored is replaced only when the user says so.
//
// Threads: main thread only (the SCSI listing's completions arrive there).
#include "ui/sampler/ProfileManagerForm.h"

#include <QObject>
#include <QString>

#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QWizard;

namespace cleavix::ui {

class WizardSamplerPages final : public QObject {
    Q_OBJECT
public:
    // The page ids the pages take, and the id of the wizard's last page.
    struct Ids {
        int samplerProfile, protocol, scsiDevices, midiDevices, options, profileName, complete;
    };
    // sampler: what the profile manager works with; nullopt when there is nowhere to store a
    // profile (the "Sampler Profile" page then only offers "Skip").
    WizardSamplerPages(QWizard& wizard, Ids ids, std::optional<ProfileManagerSetup> sampler);
    ~WizardSamplerPages() override;

    const Ids& ids() const { return ids_; }
    bool canMakeProfile() const { return setup_.has_value(); }
    // "Skip" was pressed on the "Sampler Profile" page (cleared when the user comes back to it).
    bool skipping() const { return skipping_; }
    void skip();
    void pageEntered(int id);

    // The protocol chosen: a row of the device type table.
    int deviceType() const;
    bool protocolHasScsi() const;
    bool protocolHasMidi() const;

    // A profile is made when the wizard went through "Profile Name".
    bool profileMade() const;
    QString profileName() const;
    sampler::SamplerProfile record() const;
    // Stores the record under the name. False after showing why it could not be stored.
    bool store();
    // The name's list position once stored (the last-used profile position).
    int storedPosition() const;

    // Whether the "Profile Name" page may be left: a valid name, and a stored one replaced only
    // when the user agrees.
    bool nameAccepted();

    QListWidget* protocolList() const { return protocols_; }
    QComboBox* adaptorBox() const { return adaptor_; }
    QComboBox* deviceBox() const { return device_; }
    ScsiDeviceLists* scsiLists() const { return scsiLists_; }
    QComboBox* midiInBox() const { return midiIn_; }
    QComboBox* midiOutBox() const { return midiOut_; }
    QSpinBox* channelBox() const { return channel_; }
    QCheckBox* openLoopBox() const { return openLoop_; }
    QSpinBox* offsetBox() const { return offset_; }
    QLineEdit* nameEdit() const { return name_; }

private:
    void buildPages();
    void enterScsiPage();
    void enterMidiPage();
    void enterOptionsPage();
    void message(const QString& text);
    bool confirm(const QString& question);

    QWizard& wizard_;
    Ids ids_;
    std::optional<ProfileManagerSetup> setup_;
    bool skipping_ = false;
    bool scsiFilled_ = false;

    QListWidget* protocols_ = nullptr;
    QComboBox* adaptor_ = nullptr;
    QComboBox* device_ = nullptr;
    ScsiDeviceLists* scsiLists_ = nullptr;
    QComboBox* midiIn_ = nullptr;
    QComboBox* midiOut_ = nullptr;
    QSpinBox* channel_ = nullptr;
    QCheckBox* openLoop_ = nullptr;
    QSpinBox* offset_ = nullptr;
    QLineEdit* name_ = nullptr;
    QWidget* midiInRow_ = nullptr;
    QWidget* channelRow_ = nullptr;
};

} // namespace cleavix::ui
