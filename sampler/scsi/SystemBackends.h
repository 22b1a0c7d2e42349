#pragma once
// The SCSI layer the program uses: the system's backends (Linux SCSI generic when built), then
// the virtual bus, always last.
#include "sampler/scsi/ScsiLayer.h"
#include "sampler/virtual/VirtualScsiBus.h"

#include <memory>

namespace cleavix::sampler::scsi {

// The backends of the system, in listing order (none when built without them).
std::vector<std::shared_ptr<ScsiBackend>> systemBackends();

// Where the virtual bus's disk sits; emulated samplers take lower IDs.
inline constexpr uint8_t kVirtualDiskId = 6;

// Main thread. A layer over the system backends and `bus`; a bus it creates itself gets a disk at
// kVirtualDiskId.
std::unique_ptr<ScsiLayer> makeScsiLayer(jobs::Dispatcher& dispatcher, std::shared_ptr<VirtualScsiBus> bus = nullptr);

} // namespace cleavix::sampler::scsi
