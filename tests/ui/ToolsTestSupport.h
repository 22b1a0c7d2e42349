#pragma once
// The mouse tools' tests share these: the demo loop cut to a grid of eighths, the waveform view's
// columns and segments, and real key and mouse clicks on it.
#include "ui/UiTest.h"

#include "ui/view/WaveBox.h"
#include "ui/view/WaveRenderer.h"

namespace cleavix::uitest::tools {

// Undo (or Redo) through the Edit menu's item, run to its completion.
inline bool undo(ui::TMainForm& w) {
    if (!w.action("Undo1")->isEnabled()) {
        return false;
    }
    w.action("Undo1")->trigger();
    return uitest::waitIdle(w);
}

// Shows the window, opens the demo loop through the File menu, and cuts it to a grid of locked
// eighths; the slider at its top shows every enabled point.
inline bool openGrid(ui::TMainForm& w, const Sandbox& box) {
    if (!uitest::openDemo(w, box) ||
        !w.session().slicer().setBarsAndBeats("1", "0")) {
        return false;
    }
    w.action("CutLoop8ths1")->trigger();
    if (!waitIdle(w)) {
        return false;
    }
    w.session().slicer().setSlider(65535);
    return w.session().slicer().slicePoints().count() >= 7;
}

inline ui::TWaveBox* view(ui::TMainForm& w) { return w.waveView(); }

inline int columnOf(ui::TMainForm& w, uint32_t position) {
    return ui::WaveRenderer::columnOf(position, w.view().start, w.view().length(), view(w)->width());
}

// The middle of the segment starting at slice point `index`, at mid height.
inline QPoint insideSegment(ui::TMainForm& w, int index) {
    const auto& list = w.session().slicer().slicePoints();
    const uint32_t mid = (list.at(index).position + slicing::segmentEnd(list, index)) / 2;
    return QPoint(columnOf(w, mid), view(w)->height() / 2);
}

inline void key(ui::TMainForm& w, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(&w, k, modifiers);
}

inline void click(ui::TMainForm& w, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mouseMove(view(w), at);
    QTest::mouseClick(view(w), button, modifiers, at);
}

} // namespace cleavix::uitest::tools
