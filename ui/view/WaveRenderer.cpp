#include "ui/view/WaveRenderer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace cleavix::ui {

namespace {

// A vertical run of pixels, clipped to the inside of the frame.
void vline(QImage& image, int x, int y0, int y1, QRgb colour) {
    if (x < 1 || x > image.width() - 2) {
        return;
    }
    if (y0 > y1) {
        std::swap(y0, y1);
    }
    y0 = std::max(y0, 1);
    y1 = std::min(y1, image.height() - 2);
    for (int y = y0; y <= y1; ++y) {
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
    }
}

void hline(QImage& image, int y, int x0, int x1, QRgb colour) {
    if (y < 0 || y >= image.height()) {
        return;
    }
    x0 = std::max(x0, 0);
    x1 = std::min(x1, image.width() - 1);
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = x0; x <= x1; ++x) {
        row[x] = colour;
    }
}

long nearest(double v) { return std::lrint(v); } // ties to even, like the rest of the program

} // namespace

void WaveRenderer::setSize(int width, int height) {
    width = std::max(width, 4);
    height = std::max(height, 4);
    if (width == width_ && height == height_) {
        return;
    }
    width_ = width;
    height_ = height;
    layoutChanged_ = true;
    dirty_ = true;
}

bool WaveRenderer::usePeaks(uint32_t viewLength, uint16_t channels, uint32_t blockBytes) {
    return double(viewLength) / (double(channels) * blockBytes * 2.0) > 1000.0;
}

int WaveRenderer::columnOf(uint32_t position, uint32_t viewStart, uint32_t viewLength, int width) {
    if (viewLength == 0) {
        return 0;
    }
    return int(std::floor((double(position) - double(viewStart)) * width / double(viewLength)));
}

QRgb WaveRenderer::penFor(const WaveInput& in, int channel, int column, int selFirst, int selLast) const {
    if (!in.channelOn[channel]) {
        return in.colours[ColDisabledChannel].rgb();
    }
    const bool selectionHere = in.hasSelection && (in.selectionChannel == 0 || in.selectionChannel == channel + 1);
    if (selectionHere && column >= selFirst && column <= selLast) {
        return in.colours[ColSelectedWave].rgb();
    }
    return in.colours[ColWaveform].rgb();
}

void WaveRenderer::renderWaveform(const WaveInput& in) {
    if (layoutChanged_) {
        cached_ = QImage(width_, height_, QImage::Format_RGB32);
        clean_ = QImage(width_, height_, QImage::Format_RGB32);
        dirty_ = true;
    }
    if (!dirty_) {
        clean_ = cached_.copy();
        return;
    }
    const int W = width_;
    const int H = height_;
    QImage& image = cached_;
    const bool haveSample = in.loaded && in.store != nullptr && in.store->dataLength() > 0;
    image.fill(haveSample ? in.colours[ColBackground] : in.buttonFace);
    source_ = Source::None;

    const uint16_t channels = haveSample ? in.store->format().channels : 1;
    const int M = H / 2;
    const int Q = H / 4;
    const QRgb zero = in.colours[ColZeroLine].rgb();
    if (haveSample) {
        if (channels == 2) {
            hline(image, Q, 1, W - 2, zero);
            hline(image, 3 * Q + 1, 1, W - 2, zero);
        } else {
            hline(image, M, 1, W - 2, zero);
        }
        const uint32_t viewLength = in.viewEnd > in.viewStart ? in.viewEnd - in.viewStart : 0;
        if (viewLength > 0) {
            const double scale = channels == 2 ? (H - 2) / (2.0 * 65535.0) : (H - 2) / 65535.0;
            const bool peaks = in.peaks != nullptr && in.peaks->entries() > 0 &&
                               usePeaks(viewLength, channels, in.peaks->blockBytes());
            source_ = peaks ? Source::Peaks : Source::Raw;
            for (int c = 0; c < channels; ++c) {
                const int base = channels == 2 ? (c == 0 ? Q : 3 * Q + 1) : M;
                if (peaks) {
                    drawPeaks(in, image, c, base, scale);
                } else {
                    drawRaw(in, image, c, base, scale);
                }
            }
        }
    }
    // The one-pixel black frame.
    const QRgb black = qRgb(0, 0, 0);
    hline(image, 0, 0, W - 1, black);
    hline(image, H - 1, 0, W - 1, black);
    for (int y = 0; y < H; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        row[0] = black;
        row[W - 1] = black;
    }
    dirty_ = false;
    layoutChanged_ = false;
    clean_ = cached_.copy();
}

void WaveRenderer::drawRaw(const WaveInput& in, QImage& image, int channel, int base, double scale) {
    const auto& format = in.store->format();
    const uint32_t frameBytes = format.blockAlign();
    const int W = width_;
    const double b = double(in.viewEnd - in.viewStart) / double(W - 2);
    const uint32_t dataLength = in.store->dataLength();
    const int selFirst = columnOf(in.selectionStart, in.viewStart, in.viewEnd - in.viewStart, W);
    const int selLast = columnOf(in.selectionEnd, in.viewStart, in.viewEnd - in.viewStart, W);

    // Sequential reads through the work buffer: whole frames, ascending.
    const uint32_t bufferFrames = uint32_t(work_.size()) / format.channels;
    int64_t bufferFirst = -1; // frame index of work_[0]
    uint32_t bufferCount = 0;
    auto sampleAt = [&](uint32_t frame) -> int {
        if (bufferFirst < 0 || frame < bufferFirst || frame >= bufferFirst + bufferCount) {
            bufferFirst = frame;
            const uint32_t framesLeft = dataLength / frameBytes > frame ? dataLength / frameBytes - frame : 0;
            bufferCount = std::min(bufferFrames, std::max<uint32_t>(framesLeft, 1));
            in.store->readSamples(int64_t(frame) * frameBytes, work_.data(), size_t(bufferCount) * format.channels);
        }
        return work_[size_t(frame - bufferFirst) * format.channels + size_t(channel)];
    };

    QPainter painter(&image);
    painter.setClipRect(1, 1, W - 2, height_ - 2);
    bool havePrevious = false;
    QPoint previous;
    for (int x = 1; x <= W - 2; ++x) {
        const uint32_t from = uint32_t(nearest((x - 1) * b + in.viewStart)) / frameBytes;
        uint32_t to = uint32_t(nearest(x * b + in.viewStart)) / frameBytes;
        if (to <= from) {
            to = from + 1;
        }
        int mx = -32768;
        int mn = 32767;
        for (uint32_t f = from; f < to; ++f) {
            const int s = sampleAt(f);
            mx = std::max(mx, s);
            mn = std::min(mn, s);
        }
        const QRgb pen = penFor(in, channel, x, selFirst, selLast);
        painter.setPen(QColor::fromRgb(pen));
        const QPoint top(x, base - int(nearest(mx * scale)));
        const QPoint bottom(x, base - int(nearest(mn * scale)));
        if (havePrevious) {
            painter.drawLine(previous, top);
        }
        painter.drawLine(bottom, top);
        previous = top;
        havePrevious = true;
    }
}

void WaveRenderer::drawPeaks(const WaveInput& in, QImage& image, int channel, int base, double scale) {
    const sample::PeakTable& table = *in.peaks;
    const uint32_t block = table.blockBytes();
    const int W = width_;
    const double b = double(in.viewEnd - in.viewStart) / double(W - 2);
    const int selFirst = columnOf(in.selectionStart, in.viewStart, in.viewEnd - in.viewStart, W);
    const int selLast = columnOf(in.selectionEnd, in.viewStart, in.viewEnd - in.viewStart, W);
    const PeakSummary empty;
    const PeakSummary& summary = in.summary != nullptr ? *in.summary : empty;
    for (int x = 1; x <= W - 2; ++x) {
        const double firstByte = (x - 1) * b + in.viewStart;
        const double lastByte = std::max(firstByte, x * b + in.viewStart - 1);
        const PeakRange r = summary.range(table, uint16_t(channel), uint64_t(firstByte) / block,
                                          uint64_t(lastByte) / block);
        if (r.empty()) {
            continue;
        }
        const QRgb pen = penFor(in, channel, x, selFirst, selLast);
        const int top = base - int(std::trunc(r.max * scale));
        const int bottom = base - int(std::trunc(r.min * scale));
        vline(image, x, top, bottom, pen);
        if (r.max - r.min < 4) {
            vline(image, x + 1, bottom, bottom, pen); // quiet stretches stay visible
        }
    }
}

void WaveRenderer::composeView(const WaveInput& in, const OverlayInput& overlay) {
    if (!in.loaded || in.store == nullptr || clean_.isNull()) {
        return;
    }
    const int W = width_;
    const int H = height_;
    const int M = H / 2;
    const uint32_t viewLength = in.viewEnd > in.viewStart ? in.viewEnd - in.viewStart : 0;
    if (viewLength == 0) {
        return;
    }
    const bool stereo = in.store->format().channels == 2;
    QPainter painter(&clean_);
    auto iconAt = [&](const QImage* icon, int x, int code) {
        if (icon == nullptr || icon->isNull()) {
            return;
        }
        const int bottom = H / std::max(code, 1) - 1;
        painter.drawImage(QPoint(x + 1, std::max(1, bottom - icon->height())), *icon);
    };
    if (overlay.candidates != nullptr && overlay.showEnable) {
        const auto& c = *overlay.candidates;
        for (int i = 1; i <= c.count(); ++i) {
            const auto& p = c.at(i);
            if (p.enabled == 0 && p.locked == 0 && p.position > in.viewStart && p.position < in.viewEnd) {
                iconAt(overlay.disabledIcon, columnOf(p.position, in.viewStart, viewLength, W),
                       overlay.linked || !stereo ? 1 : std::max<int>(p.channel, 1));
            }
        }
    }
    if (overlay.points != nullptr) {
        const auto& list = *overlay.points;
        const QColor cut = in.colours[ColCutLine];
        for (int i = 1; i <= list.count(); ++i) {
            const auto& p = list.at(i);
            if (p.position <= in.viewStart || p.position >= in.viewEnd) {
                continue;
            }
            const int x = columnOf(p.position, in.viewStart, viewLength, W);
            const int code = overlay.linked || !stereo ? 1 : std::max<int>(p.channel, 1);
            if (p.locked != 0 && overlay.showLock) {
                iconAt(overlay.lockIcon, x, code);
            } else if (overlay.showIcon) {
                iconAt(overlay.sampleIcon, x, code);
            }
            painter.setPen(cut);
            if (!stereo || overlay.linked) {
                painter.drawLine(x, 1, x, H - 2);
            } else if (code == slicing::kCodeFirst) {
                painter.drawLine(x, 1, x, M + 1);
            } else {
                painter.drawLine(x, M, x, H - 2);
            }
        }
    }
    if (in.hasSelection) {
        painter.setPen(in.colours[ColSelectedBG]);
        const int y0 = in.selectionChannel == 2 ? M : 1;
        const int y1 = in.selectionChannel == 1 ? M : H - 2;
        for (uint32_t edge : {in.selectionStart, in.selectionEnd}) {
            if (edge >= in.viewStart && edge <= in.viewEnd) {
                const int x = std::clamp(columnOf(edge, in.viewStart, viewLength, W), 1, W - 2);
                painter.drawLine(x, y0, x, y1);
            }
        }
    }
    if (stereo) {
        painter.setPen(Qt::black);
        painter.drawLine(1, M, W - 2, M);
    }
}

} // namespace cleavix::ui
