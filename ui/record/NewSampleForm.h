#pragma once
// The "New Sample" dialog (TNewSampleForm): the format of a recording -- 16 bits, a rate picked
// from the usual ones or typed, and mono or stereo. OK with a rate that is not a whole number
// within what the recorder takes says "This sample rate is invalid!" and offers 44100 instead.
//
// Threads: main thread only.
#include "processing/Processor.h"

#include <QDialog>

#include <cstdint>

class QComboBox;
class QRadioButton;

namespace cleavix::jobs {
class Prompter;
}

namespace cleavix::ui {

// The engine's text, so the dialog and a refused resample say the same.
using processing::kMsgInvalidRate;

class TNewSampleForm final : public QDialog {
    Q_OBJECT
public:
    TNewSampleForm(jobs::Prompter& prompter, QWidget* parent);

    void Init(uint16_t bits, uint32_t rate, uint16_t channels);
    // Shows the dialog; true with the chosen format on OK.
    bool Run(uint16_t& bits, uint32_t& rate, uint16_t& channels);

    QComboBox* bitsList() const { return bits_; }
    QComboBox* rateList() const { return rates_; }
    QRadioButton* monoButton() const { return mono_; }
    QRadioButton* stereoButton() const { return stereo_; }

    void accept() override;

private:
    jobs::Prompter& prompter_;
    QComboBox* bits_;
    QComboBox* rates_;
    QRadioButton* mono_;
    QRadioButton* stereo_;
    uint32_t rate_ = 44100;
};

} // namespace cleavix::ui
