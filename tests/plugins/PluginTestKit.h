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
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace cleavix::test {

// A bridge with a listing of our making and no host library behind it; `make` opens instances.
class FakeBridge final : public plugins::PluginBridge {
public:
    std::vector<plugins::PluginInfo> list;
    std::function<std::unique_ptr<plugins::PluginInstance>(const plugins::PluginInfo&)> make;

    bool available() const override { return true; }
    std::string kind() const override { return "LV2"; }
    const std::vector<plugins::PluginInfo>& plugins() const override { return list; }
    std::unique_ptr<plugins::PluginInstance> open(int index, double, std::string& error) override {
        if (!make || index < 0 || size_t(index) >= list.size()) {
            error = "listing only";
            return nullptr;
        }
        return make(list[size_t(index)]);
    }
    std::vector<plugins::PluginPreset> presets(int) override { return {}; }
    std::string presetFolder() const override { return {}; }
    bool deletePreset(const plugins::PluginPreset&) override { return false; }
};

#ifdef CLEAVIX_TEST_LV2_PATH
// Only our bundle: the listing is exactly what it holds.
inline std::unique_ptr<plugins::Lv2Bridge> testBridge(const std::string& presetFolder,
                                                      const std::string& path = CLEAVIX_TEST_LV2_PATH) {
    ::setenv("LV2_PATH", path.c_str(), 1);
    return std::make_unique<plugins::Lv2Bridge>(presetFolder);
}

struct PluginBench : EditBench {
    // Over another bundle folder, whose plug-ins' URIs are `prefix` and their names.
    explicit PluginBench(const std::string& path = CLEAVIX_TEST_LV2_PATH, std::string prefix = "urn:cleavix-test:")
        : bridge(testBridge(presets.path(), path)), host(editor(), *bridge), prefix_(std::move(prefix)) {}
    TempDir presets;
    std::unique_ptr<plugins::Lv2Bridge> bridge;
    plugins::PluginHost host;

    int index(const std::string& name) const {
        return bridge->find(prefix_ + name);
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

private:
    std::string prefix_;
};
#endif

// Interleaved 16-bit from float maths the way the bridge rounds: ties to even, clipped.
inline int16_t expect16(double v) {
    const double r = std::nearbyint(v);
    return int16_t(std::clamp(r, -32768.0, 32767.0));
}

} // namespace cleavix::test
