#include "session/Backends.h"

namespace cleavix::session {

Backends Backends::defaults() {
    Backends backends;
    backends.waveDevices = audio::makeDefaultWaveDevices();
    return backends;
}

} // namespace cleavix::session
