#include "support/SessionFixture.h"

#include <stdexcept>

namespace cleavix::test {

SessionFixture::SessionFixture(session::Settings settings) {
    settings.tempPath = work.path();
    session = std::make_unique<session::Session>(loop, prompter, settings);
}

SessionFixture::SessionFixture(session::Settings settings, session::Backends backends) {
    settings.tempPath = work.path();
    session = std::make_unique<session::Session>(loop, prompter, settings, std::move(backends));
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
