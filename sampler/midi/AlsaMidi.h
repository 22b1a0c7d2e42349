#pragma once
// The ALSA MIDI backends: rawmidi devices for hardware interfaces (system-exclusive dumps pass
// byte-exact), and sequencer ports for software clients (their sysex arrives in chunks, which
// the byte parser joins). Sequencer ports that mirror a rawmidi port (kernel clients of a sound
// card) are left out, so a hardware port is listed once.
//
// Threads: each open input has a reader thread (poll on the device and a stop descriptor; bytes
// through MidiByteParser to the sink). Each open output has a writer thread that writes a block,
// drains it and then reports the completion. Neither touches anything but its device and queue.
#include "sampler/midi/MidiBackend.h"

namespace cleavix::sampler::midi {

// The rawmidi backend ("rawmidi") and the sequencer backend ("seq"), in that order.
MidiBackends makeAlsaMidiBackends();

} // namespace cleavix::sampler::midi
