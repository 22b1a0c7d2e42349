#include "ui/dialogs/SensitivityForm.h"

#include "ui/dialogs/FormButtons.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace cleavix::ui {

TSensitivityForm::TSensitivityForm(slicing::Slicer& slicer, QWidget* parent)
    : QDialog(parent), slicer_(slicer), edit_(new QLineEdit(this)) {
    setObjectName("TSensitivityForm");
    setWindowTitle("Sensitivity");
    edit_->setMaxLength(3);
    QString current = QString::fromStdString(slicer.sensitivityLabel());
    current.chop(1); // the label's "%"
    edit_->setText(current);
    edit_->selectAll();
    auto* row = new QHBoxLayout(this);
    row->addWidget(new QLabel("Sensitivity (%):", this));
    row->addWidget(edit_);
    fitTitle(*this);
}

void TSensitivityForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (slicer_.applySensitivityText(edit_->text().toStdString())) {
            accept();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event); // Escape rejects
}

} // namespace cleavix::ui
