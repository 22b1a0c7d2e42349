#include "ui/commands/ExportCommands.h"

#include "ui/view/Artwork.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/window/StartForm.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QToolBar>

#include <algorithm>

namespace cleavix::ui {

namespace {

// The failures listed after a partly failed export, at most this many by name.
constexpr int kListedFailures = 8;

} // namespace

ExportCommands::ExportCommands(TMainForm& form) : QObject(&form), form_(form) {}

void ExportCommands::buildActions() {
    auto make = [this](const char* name, const QString& text, void (ExportCommands::*fn)()) {
        auto* a = new QAction(text, &form_);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, [this, fn] { (this->*fn)(); });
        return a;
    };
    make("SaveSelectedSegment1", "Save Selected Segment", &ExportCommands::saveSelectedSegment);
    make("SaveRegion1", "Save Region &Defined In Loop", &ExportCommands::saveRegion);
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
    for (const char* name : {"SaveSelectedSegment1", "SaveRegion1", "SaveSegmentsInLoop1"}) {
        file.insertAction(before, form_.action(name));
    }
    // The selected segment changes with every click on the waveform: check on opening.
    connect(&file, &QMenu::aboutToShow, this, [this] { updateEnabling(); });
}

void ExportCommands::fillFileToolbar(QToolBar& bar) { bar.addAction(form_.action("SaveWaveB")); }

bool ExportCommands::canExport() const {
    const auto& session = *form_.session_;
    return session.loaded() && !session.busy();
}

void ExportCommands::updateEnabling() {
    // Not by the busy state: the window is disabled while a job runs, and enabling is refreshed
    // when a load completes but not after the search that follows it.
    const bool can = form_.session_->loaded();
    const auto& slicer = form_.session_->slicer();
    // The locators are set after the load has told the window; the commands check R > L themselves.
    const bool region = can;
    const bool selected = can && slicer.selectedIndex >= 0 && slicer.selectionEnd > slicer.selectionStart;
    form_.action("SaveSelectedSegment1")->setEnabled(selected);
    form_.action("SaveRegion1")->setEnabled(region);
    form_.action("SaveSegmentsInLoop1")->setEnabled(region);
    form_.action("SaveWaveB")->setEnabled(region);
}

int ExportCommands::segmentsInLoop() const {
    auto& session = *form_.session_;
    auto& slicer = session.slicer();
    slicer.rebuild();
    return int(slicing::planSegmentsInLoop(slicer.slicePoints(), slicer.left(), slicer.right(), session.format(),
                                           slicer.channelMode(), "x.wav")
                   .size());
}

void ExportCommands::run(const std::string& suggested, const QString& status, const Start& start) {
    auto& session = *form_.session_;
    form_.transport_->stop();
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
    form_.saveForm_->selectFile("*.wav");
    if (!report.ok && !report.failed.empty() && !report.written.empty()) {
        // Some files exist and some do not: say which are missing.
        QString list;
        const int shown = std::min<int>(int(report.failed.size()), kListedFailures);
        for (int i = 0; i < shown; ++i) {
            list += "\r\n" + QString::fromStdString(report.failed[size_t(i)]);
        }
        if (int(report.failed.size()) > shown) {
            list += QString("\r\n(%1 more)").arg(int(report.failed.size()) - shown);
        }
        form_.message(jobs::MessageKind::Warning,
                      QString("%1 of %2 files were saved. These could not be saved:\r\n%3")
                          .arg(report.written.size())
                          .arg(report.written.size() + report.failed.size())
                          .arg(list));
    }
    form_.updateEnabling();
}

void ExportCommands::saveSegmentsInLoop() {
    if (!canExport() || form_.session_->slicer().right() <= form_.session_->slicer().left()) {
        return;
    }
    auto& session = *form_.session_;
    auto& config = form_.config_;
    form_.transport_->stop();
    TForm6 keymap(keymapFromConfig(config), TForm6::Mode::Editor, segmentsInLoop(), &form_);
    if (keymap.exec() != QDialog::Accepted) {
        return;
    }
    const KeymapSettings chosen = keymap.settings();
    keymapToConfig(chosen, config);
    auto& slicer = session.slicer();
    slicer.exportSettings.smoothEndPoints = chosen.smoothEditor;
    slicer.exportSettings.smoothLevel = chosen.smoothLevel;
    slicer.exportSettings.bankName = chosen.bankName.toStdString();

    const QString sampleName = QFileInfo(QString::fromStdString(session.fileName())).fileName();
    run(sampleName.isEmpty() ? "*.wav" : sampleName.toStdString(), "Saving...",
        [&slicer](const std::string& name, uint8_t bits, Done done) {
            return slicer.saveSegmentsInLoop(name, bits, std::move(done));
        });
}

void ExportCommands::saveSelectedSegment() {
    auto& slicer = form_.session_->slicer();
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
    auto& slicer = form_.session_->slicer();
    run("", "Saving...", [&slicer, index](const std::string& name, uint8_t bits, Done done) {
        return slicer.saveSegmentAt(index, name, bits, std::move(done));
    });
}

void ExportCommands::saveRegion() {
    auto& slicer = form_.session_->slicer();
    if (!canExport() || slicer.right() <= slicer.left()) {
        return;
    }
    run("", "Saving region...", [&slicer](const std::string& name, uint8_t bits, Done done) {
        return slicer.saveRegion(name, bits, std::move(done));
    });
}

} // namespace cleavix::ui
