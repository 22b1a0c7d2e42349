#include "ui/sampler/SMDIForm.h"
#include "session/SamplerTransfer.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/sampler/SReqForm.h"
#include "ui/sampler/SamplerCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace cleavix::ui {

namespace pf = sampler::profiles;

TSMDIForm::TSMDIForm(session::Session& session, SamplerHost& host, QWidget* parent)
    : TransferDialogBase(session, host, parent), send_(new QPushButton("Send region", this)),
      channel_(new QComboBox(this)), autoMap_(new QCheckBox("Auto map", this)),
      mapping_(new QPushButton("Set mapping", this)), receive_(new QPushButton("Wait For Send", this)),
      request_(new QPushButton("Request", this)), round_(new QCheckBox("Round sample rate", this)),
      receiveName_(new QCheckBox("Receive sample name", this)) {
    setObjectName("TSMDIForm");
    setWindowTitle("Sampler Transfer");
    send_->setObjectName("SendButton");
    channel_->setObjectName("ChannelBox");
    channel_->addItems({"First channel", "Second channel"});
    channel_->setToolTip("Select channel to send");
    autoMap_->setObjectName("AutoMapBox");
    autoMap_->setChecked(true);
    mapping_->setObjectName("MappingButton");
    receive_->setObjectName("ReceiveButton");
    request_->setObjectName("RequestButton");
    round_->setObjectName("RoundBox");
    round_->setChecked(true);
    round_->setToolTip("Adjust playback rate to nearest 100");
    receiveName_->setObjectName("ReceiveNameBox");
    position_->setToolTip("Select sample position to send / receive sample to / from");
    auto* help = new QPushButton("Help", this);
    help->setObjectName("HelpButton");

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Profile:", this), 0, 0);
    grid->addWidget(profile_, 0, 1);
    grid->addWidget(edit_, 0, 2);
    auto* sendGroup = new QGroupBox("Send:", this);
    auto* sendRows = new QGridLayout(sendGroup);
    sendRows->addWidget(send_, 0, 0);
    sendRows->addWidget(channel_, 0, 1);
    sendRows->addWidget(autoMap_, 1, 0);
    sendRows->addWidget(mapping_, 1, 1);
    grid->addWidget(sendGroup, 1, 0, 1, 3);
    auto* receiveGroup = new QGroupBox("Receive:", this);
    auto* receiveRows = new QGridLayout(receiveGroup);
    receiveRows->addWidget(receive_, 0, 0);
    receiveRows->addWidget(request_, 0, 1);
    receiveRows->addWidget(round_, 1, 0);
    receiveRows->addWidget(receiveName_, 1, 1);
    grid->addWidget(receiveGroup, 2, 0, 1, 3);
    grid->addWidget(new QLabel("Position:", this), 3, 0);
    grid->addWidget(position_, 3, 1);
    grid->addWidget(status_, 4, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(abort_);
    buttons->addWidget(help);
    grid->addLayout(buttons, 5, 0, 1, 3);

    connect(send_, &QPushButton::clicked, this, [this] { sendRegion(); });
    connect(request_, &QPushButton::clicked, this, [this] { requestSample(); });
    connect(receive_, &QPushButton::clicked, this, [this] { receiveClicked(); });
    connect(round_, &QCheckBox::toggled, this, [this](bool on) { session_.sampler().roundRate = on; });
    connect(mapping_, &QPushButton::clicked, this, [this] {
        TForm6 keymap(host_.keymap(), TForm6::Mode::Editor, host_.segmentsInLoop(), this);
        if (keymap.exec() == QDialog::Accepted) {
            host_.setKeymap(keymap.settings());
        }
    });
}

void TSMDIForm::showEvent(QShowEvent* event) {
    received_ = false;
    lastMessage_.clear();
    if (session_.loaded()) {
        host_.closeOutput();
    }
    const bool oneChannel = session_.loaded() && session_.format().channels == 2 && !host_.bothChannelsInView();
    channel_->setVisible(oneChannel);
    channel_->setCurrentIndex(host_.channelInView() == 2 ? 1 : 0);
    session_.sampler().roundRate = round_->isChecked();
    refreshProfiles();
    TransferDialogBase::showEvent(event);
}

void TSMDIForm::done(int result) {
    if (running()) {
        return;
    }
    QDialog::done(result);
    if (session_.loaded()) {
        host_.reopenOutput();
    }
}

void TSMDIForm::profileSelected() {
    const auto check = session_.sampler().checkSelected();
    const int type = check.profile ? check.profile->deviceType : 0;
    midiProfile_ = !pf::isScsiType(type);
    receive_->setText(QString::fromStdString(pf::receiveButtonText(type)));
    autoMap_->setEnabled(check.profile && pf::autoMapOffered(type));
}

void TSMDIForm::restoreControls() {
    TransferDialogBase::restoreControls();
    const bool idle = !running();
    send_->setEnabled(idle && session_.loaded());
    receive_->setEnabled(idle);
    request_->setEnabled(idle);
    mapping_->setEnabled(idle);
    channel_->setEnabled(idle);
}

void TSMDIForm::sendRegion() {
    const bool both = channel_->isHidden();
    session_.sampler().sendRegion(position_->value(), both, channel_->currentIndex() + 1,
                                  [this](const session::TransferEnd& end) { transferEnded(end); });
}

void TSMDIForm::requestSample() {
    session_.sampler().request(position_->value(), false,
                               [this](const session::TransferEnd& end) { receiveEnded(end); });
}

void TSMDIForm::receiveClicked() {
    auto& sampler = session_.sampler();
    if (midiProfile_) {
        sampler.request(position_->value(), true, [this](const session::TransferEnd& end) { receiveEnded(end); });
        return;
    }
    // A SCSI sampler lists what it holds; the request dialog fetches the chosen one.
    hide();
    TSReqForm& list = host_.requestDialog();
    const bool chosen = list.exec() == QDialog::Accepted;
    show();
    if (chosen) {
        sampler.receiveListed(list.selectedNumber(), [this](const session::TransferEnd& end) { receiveEnded(end); });
    }
}

void TSMDIForm::receiveEnded(const session::TransferEnd& end) {
    transferEnded(end);
    if (end.ok) {
        received_ = true;
        accept();
    }
}

} // namespace cleavix::ui
