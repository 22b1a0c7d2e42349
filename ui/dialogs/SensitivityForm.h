#pragma once
// The "Sensitivity" dialog: the current percentage, typed over as a whole number from 0 to 100.
// Enter with a valid number applies it as a slider change; Escape closes it unchanged; an invalid
// number makes Enter do nothing.
#include "slicing/Slicer.h"

#include <QDialog>

class QLineEdit;

namespace cleavix::ui {

class TSensitivityForm final : public QDialog {
    Q_OBJECT
public:
    TSensitivityForm(slicing::Slicer& slicer, QWidget* parent);
    QLineEdit* edit() const { return edit_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    slicing::Slicer& slicer_;
    QLineEdit* edit_;
};

} // namespace cleavix::ui
