#pragma once
// TPreviewThread: the plug-in preview's feeding thread. It renders blocks of the loop through the
// plug-in (PluginPreview) and writes them to the push-style output driver, whose counting
// semaphore paces it to the device, until stopped.
//
// Threads: start() and stop() on the main thread. The feeding thread alone calls the driver's
// Write() and Reset() and the preview's render() while it runs; the main thread may flip the
// preview's bypass and read its CPU figure meanwhile.
#include "audio/AudioDriver.h"
#include "plugins/PluginPreview.h"

#include <atomic>
#include <thread>

namespace cleavix::plugins {

class TPreviewThread {
public:
    // The driver is open with 2 channels, 16 bits and the sample's rate.
    TPreviewThread(audio::TAudioDriver& driver, PluginPreview& preview) : driver_(driver), preview_(preview) {}
    ~TPreviewThread() { stop(); }
    TPreviewThread(const TPreviewThread&) = delete;
    TPreviewThread& operator=(const TPreviewThread&) = delete;

    // False for an empty range (Preview is disabled then) or when already running.
    bool start();
    // Stops feeding, resets the device (the queued buffers are dropped) and joins.
    void stop();
    bool running() const { return thread_.joinable(); }
    // Blocks written so far.
    uint64_t blocks() const { return blocks_.load(); }

private:
    void run();

    audio::TAudioDriver& driver_;
    PluginPreview& preview_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> blocks_{0};
};

} // namespace cleavix::plugins
