#pragma once
// The device layers a Session works through, chosen by each program's main() and handed over: the
// wave devices and the plug-in bridge; the MIDI ports and the SCSI bus join here as they land.
// defaults() gives what this build offers (CMake decides which backend targets are linked); tests
// hand in virtual devices instead.
#include "audio/WaveDevice.h"
#include "plugins/PluginBridge.h"

#include <memory>

namespace cleavix::session {

struct Backends {
    std::unique_ptr<audio::WaveDeviceProvider> waveDevices;
    // The effect plug-in host's bridge (LV2 when built with lilv). Null: made on first use, since
    // listing every installed plug-in takes a while and most commands never need it.
    std::unique_ptr<plugins::PluginBridge> plugins;

    // The real backends this build has (ALSA when built with it), else the virtual devices.
    static Backends defaults();
};

} // namespace cleavix::session
