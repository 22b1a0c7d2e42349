#pragma once
// The 16-byte sampler profile record as stored: strict decoding, validation and encoding, and the
// texts the profile manager, the transfer dialogs and the command-line tool show. Pure functions.
//
// A stored value is taken only when it is binary, exactly 16 bytes long and every field is in
// range; anything else is a corrupt preset. A record is always decoded afresh, so a bad value never
// leaves a record holding bytes of the profile read before it.
#include "sampler/SamplerClass.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cleavix::sampler::profiles {

inline constexpr const char* kSamplersGroup = "SOFTWARE/Brindlecote Software/Cleavix (Advanced)/Samplers";

inline constexpr const char* kNoPresetsStored = "No Presets Stored";
inline constexpr const char* kNoPresetsFound = "No presets found - use the preset manager to add a preset.";
inline constexpr const char* kCorruptManager = "Error reading preset - may be corrupted!";
inline constexpr const char* kCorruptBinding = "Error reading preset - may be corrupted!\r\nCheck settings in preset manager";
inline constexpr const char* kOutOfRangeManager =
    "Device ID out of range;\r\nCheck settings in preset manager - midi or SCSI device may have been removed";
inline constexpr const char* kOutOfRangeBinding =
    "Device ID out of range:\r\nCheck settings - MIDI or SCSI device may have been removed";
inline constexpr const char* kCannotInitialiseScsi = "Cannot initialise SCSI interface!";

inline constexpr int kMaxAdaptor = 7;
inline constexpr int kMaxDevice = 6;
inline constexpr int kMinOffset = -1024;
inline constexpr int kMaxOffset = 1024;

enum class ProfileError { None, Missing, NotBinary, WrongSize, OutOfRange };

struct ProfileRead {
    std::optional<SamplerProfile> profile; // set only when error is None
    ProfileError error = ProfileError::Missing;
    std::string detail; // which field, or what the value was

    bool ok() const { return error == ProfileError::None; }
};

// The record's bytes (the reserved bytes written as zero).
std::array<uint8_t, SamplerProfile::kBytes> encodeProfile(const SamplerProfile& profile);
// Exactly 16 bytes, every field in range.
ProfileRead decodeProfile(std::span<const uint8_t> bytes);
// The first field out of range ("device type 9"), or nullopt when the record is valid.
std::optional<std::string> invalidField(const SamplerProfile& profile);

// A configured MIDI channel, clamped to 1..16.
int clampMidiChannel(long long channel);

} // namespace cleavix::sampler::profiles
