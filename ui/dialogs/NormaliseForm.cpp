#include "ui/dialogs/NormaliseForm.h"

#include "ui/dialogs/FormButtons.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace cleavix::ui {

bool isWholeNumber(const QString& text) {
    // Ten characters at most: the processes read it into a 64-bit value without overflow.
    static const QRegularExpression whole("^[+-]?[0-9]+$");
    return text.size() <= 10 && whole.match(text).hasMatch();
}

TNormForm::TNormForm(processing::ProcessSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), edit_(new QLineEdit(this)), recut_(new QCheckBox("Re-cut sample", this)),
      centre_(new QCheckBox("D.C. center", this)), ok_(nullptr) {
    setObjectName("TNormForm");
    setWindowTitle("Normalise");
    edit_->setObjectName("PercentEdit");
    edit_->setToolTip("Select % to quantise sample to");
    edit_->setText(QString::fromStdString(settings.normalisePercent));
    edit_->selectAll();
    recut_->setObjectName("RecutBox");
    recut_->setToolTip("Recut sample after normalisation");
    recut_->setChecked(settings.recutAfterNormalise);
    centre_->setObjectName("CentreBox");
    centre_->setToolTip("Center sample on 0");
    centre_->setChecked(settings.dcCentre);

    auto* buttons = okCancelButtons(*this, "Normalise sample");
    ok_ = okButtonOf(buttons);
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) { ok_->setEnabled(isWholeNumber(text)); });
    ok_->setEnabled(isWholeNumber(edit_->text()));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Normalise to:", this), 0, 0);
    grid->addWidget(edit_, 0, 1);
    grid->addWidget(new QLabel("%", this), 0, 2);
    grid->addWidget(recut_, 1, 0, 1, 3);
    grid->addWidget(centre_, 2, 0, 1, 3);
    grid->addWidget(buttons, 3, 0, 1, 3);
    edit_->setFocus();
    fitTitle(*this);
}

void TNormForm::accept() {
    if (!isWholeNumber(edit_->text())) {
        return; // Enter with an invalid percentage does nothing
    }
    settings_.normalisePercent = edit_->text().toStdString();
    settings_.recutAfterNormalise = recut_->isChecked();
    settings_.dcCentre = centre_->isChecked();
    QDialog::accept();
}

} // namespace cleavix::ui
