#pragma once
// A session driven by a main loop with a scripted prompter, for the tests of the folders that
// build on the session (editing, slicing, session, cli).
#include "jobs/MainLoop.h"
#include "session/Session.h"
#include "support/TestSupport.h"

#include <functional>
#include <memory>
#include <string>

namespace cleavix::audio {
class VirtualDeviceProvider;
}

namespace cleavix::test {

// Device layers with virtual wave devices only (no real adaptors); `provider` is set to them.
session::Backends virtualDeviceBackends(audio::VirtualDeviceProvider*& provider);

// A session with its main loop and scripted prompter, working files in its own folder.
struct SessionFixture {
    explicit SessionFixture(session::Settings settings = {});
    // With device layers of the test's own (virtual wave devices the test plays).
    SessionFixture(session::Settings settings, session::Backends backends);
    TempDir work;
    jobs::MainLoop loop;
    ScriptedPrompter prompter;
    std::unique_ptr<session::Session> session;

    // Runs the loop until the session's job (if any) has completed.
    void waitIdle();
    // open() and wait; returns the done() result (false when refused).
    bool load(const std::string& fileName);
    // How many working files (of any session) lie in the working folder.
    size_t workFileCount() const;
    // A session command taking done(bool); runs it and waits for done.
    bool runAndWait(const std::function<void(std::function<void(bool)>)>& command);
};

} // namespace cleavix::test
