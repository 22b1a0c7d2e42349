#pragma once
// The "Quantise" dialog (TBitForm): the quantise level on a slider from 0 ("High": every sample
// becomes 0) to 8 ("Low": steps of 256). It opens at the kept level and stores the new one on OK.
#include "processing/Processor.h"

#include <QDialog>

class QSlider;

namespace cleavix::ui {

class TBitForm final : public QDialog {
    Q_OBJECT
public:
    TBitForm(processing::ProcessSettings& settings, QWidget* parent);
    QSlider* levelSlider() const { return slider_; }
    void accept() override;

private:
    processing::ProcessSettings& settings_;
    QSlider* slider_;
};

} // namespace cleavix::ui
