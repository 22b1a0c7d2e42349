#include "ui/sampler/TransferDialog.h"
#include "session/SamplerTransfer.h"
#include "ui/sampler/SamplerCommands.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

namespace cleavix::ui {

TransferDialogBase::TransferDialogBase(session::Session& session, SamplerHost& host, QWidget* parent)
    : QDialog(parent), session_(session), host_(host), profile_(new QComboBox(this)),
      edit_(new QPushButton("Edit", this)), position_(new QSpinBox(this)), ok_(new QPushButton("OK", this)),
      abort_(new QPushButton("Abort dump", this)), status_(new QLabel(session::kStatusInactive, this)) {
    profile_->setObjectName("ProfileBox");
    edit_->setObjectName("EditButton");
    position_->setObjectName("PositionBox");
    position_->setRange(0, 32767);
    ok_->setObjectName("OKButton");
    abort_->setObjectName("AbortButton");
    abort_->setToolTip("Abort current transfer");
    abort_->setEnabled(false);
    status_->setObjectName("StatusLabel");
    connect(profile_, &QComboBox::currentIndexChanged, this, [this](int index) { selectProfile(index); });
    connect(edit_, &QPushButton::clicked, this, [this] { editClicked(); });
    connect(abort_, &QPushButton::clicked, this, [this] { session_.sampler().abort(); });
    connect(ok_, &QPushButton::clicked, this, [this] {
        if (!running()) {
            accept();
        }
    });
}

bool TransferDialogBase::running() const { return session_.sampler().running(); }

void TransferDialogBase::refreshProfiles() {
    auto& sampler = session_.sampler();
    const auto lines = sampler.profileLines();
    const QSignalBlocker block(profile_);
    profile_->clear();
    for (const auto& line : lines) {
        profile_->addItem(QString::fromStdString(line));
    }
    const int position = sampler::profiles::lastUsedPosition(host_.profilePosition(), int(lines.size()));
    profile_->setCurrentIndex(position);
    selectProfile(position);
}

void TransferDialogBase::selectProfile(int index) {
    auto& sampler = session_.sampler();
    const auto names = sampler.profileStore().names();
    sampler.selectProfile(index >= 0 && size_t(index) < names.size() ? names[size_t(index)] : std::string());
    if (index >= 0) {
        host_.setProfilePosition(index);
    }
    profileSelected();
    restoreControls();
}

void TransferDialogBase::editClicked() {
    const int chosen = host_.editProfiles(profile_->currentIndex());
    if (chosen >= 0) {
        host_.setProfilePosition(chosen);
    }
    refreshProfiles();
}

void TransferDialogBase::restoreControls() {
    const bool idle = !running();
    profile_->setEnabled(idle);
    edit_->setEnabled(idle);
    position_->setEnabled(idle);
    ok_->setEnabled(idle);
    abort_->setEnabled(!idle);
}

void TransferDialogBase::attach() {
    auto& sampler = session_.sampler();
    sampler.onRunning = [this](bool on) {
        host_.setTransferring(on);
        restoreControls();
    };
    sampler.onStatus = [this](const std::string& text) { status_->setText(QString::fromStdString(text)); };
}

void TransferDialogBase::showEvent(QShowEvent* event) {
    attach();
    status_->setText(session::kStatusInactive);
    QDialog::showEvent(event);
}

void TransferDialogBase::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    auto& sampler = session_.sampler();
    if (!sampler.running()) {
        sampler.onRunning = nullptr;
        sampler.onStatus = nullptr;
    }
}

void TransferDialogBase::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && running()) {
        // Esc is "Abort dump" while a transfer runs; the dialog stays until it has ended.
        if (abort_->isEnabled()) {
            abort_->click();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TransferDialogBase::reject() {
    if (!running()) {
        QDialog::reject();
    }
}

void TransferDialogBase::transferEnded(const session::TransferEnd& end) {
    lastMessage_ = QString::fromStdString(end.message);
    restoreControls();
}

} // namespace cleavix::ui
