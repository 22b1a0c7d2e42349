#pragma once
// BarMouse: the mouse on the locator buttons and on the bars under the waveform.
//  - Locators L (`Button19`) and R (`Button21`): dragged with the left button inside the view; on
//    release they snap to a slice point (Slicer::dropLeft/dropRight), the tempo label follows and
//    a playing loop restarts with the new region.
//  - Segment bars (the upper strip of `PaintBox2`, and `Paintbox3` for the second channel in
//    separate-channel mode): releasing the left button zooms to the segment under the mouse, the
//    right button zooms 1:1; pressing on a segment and dragging drags the slice out as a file.
//  - Region bar (the lower strip of `PaintBox2`): the left button pages the view (outside the
//    highlighted range) or grabs and moves it (inside); the right button drags the nearer edge of
//    the range, zooming.
//
// Threads: main thread only.
#include "ui/view/ViewState.h"

#include <QObject>

#include <cstdint>
#include <memory>

class QMouseEvent;
class QPushButton;

namespace cleavix::ui {

class SegmentDragOut;
class MainWindowHost;
class TWaveBox;

// Sets the view to [start, end) after a region-bar step: a range of 0 bytes becomes 4, the range
// is shifted inside the sample, in stereo the start is rounded down to a whole frame, and the
// zoom factor becomes total / length.
void settleView(ViewState& view, int64_t start, int64_t end, uint32_t total, uint32_t frameBytes);

class BarMouse final : public QObject {
    Q_OBJECT
public:
    explicit BarMouse(MainWindowHost& form);
    ~BarMouse() override;
    // Takes the filters and mouse handlers off the form's widgets: the form calls this in its
    // destructor, since the widgets outlive the form's own members and still see events then.
    void detach();

    // Takes the mouse of the locator buttons and the bars.
    void attach();

    void press(TWaveBox& box, QMouseEvent* event);
    void move(TWaveBox& box, QMouseEvent* event);
    void release(TWaveBox& box, QMouseEvent* event);

    // The slice point that starts the segment under byte `position`, in the channel of the bar
    // (`secondBar`: Paintbox3); 0 is the segment before the first point.
    int segmentUnder(uint32_t position, bool secondBar) const;
    SegmentDragOut& dragOut() { return *dragOut_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Press { None, Segment, Page, Grab, Edge };
    bool locatorEvent(QPushButton* button, QEvent* event);
    bool inSegmentBar(int y) const;
    bool inRegionBar(int y) const;
    void zoomToSegment(TWaveBox& box, int x, bool secondBar);
    void startDragOut(TWaveBox& box);
    void regionStep(TWaveBox& box, int x, bool grab);

    MainWindowHost& form_;
    std::unique_ptr<SegmentDragOut> dragOut_;

    // Locator drag.
    QPushButton* locator_ = nullptr;
    int locatorPressX_ = 0; // global x of the press
    int locatorStartX_ = 0; // the button's x at the press

    // Bar press.
    Press press_ = Press::None;
    int pressX_ = 0;
    int pressY_ = 0;
    bool secondBar_ = false;
    int pageDirection_ = 0;
    int grabOffset_ = 0;
    bool edgeIsStart_ = false;
    bool dragged_ = false;
};

} // namespace cleavix::ui
