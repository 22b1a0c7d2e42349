#include "sampler/profiles/ProfileBinding.h"

namespace cleavix::sampler::profiles {

namespace {

// The first used connection whose index is out of range, or nullopt.
std::optional<std::string> outOfRange(const SamplerProfile& profile, const InstalledDevices& devices) {
    const auto* type = deviceType(profile.deviceType);
    if (!type) {
        return "device type " + std::to_string(profile.deviceType);
    }
    auto beyond = [](int index, int count) { return index < 0 || index >= count; };
    if (type->midiIn && beyond(profile.midiInput, devices.midiInputs)) {
        return "MIDI input " + std::to_string(profile.midiInput) + " of " + std::to_string(devices.midiInputs);
    }
    if (type->midiOut && beyond(profile.midiOutput, devices.midiOutputs)) {
        return "MIDI output " + std::to_string(profile.midiOutput) + " of " + std::to_string(devices.midiOutputs);
    }
    if (type->scsi && beyond(profile.scsiAdaptor, devices.scsiAdaptors)) {
        return "SCSI adaptor " + std::to_string(profile.scsiAdaptor) + " of " + std::to_string(devices.scsiAdaptors);
    }
    return std::nullopt;
}

} // namespace

BindingCheck checkBinding(bool anyStored, const ProfileRead& read, const InstalledDevices& devices, bool scsiAvailable) {
    BindingCheck check;
    if (!anyStored) {
        check.verdict = BindingVerdict::NoPresets;
        check.message = kNoPresetsFound;
        return check;
    }
    if (!read.ok() || !read.profile) {
        check.verdict = BindingVerdict::Corrupt;
        check.message = kCorruptBinding;
        check.detail = read.detail;
        return check;
    }
    const SamplerProfile& profile = *read.profile;
    if (isScsiType(profile.deviceType) && !scsiAvailable) {
        check.verdict = BindingVerdict::NoScsi;
        check.message = kCannotInitialiseScsi;
        return check;
    }
    if (auto why = outOfRange(profile, devices)) {
        check.verdict = BindingVerdict::OutOfRange;
        check.message = kOutOfRangeBinding;
        check.detail = *why;
        return check;
    }
    check.verdict = BindingVerdict::Ok;
    check.profile = profile;
    return check;
}

ManagerLoad loadForManager(const ProfileRead& read, const InstalledDevices& devices) {
    ManagerLoad load;
    if (!read.ok() || !read.profile) {
        load.message = kCorruptManager;
        return load;
    }
    SamplerProfile profile = *read.profile;
    bool reset = false;
    if (profile.midiInput >= devices.midiInputs && profile.midiInput != 0) {
        profile.midiInput = 0;
        reset = true;
    }
    if (profile.midiOutput >= devices.midiOutputs && profile.midiOutput != 0) {
        profile.midiOutput = 0;
        reset = true;
    }
    if (reset) {
        load.message = kOutOfRangeManager;
    }
    load.profile = profile;
    return load;
}

DriverTable makeDriverTable(TSamplerClass* sds, TSamplerClass* smdi, TSamplerClass* akai) {
    DriverTable table{};
    for (const auto& type : kDeviceTypes) {
        switch (type.driver) {
        case DriverKind::Sds:
            table[type.index] = sds;
            break;
        case DriverKind::Smdi:
            table[type.index] = smdi;
            break;
        case DriverKind::Akai:
            table[type.index] = akai;
            break;
        }
    }
    return table;
}

TSamplerClass* bindProfile(const SamplerProfile& profile, const DriverTable& table, const BindResources& resources) {
    if (profile.deviceType >= table.size()) {
        return nullptr;
    }
    TSamplerClass* driver = table[profile.deviceType];
    if (!driver) {
        return nullptr;
    }
    driver->setProfile(profile);
    driver->setStatusPanel(resources.status);
    driver->setSampleStore(resources.store);
    driver->setMidiPorts(resources.midiInput, resources.midiOutput);
    return driver;
}

std::string transferErrorText(const TSamplerClass& driver) {
    std::string text = driver.errorText();
    return text.empty() ? std::string(kGeneralTransferError) : text;
}

} // namespace cleavix::sampler::profiles
