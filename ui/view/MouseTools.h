#pragma once
// MouseTools: the tools toolbar (Panel1) and what each tool does on the waveform view -- a click
// selects and auditions the segment under the mouse, a drag with the Select tool selects a free
// range, a slice point is dragged by its icon, and the Add, Enable/disable, Lock/unlock, Zoom,
// Silence/reverse, Copy/paste and Save segment tools act on the left and right buttons. Also the
// popup menu (PopupMenu1), Select All and Select Loop, and the window's keys, which it sees before
// the focused control does.
//
// Threads: main thread only.
#include <QCursor>
#include <QObject>
#include <QPoint>

#include <array>
#include <cstdint>

class QAction;
class QActionGroup;
class QKeyEvent;
class QMenu;
class QMouseEvent;
class QPainter;
class QToolBar;

namespace cleavix::ui {

class MainWindowHost;
class TWaveBox;

class MouseTools final : public QObject {
    Q_OBJECT
public:
    // The tools, numbered as their digit keys ("6", Zoom 1:1, is a command, not a tool).
    enum Tool { Select = 1, Add = 2, Enable = 3, Lock = 4, Zoom = 5, SilenceReverse = 7, CopyPaste = 8, SaveSegment = 9 };

    explicit MouseTools(MainWindowHost& form);

    // The tool actions, the popup menu and the selection items (children of the window).
    void buildActions();
    // Panel1, with the tools and Zoom 1:1; "Use old right mouse menu" applied.
    QToolBar* buildToolbar();
    // Select All and Select Loop, ahead of the Edit menu's slicing items.
    void fillEditMenu(QMenu& edit);
    // The preferences changed: "Use old right mouse menu" hides or shows the four tools.
    void applyPreferences();
    void updateEnabling();

    int tool() const { return tool_; }
    // Chooses a tool by its digit; "6" runs Zoom 1:1. Hidden tools are not chosen.
    void chooseTool(int digit);
    QMenu* popupMenu() const { return popup_; }

    // The waveform view's mouse.
    void mousePress(TWaveBox& box, QMouseEvent* event);
    void mouseMove(TWaveBox& box, QMouseEvent* event);
    void mouseRelease(TWaveBox& box, QMouseEvent* event);
    // The Add tool's guide line and a dragged point's cut line over the composed view.
    void paintOverlay(TWaveBox& box, QPainter& painter) const;

    // The digit keys, Space, and the segment keys "-", "+" and Enter; true when taken.
    bool keyPress(QKeyEvent* event);

    // What a left click of the Select tool selects: the segment under the mouse (and plays it), or
    // an insertion point that a drag widens into a range. "ToolDefault" chooses which comes
    // without Ctrl; with Ctrl held (tracked from its key down and up) the other one comes, and the
    // tool's pointer shows which.
    bool selectsRange(Qt::KeyboardModifiers modifiers = Qt::NoModifier) const;
    bool ctrlDown() const { return ctrlDown_; }

    // Selection commands: the selection list becomes [start, end) and the Selected button plays it.
    void selectRange(uint32_t start, uint32_t end);
    void selectAll();
    void selectLoop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A slice point's icon under the mouse.
    struct Hit {
        int candidate = -1; // index into the candidate list; -1: none
        uint8_t code = 1;   // the half it sits in (2 upper, 1 lower or whole)
    };
    enum class Hover { None, Split, Lock, Enable };

    bool usable() const;
    bool separateChannels() const;
    int codeAt(const TWaveBox& box, int y) const;
    uint32_t positionAt(const TWaveBox& box, int x) const;
    // The byte position under column x rounded to a whole 16-bit sample, inside the sample.
    uint32_t roundedPositionAt(const TWaveBox& box, int x) const;
    // The slice point starting the segment under `position` among the points of channel code `code`.
    int segmentUnder(uint32_t position, uint8_t code) const;
    int segmentAt(const TWaveBox& box, QPoint at) const;
    Hit iconAt(const TWaveBox& box, QPoint at) const;
    void updateHover(TWaveBox& box, QPoint at);
    void setViewCursor();
    void setCtrl(bool down);

    // Selects the segment starting at slice point `index`; the selection list takes its range.
    bool chooseSegment(int index);
    void selectAndPlay(int index);
    void zoomAt(const TWaveBox& box, int x, bool in);
    void copySegment(int index);
    void pasteIntoSegment(int index);
    void silenceSegment(int index, bool reverse);
    void saveSegment(int index);
    // Lock/unlock (lock) or enable/disable the point: each records its own undo.
    void togglePoint(const Hit& hit, bool lock);
    void openPopup(TWaveBox& box, QPoint at);
    void spaceKey();
    void clearPress();

    MainWindowHost& form_;
    std::array<QCursor, 10> cursors_; // tool cursors 1 to 9 (0: the arrow)
    int tool_ = Select;
    QActionGroup* group_ = nullptr;
    QMenu* popup_ = nullptr;
    QPoint popupAt_;

    // Mouse state.
    QPoint mouse_{-1, -1};   // last position over the view
    QPoint pressAt_;
    uint8_t clickedCode_ = 1;
    bool pressed_ = false;
    bool shiftZoomed_ = false;
    bool rangeArmed_ = false; // Select tool: a drag beyond the drag distance selects a range
    bool ranging_ = false;
    Hover hover_ = Hover::None;
    Hit hoverHit_;
    bool dragging_ = false; // a slice point is dragged
    bool moved_ = false;
    Hit dragHit_;
    int dragFromX_ = 0;
    int dragX_ = 0;
    bool guide_ = false; // the Add tool's guide line is shown at mouse_.x()
    bool ctrlDown_ = false;
};

} // namespace cleavix::ui
