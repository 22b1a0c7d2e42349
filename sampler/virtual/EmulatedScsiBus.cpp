#include "sampler/virtual/EmulatedScsiBus.h"

#include "sampler/scsi/SystemBackends.h"

namespace cleavix::sampler::virt {

EmulatedScsiBus makeEmulatedScsiBus() {
    using scsi::VirtualSmdiSampler;
    EmulatedScsiBus out;
    out.bus = std::make_shared<scsi::VirtualScsiBus>();
    out.akai = std::make_shared<scsi::VirtualAkaiSampler>();
    out.smdi = VirtualSmdiSampler::fromEnvironment(VirtualSmdiSampler::Flavour::Generic);
    out.emu = VirtualSmdiSampler::fromEnvironment(VirtualSmdiSampler::Flavour::Emu);
    out.bus->attach(scsi::VirtualAkaiSampler::kDefaultId, out.akai);
    out.bus->attach(VirtualSmdiSampler::kGenericId, out.smdi);
    out.bus->attach(VirtualSmdiSampler::kEmuId, out.emu);
    out.bus->attach(scsi::kVirtualDiskId, std::make_shared<scsi::VirtualDiskTarget>());
    return out;
}

} // namespace cleavix::sampler::virt
