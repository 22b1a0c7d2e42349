#pragma once
// ChannelPoints: the control that chooses, for a stereo sample, whether the slice points are shared
// by both channels ("L + R") or each channel has its own ("L / R") -- a View menu item beside the
// channel items and a View toolbar button that names the mode. Switching searches the points
// afresh for the new mode; Undo gives the old points back with their mode.
//
// Threads: main thread only.
#include <QObject>

class QAction;
class QMenu;
class QToolBar;
class QToolButton;

namespace cleavix::ui {

class TMainForm;

class ChannelPoints final : public QObject {
    Q_OBJECT
public:
    explicit ChannelPoints(TMainForm& form);

    // "SeparatePoints1" (a child of the window).
    void buildActions();
    // After the Left and Right Channel items.
    void fillViewMenu(QMenu& view);
    void fillToolbar(QToolBar& bar);
    void updateEnabling();
    // Switches to shared (true) or separate points; false when it cannot now.
    bool setShared(bool shared);
    QToolButton* button() const { return button_; }

private:
    TMainForm& form_;
    QAction* action_ = nullptr;
    QToolButton* button_ = nullptr;
};

} // namespace cleavix::ui
