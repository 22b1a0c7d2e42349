#pragma once
// TGeneralProfileManagerForm, the "Sampler profile manager": makes, changes and deletes the
// sampler profiles kept in the settings file. The device lists are filled afresh each time the
// dialog is shown; the SCSI device list fills from the SCSI layer's completions, one target after
// another, without holding up the dialog.
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
};

class TGeneralProfileManagerForm final : public QDialog {
    Q_OBJECT
public:
    explicit TGeneralProfileManagerForm(ProfileManagerSetup setup, QWidget* parent = nullptr);
    ~TGeneralProfileManagerForm() override;

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
    void fillAdaptors();
    void listDevicesIfAdaptorChanged();
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
    std::unique_ptr<sampler::scsi::DeviceListing> listing_;
    int wantedDevice_ = 0; // the device line to select when a listing ends
    std::optional<int> pendingSelect_; // the profile DisplayPresets asked for
    bool adaptorsFound_ = false;
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
