#pragma once
// The channel conversion dialog (TConvertForm) as Convert Channels sets it up: "Convert to stereo"
// with the single entry "Mono to stereo" for a mono sample; "Convert to mono" with "Use Left
// Channel", "Use Right Channel" and "Mix Channels" (preselected) for a stereo one.
#include <QDialog>

class QComboBox;

namespace cleavix::ui {

class TConvertForm final : public QDialog {
    Q_OBJECT
public:
    TConvertForm(int channels, QWidget* parent);
    QComboBox* list() const { return list_; }
    // The conversion choice: stereo to mono 0 left, 1 right, 2 mix; mono to stereo 0.
    int choice() const;

private:
    QComboBox* list_;
};

} // namespace cleavix::ui
