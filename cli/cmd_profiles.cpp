// profiles list | store | delete | check: the sampler profiles in the settings file the window
// uses, read and written without Qt.
#include "cli/Cli.h"
#include "cli/ProfileOption.h"
#include "sampler/profiles/DeviceTypes.h"
#include "sampler/profiles/ProfileBinding.h"
#include "sampler/profiles/ProfileStore.h"
#include "sampler/scsi/SystemBackends.h"

#include <iostream>

namespace cleavix::cli {

namespace {

namespace pf = sampler::profiles;

std::string plain(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') {
            out += c;
        }
    }
    return out;
}

nlohmann::json profileJson(const sampler::SamplerProfile& p) {
    const auto* type = pf::deviceType(p.deviceType);
    return {{"type", p.deviceType},
            {"typeText", type ? type->text : ""},
            {"midiInput", p.midiInput},
            {"midiOutput", p.midiOutput},
            {"scsiAdaptor", p.scsiAdaptor},
            {"scsiDevice", p.scsiDevice},
            {"sysexId", p.sysexId},
            {"midiChannel", p.midiChannel},
            {"openLoop", p.openLoop != 0},
            {"scsiInUse", p.scsiInUse != 0},
            {"midiOutInUse", p.midiOutInUse != 0},
            {"offset", p.sampleNumberOffset}};
}

uint8_t ranged(Args& args, const std::string& name, long long low, long long high, long long fallback) {
    const auto text = takeOption(args, name);
    const long long value = text ? parseInteger(*text, name) : fallback;
    if (value < low || value > high) {
        throw UsageError(name + " must be " + std::to_string(low) + " to " + std::to_string(high));
    }
    return static_cast<uint8_t>(value);
}

int runList(Args& args) {
    const auto store = takeProfileStore(args);
    refuseLeftovers(args);
    std::string error;
    const auto names = store.names(&error);
    if (!error.empty()) {
        std::cerr << "cleavix-cli: " << error << "\n";
        return 1;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const auto& name : names) {
        const auto read = store.read(name);
        nlohmann::json entry = {{"name", name}, {"valid", read.ok()}};
        if (read.ok()) {
            entry["profile"] = profileJson(*read.profile);
        } else {
            entry["error"] = pf::kCorruptManager;
            entry["detail"] = read.detail;
        }
        list.push_back(std::move(entry));
    }
    printJson({{"config", store.path().string()}, {"profiles", list}, {"lines", store.listLines()}});
    return 0;
}

int runStore(Args& args) {
    auto store = takeProfileStore(args);
    const auto typeText = takeOption(args, "--type");
    if (!typeText) {
        throw UsageError("--type is needed (0 to 7)");
    }
    const long long typeIndex = parseInteger(*typeText, "--type");
    const auto* type = pf::deviceType(static_cast<int>(std::clamp<long long>(typeIndex, -1, pf::kDeviceTypeCount)));
    if (!type) {
        throw UsageError("--type must be 0 to 7");
    }
    sampler::SamplerProfile p;
    p.deviceType = type->index;
    p.midiInput = ranged(args, "--midi-in", 0, 255, 0);
    p.midiOutput = ranged(args, "--midi-out", 0, 255, 0);
    p.scsiAdaptor = ranged(args, "--adaptor", 0, pf::kMaxAdaptor, 0);
    p.scsiDevice = ranged(args, "--device", 0, pf::kMaxDevice, 0);
    p.sysexId = ranged(args, "--sysex-id", 1, 16, 1);
    p.midiChannel = ranged(args, "--channel", 1, 16, 1);
    p.openLoop = takeFlag(args, "--open-loop") ? 1 : 0;
    const auto offset = takeOption(args, "--offset");
    const long long offsetValue = offset ? parseInteger(*offset, "--offset") : 0;
    if (offsetValue < pf::kMinOffset || offsetValue > pf::kMaxOffset) {
        throw UsageError("--offset must be -1024 to 1024");
    }
    p.sampleNumberOffset = static_cast<int32_t>(offsetValue);
    // As the manager stores them: what the enabled lists of the type say.
    const pf::Enabling enabling = pf::enablingFor(type->index);
    p.scsiInUse = enabling.scsi ? 1 : 0;
    p.midiOutInUse = enabling.midiOut ? 1 : 0;
    const std::string name = takePositional(args, "NAME");
    refuseLeftovers(args);
    std::string error;
    if (!store.store(name, p, &error)) {
        std::cerr << "cleavix-cli: " << error << "\n";
        return 1;
    }
    const auto names = store.names();
    printJson({{"stored", name}, {"position", pf::positionOf(names, name)}, {"profile", profileJson(p)}});
    return 0;
}

int runDelete(Args& args) {
    const auto store = takeProfileStore(args);
    const std::string name = takePositional(args, "NAME");
    refuseLeftovers(args);
    const auto before = store.names();
    const int position = pf::positionOf(before, name);
    std::string error;
    if (!store.remove(name, &error)) {
        std::cerr << "cleavix-cli: " << error << "\n";
        return 1;
    }
    const auto lines = store.listLines();
    const int select = std::min<int>(pf::positionAfterDelete(position), static_cast<int>(lines.size()) - 1);
    printJson({{"deleted", name}, {"selected", lines[size_t(select)]}, {"lines", lines}});
    return 0;
}

int runCheck(Args& args) {
    const auto store = takeProfileStore(args);
    const auto inputs = takeOption(args, "--midi-inputs");
    const auto outputs = takeOption(args, "--midi-outputs");
    const std::string name = takePositional(args, "NAME");
    refuseLeftovers(args);

    jobs::MainLoop loop;
    auto layer = sampler::scsi::makeScsiLayer(loop);
    pf::InstalledDevices devices;
    devices.scsiAdaptors = static_cast<int>(layer->adaptors().size());
    // Without the counts every MIDI index passes: only the rest is checked.
    devices.midiInputs = inputs ? static_cast<int>(parseInteger(*inputs, "--midi-inputs")) : 256;
    devices.midiOutputs = outputs ? static_cast<int>(parseInteger(*outputs, "--midi-outputs")) : 256;
    const bool midiCounted = inputs.has_value() && outputs.has_value();

    const auto check = checkProfile(store, name, devices, layer->available()).check;
    nlohmann::json out = {{"name", name},
                          {"ok", check.ok()},
                          {"message", check.ok() ? "ok" : plain(check.message)},
                          {"midiChecked", midiCounted},
                          {"scsiAdaptors", devices.scsiAdaptors}};
    if (!check.detail.empty()) {
        out["detail"] = check.detail;
    }
    if (check.profile) {
        out["profile"] = profileJson(*check.profile);
        out["autoMap"] = pf::autoMapOffered(check.profile->deviceType);
        out["receiveButton"] = pf::receiveButtonText(check.profile->deviceType);
    }
    printJson(out);
    return check.ok() ? 0 : 1;
}

int runProfiles(Args& args) {
    if (args.empty()) {
        throw UsageError("missing list, store, delete or check");
    }
    const std::string verb = args.front();
    args.erase(args.begin());
    if (verb == "list") {
        return runList(args);
    }
    if (verb == "store") {
        return runStore(args);
    }
    if (verb == "delete") {
        return runDelete(args);
    }
    if (verb == "check") {
        return runCheck(args);
    }
    throw UsageError("unknown profiles command '" + verb + "'");
}

const CommandRegistration profiles({
    "profiles",
    "profiles list | store NAME --type T [--midi-in I] [--midi-out O] [--adaptor A] [--device D] [--sysex-id S] "
    "[--channel C] [--open-loop] [--offset N] | delete NAME | check NAME [--midi-inputs N --midi-outputs N] "
    "[--config FILE]",
    "The sampler profiles, in the settings file the window uses ($XDG_CONFIG_HOME/Cleavix/Cleavix.ini,\n"
    "or FILE with --config). list: every profile with its fields, or \"error\" for a corrupt one, and\n"
    "the lines a profile list shows (\"No Presets Stored\" when there are none). store: writes a profile\n"
    "(type 0 Generic MIDI SDS, 1 Generic SCSI SMDI, 2 Yamaha A3000, 3 Yamaha EX, 4 E-mu ESI/EOS, 5 Akai\n"
    "S2000/S3000XL/S3200XL, 6 Yamaha A4000, 7 Yamaha A5000), replacing one of the same name; names with\n"
    "'/' or '\\' are refused. delete: removes one and names the entry selected after it. check: the\n"
    "checks binding makes before a transfer, printing the message it would show, or ok (exit 1 when\n"
    "refused); the MIDI device indices are checked against --midi-inputs/--midi-outputs when given.",
    runProfiles,
});

} // namespace

} // namespace cleavix::cli
