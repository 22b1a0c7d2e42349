#include "plugins/PluginPreview.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace cleavix::plugins {

PluginPreview::PluginPreview(const sample::SampleStore& store, PluginChain& chain, uint32_t left, uint32_t right,
                             int channel)
    : store_(store), chain_(chain), channel_(channel) {
    const auto& f = store.format();
    const uint32_t a = std::min({left, right, f.dataLength});
    const uint32_t b = std::min(std::max(left, right), f.dataLength);
    start_ = f.frameStart(a);
    end_ = start_ + f.frameStart(b - start_);
    position_ = start_;
    rate_ = f.sampleRate;
    if (f.channels != 2) {
        channel_ = 3;
    }
}

std::string PluginPreview::cpuLabel() const {
    const int n = cpu_.load();
    return n < 0 ? std::string("CPU: ---") : "CPU: " + std::to_string(n) + "%";
}

size_t PluginPreview::renderBlock(int16_t* stereo, size_t frames) {
    const auto& f = store_.format();
    const size_t channels = f.channels;
    const size_t frameBytes = channels * 2;
    frames = std::min<size_t>(frames, (end_ - position_) / frameBytes);
    raw_.resize(frames * channels);
    store_.stream().readAt(position_, raw_.data(), frames * frameBytes);
    const bool oneOfStereo = channels == 2 && channel_ != 3;
    const size_t pick = channel_ == 2 ? 1 : 0;
    const int16_t* feed = raw_.data();
    if (oneOfStereo) {
        in_.resize(frames);
        for (size_t i = 0; i < frames; ++i) {
            in_[i] = raw_[i * 2 + pick];
        }
        feed = in_.data();
    }
    const auto began = std::chrono::steady_clock::now();
    out_.clear();
    chain_.deliver(feed, frames, out_, false);
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const size_t oc = size_t(chain_.outChannels());
    const bool dry = bypass.load();
    for (size_t i = 0; i < frames; ++i) {
        int16_t l = 0;
        int16_t r = 0;
        if (channels == 2) {
            l = raw_[i * 2];
            r = raw_[i * 2 + 1];
        } else {
            l = r = raw_[i];
        }
        if (!dry && i < out_.size() / oc) {
            const int16_t a = out_[i * oc];
            const int16_t b = oc == 2 ? out_[i * oc + 1] : a;
            if (oneOfStereo) {
                (pick == 0 ? l : r) = a;
            } else {
                l = a;
                r = b;
            }
        }
        stereo[i * 2] = l;
        stereo[i * 2 + 1] = r;
    }
    position_ += uint32_t(frames * frameBytes);
    if (position_ >= end_) {
        position_ = start_; // the preview loops until stopped
    }
    // Processing time over the audio's duration; no reading for a block without duration.
    const double duration = rate_ > 0 ? double(frames) / rate_ : 0.0;
    readings_[buffers_ % 2] = duration > 0 ? spent / duration * 100.0 : 0.0;
    ++buffers_;
    if (buffers_ % 10 == 0) {
        cpu_ = int(std::lround((readings_[0] + readings_[1]) / 2));
    }
    return frames;
}

void PluginPreview::setControl(const std::string& symbol, float value) {
    const std::lock_guard lock(controlsMutex_);
    controls_.emplace_back(symbol, value);
}

void PluginPreview::takeControls() {
    std::vector<std::pair<std::string, float>> pending;
    {
        const std::lock_guard lock(controlsMutex_);
        pending.swap(controls_);
    }
    for (const auto& [symbol, value] : pending) {
        chain_.setControl(symbol, value);
    }
}

size_t PluginPreview::render(int16_t* stereo, size_t frames) {
    if (empty()) {
        return 0;
    }
    takeControls();
    size_t done = 0;
    while (done < frames) {
        const size_t n = renderBlock(stereo + done * 2, std::min<size_t>(frames - done, chain_.blockFrames()));
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

} // namespace cleavix::plugins
