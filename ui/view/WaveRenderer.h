#pragma once
// The waveform image of the main view, computed without any widget: the waveform alone (the cached
// image, recomputed only when the view is dirty) and the clean image (the cached one with the slice
// points, their icons and the selection drawn over it). The view widget copies the clean image to
// the screen and draws the play cursor over it. The redraw benchmark drives this class directly.
//
// Main thread only, and never while a worker owns the store.
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "slicing/SlicePoint.h"
#include "ui/platform/Config.h"
#include "ui/view/PeakSummary.h"

#include <QImage>

#include <cstdint>
#include <vector>

namespace cleavix::ui {

// What the waveform shows.
struct WaveInput {
    const sample::SampleStore* store = nullptr;
    const sample::PeakTable* peaks = nullptr;
    const PeakSummary* summary = nullptr;
    bool loaded = false;
    uint32_t viewStart = 0;
    uint32_t viewEnd = 0;
    ColourSet colours = builtInColours();
    QColor buttonFace = QColor(239, 239, 239);
    bool channelOn[2] = {true, true}; // the View menu's channel items
    // The selection (byte range); channel 0 both, 1 the first channel's half, 2 the second's.
    bool hasSelection = false;
    uint32_t selectionStart = 0;
    uint32_t selectionEnd = 0;
    int selectionChannel = 0;
};

// What is drawn over the waveform.
struct OverlayInput {
    const slicing::SlicePointList* points = nullptr;
    const slicing::CandidateList* candidates = nullptr;
    bool linked = true;
    bool showIcon = true, showLock = true, showEnable = true;
    const QImage* sampleIcon = nullptr;
    const QImage* lockIcon = nullptr;
    const QImage* disabledIcon = nullptr;
};

class WaveRenderer {
public:
    enum class Source { None, Raw, Peaks };

    // The view's size changed: images and scales are rebuilt on the next render.
    void setSize(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    void markDirty() { dirty_ = true; }
    bool dirty() const { return dirty_; }

    // RenderWaveform: recomputes the cached image when dirty (or the layout changed), then copies
    // it into the clean image.
    void renderWaveform(const WaveInput& in);
    // ComposeView: the points, icons and selection edges over the clean image.
    void composeView(const WaveInput& in, const OverlayInput& overlay);

    const QImage& cleanImage() const { return clean_; }
    const QImage& cachedImage() const { return cached_; }
    // Which source the last recomputation drew from.
    Source lastSource() const { return source_; }
    // The peak cache is used when more than this many peak blocks are visible.
    static bool usePeaks(uint32_t viewLength, uint16_t channels, uint32_t blockBytes);

    // Pixel column of a byte position: (position - view start) * width / view length.
    static int columnOf(uint32_t position, uint32_t viewStart, uint32_t viewLength, int width);

private:
    void drawRaw(const WaveInput& in, QImage& image, int channel, int base, double scale);
    void drawPeaks(const WaveInput& in, QImage& image, int channel, int base, double scale);
    QRgb penFor(const WaveInput& in, int channel, int column, int selFirst, int selLast) const;

    int width_ = 0;
    int height_ = 0;
    bool dirty_ = true;
    bool layoutChanged_ = true;
    QImage cached_;
    QImage clean_;
    Source source_ = Source::None;
    std::vector<int16_t> work_ = std::vector<int16_t>(70000); // raw reads go through this buffer
};

} // namespace cleavix::ui
