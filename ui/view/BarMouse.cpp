#include "ui/view/BarMouse.h"

#include "ui/view/Artwork.h"
#include "ui/view/SegmentDrag.h"
#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"
#include "ui/view/ViewState.h"
#include "ui/view/WaveBox.h"

#include <QMainWindow>
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace cleavix::ui {

void settleView(ViewState& view, int64_t start, int64_t end, uint32_t total, uint32_t frameBytes) {
    if (total == 0) {
        view.whole(0);
        return;
    }
    if (end - start <= 0) {
        end = start + 4;
    }
    int64_t length = std::min<int64_t>(end - start, total);
    if (start < 0) {
        start = 0;
    }
    if (start + length > int64_t(total)) {
        start = int64_t(total) - length;
    }
    if (frameBytes == 4) {
        start &= ~int64_t(3);
    }
    view.start = uint32_t(start);
    view.end = uint32_t(std::min<int64_t>(start + length, total));
    view.zoom = double(total) / double(view.length());
    view.zoomInEnabled = view.zoom < ViewState::kMaxZoom;
    view.zoomOutEnabled = view.zoom > 1.0;
}

BarMouse::BarMouse(MainWindowHost& form)
    : QObject(&form.mainWindow()), form_(form), dragOut_(std::make_unique<SegmentDragOut>(form.session())) {}

BarMouse::~BarMouse() = default;

void BarMouse::detach() {
    for (QPushButton* b : {form_.locatorL(), form_.locatorR()}) {
        if (b != nullptr) {
            b->removeEventFilter(this);
        }
    }
    for (TWaveBox* box : {form_.barView(), form_.segmentBar2()}) {
        if (box != nullptr) {
            box->onMousePress = nullptr;
            box->onMouseMove = nullptr;
            box->onMouseRelease = nullptr;
        }
    }
}

void BarMouse::attach() {
    for (QPushButton* b : {form_.locatorL(), form_.locatorR()}) {
        b->installEventFilter(this);
    }
    for (TWaveBox* box : {form_.barView(), form_.segmentBar2()}) {
        box->onMousePress = [this](TWaveBox& b, QMouseEvent* e) { press(b, e); };
        box->onMouseMove = [this](TWaveBox& b, QMouseEvent* e) { move(b, e); };
        box->onMouseRelease = [this](TWaveBox& b, QMouseEvent* e) { release(b, e); };
    }
}

// ---------------------------------------------------------------------------------------------
// Locators

bool BarMouse::eventFilter(QObject* watched, QEvent* event) {
    if (watched == form_.locatorL() || watched == form_.locatorR()) {
        return locatorEvent(static_cast<QPushButton*>(watched), event);
    }
    return QObject::eventFilter(watched, event);
}

bool BarMouse::locatorEvent(QPushButton* button, QEvent* event) {
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick) {
        return false;
    }
    auto* e = static_cast<QMouseEvent*>(event);
    auto& session = form_.session();
    if (!session.loaded() || session.busy()) {
        locator_ = nullptr;
        return true;
    }
    const bool isLeft = button == form_.locatorL();
    // The view's edges in the locator strip's coordinates.
    const int viewLeft = form_.waveLeftInLocatorStrip();
    const int W = form_.waveView()->width();
    const int globalX = int(std::lround(e->globalPosition().x()));
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        if (e->button() == Qt::LeftButton) {
            locator_ = button;
            locatorPressX_ = globalX;
            locatorStartX_ = button->x();
        }
        return true;
    }
    if (locator_ != button) {
        return true;
    }
    // L's left edge and R's right edge stay inside the view.
    const int lowest = isLeft ? viewLeft : viewLeft - button->width();
    const int highest = isLeft ? viewLeft + W : viewLeft + W - button->width();
    const int x = std::clamp(locatorStartX_ + globalX - locatorPressX_, lowest, highest);
    button->move(x, button->y());
    if (type == QEvent::MouseMove) {
        return true;
    }
    if (e->button() != Qt::LeftButton) {
        return true;
    }
    locator_ = nullptr;
    const int edge = (isLeft ? x : x + button->width()) - viewLeft;
    const uint32_t position = form_.viewState().positionAt(edge, W);
    auto& slicer = session.slicer();
    slicer.rebuild();
    if (isLeft) {
        slicer.dropLeft(position);
    } else {
        slicer.dropRight(position);
    }
    form_.slicesChanged(); // the buttons onto their points, the tempo label, the views
    form_.transport()->locatorDropped(form_.transportInput());
    form_.updateEnabling();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Bars

bool BarMouse::inSegmentBar(int y) const {
    if (!form_.config().showSegmentBar) {
        return false;
    }
    // The row the two bars share belongs to the region bar when it shows.
    return form_.config().showRegionBar ? y < form_.splitRow() - 1 : y < form_.splitRow();
}

bool BarMouse::inRegionBar(int y) const { return form_.config().showRegionBar && !inSegmentBar(y) && y >= 0; }

int BarMouse::segmentUnder(uint32_t position, bool secondBar) const {
    const auto& session = form_.session();
    const auto& slicer = form_.session().slicer();
    uint8_t code = 0;
    if (session.format().channels == 2 && !slicer.linked()) {
        code = secondBar ? slicing::kCodeSecondOrMono : slicing::kCodeFirst;
    }
    return slicer.segmentAt(position, code);
}

void BarMouse::press(TWaveBox& box, QMouseEvent* event) {
    press_ = Press::None;
    dragged_ = false;
    auto& session = form_.session();
    if (!session.loaded() || session.busy()) {
        return;
    }
    const int x = int(event->position().x());
    const int y = int(event->position().y());
    pressX_ = x;
    pressY_ = y;
    secondBar_ = &box == form_.segmentBar2();
    if (secondBar_ || inSegmentBar(y)) {
        press_ = Press::Segment;
        return;
    }
    const auto held = event->buttons() & (Qt::LeftButton | Qt::RightButton);
    if (!inRegionBar(y) || (held != Qt::LeftButton && held != Qt::RightButton)) {
        return;
    }
    const auto& view = form_.viewState();
    const double total = session.format().dataLength;
    const int W = std::max(1, box.width());
    const int leftPx = int(double(view.start) / total * W);
    const int rightPx = int(double(view.end) / total * W);
    if (held == Qt::LeftButton) {
        if (x < leftPx) {
            press_ = Press::Page;
            pageDirection_ = -1;
        } else if (x > rightPx) {
            press_ = Press::Page;
            pageDirection_ = 1;
        } else {
            press_ = Press::Grab;
            grabOffset_ = x - leftPx;
        }
    } else {
        press_ = Press::Edge;
        edgeIsStart_ = x < (leftPx + rightPx) / 2;
        box.setCursor(art::toolCursor(4));
    }
}

void BarMouse::move(TWaveBox& box, QMouseEvent* event) {
    const int x = int(event->position().x());
    switch (press_) {
    case Press::Segment:
        if ((event->buttons() & Qt::LeftButton) && !dragged_ &&
            (QPoint(x, int(event->position().y())) - QPoint(pressX_, pressY_)).manhattanLength() >=
                QApplication::startDragDistance()) {
            dragged_ = true;
            startDragOut(box);
        }
        break;
    case Press::Grab:
    case Press::Edge:
        dragged_ = true;
        regionStep(box, x, press_ == Press::Grab);
        break;
    default:
        break;
    }
}

void BarMouse::regionStep(TWaveBox& box, int x, bool grab) {
    auto& view = form_.viewState();
    const auto& format = form_.session().format();
    const uint32_t total = format.dataLength;
    const int W = std::max(1, box.width());
    const uint32_t frame = format.blockAlign();
    if (grab) {
        int64_t start = int64_t(std::floor(double(x - grabOffset_) / W * total));
        start -= ((start % frame) + frame) % frame;
        settleView(view, start, start + view.length(), total, frame);
    } else {
        // The edge nearer the press follows the mouse; it never crosses the other edge.
        const int clamped = std::clamp(x, 0, W);
        const int64_t at = int64_t(double(clamped) / W * total) & ~int64_t(3);
        if (edgeIsStart_) {
            settleView(view, std::min<int64_t>(at, int64_t(view.end) - 4), view.end, total, frame);
        } else {
            settleView(view, view.start, std::max<int64_t>(at, int64_t(view.start) + 4), total, frame);
        }
    }
    form_.viewChanged();
}

void BarMouse::release(TWaveBox& box, QMouseEvent* event) {
    const Press was = press_;
    press_ = Press::None;
    auto& session = form_.session();
    if (!session.loaded() || session.busy()) {
        box.unsetCursor();
        return;
    }
    const int x = int(event->position().x());
    switch (was) {
    case Press::Segment:
        if (dragged_) {
            break;
        }
        if (event->button() == Qt::LeftButton) {
            zoomToSegment(box, x, secondBar_);
        } else if (event->button() == Qt::RightButton) {
            form_.Zoom11();
        }
        break;
    case Press::Page: {
        auto& view = form_.viewState();
        const int64_t length = view.length();
        const int64_t start = int64_t(view.start) + pageDirection_ * length;
        settleView(view, start, start + length, session.format().dataLength, session.format().blockAlign());
        form_.viewChanged();
        break;
    }
    case Press::Grab:
    case Press::Edge:
        box.unsetCursor();
        if (dragged_) {
            regionStep(box, x, was == Press::Grab);
        }
        form_.redrawWave(false);
        break;
    case Press::None:
        break;
    }
    dragged_ = false;
}

void BarMouse::zoomToSegment(TWaveBox& box, int x, bool secondBar) {
    const uint32_t position = form_.viewState().positionAt(x, box.width());
    form_.zoomToSegmentIndex(segmentUnder(position, secondBar));
}

void BarMouse::startDragOut(TWaveBox& box) {
    const uint32_t position = form_.viewState().positionAt(pressX_, box.width());
    const int index = segmentUnder(position, secondBar_);
    QString error;
    auto data = dragOut_->prepare(index, &error);
    if (!data) {
        form_.showHint(error);
        return;
    }
    auto* drag = new QDrag(&box);
    drag->setMimeData(data.release());
    drag->setPixmap(art::glyph(art::Glyph::SaveSegments).pixmap(24, 24));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

} // namespace cleavix::ui
