#include "sample/DemoLoop.h"

#include "sample/FileAndMemoryStream.h"
#include "sample/WavWriter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cleavix::sample {

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kEighth = kRate / 4; // 120 BPM: a beat is half a second, an eighth a quarter

// A small deterministic noise source, so the loop is the same on every machine.
class Noise {
public:
    double next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return double(state_ >> 11) / double(1ull << 53) * 2.0 - 1.0;
    }

private:
    uint64_t state_ = 0x5EEDC1EA71Cull;
};

void addKick(std::vector<double>& left, std::vector<double>& right, uint32_t at) {
    const uint32_t length = kRate * 2 / 5;
    double phase = 0;
    for (uint32_t i = 0; i < length && at + i < left.size(); ++i) {
        const double t = double(i) / kRate;
        const double frequency = 50.0 + 100.0 * std::exp(-t / 0.03);
        phase += 2 * std::numbers::pi * frequency / kRate;
        const double v = 0.9 * std::sin(phase) * std::exp(-t / 0.15);
        left[at + i] += v;
        right[at + i] += v;
    }
}

void addSnare(std::vector<double>& left, std::vector<double>& right, uint32_t at, Noise& noise) {
    const uint32_t length = kRate / 4;
    for (uint32_t i = 0; i < length && at + i < left.size(); ++i) {
        const double t = double(i) / kRate;
        const double v = 0.5 * noise.next() * std::exp(-t / 0.06) +
                         0.4 * std::sin(2 * std::numbers::pi * 190.0 * t) * std::exp(-t / 0.05);
        left[at + i] += v * 1.0;
        right[at + i] += v * 0.8;
    }
}

void addHat(std::vector<double>& left, std::vector<double>& right, uint32_t at, Noise& noise, double level) {
    const uint32_t length = kRate * 8 / 100;
    double previous = 0;
    for (uint32_t i = 0; i < length && at + i < left.size(); ++i) {
        const double t = double(i) / kRate;
        const double white = noise.next();
        const double v = level * (white - previous) * 0.5 * std::exp(-t / 0.02); // first difference: bright
        previous = white;
        left[at + i] += v * 0.7;
        right[at + i] += v * 1.0;
    }
}

} // namespace

DemoLoopInfo demoLoopInfo() {
    DemoLoopInfo info;
    info.frames = 16 * kEighth;
    for (uint32_t i = 0; i < 16; ++i) {
        info.onsetFrames.push_back(i * kEighth);
    }
    return info;
}

bool writeDemoLoop(const std::string& fileName, std::string& error) {
    const DemoLoopInfo info = demoLoopInfo();
    std::vector<double> left(info.frames, 0.0);
    std::vector<double> right(info.frames, 0.0);
    Noise noise;
    const int kicks[] = {0, 4, 8, 11, 12};
    const int snares[] = {2, 6, 10, 14};
    for (int k : kicks) {
        addKick(left, right, uint32_t(k) * kEighth);
    }
    for (int s : snares) {
        addSnare(left, right, uint32_t(s) * kEighth, noise);
    }
    for (int h = 0; h < 16; ++h) {
        addHat(left, right, uint32_t(h) * kEighth, noise, h % 2 == 0 ? 0.5 : 0.35);
    }

    TFileAndMemoryStream store;
    std::vector<int16_t> frames(info.frames * 2);
    for (uint32_t i = 0; i < info.frames; ++i) {
        frames[i * 2] = static_cast<int16_t>(std::lround(std::clamp(left[i], -1.0, 1.0) * 30000.0));
        frames[i * 2 + 1] = static_cast<int16_t>(std::lround(std::clamp(right[i], -1.0, 1.0) * 30000.0));
    }
    store.writeAll(frames.data(), frames.size() * 2);

    WriteRequest request;
    request.fileName = fileName;
    request.length = info.frames * 4;
    request.layout = LayoutStereo;
    request.sampleChannels = 2;
    request.saveBits = 16;
    request.sampleRate = kRate;
    const WriteResult result = WriteSplit(request, store, nullptr);
    error = result.error;
    return result.ok;
}

} // namespace cleavix::sample
