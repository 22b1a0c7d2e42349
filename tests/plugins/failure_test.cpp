// A bridge whose plug-in fails part way through a run (it throws from run()), and one without
// audio ports: the store stays exactly as it was, and the failure is told.
#include "plugins/PluginChain.h"
#include "plugins/PluginTestKit.h"
#include "sample/WorkFiles.h"

#include <stdexcept>

namespace cleavix::test {
namespace {

using namespace plugins;

class FailingInstance final : public PluginInstance {
public:
    FailingInstance(const PluginInfo& info, int failAfter) : info_(info), failAfter_(failAfter) {}
    const PluginInfo& info() const override { return info_; }
    uint32_t maxBlock() const override { return 1024; }
    bool setControl(const std::string&, float) override { return false; }
    float control(const std::string&) const override { return 0; }
    void run(const float* const* in, float* const* out, uint32_t frames) override {
        if (runs_++ == failAfter_) {
            throw std::runtime_error("the plug-in failed");
        }
        for (uint32_t i = 0; i < frames; ++i) {
            out[0][i] = -in[0][i];
        }
    }
    uint32_t latency() const override { return 0; }
    bool applyPreset(const PluginPreset&) override { return false; }
    std::string storePreset(const std::string&) override { return {}; }

private:
    PluginInfo info_;
    int failAfter_;
    int runs_ = 0;
};

// One plug-in, inverting, that fails on its sixth block; audioOut 0 makes one with no output.
FakeBridge failingBridge(int audioOut = 1) {
    FakeBridge b;
    PluginInfo p;
    p.uri = "urn:failing";
    p.name = "Failing";
    p.audioIn = 1;
    p.audioOut = audioOut;
    b.list.push_back(p);
    b.make = [](const PluginInfo& info) { return std::make_unique<FailingInstance>(info, 5); };
    return b;
}

TEST(PluginFailure, AFailureHalfWayLeavesTheStoreAndTellsSo) {
    for (bool undo : {true, false}) {
        EditBench b;
        b.editor().setUndoEnabled(undo);
        const auto original = testSignal(50000, 3);
        ASSERT_TRUE(b.loadSamples(original, 1));
        // An edit before it, whose undo the failed run must not take away.
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().invert(std::move(d)); }));
        const auto data = b.samples();
        FakeBridge bridge = failingBridge();
        PluginHost host(b.editor(), bridge);
        PluginResult result;
        bool finished = false;
        ASSERT_TRUE(host.process(host.open(0), PluginScope::All, [&](const PluginResult& r) {
            result = r;
            finished = true;
        }));
        b.fx.waitIdle();
        ASSERT_TRUE(finished);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(b.samples(), data) << "undo " << undo;
        EXPECT_EQ(b.workFiles(sample::kPluginPrefix), 0);
        ASSERT_FALSE(b.fx.prompter.asked.empty());
        EXPECT_EQ(b.fx.prompter.asked.back(), editing::kMsgProcessingError);
        EXPECT_EQ(b.editor().undoAvailable(), undo);
        if (undo) {
            EXPECT_EQ(b.editor().record().undoCode, 1) << "the invert's record";
            ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
            EXPECT_EQ(b.samples(), original);
        }
    }
}

TEST(PluginFailure, APlugInWithoutAudioOutputIsNotSetUp) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples({1, 2, 3, 4}, 1));
    FakeBridge bridge = failingBridge(0);
    PluginHost host(b.editor(), bridge);
    EXPECT_EQ(host.open(0), nullptr);
    ASSERT_EQ(b.fx.prompter.asked.size(), 1u);
    EXPECT_EQ(b.fx.prompter.asked[0], kMsgPluginSetup);
}

} // namespace
} // namespace cleavix::test
