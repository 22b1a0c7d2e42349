#pragma once
// TForm6, the "Keymap settings" dialog: the base note, the interval, the bank or track name, the
// end-point smoothing and the key-layout options. Save Segments in Loop opens it in editor mode
// (the sample count is the number of segments between the locators); the batch transfer opens it
// in batch mode (the count is the number of files), where the MIDI-file options do not apply.
// OK is enabled only while the samples fit on the keyboard below note 128.
#include "ui/platform/Config.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

namespace cleavix::ui {

// The key-map settings record the main window keeps (and the configuration stores).
struct KeymapSettings {
    QString bankName = "Vantrel";
    int noteIndex = 1; // 1..12: C, C#, D, ... B
    int octave = 2;
    int interval = 0;  // 0..12 in steps of 2
    bool whiteKeys = false;
    bool baseNoteOnly = false;
    bool reverseNotes = false;
    bool smoothEditor = true; // smoothing of Save Segments in Loop
    bool smoothBatch = false; // smoothing of batch transfers
    int smoothLevel = 30;     // 0..60

    // C with octave 2 gives 48.
    int baseNote() const { return (octave + 2) * 12 + noteIndex - 1; }
};

KeymapSettings keymapFromConfig(const Config& config);
void keymapToConfig(const KeymapSettings& settings, Config& config);

// "C", "C#", ... "B" for 1..12; the index of a name (0 when it is none).
QString noteName(int index);
int noteIndexOf(const QString& name);

// Whether `samples` samples laid from `base` with `span` keys each (or on white keys only) stay
// at or below note 127.
bool keysFit(int base, int span, int samples, bool whiteKeysOnly);

class TForm6 final : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Editor, Batch };
    TForm6(const KeymapSettings& settings, Mode mode, int sampleCount, QWidget* parent = nullptr);

    // The values shown; the caller stores them after OK.
    KeymapSettings settings() const;

    QSpinBox* noteBox() const { return note_; }
    QSpinBox* octaveBox() const { return octave_; }
    QSpinBox* intervalBox() const { return interval_; }
    QLineEdit* bankEdit() const { return bank_; }
    QCheckBox* smoothBox() const { return smooth_; }
    QSlider* smoothBar() const { return level_; }
    QCheckBox* whiteKeysBox() const { return white_; }
    QCheckBox* reverseBox() const { return reverse_; }
    QCheckBox* baseOnlyBox() const { return baseOnly_; }
    QLabel* warningLabel() const { return warning_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* resetButton() const { return reset_; }

private:
    void rangeCheck();
    void whiteKeysToggled(bool on);
    void levelChanged(int position);

    Mode mode_;
    int samples_;
    KeymapSettings initial_;
    QSpinBox* note_;
    QSpinBox* octave_;
    QSpinBox* interval_;
    QLineEdit* bank_;
    QCheckBox* smooth_;
    QSlider* level_;
    QCheckBox* white_;
    QCheckBox* reverse_;
    QCheckBox* baseOnly_;
    QLabel* warning_;
    QPushButton* ok_;
    QPushButton* reset_;
    int noteBeforeWhite_ = 1;
    int intervalBeforeWhite_ = 0;
};

} // namespace cleavix::ui
