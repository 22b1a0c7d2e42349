#include "plugins/PluginChain.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define CLEAVIX_HAVE_MXCSR 1
#endif

namespace cleavix::plugins {

int16_t toSample16(float v) {
    if (!std::isfinite(v)) {
        return 0;
    }
    const float scaled = std::nearbyint(v * 32768.0f);
    return int16_t(std::clamp(scaled, -32768.0f, 32767.0f));
}

DenormalGuard::DenormalGuard() {
#ifdef CLEAVIX_HAVE_MXCSR
    saved_ = _mm_getcsr();
    _mm_setcsr(saved_ | 0x8040u); // flush to zero, denormals are zero
#endif
}

DenormalGuard::~DenormalGuard() {
#ifdef CLEAVIX_HAVE_MXCSR
    _mm_setcsr(saved_);
#endif
}

std::unique_ptr<PluginChain> PluginChain::open(PluginBridge& bridge, int index, double rate, int inChannels,
                                               std::string& error) {
    std::unique_ptr<PluginChain> chain(new PluginChain);
    chain->inChannels_ = std::clamp(inChannels, 1, 2);
    auto first = bridge.open(index, rate, error);
    if (!first) {
        return nullptr;
    }
    const int ins = first->info().audioIn;
    const int outs = first->info().audioOut;
    if (ins < 1 || outs < 1) {
        error = "the plug-in has no audio input or output";
        return nullptr;
    }
    chain->block_ = std::min<uint32_t>(first->maxBlock(), 4096);
    chain->instances_.push_back(std::move(first));
    if (chain->inChannels_ == 2 && ins == 1) {
        auto second = bridge.open(index, rate, error);
        if (!second) {
            return nullptr;
        }
        chain->instances_.push_back(std::move(second));
        chain->outChannels_ = 2;
    } else if (ins == 1 && outs >= 2) {
        chain->outChannels_ = 2;
    } else if (outs == 1) {
        chain->outChannels_ = 1;
    } else {
        chain->outChannels_ = chain->inChannels_;
    }
    for (const auto& instance : chain->instances_) {
        const auto& info = instance->info();
        auto& ib = chain->inBuffers_.emplace_back(size_t(info.audioIn), std::vector<float>(chain->block_, 0.0f));
        auto& ob = chain->outBuffers_.emplace_back(size_t(info.audioOut), std::vector<float>(chain->block_, 0.0f));
        auto& ip = chain->inPointers_.emplace_back();
        auto& op = chain->outPointers_.emplace_back();
        for (auto& b : ib) {
            ip.push_back(b.data());
        }
        for (auto& b : ob) {
            op.push_back(b.data());
        }
    }
    return chain;
}

bool PluginChain::setControl(const std::string& symbol, float value) {
    bool known = false;
    for (auto& i : instances_) {
        known = i->setControl(symbol, value) || known;
    }
    return known;
}

bool PluginChain::applyPreset(const PluginPreset& preset) {
    bool ok = true;
    for (auto& i : instances_) {
        ok = i->applyPreset(preset) && ok;
    }
    return ok;
}

void PluginChain::runBlock(const int16_t* in, uint32_t frames, std::vector<int16_t>& out, bool compensate) {
    const size_t count = instances_.size();
    for (size_t k = 0; k < count; ++k) {
        auto& buffers = inBuffers_[k];
        for (size_t port = 0; port < buffers.size(); ++port) {
            // Which channel this input reads: an instance per channel, mono feeding every input,
            // or stereo's two channels into the first two (any further input silent).
            int channel = count == 2 ? int(k) : inChannels_ == 1 ? 0 : int(port);
            float* b = buffers[port].data();
            if (channel >= inChannels_) {
                std::fill(b, b + frames, 0.0f);
                continue;
            }
            for (uint32_t f = 0; f < frames; ++f) {
                b[f] = in != nullptr ? float(in[size_t(f) * size_t(inChannels_) + size_t(channel)]) / 32768.0f : 0.0f;
            }
        }
        instances_[k]->run(inPointers_[k].data(), outPointers_[k].data(), frames);
    }
    if (!latencyKnown_) {
        // Valid once the plug-in has run.
        latency_ = instances_.front()->latency();
        toDrop_ = compensate ? latency_ : 0;
        latencyKnown_ = true;
    }
    const uint32_t skip = uint32_t(std::min<uint64_t>(toDrop_, frames));
    toDrop_ -= skip;
    const size_t oc = size_t(outChannels_);
    const size_t at = out.size();
    out.resize(at + size_t(frames - skip) * oc);
    for (size_t o = 0; o < oc; ++o) {
        const size_t k = count == 2 ? o : 0;
        const auto& outs = outBuffers_[k];
        const size_t port = count == 2 ? std::min(o, outs.size() - 1) : std::min(o, outs.size() - 1);
        const float* b = outs[port].data();
        for (uint32_t f = skip; f < frames; ++f) {
            out[at + size_t(f - skip) * oc + o] = toSample16(b[f]);
        }
    }
    framesOut_ += frames - skip;
}

void PluginChain::deliver(const int16_t* in, size_t frames, std::vector<int16_t>& out, bool compensate) {
    DenormalGuard flush;
    for (size_t done = 0; done < frames;) {
        const uint32_t n = uint32_t(std::min<size_t>(block_, frames - done));
        runBlock(in + done * size_t(inChannels_), n, out, compensate);
        done += n;
        framesIn_ += n;
    }
}

void PluginChain::finish(std::vector<int16_t>& out) {
    DenormalGuard flush;
    // Silence through the plug-in until the output has caught up with the input.
    while (framesOut_ < framesIn_) {
        const uint32_t n = uint32_t(std::min<uint64_t>(block_, framesIn_ - framesOut_ + toDrop_));
        const size_t before = out.size();
        runBlock(nullptr, n, out, true);
        if (out.size() == before && n == 0) {
            break;
        }
    }
    // A plug-in that changed its latency mid-run may have given more: the length stays the input's.
    if (framesOut_ > framesIn_) {
        out.resize(out.size() - size_t(framesOut_ - framesIn_) * size_t(outChannels_));
        framesOut_ = framesIn_;
    }
}

} // namespace cleavix::plugins
