#include "ui/dialogs/BarsBeatsForm.h"

#include "ui/dialogs/FormButtons.h"

#include "slicing/Tempo.h"

#include <QFormLayout>
#include <QKeyEvent>
#include <QLineEdit>

namespace cleavix::ui {

TBarsBeatsForm::TBarsBeatsForm(int bars, int beats, Field focus, QWidget* parent)
    : QDialog(parent), bars_(new QLineEdit(QString::number(bars), this)),
      beats_(new QLineEdit(QString::number(beats), this)), barsValue_(bars), beatsValue_(beats) {
    setObjectName("TBarsBeatsForm");
    setWindowTitle("Change bars and beats");
    bars_->setObjectName("BarsEdit");
    beats_->setObjectName("BeatsEdit");
    for (QLineEdit* edit : {bars_, beats_}) {
        edit->setMaxLength(5);
        connect(edit, &QLineEdit::textEdited, this, [this] { edited(); });
    }
    auto* form = new QFormLayout(this);
    form->addRow("Bars", bars_);
    form->addRow("Beats", beats_);
    QLineEdit* first = focus == Field::Beats ? beats_ : bars_;
    first->setFocus();
    first->selectAll();
    fitTitle(*this);
}

void TBarsBeatsForm::edited() {
    int bars = 0;
    int beats = 0;
    valid_ = slicing::parseCount(bars_->text().toStdString(), bars) &&
             slicing::parseCount(beats_->text().toStdString(), beats);
    if (valid_) {
        barsValue_ = bars;
        beatsValue_ = beats;
    }
}

void TBarsBeatsForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        if (valid_) {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event); // Escape closes
}

void TBarsBeatsForm::done(int result) {
    applied_ = valid_;
    QDialog::done(result);
}

} // namespace cleavix::ui
