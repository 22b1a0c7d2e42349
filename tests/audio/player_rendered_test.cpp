// A rendered play on a virtual device: the player's bytes come from a PlaySource read at offsets
// into the rendering, looped without a gap in buffers and streamed, counted passes, stop, silence
// while the store is busy or the source fails; the transport's Loop at another tempo, its cursor
// mapped back through the source, the restart on a tempo change and a refused rendering.
#include "AudioTestHelpers.h"
#include "audio/Transport.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace cleavix::audio::test {
namespace {

// A rendering of `bytes` recognisable bytes whose offset o sounds at store byte 50000 + o / 2
// (frame aligned), and which remembers where it was read.
class FakeRendering final : public PlaySource {
public:
    explicit FakeRendering(size_t bytes, uint32_t seed = 9) : bytes_(patternBytes(bytes, seed)) {}
    uint64_t length() const override { return bytes_.size(); }
    void readAt(uint64_t offset, uint8_t* out, uint64_t count) override {
        if (fail) {
            throw std::runtime_error("unreadable");
        }
        ++reads;
        for (uint64_t i = 0; i < count; ++i) {
            out[i] = offset + i < bytes_.size() ? bytes_[offset + i] : 0;
        }
    }
    uint64_t storePosition(uint64_t offset) const override { return 50000 + offset / 8 * 4; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // The rendering changes (the store under it was edited).
    void invert() {
        for (auto& b : bytes_) {
            b = uint8_t(~b);
        }
    }
    bool fail = false;
    int reads = 0;

private:
    std::vector<uint8_t> bytes_;
};

class RenderedPlay : public ::testing::Test {
protected:
    RenderedPlay() : audio(loop, provider, &prompter) {
        audio.BufferSize = 1;
        audio.BufferCount = 3;
        audio.Channels = 2;
        audio.SampleRate = 1000; // a buffer is 4000 bytes, all of them 12000
        audio.OnWaveoutput = [this](twabeAudio&) { ++ends; };
        store = memoryStore(patternBytes(100000, 3));
        audio.setStore(store.get());
        EXPECT_EQ(audio.OpenOutput(), 0);
        device = provider.lastOutput;
    }
    void play(uint64_t bytes) {
        playThrough(*device, loop, bytes);
    }

    jobs::MainLoop loop;
    RecordingPrompter prompter;
    VirtualDeviceProvider provider;
    twabeAudio audio;
    VirtualWaveOut* device = nullptr;
    std::unique_ptr<sample::TFileAndMemoryStream> store;
    int ends = 0;
};

TEST_F(RenderedPlay, AShortRenderingLoopsInsideTheBuffersWithoutAGap) {
    auto rendering = std::make_shared<FakeRendering>(2600);
    audio.PlayRendered(rendering, true);
    EXPECT_TRUE(audio.state().LoopInBuffers);
    EXPECT_EQ(audio.rendered(), rendering.get());
    play(2600 * 7);
    EXPECT_TRUE(device->played() == repeated(rendering->bytes(), 0, 2600, 7));
    EXPECT_EQ(ends, 0);
}

TEST_F(RenderedPlay, ALongRenderingStreamsAndEachPassEqualsTheFirst) {
    auto rendering = std::make_shared<FakeRendering>(30004);
    audio.PlayRendered(rendering, true);
    EXPECT_TRUE(audio.state().StreamingLoop);
    play(30004 * 3);
    EXPECT_TRUE(device->played() == repeated(rendering->bytes(), 0, 30004, 3));
    EXPECT_EQ(ends, 0);
}

TEST_F(RenderedPlay, CountedPassesEndOnceAndASinglePlayPlaysItOnce) {
    auto rendering = std::make_shared<FakeRendering>(9000);
    audio.LoopLimit = 3;
    audio.PlayRendered(rendering, true);
    play(100000);
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(device->played() == repeated(rendering->bytes(), 0, 9000, 3));
    audio.LoopLimit = 0;
    audio.PlayRendered(rendering, false);
    play(100000);
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(device->played().size(), 9000u * 4);
}

TEST_F(RenderedPlay, AReloadReadsTheQueuedBuffersAgainAtTheirOffsetsInTheRendering) {
    auto looped = std::make_shared<FakeRendering>(2600);
    audio.PlayRendered(looped, true);
    looped->invert();
    audio.ReloadQueued();
    play(2600 * 5);
    EXPECT_TRUE(device->played() == repeated(looped->bytes(), 0, 2600, 5));
    auto streamed = std::make_shared<FakeRendering>(30000);
    audio.PlayRendered(streamed, false);
    const size_t before = device->played().size();
    play(1000); // inside the first buffer
    const auto original = streamed->bytes();
    streamed->invert();
    audio.ReloadQueued();
    play(100000);
    const std::vector<uint8_t> out(device->played().begin() + long(before), device->played().end());
    ASSERT_EQ(out.size(), 30000u);
    // The buffer the device had begun plays as it was; every later one as the rendering is now.
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4000, original.begin()));
    EXPECT_TRUE(std::equal(out.begin() + 4000, out.end(), streamed->bytes().begin() + 4000));
}

TEST_F(RenderedPlay, StopEndsOnceAndLetsGoOfTheRendering) {
    auto rendering = std::make_shared<FakeRendering>(30000);
    audio.PlayRendered(rendering, true);
    play(6000);
    audio.Stop();
    EXPECT_EQ(audio.rendered(), nullptr);
    EXPECT_EQ(rendering.use_count(), 1);
    loop.runPending();
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(audio.state().Outstanding, 0);
    EXPECT_FALSE(audio.state().Playing);
    // A play of the store afterwards reads the store again.
    audio.PlayRegion(1000, 2000, false);
    play(4000);
    EXPECT_EQ(ends, 2);
}

TEST_F(RenderedPlay, ABusyStoreOrAFailingSourceGivesSilence) {
    auto rendering = std::make_shared<FakeRendering>(8000);
    audio.StoreBusy = true;
    audio.PlayRendered(rendering, false);
    EXPECT_EQ(rendering->reads, 0);
    play(8000);
    EXPECT_TRUE(device->played() == std::vector<uint8_t>(8000, 0));
    audio.StoreBusy = false;
    rendering->fail = true;
    audio.PlayRendered(rendering, false);
    play(8000);
    EXPECT_EQ(device->played().size(), 16000u);
    EXPECT_TRUE(std::all_of(device->played().begin() + 8000, device->played().end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(ends, 2);
}

class TempoLoop : public RenderedPlay {
protected:
    // The transport takes the player's end notice over from the counting fixture.
    TempoLoop() : transport(audio) {
        transport.openOutput = [this] { audio.OpenOutput(); };
        TransportView& v = transport.view;
        v.loaded = true;
        v.channels = 2;
        v.sampleRate = 1000;
        v.totalLength = 100000;
        v.viewStart = 0;
        v.viewEnd = 100000;
        v.viewWidth = 25000; // a column per frame
        v.locatorL = 50000;
        v.locatorR = 60000;
        transport.loopAtTempo = [this](uint64_t left, uint64_t right, double tempo, std::string& refused) {
            asked.push_back({left, right, tempo});
            if (refuse) {
                refused = "no tempo";
                return std::shared_ptr<PlaySource>();
            }
            const size_t bytes = tempo == 60 ? 20000 : 5000;
            return std::shared_ptr<PlaySource>(std::make_shared<FakeRendering>(bytes, uint32_t(tempo)));
        };
    }
    struct Asked {
        uint64_t left, right;
        double tempo;
    };
    TTransport transport;
    std::vector<Asked> asked;
    bool refuse = false;
};

TEST_F(TempoLoop, AtItsOwnTempoTheLoopPlaysTheStoreAsBefore) {
    transport.Button20Click();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(transport.rendered(), nullptr);
    EXPECT_EQ(audio.rendered(), nullptr);
    EXPECT_EQ(audio.state().RegionStart, 50000u);
    EXPECT_EQ(audio.state().RegionLength, 10000u);
}

TEST_F(TempoLoop, AnotherTempoLoopsTheRenderingAndTheCursorMapsBackThroughIt) {
    transport.view.tempo = 60;
    transport.Button20Click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].left, 50000u);
    EXPECT_EQ(asked[0].right, 60000u);
    EXPECT_EQ(asked[0].tempo, 60.0);
    ASSERT_NE(transport.rendered(), nullptr);
    EXPECT_EQ(audio.rendered(), transport.rendered());
    EXPECT_EQ(transport.PlayLength, 20000u);
    EXPECT_TRUE(transport.LoopPlaying);
    EXPECT_EQ(transport.down, PlayButton::Button20);
    const auto& bytes = static_cast<const FakeRendering*>(transport.rendered())->bytes();
    play(20000 + 8000); // into the second pass
    EXPECT_TRUE(device->played() == [&] {
        auto expected = bytes;
        expected.insert(expected.end(), bytes.begin(), bytes.begin() + 8000);
        return expected;
    }());
    transport.SuperTimer1Timer();
    // Offset 8000 of the pass sounds at store byte 50000 + 4000: frame 13500.
    EXPECT_EQ(transport.CursorX, 13500);
    EXPECT_TRUE(transport.cursorDrawn);
}

TEST_F(TempoLoop, ATempoChangeRestartsTheLoopAtOnceAtTheNewTempo) {
    transport.view.tempo = 60;
    transport.Button20Click();
    play(6000);
    transport.view.tempo = 240;
    transport.TempoChanged();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].tempo, 240.0);
    ASSERT_NE(transport.rendered(), nullptr);
    EXPECT_EQ(transport.PlayLength, 5000u);
    const auto& bytes = static_cast<const FakeRendering*>(transport.rendered())->bytes();
    const size_t before = device->played().size();
    loop.runPending(); // the old play's buffers come back and are swallowed
    play(10000);
    const std::vector<uint8_t> after(device->played().begin() + long(before), device->played().end());
    EXPECT_TRUE(after == repeated(bytes, 0, 5000, 2));
    EXPECT_TRUE(transport.LoopPlaying);
    // Back to its own tempo: the store's loop.
    transport.view.tempo = 0;
    transport.TempoChanged();
    EXPECT_EQ(transport.rendered(), nullptr);
    EXPECT_EQ(audio.state().RegionStart, 50000u);
    // A tempo change while nothing loops changes nothing.
    transport.Button24Click();
    loop.runPending();
    transport.view.tempo = 60;
    transport.TempoChanged();
    EXPECT_FALSE(audio.state().Playing);
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(TempoLoop, ARefusedRenderingPlaysNothing) {
    refuse = true;
    transport.view.tempo = 100;
    transport.Button20Click();
    EXPECT_FALSE(audio.state().Playing);
    EXPECT_FALSE(transport.LoopPlaying);
    EXPECT_FALSE(transport.timerEnabled);
    EXPECT_EQ(transport.down, PlayButton::None);
}

TEST_F(TempoLoop, StopEndsTheRenderedLoopCleanly) {
    transport.view.tempo = 60;
    transport.Button20Click();
    play(3000);
    transport.Button24Click();
    EXPECT_EQ(transport.rendered(), nullptr);
    EXPECT_EQ(audio.rendered(), nullptr);
    loop.runPending();
    EXPECT_FALSE(audio.state().Playing);
    EXPECT_EQ(audio.state().Outstanding, 0);
    EXPECT_FALSE(transport.LoopPlaying);
    EXPECT_EQ(device->queued(), 0u);
}

} // namespace
} // namespace cleavix::audio::test
