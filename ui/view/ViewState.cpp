#include "ui/view/ViewState.h"

#include <algorithm>
#include <cmath>

namespace cleavix::ui {

void ViewState::whole(uint32_t total) {
    start = 0;
    end = total;
    zoom = 1.0;
    zoomInEnabled = total > 0;
    zoomOutEnabled = false;
}

void ViewState::update(uint32_t total, uint32_t frameBytes) {
    const uint32_t previousLength = length();
    if (end > total || zoom == 1.0) {
        end = total;
    }
    if (start > total) {
        const int64_t back = int64_t(end) - int64_t(previousLength / 4 * 4);
        start = back < 0 ? 0 : uint32_t(back);
    }
    if (start > end) {
        start = end;
    }
    if (end == start && total > 0) {
        // An empty view of a sample shows one frame.
        if (end + frameBytes <= total) {
            end = start + frameBytes;
        } else {
            start = total >= frameBytes ? total - frameBytes : 0;
            end = total;
        }
    }
    zoom = length() > 0 ? double(total) / double(length()) : 1.0;
}

void ViewState::centreOn(uint32_t centre, uint32_t total, uint32_t frameBytes) {
    const double frames = double(total / frameBytes);
    const double centreFrame = double(centre / frameBytes);
    int64_t s = std::llrint(centreFrame - frames / (2.0 * zoom)) * frameBytes;
    int64_t e = std::llrint(centreFrame + frames / (2.0 * zoom)) * frameBytes;
    if (s < 0) {
        e -= s;
        s = 0;
    }
    if (e > int64_t(total)) {
        s -= e - int64_t(total);
        e = total;
    }
    s = std::max<int64_t>(s, 0);
    if (frameBytes == 4) {
        s &= ~int64_t(3);
    }
    if (e <= s) {
        e = std::min<int64_t>(s + frameBytes, total);
        s = std::max<int64_t>(0, e - frameBytes);
    }
    start = uint32_t(s);
    end = uint32_t(e);
    zoom = length() > 0 ? double(total) / double(length()) : 1.0;
}

void ViewState::zoomIn(uint32_t centre, uint32_t total, uint32_t frameBytes) {
    if (total == 0) {
        return;
    }
    zoom *= 2.0;
    if (zoom > kMaxZoom) {
        zoom = kMaxZoom;
        zoomInEnabled = false;
    }
    centreOn(centre, total, frameBytes);
    zoomOutEnabled = true;
}

void ViewState::zoomOut(uint32_t centre, uint32_t total, uint32_t frameBytes) {
    if (total == 0) {
        return;
    }
    // The factor was recomputed from the view (3.99 for a view a frame longer than a quarter):
    // halve the whole number it stands for.
    zoom = std::trunc(std::round(zoom) / 2.0);
    zoomInEnabled = true;
    if (zoom < 2.0) {
        whole(total);
        return;
    }
    centreOn(centre, total, frameBytes);
    zoomOutEnabled = true;
}

void ViewState::zoomTo(uint32_t from, uint32_t to, uint32_t total) {
    from &= ~3u;
    to &= ~3u;
    if (to <= from || total == 0) {
        return;
    }
    start = from;
    end = std::min(to, total);
    zoom = double(total) / double(length());
    zoomInEnabled = zoom < 128.0;
    zoomOutEnabled = zoom > 1.0;
}

uint32_t ViewState::positionAt(int x, int width) const {
    if (width <= 0) {
        return start;
    }
    const double f = std::clamp(double(x) / double(width), 0.0, 1.0);
    return start + uint32_t(f * double(length()));
}

// Rounded: a view one frame short of half the sample is still shown as "x 2.0", not "x 1.0".
QString zoomText(double zoom) { return QString("x%1.0").arg(int(std::lround(zoom)), 2); }

} // namespace cleavix::ui
