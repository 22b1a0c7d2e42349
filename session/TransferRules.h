#pragma once
// The arithmetic of the transfer dialogs, kept out of the widgets so the window, the command-line
// tool and the tests share it: what part of the store a region send covers, the sample number a
// protocol can carry, the names given to sent and received samples, and the received rate.
// Pure functions; no threads.
#include "sample/SampleFormat.h"
#include "sampler/profiles/DeviceTypes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cleavix::session {

inline constexpr const char* kMsgRegionTooShort = "The loop region is too short to send; set the locators L and R apart.";

// What a region send reads from the store.
struct RegionPlan {
    uint32_t start = 0;       // byte offset of the first value
    uint32_t length = 0;      // bytes of one channel
    uint8_t channelsToSend = 1;
    bool keepStereo = false;
};

// The loop region [left, right) of a sample in `format`: mono whole; stereo with both channels in
// view as both channels from the frame start; stereo with one channel in view as that channel
// (`channel` 1 first, 2 second). nullopt (refusal text in `why`) when the region holds no value to
// send, so a region shorter than a frame never wraps round to a huge length.
std::optional<RegionPlan> planRegion(const sample::SampleFormat& format, uint32_t left, uint32_t right,
                                     bool bothChannels, int channel, std::string* why = nullptr);

// The highest sample number a protocol carries (the MIDI sample dump: 14 bits).
int32_t maxSampleNumber(sampler::profiles::DriverKind kind);
// Empty when `number` can be sent or asked for; else the refusal (never masked into range).
std::string checkSampleNumber(int32_t number, sampler::profiles::DriverKind kind);

// The name a region goes out under: the loaded file's name without its folder, cut at its first '.'.
std::string regionSampleName(const std::string& fileName);
// The name a batch file goes out under: without its folder and the extension after its last '.',
// cut to `limit` characters when limit > 0.
std::string batchSampleName(const std::string& path, size_t limit = 0);
// How many characters of a name the profile's sampler keeps (0: no limit): 12 for a Yamaha A3000,
// 9 for an Akai.
size_t nameLimitFor(int deviceType);
// A name the sampler sent, made safe to become a file name: no '/', '\' or control characters,
// blanks trimmed; "Untitled" when nothing is left.
std::string sanitiseReceivedName(const std::string& name);

// "Round sample rate": to the nearest 10 Hz (ties to even), 44000..44200 becoming 44100.
uint32_t roundSampleRate(uint32_t rate);

} // namespace cleavix::session
