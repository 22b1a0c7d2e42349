#pragma once
// The LV2 bridge over the tests' own plug-in bundle (LV2_PATH pointed at it), with stored presets
// in a folder of the test's own, and a session to run plug-ins on.
#include "editing/EditTestKit.h"
#include "plugins/PluginBridge.h"
#include "plugins/PluginHost.h"

#ifdef CLEAVIX_TEST_LV2_PATH
#include "plugins/Lv2Bridge.h"
#endif

#include <cstdlib>
#include <memory>
#include <string>

namespace cleavix::test {

#ifdef CLEAVIX_TEST_LV2_PATH
// Only our bundle: the listing is exactly what it holds.
inline std::unique_ptr<plugins::Lv2Bridge> testBridge(const std::string& presetFolder,
                                                      const std::string& path = CLEAVIX_TEST_LV2_PATH) {
    ::setenv("LV2_PATH", path.c_str(), 1);
    return std::make_unique<plugins::Lv2Bridge>(presetFolder);
}

struct PluginBench : EditBench {
    PluginBench() : bridge(testBridge(presets.path())), host(editor(), *bridge) {}
    TempDir presets;
    std::unique_ptr<plugins::Lv2Bridge> bridge;
    plugins::PluginHost host;

    int index(const std::string& name) const {
        return bridge->find("urn:cleavix-test:" + name);
    }
    // Opens the plug-in for the sample, sets controls, and processes; the result.
    plugins::PluginResult apply(const std::string& name, plugins::PluginScope scope = plugins::PluginScope::All,
                                const std::vector<std::pair<std::string, float>>& settings = {}) {
        plugins::PluginResult result;
        auto chain = host.open(index(name));
        if (!chain) {
            result.error = "open failed";
            return result;
        }
        for (const auto& [k, v] : settings) {
            chain->setControl(k, v);
        }
        if (host.process(std::move(chain), scope, [&](const plugins::PluginResult& r) { result = r; })) {
            fx.waitIdle();
        }
        return result;
    }
};
#endif

// Interleaved 16-bit from float maths the way the bridge rounds: ties to even, clipped.
inline int16_t expect16(double v) {
    const double r = std::nearbyint(v);
    return int16_t(std::clamp(r, -32768.0, 32767.0));
}

} // namespace cleavix::test
