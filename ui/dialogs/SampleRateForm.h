#pragma once
// The "Sample rate" dialog (TConRateForm): an editable list of the usual rates. On showing, the
// entry within the same hundred as the current rate is selected (searching from the last entry
// up); with none, the current rate itself stands in the field. OK is enabled only while the text is
// a whole number from 1 up to the largest rate whose bytes per second a Wave header can hold.
// Two choices below the list: reassign the rate (the data stays, so the pitch changes) or resample
// to it (pitch and length kept); to resample, the rate must also lie within the converter's widest
// ratio of the current one.
#include <QDialog>

#include <cstdint>

class QComboBox;
class QPushButton;
class QRadioButton;

namespace cleavix::ui {

class TConRateForm final : public QDialog {
    Q_OBJECT
public:
    // resample: the choice shown first (the last one made, which the window remembers).
    TConRateForm(uint32_t currentRate, uint16_t channels, QWidget* parent, bool resample = false);
    QComboBox* rateList() const { return list_; }
    QRadioButton* reassignButton() const { return reassign_; }
    QRadioButton* resampleButton() const { return resample_; }
    bool resampleChosen() const;
    QPushButton* okButton() const { return ok_; }
    QString rateText() const;
    bool rateValid(const QString& text) const;
    void accept() override;

private:
    void updateOk();

    QComboBox* list_;
    QPushButton* ok_;
    QRadioButton* reassign_;
    QRadioButton* resample_;
    uint32_t currentRate_;
    uint16_t channels_;
    uint32_t highest_;
};

} // namespace cleavix::ui
