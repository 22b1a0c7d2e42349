// The loop at another tempo: the slices re-triggered at their scaled times, the loop itself at its
// own tempo, the fades at the cuts, the refusals, and the render command writing the file.
#include "slicing/TempoRender.h"

#include "SliceFixtures.h"
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace cleavix::slicing {
namespace {

using test::listOf;
using test::makeStore;

constexpr uint32_t kFrames = 40000;
// Slice points (stereo byte positions, whole frames) at frames 0 (the start), 9000, 17000, 30000.
const std::vector<uint32_t> kStarts = {0, 9000, 17000, 30000};

SlicePointList points() {
    std::vector<std::pair<uint32_t, uint8_t>> at;
    for (size_t i = 1; i < kStarts.size(); ++i) {
        at.push_back({kStarts[i] * 4, 1});
    }
    return listOf(at, kFrames * 4);
}

std::vector<int16_t> render(const sample::SampleStore& store, const TempoPlan& plan, size_t block = 777) {
    TempoSource source(store.stream(), plan);
    return cleavix::test::drainSource(source, block);
}

// A stereo signal with no zero samples, so silence in the rendering is told apart.
std::vector<int16_t> signal() {
    auto s = cleavix::test::testSignal(kFrames * 2);
    for (auto& v : s) {
        v = int16_t(v | 1);
    }
    return s;
}

TEST(TempoRender, AtTheLoopsOwnTempoTheRenderingIsTheLoop) {
    const auto samples = signal();
    auto store = makeStore(samples, 2);
    const auto plan = planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 120.0);
    ASSERT_TRUE(plan.error.empty()) << plan.error;
    ASSERT_EQ(plan.slices.size(), 4u);
    for (const auto& s : plan.slices) {
        EXPECT_FALSE(s.fade);
    }
    EXPECT_EQ(render(*store, plan), samples);
}

// Each slice starts at its scaled time and is the loop's own audio, sample for sample, up to the
// fade at its end; the fade falls to silence at the cut.
void checkScaled(double ratio) {
    const auto samples = signal();
    auto store = makeStore(samples, 2);
    const auto plan = planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 120.0 / ratio);
    ASSERT_TRUE(plan.error.empty()) << plan.error;
    const auto out = render(*store, plan);
    ASSERT_EQ(out.size(), size_t(std::llround(kFrames * ratio)) * 2);
    for (size_t i = 0; i < kStarts.size(); ++i) {
        const uint64_t start = uint64_t(std::llround(kStarts[i] * ratio));
        const uint64_t own = (i + 1 < kStarts.size() ? kStarts[i + 1] : kFrames) - kStarts[i];
        const uint64_t next = i + 1 < kStarts.size() ? uint64_t(std::llround(kStarts[i + 1] * ratio)) : out.size() / 2;
        const uint64_t plays = std::min(own, next - start);
        EXPECT_EQ(plan.slices[i].outFrame, start);
        EXPECT_EQ(plan.slices[i].playFrames, plays);
        EXPECT_TRUE(plan.slices[i].fade);
        for (uint64_t f = 0; f + kTempoFadeFrames < plays; ++f) {
            for (size_t c = 0; c < 2; ++c) {
                ASSERT_EQ(out[(start + f) * 2 + c], samples[(kStarts[i] + f) * 2 + c]) << i << " " << f;
            }
        }
        // The fade: never louder than the original, the last frame silent.
        for (uint64_t f = plays - kTempoFadeFrames; f < plays; ++f) {
            for (size_t c = 0; c < 2; ++c) {
                EXPECT_LE(std::abs(out[(start + f) * 2 + c]), std::abs(samples[(kStarts[i] + f) * 2 + c]));
            }
        }
        EXPECT_EQ(out[(start + plays - 1) * 2], 0);
        // Slower: silence after the slice up to the next.
        for (uint64_t f = start + plays; f < next; ++f) {
            ASSERT_EQ(out[f * 2], 0) << i << " " << f;
        }
    }
}

TEST(TempoRender, TwiceAsFastCutsEachSliceAtTheNext) { checkScaled(0.5); }
TEST(TempoRender, HalfAsFastLeavesSilenceAfterEachSlice) { checkScaled(2.0); }

TEST(TempoRender, MonoAndBlockSizesGiveTheSameRendering) {
    const auto mono = cleavix::test::testSignal(kFrames);
    auto store = makeStore(mono, 1);
    const auto list = listOf({{9000 * 2, 1}, {17000 * 2, 1}}, kFrames * 2);
    const auto plan = planTempo(list, 0, kFrames * 2, store->format(), 100.0, 133.0);
    ASSERT_TRUE(plan.error.empty());
    EXPECT_EQ(plan.channels, 1);
    EXPECT_EQ(render(*store, plan, 1), render(*store, plan, 65536));
    EXPECT_EQ(render(*store, plan).size(), size_t(std::llround(kFrames * 100.0 / 133.0)));
}

TEST(TempoRender, AReadAfterASeekIsTheRenderingFromThere) {
    const auto samples = signal();
    auto store = makeStore(samples, 2);
    for (double ratio : {0.5, 1.0, 2.0, 0.73}) {
        const auto plan = planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 120.0 / ratio);
        ASSERT_TRUE(plan.error.empty());
        const auto whole = render(*store, plan);
        TempoSource source(store->stream(), plan);
        // Inside a slice, at a fade, in silence, backwards, at the very end and past it.
        const uint64_t fadeAt = plan.slices[1].outFrame + plan.slices[1].playFrames - 10;
        for (uint64_t frame : {uint64_t(12345), fadeAt, plan.slices[2].outFrame, uint64_t(3), plan.outFrames - 7}) {
            source.seek(frame);
            EXPECT_EQ(source.frame(), frame);
            std::vector<int16_t> got(2000);
            const size_t n = source.read(got.data(), got.size());
            ASSERT_EQ(n, std::min<size_t>(got.size(), (plan.outFrames - frame) * 2));
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + long(n), whole.begin() + long(frame * 2)))
                << ratio << " " << frame;
        }
        source.seek(plan.outFrames + 100);
        EXPECT_EQ(source.frame(), plan.outFrames);
        std::vector<int16_t> none(8);
        EXPECT_EQ(source.read(none.data(), none.size()), 0u);
    }
}

TEST(TempoRender, TheSoundingFrameMapsBackThroughTheSlice) {
    auto store = makeStore(signal(), 2);
    // Half as fast: slices at 0, 18000, 34000, 60000 of 80000, each playing its own length.
    const auto slow = planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 60.0);
    EXPECT_EQ(sourceFrameAt(slow, 0), 0u);
    EXPECT_EQ(sourceFrameAt(slow, 8999), 8999u);
    EXPECT_EQ(sourceFrameAt(slow, 9000), 9000u);  // the first slice has ended: it rests there
    EXPECT_EQ(sourceFrameAt(slow, 17999), 9000u);
    EXPECT_EQ(sourceFrameAt(slow, 18000), 9000u); // the second starts
    EXPECT_EQ(sourceFrameAt(slow, 18500), 9500u);
    EXPECT_EQ(sourceFrameAt(slow, 35000), 18000u);
    EXPECT_EQ(sourceFrameAt(slow, 79999), 30000u + 10000u);
    // Twice as fast: each slice cut where the next begins.
    const auto fast = planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 240.0);
    EXPECT_EQ(sourceFrameAt(fast, 4499), 4499u);
    EXPECT_EQ(sourceFrameAt(fast, 4500), 9000u);
    EXPECT_EQ(sourceFrameAt(fast, 8499), 9000u + 3999u);
    EXPECT_EQ(sourceFrameAt(fast, 8500), 17000u);
    EXPECT_EQ(sourceFrameAt(fast, 19999), 30000u + 4999u);
    // At its own tempo the frame is itself.
    const auto same = planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 120.0);
    for (uint64_t f : {0u, 8999u, 9000u, 25000u, 39999u}) {
        EXPECT_EQ(sourceFrameAt(same, f), f);
    }
    EXPECT_EQ(sourceFrameAt(TempoPlan{}, 5), 0u);
}

TEST(TempoRender, RefusesNoTempoABadTempoAndAnEmptyLoop) {
    auto store = makeStore(signal(), 2);
    EXPECT_NE(planTempo(points(), 0, kFrames * 4, store->format(), 0.0, 120.0).error.find("no tempo"),
              std::string::npos);
    EXPECT_FALSE(planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 0.0).error.empty());
    EXPECT_FALSE(planTempo(points(), 0, kFrames * 4, store->format(), 120.0, -5.0).error.empty());
    EXPECT_FALSE(planTempo(points(), 0, kFrames * 4, store->format(), 120.0, std::nan("")).error.empty());
    EXPECT_FALSE(planTempo(points(), 400, 400, store->format(), 120.0, 100.0).error.empty());
    EXPECT_FALSE(planTempo(points(), 0, kFrames * 4, store->format(), 120.0, 0.0001).error.empty()); // over 4 GiB
}

TEST(TempoRender, TheRenderCommandWritesTheLoopAtTheTempo) {
    cleavix::test::TempDir dir;
    const auto samples = signal();
    const std::string in = cleavix::test::writeWave(dir.file("in.wav"), samples);
    // Renders the input, taken as `bars` bars, at `tempo`.
    const auto renderAt = [&](const char* tempo, const char* bars, const std::string& out) {
        return cleavix::test::runCli({"render", in, dir.file(out), "--tempo", tempo, "--bars", bars, "--beats", "0"});
    };
    // 40000 frames as one bar: 4 quarters in 0.907 s.
    const auto same = renderAt("264.6", "1", "same.wav");
    ASSERT_EQ(same.status, 0) << same.err;
    const auto written = cleavix::test::readFile(dir.file("same.wav"));
    ASSERT_EQ(written.size(), 44 + samples.size() * 2);
    EXPECT_EQ(cleavix::test::le16Samples({written.begin() + 44, written.end()}), samples);

    const auto fast = renderAt("529.2", "1", "fast.wav");
    ASSERT_EQ(fast.status, 0) << fast.err;
    EXPECT_EQ(cleavix::test::readFile(dir.file("fast.wav")).size(), 44 + samples.size());

    const auto none = renderAt("100", "0", "none.wav");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no tempo"), std::string::npos) << none.err;
    EXPECT_FALSE(cleavix::test::fileExists(dir.file("none.wav")));
}

} // namespace
} // namespace cleavix::slicing
