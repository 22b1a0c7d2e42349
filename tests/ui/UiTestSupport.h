#pragma once
// Helpers for the window tests: a fresh configuration folder per test, the demo loop on disk,
// scripted answers to the modal boxes and dialogs the window opens, and waiting for the engine.
#include "ui/platform/QtDispatcher.h"
#include "ui/window/StartForm.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace cleavix::uitest {

// Registers a test object; UiTestMain runs them all.
void registerTest(std::function<std::unique_ptr<QObject>()> make);
template <class T>
struct Register {
    Register() { registerTest([] { return std::make_unique<T>(); }); }
};

// A configuration folder of its own (QSettings' user path points into it) and a scratch folder.
// Unless Fresh, the configuration starts with "Show open dialog on startup" off, so that a window
// shown by a test does not wait in the open dialog.
class Sandbox {
public:
    enum class Start { Quiet, Fresh };
    explicit Sandbox(Start start = Start::Quiet);
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString configFile() const;
    // A value of the window's configuration group in the sandbox's configuration file.
    QString config(const QString& name) const;
    void setConfig(const QString& name, const QString& value) const;
    // The demo loop written as `name` in the scratch folder.
    QString demoLoop(const QString& name = "demo.wav") const;

private:
    QTemporaryDir dir_;
};

// Answers the modal widgets that appear, in order. Each handler gets the active modal widget and
// returns true when it dealt with it. Message boxes' texts are recorded.
class ModalScript : public QObject {
public:
    ModalScript();
    ~ModalScript() override;
    // Clicks `button` in the next message box.
    void answer(QMessageBox::StandardButton button);
    // Deals with the next modal widget of any kind.
    void handle(std::function<bool(QWidget*)> handler);
    QStringList texts;
    int pending() const { return int(handlers_.size()); }

private:
    void poll();
    std::vector<std::function<bool(QWidget*)>> handlers_;
    QTimer timer_;
    QWidget* unhandled_ = nullptr;
    QElapsedTimer since_;
};

// Waits (running events) until the condition holds; false after `ms`.
bool waitFor(const std::function<bool()>& condition, int ms = 30000);
// Waits until the window's session is idle (the last command's completion has run).
bool waitIdle(ui::TMainForm& window, int ms = 30000);
// Waits until the window's session is idle and has a sample loaded.
bool waitLoaded(ui::TMainForm& window, int ms = 30000);

// A window on its own dispatcher.
struct Window {
    explicit Window(ui::StartOptions options = {});
    ~Window();
    ui::QtDispatcher dispatcher;
    std::unique_ptr<ui::TMainForm> form;
    ui::TMainForm* operator->() { return form.get(); }
};

// A shown window with the sandbox's demo loop open (openDemo), or with its slice points as well.
struct Demo {
    Sandbox box;
    Window w;
    bool open();
    bool openWithPoints();
};

// The next modal widget of type Form: `act` looks at it and closes it (returns false to wait).
template <class Form>
void expect(ModalScript& script, std::function<bool(Form*)> act) {
    script.handle([act = std::move(act)](QWidget* w) {
        auto* form = qobject_cast<Form*>(w);
        return form != nullptr && act(form);
    });
}

// The sample's 16-bit words from byte `start` to `end` (at the most to the end of the sample).
std::vector<int16_t> samples(ui::TMainForm& window, uint32_t start = 0, uint32_t end = UINT32_MAX);
// The slice search's candidates' positions, in order.
std::vector<uint32_t> candidatePositions(ui::TMainForm& window);

// Waits until every scripted handler has run.
bool settled(const ModalScript& script, int ms = 30000);
// Triggers the window's `action`, then waits until the script has run and the session is idle.
bool run(ui::TMainForm& window, const char* action, const ModalScript& script, int ms = 30000);
// Runs `act`, answers the message box that follows with `button` and gives the texts shown
// (empty when no box came within `ms`).
QStringList answering(QMessageBox::StandardButton button, const std::function<void()>& act, int ms = 5000);
// Closes a modal dialog once its handler has returned (the dialog's own loop then ends).
void acceptLater(QDialog* dialog);
void rejectLater(QDialog* dialog);

// The texts of a menu's (or toolbar's) actions and of a combo box's entries, in order.
QStringList texts(const QList<QAction*>& actions);
QStringList texts(const QComboBox* box);

// The desktop switching to another program and back (an editor's changes are looked for then).
void switchAwayAndBack();

// A 16-bit Wave file of interleaved `samples`; its path.
QString writeWave(const QString& path, uint16_t channels, const std::vector<int16_t>& samples,
                  uint32_t rate = 44100);

// The Play toolbar's tempo label.
QString tempoLabel(ui::TMainForm& window);
// The tempo text for the loop region as the label shows it, computed from the region itself.
QString expectedTempo(ui::TMainForm& window, int bars, int beats);

// The next save dialog: `file` chosen, or Cancel when `file` is empty; `prefill` (when given and
// still null) takes the name the dialog offered.
void answerSave(ModalScript& script, const QString& file, QString* prefill = nullptr);

// Chooses `file` in a file dialog and accepts it; false until the dialog has taken the name
// (call again on the next poll).
bool chooseFile(QFileDialog* dialog, const QString& file);

// Plays through ALSA's "null" device: a click on the waveform auditions its segment, and the
// test machine need not have a sound card.
void useNullOutput(ui::TMainForm& window);

// Opens `file` through the File menu's Open command and its dialog.
bool openThroughMenu(ui::TMainForm& window, const QString& file);

// Shows the window, plays through ALSA's "null" device (a click auditions its segment, and a
// test machine has no sound card) and opens the sandbox's demo loop through the File menu.
bool openDemo(ui::TMainForm& window, const Sandbox& box);
// openDemo, then the sensitivity that shows the demo's slice points (six or more).
bool openDemoWithPoints(ui::TMainForm& window, const Sandbox& box);

} // namespace cleavix::uitest
