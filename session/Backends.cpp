#include "session/Backends.h"
#include "sampler/virtual/EmulatedScsiBus.h"
#include "sampler/virtual/MidiBackendList.h"

namespace cleavix::session {

Backends Backends::defaults() {
    Backends backends;
    backends.waveDevices = audio::makeDefaultWaveDevices();
    backends.midi = sampler::virt::defaultMidiBackends();
    backends.scsiBus = defaultScsiBus();
    return backends;
}

std::shared_ptr<sampler::scsi::VirtualScsiBus> Backends::defaultScsiBus() {
    return sampler::virt::makeEmulatedScsiBus().bus;
}

} // namespace cleavix::session
