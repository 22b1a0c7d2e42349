// A third-party plug-in from a Debian package (swh-lv2's "Simple amplifier") through the bridge.
#include "plugins/PluginTestKit.h"

#include <filesystem>

namespace cleavix::test {
namespace {

#ifdef CLEAVIX_TEST_LV2_PATH

TEST(DebianLv2, SwhAmplifierHalvesARealSample) {
    if (!std::filesystem::exists("/usr/lib/lv2/amp-swh.lv2/manifest.ttl")) {
        GTEST_SKIP() << "swh-lv2 is not installed";
    }
    TempDir presets;
    auto bridge = testBridge(presets.path(), "/usr/lib/lv2");
    const int amp = bridge->find("http://plugin.org.uk/swh-plugins/amp");
    ASSERT_GE(amp, 0);
    EXPECT_GT(bridge->plugins().size(), 50u) << "the collection is listed";
    EditBench b;
    const auto data = testSignal(44100, 12);
    ASSERT_TRUE(b.loadSamples(data, 1));
    plugins::PluginHost host(b.editor(), *bridge);
    auto chain = host.open(amp);
    ASSERT_TRUE(chain);
    // 20 log10(0.5) dB: half the amplitude.
    ASSERT_TRUE(chain->setControl("gain", float(20.0 * std::log10(0.5))));
    plugins::PluginResult result;
    ASSERT_TRUE(host.process(std::move(chain), plugins::PluginScope::All,
                             [&](const plugins::PluginResult& r) { result = r; }));
    b.fx.waitIdle();
    ASSERT_TRUE(result.ok);
    const auto out = b.samples();
    ASSERT_EQ(out.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_NEAR(out[i], data[i] * 0.5, 1.0) << i;
    }
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

#endif

} // namespace
} // namespace cleavix::test
