#pragma once
// TGeneralProfileManagerForm, the "Sampler profile manager": makes, changes and deletes the
// sampler profiles kept in the settings file. The device lists are filled afresh each time the
// dialog is shown; the SCSI device list fills from the SCSI layer's completions, one target after
// another, without holding up the dialog. The SCSI lists and the record builder are shared with
// the configuration wizard's sampler pages, so both store a profile by the same rules.
//
// Threads: main thread only (the SCSI completions arrive there through the dispatcher).
#include "sampler/profiles/ProfileBinding.h"
#include "sampler/profiles/ProfileStore.h"
#include "sampler/scsi/ScsiLayer.h"
#include "sampler/scsi/ScsiListing.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace cleavix::ui {

inline constexpr const char* kNoHostAdaptorFound = "No host adaptor found";
inline constexpr const char* kNoDevicesFound = "No devices found";

// What the dialog works with; the main window fills it in.
struct ProfileManagerSetup {
    std::filesystem::path settingsFile = sampler::profiles::defaultSettingsPath();
    sampler::scsi::ScsiLayer* scsi = nullptr; // null: no SCSI layer
    // The product names of the installed MIDI devices, in device order.
    std::function<QStringList()> midiInputs;
    std::function<QStringList()> midiOutputs;
    int midiChannel = 1; // the configured channel (clamped to 1..16)
    // The last-used profile position ("PNo"), shared with the transfer dialogs.
    std::function<int()> lastUsed;
    // Message boxes and the "Name Profile:" dialog; tests replace them.
    std::function<void(const QString& text)> showMessage;
    std::function<std::optional<QString>(const QString& prefill)> askName;
    // A yes/no question (the wizard's "replace the stored profile?"); true for yes.
    std::function<bool(const QString& question)> confirm;
};

// What a dialog's fields hold when a profile is stored: list positions and values.
struct ProfileFields {
    int deviceType = 0;
    int midiInput = 0;  // list positions of the installed devices
    int midiOutput = 0;
    int scsiAdaptor = 0; // list position among the adaptors found (0 when none was)
    int scsiDevice = 0;  // SCSI target ID
    int sysexId = 1;
    int midiChannel = 1;
    bool openLoop = false;
    int offset = 0;
};

// The one record builder of the profile manager and the wizard. "SCSI in use" and "MIDI out in
// use" are what the type enables (the lists a dialog shows enabled for it), so a record never
// claims a connection its type does not use.
sampler::SamplerProfile buildProfileRecord(const ProfileFields& fields);

// The "SCSI  Adaptor:" and "SCSI Device:" lists: the adaptors found ("No host adaptor found"
// when none), and the targets 0 to 6 of the selected adaptor, listed one after another from the
// layer's completions whenever the selected adaptor differs from the one last listed (never while
// a listing runs). Main thread only.
class ScsiDeviceLists final : public QObject {
    Q_OBJECT
public:
    ScsiDeviceLists(sampler::scsi::ScsiLayer* scsi, QComboBox* adaptors, QComboBox* devices, QObject* parent);
    ~ScsiDeviceLists() override;

    // Fills the adaptor list afresh and lists the first adaptor's devices.
    void fill();
    void listIfAdaptorChanged();
    bool running() const;
    bool adaptorsFound() const { return adaptorsFound_; }
    // Selects a stored profile's lines; the device line once its listing has ended.
    void select(int adaptor, int device);
    // What a record stores: the adaptor's list position and the selected target ID.
    int adaptorPosition() const;
    int deviceId() const;

signals:
    void listed();

private:
    sampler::scsi::ScsiLayer* scsi_;
    QComboBox* adaptors_;
    QComboBox* devices_;
    std::unique_ptr<sampler::scsi::DeviceListing> listing_;
    int wantedDevice_ = 0; // the device line to select when a listing ends
    bool adaptorsFound_ = false;
};

// The product names of a MIDI list, keeping the row selected before when it is still there.
void fillMidiList(QComboBox* box, const QStringList& names);

class TGeneralProfileManagerForm final : public QDialog {
    Q_OBJECT
public:
    explicit TGeneralProfileManagerForm(ProfileManagerSetup setup, QWidget* parent = nullptr);
    ~TGeneralProfileManagerForm() override;

    // What the dialog works with (the wizard's sampler pages take the same).
    const ProfileManagerSetup& setup() const { return setup_; }

    // Shows the dialog modally with the profile at `index` selected (the transfer dialog's "Edit").
    int DisplayPresets(int index);

    // The record the dialog's fields make now (what Store writes).
    sampler::SamplerProfile recordFromFields() const;
    // The selected profile's list position, and its name ("" for the placeholder line).
    int selectedPosition() const;
    QString selectedName() const;
    bool listingRunning() const;

    QComboBox* typeBox() const { return type_; }
    QComboBox* adaptorBox() const { return adaptor_; }
    QComboBox* deviceBox() const { return device_; }
    QComboBox* midiInBox() const { return midiIn_; }
    QComboBox* midiOutBox() const { return midiOut_; }
    QSpinBox* channelBox() const { return channel_; }
    QCheckBox* openLoopBox() const { return openLoop_; }
    QSpinBox* offsetBox() const { return offset_; }
    QSpinBox* sysexBox() const { return sysex_; }
    QComboBox* profileBox() const { return profile_; }
    QPushButton* storeButton() const { return store_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* helpButton() const { return help_; }

    // Fills every list afresh (what showing the dialog does).
    void refresh();

signals:
    // "OK": the transfer dialog selects the same position and binds it.
    void profileChosen(int position, const QString& name);
    void helpRequested();
    // A SCSI device listing ended.
    void devicesListed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillMidiLists();
    void fillProfiles(int select);
    void loadSelected();
    void applyType(int type);
    void storeClicked();
    void deleteClicked();
    void okClicked();
    void message(const QString& text);
    sampler::profiles::InstalledDevices installed() const;

    ProfileManagerSetup setup_;
    sampler::profiles::ProfileStore profiles_;
    ScsiDeviceLists* scsiLists_ = nullptr;
    std::optional<int> pendingSelect_; // the profile DisplayPresets asked for
    bool loading_ = false;

    QComboBox* type_ = nullptr;
    QLabel* adaptorLabel_ = nullptr;
    QComboBox* adaptor_ = nullptr;
    QLabel* deviceLabel_ = nullptr;
    QComboBox* device_ = nullptr;
    QLabel* midiInLabel_ = nullptr;
    QComboBox* midiIn_ = nullptr;
    QLabel* midiOutLabel_ = nullptr;
    QComboBox* midiOut_ = nullptr;
    QLabel* channelLabel_ = nullptr;
    QSpinBox* channel_ = nullptr;
    QCheckBox* openLoop_ = nullptr;
    QSpinBox* offset_ = nullptr;
    QLabel* sysexLabel_ = nullptr;
    QSpinBox* sysex_ = nullptr;
    QComboBox* profile_ = nullptr;
    QPushButton* store_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* help_ = nullptr;
};

// The "Name Profile:" dialog: label "Name:", OK and Cancel. nullopt on Cancel.
std::optional<QString> askProfileName(QWidget* parent, const QString& prefill);

} // namespace cleavix::ui
