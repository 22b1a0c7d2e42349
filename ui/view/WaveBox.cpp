#include "ui/view/WaveBox.h"

#include <QWheelEvent>

#include <QMouseEvent>
#include <QPainter>

namespace cleavix::ui {

TWaveBox::TWaveBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMouseTracking(true);
}

void TWaveBox::paintEvent(QPaintEvent*) {
    if (painting_) {
        return;
    }
    painting_ = true;
    QPainter painter(this);
    if (onPaint) {
        onPaint(*this, painter);
    } else {
        painter.fillRect(rect(), Qt::white);
    }
    painting_ = false;
}

void TWaveBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (onResize) {
        onResize(*this);
    }
    update();
}

void TWaveBox::mousePressEvent(QMouseEvent* event) {
    if (onMousePress) {
        onMousePress(*this, event);
    } else {
        QWidget::mousePressEvent(event);
    }
}

void TWaveBox::mouseMoveEvent(QMouseEvent* event) {
    if (onMouseMove) {
        onMouseMove(*this, event);
    }
    QWidget::mouseMoveEvent(event);
}

void TWaveBox::wheelEvent(QWheelEvent* event) {
    if (onWheel) {
        onWheel(*this, event);
        return;
    }
    QWidget::wheelEvent(event);
}

void TWaveBox::mouseReleaseEvent(QMouseEvent* event) {
    if (onMouseRelease) {
        onMouseRelease(*this, event);
    }
    QWidget::mouseReleaseEvent(event);
}

} // namespace cleavix::ui
