#include "ui/sampler/SReqForm.h"
#include "session/SamplerTransfer.h"
#include "ui/sampler/SamplerCommands.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace cleavix::ui {

TSReqForm::TSReqForm(session::Session& session, SamplerHost& host, QWidget* parent)
    : QDialog(parent), session_(session), host_(host), list_(new QTreeWidget(this)),
      receive_(new QPushButton("Receive", this)), cancel_(new QPushButton("Cancel", this)),
      status_(new QLabel(session::kStatusInactive, this)) {
    setObjectName("TSReqForm");
    setWindowTitle("Request sample");
    list_->setObjectName("SampleList");
    list_->setHeaderLabels({"#", "Name", "Size", "Bits", "Type"});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    receive_->setObjectName("ReceiveButton");
    cancel_->setObjectName("CancelButton");
    status_->setObjectName("StatusLabel");
    auto* rows = new QVBoxLayout(this);
    rows->addWidget(new QLabel("Available samples:", this));
    rows->addWidget(list_, 1);
    rows->addWidget(status_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(receive_);
    rows->addLayout(buttons);
    connect(receive_, &QPushButton::clicked, this, [this] { receiveClicked(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { receiveClicked(); });
}

bool TSReqForm::listingRunning() const { return listing_; }

int32_t TSReqForm::selectedNumber() const {
    const auto* item = list_->currentItem();
    return item != nullptr ? item->data(0, Qt::UserRole).toInt() : -1;
}

void TSReqForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    list_->clear();
    receive_->setEnabled(false);
    auto& sampler = session_.sampler();
    sampler.onRunning = [this](bool on) { host_.setTransferring(on); };
    sampler.onStatus = [this](const std::string& text) { status_->setText(QString::fromStdString(text)); };
    listing_ = sampler.listSamples([this](const session::TransferEnd& end) { listed(end); });
}

void TSReqForm::listed(const session::TransferEnd& end) {
    listing_ = false;
    for (const auto& row : session_.sampler().listing()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::number(row.number));
        item->setText(1, QString::fromStdString(row.name));
        const uint64_t bytes = uint64_t(row.lengthWords) * 2;
        item->setText(2, bytes >= 1024 ? QString("%1kb").arg(bytes / 1024) : QString("%1 bytes").arg(bytes));
        item->setText(3, "16");
        item->setText(4, row.channels == 2 ? "stereo" : "mono");
        item->setData(0, Qt::UserRole, row.number);
    }
    receive_->setEnabled(end.ok && list_->topLevelItemCount() > 0);
    status_->setText(session::kStatusInactive);
}

void TSReqForm::receiveClicked() {
    if (listing_ || list_->topLevelItemCount() == 0 || list_->currentItem() == nullptr ||
        !session_.sampler().checkSelected().ok()) {
        return;
    }
    accept();
}

void TSReqForm::reject() {
    if (listing_) {
        session_.sampler().abort();
        return;
    }
    QDialog::reject();
}

} // namespace cleavix::ui
