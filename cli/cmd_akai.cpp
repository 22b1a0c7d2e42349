// akai: an Akai S2000-family sampler over SCSI (a real one through /dev/sg, or the emulated S2000
// at ID 2 of the Cleavix virtual SCSI bus): identify, list, send, receive and key maps.
#include "cli/Cli.h"
#include "cli/SamplerOptions.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/akai/AkaiS2000Driver.h"

namespace cleavix::cli {

namespace {

namespace akai = sampler::akai;

int runAkai(Args& args) {
    const std::string verb = takeSamplerVerb(args, "akai");
    SamplerBus bus;
    const auto chosen = takeScsiSampler(args, bus.adaptors, bus.layer->available(), 5,
                                        [](uint8_t type) { return type == 5; }, "an Akai S2000");
    if (!chosen) {
        return 1;
    }
    const sampler::SamplerProfile profile = *chosen;
    const auto& adaptors = bus.adaptors;
    const bool onVirtualBus = profile.scsiAdaptor < adaptors.size() && adaptors[profile.scsiAdaptor].virtualBus &&
                              profile.scsiDevice == sampler::scsi::VirtualAkaiSampler::kDefaultId;

    CliPrompter prompter;
    akai::TAkaiS2000Driver driver(*bus.layer, prompter);
    driver.setProfile(profile);
    sample::TFileAndMemoryStream store;
    driver.setSampleStore(&store);
    SamplerRun transfer(bus.loop, driver, [&driver] { return driver.busy(); });
    driver.setStatusPanel(transfer.statusPanel());
    const auto& end = transfer.end();
    driver.setDoneEvent(end);
    nlohmann::json out = {{"command", verb}};

    // What each verb starts once the sampler is identified.
    std::function<void()> operation;
    std::string outFile;
    uint32_t receivedRate = 0;
    if (verb == "identify") {
        refuseLeftovers(args);
        operation = end;
    } else if (verb == "list") {
        refuseLeftovers(args);
        operation = [&] {
            driver.listSamples([&](const std::vector<sampler::SamplerSampleEntry>& rows) {
                nlohmann::json list = nlohmann::json::array();
                for (const auto& row : rows) {
                    list.push_back(sampleRow(row, akai::listingSize(row.lengthWords * 2), 16, false));
                }
                out["samples"] = list;
                end();
            });
        };
    } else if (verb == "send") {
        const std::string file = takePositional(args, "FILE");
        refuseLeftovers(args);
        const sampler::SendSampleArgs send = loadSendFile(file, store);
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
                end();
            });
        };
    } else {
        auto options = takeKeyMapOptions(args);
        refuseLeftovers(args);
        driver.setNameList(options.names);
        sampler::MapSamplesArgs map = options.map;
        const int base = map.baseNote;
        map.finished = end;
        out["baseNote"] = base;
        operation = [&driver, map] { driver.mapSamples(map); };
    }

    transfer.run(operation);

    // A transfer the watchdog ended is a failure, shown among the messages.
    const bool ok = !driver.hasError() && transfer.lost().empty();
    if (!transfer.lost().empty()) {
        prompter.shown.push_back(transfer.lost());
    }
    if (verb == "receive" && ok) {
        writeStoreAsWave(store, outFile, receivedRate, 1);
        out["name"] = driver.receivedName();
        out["file"] = outFile;
    }
    if (verb == "map") {
        const auto& messages = driver.lastMapMessages();
        if (!messages.empty()) {
            out["program"] = hexBytes(messages.front());
            nlohmann::json groups = nlohmann::json::array();
            for (size_t i = 1; i < messages.size(); ++i) {
                groups.push_back(hexBytes(messages[i]));
            }
            out["keygroups"] = groups;
        }
        const auto programs = bus.emulated.akai->programs();
        if (onVirtualBus && !programs.empty()) {
            nlohmann::json ranges = nlohmann::json::array();
            for (const auto& group : programs.back().keygroups) {
                ranges.push_back({{"sample", group.sampleName}, {"low", group.lowKey}, {"high", group.highKey}});
            }
            out["keyRanges"] = ranges;
        }
    }
    out["ok"] = ok;
    out["messages"] = prompter.shown;
    out["status"] = transfer.lastStatus();
    printJson(out);
    return ok ? 0 : 1;
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
