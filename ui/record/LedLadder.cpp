#include "ui/record/LedLadder.h"

#include "ui/platform/Config.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace cleavix::ui {

LedColours LedColours::defaults() {
    return {colourFromConfigText("$000000FF"), colourFromConfigText("$000080FF"), colourFromConfigText("$0000FF00"),
            colourFromConfigText("$00000080"), colourFromConfigText("$000054A8"), colourFromConfigText("$00008000")};
}

TLedLadder::TLedLadder(QWidget* parent) : QWidget(parent) {
    setObjectName("TLedLadder");
    resize(30, 200);
}

void TLedLadder::changed() { update(); }

void TLedLadder::setOrientation(Qt::Orientation orientation) {
    orientation_ = orientation;
    changed();
}

void TLedLadder::setLedCount(int count) {
    ledCount_ = std::max(1, count);
    changed();
}

void TLedLadder::setCtl3D(bool on) {
    ctl3d_ = on;
    changed();
}

void TLedLadder::setSpacing(int pixels) {
    spacing_ = std::max(0, pixels);
    changed();
}

void TLedLadder::setMin(int value) {
    min_ = value;
    changed();
}

void TLedLadder::setMax(int value) {
    max_ = value;
    changed();
}

void TLedLadder::setPosition(int value) {
    position_ = value;
    changed();
}

void TLedLadder::setBorderSingle(bool on) {
    borderSingle_ = on;
    changed();
}

void TLedLadder::setColours(const LedColours& colours) {
    colours_ = colours;
    changed();
}

int TLedLadder::litCount() const {
    // A ladder with no range shows nothing rather than dividing by zero.
    if (max_ <= min_) {
        return 0;
    }
    const double share = (double(position_) - min_) / (double(max_) - min_);
    return std::clamp(int(std::lround(share * ledCount_)), 0, ledCount_);
}

QColor TLedLadder::ledColour(int index) const {
    const int t9 = int(std::lround(0.9 * ledCount_));
    const int t8 = int(std::lround(0.8 * ledCount_));
    const bool lit = index < litCount();
    if (index > t9) {
        return lit ? colours_.red : colours_.darkRed;
    }
    if (index > t8) {
        return lit ? colours_.orange : colours_.brown;
    }
    return lit ? colours_.green : colours_.darkGreen;
}

void TLedLadder::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor highlight = palette().color(QPalette::Light);
    const bool horizontal = orientation_ == Qt::Horizontal;
    for (int i = 0; i < ledCount_; ++i) {
        QRect led;
        if (horizontal) {
            const int x = i * width() / ledCount_;
            led = QRect(x, 0, std::max(1, width() / ledCount_ - spacing_), height());
        } else {
            const int step = height() / ledCount_;
            const int bottom = height() - i * height() / ledCount_;
            led = QRect(0, bottom - step, width(), std::max(1, step - spacing_));
        }
        p.fillRect(led, ledColour(i));
        if (ctl3d_ && led.width() > 2 && led.height() > 2) {
            p.setPen(shadow);
            p.drawLine(led.topLeft(), led.topRight());
            p.drawLine(led.topLeft(), led.bottomLeft());
            p.setPen(highlight);
            p.drawLine(led.bottomLeft(), led.bottomRight());
            p.drawLine(led.topRight(), led.bottomRight());
        }
    }
    if (borderSingle_) {
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace cleavix::ui
