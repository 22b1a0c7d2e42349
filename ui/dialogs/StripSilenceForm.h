#pragma once
// The "Remove silence" dialog (TStripForm): the threshold (1 to 5000) and gap (10 to 15000) sliders
// and the "Points:" list. The sliders open at the kept values; the list starts at "Set between
// 'stripped' samples" every time. Whatever the sliders show when the dialog closes is kept, OK or
// not (the caller reads them back).
#include <QDialog>

class QComboBox;
class QLabel;
class QSlider;

namespace cleavix::ui {

class TStripForm final : public QDialog {
    Q_OBJECT
public:
    TStripForm(int threshold, int gap, QWidget* parent);
    QSlider* thresholdSlider() const { return threshold_; }
    QSlider* gapSlider() const { return gap_; }
    QComboBox* pointsList() const { return points_; }
    int threshold() const;
    int gap() const;
    int pointsMode() const;

private:
    QSlider* threshold_;
    QSlider* gap_;
    QComboBox* points_;
};

} // namespace cleavix::ui
