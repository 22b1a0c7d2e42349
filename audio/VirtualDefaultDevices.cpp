// The program's wave devices in a build without ALSA: the virtual ones, so the window and the
// command-line tool still start, list devices and play (into a device nobody hears).
#include "audio/VirtualWaveDevice.h"

namespace cleavix::audio {

std::unique_ptr<WaveDeviceProvider> makeDefaultWaveDevices() { return std::make_unique<VirtualDeviceProvider>(); }

} // namespace cleavix::audio
