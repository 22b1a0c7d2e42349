#include "ui/commands/ProcessCommands.h"

#include "ui/dialogs/ConvertForm.h"
#include "ui/dialogs/NormaliseForm.h"
#include "ui/dialogs/QuantiseForm.h"
#include "ui/dialogs/SampleRateForm.h"
#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"
#include "ui/dialogs/StripSilenceForm.h"

#include "processing/Processor.h"

#include <QMainWindow>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>

#include <algorithm>

namespace cleavix::ui {

namespace {

// The Strip Silence button's picture: two bursts of sound closing up over the gap between them.
QIcon stripSilenceIcon() {
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 64, 128), 1.2));
    const int heights[] = {3, 7, 5, 8, 4};
    for (int i = 0; i < 5; ++i) {
        p.drawLine(QPointF(1.5 + i, 10 - heights[i]), QPointF(1.5 + i, 10 + heights[i]));
        p.drawLine(QPointF(13.5 + i, 10 - heights[4 - i]), QPointF(13.5 + i, 10 + heights[4 - i]));
    }
    p.setPen(QPen(QColor(192, 0, 0), 1.5));
    p.drawLine(QPointF(7.5, 10), QPointF(12.5, 10));
    p.drawLine(QPointF(7.5, 10), QPointF(9.5, 8));
    p.drawLine(QPointF(12.5, 10), QPointF(10.5, 8));
    return QIcon(pixmap);
}

} // namespace

ProcessCommands::ProcessCommands(MainWindowHost& form) : QObject(&form.mainWindow()), form_(form) {
    // The strip silence settings are kept in the configuration between runs.
    auto& settings = form_.session().processor().settings;
    settings.stripThreshold = std::clamp(form_.config().thold, 1, 5000);
    settings.stripGap = std::clamp(form_.config().gapp, 10, 15000);
}

void ProcessCommands::buildActions() {
    auto make = [this](const char* name, const QString& text, const QString& hint, void (ProcessCommands::*fn)()) {
        auto* a = new QAction(text, &form_.mainWindow());
        a->setObjectName(name);
        const auto bar = hint.indexOf('|');
        a->setToolTip(bar < 0 ? hint : hint.left(bar));
        a->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
        connect(a, &QAction::triggered, this, [this, fn] { (this->*fn)(); });
        return a;
    };
    make("Normalise1", "&Normalise", "Normalise volume", &ProcessCommands::normalise);
    make("Quantise1", "&Quantise", "Reduce number of bits (and re-expand to 16)", &ProcessCommands::quantise);
    make("AdjustSampleRate1", "&Adjust Sample Rate", "Adjust the playback rate of the current sample",
         &ProcessCommands::adjustSampleRate);
    make("ConvertChannels1", "&Convert Channels", "Convert between mono and stereo", &ProcessCommands::convertChannels);
    make("StripSilence1", "Strip Silence...", "Remove digital silence between samples", &ProcessCommands::stripSilence);
    QAction* button = make("StripSilenceButton", "Strip silence", "Strip silence|Remove silence from selected region",
                           &ProcessCommands::stripSilence);
    button->setIcon(stripSilenceIcon());
}

void ProcessCommands::fillProcessMenu(QMenu& process) {
    // After Invert, ahead of whatever follows it.
    const QList<QAction*> items = process.actions();
    const qsizetype invert = items.indexOf(form_.action("Invert1"));
    QAction* before = invert >= 0 && invert + 1 < items.size() ? items[invert + 1] : nullptr;
    for (const char* name : {"Normalise1", "Quantise1"}) {
        process.insertAction(before, form_.action(name));
    }
    process.insertSeparator(before);
    for (const char* name : {"AdjustSampleRate1", "ConvertChannels1", "StripSilence1"}) {
        process.insertAction(before, form_.action(name));
    }
    connect(&process, &QMenu::aboutToShow, this, [this] { updateEnabling(); });
}

void ProcessCommands::fillEditToolbar(QToolBar& bar) {
    bar.addSeparator();
    bar.addAction(form_.action("StripSilenceButton"));
}

void ProcessCommands::updateEnabling() {
    const bool on = canRun();
    for (const char* name :
         {"Normalise1", "Quantise1", "AdjustSampleRate1", "ConvertChannels1", "StripSilence1", "StripSilenceButton"}) {
        form_.action(name)->setEnabled(on);
    }
}

bool ProcessCommands::canRun() const { return form_.session().loaded() && !form_.session().busy(); }


void ProcessCommands::finished() { form_.sampleEdited(); }

void ProcessCommands::wholeView() { form_.showWholeSample(); }

void ProcessCommands::normalise() {
    if (!canRun()) {
        return;
    }
    auto& session = form_.session();
    TNormForm dialog(session.processor().settings, &form_.mainWindow());
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    form_.transport()->stop();
    // The re-cut that "Re-cut sample" asks for is part of the engine's normalise.
    session.processor().normalise([this](bool) { finished(); });
}

void ProcessCommands::quantise() {
    if (!canRun()) {
        return;
    }
    auto& session = form_.session();
    TBitForm dialog(session.processor().settings, &form_.mainWindow());
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    form_.transport()->stop();
    session.processor().quantise([this](bool) { finished(); });
}

void ProcessCommands::adjustSampleRate() {
    if (!canRun()) {
        return;
    }
    auto& session = form_.session();
    const auto& format = session.format();
    TConRateForm dialog(format.sampleRate, format.channels, &form_.mainWindow(), form_.config().resampleRate);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    form_.config().resampleRate = dialog.resampleChosen();
    form_.transport()->stop();
    form_.transport()->closeOutput();
    if (dialog.resampleChosen()) {
        // The sample is converted behind the progress window; the points move with their audio.
        const bool started = session.processor().resample(dialog.rateText().toStdString(), [this](bool applied) {
            if (applied) {
                wholeView();
            }
            form_.showFileStatus({});
            finished();
        });
        if (!started) {
            form_.showFileStatus({});
            finished();
        }
        return;
    }
    form_.showFileStatus("Converting...");
    // The data stays as it is: only the rate it plays and saves at changes (Undo exchanges it back).
    session.processor().adjustRate(dialog.rateText().toStdString());
    form_.showFileStatus({});
    finished();
}

void ProcessCommands::convertChannels() {
    if (!canRun()) {
        return;
    }
    auto& session = form_.session();
    form_.transport()->stop();
    form_.transport()->closeOutput();
    TConvertForm dialog(session.format().channels, &form_.mainWindow());
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    session.processor().convertChannels(dialog.choice(), [this](bool applied) {
        if (applied) {
            // Both channels (or the one) are worked on again, and the view starts over at 1:1.
            form_.session().selection().resetChannels();
            for (const char* name : {"LeftChannel1", "RightChannel1"}) {
                QSignalBlocker block(form_.action(name));
                form_.action(name)->setChecked(true);
            }
            wholeView();
        }
        finished();
    });
}

void ProcessCommands::stripSilence() {
    if (!canRun()) {
        return;
    }
    auto& session = form_.session();
    auto& settings = session.processor().settings;
    TStripForm dialog(settings.stripThreshold, settings.stripGap, &form_.mainWindow());
    const bool ok = dialog.exec() == QDialog::Accepted;
    // What the sliders show is kept however the dialog closed.
    settings.stripThreshold = dialog.threshold();
    settings.stripGap = dialog.gap();
    form_.config().thold = dialog.threshold();
    form_.config().gapp = dialog.gap();
    if (!ok) {
        return;
    }
    settings.stripMode = dialog.pointsMode();
    form_.transport()->stop();
    session.processor().stripSilence([this](bool applied) {
        if (applied) {
            wholeView();
        }
        finished();
    });
}

} // namespace cleavix::ui
