// The program's wave devices in a build without ALSA: paced virtual ones, so the window and the
// command-line tool still start, list devices, play (into a device nobody hears, at the sample's
// rate, so playback ends) and record (silence).
#include "audio/PacedWaveDevice.h"

namespace cleavix::audio {

std::unique_ptr<WaveDeviceProvider> makeDefaultWaveDevices() { return std::make_unique<PacedDeviceProvider>(); }

} // namespace cleavix::audio
