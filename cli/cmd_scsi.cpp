// scsi-devices: the host adaptors and the devices on them, as the profile manager lists them.
#include "cli/Cli.h"
#include "sampler/scsi/ScsiListing.h"
#include "sampler/scsi/SystemBackends.h"
#include "sampler/virtual/EmulatedScsiBus.h"

#include <iostream>

namespace cleavix::cli {

namespace {

int runScsiDevices(Args& args) {
    const auto only = takeOption(args, "--adaptor");
    refuseLeftovers(args);
    jobs::MainLoop loop;
    auto layer = sampler::scsi::makeScsiLayer(loop, sampler::virt::makeEmulatedScsiBus().bus);
    const auto adaptors = layer->adaptors();
    std::optional<long long> wanted;
    if (only) {
        wanted = parseInteger(*only, "--adaptor");
        if (*wanted < 0 || *wanted >= static_cast<long long>(adaptors.size())) {
            throw UsageError("--adaptor must be 0 to " + std::to_string(adaptors.size() - 1));
        }
    }
    nlohmann::json adaptorList = nlohmann::json::array();
    nlohmann::json deviceList = nlohmann::json::array();
    bool denied = false;
    for (const auto& adaptor : adaptors) {
        adaptorList.push_back({{"index", adaptor.index},
                               {"host", adaptor.host},
                               {"identifier", adaptor.identifier},
                               {"virtual", adaptor.virtualBus},
                               {"line", sampler::scsi::adaptorLine(adaptor)}});
        if (wanted && *wanted != adaptor.index) {
            continue;
        }
        sampler::scsi::DeviceListing listing(*layer);
        std::optional<std::vector<sampler::scsi::DeviceEntry>> entries;
        listing.start(adaptor.index, nullptr, [&](const std::vector<sampler::scsi::DeviceEntry>& all) { entries = all; });
        loop.runUntil([&] { return entries.has_value(); });
        for (const auto& entry : *entries) {
            nlohmann::json device = {{"adaptor", adaptor.index}, {"target", entry.target}, {"line", entry.line}};
            if (entry.inquiry) {
                device["vendor"] = entry.inquiry->vendor;
                device["product"] = entry.inquiry->product;
                device["revision"] = entry.inquiry->revision;
                device["type"] = entry.inquiry->peripheralType;
            } else {
                device["vendor"] = device["product"] = device["revision"] = "";
                device["type"] = nullptr;
                if (entry.completion.hostStatus != sampler::scsi::host_status::kNoConnect) {
                    device["error"] = entry.completion.detail;
                }
                denied = denied || entry.completion.systemError == EACCES || entry.completion.systemError == EPERM;
            }
            deviceList.push_back(std::move(device));
        }
    }
    if (denied) {
        sampler::scsi::Completion permission;
        permission.systemError = EACCES;
        std::cerr << "cleavix-cli: " << sampler::scsi::communicationErrorText(permission) << "\n";
    }
    printJson({{"adaptors", adaptorList}, {"devices", deviceList}});
    return 0;
}

const CommandRegistration scsiDevices({
    "scsi-devices",
    "scsi-devices [--adaptor A]",
    "The SCSI host adaptors (those with /dev/sg devices first, then the Cleavix virtual SCSI bus, with\n"
    "the emulated Akai S2000 at ID 2, SMDI sampler at 3, E-mu at 4 and a disk at 6) and the devices\n"
    "at IDs 0 to 6 of each (or of adaptor A), found by INQUIRY:\n"
    "{\"adaptors\": [{\"index\", \"host\", \"identifier\", \"virtual\", \"line\"}], \"devices\": [{\"adaptor\",\n"
    "\"target\", \"vendor\", \"product\", \"revision\", \"type\", \"line\"}]}. The lines read as in the\n"
    "profile manager (\"ID:5 AKAI S3000XL 1.00\", \"(*)\" marking a processor device, that is an SMDI\n"
    "sampler; \"ID:3 No Device Found\"). A device that cannot be opened for lack of permission is\n"
    "reported on standard error with a pointer to the user guide.",
    runScsiDevices,
});

} // namespace

} // namespace cleavix::cli
