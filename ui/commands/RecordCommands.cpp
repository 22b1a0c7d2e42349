#include "ui/commands/RecordCommands.h"

#include "session/RecordTake.h"
#include "ui/record/RecordForm.h"
#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"

#include <QMainWindow>
#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace cleavix::ui {

namespace {

constexpr int kIdlePollMs = 50;

// A red dot, as record buttons have.
QIcon recordIcon() {
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(96, 0, 0));
    p.setBrush(QColor(208, 24, 24));
    p.drawEllipse(QRectF(4.5, 4.5, 11, 11));
    return QIcon(pixmap);
}

} // namespace

RecordCommands::RecordCommands(MainWindowHost& form) : QObject(&form.mainWindow()), form_(form) {}

RecordCommands::~RecordCommands() {
    if (dialog_ != nullptr) {
        dialog_->disconnect(this);
        delete dialog_;
        dialog_ = nullptr;
    }
    take_.reset();
}

void RecordCommands::buildActions() {
    auto* a = new QAction("&Record...", &form_.mainWindow());
    a->setObjectName("Record1");
    a->setIcon(recordIcon());
    a->setStatusTip("Record a new sample from the input");
    connect(a, &QAction::triggered, this, [this] { record(); });
}

void RecordCommands::fillFileMenu(QMenu& file) {
    QAction* close = form_.action("Close1");
    const auto items = file.actions();
    const auto at = std::find(items.begin(), items.end(), close);
    QAction* before = (at != items.end() && at + 1 != items.end()) ? *(at + 1) : nullptr;
    file.insertAction(before, form_.action("Record1"));
}

void RecordCommands::fillPlayToolbar(QToolBar& bar) {
    button_ = new QToolButton(&bar);
    button_->setObjectName("RecordB");
    button_->setDefaultAction(form_.action("Record1"));
    button_->setText("Record");
    button_->setToolTip("Record");
    button_->setAutoRaise(true);
    bar.addWidget(button_);
}

void RecordCommands::applyLegend(bool legend) {
    if (button_ != nullptr) {
        button_->setToolButtonStyle(legend ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
    }
}

void RecordCommands::record() {
    auto& session = form_.session();
    if (dialog_ != nullptr || session.busy()) {
        return;
    }
    form_.transport()->stop();
    take_ = session.DoRecord();
    if (!take_) {
        return;
    }
    // The store is left alone while the dialog shows; the take writes to its own file.
    form_.transport()->setStoreBusy(true);
    dialog_ = new TRecordForm(*take_, form_.config().units, form_.prompter(), &form_.mainWindow());
    connect(dialog_, &QDialog::finished, this, [this](int result) { finished(result); });
    dialog_->open();
}

void RecordCommands::finished(int result) {
    // The dialog let go of the take when it closed.
    TRecordForm* dialog = dialog_;
    dialog_ = nullptr;
    const bool keep = result == QDialog::Accepted && dialog->Accepted();
    dialog->deleteLater();
    form_.transport()->setStoreBusy(false);
    auto take = std::move(take_);
    if (!keep) {
        return; // the take and its file go; the sample is as it was
    }
    // The unsaved-changes question comes first; Cancel there drops the take.
    form_.session().keepRecording(take, [this](bool ok) {
        if (!ok) {
            return;
        }
        form_.expectNewSample();
        form_.session().selection().resetChannels();
        form_.sampleChanged();
        refreshWhenIdle();
    });
}

void RecordCommands::refreshWhenIdle() {
    // The slice search of the new sample may still run; Undo and the rest are enabled after it.
    if (!form_.session().busy()) {
        form_.updateEnabling();
        return;
    }
    QTimer::singleShot(kIdlePollMs, this, [this] { refreshWhenIdle(); });
}

} // namespace cleavix::ui
