// Redraw of the waveform view for a sixty-minute stereo sample (44100 Hz, 16 bits): fully zoomed
// out and at mid zooms from the peak table (128-byte blocks: a 40 MB table in its working file),
// and at the deepest zoom from the samples. Prints milliseconds per redraw (best and median of the
// runs), with and without the in-memory peak summary.
//   ui_redraw_bench [WIDTH HEIGHT [RUNS]]
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "sample/WorkFiles.h"
#include "ui/view/PeakSummary.h"
#include "ui/view/ViewState.h"
#include "ui/view/WaveRenderer.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace cleavix;
using Clock = std::chrono::steady_clock;

namespace {

// A drum-like test signal: a decaying burst every quarter second, different in each channel.
int16_t signalAt(uint64_t frame, int channel) {
    const uint64_t beat = 11025;
    const double t = double(frame % beat) / 44100.0;
    const double env = std::exp(-t * (channel == 0 ? 18.0 : 25.0));
    const double tone = std::sin(2 * M_PI * (channel == 0 ? 60.0 : 180.0) * double(frame) / 44100.0);
    const double noise = double((frame * 2654435761u >> 7) % 2001) / 1000.0 - 1.0;
    return static_cast<int16_t>(std::lround(26000.0 * env * (0.7 * tone + 0.3 * noise)));
}

void fill(std::vector<int16_t>& block, uint64_t firstFrame) {
    for (size_t i = 0; i < block.size() / 2; ++i) {
        block[2 * i] = signalAt(firstFrame + i, 0);
        block[2 * i + 1] = signalAt(firstFrame + i, 1);
    }
}

struct Figures {
    double best = 0;
    double median = 0;
};

Figures time(ui::WaveRenderer& renderer, const ui::WaveInput& in, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        renderer.markDirty();
        const auto t0 = Clock::now();
        renderer.renderWaveform(in);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // QPainter on images needs the GUI library set up
    const int width = argc > 2 ? std::atoi(argv[1]) : 1200;
    const int height = argc > 2 ? std::atoi(argv[2]) : 400;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 20;

    const uint64_t frames = 3600ull * 44100ull;
    const uint32_t dataLength = uint32_t(frames * 4);
    const std::string dir = sample::workingDirectory("");
    sample::SampleStore store(sample::createWorkFile(dir, sample::kStorePrefix));
    store.format().channels = 2;
    store.format().sampleRate = 44100;
    store.format().dataLength = dataLength;
    sample::PeakTable peaks(sample::createWorkFile(dir, sample::kStorePrefix), 128);

    // The peak table of the whole hour, built as a load builds it; the store itself holds real
    // audio only around its middle (the deep zoom reads there) and is sparse elsewhere.
    const auto build0 = Clock::now();
    std::vector<int16_t> block(65536);
    peaks.beginBuild(2);
    const uint64_t middle = frames / 2;
    store.stream().setSize(int64_t(dataLength) + 80);
    for (uint64_t frame = 0; frame < frames; frame += block.size() / 2) {
        const size_t count = size_t(std::min<uint64_t>(block.size() / 2, frames - frame));
        block.resize(count * 2);
        fill(block, frame);
        peaks.addBlocks(block.data(), count * 4);
        if (frame + count > middle - 200000 && frame < middle + 200000) {
            store.stream().writeAllAt(frame * 4, block.data(), count * 4);
        }
        block.resize(65536);
    }
    peaks.endBuild();
    const double buildSeconds = std::chrono::duration<double>(Clock::now() - build0).count();

    ui::PeakSummary summary;
    const auto s0 = Clock::now();
    summary.build(peaks);
    const double summaryMs = std::chrono::duration<double, std::milli>(Clock::now() - s0).count();

    std::printf("sample: 60 min stereo, %u bytes; peak table %llu entries (%.1f MB), built in %.1f s\n", dataLength,
                (unsigned long long)peaks.entries(), peaks.entries() * 8.0 / 1e6, buildSeconds);
    std::printf("peak summary: %d levels, built in %.1f ms\n", summary.levels(), summaryMs);
    std::printf("view %dx%d, %d runs per case; milliseconds per redraw (best / median)\n", width, height, runs);

    ui::WaveRenderer renderer;
    renderer.setSize(width, height);
    ui::WaveInput in;
    in.store = &store;
    in.peaks = &peaks;
    in.loaded = true;

    const double zooms[] = {1, 8, 64, 512};
    for (double zoom : zooms) {
        ui::ViewState view;
        view.whole(dataLength);
        while (view.zoom * 2 <= zoom + 0.5) {
            view.zoomIn(uint32_t(middle * 4), dataLength, 4);
        }
        in.viewStart = view.start;
        in.viewEnd = view.end;
        in.summary = &summary;
        const Figures with = time(renderer, in, runs);
        const auto source = renderer.lastSource();
        in.summary = nullptr;
        const Figures without = time(renderer, in, std::max(3, runs / 5));
        std::printf("zoom x%-4.0f %-6s  with summary %8.2f / %8.2f   table only %8.2f / %8.2f\n", view.zoom,
                    source == ui::WaveRenderer::Source::Peaks ? "peaks" : "raw", with.best, with.median, without.best,
                    without.median);
    }
    return 0;
}
