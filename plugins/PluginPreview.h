#pragma once
// The plug-in preview's engine side: blocks of the loop region run through the plug-in for the
// player, looping until stopped, with Bypass playing the input instead and a CPU reading.
//
// Output is always 16-bit stereo frames, as the preview output is opened: mono output plays on
// both channels; when one channel of a stereo sample is previewed, the plug-in's output goes to
// that channel only and the other plays as it is.
//
// Threads: the feeding thread calls render(); bypass and setControl() may be used from the main
// thread meanwhile (a control waits for the next block); cpuPercent() may be read from any thread. The store is only read (the job frame is idle and the
// window modal while a preview runs).
#include "plugins/PluginChain.h"
#include "sample/SampleStore.h"

#include <atomic>
#include <mutex>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cleavix::plugins {

class PluginPreview {
public:
    // [left, right) of the store, frame-aligned; channel 1 left, 2 right, 3 every channel. The
    // chain takes the channel count the sample (or the one channel) has.
    PluginPreview(const sample::SampleStore& store, PluginChain& chain, uint32_t left, uint32_t right, int channel);

    // Preview is offered only for a range with at least one frame.
    bool empty() const { return end_ <= start_; }
    // Fills `frames` stereo frames (interleaved) and returns how many it wrote (all of them
    // unless the range is empty).
    size_t render(int16_t* stereo, size_t frames);

    std::atomic<bool> bypass{false};
    // A control moved while the preview plays: the chain takes it before its next block, on the
    // feeding thread, so the plug-in is never touched by two threads.
    void setControl(const std::string& symbol, float value);
    // Half the sum of the last two readings of processing time over the audio's own duration, in
    // per cent; -1 until ten buffers have run.
    int cpuPercent() const { return cpu_.load(); }
    // "CPU: ---" before a reading, then "CPU: n%".
    std::string cpuLabel() const;

private:
    size_t renderBlock(int16_t* stereo, size_t frames);
    void takeControls();

    const sample::SampleStore& store_;
    PluginChain& chain_;
    uint32_t start_;
    uint32_t end_;
    uint32_t position_;
    int channel_;
    uint32_t rate_;
    std::vector<int16_t> raw_;
    std::vector<int16_t> in_;
    std::vector<int16_t> out_;
    std::atomic<int> cpu_{-1};
    double readings_[2] = {0, 0};
    int buffers_ = 0;
    std::mutex controlsMutex_;
    std::vector<std::pair<std::string, float>> controls_;
};

} // namespace cleavix::plugins
