// smdi: an SMDI sampler over SCSI (a real one through /dev/sg, or the emulated ones of the Cleavix
// virtual SCSI bus: generic at ID 3, E-mu at 4): identify, list, send, receive, and the Yamaha key
// maps over MIDI.
#include "cli/Cli.h"
#include "cli/SamplerOptions.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/profiles/DeviceTypes.h"
#include "sampler/midi/MidiOut.h"
#include "sampler/smdi/SMIDIDriver.h"
#include "sampler/smdi/YamahaKeyMap.h"
#include "sampler/virtual/MidiBackendList.h"
#include "sampler/virtual/VirtualYamahaListener.h"

#include <filesystem>

namespace cleavix::cli {

namespace {

namespace smdi = sampler::smdi;
using Listener = sampler::virt::VirtualYamahaListener;

// The device types bound to the SMDI driver, as the profiles' type table says.
bool smdiType(uint8_t type) {
    const auto* entry = sampler::profiles::deviceType(type);
    return entry != nullptr && entry->driver == sampler::profiles::DriverKind::Smdi;
}

Listener::Model listenerModel(uint8_t type) {
    switch (type) {
    case 3: return Listener::Model::Ex;
    case 6: return Listener::Model::A4000;
    case 7: return Listener::Model::A5000;
    default: return Listener::Model::A3000;
    }
}

int runSmdi(Args& args) {
    const std::string verb = takeSamplerVerb(args, "smdi");
    uint8_t type = 1;
    if (const auto typeText = takeOption(args, "--type")) {
        const long long t = parseInteger(*typeText, "--type");
        if (t < 0 || t > 7 || !smdiType(uint8_t(t))) {
            throw UsageError("--type must be 1 (SMDI), 2 (A3000), 3 (EX), 4 (E-mu), 6 (A4000) or 7 (A5000)");
        }
        type = uint8_t(t);
    }
    const auto midiOutText = takeOption(args, "--midi-out");

    SamplerBus bus;
    auto& loop = bus.loop;
    const bool byProfile = std::find(args.begin(), args.end(), "--profile") != args.end();
    const auto chosen = takeScsiSampler(args, bus.adaptors, bus.layer->available(), type, smdiType, "an SMDI");
    if (!chosen) {
        return 1;
    }
    sampler::SamplerProfile profile = *chosen;

    // The MIDI outputs for key maps: the system's, then the virtual ports with an emulated
    // Yamaha sampler's listener last.
    auto listener = std::make_shared<Listener>(listenerModel(profile.deviceType));
    auto virtualPorts = sampler::virt::makeVirtualMidiBackend();
    virtualPorts->addEndpoint(listener);
    sampler::midi::TMidiOutput output(loop, sampler::virt::defaultMidiBackends(virtualPorts));
    const auto outputs = output.devices();
    if (midiOutText) {
        const long long n = parseInteger(*midiOutText, "--midi-out");
        if (n < 0 || n >= static_cast<long long>(outputs.size())) {
            throw UsageError("--midi-out must be 0 to " + std::to_string(outputs.size() - 1));
        }
        profile.midiOutput = static_cast<uint8_t>(n);
    } else if (!byProfile) {
        profile.midiOutput = static_cast<uint8_t>(outputs.size() - 1);
    }
    const bool toListener = profile.midiOutput + 1u == outputs.size();

    smdi::TSMIDIDriver driver(*bus.layer, loop);
    driver.setProfile(profile);
    driver.setMidiPorts(nullptr, &output);
    sample::TFileAndMemoryStream store;
    driver.setSampleStore(&store);
    SamplerRun transfer(loop, driver, [&driver] { return driver.busy(); });
    driver.setStatusPanel(transfer.statusPanel());
    const auto& end = transfer.end();
    driver.setDoneEvent(end);
    nlohmann::json out = {{"command", verb}, {"type", profile.deviceType}};

    // What each verb starts once the sampler is identified.
    std::function<void()> operation;
    std::string outFile;
    sampler::ReceivedSample received;
    if (verb == "identify") {
        refuseLeftovers(args);
        operation = end;
    } else if (verb == "list") {
        refuseLeftovers(args);
        operation = [&] {
            driver.listSamples([&](const std::vector<sampler::SamplerSampleEntry>& rows) {
                nlohmann::json list = nlohmann::json::array();
                for (const auto& row : rows) {
                    const auto& entry = driver.sampleTable()[size_t(row.number)];
                    list.push_back(sampleRow(row, smdi::sizeText(row.lengthWords), entry.bits, row.channels == 2));
                }
                out["samples"] = list;
                end();
            });
        };
    } else if (verb == "send") {
        const auto numberText = takeOption(args, "--number");
        std::optional<std::array<long long, 3>> keys;
        if (auto at = std::find(args.begin(), args.end(), "--keys"); at != args.end()) {
            if (args.end() - at < 4) {
                throw UsageError("--keys needs ROOT LOW HIGH");
            }
            keys = std::array<long long, 3>{parseInteger(at[1], "ROOT"), parseInteger(at[2], "LOW"),
                                            parseInteger(at[3], "HIGH")};
            for (long long k : *keys) {
                if (k < 0 || k > 127) {
                    throw UsageError("--keys must be 0 to 127");
                }
            }
            args.erase(at, at + 4);
        }
        const std::string file = takePositional(args, "FILE");
        refuseLeftovers(args);
        sampler::SendSampleArgs send = loadSendFile(file, store);
        if ((send.bits != 8 && send.bits != 16) || send.channels > 2) {
            throw UsageError(file + " is not 8- or 16-bit audio of one or two channels");
        }
        send.sampleNumber = numberText ? static_cast<int32_t>(parseInteger(*numberText, "--number"))
                                       : (profile.deviceType == 4 ? 1 : 0);
        if (send.sampleNumber < 0 || send.sampleNumber > 0xFFFFFF) {
            throw UsageError("--number must be 0 to 16777215");
        }
        if (keys) {
            send.rootKey = static_cast<uint8_t>((*keys)[0]);
            send.lowKey = static_cast<uint8_t>((*keys)[1]);
            send.highKey = static_cast<uint8_t>((*keys)[2]);
        }
        out["name"] = send.name;
        out["number"] = send.sampleNumber;
        out["bytes"] = send.length * send.channels;
        operation = [&driver, send] { driver.sendSample(send); };
    } else if (verb == "receive") {
        const long long number = parseInteger(takePositional(args, "N"), "N");
        outFile = takePositional(args, "OUT.wav");
        refuseLeftovers(args);
        operation = [&, number] {
            driver.receiveSample(static_cast<int32_t>(number), [&](const sampler::ReceivedSample& got) {
                received = got;
                end();
            });
        };
    } else {
        const auto first = takeOption(args, "--first");
        auto options = takeKeyMapOptions(args);
        refuseLeftovers(args);
        driver.setNameList(options.names);
        sampler::MapSamplesArgs map = options.map;
        map.firstSampleNumber = first ? static_cast<int32_t>(parseInteger(*first, "--first")) : 0;
        map.finished = end;
        out["baseNote"] = map.baseNote;
        operation = [&driver, map] { driver.mapSamples(map); };
    }

    transfer.run(operation);

    const std::string& lost = transfer.lost();
    const bool ok = !driver.hasError() && lost.empty();
    if (const auto& inquiry = driver.inquiry()) {
        out["vendor"] = inquiry->vendor;
        out["product"] = inquiry->product;
        out["revision"] = inquiry->revision;
    }
    if (verb == "receive" && ok) {
        writeStoreAsWave(store, outFile, received.sampleRate, received.channels);
        out["channels"] = received.channels;
        out["sampleRate"] = received.sampleRate;
        out["bytes"] = received.bytes;
        out["name"] = driver.receivedName();
        out["file"] = outFile;
    }
    if (verb == "send") {
        out["packetLength"] = driver.negotiatedPacketLength();
    }
    if (verb == "map") {
        nlohmann::json lines = nlohmann::json::array();
        for (const auto& message : driver.lastMapMessages()) {
            lines.push_back(hexBytes(message));
        }
        out["sysex"] = lines;
        if (toListener) {
            nlohmann::json keys = nlohmann::json::array();
            for (const auto& k : listener->keys()) {
                keys.push_back({{"name", k.name}, {"root", k.root}, {"low", k.low}, {"high", k.high}});
            }
            for (const auto& v : listener->voices()) {
                for (const auto& [number, key] : v.keys) {
                    keys.push_back({{"sample", number}, {"root", key}});
                }
            }
            out["keys"] = keys;
            out["listenerErrors"] = listener->errors();
        }
    }
    out["ok"] = ok;
    out["error"] = lost.empty() ? driver.errorText() : lost;
    out["status"] = transfer.lastStatus();
    printJson(out);
    return ok ? 0 : 1;
}

const CommandRegistration smdiCommand({
    "smdi",
    "smdi identify | list | send FILE [--number N] [--keys ROOT LOW HIGH] | receive N OUT.wav |\n"
    "     map --names a,b,c [--bank NAME --note C --octave O --interval I --white-keys --first N]\n"
    "     (--profile NAME [--config FILE] | --adaptor A --target T [--type T]) [--midi-out N]",
    "An SMDI sampler over SCSI: the sampler of an SMDI, Yamaha or E-mu profile, or the one at adaptor A,\n"
    "target T, of --type 1 (SMDI, the default), 2 (A3000), 3 (EX), 4 (E-mu), 6 (A4000) or 7 (A5000).\n"
    "The emulated SMDI sampler sits at ID 3 and the emulated E-mu at ID 4 of the Cleavix virtual SCSI\n"
    "bus (the last adaptor of scsi-devices); they keep their samples in $CLEAVIX_VIRTUAL_SAMPLERS when\n"
    "set. identify checks the device answers Master Identify; list gives its samples (number, name,\n"
    "words, size, sampleRate, bits, mono or stereo); send writes an 8- or 16-bit mono or stereo file\n"
    "as sample N (default 0, 1 on E-mu), E-mu with the key range of --keys; receive N writes sample N\n"
    "as a Wave file; map sends a Yamaha key map (nothing for SMDI and E-mu, whose keys go with the\n"
    "sample) through MIDI output N (default: the emulated Yamaha sampler's listener, the last virtual\n"
    "output), and prints every system-exclusive message as hex (\"sysex\") and, for the listener,\n"
    "the keys it recorded. JSON: {\"command\", \"ok\", \"error\", \"status\", ...}; exit status 1\n"
    "when the sampler refused or failed, with the driver's text in \"error\".",
    runSmdi,
});

} // namespace

} // namespace cleavix::cli
