// Processing the loop or the whole sample through our test plug-ins, with undo; the whole-sample
// question; cancel leaving the store untouched; the preview's blocks.
#include "plugins/PluginPreview.h"
#include "plugins/PluginTestKit.h"
#include "sample/WorkFiles.h"

namespace cleavix::test {
namespace {

#ifdef CLEAVIX_TEST_LV2_PATH

using namespace plugins;

std::vector<int16_t> stereoOf(const std::vector<int16_t>& left, const std::vector<int16_t>& right) {
    std::vector<int16_t> v;
    for (size_t i = 0; i < left.size(); ++i) {
        v.push_back(left[i]);
        v.push_back(right[i]);
    }
    return v;
}

TEST(PluginProcess, WholeMonoSampleThroughGainThenUndoAndRedo) {
    PluginBench b;
    const auto data = testSignal(30000, 5);
    ASSERT_TRUE(b.loadSamples(data, 1));
    const auto r = b.apply("gain", PluginScope::All, {{"gain", 2.0f}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.dataLength, 60000u);
    const auto out = b.samples();
    ASSERT_EQ(out.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(out[i], expect16(data[i] * 2.0)) << i;
    }
    EXPECT_TRUE(b.s().modified());
    EXPECT_EQ(b.editor().record().undoCode, 2);
    EXPECT_TRUE(b.editor().undoAvailable());
    EXPECT_EQ(b.editor().selectionStart(), 0u);
    EXPECT_EQ(b.editor().selectionEnd(), 60000u);
    EXPECT_EQ(b.workFiles(sample::kPluginPrefix), 0) << "the CXDX stream goes with its run";
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), out) << "redo";
}

TEST(PluginProcess, TheLoopOnlyAndItsLengthKept) {
    PluginBench b;
    const auto data = testSignal(2000, 7);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.slicer().setLoop(201, 1601); // not frame-aligned ends are held to frames
    const auto r = b.apply("invert", PluginScope::Loop);
    ASSERT_TRUE(r.ok);
    const auto out = b.samples();
    ASSERT_EQ(out.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        const bool inside = i >= 100 && i < 800;
        ASSERT_EQ(out[i], inside ? expect16(-double(data[i])) : data[i]) << i;
    }
    EXPECT_EQ(b.editor().selectionStart(), 200u);
    EXPECT_EQ(b.editor().selectionEnd(), 1600u);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(PluginProcess, StereoBothChannelsAndOneChannel) {
    PluginBench b;
    const auto left = testSignal(5000, 1);
    const auto right = testSignal(5000, 2);
    const auto data = stereoOf(left, right);
    ASSERT_TRUE(b.loadSamples(data, 2));
    ASSERT_TRUE(b.apply("gain", PluginScope::All, {{"gain", 0.5f}}).ok);
    auto out = b.samples();
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(out[i], expect16(data[i] * 0.5)) << i;
    }
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    ASSERT_EQ(b.samples(), data);

    // The right channel of the loop only; the left and everything outside stay.
    b.editor().setProcessChannel(2);
    b.slicer().setLoop(400, 8000);
    const auto r = b.apply("invert", PluginScope::Loop);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.dataLength, 20000u);
    out = b.samples();
    ASSERT_EQ(out.size(), data.size());
    for (size_t f = 0; f < 5000; ++f) {
        const bool inside = f >= 100 && f < 2000;
        ASSERT_EQ(out[f * 2], left[f]) << f;
        ASSERT_EQ(out[f * 2 + 1], inside ? expect16(-double(right[f])) : right[f]) << f;
    }
    EXPECT_EQ(b.editor().selectionEnd(), 8000u);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(PluginProcess, LatencyCompensatedOverTheLoopKeepsEverySample) {
    PluginBench b;
    const auto data = testSignal(12000, 4);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.slicer().setLoop(1000, 21000);
    const auto r = b.apply("delay", PluginScope::Loop);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.latency, 64u);
    EXPECT_EQ(b.samples(), data) << "a pure delay, compensated, changes nothing";
    EXPECT_EQ(b.s().format().dataLength, 24000u);
}

TEST(PluginProcess, MonoToStereoAsksThenProcessesTheWholeSampleAndUndoes) {
    PluginBench b;
    const auto data = testSignal(3000, 8);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.slicer().setLoop(100, 2000);
    b.fx.prompter.answers = {jobs::Answer::Ok};
    const auto r = b.apply("split", PluginScope::Loop);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(b.fx.prompter.asked.size(), 1u);
    EXPECT_EQ(b.fx.prompter.asked[0], kMsgWholeSample);
    EXPECT_EQ(b.s().format().channels, 2);
    EXPECT_EQ(b.s().format().dataLength, 12000u);
    EXPECT_EQ(b.s().format().bytesPerSecond, 44100u * 4);
    const auto out = b.samples();
    for (size_t f = 0; f < data.size(); ++f) {
        ASSERT_EQ(out[f * 2], data[f]);
        ASSERT_EQ(out[f * 2 + 1], expect16(-data[f] * 0.5));
    }
    // The locators follow the audio: positions are bytes, and a frame is twice as long now.
    EXPECT_EQ(b.slicer().left(), 200u);
    EXPECT_EQ(b.slicer().right(), 4000u);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.s().format().channels, 1);
    EXPECT_EQ(b.samples(), data);
}

TEST(PluginProcess, TheProgressLabelNamesTheHost) {
    EXPECT_EQ(jobs::processModeCaption(jobs::ProcessMode::ProcessingPlugin), "Processing LV2 plugin:");
}

TEST(PluginProcess, CancelOfTheQuestionChangesNothing) {
    PluginBench b;
    const auto data = testSignal(300, 8);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.fx.prompter.answers = {jobs::Answer::Cancel};
    const auto r = b.apply("split");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(b.samples(), data);
    EXPECT_EQ(b.s().format().channels, 1);
    EXPECT_FALSE(b.s().modified());
}

TEST(PluginProcess, CancelledRunLeavesTheStoreUntouchedWithAndWithoutUndo) {
    for (bool undo : {true, false}) {
        PluginBench b;
        b.editor().setUndoEnabled(undo);
        const auto data = testSignal(2000000, 11);
        ASSERT_TRUE(b.loadSamples(data, 1));
        auto chain = b.host.open(b.index("gain"));
        chain->setControl("gain", 3.0f);
        PluginResult result;
        bool finished = false;
        ASSERT_TRUE(b.host.process(std::move(chain), PluginScope::All, [&](const PluginResult& r) {
            result = r;
            finished = true;
        }));
        b.s().jobs().requestCancel(); // at once: the worker stops after its current block
        b.fx.waitIdle();
        ASSERT_TRUE(finished);
        EXPECT_TRUE(result.cancelled) << undo;
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(b.samples(), data) << "undo " << undo;
        EXPECT_FALSE(b.editor().undoAvailable()) << "nothing changed, nothing to undo";
        EXPECT_FALSE(b.s().modified());
        EXPECT_EQ(b.workFiles(sample::kPluginPrefix), 0);
    }
}

TEST(PluginProcess, ACancelledRunKeepsThePreviousUndo) {
    PluginBench b;
    const auto original = testSignal(2000000, 12);
    ASSERT_TRUE(b.loadSamples(original, 1));
    b.editor().setupSelections(0, 1000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().reverse(std::move(d)); }));
    const auto reversed = b.samples();
    PluginResult result;
    ASSERT_TRUE(b.host.process(b.host.open(b.index("gain")), PluginScope::All,
                               [&](const PluginResult& r) { result = r; }));
    b.s().jobs().requestCancel();
    b.fx.waitIdle();
    ASSERT_TRUE(result.cancelled);
    EXPECT_EQ(b.samples(), reversed);
    ASSERT_TRUE(b.editor().undoAvailable());
    EXPECT_EQ(b.editor().record().undoCode, 10) << "the reverse's record";
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), original);
}

TEST(PluginProcess, RefusedWhileBusyOrWithoutASample) {
    PluginBench b;
    auto chain = PluginChain::open(*b.bridge, b.index("gain"), 44100, 1, *std::make_unique<std::string>());
    EXPECT_FALSE(b.host.process(std::move(chain), PluginScope::All));
    EXPECT_FALSE(b.host.menusVisible()) << "no sample loaded";
    EXPECT_FALSE(b.host.process(nullptr, PluginScope::All));
    ASSERT_TRUE(b.loadSamples(testSignal(100, 1), 1));
    b.slicer().setLoop(40, 41); // less than a frame
    EXPECT_FALSE(b.host.process(b.host.open(b.index("gain")), PluginScope::Loop));
    EXPECT_FALSE(b.s().modified());
}

TEST(PluginPreview, LoopsTheRangeWithBypassAndOneChannelFeedsOnlyItself) {
    PluginBench b;
    const auto left = testSignal(1000, 1);
    const auto right = testSignal(1000, 2);
    ASSERT_TRUE(b.loadSamples(stereoOf(left, right), 2));
    std::string error;
    auto chain = PluginChain::open(*b.bridge, b.index("invert"), 44100, 1, error);
    ASSERT_TRUE(chain);
    PluginPreview preview(b.s().store(), *chain, 400, 800, 1); // frames 100..199, left channel
    EXPECT_FALSE(preview.empty());
    EXPECT_EQ(preview.cpuLabel(), "CPU: ---");
    std::vector<int16_t> out(2 * 250);
    ASSERT_EQ(preview.render(out.data(), 250), 250u);
    for (size_t i = 0; i < 250; ++i) {
        const size_t f = 100 + i % 100; // looped
        ASSERT_EQ(out[i * 2], expect16(-double(left[f]))) << i;
        ASSERT_EQ(out[i * 2 + 1], right[f]) << i;
    }
    preview.bypass = true;
    ASSERT_EQ(preview.render(out.data(), 100), 100u);
    EXPECT_EQ(out[0], left[150]) << "bypass plays the input";
    EXPECT_EQ(out[1], right[150]);
    for (int k = 0; k < 10; ++k) {
        preview.render(out.data(), 10);
    }
    EXPECT_NE(preview.cpuLabel(), "CPU: ---");
    EXPECT_GE(preview.cpuPercent(), 0);

    PluginPreview none(b.s().store(), *chain, 400, 402, 1);
    EXPECT_TRUE(none.empty()) << "less than a frame: Preview is disabled";
    EXPECT_EQ(none.render(out.data(), 10), 0u);
}

TEST(PluginPreview, MonoOutputPlaysOnBothChannels) {
    PluginBench b;
    const auto data = testSignal(500, 3);
    ASSERT_TRUE(b.loadSamples(data, 1));
    std::string error;
    auto chain = PluginChain::open(*b.bridge, b.index("gain"), 44100, 1, error);
    chain->setControl("gain", 2.0f);
    PluginPreview preview(b.s().store(), *chain, 0, 1000, 3);
    std::vector<int16_t> out(2 * 500);
    ASSERT_EQ(preview.render(out.data(), 500), 500u);
    for (size_t i = 0; i < 500; ++i) {
        ASSERT_EQ(out[i * 2], expect16(data[i] * 2.0));
        ASSERT_EQ(out[i * 2 + 1], out[i * 2]);
    }
}

TEST(PluginPreview, AControlMovedWhilePlayingTakesEffectAtTheNextRender) {
    PluginBench b;
    const auto data = testSignal(500, 3);
    ASSERT_TRUE(b.loadSamples(data, 1));
    std::string error;
    auto chain = PluginChain::open(*b.bridge, b.index("gain"), 44100, 1, error);
    ASSERT_TRUE(chain);
    PluginPreview preview(b.s().store(), *chain, 0, 1000, 3);
    preview.setControl("gain", 0.5f);
    preview.setControl("gain", 3.0f); // the last one wins
    preview.setControl("no-such-port", 1.0f);
    EXPECT_FLOAT_EQ(chain->control("gain"), 1.0f) << "nothing reaches the plug-in before its thread runs";
    std::vector<int16_t> out(2 * 500);
    ASSERT_EQ(preview.render(out.data(), 500), 500u);
    EXPECT_FLOAT_EQ(chain->control("gain"), 3.0f);
    for (size_t i = 0; i < 500; ++i) {
        ASSERT_EQ(out[i * 2], expect16(data[i] * 3.0)) << i;
    }
}

#endif

} // namespace
} // namespace cleavix::test
