#pragma once
// A plug-in set up for one sample: one instance, or two when a stereo sample meets a one-input
// plug-in, turning 16-bit interleaved frames into the plug-in's float blocks and back.
//
// Channels: mono into a plug-in with two inputs feeds both; stereo into a one-input plug-in runs an
// instance per channel; a one-input plug-in with two outputs turns mono into stereo; a stereo
// sample into a plug-in with one output becomes mono; otherwise the channel count stays (a mono
// sample through a stereo plug-in takes its first output).
//
// Output: NaN and infinities become 0, values are clipped to 16 bits (rounded, ties to even) and
// denormals are flushed while the plug-in runs. The latency the plug-in reports is dropped from the
// start of the output and made up by running silence through it at the end, so the output has
// exactly as many frames as the input.
//
// Threads: made on the main thread, then used by one thread at a time.
#include "plugins/PluginBridge.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::plugins {

class PluginChain {
public:
    // Opens the plug-in `index` at `rate` for `inChannels` (1 or 2) channels; null with `error` set
    // when it cannot be set up.
    static std::unique_ptr<PluginChain> open(PluginBridge& bridge, int index, double rate, int inChannels,
                                             std::string& error);

    int inChannels() const { return inChannels_; }
    int outChannels() const { return outChannels_; }
    const PluginInfo& info() const { return instances_.front()->info(); }
    // Frames of one delivery (the input buffer's size).
    uint32_t blockFrames() const { return block_; }

    // Sets a control on every instance; false for an unknown symbol.
    bool setControl(const std::string& symbol, float value);
    float control(const std::string& symbol) const { return instances_.front()->control(symbol); }
    bool applyPreset(const PluginPreset& preset);
    std::string storePreset(const std::string& name) { return instances_.front()->storePreset(name); }
    PluginInstance& first() { return *instances_.front(); }

    // Runs `frames` interleaved input frames (inChannels() each) and appends the output frames
    // (outChannels() each) that are ready. With `compensate` false (the preview), output is
    // appended as it comes, latency and all.
    void deliver(const int16_t* in, size_t frames, std::vector<int16_t>& out, bool compensate = true);
    // The end of the input: appends the frames the latency still holds back.
    void finish(std::vector<int16_t>& out);
    // The latency dropped so far (frames).
    uint32_t latency() const { return latency_; }
    // Input frames delivered and output frames appended so far.
    uint64_t framesIn() const { return framesIn_; }
    uint64_t framesOut() const { return framesOut_; }

private:
    PluginChain() = default;
    void runBlock(const int16_t* in, uint32_t frames, std::vector<int16_t>& out, bool compensate);

    std::vector<std::unique_ptr<PluginInstance>> instances_;
    int inChannels_ = 1;
    int outChannels_ = 1;
    uint32_t block_ = 4096;
    // Per instance: its input and output buffers.
    std::vector<std::vector<std::vector<float>>> inBuffers_;
    std::vector<std::vector<std::vector<float>>> outBuffers_;
    std::vector<std::vector<const float*>> inPointers_;
    std::vector<std::vector<float*>> outPointers_;
    bool latencyKnown_ = false;
    uint32_t latency_ = 0;
    uint64_t toDrop_ = 0;
    uint64_t framesIn_ = 0;
    uint64_t framesOut_ = 0;
};

// A float sample as 16 bits: NaN and infinities 0, clipped, rounded ties to even.
int16_t toSample16(float v);

// Flushes denormals to zero on this thread while it lives (x86: FTZ and DAZ).
class DenormalGuard {
public:
    DenormalGuard();
    ~DenormalGuard();
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    unsigned saved_ = 0;
};

} // namespace cleavix::plugins
