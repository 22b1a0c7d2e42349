#include "cli/SamplerOptions.h"

#include "cli/ProfileOption.h"
#include "sample/FileAndMemoryStream.h"
#include "sample/WavParser.h"
#include "sampler/KeyAssignment.h"
#include "sampler/scsi/SystemBackends.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace cleavix::cli {

namespace {

std::vector<std::string> splitNames(const std::string& list) {
    std::vector<std::string> names;
    std::stringstream in(list);
    std::string name;
    while (std::getline(in, name, ',')) {
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    return names;
}

} // namespace

std::string takeSamplerVerb(Args& args, const std::string& command) {
    if (args.empty()) {
        throw UsageError("missing identify, list, send, receive or map");
    }
    std::string verb = args.front();
    args.erase(args.begin());
    if (verb != "identify" && verb != "list" && verb != "send" && verb != "receive" && verb != "map") {
        throw UsageError("unknown " + command + " command: " + verb);
    }
    return verb;
}

SamplerBus::SamplerBus()
    : emulated(sampler::virt::makeEmulatedScsiBus()), layer(sampler::scsi::makeScsiLayer(loop, emulated.bus)),
      adaptors(layer->adaptors()) {}

SamplerRun::SamplerRun(jobs::MainLoop& loop, sampler::TSamplerClass& driver, std::function<bool()> busy)
    : loop_(loop), driver_(driver), busy_(std::move(busy)), watchdog_(loop, kQuiet) {
    watchdog_.begin([this] {
        lost_ = sampler::kLostEndText;
        driver_.abort();
        ended_ = true;
    });
    end_ = watchdog_.guard(std::function<void()>([this] { ended_ = true; }));
}

sampler::StatusSink SamplerRun::statusPanel() {
    return [this](const std::string& text) {
        lastStatus_ = text;
        watchdog_.alive();
    };
}

void SamplerRun::run(const std::function<void()>& operation) {
    driver_.clearError();
    driver_.checkDevice([this, operation] {
        if (driver_.hasError()) {
            end_();
            return;
        }
        operation();
    });
    // A lost transfer is not waited for: its driver may never become idle.
    loop_.runUntil([this] { return ended_ && (!busy_() || !lost_.empty()); });
}

nlohmann::json sampleRow(const sampler::SamplerSampleEntry& row, const std::string& size, int bits, bool stereo) {
    return {{"number", row.number}, {"name", row.name},         {"words", row.lengthWords},
            {"size", size},         {"sampleRate", row.sampleRate}, {"bits", bits},
            {"channels", stereo ? "stereo" : "mono"}};
}

int noteIndexOf(const std::string& note) {
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    std::string upper;
    for (char c : note) {
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    for (int i = 0; i < 12; ++i) {
        if (upper == names[i]) {
            return i + 1;
        }
    }
    throw UsageError("--note must be C, C#, D, ... B");
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::optional<sampler::SamplerProfile> takeScsiSampler(Args& args, const std::vector<sampler::scsi::Adaptor>& adaptors,
                                                       bool scsiAvailable, uint8_t type,
                                                       const std::function<bool(uint8_t)>& accepts,
                                                       const std::string& kind) {
    const auto profileName = takeOption(args, "--profile");
    const auto adaptorText = takeOption(args, "--adaptor");
    const auto targetText = takeOption(args, "--target");
    sampler::SamplerProfile profile;
    profile.deviceType = type;
    if (profileName) {
        auto store = takeProfileStore(args);
        sampler::profiles::InstalledDevices devices;
        devices.scsiAdaptors = static_cast<int>(adaptors.size());
        devices.midiInputs = devices.midiOutputs = 256;
        const auto choice = checkProfile(store, *profileName, devices, scsiAvailable);
        if (!choice.check.ok() || !choice.check.profile) {
            std::cerr << "cleavix-cli: " << choice.check.message << "\n";
            return std::nullopt;
        }
        profile = *choice.check.profile;
        if (!accepts(profile.deviceType)) {
            throw UsageError("profile " + *profileName + " is not " + kind + " profile");
        }
        return profile;
    }
    if (!adaptorText || !targetText) {
        throw UsageError("give --profile NAME, or --adaptor A and --target T");
    }
    const long long adaptor = parseInteger(*adaptorText, "--adaptor");
    const long long target = parseInteger(*targetText, "--target");
    if (adaptor < 0 || adaptor >= static_cast<long long>(adaptors.size()) || target < 0 || target > 7) {
        throw UsageError("--adaptor must be 0 to " + std::to_string(adaptors.size() - 1) + " and --target 0 to 7");
    }
    profile.scsiAdaptor = static_cast<uint8_t>(adaptor);
    profile.scsiDevice = static_cast<uint8_t>(target);
    return profile;
}

KeyMapOptions takeKeyMapOptions(Args& args) {
    const auto names = takeOption(args, "--names");
    const auto bank = takeOption(args, "--bank");
    const auto note = takeOption(args, "--note");
    const auto octave = takeOption(args, "--octave");
    const auto interval = takeOption(args, "--interval");
    const bool white = takeFlag(args, "--white-keys");
    if (!names) {
        throw UsageError("map needs --names a,b,c");
    }
    KeyMapOptions out;
    out.names = splitNames(*names);
    auto& map = out.map;
    map.programName = bank.value_or("PROGRAM");
    const int base = sampler::baseNoteOf(note ? noteIndexOf(*note) : 1,
                                         octave ? static_cast<int>(parseInteger(*octave, "--octave")) : 3);
    if (base < 0 || base > 127) {
        throw UsageError("--note and --octave give a key outside 0..127");
    }
    map.baseNote = static_cast<uint8_t>(base);
    const long long span = interval ? parseInteger(*interval, "--interval") : 0;
    if (span < 0 || span > 127) {
        throw UsageError("--interval must be 0 to 127");
    }
    map.keySpan = static_cast<uint8_t>(span);
    map.whiteKeysOnly = white;
    map.sampleCount = static_cast<uint8_t>(std::min<size_t>(out.names.size(), 255));
    return out;
}

sampler::SendSampleArgs loadSendFile(const std::string& file, sample::TFileAndMemoryStream& store) {
    const auto info = sample::parseSampleFile(file);
    const uint16_t channels = info.format.channels;
    if (!info.pcm || channels < 1) {
        throw UsageError(file + " is not PCM audio");
    }
    std::vector<uint8_t> data(info.dataLength);
    sample::TWavParser parser;
    parser.open(file);
    parser.readAt(info.dataOffset, data.data(), data.size());
    store.writeAll(data.data(), data.size());
    sampler::SendSampleArgs send;
    send.name = std::filesystem::path(file).stem().string();
    send.channels = static_cast<uint8_t>(channels);
    send.length = static_cast<uint32_t>(info.dataLength / channels * (info.format.bitsPerSample == 8 ? 2 : 1));
    send.sampleRate = info.format.sampleRate;
    send.bits = static_cast<uint8_t>(info.format.bitsPerSample);
    send.keepStereo = channels == 2;
    send.channelsToSend = send.keepStereo ? 2 : 1;
    send.single = true;
    send.bigEndian = info.container == sample::Container::Aiff;
    return send;
}

void writeWave(const std::string& fileName, const std::vector<uint8_t>& data, uint32_t rate, uint16_t channels) {
    auto le = [](std::ostream& out, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    const auto size = static_cast<uint32_t>(data.size());
    out.write("RIFF", 4);
    le(out, 36 + size, 4);
    out.write("WAVEfmt ", 8);
    le(out, 16, 4);
    le(out, 1, 2);
    le(out, channels, 2);
    le(out, rate, 4);
    le(out, rate * 2u * channels, 4);
    le(out, 2u * channels, 2);
    le(out, 16, 2);
    out.write("data", 4);
    le(out, size, 4);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    if (!finishOutput(out, fileName)) {
        throw std::runtime_error("Cannot write " + fileName);
    }
}

void writeStoreAsWave(const sample::TFileAndMemoryStream& store, const std::string& fileName, uint32_t rate,
                      uint16_t channels) {
    std::vector<uint8_t> data(static_cast<size_t>(store.size()));
    store.readAt(0, data.data(), data.size());
    writeWave(fileName, data, rate, channels);
}

} // namespace cleavix::cli
