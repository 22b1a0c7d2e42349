#pragma once
// A session loaded with generated audio, and short ways to run its edit and process commands to
// completion and read the store back. Shared by the editing and processing tests.
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cleavix::test {

struct EditBench {
    explicit EditBench(session::Settings settings = {}) : fx(settings) {}

    SessionFixture fx;
    TempDir files;

    session::Session& s() { return *fx.session; }
    editing::Editor& editor() { return fx.session->editor(); }
    processing::Processor& processor() { return fx.session->processor(); }
    slicing::Slicer& slicer() { return fx.session->slicer(); }

    // Loads 16-bit samples (interleaved when stereo) as a Wave file.
    bool loadSamples(const std::vector<int16_t>& samples, uint16_t channels, uint32_t rate = 44100) {
        WaveSpec spec;
        spec.channels = channels;
        spec.sampleRate = rate;
        const std::string path = files.file("in" + std::to_string(++loads_) + ".wav");
        writeFile(path, makeWave(spec, le16Bytes(samples)));
        return fx.load(path);
    }

    // Runs a command that takes done(ok); false when it refused or reported failure.
    bool run(const std::function<bool(editing::Done)>& command) {
        bool finished = false;
        bool ok = false;
        if (!command([&](bool result) {
                finished = true;
                ok = result;
            })) {
            fx.waitIdle();
            return false;
        }
        fx.waitIdle();
        return finished && ok;
    }

    std::vector<int16_t> samples() {
        const uint32_t length = s().format().dataLength;
        std::vector<int16_t> out(length / 2);
        s().store().stream().readAt(0, out.data(), length);
        return out;
    }

    // Working files with a prefix in the session's working folder.
    int workFiles(const std::string& prefix) const {
        int n = 0;
        for (const auto& name : fx.work.entries()) {
            if (name.rfind(prefix, 0) == 0) {
                ++n;
            }
        }
        return n;
    }

private:
    int loads_ = 0;
};

inline std::vector<int16_t> ramp(size_t count, int start = 1, int step = 1) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i) {
        v[i] = int16_t(start + int(i) * step);
    }
    return v;
}

} // namespace cleavix::test
