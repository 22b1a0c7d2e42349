// The main window's file commands: dialogs around the session's open, save, point files and options.
#include "ui/window/StartForm.h"
#include "ui/window/MainFormParts.h"
#include "sample/FormatPosition.h"
#include "sample/WavParser.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/window/BarsBeatsControl.h"
#include "ui/view/Artwork.h"
#include "ui/view/BarMouse.h"
#include "ui/dialogs/CXWizard.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/OptionsForm.h"
#include "ui/commands/EditCommands.h"
#include "ui/view/MouseTools.h"
#include "ui/commands/ProcessCommands.h"
#include "ui/commands/ExportCommands.h"
#include "ui/dialogs/ProcessForm.h"
#include "ui/dialogs/SensitivityForm.h"
#include "ui/view/WaveBox.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include <sys/stat.h>

namespace cleavix::ui {

using namespace mainform;

// File commands

bool TMainForm::loadFile(const QString& file) {
    transport_->closeOutput();
    return session_->open(file.toStdString(), session::OpenOrigin::Menu);
}

// The sample a point file belongs to: the same name in the same folder, Wave before AIFF.
static QString sampleBesidePointFile(const QFileInfo& points) {
    const QDir folder = points.absoluteDir();
    const QString base = points.completeBaseName();
    QStringList found = folder.entryList({base + ".wav", base + ".aif", base + ".aiff"}, QDir::Files | QDir::Readable);
    std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) {
        return a.endsWith(".wav", Qt::CaseInsensitive) && !b.endsWith(".wav", Qt::CaseInsensitive);
    });
    return found.isEmpty() ? QString() : folder.filePath(found.first());
}

bool TMainForm::openPointFileWithSample(const QString& pointFile) {
    const QFileInfo points(pointFile);
    const QString sample = sampleBesidePointFile(points);
    if (sample.isEmpty()) {
        message(jobs::MessageKind::Warning,
                QString(kMsgNoSampleForPoints).arg(points.completeBaseName(), points.absoluteFilePath()));
        return false;
    }
    // The points replace whatever a search would find, so none runs on this load. The loaded
    // hooks (where the search would start) run after the open's completion: the setting comes
    // back, and the points are loaded, once the event loop is reached again.
    auto& settings = session_->settings();
    const bool scan = settings.scanOnLoad;
    settings.scanOnLoad = false;
    transport_->closeOutput();
    const QString file = points.absoluteFilePath();
    const bool started = session_->open(sample.toStdString(), session::OpenOrigin::CommandLine, [this, scan, file](bool ok) {
        QTimer::singleShot(0, this, [this, scan, file, ok] {
            session_->settings().scanOnLoad = scan;
            if (!ok || !session_->loaded() || session_->busy()) {
                return;
            }
            const auto result = session_->slicer().loadPoints(file.toStdString());
            if (!result.ok) {
                message(jobs::MessageKind::Error, QString::fromStdString(result.error));
            }
        });
    });
    if (!started) {
        settings.scanOnLoad = scan;
    }
    return started;
}

void TMainForm::fileOpened(const std::string& fileName, session::OpenOrigin origin) {
    const QString file = QString::fromStdString(fileName);
    switch (origin) {
    case session::OpenOrigin::Menu:
    case session::OpenOrigin::CommandLine:
    case session::OpenOrigin::Drop:
        AddRecentFile(file);
        config_.openDir = QFileInfo(file).absolutePath();
        break;
    case session::OpenOrigin::Recent: {
        // The clicked entry and entry 1 change places.
        const int entry = config_.recentFiles.indexOf(QFileInfo(file).absoluteFilePath());
        if (entry > 0) {
            config_.recentFiles.swapItemsAt(0, entry);
        }
        updateRecentMenu();
        break;
    }
    case session::OpenOrigin::Revert:
    case session::OpenOrigin::Reload:
        break;
    }
}

void TMainForm::OpenFile() {
    if (session_->busy()) {
        return;
    }
    transport_->closeOutput(); // the dialog's auditions use the output
    odForm_->setRecentFolders(config_.recentFolders);
    odForm_->setDirectory(ordinaryFolderOrHome(config_.openDir));
    odForm_->selectNameFilter(kOpenFilters[1]);
    odForm_->setAutoPlay(config_.autoPlay);
    const bool accepted = odForm_->exec() == QDialog::Accepted && !odForm_->selectedFiles().isEmpty();
    config_.autoPlay = odForm_->autoPlay();
    transport_->closeOutput();
    if (!accepted) {
        if (session_->loaded()) {
            transport_->setFormat(session_->format().channels, session_->format().sampleRate);
        }
        return;
    }
    const QString file = odForm_->selectedFiles().first();
    odForm_->noteChosen(file);
    config_.recentFolders = odForm_->recentFolders();
    loadFile(file);
}

void TMainForm::openRecent(int entry) {
    if (entry < 0 || entry >= kRecentFiles || session_->busy()) {
        return;
    }
    transport_->closeOutput();
    session_->open(config_.recentFiles.value(entry).toStdString(), session::OpenOrigin::Recent);
}

void TMainForm::RevertItemClick() {
    transport_->closeOutput();
    session_->open(session_->fileName(), session::OpenOrigin::Revert);
    odForm_->selectFile("*.wav");
}

void TMainForm::CloseFile() {
    if (session_->fileName().empty() && !session_->loaded()) {
        return;
    }
    transport_->stop();
    transport_->closeOutput();
    session_->close(); // both channels ticked again
    view_.whole(0);
    panels_[1]->setText("No File Loaded");
    panels_[3]->setText("x1.0");
    updateRecentMenu();
    updateEnabling();
    redrawWave(true);
    updateTitle();
    tempoLabel_->setText("0.000 BPM");
}

void TMainForm::SaveItemClick() {
    if (!session_->loaded()) {
        return;
    }
    transport_->stop();
    session_->save();
}

void TMainForm::SaveAsItemClick() {
    if (!session_->loaded()) {
        return;
    }
    transport_->stop();
    session_->saveAs();
}

std::optional<jobs::SaveTarget> TMainForm::runSaveDialog(const std::string& suggested, uint8_t bits) {
    saveForm_->setRecentFolders(config_.recentFolders);
    // A folder is remembered only after a save into it succeeded; one that cannot be listed (or
    // whose files block when read) gives way to the home folder.
    saveForm_->setDirectory(ordinaryFolderOrHome(config_.saveDir));
    const QString name = QString::fromStdString(suggested);
    if (QFileInfo(name).isAbsolute()) {
        saveForm_->setDirectory(QFileInfo(name).absolutePath());
    }
    saveForm_->selectNameFilter(kSaveFilters[1]);
    saveForm_->setDefaultSuffix("wav");
    saveForm_->setFileName(QFileInfo(name).fileName());
    saveForm_->setFormat(session_->format().sampleRate, session_->format().channels, bits);
    if (saveForm_->exec() != QDialog::Accepted || saveForm_->selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString file = saveForm_->selectedFiles().first();
    return jobs::SaveTarget{file.toStdString(), saveForm_->saveBits()};
}

void TMainForm::rememberSaveFolder(const QString& file) {
    saveForm_->noteChosen(file);
    config_.recentFolders = saveForm_->recentFolders();
    config_.saveDir = QFileInfo(file).absolutePath();
}

// Where a point-file dialog starts: its remembered folder (else the sample's), with the sample's
// name and ".clx" in the name box, since a point file belongs to one sample.
QString TMainForm::pointFileStart(const QString& remembered) const {
    const QFileInfo sample(QString::fromStdString(session_->fileName()));
    const QString folder = ordinaryFolderOrHome(remembered.isEmpty() ? sample.absolutePath() : remembered);
    const QString base = sample.completeBaseName();
    return folder + "/" + (base.isEmpty() ? QString("*") : base) + ".clx";
}

void TMainForm::OpenPointFile() {
    if (!session_->loaded() || session_->busy()) {
        return;
    }
    const QString file = QFileDialog::getOpenFileName(this, "Load point file", pointFileStart(config_.openPoint),
                                                      "CX / Vantrel point files (*.clx);;All files (*)");
    if (file.isEmpty()) {
        return;
    }
    config_.openPoint = QFileInfo(file).absolutePath();
    const auto result = session_->slicer().loadPoints(file.toStdString());
    if (!result.ok) {
        message(jobs::MessageKind::Error, QString::fromStdString(result.error));
    }
}

void TMainForm::SavePointFile() {
    if (!session_->loaded() || session_->busy()) {
        return;
    }
    QString file = QFileDialog::getSaveFileName(this, "Save point file", pointFileStart(config_.savePoint),
                                                "CX / Vantrel point files (*.clx)");
    if (file.isEmpty()) {
        return;
    }
    if (QFileInfo(file).suffix().isEmpty()) {
        file += ".clx";
    }
    config_.savePoint = QFileInfo(file).absolutePath();
    const auto result = session_->slicer().savePoints(file.toStdString());
    if (!result.ok) {
        message(jobs::MessageKind::Error, QString::fromStdString(result.error));
    }
}

void TMainForm::Options1Click() {
    TForm4 form(config_, *transport_, *session_, this);
    const uint32_t blockBefore = session_->peaks().blockBytes();
    if (form.exec() != QDialog::Accepted) {
        return;
    }
    applyPreferences();
    const uint32_t blockAfter = sample::peakBlockBytesFromSetting(config_.waveCacheSize);
    if (blockAfter != blockBefore) {
        session_->setPeakBlockSize(blockAfter); // the window redraws on peaksRebuilt
    }
    redrawWave(true);
}

void TMainForm::applyPreferences() {
    auto& settings = session_->settings();
    settings.scanOnLoad = config_.scanWaveOnLoad;
    settings.setOneBar = config_.setOneBar;
    settings.promptToSave = config_.prompt;
    settings.enableUndo = config_.enableUndo;
    settings.waveCacheSize = config_.waveCacheSize;
    applyLegend(config_.showButtonText);
    tools_->applyPreferences();
    layoutBars();
    redrawWave(true);
}

void TMainForm::ShowWiz() {
    TCXWizard wizard(config_, *transport_, this);
    if (wizard.exec() == QDialog::Accepted) {
        transport_->closeOutput();
        transport_->setDevice(config_.waveId);
    }
}

void TMainForm::ShowSensitivity() {
    if (!session_->loaded()) {
        return;
    }
    TSensitivityForm form(session_->slicer(), this);
    form.exec();
}

void TMainForm::ControlPanel1Click() {
    if (config_.cpLoc.trimmed().isEmpty()) {
        message(jobs::MessageKind::Error, kMsgNoControlPanel);
        return;
    }
    if (!QProcess::startDetached(config_.cpLoc.trimmed(), {})) {
        message(jobs::MessageKind::Error, kMsgControlPanel);
    }
}

} // namespace cleavix::ui
