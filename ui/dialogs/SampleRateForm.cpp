#include "ui/dialogs/SampleRateForm.h"

#include "ui/dialogs/FormButtons.h"
#include "ui/dialogs/NormaliseForm.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace cleavix::ui {

TConRateForm::TConRateForm(uint32_t currentRate, uint16_t channels, QWidget* parent)
    : QDialog(parent), list_(new QComboBox(this)), ok_(nullptr),
      highest_(0xFFFFFFFFu / (channels == 2 ? 4u : 2u)) {
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
    auto* buttons = okCancelButtons(*this, "Convert sample rate");
    ok_ = okButtonOf(buttons);
    connect(list_, &QComboBox::editTextChanged, this, [this](const QString& text) { ok_->setEnabled(rateValid(text)); });
    ok_->setEnabled(rateValid(rateText()));
    auto* column = new QVBoxLayout(this);
    column->addWidget(group);
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

bool TConRateForm::rateValid(const QString& text) const {
    if (!isWholeNumber(text)) {
        return false;
    }
    const long long rate = text.toLongLong();
    // No rate of 0 (nothing could play it, and the tempo would divide by it), and none so high
    // that the bytes per second wrap round in the file header.
    return rate >= 1 && rate <= highest_;
}

} // namespace cleavix::ui
