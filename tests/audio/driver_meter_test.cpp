// TAudioDriver's push-style output, the counting semaphore, and the input level meter.
#include "AudioTestHelpers.h"
#include "audio/AlsaWaveDevice.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace cleavix::audio::test {
namespace {

TEST(Semaphore, NeverCountsPastItsMaximum) {
    CountingSemaphore semaphore(6, 6);
    semaphore.release();
    EXPECT_EQ(semaphore.count(), 6);
    EXPECT_TRUE(semaphore.acquireFor(0));
    EXPECT_EQ(semaphore.count(), 5);
    CountingSemaphore empty(0, 1);
    EXPECT_FALSE(empty.acquireFor(1));
}

TEST(AudioDriver, FullBuffersGoOutWholeAndInOrderThroughAlsa) {
    cleavix::test::TempDir dir;
    AlsaDeviceProvider provider;
    const std::string raw = dir.file("preview.raw");
    const int id = provider.addDevice("file:'" + raw + "',raw");
    const auto data = patternBytes(16384 * 8 + 1000, 11);
    {
        TAudioDriver driver(provider);
        ASSERT_EQ(driver.Open(id, 2, 16384, 16, 44100), 0) << driver.lastError();
        for (size_t at = 0; at < data.size(); at += 8192) {
            driver.Write(data.data() + at, std::min<size_t>(8192, data.size() - at));
        }
        EXPECT_EQ(driver.writeCount(), 17);
        EXPECT_EQ(driver.droppedBytes(), 0u);
        // Closing resets the device, so let it hand every full buffer back first; the partial
        // ninth buffer keeps one count.
        for (int i = 0; i < 5000 && driver.semaphore().count() != kDriverBuffers - 1; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(driver.semaphore().count(), kDriverBuffers - 1);
    }
    // Eight full buffers went out; the partial ninth was never full, so it never played.
    const auto out = cleavix::test::readFile(raw);
    ASSERT_EQ(out.size(), 16384u * 8);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
}

TEST(AudioDriver, AbandonDiscardsThePartialBufferWithoutLosingASemaphoreCount) {
    jobs::MainLoop loop;
    VirtualDeviceProvider provider;
    TAudioDriver driver(provider);
    ASSERT_EQ(driver.Open(0, 2, 4000, 16, 1000), 0);
    const auto data = patternBytes(10000, 2);
    driver.Write(data.data(), 10000); // two full buffers queued, 2000 bytes in the third
    EXPECT_EQ(provider.lastOutput->queued(), 2u);
    EXPECT_EQ(driver.semaphore().count(), 3);
    driver.Abandon();
    EXPECT_EQ(provider.lastOutput->queued(), 0u);
    EXPECT_EQ(driver.semaphore().count(), 6);
    EXPECT_EQ(driver.current(), 3);
    driver.Write(data.data(), 4000);
    provider.lastOutput->advance(4000);
    EXPECT_TRUE(std::equal(provider.lastOutput->played().begin(), provider.lastOutput->played().end(), data.begin()));
}

TEST(AudioDriver, AStalledDeviceDropsDataRatherThanOverwritingQueuedBuffers) {
    VirtualDeviceProvider provider;
    TAudioDriver driver(provider);
    ASSERT_EQ(driver.Open(0, 1, 100, 16, 1000), 0);
    const auto data = patternBytes(700, 4);
    driver.Write(data.data(), 600); // six buffers queued, none played
    EXPECT_EQ(provider.lastOutput->queued(), 6u);
    driver.Write(data.data() + 600, 100); // waits 500 ms, then gives up on this block
    EXPECT_EQ(driver.droppedBytes(), 100u);
    provider.lastOutput->advance(1000);
    EXPECT_TRUE(provider.lastOutput->played() == std::vector<uint8_t>(data.begin(), data.begin() + 600));
}

TEST(AudioDriver, AFailedOpenKeepsTheErrorAndIgnoresWrites) {
    VirtualDeviceProvider provider;
    provider.refuseWith = 2;
    TAudioDriver driver(provider);
    EXPECT_EQ(driver.Open(0, 2, 4000, 16, 44100), 2);
    EXPECT_FALSE(driver.isOpen());
    EXPECT_FALSE(driver.lastError().empty());
    const auto data = patternBytes(8000);
    driver.Write(data.data(), data.size());
    EXPECT_EQ(driver.writeCount(), 0);
}

std::vector<uint8_t> stereo(size_t frames, int16_t left, int16_t right) {
    std::vector<int16_t> samples;
    for (size_t i = 0; i < frames; ++i) {
        samples.push_back(left);
        samples.push_back(right);
    }
    return cleavix::test::le16Bytes(samples);
}

TEST(Meter, PeaksPerChannelOverTheLast100ms) {
    TMeterData meter;
    int32_t left = -1;
    int32_t right = -1;
    meter.SetActive(true);
    ASSERT_EQ(meter.ControlCount(), 1);
    const TMeterControl& control = meter.Control(0);
    EXPECT_EQ(control.maximum(), 32768);
    auto loud = stereo(441, -32768, 1200); // 10 ms
    meter.feed(loud.data(), loud.size(), 2, 44100);
    ASSERT_TRUE(meter.ReadLevel(control, left, right));
    EXPECT_EQ(left, 32768);
    EXPECT_EQ(right, 1200);
    auto quiet = stereo(441 * 9, 100, -90); // 90 ms more: the loud block is still inside
    meter.feed(quiet.data(), quiet.size(), 2, 44100);
    meter.ReadLevel(control, left, right);
    EXPECT_EQ(left, 32768);
    auto more = stereo(441, 100, -90); // now it is 100 ms old
    meter.feed(more.data(), more.size(), 2, 44100);
    meter.ReadLevel(control, left, right);
    EXPECT_EQ(left, 100);
    EXPECT_EQ(right, 90);
}

TEST(Meter, AnInactiveMeterOrAForeignControlLeavesTheValuesAlone) {
    TMeterData meter;
    TMeterData other;
    other.SetActive(true);
    int32_t left = 7;
    int32_t right = 8;
    EXPECT_FALSE(meter.ReadLevel(other.Control(0), left, right));
    meter.SetActive(true);
    EXPECT_FALSE(meter.ReadLevel(other.Control(0), left, right));
    EXPECT_EQ(left, 7);
    EXPECT_EQ(right, 8);
    meter.SetActive(false);
    EXPECT_EQ(meter.ControlCount(), 0);
}

TEST(Meter, MonitorsItsOwnCaptureUntilTheRecorderTakesTheInput) {
    jobs::MainLoop loop;
    VirtualDeviceProvider provider;
    TMeterData meter;
    meter.setMonitorInput(loop, provider, 0, 1, 8000);
    ASSERT_TRUE(meter.SetActive(true));
    ASSERT_TRUE(meter.monitoring());
    std::vector<int16_t> samples(800, 0);
    samples[10] = -20000;
    const auto bytes = cleavix::test::le16Bytes(samples);
    provider.lastInput->feed(bytes.data(), bytes.size());
    loop.runPending();
    int32_t left = 0;
    int32_t right = 0;
    meter.ReadLevel(meter.Control(0), left, right);
    EXPECT_EQ(left, 20000);
    EXPECT_EQ(right, 20000);
    meter.suspendMonitor();
    EXPECT_FALSE(meter.monitoring());
    loop.runPending();
    meter.resumeMonitor();
    EXPECT_TRUE(meter.monitoring());
}

} // namespace
} // namespace cleavix::audio::test
