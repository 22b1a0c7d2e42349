#include "sampler/SamplerClass.h"

#include <algorithm>
#include <cstring>

namespace cleavix::sampler {

std::array<uint8_t, SamplerProfile::kBytes> SamplerProfile::toBytes() const {
    std::array<uint8_t, kBytes> out{};
    out[0] = midiInput;
    out[1] = midiOutput;
    out[2] = scsiAdaptor;
    out[3] = scsiDevice;
    out[4] = sysexId;
    out[5] = midiChannel;
    out[6] = openLoop;
    out[7] = scsiInUse;
    out[8] = midiOutInUse;
    out[9] = deviceType;
    out[10] = reserved[0];
    out[11] = reserved[1];
    const auto offset = static_cast<uint32_t>(sampleNumberOffset);
    for (int i = 0; i < 4; ++i) {
        out[size_t(12 + i)] = uint8_t(offset >> (8 * i));
    }
    return out;
}

void SamplerProfile::fillFrom(const uint8_t* bytes, size_t size) {
    std::array<uint8_t, kBytes> all = toBytes();
    std::memcpy(all.data(), bytes, std::min(size, kBytes));
    midiInput = all[0];
    midiOutput = all[1];
    scsiAdaptor = all[2];
    scsiDevice = all[3];
    sysexId = all[4];
    midiChannel = all[5];
    openLoop = all[6];
    scsiInUse = all[7];
    midiOutInUse = all[8];
    deviceType = all[9];
    reserved = {all[10], all[11]};
    uint32_t offset = 0;
    for (int i = 0; i < 4; ++i) {
        offset |= uint32_t(all[size_t(12 + i)]) << (8 * i);
    }
    sampleNumberOffset = static_cast<int32_t>(offset);
}

} // namespace cleavix::sampler
