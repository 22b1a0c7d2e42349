// The 16-byte sampler profile record as it is read back from the settings file.
#include "FuzzTarget.h"
#include "sampler/profiles/ProfileRecord.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cleavix::sampler::profiles;
    const ProfileRead read = decodeProfile(std::span<const uint8_t>(data, size));
    if (!read.ok()) {
        return 0;
    }
    if (!read.profile || invalidField(*read.profile) || size != cleavix::sampler::SamplerProfile::kBytes) {
        __builtin_trap(); // only a whole record with every field in range is taken
    }
    // What was taken encodes to the bytes it came from, bar the two reserved ones.
    const auto bytes = encodeProfile(*read.profile);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 10 && i != 11 && bytes[i] != data[i]) {
            __builtin_trap();
        }
    }
    return 0;
}
