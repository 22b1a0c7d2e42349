// The preview's feeding thread writing the plug-in's output through the output driver, to ALSA's
// file PCM (no sound card needed).
#include "plugins/PreviewThread.h"
#include "plugins/PluginTestKit.h"
#include "audio/AlsaWaveDevice.h"

#include <chrono>
#include <thread>

namespace cleavix::test {
namespace {

#ifdef CLEAVIX_TEST_LV2_PATH

TEST(PreviewThread, FeedsTheLoopedOutputUntilStopped) {
    PluginBench b;
    const auto data = testSignal(3000, 5);
    ASSERT_TRUE(b.loadSamples(data, 1));
    std::string error;
    auto chain = plugins::PluginChain::open(*b.bridge, b.index("gain"), 44100, 1, error);
    ASSERT_TRUE(chain);
    chain->setControl("gain", 2.0f);
    plugins::PluginPreview preview(b.s().store(), *chain, 0, 6000, 3);
    TempDir dir;
    audio::AlsaDeviceProvider provider;
    const std::string raw = dir.file("preview.raw");
    const int id = provider.addDevice("file:'" + raw + "',raw");
    {
        audio::TAudioDriver driver(provider);
        ASSERT_EQ(driver.Open(id, 2, 16384, 16, 44100), 0) << driver.lastError();
        plugins::TPreviewThread thread(driver, preview);
        ASSERT_TRUE(thread.start());
        EXPECT_FALSE(thread.start()) << "one at a time";
        for (int i = 0; i < 5000 && thread.blocks() < 12; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        thread.stop();
        EXPECT_FALSE(thread.running());
        EXPECT_GE(thread.blocks(), 12u);
        EXPECT_EQ(driver.droppedBytes(), 0u);
    }
    const auto played = le16Samples(readFile(raw));
    ASSERT_GE(played.size(), 2u * 9000) << "at least three rounds of the loop";
    for (size_t i = 0; i < played.size() / 2; ++i) {
        const int16_t want = expect16(data[i % 3000] * 2.0);
        ASSERT_EQ(played[i * 2], want) << i;
        ASSERT_EQ(played[i * 2 + 1], want) << i;
    }

    plugins::PluginPreview empty(b.s().store(), *chain, 10, 10, 3);
    audio::TAudioDriver driver(provider);
    plugins::TPreviewThread none(driver, empty);
    EXPECT_FALSE(none.start());
}

#endif

} // namespace
} // namespace cleavix::test
