#pragma once
// The virtual SCSI bus as the program offers it: the emulated Akai S2000 at ID 2, the emulated
// SMDI samplers (generic at 3, E-mu at 4) and the virtual disk at 6, each keeping what it holds
// in $CLEAVIX_VIRTUAL_SAMPLERS when set.
//
// Threads: made on the main thread; the devices then run on the bus's thread.
#include "sampler/virtual/VirtualAkaiSampler.h"
#include "sampler/virtual/VirtualScsiBus.h"
#include "sampler/virtual/VirtualSmdiSampler.h"

#include <memory>

namespace cleavix::sampler::virt {

struct EmulatedScsiBus {
    std::shared_ptr<scsi::VirtualScsiBus> bus;
    std::shared_ptr<scsi::VirtualAkaiSampler> akai;
    std::shared_ptr<scsi::VirtualSmdiSampler> smdi;
    std::shared_ptr<scsi::VirtualSmdiSampler> emu;
};

EmulatedScsiBus makeEmulatedScsiBus();

} // namespace cleavix::sampler::virt
