#pragma once
// Binding a profile to its driver, and the checks before it: pure functions over the record read
// from the settings and the devices installed now, so the transfer dialogs, the profile manager
// and the command-line tool give the same verdicts.
//
// A device index is valid when 0 <= index < the number of such devices; only the connections the
// profile's type uses are checked (a SCSI profile does not need a MIDI input to exist). Unlike a
// warning that lets the transfer go on, an index out of range refuses the transfer, so it never
// goes to whichever device the driver still had.
#include "sampler/SamplerClass.h"
#include "sampler/profiles/DeviceTypes.h"
#include "sampler/profiles/ProfileRecord.h"

#include <array>
#include <optional>
#include <string>

namespace cleavix::sampler::profiles {

struct InstalledDevices {
    int midiInputs = 0;
    int midiOutputs = 0;
    int scsiAdaptors = 0; // real entries of the adaptor list ("No host adaptor found" is none)
};

enum class BindingVerdict { Ok, NoPresets, Corrupt, NoScsi, OutOfRange };

struct BindingCheck {
    BindingVerdict verdict = BindingVerdict::Corrupt;
    std::string message; // the text to show; empty when Ok
    std::string detail;  // what exactly was wrong
    std::optional<SamplerProfile> profile;
    bool ok() const { return verdict == BindingVerdict::Ok; }
};

// The transfer dialogs' checks, in their order: a profile stored at all, the record readable, the
// SCSI layer present for a SCSI type, the device indices in range.
BindingCheck checkBinding(bool anyStored, const ProfileRead& read, const InstalledDevices& devices, bool scsiAvailable);

// Loading a profile into the profile manager: a readable record with MIDI indices out of range is
// shown with those reset to 0 and the manager's out-of-range message.
struct ManagerLoad {
    std::optional<SamplerProfile> profile;
    std::string message; // empty when nothing needs saying
};
ManagerLoad loadForManager(const ProfileRead& read, const InstalledDevices& devices);

// Entry per device type: the MIDI driver for 0, the Akai driver for 5, the SCSI SMDI driver for
// the rest.
using DriverTable = std::array<TSamplerClass*, kDeviceTypeCount>;
DriverTable makeDriverTable(TSamplerClass* sds, TSamplerClass* smdi, TSamplerClass* akai);

struct BindResources {
    StatusSink status;
    sample::TFileAndMemoryStream* store = nullptr;
    midi::TMidiInput* midiInput = nullptr;
    midi::TMidiOutput* midiOutput = nullptr;
};
// Hands a checked profile and the resources to the driver of its type; that driver, or nullptr
// when the type is out of range or the table has no driver for it.
TSamplerClass* bindProfile(const SamplerProfile& profile, const DriverTable& table, const BindResources& resources);

// The text to show after a failed transfer: the driver's own, or a general one when the driver
// kept none (never an empty message box).
std::string transferErrorText(const TSamplerClass& driver);
inline constexpr const char* kGeneralTransferError = "An error occurred during communication with the sampler";

} // namespace cleavix::sampler::profiles
