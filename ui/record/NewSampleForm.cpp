#include "ui/record/NewSampleForm.h"

#include "jobs/Prompter.h"
#include "session/RecordTake.h"
#include "ui/dialogs/FormButtons.h"
#include "ui/dialogs/NormaliseForm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

namespace cleavix::ui {

namespace {

constexpr const char* kDefaultRate = "44100";

} // namespace

TNewSampleForm::TNewSampleForm(jobs::Prompter& prompter, QWidget* parent)
    : QDialog(parent), prompter_(prompter), bits_(new QComboBox(this)), rates_(new QComboBox(this)),
      mono_(new QRadioButton("Mono", this)), stereo_(new QRadioButton("Stereo", this)) {
    setObjectName("TNewSampleForm");
    setWindowTitle("New Sample");
    bits_->setObjectName("BitsList");
    bits_->addItem("16");
    rates_->setObjectName("RateList");
    rates_->setEditable(true);
    rates_->setInsertPolicy(QComboBox::NoInsert);
    rates_->addItems({"11025", "22050", "44100", "48000"});
    mono_->setObjectName("MonoButton");
    stereo_->setObjectName("StereoButton");
    auto* channelRow = new QHBoxLayout;
    channelRow->addWidget(mono_);
    channelRow->addWidget(stereo_);
    auto* form = new QFormLayout;
    form->addRow("Bits:", bits_);
    form->addRow("Sample rate:", rates_);
    form->addRow("Channels:", channelRow);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(okCancelButtons(*this, "Use this format for the recording"));
    Init(16, 44100, 1);
}

void TNewSampleForm::Init(uint16_t /*bits: always 16*/, uint32_t rate, uint16_t channels) {
    bits_->setCurrentIndex(0);
    const int at = rates_->findText(QString::number(rate));
    rates_->setCurrentIndex(at >= 0 ? at : rates_->findText(kDefaultRate));
    (channels == 2 ? stereo_ : mono_)->setChecked(true);
}

void TNewSampleForm::accept() {
    const QString text = rates_->currentText().trimmed();
    const long long rate = isWholeNumber(text) ? text.toLongLong() : -1;
    if (rate < session::kMinRecordRate || rate > session::kMaxRecordRate) {
        // The list stays usable, so another rate can be picked after the message.
        prompter_.ask(jobs::MessageKind::Error, kMsgInvalidRate, "", jobs::Buttons::Ok);
        rates_->setCurrentIndex(rates_->findText(kDefaultRate));
        rates_->setEditText(kDefaultRate);
        return;
    }
    rate_ = uint32_t(rate);
    QDialog::accept();
}

bool TNewSampleForm::Run(uint16_t& bits, uint32_t& rate, uint16_t& channels) {
    if (exec() != QDialog::Accepted) {
        return false;
    }
    bits = 16;
    rate = rate_;
    channels = stereo_->isChecked() ? 2 : 1;
    return true;
}

} // namespace cleavix::ui
