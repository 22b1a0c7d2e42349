#pragma once
// TWaveBox: the paint box the views are made of. Opaque (it never erases its background), paints
// through its paint handler with a guard against re-entry, and repaints itself when resized.
#include <QWidget>

#include <functional>

namespace cleavix::ui {

class TWaveBox final : public QWidget {
    Q_OBJECT
public:
    explicit TWaveBox(QWidget* parent = nullptr);

    std::function<void(TWaveBox&, QPainter&)> onPaint;
    std::function<void(TWaveBox&, QMouseEvent*)> onMousePress;
    std::function<void(TWaveBox&, QMouseEvent*)> onMouseMove;
    std::function<void(TWaveBox&, QMouseEvent*)> onMouseRelease;
    std::function<void(TWaveBox&, QWheelEvent*)> onWheel;
    std::function<void(TWaveBox&)> onResize;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool painting_ = false;
};

} // namespace cleavix::ui
