#pragma once
// ExportCommands: the File menu's exports -- "Save Selected Segment", "Save Region &Defined In
// Loop", "Save Region at Tempo...", "Save Segments in Loop" (Ctrl+W) and the File toolbar's
// `SaveWaveB` -- with their enabling, the "Keymap settings" dialog ahead of Save Segments in Loop, the save dialog, and the
// outcome. The files are written by the engine's export workers behind the progress window; the
// instrument files checked in the key-map dialog (SFZ, MIDI file, Hydrogen kit) follow them.
//
// Threads: main thread only.
#include "ui/dialogs/KeymapForm.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QMenu;
class QToolBar;

namespace cleavix::slicing {
struct ExportReport;
namespace instrument {
struct Report;
}
}

namespace cleavix::ui {

class MainWindowHost;

class ExportCommands final : public QObject {
    Q_OBJECT
public:
    explicit ExportCommands(MainWindowHost& form);

    // Creates the actions (children of the window, found by their object names).
    void buildActions();
    // The three items, after "Save As...".
    void fillFileMenu(QMenu& file);
    void fillFileToolbar(QToolBar& bar);
    void updateEnabling();

    // The commands.
    void saveSegmentsInLoop();
    void saveSelectedSegment();
    void saveRegion();
    // Save Region at Tempo: the loop region re-triggered slice by slice at the Play toolbar's
    // "Tempo" box (its lowest value, "Own", is the loop's own tempo).
    void saveRegionAtTempo();
    double renderTempo() const;
    // The save segment tool's right button: segment `index` of the slice point list, under a name
    // chosen in the save dialog (which starts empty).
    void saveSegmentAt(int index);

    // The number of files Save Segments in Loop would write now (the key map's sample count).
    int segmentsInLoop() const;

private:
    using Done = std::function<void(const slicing::ExportReport&)>;
    using Start = std::function<bool(const std::string& name, uint8_t bits, Done done)>;
    bool canExport() const;
    // Stops playback, shows the save dialog prefilled with `suggested` and, on OK, starts the
    // export under the chosen name and bits with the status text shown.
    void run(const std::string& suggested, const QString& status, const Start& start);
    void finished(const slicing::ExportReport& report);
    // The instrument files after the slices: the missing ones listed, the folders remembered.
    void instrumentsFinished(const slicing::instrument::Report& report);
    // Save Segments in Loop with the instrument files chosen in the key-map dialog.
    bool startWithInstruments(const KeymapSettings& chosen, const std::string& name, uint8_t bits);

    MainWindowHost& form_;
    // The instrument files chosen last, offered again by the next Save Segments in Loop.
    InstrumentFiles instruments_;
};

} // namespace cleavix::ui
