#pragma once
// TWaveSmoother: the one sample source that segment files and (later) the sampler drivers read
// through. Without smoothing it passes a stretch of the store through; with a smoothing level it
// turns the end of the stretch into a short fade made from its own decay: the audio runs unchanged
// up to the loudest sample of its last 23 %, then continues with the audio before that peak played
// backwards under a gain that falls linearly to silence, so a slice cut before its sound has died
// away does not end with a click.
//
// Memory stays fixed whatever the stretch: the input is read through one small block per channel,
// forwards for the body and backwards for the tail.
#include "sample/FileAndMemoryStream.h"
#include "sample/SampleSource.h"

#include <array>
#include <cstdint>
#include <vector>

namespace cleavix::slicing {

enum class ByteOrder { Little, Big };

class TWaveSmoother final : public sample::SampleSource {
public:
    struct Settings {
        const sample::TFileAndMemoryStream* input = nullptr; // the store
        uint32_t start = 0;         // byte position of the first input sample
        uint32_t length = 0;        // output bytes of the stretch before smoothing (16-bit samples)
        int channels = 1;           // channels delivered, interleaved: 1 or 2
        int step = 1;               // 2 takes every second input sample (one channel of stereo)
        ByteOrder inputOrder = ByteOrder::Little;
        ByteOrder outputOrder = ByteOrder::Little;
        size_t blockBytes = 2048;   // input read per block
        int level = 0;              // smoothing level in per cent (0..60); 0 passes the audio through
        // The sampler drivers' reading: `length` is the bytes of one channel (16-bit output), and
        // the frames of two delivered channels cover twice that.
        bool lengthPerChannel = false;
        int inputBits = 16;         // 8: unsigned bytes, widened to 16 bits on the way out
    };

    TWaveSmoother() = default;
    explicit TWaveSmoother(const Settings& settings) { configure(settings); }
    // Starts a new stretch: finds the peaks of its last 23 % when smoothing.
    void configure(const Settings& settings);

    size_t read(int16_t* out, size_t count) override;
    uint64_t outputBytes() const override { return outputBytes_; }
    // Output bytes of one channel (the header length of a sampler dump).
    uint64_t channelBytes() const { return outputBytes_ / uint64_t(settings_.channels); }
    const Settings& settings() const { return settings_; }

    // The smoothed length for a stretch of `length` bytes:
    // S - 4 * (round(0.23 S) / 4) + 4 * (round((level + 23) / 100 * S) / 4).
    static uint64_t smoothedLength(uint64_t length, int level);
    // The frame (of the stretch) where a channel's tail starts; -1 without smoothing.
    int64_t peakFrame(int channel) const { return peak_[size_t(channel)]; }

private:
    void findPeaks(int64_t frames, int64_t zoneFrames);
    int16_t inputSample(int channel, int64_t frame);
    int16_t outputSample(uint64_t index);

    Settings settings_;
    uint64_t outputBytes_ = 0;
    uint64_t delivered_ = 0; // samples
    int64_t lastFrame_ = -1; // last frame of the output
    std::array<int64_t, 2> peak_{-1, -1};
    struct Block {
        int64_t first = 0;
        std::vector<int16_t> samples;
    };
    std::array<Block, 2> blocks_;
    std::vector<int16_t> raw_;
    std::vector<uint8_t> bytes_;
};

} // namespace cleavix::slicing
