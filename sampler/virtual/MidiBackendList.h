#pragma once
// The MIDI backends the program lists, in order: the ALSA rawmidi and sequencer backends (when
// built), then the virtual ports (the cable and the emulated SDS sampler).
#include "sampler/midi/MidiBackend.h"
#include "sampler/midi/VirtualMidi.h"
#include "sampler/virtual/VirtualSdsSampler.h"

#include <memory>

namespace cleavix::sampler::virt {

// The virtual ports: the cable, and the given sampler (or one set up from the environment).
std::shared_ptr<midi::VirtualMidiBackend> makeVirtualMidiBackend(std::shared_ptr<VirtualSdsSampler> sds = nullptr);

// Hardware first, so the numbers of hardware ports never depend on the virtual ones.
midi::MidiBackends defaultMidiBackends(std::shared_ptr<midi::VirtualMidiBackend> virtualPorts = nullptr);

} // namespace cleavix::sampler::virt
