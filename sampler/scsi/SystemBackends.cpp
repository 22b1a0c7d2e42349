#include "sampler/scsi/SystemBackends.h"

namespace cleavix::sampler::scsi {

std::unique_ptr<ScsiLayer> makeScsiLayer(jobs::Dispatcher& dispatcher, std::shared_ptr<VirtualScsiBus> bus) {
    auto layer = std::make_unique<ScsiLayer>(dispatcher);
    for (auto& backend : systemBackends()) {
        layer->addBackend(std::move(backend));
    }
    if (!bus) {
        bus = std::make_shared<VirtualScsiBus>();
        bus->attach(kVirtualDiskId, std::make_shared<VirtualDiskTarget>());
    }
    layer->addBackend(std::move(bus));
    return layer;
}

} // namespace cleavix::sampler::scsi
