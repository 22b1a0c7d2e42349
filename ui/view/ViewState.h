#pragma once
// The waveform view's visible range and zoom factor (byte offsets into the sample), with the zoom
// commands. Plain values, so the window and its tests share one implementation.
#include <QString>

#include <cstdint>

namespace cleavix::ui {

struct ViewState {
    static constexpr double kMaxZoom = 512.0;

    uint32_t start = 0;
    uint32_t end = 0;
    double zoom = 1.0;
    bool zoomInEnabled = true;
    bool zoomOutEnabled = false;

    uint32_t length() const { return end > start ? end - start : 0; }

    // The whole sample at zoom 1.0 ("Zoom (1:1)", and after a load).
    void whole(uint32_t total);
    // UpdateView: the range kept inside a sample of `total` bytes after the length changed.
    void update(uint32_t total, uint32_t frameBytes);
    // "Zoom In" / "Zoom Out", centred on the byte position `centre`.
    void zoomIn(uint32_t centre, uint32_t total, uint32_t frameBytes);
    void zoomOut(uint32_t centre, uint32_t total, uint32_t frameBytes);
    // "Zoom To Segment": the range [from, to), both rounded down to whole frames of 4 bytes.
    void zoomTo(uint32_t from, uint32_t to, uint32_t total);

    // The byte position under pixel column x of a view `width` pixels wide.
    uint32_t positionAt(int x, int width) const;

private:
    void centreOn(uint32_t centre, uint32_t total, uint32_t frameBytes);
};

// The status bar's zoom panel: "x", the zoom as a whole number in two characters, ".0".
QString zoomText(double zoom);

} // namespace cleavix::ui
