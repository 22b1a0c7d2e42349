// The bridge: the null bridge, the listing rules, controls and pages, the channel chain with its
// latency and sample conversion, and the plug-ins' own and stored presets.
#include "plugins/PluginChain.h"
#include "plugins/PluginTestKit.h"

#include <filesystem>
#include <unistd.h>

namespace cleavix::test {
namespace {

using namespace plugins;

TEST(NullBridge, ListsNothingOpensNothingAndShowsNoMenus) {
    NullBridge bridge;
    EXPECT_FALSE(bridge.available());
    EXPECT_TRUE(bridge.plugins().empty());
    std::string error;
    EXPECT_EQ(bridge.open(0, 44100, error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(bridge.presets(0).empty());
    EXPECT_EQ(bridge.find("0"), -1);
    const auto menus = pluginMenus(bridge);
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].title, "L&V2");
    EXPECT_TRUE(menus[0].items.empty()) << "one disabled \"No plugins available\" item";
    EditBench b;
    ASSERT_TRUE(b.loadSamples({1, 2, 3, 4}, 1));
    PluginHost host(b.editor(), bridge);
    EXPECT_FALSE(host.menusVisible());
    EXPECT_EQ(host.open(0), nullptr);
    ASSERT_EQ(b.fx.prompter.asked.size(), 1u);
    EXPECT_EQ(b.fx.prompter.asked[0], kMsgPluginSetup);
}

// A listing of n plug-ins without a host behind it, for the menu layout.
FakeBridge listingOf(int n) {
    FakeBridge b;
    for (int i = 0; i < n; ++i) {
        PluginInfo p;
        p.index = i;
        p.uri = "urn:x:" + std::to_string(i);
        p.name = "P" + std::to_string(i);
        b.list.push_back(p);
    }
    return b;
}

TEST(Menus, ThirtyItemsEachWithTheAcceleratorMovingRight) {
    const FakeBridge bridge = listingOf(65);
    const auto menus = pluginMenus(bridge);
    ASSERT_EQ(menus.size(), 3u);
    EXPECT_EQ(menus[0].title, "L&V2");
    EXPECT_EQ(menus[1].title, "LV&2 - B");
    EXPECT_EQ(menus[2].title, "LV2& - C");
    EXPECT_EQ(menus[0].items.size(), 30u);
    EXPECT_EQ(menus[1].items.front(), 30);
    EXPECT_EQ(menus[2].items, (std::vector<int>{60, 61, 62, 63, 64}));
    EXPECT_EQ(pluginMenus(listingOf(30)).size(), 1u);
    EXPECT_EQ(bridge.find("urn:x:7"), 7);
    EXPECT_EQ(bridge.find("64"), 64);
    EXPECT_EQ(bridge.find("65"), -1);
    EXPECT_EQ(bridge.find("-1"), -1);
    EXPECT_EQ(bridge.find("urn:nothing"), -1);
}

TEST(Samples, FloatToSixteenBitsRoundsClipsAndZeroesNaN) {
    EXPECT_EQ(toSample16(0.5f), 16384);
    EXPECT_EQ(toSample16(1.0f), 32767);
    EXPECT_EQ(toSample16(-1.0f), -32768);
    EXPECT_EQ(toSample16(-2.0f), -32768);
    EXPECT_EQ(toSample16(std::nanf("")), 0);
    EXPECT_EQ(toSample16(INFINITY), 0);
    EXPECT_EQ(toSample16(-INFINITY), 0);
    EXPECT_EQ(toSample16(1.5f / 32768.0f), 2) << "ties to even";
    EXPECT_EQ(toSample16(2.5f / 32768.0f), 2);
    EXPECT_EQ(toSample16(1e-40f), 0);
}

TEST(Samples, DenormalsAreFlushedWhileTheGuardHolds) {
    volatile float tiny = 1e-38f;
    volatile float scale = 1e-3f;
    EXPECT_NE(tiny * scale, 0.0f) << "a denormal result without the guard";
    {
        DenormalGuard guard;
        EXPECT_EQ(tiny * scale, 0.0f);
    }
    EXPECT_NE(tiny * scale, 0.0f) << "the thread's mode is given back";
}

TEST(PresetFolder, InsideMeansStrictlyInsideAfterResolving) {
    TempDir d;
    const std::string folder = d.file("Presets");
    std::filesystem::create_directories(folder + "/a");
    EXPECT_TRUE(insideFolder(folder + "/a", folder));
    EXPECT_TRUE(insideFolder(folder + "/a/b/c", folder + "/"));
    EXPECT_FALSE(insideFolder(folder, folder));
    EXPECT_FALSE(insideFolder(folder + "/../x", folder));
    EXPECT_FALSE(insideFolder(folder + "x/a", folder));
    EXPECT_FALSE(insideFolder("/etc/passwd", folder));
    ASSERT_EQ(::symlink("/etc", (folder + "/link").c_str()), 0);
    EXPECT_FALSE(insideFolder(folder + "/link/passwd", folder)) << "a link leading out is outside";
    ::setenv("XDG_DATA_HOME", d.path().c_str(), 1);
    EXPECT_EQ(defaultPresetFolder(), d.path() + "/Cleavix/Presets");
    ::setenv("XDG_DATA_HOME", "relative/not/allowed", 1);
    ::setenv("HOME", d.path().c_str(), 1);
    EXPECT_EQ(defaultPresetFolder(), d.path() + "/.local/share/Cleavix/Presets");
}

#ifdef CLEAVIX_TEST_LV2_PATH

TEST(Lv2Listing, EffectsOnlyInNameOrder) {
    TempDir presets;
    auto bridge = testBridge(presets.path());
    EXPECT_TRUE(bridge->available());
    std::vector<std::string> names;
    for (const auto& p : bridge->plugins()) {
        names.push_back(p.name);
        EXPECT_EQ(bridge->find(p.uri), p.index);
    }
    // Left out: the one needing a feature we do not offer, the instrument, the one without audio out.
    EXPECT_EQ(names, (std::vector<std::string>{"Test Delay", "Test Gain", "Test Invert", "Test NaN", "Test Split",
                                               "Test Swap"}));
    EXPECT_EQ(bridge->find("urn:cleavix-test:needs-feature"), -1);
    EXPECT_EQ(bridge->find("urn:cleavix-test:instrument"), -1);
    EXPECT_EQ(bridge->find("urn:cleavix-test:analyser"), -1);
}

TEST(Lv2Listing, ControlsTogglesEnumerationsAndPages) {
    TempDir presets;
    auto bridge = testBridge(presets.path());
    const auto& gain = bridge->plugins().at(size_t(bridge->find("urn:cleavix-test:gain")));
    EXPECT_EQ(gain.audioIn, 1);
    EXPECT_EQ(gain.audioOut, 1);
    ASSERT_EQ(gain.controls.size(), 1u);
    EXPECT_EQ(gain.controls[0].symbol, "gain");
    EXPECT_EQ(gain.controls[0].name, "Gain");
    EXPECT_FLOAT_EQ(gain.controls[0].minimum, 0.0f);
    EXPECT_FLOAT_EQ(gain.controls[0].maximum, 4.0f);
    EXPECT_FLOAT_EQ(gain.controls[0].defaultValue, 1.0f);
    EXPECT_EQ(gain.pages(), (std::vector<std::string>{"Controls"}));

    const auto& swap = bridge->plugins().at(size_t(bridge->find("urn:cleavix-test:swap")));
    EXPECT_EQ(swap.audioIn, 2);
    EXPECT_EQ(swap.audioOut, 2);
    ASSERT_EQ(swap.controls.size(), 2u) << "control outputs are no controls";
    EXPECT_TRUE(swap.controls[0].toggle);
    EXPECT_EQ(swap.controls[1].group, "Mix");
    ASSERT_EQ(swap.controls[1].enumeration.size(), 3u);
    EXPECT_EQ(swap.controls[1].enumeration[2].second, "Double");
    EXPECT_EQ(swap.pages(), (std::vector<std::string>{"Mix", "Controls"}));

    // A range in fractions of the sample rate: the instance, made at the rate, has it in Hz.
    const int split = bridge->find("urn:cleavix-test:split");
    const auto& cutoff = bridge->plugins().at(size_t(split)).controls.at(0);
    EXPECT_TRUE(cutoff.perSampleRate);
    EXPECT_FLOAT_EQ(cutoff.maximum, 0.5f);
    std::string error;
    auto instance = bridge->open(split, 48000, error);
    ASSERT_TRUE(instance) << error;
    EXPECT_FLOAT_EQ(instance->info().controls.at(0).maximum, 24000.0f);
    EXPECT_FLOAT_EQ(instance->control("cutoff"), 12000.0f);
    instance->setControl("cutoff", 30000.0f);
    EXPECT_FLOAT_EQ(instance->control("cutoff"), 24000.0f);

    const auto& delay = bridge->plugins().at(size_t(bridge->find("urn:cleavix-test:delay")));
    EXPECT_TRUE(delay.hasLatency);
    EXPECT_TRUE(delay.controls.empty()) << "the latency port is no control";
    EXPECT_EQ(delay.pages(), (std::vector<std::string>{"Controls"}));
}

TEST(Lv2Chain, MonoGainExactAndHeldToRange) {
    TempDir presets;
    auto bridge = testBridge(presets.path());
    std::string error;
    auto chain = PluginChain::open(*bridge, bridge->find("urn:cleavix-test:gain"), 48000, 1, error);
    ASSERT_TRUE(chain) << error;
    EXPECT_EQ(chain->outChannels(), 1);
    EXPECT_TRUE(chain->setControl("gain", 3.0f));
    EXPECT_FALSE(chain->setControl("nope", 1.0f));
    EXPECT_FLOAT_EQ(chain->control("gain"), 3.0f);
    chain->setControl("gain", 99.0f);
    EXPECT_FLOAT_EQ(chain->control("gain"), 4.0f) << "held to the port's range";
    chain->setControl("gain", NAN);
    EXPECT_FLOAT_EQ(chain->control("gain"), 1.0f) << "no number: the default";
    chain->setControl("gain", 0.5f);
    const std::vector<int16_t> in = testSignal(10000, 3);
    std::vector<int16_t> out;
    chain->deliver(in.data(), in.size(), out);
    chain->finish(out);
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        ASSERT_EQ(out[i], expect16(in[i] * 0.5)) << i;
    }
}

TEST(Lv2Chain, ChannelRules) {
    TempDir presets;
    auto bridge = testBridge(presets.path());
    std::string error;
    auto open = [&](const char* name, int channels) {
        return PluginChain::open(*bridge, bridge->find(std::string("urn:cleavix-test:") + name), 44100, channels,
                                 error);
    };
    EXPECT_EQ(open("gain", 2)->outChannels(), 2) << "two instances";
    EXPECT_EQ(open("split", 1)->outChannels(), 2) << "mono turned to stereo";
    EXPECT_EQ(open("split", 2)->outChannels(), 2);
    EXPECT_EQ(open("swap", 1)->outChannels(), 1) << "mono through a stereo plug-in stays mono";
    EXPECT_EQ(open("swap", 2)->outChannels(), 2);

    // Stereo through a one-input plug-in: each channel through its own instance.
    auto gain = open("gain", 2);
    gain->setControl("gain", 2.0f);
    const std::vector<int16_t> in{100, -7, 20000, 3, -20000, 1};
    std::vector<int16_t> out;
    gain->deliver(in.data(), 3, out);
    gain->finish(out);
    EXPECT_EQ(out, (std::vector<int16_t>{200, -14, 32767, 6, -32768, 2}));

    // Mono into a two-input plug-in feeds both inputs; the first output is taken.
    auto swap = open("swap", 1);
    const std::vector<int16_t> mono{5, -6, 7};
    out.clear();
    swap->deliver(mono.data(), 3, out);
    EXPECT_EQ(out, mono);

    // Swap with stereo, its atom, CV and control-output ports connected to our buffers.
    auto stereo = open("swap", 2);
    out.clear();
    stereo->deliver(in.data(), 3, out);
    EXPECT_EQ(out, (std::vector<int16_t>{-7, 100, 3, 20000, 1, -20000}));
    stereo->setControl("level", 2.0f);
    stereo->setControl("swap", 0.0f);
    out.clear();
    stereo->deliver(in.data(), 1, out);
    EXPECT_EQ(out, (std::vector<int16_t>{200, -14}));

    auto split = open("split", 1);
    out.clear();
    split->deliver(mono.data(), 3, out);
    EXPECT_EQ(out, (std::vector<int16_t>{5, expect16(-2.5), -6, 3, 7, expect16(-3.5)}));
}

TEST(Lv2Chain, LatencyIsDroppedAndTheLengthKept) {
    TempDir presets;
    auto bridge = testBridge(presets.path());
    std::string error;
    for (size_t frames : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(9000)}) {
        auto chain = PluginChain::open(*bridge, bridge->find("urn:cleavix-test:delay"), 44100, 1, error);
        ASSERT_TRUE(chain);
        const std::vector<int16_t> in = testSignal(frames, 9);
        std::vector<int16_t> out;
        // In uneven pieces, as a worker's last block would be.
        size_t done = 0;
        while (done < frames) {
            const size_t n = std::min<size_t>(frames - done, 1000);
            chain->deliver(in.data() + done, n, out);
            done += n;
        }
        chain->finish(out);
        EXPECT_EQ(chain->latency(), 64u);
        EXPECT_EQ(out, in) << frames << " frames: the delay compensated exactly";
    }
}

TEST(Lv2Chain, NaNInfinityAndOverloadBecomeSamples) {
    TempDir presets;
    auto bridge = testBridge(presets.path());
    std::string error;
    auto chain = PluginChain::open(*bridge, bridge->find("urn:cleavix-test:nan"), 44100, 1, error);
    ASSERT_TRUE(chain);
    const std::vector<int16_t> in{1000, 1000, 1000, 1000, 20000, 20000, 20000, -20000};
    std::vector<int16_t> out;
    chain->deliver(in.data(), in.size(), out);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 4000, 0, 1000, 0, 32767, 0, -20000}));
}

TEST(Lv2Presets, OwnPresetsAppliedStoredOnesRoundTripAndDelete) {
    TempDir presets;
    auto bridge = testBridge(presets.path());
    const int gain = bridge->find("urn:cleavix-test:gain");
    std::string error;
    auto list = bridge->presets(gain);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "Double");
    EXPECT_EQ(list[1].name, "Quarter");
    EXPECT_FALSE(list[0].stored);
    auto instance = bridge->open(gain, 44100, error);
    ASSERT_TRUE(instance);
    ASSERT_TRUE(instance->applyPreset(list[1]));
    EXPECT_FLOAT_EQ(instance->control("gain"), 0.25f);
    ASSERT_TRUE(instance->applyPreset(list[0]));
    EXPECT_FLOAT_EQ(instance->control("gain"), 2.0f);

    instance->setControl("gain", 3.5f);
    const std::string id = instance->storePreset("My / Loud");
    ASSERT_FALSE(id.empty());
    EXPECT_TRUE(insideFolder(id, presets.path()));
    EXPECT_EQ(bridge->presetFolder(), presets.path());
    instance->setControl("gain", 1.0f);

    // A fresh world reads it back from the LV2 state file.
    auto again = testBridge(presets.path());
    list = again->presets(gain);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2].name, "My / Loud");
    EXPECT_TRUE(list[2].stored);
    auto second = again->open(gain, 44100, error);
    ASSERT_TRUE(second->applyPreset(list[2]));
    EXPECT_FLOAT_EQ(second->control("gain"), 3.5f);
    // Storing the same name again replaces it.
    second->setControl("gain", 0.75f);
    EXPECT_EQ(second->storePreset("My / Loud"), id);
    list = again->presets(gain);
    ASSERT_EQ(list.size(), 3u);
    second->setControl("gain", 1.0f);
    ASSERT_TRUE(second->applyPreset(list[2]));
    EXPECT_FLOAT_EQ(second->control("gain"), 0.75f);
    // Other plug-ins do not see it.
    EXPECT_TRUE(again->presets(again->find("urn:cleavix-test:invert")).empty());

    // Delete: only stored presets, only inside our folder.
    EXPECT_FALSE(again->deletePreset(list[0]));
    PluginPreset outside{"x", "/tmp", true};
    EXPECT_FALSE(again->deletePreset(outside));
    PluginPreset escape{"x", presets.path() + "/../" , true};
    EXPECT_FALSE(again->deletePreset(escape));
    EXPECT_TRUE(again->deletePreset(list[2]));
    EXPECT_FALSE(std::filesystem::exists(id));
    EXPECT_EQ(again->presets(gain).size(), 2u);
}

TEST(Lv2Presets, TheHostsProfileListStoreAndDelete) {
    PluginBench b;
    ASSERT_TRUE(b.loadSamples({1, 2, 3, 4}, 1));
    EXPECT_TRUE(b.host.menusVisible());
    const int gain = b.index("gain");
    auto list = b.host.presetList(gain);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, kNoPresetSelected);
    auto chain = b.host.open(gain);
    ASSERT_TRUE(chain);
    chain->setControl("gain", 1.5f);
    const int entry = b.host.storePreset(*chain, "Half again");
    ASSERT_EQ(entry, 3);
    EXPECT_EQ(b.host.presetList(gain)[3].name, "Half again");
    EXPECT_EQ(b.host.storePreset(*chain, ""), -1);
    EXPECT_EQ(b.host.storePrefill(gain, 0), "") << "entry 0 prefills nothing, whatever its text";
    EXPECT_EQ(b.host.storePrefill(gain, 1), "Double");
    EXPECT_FALSE(b.host.deletable(gain, 0));
    EXPECT_FALSE(b.host.deletable(gain, 2));
    EXPECT_TRUE(b.host.deletable(gain, 3));
    EXPECT_FALSE(b.host.deletable(gain, 4));
    EXPECT_FALSE(b.host.deletePreset(gain, 0)) << "entry 0 is no preset";
    EXPECT_FALSE(b.host.deletePreset(gain, 1)) << "the plug-in's own presets stay";
    EXPECT_TRUE(b.host.deletePreset(gain, 3));
    EXPECT_EQ(b.host.presetList(gain).size(), 3u);
}

#endif

} // namespace
} // namespace cleavix::test
