#include "ui/dialogs/ProcessForm.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace cleavix::ui {

TProcessForm::TProcessForm(jobs::JobFrame& jobs, QWidget* disabled)
    : QDialog(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      jobs_(jobs), disabled_(disabled), label_(new QLabel(this)), files_(new QLabel(this)), bar_(new QProgressBar(this)),
      cancel_(new QPushButton("Cancel", this)) {
    setObjectName("TProcessForm");
    setWindowTitle("Processing");
    setWindowModality(Qt::ApplicationModal);
    label_->setAlignment(Qt::AlignCenter);
    files_->setObjectName("FileCounter");
    files_->setAlignment(Qt::AlignCenter);
    files_->hide();
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(4);
    layout->addWidget(label_);
    layout->addWidget(files_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    setFixedSize(253, 87);
    connect(cancel_, &QPushButton::clicked, this, [this] { jobs_.requestCancel(); });
    jobs_.progress().setView(this);
}

TProcessForm::~TProcessForm() { jobs_.progress().setView(nullptr); }

void TProcessForm::progressShown() {
    progressChanged();
    if (disabled_ != nullptr) {
        disabled_->setEnabled(false);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    show();
    if (onVisibility) {
        onVisibility(true);
    }
}

void TProcessForm::progressChanged() {
    const auto& model = jobs_.progress();
    label_->setText(QString::fromStdString(model.caption()));
    bar_->setValue(model.position());
    const bool counting = model.fileCount() > 0;
    if (counting) {
        files_->setText(QString("File %1 of %2").arg(model.fileNumber()).arg(model.fileCount()));
    }
    if (counting == files_->isHidden()) {
        files_->setVisible(counting);
        setFixedSize(253, counting ? 105 : 87);
    }
    cancel_->setVisible(model.cancelVisible());
}

void TProcessForm::progressHidden() {
    hide();
    if (disabled_ != nullptr) {
        disabled_->setEnabled(true);
    }
    if (onVisibility) {
        onVisibility(false);
    }
}

void TProcessForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (cancel_->isVisible()) {
            jobs_.requestCancel();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TProcessForm::closeEvent(QCloseEvent* event) { event->ignore(); }

} // namespace cleavix::ui
