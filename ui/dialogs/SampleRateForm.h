#pragma once
// The "Sample rate" dialog (TConRateForm): an editable list of the usual rates. On showing, the
// entry within the same hundred as the current rate is selected (searching from the last entry
// up); with none, the current rate itself stands in the field. OK is enabled only while the text is
// a whole number from 1 up to the largest rate whose bytes per second a Wave header can hold.
#include <QDialog>

#include <cstdint>

class QComboBox;
class QPushButton;

namespace cleavix::ui {

class TConRateForm final : public QDialog {
    Q_OBJECT
public:
    TConRateForm(uint32_t currentRate, uint16_t channels, QWidget* parent);
    QComboBox* rateList() const { return list_; }
    QPushButton* okButton() const { return ok_; }
    QString rateText() const;
    bool rateValid(const QString& text) const;
    void accept() override;

private:
    QComboBox* list_;
    QPushButton* ok_;
    uint32_t highest_;
};

} // namespace cleavix::ui
