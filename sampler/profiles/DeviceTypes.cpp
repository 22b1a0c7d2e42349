#include "sampler/profiles/DeviceTypes.h"

#include <string_view>

namespace cleavix::sampler::profiles {

const std::array<DeviceType, kDeviceTypeCount> kDeviceTypes = {{
    {0, "Generic MIDI SDS", DriverKind::Sds, true, true, false, true},
    {1, "Generic SCSI SMDI", DriverKind::Smdi, false, false, true, false},
    {2, "Yamaha A3000 SCSI (needs MIDI out)", DriverKind::Smdi, false, true, true, false},
    {3, "Yamaha EX SCSI (needs MIDI out)", DriverKind::Smdi, false, true, true, false},
    {4, "E-mu ESI and EOS (E4 / E64) SCSI", DriverKind::Smdi, false, false, true, false},
    {5, "Akai S2000 / S3000XL / S3200XL SCSI", DriverKind::Akai, false, false, true, false},
    {6, "Yamaha A4000 SCSI (needs MIDI out)", DriverKind::Smdi, false, true, true, false},
    {7, "Yamaha A5000 SCSI (needs MIDI out)", DriverKind::Smdi, false, true, true, false},
}};

const DeviceType* deviceType(int index) {
    return index >= 0 && index < kDeviceTypeCount ? &kDeviceTypes[size_t(index)] : nullptr;
}

bool isScsiType(int index) {
    const auto* type = deviceType(index);
    return type && type->scsi;
}

bool autoMapOffered(int index) {
    return index >= 2 && index < kDeviceTypeCount;
}

std::string receiveButtonText(int index) {
    return isScsiType(index) ? "List Samples" : "Wait For Send";
}

Enabling enablingFor(int index) {
    const auto* type = deviceType(index);
    if (!type) {
        return {};
    }
    const std::string_view text = type->text;
    const bool scsi = text.find("SCSI") != std::string_view::npos;
    const bool needs = text.find("needs") != std::string_view::npos;
    Enabling enabling;
    if (scsi) {
        enabling.scsi = true;
        enabling.midiOut = needs;
    } else {
        enabling.midiIn = enabling.midiOut = enabling.channel = enabling.openLoopShown = true;
    }
    return enabling;
}

} // namespace cleavix::sampler::profiles
