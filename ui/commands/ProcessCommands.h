#pragma once
// ProcessCommands: the Process menu items that ask a dialog first -- "&Normalise", "&Quantise",
// "&Adjust Sample Rate", "&Convert Channels", "Strip Silence..." (with its Edit toolbar button) --
// their enabling, and what the window does once each has run. The dialogs' settings live in the
// processor (normalise, quantise: for as long as the program runs) and in the configuration
// (the strip silence threshold and gap, "THold" and "Gapp").
//
// Threads: main thread only.
#include <QObject>

class QMenu;
class QToolBar;

namespace cleavix::ui {

class MainWindowHost;

class ProcessCommands final : public QObject {
    Q_OBJECT
public:
    explicit ProcessCommands(MainWindowHost& form);

    // Creates the actions (children of the window, found by their object names).
    void buildActions();
    // Puts the items into the Process menu after "&Invert".
    void fillProcessMenu(QMenu& process);
    // The "Strip silence" button, after the Edit toolbar's other buttons.
    void fillEditToolbar(QToolBar& bar);
    void updateEnabling();

    // The commands (the menu items call these).
    void normalise();
    void quantise();
    void adjustSampleRate();
    void convertChannels();
    void stripSilence();

private:
    bool canRun() const;
    // After a process has completed: the views, title and items.
    void finished();
    // After a process that changed the sample's length or format: the whole sample at 1:1.
    void wholeView();

    MainWindowHost& form_;
};

} // namespace cleavix::ui
