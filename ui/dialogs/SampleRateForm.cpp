#include "ui/dialogs/SampleRateForm.h"

#include "ui/dialogs/FormButtons.h"
#include "ui/dialogs/NormaliseForm.h"

#include "processing/Processor.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace cleavix::ui {

TConRateForm::TConRateForm(uint32_t currentRate, uint16_t channels, QWidget* parent, bool resample)
    : QDialog(parent), list_(new QComboBox(this)), ok_(nullptr),
      reassign_(new QRadioButton("&Reassign rate (changes pitch)", this)),
      resample_(new QRadioButton("Re&sample (keeps pitch and length)", this)), currentRate_(currentRate),
      channels_(channels), highest_(0xFFFFFFFFu / (channels == 2 ? 4u : 2u)) {
    setObjectName("TConRateForm");
    setWindowTitle("Sample rate");
    list_->setObjectName("RateList");
    list_->setEditable(true);
    list_->setInsertPolicy(QComboBox::NoInsert);
    list_->addItems({"48000", "44100", "22050", "11025"});
    int found = -1;
    for (int i = list_->count() - 1; i >= 0; --i) {
        if (list_->itemText(i).toUInt() / 100 == currentRate / 100) {
            found = i;
            break;
        }
    }
    if (found >= 0) {
        list_->setCurrentIndex(found);
    } else {
        list_->setEditText(QString::number(currentRate));
    }
    auto* group = new QGroupBox(" Select sample rate: ", this);
    auto* inner = new QVBoxLayout(group);
    inner->addWidget(list_);
    reassign_->setObjectName("ReassignRate");
    resample_->setObjectName("ResampleRate");
    reassign_->setToolTip("Play the same data at the new rate: faster or slower, higher or lower");
    resample_->setToolTip("Convert the sample to the new rate: it sounds the same and keeps its length");
    (resample ? resample_ : reassign_)->setChecked(true);
    auto* how = new QGroupBox(" How: ", this);
    auto* choices = new QVBoxLayout(how);
    choices->addWidget(reassign_);
    choices->addWidget(resample_);
    auto* buttons = okCancelButtons(*this, "Convert sample rate");
    ok_ = okButtonOf(buttons);
    connect(list_, &QComboBox::editTextChanged, this, [this] { updateOk(); });
    connect(resample_, &QRadioButton::toggled, this, [this] { updateOk(); });
    updateOk();
    auto* column = new QVBoxLayout(this);
    column->addWidget(group);
    column->addWidget(how);
    column->addWidget(buttons);
    list_->setFocus();
    fitTitle(*this);
}

void TConRateForm::accept() {
    if (rateValid(rateText())) {
        QDialog::accept();
    }
}

QString TConRateForm::rateText() const { return list_->currentText(); }

bool TConRateForm::resampleChosen() const { return resample_->isChecked(); }

void TConRateForm::updateOk() { ok_->setEnabled(rateValid(rateText())); }

bool TConRateForm::rateValid(const QString& text) const {
    if (!isWholeNumber(text)) {
        return false;
    }
    if (resampleChosen()) {
        return processing::resampleRateValid(text.toStdString(), currentRate_, channels_);
    }
    const long long rate = text.toLongLong();
    // No rate of 0 (nothing could play it, and the tempo would divide by it), and none so high
    // that the bytes per second wrap round in the file header.
    return rate >= 1 && rate <= highest_;
}

} // namespace cleavix::ui
