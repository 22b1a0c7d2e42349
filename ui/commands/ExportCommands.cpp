#include "ui/commands/ExportCommands.h"

#include "ui/view/Artwork.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"

#include <QMainWindow>
#include <QAction>
#include <QDoubleSpinBox>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QToolBar>

#include <algorithm>

namespace cleavix::ui {

namespace {

// The failures listed after a partly failed export, at most this many by name.
constexpr int kListedFailures = 8;

// The failures, one a line, at most kListedFailures of them by name.
QString failureList(const std::vector<std::string>& failed) {
    QString list;
    const int shown = std::min<int>(int(failed.size()), kListedFailures);
    for (int i = 0; i < shown; ++i) {
        list += "\r\n" + QString::fromStdString(failed[size_t(i)]);
    }
    if (int(failed.size()) > shown) {
        list += QString("\r\n(%1 more)").arg(int(failed.size()) - shown);
    }
    return list;
}

} // namespace

ExportCommands::ExportCommands(MainWindowHost& form) : QObject(&form.mainWindow()), form_(form) {}

void ExportCommands::buildActions() {
    auto make = [this](const char* name, const QString& text, void (ExportCommands::*fn)()) {
        auto* a = new QAction(text, &form_.mainWindow());
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, [this, fn] { (this->*fn)(); });
        return a;
    };
    make("SaveSelectedSegment1", "Save Selected Segment", &ExportCommands::saveSelectedSegment);
    make("SaveRegion1", "Save Region &Defined In Loop", &ExportCommands::saveRegion);
    auto* atTempo = make("SaveRegionAtTempo1", "Save Region at &Tempo...", &ExportCommands::saveRegionAtTempo);
    atTempo->setStatusTip("Save the loop region with its slices re-triggered at the Play toolbar's tempo");
    auto* segments = make("SaveSegmentsInLoop1", "Save Segments in Loop", &ExportCommands::saveSegmentsInLoop);
    segments->setShortcut(QKeySequence("Ctrl+W"));
    segments->setStatusTip("Save every segment between the locators as its own numbered file");
    auto* button = make("SaveWaveB", "Save Segments", &ExportCommands::saveSegmentsInLoop);
    button->setIcon(art::glyph(art::Glyph::SaveSegments));
    button->setToolTip("Save segments");
    button->setStatusTip("Save every segment between the locators as its own numbered file");
}

void ExportCommands::fillFileMenu(QMenu& file) {
    // After "Save As...", before the separator that follows it.
    QAction* saveAs = form_.action("SaveAs1");
    const auto items = file.actions();
    const auto at = std::find(items.begin(), items.end(), saveAs);
    QAction* before = (at != items.end() && at + 1 != items.end()) ? *(at + 1) : nullptr;
    for (const char* name : {"SaveSelectedSegment1", "SaveRegion1", "SaveRegionAtTempo1", "SaveSegmentsInLoop1"}) {
        file.insertAction(before, form_.action(name));
    }
    // The selected segment changes with every click on the waveform: check on opening.
    connect(&file, &QMenu::aboutToShow, this, [this] { updateEnabling(); });
}

void ExportCommands::fillFileToolbar(QToolBar& bar) { bar.addAction(form_.action("SaveWaveB")); }

bool ExportCommands::canExport() const {
    const auto& session = form_.session();
    return session.loaded() && !session.busy();
}

void ExportCommands::updateEnabling() {
    // Not by the busy state: the window is disabled while a job runs, and enabling is refreshed
    // when a load completes but not after the search that follows it.
    const bool can = form_.session().loaded();
    const auto& slicer = form_.session().slicer();
    // The locators are set after the load has told the window; the commands check R > L themselves.
    const bool region = can;
    const bool selected = can && slicer.selectedIndex >= 0 && slicer.selectionEnd > slicer.selectionStart;
    form_.action("SaveSelectedSegment1")->setEnabled(selected);
    form_.action("SaveRegion1")->setEnabled(region);
    form_.action("SaveRegionAtTempo1")->setEnabled(region);
    form_.action("SaveSegmentsInLoop1")->setEnabled(region);
    form_.action("SaveWaveB")->setEnabled(region);
}

int ExportCommands::segmentsInLoop() const {
    auto& session = form_.session();
    auto& slicer = session.slicer();
    slicer.rebuild();
    return int(slicing::planSegmentsInLoop(slicer.slicePoints(), slicer.left(), slicer.right(), session.format(),
                                           slicer.channelMode(), "x.wav")
                   .size());
}

void ExportCommands::run(const std::string& suggested, const QString& status, const Start& start) {
    auto& session = form_.session();
    form_.transport()->stop();
    const auto target = form_.runSaveDialog(suggested, session.format().saveBits);
    if (!target) {
        return;
    }
    // The depth chosen here belongs to the exported files only; the sample's own save depth stays.
    if (start(target->fileName, target->saveBits, [this](const slicing::ExportReport& report) { finished(report); })) {
        session.jobs().showStatus(status.toStdString());
    }
}

void ExportCommands::finished(const slicing::ExportReport& report) {
    if (!report.written.empty()) {
        form_.rememberSaveFolder(QString::fromStdString(report.written.front()));
    }
    form_.clearSaveFileName();
    if (!report.ok && !report.failed.empty() && !report.written.empty()) {
        // Some files exist and some do not: say which are missing.
        const QString list = failureList(report.failed);
        form_.message(jobs::MessageKind::Warning,
                      QString("%1 of %2 files were saved. These could not be saved:\r\n%3")
                          .arg(report.written.size())
                          .arg(report.written.size() + report.failed.size())
                          .arg(list));
    }
    form_.updateEnabling();
}

void ExportCommands::saveSegmentsInLoop() {
    if (!canExport() || form_.session().slicer().right() <= form_.session().slicer().left()) {
        return;
    }
    auto& session = form_.session();
    auto& config = form_.config();
    form_.transport()->stop();
    KeymapSettings current = keymapFromConfig(config);
    current.instruments = instruments_;
    TForm6 keymap(current, TForm6::Mode::Editor, segmentsInLoop(), &form_.mainWindow());
    if (keymap.exec() != QDialog::Accepted) {
        return;
    }
    const KeymapSettings chosen = keymap.settings();
    keymapToConfig(chosen, config);
    instruments_ = chosen.instruments;
    auto& slicer = session.slicer();
    slicer.exportSettings.smoothEndPoints = chosen.smoothEditor;
    slicer.exportSettings.smoothLevel = chosen.smoothLevel;
    slicer.exportSettings.bankName = chosen.bankName.toStdString();

    const QString sampleName = QFileInfo(QString::fromStdString(session.fileName())).fileName();
    const bool instruments = chosen.instruments.sfz || chosen.instruments.midi || chosen.instruments.kit;
    run(sampleName.isEmpty() ? "*.wav" : sampleName.toStdString(), "Saving...",
        [this, &slicer, instruments, chosen](const std::string& name, uint8_t bits, Done done) {
            if (instruments) {
                return startWithInstruments(chosen, name, bits);
            }
            return slicer.saveSegmentsInLoop(name, bits, std::move(done));
        });
}

bool ExportCommands::startWithInstruments(const KeymapSettings& chosen, const std::string& name, uint8_t bits) {
    // A name without a folder goes beside the slice files.
    const QDir slices = QFileInfo(QString::fromStdString(name)).absoluteDir();
    auto place = [&slices](bool wanted, const QString& file) {
        return wanted ? QDir::cleanPath(slices.absoluteFilePath(file.trimmed())).toStdString() : std::string();
    };
    slicing::instrument::Request request;
    request.slicesName = name;
    request.bits = bits;
    request.sfzFile = place(chosen.instruments.sfz, chosen.instruments.sfzName);
    request.midiFile = place(chosen.instruments.midi, chosen.instruments.midiName);
    request.hydrogenDir = place(chosen.instruments.kit, chosen.instruments.kitName);
    auto& o = request.options;
    o.name = chosen.bankName.toStdString();
    o.keys = {chosen.noteIndex, chosen.octave, chosen.interval, chosen.whiteKeys};
    o.reverseNotes = chosen.reverseNotes;
    o.baseNoteOnly = chosen.baseNoteOnly;
    o.soundFontFilter = form_.config().filterEnable;
    std::string refused;
    const bool started = form_.session().exportSlices(
        request,
        [this](const slicing::instrument::Report& report) {
            finished(report.slices);
            instrumentsFinished(report);
        },
        &refused);
    if (!started && !refused.empty()) {
        form_.message(jobs::MessageKind::Error, QString::fromStdString(refused));
    }
    return started;
}

void ExportCommands::instrumentsFinished(const slicing::instrument::Report& report) {
    auto& config = form_.config();
    for (const std::string& written : report.written) {
        const QFileInfo file(QString::fromStdString(written));
        const QString suffix = file.suffix().toLower();
        if (suffix == "sfz") {
            config.saveSFDir = file.absolutePath();
        } else if (suffix == "mid") {
            config.saveMidDir = file.absolutePath();
        } else {
            // drumkit.xml: the kit's folder is remembered as the folder it was made in.
            config.saveTrkDir = QFileInfo(file.absolutePath()).absolutePath();
        }
    }
    if (report.failed.empty()) {
        return;
    }
    form_.message(jobs::MessageKind::Warning,
                  "These instrument files could not be written:\r\n" + failureList(report.failed).mid(2));
}

void ExportCommands::saveSelectedSegment() {
    auto& slicer = form_.session().slicer();
    if (!canExport() || slicer.selectedIndex < 0 || slicer.selectionEnd <= slicer.selectionStart) {
        return;
    }
    const bool upperHalf = slicer.slicePoints().at(slicer.selectedIndex).channel == slicing::kCodeFirst;
    run("*.wav", "Saving...", [&slicer, upperHalf](const std::string& name, uint8_t bits, Done done) {
        return slicer.saveSelectedSegment(name, bits, upperHalf, std::move(done));
    });
}

void ExportCommands::saveSegmentAt(int index) {
    if (!canExport()) {
        return;
    }
    auto& slicer = form_.session().slicer();
    run("", "Saving...", [&slicer, index](const std::string& name, uint8_t bits, Done done) {
        return slicer.saveSegmentAt(index, name, bits, std::move(done));
    });
}

void ExportCommands::saveRegion() {
    auto& slicer = form_.session().slicer();
    if (!canExport() || slicer.right() <= slicer.left()) {
        return;
    }
    run("", "Saving region...", [&slicer](const std::string& name, uint8_t bits, Done done) {
        return slicer.saveRegion(name, bits, std::move(done));
    });
}


double ExportCommands::renderTempo() const {
    const double chosen = form_.renderTempo();
    // The box's lowest value reads "Own": the loop's own tempo.
    return chosen > 0.0 ? chosen : double(form_.session().slicer().tempo().tempo);
}

void ExportCommands::saveRegionAtTempo() {
    auto& session = form_.session();
    if (!canExport() || session.slicer().right() <= session.slicer().left()) {
        return;
    }
    form_.transport()->stop();
    const auto target = form_.runSaveDialog("", session.format().saveBits);
    if (!target) {
        return;
    }
    std::string refused;
    const std::string fileName = target->fileName;
    const bool started = session.saveRegionAtTempo(
        fileName, target->saveBits, renderTempo(),
        [this, fileName](const sample::WriteResult& result) {
            if (result.ok) {
                form_.rememberSaveFolder(QString::fromStdString(fileName));
            } else {
                form_.message(jobs::MessageKind::Error,
                              QString::fromStdString(fileName + " could not be saved: " + result.error));
            }
            form_.updateEnabling();
        },
        &refused);
    if (started) {
        session.jobs().showStatus("Saving region at tempo...");
    } else if (!refused.empty()) {
        form_.message(jobs::MessageKind::Error, QString::fromStdString(refused));
    }
}

} // namespace cleavix::ui
