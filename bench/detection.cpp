// The detection kernels alone, on a ten-minute stereo buffer of noise bursts held in memory: how
// many samples a second each path follows, and the whole OnsetDetector as the load feeds it.
//   build/bench/bench_detection [--benchmark_filter=...]
#include "slicing/SliceSearch.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace cleavix::slicing;

constexpr int kChannels = 2;
constexpr size_t kFrames = 44100 * 600;

const std::vector<int16_t>& tenMinutes() {
    static const std::vector<int16_t> samples = [] {
        std::vector<int16_t> s(kFrames * kChannels);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-30000, 30000);
        for (size_t i = 0; i < s.size(); ++i) {
            // A burst every half second that decays, so the envelopes rise and fall.
            const double decay = 1.0 - double((i / kChannels) % 22050) / 22050.0;
            s[i] = int16_t(double(noise(random)) * decay * decay);
        }
        return s;
    }();
    return samples;
}

void followPath(benchmark::State& state, DetectionPath path) {
    const auto& samples = tenMinutes();
    const int blocks = int(kFrames / kFindSize);
    std::vector<double> ranges[kChannels] = {std::vector<double>(blocks), std::vector<double>(blocks)};
    std::vector<int> peaks[kChannels] = {std::vector<int>(blocks), std::vector<int>(blocks)};
    double* r[kChannels] = {ranges[0].data(), ranges[1].data()};
    int* p[kChannels] = {peaks[0].data(), peaks[1].data()};
    const int before[kChannels] = {0, 0};
    for (auto _ : state) {
        blockRanges(samples.data(), kChannels, before, blocks, r, p, path);
        benchmark::DoNotOptimize(ranges[0].data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * blocks * kFindSize * kChannels);
}

void BM_FollowBest(benchmark::State& state) {
    followPath(state, DetectionPath::Best);
}
void BM_FollowAvx2(benchmark::State& state) {
    followPath(state, DetectionPath::Avx2);
}
void BM_FollowBaseline(benchmark::State& state) {
    followPath(state, DetectionPath::Baseline);
}
void BM_FollowScalar(benchmark::State& state) {
    followPath(state, DetectionPath::Scalar);
}

// As the load feeds it: 256 KiB pieces.
void BM_OnsetDetectorFeed(benchmark::State& state) {
    const auto& samples = tenMinutes();
    for (auto _ : state) {
        OnsetDetector detector(kChannels, uint32_t(samples.size() * 2));
        for (size_t at = 0; at < samples.size(); at += 131072) {
            detector.feed(samples.data() + at, std::min<size_t>(131072, samples.size() - at));
        }
        benchmark::DoNotOptimize(detector.complete());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(samples.size()));
}

BENCHMARK(BM_FollowBest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FollowAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FollowBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FollowScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnsetDetectorFeed)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
