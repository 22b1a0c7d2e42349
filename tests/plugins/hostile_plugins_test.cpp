// Plug-ins that misbehave on purpose (our hostile bundle, beside two bundles of broken Turtle):
// odd port layouts, ranges that are no ranges, absurd output and latency, one that will not start.
// The host lists what it can run, keeps every range usable, saturates the output and keeps the
// sample's length; a plug-in that fails to start changes nothing.
#include "plugins/PluginTestKit.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace cleavix::test {
namespace {

#if defined(CLEAVIX_TEST_LV2_PATH) && defined(CLEAVIX_HOSTILE_LV2_PATH)

using namespace plugins;

const std::string kBase = "urn:cleavix-hostile:";

// Our test bench over the hostile bundle's folder.
struct HostileBench : PluginBench {
    HostileBench() : PluginBench(CLEAVIX_HOSTILE_LV2_PATH, kBase) {}
    PluginResult apply(const std::string& name, const std::vector<std::pair<std::string, float>>& settings = {}) {
        return PluginBench::apply(name, PluginScope::All, settings);
    }
};

const PluginControl* controlOf(const PluginInfo& info, const std::string& symbol) {
    for (const auto& c : info.controls) {
        if (c.symbol == symbol) {
            return &c;
        }
    }
    return nullptr;
}

TEST(HostilePlugins, TheListingHasWhatCanRunAndBrokenBundlesDoNotStopIt) {
    TempDir presets;
    auto bridge = testBridge(presets.path(), CLEAVIX_HOSTILE_LV2_PATH);
    struct Row {
        const char* name;
        bool listed;
    };
    const Row rows[] = {
        {"no-audio", false}, // nothing to run audio through
        {"three-in", true},
        {"wild", true},
        {"refuses", true},
        {"loud", true},
        {"late", true},
        {"broken", false}, // its manifest does not parse
    };
    for (const auto& row : rows) {
        EXPECT_EQ(bridge->find(kBase + row.name) >= 0, row.listed) << row.name;
    }
}

TEST(HostilePlugins, RangesThatAreNoRangesBecomeUsableOnes) {
    TempDir presets;
    auto bridge = testBridge(presets.path(), CLEAVIX_HOSTILE_LV2_PATH);
    const int wild = bridge->find(kBase + "wild");
    ASSERT_GE(wild, 0);
    const PluginInfo& info = bridge->plugins()[size_t(wild)];
    struct Row {
        const char* symbol;
        float minimum, maximum, defaultValue;
    };
    const Row rows[] = {
        {"gain", 0.0f, 2.0f, 1.0f},          // upside down
        {"huge", -1.0e30f, 1.0e30f, 1.0e30f}, // beyond a float: held to the largest bound
        {"mode", 0.0f, 2.0f, 2.0f},          // default outside the range
        {"onoff", 0.0f, 1.0f, 0.7f},
        {"count", 0.0f, 1.0e30f, 3.0f},
        {"cutoff", 0.0f, 1.0e30f, 0.25f}, // per sample rate: scaled by an instance
    };
    for (const auto& row : rows) {
        const PluginControl* c = controlOf(info, row.symbol);
        ASSERT_NE(c, nullptr) << row.symbol;
        EXPECT_FLOAT_EQ(c->minimum, row.minimum) << row.symbol;
        EXPECT_FLOAT_EQ(c->maximum, row.maximum) << row.symbol;
        EXPECT_FLOAT_EQ(c->defaultValue, row.defaultValue) << row.symbol;
    }
    const PluginControl* mode = controlOf(info, "mode");
    ASSERT_EQ(mode->enumeration.size(), 3u);
    for (const auto& [value, label] : mode->enumeration) {
        EXPECT_TRUE(std::isfinite(value)) << label;
    }

    // An instance at 44100 Hz: the sample-rate range times the rate overflows, and is held too;
    // every value the instance starts with is a number within its range.
    std::string error;
    auto chain = PluginChain::open(*bridge, wild, 44100, 1, error);
    ASSERT_TRUE(chain) << error;
    for (const auto& c : chain->first().info().controls) {
        EXPECT_TRUE(std::isfinite(c.minimum) && std::isfinite(c.maximum) && c.minimum <= c.maximum) << c.symbol;
        EXPECT_TRUE(std::isfinite(c.maximum - c.minimum)) << c.symbol;
        const float v = chain->control(c.symbol);
        EXPECT_TRUE(v >= c.minimum && v <= c.maximum) << c.symbol << " starts at " << v;
    }
    EXPECT_FLOAT_EQ(controlOf(chain->first().info(), "cutoff")->defaultValue, 0.25f * 44100.0f);
    // Setting past the upside-down range holds to it, and the gain is applied.
    chain->setControl("gain", 5.0f);
    EXPECT_FLOAT_EQ(chain->control("gain"), 2.0f);
    const std::vector<int16_t> in{1000, -1000, 20000};
    std::vector<int16_t> out;
    chain->deliver(in.data(), in.size(), out);
    chain->finish(out);
    EXPECT_EQ(out, (std::vector<int16_t>{2000, -2000, 32767}));
}

TEST(HostilePlugins, TheToolListsEveryRangeAsNumbers) {
    TempDir presets;
    ::setenv("LV2_PATH", CLEAVIX_HOSTILE_LV2_PATH, 1);
    ::setenv("XDG_DATA_HOME", presets.path().c_str(), 1);
    const RunResult r = runCli({"plugins"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto list = nlohmann::json::parse(r.out);
    bool sawWild = false;
    for (const auto& p : list) {
        for (const auto& c : p["controls"]) {
            for (const char* field : {"min", "max", "default"}) {
                EXPECT_TRUE(c[field].is_number()) << p["uri"] << " " << c["symbol"] << " " << field << ": " << c[field];
            }
        }
        sawWild = sawWild || p["uri"] == kBase + "wild";
    }
    EXPECT_TRUE(sawWild);
}

TEST(HostilePlugins, ThreeInputsTakeMonoOnEveryInputAndStereoOnTheFirstTwo) {
    {
        HostileBench b;
        const std::vector<int16_t> mono{100, -200, 12000, -12000};
        ASSERT_TRUE(b.loadSamples(mono, 1));
        const auto r = b.apply("three-in");
        ASSERT_TRUE(r.ok) << r.error;
        // Three times the input, saturating rather than wrapping.
        EXPECT_EQ(b.samples(), (std::vector<int16_t>{300, -600, 32767, -32768}));
    }
    {
        HostileBench b;
        const std::vector<int16_t> stereo{100, 20, 30000, 30000, -30000, -30000};
        ASSERT_TRUE(b.loadSamples(stereo, 2));
        const auto r = b.apply("three-in");
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_FALSE(b.fx.prompter.asked.empty());
        EXPECT_EQ(b.fx.prompter.asked.back(), kMsgWholeSample) << "one output: the sample becomes mono";
        EXPECT_EQ(b.s().format().channels, 1);
        EXPECT_EQ(b.samples(), (std::vector<int16_t>{120, 32767, -32768}));
    }
}

TEST(HostilePlugins, OutputBeyondFullScaleSaturatesAndNoNumberIsSilence) {
    HostileBench b;
    // Long enough for many blocks: the pattern runs on across them.
    std::vector<int16_t> in(20000);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = int16_t(i % 2 == 0 ? 3 : -3);
    }
    ASSERT_TRUE(b.loadSamples(in, 1));
    const auto r = b.apply("loud");
    ASSERT_TRUE(r.ok) << r.error;
    const auto out = b.samples();
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < out.size(); ++i) {
        // A million times the input, +inf, NaN, -1e30, 1e30 in turn.
        const int16_t expected[] = {int16_t(in[i] > 0 ? 32767 : -32768), 0, 0, -32768, 32767};
        ASSERT_EQ(out[i], expected[i % 5]) << i;
    }
}

TEST(HostilePlugins, AbsurdLatencyReportsKeepTheLength) {
    struct Row {
        float report;
        uint32_t latency; // what the host takes it for
    };
    const Row rows[] = {
        {0.0f, 0},
        {-5.0f, 0},      // no frame count
        {3000.0f, 3000}, // longer than the sample
        {1.0e9f, 0},     // beyond any delay: taken for none
    };
    for (const auto& row : rows) {
        HostileBench b;
        const auto data = testSignal(1000, 9);
        ASSERT_TRUE(b.loadSamples(data, 1));
        const auto r = b.apply("late", {{"report", row.report}});
        ASSERT_TRUE(r.ok) << row.report << ": " << r.error;
        EXPECT_EQ(r.latency, row.latency) << row.report;
        // The plug-in delays by what it reports (up to its line): compensated, the sample is as it was.
        EXPECT_EQ(b.samples(), data) << row.report;
    }
}

TEST(HostilePlugins, APlugInThatWillNotStartChangesNothing) {
    for (const char* name : {"refuses", "ghost", "no-library"}) {
        HostileBench b;
        const auto data = testSignal(500, 4);
        ASSERT_TRUE(b.loadSamples(data, 2));
        if (b.index(name) < 0) {
            continue; // not listed at all is as good
        }
        EXPECT_EQ(b.host.open(b.index(name)), nullptr) << name;
        ASSERT_EQ(b.fx.prompter.asked.size(), 1u) << name;
        EXPECT_EQ(b.fx.prompter.asked[0], kMsgPluginSetup);
        EXPECT_EQ(b.samples(), data);
        EXPECT_FALSE(b.s().modified());
    }
    EXPECT_GE(HostileBench().index("refuses"), 0) << "a plug-in that fails only when started is listed";
}

// Stored presets beside one that is a FIFO and one that is garbage: the listing comes back at
// once with the good one only.
TEST(HostilePlugins, StoredPresetsThatAreNoFilesOrGarbageAreLeftOut) {
    TempDir presets;
    auto bridge = testBridge(presets.path(), CLEAVIX_HOSTILE_LV2_PATH);
    const int wild = bridge->find(kBase + "wild");
    ASSERT_GE(wild, 0);
    std::string error;
    auto chain = PluginChain::open(*bridge, wild, 44100, 1, error);
    ASSERT_TRUE(chain) << error;
    const std::string good = chain->storePreset("Good");
    ASSERT_FALSE(good.empty());
    const std::filesystem::path folder = std::filesystem::path(good).parent_path();
    std::filesystem::create_directories(folder / "fifo.preset.lv2");
    ASSERT_EQ(::mkfifo((folder / "fifo.preset.lv2" / "preset.ttl").c_str(), 0600), 0);
    std::filesystem::create_directories(folder / "garbage.preset.lv2");
    writeFile((folder / "garbage.preset.lv2" / "preset.ttl").string(), Bytes{'@', '@', '(', 0, 0xFF, '\n'});
    const int status = exitWithin(10, [&] {
        const auto list = bridge->presets(wild);
        return list.size() == 1 && list[0].name == "Good" && list[0].stored ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << (status < 0 ? "the listing blocked" : "not the good preset alone");
}

#endif

} // namespace
} // namespace cleavix::test
