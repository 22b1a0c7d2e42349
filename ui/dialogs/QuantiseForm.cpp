#include "ui/dialogs/QuantiseForm.h"

#include "ui/dialogs/FormButtons.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace cleavix::ui {

TBitForm::TBitForm(processing::ProcessSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), slider_(new QSlider(Qt::Horizontal, this)) {
    setObjectName("TBitForm");
    setWindowTitle("Quantise");
    slider_->setObjectName("LevelSlider");
    slider_->setRange(0, 8);
    slider_->setPageStep(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(1);
    slider_->setToolTip("Select level of quantise quantise to apply");
    slider_->setValue(std::clamp(settings.quantiseLevel, 0, 8));
    slider_->setMinimumWidth(200);

    auto* group = new QGroupBox("Quantise level:", this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(slider_, 0, 0, 1, 2);
    grid->addWidget(new QLabel("High", group), 1, 0, Qt::AlignLeft);
    grid->addWidget(new QLabel("Low", group), 1, 1, Qt::AlignRight);

    auto* buttons = okCancelButtons(*this, "Quantise sample");
    auto* column = new QVBoxLayout(this);
    column->addWidget(group);
    column->addWidget(buttons);
    fitTitle(*this);
}

void TBitForm::accept() {
    settings_.quantiseLevel = slider_->value();
    QDialog::accept();
}

} // namespace cleavix::ui
