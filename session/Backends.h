#pragma once
// The device layers a Session works through, chosen by each program's main() and handed over: the
// wave devices today; the MIDI ports, the SCSI bus and the plug-in host join here as they land.
// defaults() gives what this build offers (CMake decides which backend targets are linked); tests
// hand in virtual devices instead.
#include "audio/WaveDevice.h"

#include <memory>

namespace cleavix::session {

struct Backends {
    std::unique_ptr<audio::WaveDeviceProvider> waveDevices;

    // The real backends this build has (ALSA when built with it), else the virtual devices.
    static Backends defaults();
};

} // namespace cleavix::session
