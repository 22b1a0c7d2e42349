#pragma once
// TForm6, the "Keymap settings" dialog: the base note, the interval, the bank or track name, the
// end-point smoothing and the key-layout options. Save Segments in Loop opens it in editor mode
// (the sample count is the number of segments between the locators); the batch transfer opens it
// in batch mode (the count is the number of files), where the MIDI-file options do not apply. In
// editor mode it also offers the instrument files written beside the slices: an SFZ instrument, a
// MIDI file and a Hydrogen drum kit.
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

// The instrument files Save Segments in Loop writes beside the numbered files. A name without a
// folder goes into the slice files' folder; an empty name is made from the bank name.
struct InstrumentFiles {
    bool sfz = false;
    bool midi = false;
    bool kit = false;
    QString sfzName;
    QString midiName;
    QString kitName; // the Hydrogen kit's folder
};

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
    // The instrument files (editor mode) and the folders their browse buttons start in
    // ("SaveSFDir", "SaveMidDir", "SaveTrkDir").
    InstrumentFiles instruments;
    QString sfzFolder, midiFolder, kitFolder;

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
    QCheckBox* sfzBox() const { return sfzBox_; }
    QCheckBox* midiBox() const { return midiBox_; }
    QCheckBox* kitBox() const { return kitBox_; }
    QLineEdit* sfzEdit() const { return sfzEdit_; }
    QLineEdit* midiEdit() const { return midiEdit_; }
    QLineEdit* kitEdit() const { return kitEdit_; }
    QPushButton* resetButton() const { return reset_; }

private:
    void rangeCheck();
    void whiteKeysToggled(bool on);
    void levelChanged(int position);
    // The "Instrument files" group: a check box, a name and a browse button per file.
    QGroupBox* buildInstrumentGroup(const KeymapSettings& settings);

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
    QCheckBox* sfzBox_ = nullptr;
    QCheckBox* midiBox_ = nullptr;
    QCheckBox* kitBox_ = nullptr;
    QLineEdit* sfzEdit_ = nullptr;
    QLineEdit* midiEdit_ = nullptr;
    QLineEdit* kitEdit_ = nullptr;
    int noteBeforeWhite_ = 1;
    int intervalBeforeWhite_ = 0;
};

} // namespace cleavix::ui
