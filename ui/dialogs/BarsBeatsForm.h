#pragma once
// The "Change bars and beats" dialog: the fields "Bars" and "Beats", filled from the labels. A
// change in either field makes the pair valid when both are whole numbers from 0 to 32767. Enter
// with a valid pair closes it and applies the pair; Enter with an invalid pair does nothing. Any
// other closing (Escape, the window's close button) also applies a pair that is valid.
#include <QDialog>

class QLineEdit;

namespace cleavix::ui {

class TBarsBeatsForm final : public QDialog {
    Q_OBJECT
public:
    enum class Field { Bars, Beats };
    TBarsBeatsForm(int bars, int beats, Field focus, QWidget* parent);

    QLineEdit* barsEdit() const { return bars_; }
    QLineEdit* beatsEdit() const { return beats_; }
    // Whether the dialog closed with a valid pair, and the pair.
    bool applied() const { return applied_; }
    int bars() const { return barsValue_; }
    int beats() const { return beatsValue_; }

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void edited();

    QLineEdit* bars_;
    QLineEdit* beats_;
    bool valid_ = false;
    bool applied_ = false;
    int barsValue_ = 0;
    int beatsValue_ = 0;
};

} // namespace cleavix::ui
