#pragma once
// The device layers a Session works through, chosen by each program's main() and handed over: the
// wave devices, the plug-in bridge, the MIDI backends and the SCSI backends. defaults() gives
// what this build offers (CMake decides which backend targets are linked) with the virtual
// devices and emulated samplers after them; tests hand in virtual devices of their own instead.
#include "audio/WaveDevice.h"
#include "plugins/PluginBridge.h"
#include "sampler/midi/MidiBackend.h"
#include "sampler/virtual/VirtualScsiBus.h"

#include <memory>

namespace cleavix::session {

struct Backends {
    std::unique_ptr<audio::WaveDeviceProvider> waveDevices;
    // The effect plug-in host's bridge (LV2 when built with lilv). Null: made on first use, since
    // listing every installed plug-in takes a while and most commands never need it.
    std::unique_ptr<plugins::PluginBridge> plugins;
    // The MIDI backends in listing order: hardware first, the virtual ports (cable, emulated
    // sample dump sampler) last. Empty: defaults() is filled in by the session.
    sampler::midi::MidiBackends midi;
    // The virtual SCSI bus, listed after the system's adaptors, with the emulated samplers on it.
    // Null: the default bus (the emulated S2000 at ID 2, SMDI samplers at 3 and 4, a disk at 6).
    std::shared_ptr<sampler::scsi::VirtualScsiBus> scsiBus;
    // Whether the system's SCSI adaptors (Linux SCSI generic, when built) are listed.
    bool systemScsi = true;

    // The real backends this build has (ALSA when built with it), else the virtual devices.
    static Backends defaults();
    // The virtual bus the program lists: the emulated samplers and a disk.
    static std::shared_ptr<sampler::scsi::VirtualScsiBus> defaultScsiBus();
};

} // namespace cleavix::session
