#include "support/SessionFixture.h"

#include "audio/VirtualWaveDevice.h"
#include "sample/WorkFiles.h"

#include <stdexcept>

namespace cleavix::test {

session::Backends virtualDeviceBackends(audio::VirtualDeviceProvider*& provider) {
    session::Backends b;
    auto devices = std::make_unique<audio::VirtualDeviceProvider>();
    provider = devices.get();
    b.waveDevices = std::move(devices);
    b.systemScsi = false; // no real adaptors in a test
    return b;
}

SessionFixture::SessionFixture(session::Settings settings) {
    settings.tempPath = work.path();
    session = std::make_unique<session::Session>(loop, prompter, settings);
}

SessionFixture::SessionFixture(session::Settings settings, session::Backends backends) {
    settings.tempPath = work.path();
    session = std::make_unique<session::Session>(loop, prompter, settings, std::move(backends));
}

size_t SessionFixture::workFileCount() const {
    size_t n = 0;
    for (const auto& name : work.entries()) {
        n += sample::isWorkFileName(name) ? 1 : 0;
    }
    return n;
}

void SessionFixture::waitIdle() { session->jobs().waitIdle([this] { loop.runOne(); }); }

bool SessionFixture::load(const std::string& fileName) {
    return runAndWait([&](std::function<void(bool)> done) {
        if (!session->open(fileName, session::OpenOrigin::Menu, std::move(done))) {
            throw std::logic_error("refused");
        }
    });
}

bool SessionFixture::runAndWait(const std::function<void(std::function<void(bool)>)>& command) {
    bool finished = false;
    bool ok = false;
    try {
        command([&](bool result) {
            finished = true;
            ok = result;
        });
    } catch (const std::logic_error&) {
        return false;
    }
    if (!finished) {
        loop.runUntil([&] { return finished; });
    }
    waitIdle();
    return ok;
}

} // namespace cleavix::test
