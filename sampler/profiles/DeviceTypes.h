#pragma once
// The device types a sampler profile names: the eight rows of the type selector, which driver
// each takes and which connections each uses. Data, no threads.
#include <array>
#include <cstdint>
#include <string>

namespace cleavix::sampler::profiles {

enum class DriverKind : uint8_t { Sds, Smdi, Akai };

struct DeviceType {
    uint8_t index;
    const char* text;
    DriverKind driver;
    bool midiIn;
    bool midiOut;
    bool scsi;
    bool channel; // channel and "Open loop"
};

inline constexpr int kDeviceTypeCount = 8;
extern const std::array<DeviceType, kDeviceTypeCount> kDeviceTypes;

// nullptr outside 0..7.
const DeviceType* deviceType(int index);
bool isScsiType(int index);
// "Auto map" is offered for the types that can lay samples over the keyboard (2 to 7).
bool autoMapOffered(int index);
// The transfer dialog's receive button: "List Samples" for SCSI types, "Wait For Send" for MIDI.
std::string receiveButtonText(int index);

// Which fields of the profile manager are enabled for a type, worked out from its text: "SCSI"
// and "needs" (SCSI lists and MIDI output), "SCSI" only (SCSI lists), else MIDI in, out and
// channel with "Open loop" shown.
struct Enabling {
    bool scsi = false;
    bool midiIn = false;
    bool midiOut = false;
    bool channel = false;
    bool openLoopShown = false;
};
Enabling enablingFor(int index);

} // namespace cleavix::sampler::profiles
