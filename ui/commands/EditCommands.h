#pragma once
// EditCommands: the window's Edit, Process and slicing menu items that run engine commands
// without a dialog of their own (Undo/Redo, Cut, Clear, Copy, the pastes, Crop, Silence, Reverse,
// Invert, Cut Loop To, Re-cut, Randomise), their enabling, and the system clipboard. The mouse
// tools (MouseTools) use its clipboard path for Copy Segment and Paste Into Segment.
//
// Threads: main thread only.
#include <QObject>

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class QMimeData;
class QPainter;
class QToolBar;
class QWheelEvent;

namespace cleavix::ui {

class MainWindowHost;
class TWaveBox;

// The Wave MIME names the clipboard carries: the shared-mime-info name first, then its aliases.
QStringList waveMimeTypes();
// The wave image in `data` under the first Wave MIME name it holds; empty when it holds none.
QByteArray waveImageFrom(const QMimeData* data);

class EditCommands final : public QObject {
    Q_OBJECT
public:
    explicit EditCommands(MainWindowHost& form);

    // Creates the actions (children of the window, found by their object names).
    void buildActions();
    // Fills the Edit menu's head and the Process menu.
    void fillEditMenu(QMenu& edit);
    void fillProcessMenu(QMenu& process);
    // The Edit toolbar's Cut, Copy, Paste and Crop buttons, ahead of its other buttons.
    void fillEditToolbar(QToolBar& bar);
    // Enables the items from the engine's state and the clipboard; sets the Undo/Redo caption.
    void updateEnabling();

    // The wheel over the waveform: each step moves the view by 1000 x (view length div width)
    // bytes, down towards the start and up towards the end, inside the sample.
    void wheel(TWaveBox& box, QWheelEvent* event);

    // The selection list's cursor or range over the composed view.
    void paintSelection(TWaveBox& box, QPainter& painter) const;

    // The keys "-" (or "_") and "+" (or "="): the previous or next segment of the current channel,
    // selected and played, wrapping inside the loop region; Enter plays the selected segment.
    // True when the key was one of them and was taken.
    bool keyPress(int key);
    void stepSegment(int direction);

    // The commands (the menu items call these).
    void undo();
    void cut();
    // The toolbar's Cut: on one channel of a stereo sample it says why it cannot cut.
    void cutButton();
    void copy();
    void paste(bool findNew);
    void pasteToNew();
    void crop();

    // Shared with the mouse tools' segment commands.
    bool canEdit() const;
    // Takes the system clipboard's wave image into the engine; false when it holds none.
    bool takeClipboard();
    // Puts the engine's clipboard image on the system clipboard under the Wave MIME names.
    void toSystemClipboard();
    // The conversion dialog for a paste; -1 for Cancel.
    int askConversion(bool intoSegment);
    // After a command's completion: views, title and items.
    void finished();
    bool clipboardHasWave() const;

private:
    bool bothChannelsOrMono() const;
    void playSelectedSegment();

    MainWindowHost& form_;
};

} // namespace cleavix::ui
