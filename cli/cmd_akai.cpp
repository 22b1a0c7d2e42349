// akai: an Akai S2000-family sampler over SCSI (a real one through /dev/sg, or the emulated S2000
// at ID 2 of the Cleavix virtual SCSI bus): identify, list, send, receive and key maps.
#include "cli/Cli.h"
#include "cli/ProfileOption.h"
#include "sample/FileAndMemoryStream.h"
#include "sample/WavParser.h"
#include "sampler/akai/AkaiS2000Driver.h"
#include "sampler/scsi/SystemBackends.h"
#include "sampler/virtual/VirtualAkaiSampler.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace cleavix::cli {

namespace {

namespace akai = sampler::akai;

std::string hex(const std::vector<uint8_t>& bytes) {
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

void writeMonoWave(const std::string& fileName, const std::vector<uint8_t>& data, uint32_t rate) {
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
    le(out, 1, 2);
    le(out, rate, 4);
    le(out, rate * 2, 4);
    le(out, 2, 2);
    le(out, 16, 2);
    out.write("data", 4);
    le(out, size, 4);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    if (!out) {
        throw std::runtime_error("Cannot write " + fileName);
    }
}

int runAkai(Args& args) {
    if (args.empty()) {
        throw UsageError("missing identify, list, send, receive or map");
    }
    const std::string verb = args.front();
    args.erase(args.begin());
    if (verb != "identify" && verb != "list" && verb != "send" && verb != "receive" && verb != "map") {
        throw UsageError("unknown akai command: " + verb);
    }
    const auto profileName = takeOption(args, "--profile");
    const auto adaptorText = takeOption(args, "--adaptor");
    const auto targetText = takeOption(args, "--target");

    jobs::MainLoop loop;
    auto bus = std::make_shared<sampler::scsi::VirtualScsiBus>();
    bus->attach(sampler::scsi::kVirtualDiskId, std::make_shared<sampler::scsi::VirtualDiskTarget>());
    auto emulated = std::make_shared<sampler::scsi::VirtualAkaiSampler>();
    bus->attach(sampler::scsi::VirtualAkaiSampler::kDefaultId, emulated);
    auto layer = sampler::scsi::makeScsiLayer(loop, bus);
    const auto adaptors = layer->adaptors();

    sampler::SamplerProfile profile;
    profile.deviceType = 5;
    if (profileName) {
        auto store = takeProfileStore(args);
        sampler::profiles::InstalledDevices devices;
        devices.scsiAdaptors = static_cast<int>(adaptors.size());
        devices.midiInputs = devices.midiOutputs = 256;
        const auto choice = checkProfile(store, *profileName, devices, layer->available());
        if (!choice.check.ok() || !choice.check.profile) {
            std::cerr << "cleavix-cli: " << choice.check.message << "\n";
            return 1;
        }
        profile = *choice.check.profile;
        if (profile.deviceType != 5) {
            throw UsageError("profile " + *profileName + " is not an Akai S2000 profile");
        }
    } else {
        if (!adaptorText || !targetText) {
            throw UsageError("give --profile NAME, or --adaptor A and --target T");
        }
        const long long adaptor = parseInteger(*adaptorText, "--adaptor");
        const long long target = parseInteger(*targetText, "--target");
        if (adaptor < 0 || adaptor >= static_cast<long long>(adaptors.size()) || target < 0 || target > 7) {
            throw UsageError("--adaptor must be 0 to " + std::to_string(adaptors.size() - 1) +
                             " and --target 0 to 7");
        }
        profile.scsiAdaptor = static_cast<uint8_t>(adaptor);
        profile.scsiDevice = static_cast<uint8_t>(target);
    }
    const bool onVirtualBus = profile.scsiAdaptor < adaptors.size() && adaptors[profile.scsiAdaptor].virtualBus &&
                              profile.scsiDevice == sampler::scsi::VirtualAkaiSampler::kDefaultId;

    CliPrompter prompter;
    akai::TAkaiS2000Driver driver(*layer, prompter);
    driver.setProfile(profile);
    sample::TFileAndMemoryStream store;
    driver.setSampleStore(&store);
    std::string lastStatus;
    driver.setStatusPanel([&](const std::string& text) { lastStatus = text; });
    bool ended = false;
    driver.setDoneEvent([&] { ended = true; });
    nlohmann::json out = {{"command", verb}};

    // What each verb starts once the sampler is identified.
    std::function<void()> operation;
    std::string outFile;
    uint32_t receivedRate = 0;
    if (verb == "identify") {
        refuseLeftovers(args);
        operation = [&] { ended = true; };
    } else if (verb == "list") {
        refuseLeftovers(args);
        operation = [&] {
            driver.listSamples([&](const std::vector<sampler::SamplerSampleEntry>& rows) {
                nlohmann::json list = nlohmann::json::array();
                for (const auto& row : rows) {
                    list.push_back({{"number", row.number},
                                    {"name", row.name},
                                    {"words", row.lengthWords},
                                    {"size", akai::listingSize(row.lengthWords * 2)},
                                    {"sampleRate", row.sampleRate},
                                    {"bits", 16},
                                    {"channels", "mono"}});
                }
                out["samples"] = list;
                ended = true;
            });
        };
    } else if (verb == "send") {
        const std::string file = takePositional(args, "FILE");
        refuseLeftovers(args);
        const auto info = sample::parseSampleFile(file);
        if (!info.pcm) {
            throw UsageError(file + " is not PCM audio");
        }
        std::vector<uint8_t> data(info.dataLength);
        sample::TWavParser parser;
        parser.open(file);
        parser.readAt(info.dataOffset, data.data(), data.size());
        store.writeAll(data.data(), data.size());
        sampler::SendSampleArgs send;
        send.name = std::filesystem::path(file).stem().string();
        send.channels = static_cast<uint8_t>(info.format.channels);
        send.length = static_cast<uint32_t>(info.dataLength / std::max<uint16_t>(1, info.format.channels));
        send.sampleRate = info.format.sampleRate;
        send.bits = static_cast<uint8_t>(info.format.bitsPerSample);
        send.keepStereo = info.format.channels == 2;
        send.single = true;
        send.bigEndian = info.container == sample::Container::Aiff;
        out["name"] = send.name;
        out["bytes"] = send.length;
        operation = [&driver, send] { driver.sendSample(send); };
    } else if (verb == "receive") {
        const long long number = parseInteger(takePositional(args, "N"), "N");
        outFile = takePositional(args, "OUT.wav");
        refuseLeftovers(args);
        operation = [&, number] {
            driver.receiveSample(static_cast<int32_t>(number), [&](const sampler::ReceivedSample& got) {
                out["channels"] = got.channels;
                out["sampleRate"] = got.sampleRate;
                out["bytes"] = got.bytes;
                receivedRate = got.sampleRate;
                ended = true;
            });
        };
    } else {
        const auto names = takeOption(args, "--names");
        const auto bank = takeOption(args, "--bank");
        const auto note = takeOption(args, "--note");
        const auto octave = takeOption(args, "--octave");
        const auto interval = takeOption(args, "--interval");
        const bool white = takeFlag(args, "--white-keys");
        refuseLeftovers(args);
        if (!names) {
            throw UsageError("map needs --names a,b,c");
        }
        const auto list = splitNames(*names);
        driver.setNameList(list);
        sampler::MapSamplesArgs map;
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
        map.sampleCount = static_cast<uint8_t>(std::min<size_t>(list.size(), 255));
        map.finished = [&] { ended = true; };
        out["baseNote"] = base;
        operation = [&driver, map] { driver.mapSamples(map); };
    }

    driver.clearError();
    driver.checkDevice([&] {
        if (driver.hasError()) {
            ended = true;
            return;
        }
        operation();
    });
    loop.runUntil([&] { return ended && !driver.busy(); });

    if (verb == "receive" && !driver.hasError()) {
        std::vector<uint8_t> data(static_cast<size_t>(store.size()));
        store.readAt(0, data.data(), data.size());
        writeMonoWave(outFile, data, receivedRate);
        out["name"] = driver.receivedName();
        out["file"] = outFile;
    }
    if (verb == "map") {
        const auto& messages = driver.lastMapMessages();
        if (!messages.empty()) {
            out["program"] = hex(messages.front());
            nlohmann::json groups = nlohmann::json::array();
            for (size_t i = 1; i < messages.size(); ++i) {
                groups.push_back(hex(messages[i]));
            }
            out["keygroups"] = groups;
        }
        const auto programs = emulated->programs();
        if (onVirtualBus && !programs.empty()) {
            nlohmann::json ranges = nlohmann::json::array();
            for (const auto& group : programs.back().keygroups) {
                ranges.push_back({{"sample", group.sampleName}, {"low", group.lowKey}, {"high", group.highKey}});
            }
            out["keyRanges"] = ranges;
        }
    }
    out["ok"] = !driver.hasError();
    out["messages"] = prompter.shown;
    out["status"] = lastStatus;
    printJson(out);
    return driver.hasError() ? 1 : 0;
}

const CommandRegistration akaiCommand({
    "akai",
    "akai identify | list | send FILE | receive N OUT.wav | map --names a,b,c [--bank NAME --note C\n"
    "     --octave O --interval I --white-keys]  (--profile NAME [--config FILE] | --adaptor A --target T)",
    "An Akai S2000 / S3000XL / S3200XL over SCSI: the sampler of an Akai profile, or the one at\n"
    "adaptor A, target T. The emulated S2000 sits at ID 2 of the Cleavix virtual SCSI bus (the last\n"
    "adaptor of scsi-devices) and keeps its samples in $CLEAVIX_VIRTUAL_SAMPLERS when set. identify\n"
    "checks it answers as a sampler; list gives its samples (number, name, words, size, rate); send\n"
    "appends a mono 16-bit 22050 or 44100 Hz file after checking the free memory; receive N writes\n"
    "sample N as a mono Wave file; map builds one program (--bank, default PROGRAM) with one keygroup\n"
    "per name from the base note (--note, default C; --octave, default 3, C3 = 60) with --interval keys\n"
    "between roots (default 0) or on white keys only, and prints the program and keygroup bytes sent\n"
    "and, on the virtual bus, the key ranges the sampler ended with. JSON: {\"command\", \"ok\",\n"
    "\"messages\", \"status\", ...}; exit status 1 when the sampler refused or failed.",
    runAkai,
});

} // namespace

} // namespace cleavix::cli
