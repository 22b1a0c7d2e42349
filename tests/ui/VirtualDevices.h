#pragma once
// Window options whose session plays into (and records from) virtual wave devices the test moves.
#include "audio/VirtualWaveDevice.h"
#include "session/Backends.h"
#include "ui/window/StartForm.h"

#include <memory>

namespace cleavix::uitest {

// `provider` is set to the devices once the window has made its session.
inline ui::StartOptions virtualDeviceOptions(audio::VirtualDeviceProvider*& provider) {
    ui::StartOptions o;
    o.backends = [&provider] {
        session::Backends b;
        auto devices = std::make_unique<audio::VirtualDeviceProvider>();
        provider = devices.get();
        b.waveDevices = std::move(devices);
        b.systemScsi = false; // no real adaptors in a window test
        return b;
    };
    return o;
}

} // namespace cleavix::uitest
