// Loop at another tempo through the session's player on a virtual device: at the loop's own tempo
// the bytes of today's loop; at twice and half the tempo each slice at its scaled time and every
// byte the rendering's, pass after pass; the cursor mapped back to the sounding slice; Stop, a job
// stopping the loop, and a loop with no tempo refused.
#include "audio/AudioTestHelpers.h"
#include "audio/VirtualWaveDevice.h"
#include "session/TempoPlayback.h"
#include "slicing/TempoRender.h"
#include "support/FoldEngine.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace cleavix;
using namespace cleavix::test;

namespace {

constexpr uint32_t kFrames = 40000;
const std::vector<uint32_t> kPointFrames = {9000, 17000, 30000};

session::Settings quiet() {
    session::Settings s;
    s.scanOnLoad = false;
    return s;
}

std::vector<uint8_t> times(const std::vector<uint8_t>& pass, size_t n) {
    return audio::test::repeated(pass, 0, pass.size(), n);
}

// The sample rate decides how the player holds the loop: at 8000 Hz a buffer (one second) is
// shorter than the loop and the player streams it; at 44100 Hz the loop fits and repeats inside
// the buffers.
class TempoPlay : public ::testing::TestWithParam<uint32_t> {
protected:
    TempoPlay() : f(quiet(), virtualDeviceBackends(provider)) {}

    void SetUp() override {
        rate = GetParam();
        samples = testSignal(kFrames * 2);
        for (auto& v : samples) {
            v = int16_t(v | 1); // no zero samples: silence in the rendering stands out
        }
        ASSERT_TRUE(f.load(writeWave(files.file("loop.wav"), samples, 2, rate)));
        auto& slicer = f.session->slicer();
        for (uint32_t frame : kPointFrames) {
            ASSERT_TRUE(slicer.addPoint(frame * 4));
        }
        ASSERT_EQ(slicer.slicePoints().count(), int(kPointFrames.size()));
        ASSERT_TRUE(slicer.setBarsAndBeats("1", "0"));
        ownTempo = double(slicer.tempo().tempo);
        ASSERT_NEAR(ownTempo, 240.0 * rate / kFrames, 1e-6);
        auto& player = f.session->player();
        player.BufferSize = 1;
        player.BufferCount = 2;
        player.Channels = 2;
        player.SampleRate = rate;
        player.BitsPerSample = 16;
        auto& v = f.session->transport().view;
        v.loaded = true;
        v.channels = 2;
        v.sampleRate = rate;
        v.totalLength = kFrames * 4;
        v.viewStart = 0;
        v.viewEnd = kFrames * 4;
        v.viewWidth = int(kFrames); // a column per frame: the cursor's column is the frame
        v.locatorL = slicer.left();
        v.locatorR = slicer.right();
    }

    audio::TTransport& transport() { return f.session->transport(); }
    audio::VirtualWaveOut& device() { return *provider->lastOutput; }
    void play(uint64_t bytes) { audio::test::playThrough(device(), f.loop, bytes); }
    // Starts Loop at `tempo` (0: the Tempo box's "Own").
    void loopAt(double tempo) {
        transport().view.tempo = tempo;
        transport().Button20Click();
        f.loop.runPending();
    }
    std::vector<uint8_t> played(size_t from = 0) const {
        const auto& all = provider->lastOutput->played();
        return {all.begin() + long(from), all.end()};
    }
    std::vector<uint8_t> storeBytes() const { return le16Bytes(samples); }
    void checkAtRatio(double ratio);
    const slicing::TempoPlan& plan() {
        auto* rendering = dynamic_cast<const session::TempoPlaySource*>(transport().rendered());
        EXPECT_NE(rendering, nullptr);
        return rendering->plan();
    }
    // The whole rendering as the file export writes it.
    std::vector<uint8_t> rendering() {
        slicing::TempoSource source(f.session->store().stream(), plan());
        return le16Bytes(drainSource(source, 5000));
    }

    TempDir files;
    audio::VirtualDeviceProvider* provider = nullptr;
    SessionFixture f;
    uint32_t rate = 0;
    std::vector<int16_t> samples;
    double ownTempo = 0;
};

TEST_P(TempoPlay, AtTheLoopsOwnTempoLoopPlaysTheStoresBytesAsBefore) {
    loopAt(0);
    EXPECT_EQ(transport().rendered(), nullptr);
    play(kFrames * 4 * 3);
    EXPECT_TRUE(played() == times(storeBytes(), 3));
    // The Tempo box set to the loop's own tempo is the same loop, from the store.
    transport().Button24Click();
    f.loop.runPending();
    const size_t before = device().played().size();
    loopAt(ownTempo);
    EXPECT_EQ(transport().rendered(), nullptr);
    EXPECT_TRUE(transport().LoopPlaying);
    play(kFrames * 4 * 2);
    EXPECT_TRUE(played(before) == times(storeBytes(), 2));
}

// Each slice starts at its time scaled by own / new tempo and is the store's audio there up to
// its fade; every byte is the rendering's, and every pass the first one again.
void TempoPlay::checkAtRatio(double ratio) {
    TempoPlay& t = *this;
    t.loopAt(t.ownTempo / ratio);
    ASSERT_NE(t.transport().rendered(), nullptr);
    const uint64_t outFrames = uint64_t(std::llround(kFrames * ratio));
    ASSERT_EQ(t.transport().PlayLength, outFrames * 4);
    const auto& plan = t.plan();
    ASSERT_EQ(plan.slices.size(), kPointFrames.size() + 1);
    t.play(outFrames * 4 * 3);
    const auto out = t.played();
    ASSERT_EQ(out.size(), outFrames * 4 * 3);
    const auto store = t.storeBytes();
    std::vector<uint32_t> starts = {0};
    starts.insert(starts.end(), kPointFrames.begin(), kPointFrames.end());
    for (size_t i = 0; i < starts.size(); ++i) {
        const uint64_t at = uint64_t(std::llround(starts[i] * ratio));
        EXPECT_EQ(plan.slices[i].outFrame, at) << i;
        EXPECT_EQ(plan.slices[i].sourceFrame, starts[i]) << i;
        const uint64_t exact = plan.slices[i].playFrames - slicing::kTempoFadeFrames;
        ASSERT_TRUE(std::equal(out.begin() + long(at * 4), out.begin() + long((at + exact) * 4),
                               store.begin() + long(starts[i] * 4)))
            << "slice " << i;
    }
    const auto pass = t.rendering();
    EXPECT_TRUE(std::equal(pass.begin(), pass.end(), out.begin()));
    // Gapless: the second and third passes are the first.
    EXPECT_TRUE(out == times(pass, 3));
}

TEST_P(TempoPlay, TwiceTheTempoCutsEachSliceAtItsScaledNext) { checkAtRatio(0.5); }
TEST_P(TempoPlay, HalfTheTempoLeavesSilenceAfterEachSlice) { checkAtRatio(2.0); }

// The player reads where its buffers need: a wrap, a reload, any offset and length, even within
// a frame or into an odd address; past the end is silence.
TEST_P(TempoPlay, TheRenderingReadsTheSameAtAnyOffset) {
    auto source = f.session->loopAtTempo(0, kFrames * 4, ownTempo * 0.8);
    ASSERT_NE(source, nullptr);
    loopAt(ownTempo * 0.8);
    const auto whole = rendering();
    ASSERT_EQ(source->length(), whole.size());
    std::vector<uint8_t> buffer(70001);
    const std::vector<std::pair<uint64_t, uint64_t>> reads = {
        {120000, 3000}, {4, 40000}, {0, 1}, {7, 13}, {99999, 70000}, {whole.size() - 6, 30}, {whole.size() + 8, 5}};
    for (const auto& [offset, count] : reads) {
        for (size_t shift : {size_t(0), size_t(1)}) {
            std::fill(buffer.begin(), buffer.end(), uint8_t(0xAA));
            source->readAt(offset, buffer.data() + shift, count);
            for (uint64_t i = 0; i < count; ++i) {
                const uint8_t expected = offset + i < whole.size() ? whole[offset + i] : 0;
                ASSERT_EQ(buffer[shift + i], expected) << offset << "+" << i << " shift " << shift;
            }
        }
    }
    // Store positions are whole frames of the slice that sounds.
    EXPECT_EQ(source->storePosition(0), 0u);
    EXPECT_EQ(source->storePosition(4 * 100 + 3), 4u * 100);
}

TEST_P(TempoPlay, TheCursorShowsTheFrameOfTheSliceThatSounds) {
    loopAt(ownTempo / 2); // half as fast: the loop twice as long, silence after each slice
    ASSERT_NE(transport().rendered(), nullptr);
    const uint64_t pass = transport().PlayLength;
    // Into the second pass, 1000 frames into the third slice (own frame 17000, now at 34000).
    play(pass + (34000 + 1000) * 4);
    transport().SuperTimer1Timer();
    EXPECT_EQ(transport().CursorX, 17000 + 1000);
    // Third pass, in the silence after the second slice (it played its 8000 frames from 18000).
    play(pass - (34000 + 1000) * 4 + (18000 + 8000 + 500) * 4);
    transport().SuperTimer1Timer();
    EXPECT_EQ(transport().CursorX, 9000 + 8000);
}

TEST_P(TempoPlay, StopAndAJobEndTheRenderedLoopCleanly) {
    loopAt(ownTempo * 2);
    play(20000);
    transport().Button24Click();
    f.loop.runPending();
    EXPECT_FALSE(f.session->player().state().Playing);
    EXPECT_EQ(f.session->player().state().Outstanding, 0);
    EXPECT_EQ(f.session->player().rendered(), nullptr);
    EXPECT_FALSE(transport().LoopPlaying);
    const size_t stopped = device().played().size();
    play(40000);
    EXPECT_EQ(device().played().size(), stopped);
    // A long operation stops a playing loop: the search's job takes the store.
    loopAt(ownTempo * 2);
    play(4000);
    EXPECT_TRUE(transport().LoopPlaying);
    f.session->slicer().requestSearch();
    ASSERT_TRUE(f.session->slicer().startSliceSearch());
    f.waitIdle();
    f.loop.runPending();
    EXPECT_FALSE(f.session->player().state().Playing);
    EXPECT_EQ(f.session->player().state().Outstanding, 0);
    EXPECT_FALSE(transport().LoopPlaying);
    EXPECT_EQ(transport().down, audio::PlayButton::None);
}

TEST_P(TempoPlay, ALoopWithoutATempoIsRefusedWithTheReason) {
    ASSERT_TRUE(f.session->slicer().setBarsAndBeats("0", "0"));
    f.prompter.asked.clear();
    loopAt(100);
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_NE(f.prompter.asked[0].find("no tempo"), std::string::npos) << f.prompter.asked[0];
    EXPECT_FALSE(f.session->player().state().Playing);
    EXPECT_FALSE(transport().LoopPlaying);
    // "Own" still loops the store.
    loopAt(0);
    EXPECT_TRUE(transport().LoopPlaying);
    EXPECT_EQ(f.prompter.asked.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Buffers, TempoPlay, ::testing::Values(8000u, 44100u),
                         [](const auto& p) { return p.param == 8000u ? "Streamed" : "InBuffers"; });

} // namespace
