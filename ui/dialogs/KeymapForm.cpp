#include "ui/dialogs/KeymapForm.h"

#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/FormButtons.h"
#include "sampler/KeyAssignment.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace cleavix::ui {

namespace {

constexpr std::array<const char*, 12> kNotes = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
constexpr const char* kWarning = "WARNING! -  Samples exceed available notes";
constexpr int kMaxLevel = 60;

// The base note's name with up-down buttons: a spin box over 1..12 that shows note names.
class NoteSpinBox final : public QSpinBox {
public:
    explicit NoteSpinBox(QWidget* parent) : QSpinBox(parent) { setRange(1, 12); }

    // A spin box sizes itself by the texts of its two ends ("C", "B"): room for the widest name.
    QSize sizeHint() const override { return widened(QSpinBox::sizeHint()); }
    QSize minimumSizeHint() const override { return widened(QSpinBox::minimumSizeHint()); }

protected:
    QString textFromValue(int value) const override { return noteName(value); }
    int valueFromText(const QString& text) const override {
        const int index = noteIndexOf(text.trimmed());
        return index > 0 ? index : value();
    }
    QValidator::State validate(QString& text, int&) const override {
        const QString t = text.trimmed().toUpper();
        if (noteIndexOf(t) > 0) {
            return QValidator::Acceptable;
        }
        const bool prefix = std::any_of(kNotes.begin(), kNotes.end(),
                                        [&](const char* n) { return QString(n).startsWith(t); });
        return prefix ? QValidator::Intermediate : QValidator::Invalid;
    }

private:
    QSize widened(QSize size) const {
        const QFontMetrics metrics(font());
        int widest = 0;
        for (const char* n : kNotes) {
            widest = std::max(widest, metrics.horizontalAdvance(QString(n)));
        }
        const int ends = std::max(metrics.horizontalAdvance(textFromValue(minimum())),
                                  metrics.horizontalAdvance(textFromValue(maximum())));
        size.rwidth() += std::max(0, widest - ends);
        return size;
    }
};

} // namespace

QString noteName(int index) { return index >= 1 && index <= 12 ? kNotes[size_t(index - 1)] : QString(); }

int noteIndexOf(const QString& name) {
    for (size_t i = 0; i < kNotes.size(); ++i) {
        if (name.compare(kNotes[i], Qt::CaseInsensitive) == 0) {
            return int(i) + 1;
        }
    }
    return 0;
}

bool keysFit(int base, int span, int samples, bool whiteKeysOnly) {
    return sampler::keysFit(base, span, samples, whiteKeysOnly);
}

KeymapSettings keymapFromConfig(const Config& c) {
    KeymapSettings k;
    k.bankName = c.mapTrackName.left(255);
    // The index is stored beside the name; the name decides when the two disagree.
    const int byName = noteIndexOf(c.mapBaseKey);
    k.noteIndex = byName > 0 ? byName : std::clamp(c.baseKeyInt, 1, 12);
    k.octave = std::clamp(c.mapBaseOct, -2, 8);
    k.interval = std::clamp(c.mapInterval / 2 * 2, 0, 12);
    k.whiteKeys = c.mapUseWhiteKeys;
    k.baseNoteOnly = c.mapUseBaseNote;
    k.reverseNotes = c.mapReverseNotes;
    k.smoothEditor = c.mapSmoothEndPoints;
    k.smoothBatch = c.mapSmoothBatch;
    k.smoothLevel = std::clamp(c.mapSmoothPos, 0, kMaxLevel);
    k.sfzFolder = c.saveSFDir;
    k.midiFolder = c.saveMidDir;
    k.kitFolder = c.saveTrkDir;
    return k;
}

void keymapToConfig(const KeymapSettings& k, Config& c) {
    c.mapTrackName = k.bankName;
    c.mapBaseKey = noteName(k.noteIndex);
    c.baseKeyInt = k.noteIndex;
    c.mapBaseOct = k.octave;
    c.mapInterval = k.interval;
    c.mapUseWhiteKeys = k.whiteKeys;
    c.mapUseBaseNote = k.baseNoteOnly;
    c.mapReverseNotes = k.reverseNotes;
    c.mapSmoothEndPoints = k.smoothEditor;
    c.mapSmoothBatch = k.smoothBatch;
    c.mapSmoothPos = k.smoothLevel;
}

TForm6::TForm6(const KeymapSettings& settings, Mode mode, int sampleCount, QWidget* parent)
    : QDialog(parent), mode_(mode), samples_(std::max(0, sampleCount)), initial_(settings),
      note_(new NoteSpinBox(this)), octave_(new QSpinBox(this)), interval_(new QSpinBox(this)),
      bank_(new QLineEdit(this)), smooth_(new QCheckBox("Smooth sample end points", this)),
      level_(new QSlider(Qt::Horizontal, this)), white_(new QCheckBox("Use white keys only from C", this)),
      reverse_(new QCheckBox("Reverse notes in midi file", this)),
      baseOnly_(new QCheckBox("Use base note only", this)), warning_(new QLabel(kWarning, this)),
      ok_(new QPushButton("OK", this)), reset_(new QPushButton("Reset", this)) {
    setObjectName("TForm6");
    setWindowTitle("Keymap settings");

    note_->setObjectName("NoteBox");
    octave_->setObjectName("OctaveBox");
    octave_->setRange(-2, 8);
    interval_->setObjectName("IntervalBox");
    interval_->setRange(0, 12);
    interval_->setSingleStep(2);
    bank_->setObjectName("BankEdit");
    bank_->setMaxLength(255);
    level_->setObjectName("SmoothBar");
    level_->setRange(0, kMaxLevel);
    warning_->setObjectName("WarningLabel");
    warning_->setStyleSheet("color: #c00000; font-weight: bold;");
    warning_->hide();
    ok_->setObjectName("OKButton");
    ok_->setDefault(true);
    reset_->setObjectName("ResetButton");
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("CancelButton");

    auto* baseGroup = new QGroupBox("Base Note", this);
    auto* baseRow = new QHBoxLayout(baseGroup);
    baseRow->addWidget(note_);
    baseRow->addWidget(new QLabel("Octave", baseGroup));
    baseRow->addWidget(octave_);
    auto* intervalGroup = new QGroupBox("Interval", this);
    auto* intervalRow = new QHBoxLayout(intervalGroup);
    intervalRow->addWidget(interval_);

    auto* options = new QGroupBox("Options", this);
    auto* optionRows = new QVBoxLayout(options);
    optionRows->addWidget(smooth_);
    auto* levelRow = new QHBoxLayout;
    levelRow->addWidget(new QLabel("Min", options));
    levelRow->addWidget(level_, 1);
    levelRow->addWidget(new QLabel("Max", options));
    optionRows->addLayout(levelRow);
    optionRows->addWidget(white_);
    optionRows->addWidget(reverse_);
    optionRows->addWidget(baseOnly_);

    auto* grid = new QGridLayout(this);
    grid->addWidget(baseGroup, 0, 0);
    grid->addWidget(intervalGroup, 0, 1);
    grid->addWidget(new QLabel("Bank / Track Name", this), 1, 0, 1, 2);
    grid->addWidget(bank_, 2, 0, 1, 2);
    grid->addWidget(options, 3, 0, 1, 2);
    grid->addWidget(warning_, 4, 0, 1, 2);
    QGroupBox* instruments = buildInstrumentGroup(settings);
    instruments->setVisible(mode == Mode::Editor);
    grid->addWidget(instruments, 5, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    buttons->addWidget(reset_);
    grid->addLayout(buttons, 6, 0, 1, 2);

    // The record into the controls.
    note_->setValue(settings.noteIndex);
    octave_->setValue(settings.octave);
    interval_->setValue(settings.interval);
    bank_->setText(settings.bankName);
    smooth_->setChecked(mode == Mode::Batch ? settings.smoothBatch : settings.smoothEditor);
    level_->setValue(settings.smoothLevel);
    reverse_->setChecked(settings.reverseNotes);
    baseOnly_->setChecked(settings.baseNoteOnly);
    if (mode == Mode::Batch) {
        reverse_->setEnabled(false);
        baseOnly_->setEnabled(false);
    }
    noteBeforeWhite_ = settings.noteIndex;
    intervalBeforeWhite_ = settings.interval;
    white_->setChecked(settings.whiteKeys);
    whiteKeysToggled(settings.whiteKeys);
    level_->setEnabled(smooth_->isChecked());
    levelChanged(level_->value());

    connect(note_, &QSpinBox::valueChanged, this, [this] { rangeCheck(); });
    connect(octave_, &QSpinBox::valueChanged, this, [this] { rangeCheck(); });
    connect(interval_, &QSpinBox::valueChanged, this, [this] { rangeCheck(); });
    for (QCheckBox* keyed : {sfzBox_, midiBox_}) {
        if (keyed != nullptr) {
            connect(keyed, &QCheckBox::toggled, this, [this] { rangeCheck(); });
        }
    }
    connect(white_, &QCheckBox::toggled, this, [this](bool on) { whiteKeysToggled(on); });
    connect(smooth_, &QCheckBox::toggled, level_, &QSlider::setEnabled);
    connect(level_, &QSlider::valueChanged, this, [this](int position) { levelChanged(position); });
    connect(reset_, &QPushButton::clicked, this, [this] {
        note_->setValue(1);
        octave_->setValue(2);
        interval_->setValue(0);
    });
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    rangeCheck();
    fitTitle(*this);
}

QGroupBox* TForm6::buildInstrumentGroup(const KeymapSettings& settings) {
    auto* group = new QGroupBox("Instrument files", this);
    group->setObjectName("InstrumentGroup");
    group->setToolTip("Written beside the numbered files; a name without a folder goes into their folder");
    auto* rows = new QGridLayout(group);
    const QString bank = settings.bankName.isEmpty() ? QString("Vantrel") : settings.bankName;
    struct Row {
        QCheckBox*& box;
        QLineEdit*& edit;
        const char* name;
        const char* label;
        bool checked;
        QString text;
        QString folder;
        const char* filter; // null: a folder
    };
    Row list[] = {
        {sfzBox_, sfzEdit_, "Sfz", "SFZ instrument", settings.instruments.sfz, settings.instruments.sfzName,
         settings.sfzFolder, "SFZ instruments (*.sfz)"},
        {midiBox_, midiEdit_, "Midi", "MIDI file", settings.instruments.midi, settings.instruments.midiName,
         settings.midiFolder, "MIDI files (*.mid)"},
        {kitBox_, kitEdit_, "Kit", "Hydrogen drum kit", settings.instruments.kit, settings.instruments.kitName,
         settings.kitFolder, nullptr},
    };
    const QString defaults[] = {bank + ".sfz", bank + ".mid", bank};
    int r = 0;
    for (Row& row : list) {
        row.box = new QCheckBox(row.label, group);
        row.box->setObjectName(QString(row.name) + "Box");
        row.box->setChecked(row.checked);
        row.edit = new QLineEdit(row.text.isEmpty() ? defaults[r] : row.text, group);
        row.edit->setObjectName(QString(row.name) + "Edit");
        row.edit->setEnabled(row.checked);
        auto* browse = new QPushButton("...", group);
        browse->setObjectName(QString(row.name) + "Browse");
        browse->setEnabled(row.checked);
        connect(row.box, &QCheckBox::toggled, row.edit, &QLineEdit::setEnabled);
        connect(row.box, &QCheckBox::toggled, browse, &QPushButton::setEnabled);
        QLineEdit* edit = row.edit;
        const QString start = row.folder;
        const char* filter = row.filter;
        const QString caption = QString("Save ") + row.label;
        connect(browse, &QPushButton::clicked, this, [this, edit, start, filter, caption] {
            const QString folder = isOrdinaryFolder(start) ? start : QString();
            const QString suggested = folder.isEmpty() ? edit->text() : folder + "/" + QFileInfo(edit->text()).fileName();
            const QString chosen = filter != nullptr
                                       ? QFileDialog::getSaveFileName(this, caption, suggested, filter)
                                       : QFileDialog::getSaveFileName(this, caption, suggested, QString(), nullptr,
                                                                      QFileDialog::ShowDirsOnly);
            if (!chosen.isEmpty()) {
                edit->setText(chosen);
            }
        });
        rows->addWidget(row.box, r, 0);
        rows->addWidget(row.edit, r, 1);
        rows->addWidget(browse, r, 2);
        ++r;
    }
    return group;
}

void TForm6::rangeCheck() {
    const KeymapSettings k = settings();
    const bool fit = keysFit(k.baseNote(), k.interval, samples_, k.whiteKeys);
    warning_->setVisible(!fit);
    // Numbered slice files need no keys: before Save Segments in Loop the warning is only a
    // warning, unless an SFZ instrument or a MIDI file is to play them from those keys. A batch
    // transfer cannot map what does not fit.
    const bool keyed = (sfzBox_ != nullptr && sfzBox_->isChecked()) || (midiBox_ != nullptr && midiBox_->isChecked());
    ok_->setEnabled(fit || (mode_ == Mode::Editor && !keyed));
}

void TForm6::whiteKeysToggled(bool on) {
    if (on) {
        noteBeforeWhite_ = note_->value();
        intervalBeforeWhite_ = interval_->value();
        note_->setValue(1);
        interval_->setValue(0);
    } else if (!note_->isEnabled()) {
        note_->setValue(noteBeforeWhite_);
        interval_->setValue(intervalBeforeWhite_);
    }
    note_->setEnabled(!on);
    interval_->setEnabled(!on);
    rangeCheck();
}

void TForm6::levelChanged(int position) {
    const int percent = int(std::nearbyint(double(position) / kMaxLevel * 100.0));
    level_->setToolTip(QString("Smooth level (%1%)").arg(percent));
}

KeymapSettings TForm6::settings() const {
    KeymapSettings k = initial_;
    k.bankName = bank_->text();
    k.noteIndex = note_->value();
    k.octave = octave_->value();
    k.interval = interval_->value();
    k.whiteKeys = white_->isChecked();
    k.reverseNotes = reverse_->isChecked();
    k.baseNoteOnly = baseOnly_->isChecked();
    (mode_ == Mode::Batch ? k.smoothBatch : k.smoothEditor) = smooth_->isChecked();
    k.smoothLevel = level_->value();
    k.instruments.sfz = sfzBox_->isChecked();
    k.instruments.midi = midiBox_->isChecked();
    k.instruments.kit = kitBox_->isChecked();
    k.instruments.sfzName = sfzEdit_->text();
    k.instruments.midiName = midiEdit_->text();
    k.instruments.kitName = kitEdit_->text();
    return k;
}

} // namespace cleavix::ui
