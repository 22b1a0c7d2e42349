#pragma once
// The "Normalise" dialog (TNormForm): the target peak as a percentage of full scale, "Re-cut
// sample" and "D.C. center". OK stays disabled until the percentage is a whole number; Enter in the
// field acts as OK then. It opens with the settings kept by the processor and stores them on OK.
#include "processing/Processor.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace cleavix::ui {

// A whole number as the normalise and sample-rate fields take it: an optional sign and digits.
bool isWholeNumber(const QString& text);

class TNormForm final : public QDialog {
    Q_OBJECT
public:
    TNormForm(processing::ProcessSettings& settings, QWidget* parent);

    QLineEdit* percentEdit() const { return edit_; }
    QCheckBox* recutBox() const { return recut_; }
    QCheckBox* centreBox() const { return centre_; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

private:
    processing::ProcessSettings& settings_;
    QLineEdit* edit_;
    QCheckBox* recut_;
    QCheckBox* centre_;
    QPushButton* ok_;
};

} // namespace cleavix::ui
