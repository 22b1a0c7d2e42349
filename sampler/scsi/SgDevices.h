#pragma once
// Linux SCSI generic as data: which host adaptors and sg device nodes sysfs lists, and the
// sg_io_hdr for one command and what its answer means. Reading sysfs takes a root folder, so tests
// run it on a fake tree; nothing here opens a device or issues an ioctl.
#include "sampler/scsi/ScsiLayer.h"

#include <scsi/sg.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sampler::scsi {

struct SgNode {
    std::string name; // "sg3"
    int host = 0, channel = 0, target = 0, lun = 0;
};

struct SgHost {
    int host = 0;
    std::string identifier; // proc_name, at most 16 characters
    std::vector<SgNode> nodes; // LUN 0 only, by target then channel
};

// "H:C:T:L" as four numbers.
std::optional<SgNode> parseHctl(const std::string& text);
// The sg nodes under <sysRoot>/class/scsi_generic, each named by the H:C:T:L its "device" entry
// leads to (a link to the SCSI device's folder, whose name is H:C:T:L).
std::vector<SgNode> listSgNodes(const std::filesystem::path& sysRoot);
// Host adaptors under <sysRoot>/class/scsi_host that have at least one sg node at LUN 0, by host
// number. No sysfs (or no such folders): none.
std::vector<SgHost> listSgHosts(const std::filesystem::path& sysRoot);
// The node for a target of a host: the lowest channel wins.
const SgNode* findNode(const SgHost& host, int target);

// The header for one command. `data` and `sense` must stay valid until the ioctl returned.
sg_io_hdr_t makeSgIoHeader(const ScsiCommand& command, uint8_t* data, uint8_t* sense);
// What the kernel wrote back, as the layer's outcome (dataIn not filled).
Outcome outcomeFromSgIoHeader(const sg_io_hdr_t& header, const uint8_t* sense);

} // namespace cleavix::sampler::scsi
