#include "sampler/profiles/ProfileRecord.h"

#include "sampler/profiles/DeviceTypes.h"

#include <algorithm>

namespace cleavix::sampler::profiles {

std::array<uint8_t, SamplerProfile::kBytes> encodeProfile(const SamplerProfile& profile) {
    SamplerProfile copy = profile;
    copy.reserved = {0, 0};
    return copy.toBytes();
}

std::optional<std::string> invalidField(const SamplerProfile& p) {
    auto bad = [](const char* field, long long value) { return std::string(field) + " " + std::to_string(value); };
    if (p.deviceType >= kDeviceTypeCount) {
        return bad("device type", p.deviceType);
    }
    if (p.scsiAdaptor > kMaxAdaptor) {
        return bad("SCSI adaptor", p.scsiAdaptor);
    }
    if (p.scsiDevice > kMaxDevice) {
        return bad("SCSI device", p.scsiDevice);
    }
    if (p.sysexId < 1 || p.sysexId > 16) {
        return bad("sysex ID", p.sysexId);
    }
    if (p.midiChannel < 1 || p.midiChannel > 16) {
        return bad("MIDI channel", p.midiChannel);
    }
    if (p.openLoop > 1) {
        return bad("open loop", p.openLoop);
    }
    if (p.scsiInUse > 1) {
        return bad("SCSI in use", p.scsiInUse);
    }
    if (p.midiOutInUse > 1) {
        return bad("MIDI out in use", p.midiOutInUse);
    }
    if (p.sampleNumberOffset < kMinOffset || p.sampleNumberOffset > kMaxOffset) {
        return bad("sample number offset", p.sampleNumberOffset);
    }
    return std::nullopt;
}

ProfileRead decodeProfile(std::span<const uint8_t> bytes) {
    ProfileRead read;
    if (bytes.size() != SamplerProfile::kBytes) {
        read.error = ProfileError::WrongSize;
        read.detail = std::to_string(bytes.size()) + " bytes";
        return read;
    }
    SamplerProfile profile; // a fresh record: nothing carried over from an earlier read
    profile.fillFrom(bytes.data(), bytes.size());
    if (auto field = invalidField(profile)) {
        read.error = ProfileError::OutOfRange;
        read.detail = *field;
        return read;
    }
    read.error = ProfileError::None;
    read.profile = profile;
    return read;
}

int clampMidiChannel(long long channel) {
    return static_cast<int>(std::clamp<long long>(channel, 1, 16));
}

} // namespace cleavix::sampler::profiles
