#include "session/Backends.h"
#include "sampler/scsi/SystemBackends.h"
#include "sampler/virtual/MidiBackendList.h"
#include "sampler/virtual/VirtualAkaiSampler.h"

namespace cleavix::session {

Backends Backends::defaults() {
    Backends backends;
    backends.waveDevices = audio::makeDefaultWaveDevices();
    backends.midi = sampler::virt::defaultMidiBackends();
    backends.scsiBus = defaultScsiBus();
    return backends;
}

std::shared_ptr<sampler::scsi::VirtualScsiBus> Backends::defaultScsiBus() {
    auto bus = std::make_shared<sampler::scsi::VirtualScsiBus>();
    bus->attach(sampler::scsi::kVirtualDiskId, std::make_shared<sampler::scsi::VirtualDiskTarget>());
    bus->attach(sampler::scsi::VirtualAkaiSampler::kDefaultId, std::make_shared<sampler::scsi::VirtualAkaiSampler>());
    return bus;
}

} // namespace cleavix::session
