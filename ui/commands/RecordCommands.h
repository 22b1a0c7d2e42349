#pragma once
// RecordCommands: the record command of the window -- the File menu's "&Record..." and the Play
// toolbar's record button. It asks the session for a take, shows the "Record" dialog over it
// without blocking, and when the dialog closes with something recorded hands the take back to
// the session to become the sample ("Untitled.wav", peaks rebuilt behind "Processing", the slice
// search when scanning on load). A take not kept replaces nothing.
//
// Threads: main thread only.
#include <QObject>

#include <memory>

class QMenu;
class QToolBar;
class QToolButton;

namespace cleavix::session {
class RecordTake;
}

namespace cleavix::ui {

class MainWindowHost;
class TRecordForm;

class RecordCommands final : public QObject {
    Q_OBJECT
public:
    explicit RecordCommands(MainWindowHost& form);
    // A dialog still open goes without keeping its take (the window is closing).
    ~RecordCommands() override;

    void buildActions();
    // "&Record..." after "Close".
    void fillFileMenu(QMenu& file);
    void fillPlayToolbar(QToolBar& bar);
    // The button's caption beside its picture, as the other Play buttons show theirs.
    void applyLegend(bool legend);

    // DoRecord: the dialog over a new take (nothing when the session is busy or a take is open).
    void record();
    // The dialog while it shows, else null.
    TRecordForm* dialog() const { return dialog_; }
    // The take the dialog records into, while it shows.
    session::RecordTake* take() const { return take_.get(); }
    QToolButton* toolbarButton() const { return button_; }

private:
    void finished(int result);
    void refreshWhenIdle();

    MainWindowHost& form_;
    std::shared_ptr<session::RecordTake> take_;
    TRecordForm* dialog_ = nullptr;
    QToolButton* button_ = nullptr;
};

} // namespace cleavix::ui
