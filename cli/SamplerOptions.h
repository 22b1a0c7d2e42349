#pragma once
// What the SCSI sampler commands (akai, smdi) share: the sampler they talk to (a profile, or an
// adaptor and target), the key-map options, and the small formats they print and write.
#include "cli/Cli.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/SamplerClass.h"
#include "sampler/scsi/ScsiLayer.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::cli {

// Bytes as upper-case hex pairs separated by blanks.
std::string hexBytes(const std::vector<uint8_t>& bytes);

// "--profile NAME [--config FILE]", or "--adaptor A --target T" with `type` as the device type.
// A profile must be of a type `accepts` takes (else UsageError naming `kind`). nullopt when the
// profile check failed; its message is then on standard error.
std::optional<sampler::SamplerProfile> takeScsiSampler(Args& args, const std::vector<sampler::scsi::Adaptor>& adaptors,
                                                       bool scsiAvailable, uint8_t type,
                                                       const std::function<bool(uint8_t)>& accepts,
                                                       const std::string& kind);

// The key-map options: --names a,b,c [--bank NAME --note C --octave O --interval I --white-keys].
struct KeyMapOptions {
    std::vector<std::string> names;
    sampler::MapSamplesArgs map;
};
KeyMapOptions takeKeyMapOptions(Args& args);

// Reads a PCM Wave or AIFF file into `store` and describes it as a single send from the store
// (name from the file, length in the 16-bit bytes of one channel the sample source delivers).
sampler::SendSampleArgs loadSendFile(const std::string& file, sample::TFileAndMemoryStream& store);

// A 16-bit PCM Wave file of interleaved little-endian samples.
void writeWave(const std::string& fileName, const std::vector<uint8_t>& data, uint32_t rate, uint16_t channels);

} // namespace cleavix::cli
