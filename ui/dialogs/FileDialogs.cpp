#include "ui/dialogs/FileDialogs.h"

#include "sample/WavParser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QDir>

#include <sys/stat.h>
#include <sys/vfs.h>

namespace cleavix::ui {

const char* const kOpenFilters[3] = {"AIFF (Apple) (*.aif)", "Wave (Microsoft) (*.wav)", "All files (*)"};
const char* const kSaveFilters[2] = {"AIFF (Apple) (*.aif)", "Wave (Microsoft) (*.wav)"};

void touchRecentFolder(QStringList& folders, const QString& folder, int limit) {
    if (folder.isEmpty()) {
        return;
    }
    folders.removeAll(QString());
    folders.removeAll(folder);
    folders.prepend(folder);
    while (folders.size() > limit) {
        folders.removeLast();
    }
}

namespace {

// Kernel file systems: reading their files can block (/proc/kmsg) or never end.
bool onKernelFileSystem(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const char* root : {"/proc", "/sys", "/dev"}) {
        const QString r = QString::fromLatin1(root);
        if (canonical == r || canonical.startsWith(r + "/")) {
            return true;
        }
    }
    struct statfs fs {};
    if (statfs(QFile::encodeName(path).constData(), &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x9fa0UL:     // proc
    case 0x62656572UL: // sysfs
    case 0x1cd1UL:     // devpts
    case 0x64626720UL: // debugfs
    case 0x74726163UL: // tracefs
    case 0x27e0ebUL:   // cgroup
    case 0x63677270UL: // cgroup2
        return true;
    default:
        return false;
    }
}

// The extras go in a row of their own below the dialog's own controls.
void addExtras(QFileDialog& dialog, QWidget* extras) {
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        grid->addWidget(extras, grid->rowCount(), 0, 1, grid->columnCount());
    } else if (dialog.layout() != nullptr) {
        dialog.layout()->addWidget(extras);
    }
}

// The row both dialog forms add below the file list: the recent folders, then the format.
QHBoxLayout* recentAndFormatRow(QWidget& extras, QComboBox* recent, QWidget* format) {
    auto* row = new QHBoxLayout(&extras);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel("Recent:", &extras));
    row->addWidget(recent, 1);
    row->addSpacing(12);
    row->addWidget(new QLabel("Format:", &extras));
    row->addWidget(format);
    return row;
}

QComboBox* makeRecentBox(QFileDialog& dialog) {
    auto* box = new QComboBox(&dialog);
    box->setObjectName("RecentBox");
    box->setToolTip("Select recently used directory");
    box->setMinimumContentsLength(24);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    QObject::connect(box, &QComboBox::activated, &dialog, [&dialog, box](int index) {
        const QString folder = box->itemText(index);
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            return;
        }
        // Keep the name typed so far.
        auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
        const QString typed = edit != nullptr ? edit->text() : QString();
        dialog.setDirectory(folder);
        if (edit != nullptr) {
            edit->setText(typed);
        }
    });
    return box;
}

void fillRecentBox(QComboBox* box, const QStringList& folders) {
    box->clear();
    for (const QString& f : folders) {
        if (!f.isEmpty()) {
            box->addItem(f);
        }
    }
}

void setRecent(QStringList& recent, QComboBox* box, const QStringList& folders) {
    recent = folders;
    fillRecentBox(box, recent);
}

void noteRecent(QStringList& recent, QComboBox* box, const QString& file) {
    touchRecentFolder(recent, QFileInfo(file).absolutePath());
    fillRecentBox(box, recent);
}

bool auditionable(const QString& file) {
    const QString lower = file.toLower();
    return !file.contains('*') && (lower.endsWith(".wav") || lower.endsWith(".aif")) && isOrdinaryFile(file);
}

} // namespace

bool isOrdinaryFolder(const QString& folder) {
    if (folder.isEmpty()) {
        return false;
    }
    const QFileInfo info(folder);
    return info.isDir() && info.isReadable() && info.isExecutable() && !onKernelFileSystem(folder);
}

QString ordinaryFolderOrHome(const QString& folder) { return isOrdinaryFolder(folder) ? folder : QDir::homePath(); }

bool isOrdinaryFile(const QString& file) {
    struct stat st {};
    if (file.isEmpty() || stat(QFile::encodeName(file).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    return !onKernelFileSystem(file);
}

TOdForm::TOdForm(QWidget* parent)
    : QFileDialog(parent, "Open Waveform", QDir::homePath()), recentBox_(nullptr), format_(new QLabel(this)), size_(new QLabel(this)),
      autoPlay_(new QCheckBox("Auto Play", this)), play_(new QPushButton("Play", this)) {
    setObjectName("TOdForm");
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    setNameFilters({kOpenFilters[0], kOpenFilters[1], kOpenFilters[2]});
    selectNameFilter(kOpenFilters[1]);
    recentBox_ = makeRecentBox(*this);
    format_->setObjectName("FormatLabel");
    size_->setObjectName("SizeLabel");
    format_->setMinimumWidth(170);
    size_->setMinimumWidth(80);
    play_->setObjectName("Button1");

    auto* extras = new QWidget(this);
    auto* row = recentAndFormatRow(*extras, recentBox_, format_);
    row->addWidget(new QLabel("Size:", extras));
    row->addWidget(size_);
    row->addWidget(autoPlay_);
    row->addWidget(play_);
    addExtras(*this, extras);

    connect(this, &QFileDialog::currentChanged, this, [this](const QString& file) {
        current_ = file;
        preview(file);
        auditionIfWanted(file);
    });
    connect(play_, &QPushButton::clicked, this, [this] {
        if (play_->text() == "Stop") {
            stopAudition();
            return;
        }
        if (auditionable(current_) && playFile && playFile(current_)) {
            auditioned_ = current_;
            play_->setText("Stop");
        }
    });
    connect(this, &QDialog::finished, this, [this] { stopAudition(); });
}

void TOdForm::setRecentFolders(const QStringList& folders) { setRecent(recent_, recentBox_, folders); }
void TOdForm::noteChosen(const QString& file) { noteRecent(recent_, recentBox_, file); }

bool TOdForm::autoPlay() const { return autoPlay_->isChecked(); }
void TOdForm::setAutoPlay(bool on) { autoPlay_->setChecked(on); }

void TOdForm::preview(const QString& file) {
    format_->clear();
    size_->clear();
    if (!isOrdinaryFile(file)) {
        return;
    }
    const sample::SampleFileCheck check = sample::CheckSampleFile(file.toStdString(), true);
    if (check.parsed) {
        format_->setText(QString::fromStdString(sample::previewFormatLine(check.info)));
        size_->setText(QString::fromStdString(sample::previewSizeLine(check.info)));
    }
}

void TOdForm::auditionIfWanted(const QString& file) {
    if (!autoPlay_->isChecked()) {
        return;
    }
    // The same file again, another type or several files stop the audition.
    if (!auditionable(file) || file == auditioned_) {
        stopAudition();
        return;
    }
    stopAudition();
    if (playFile && playFile(file)) {
        auditioned_ = file;
        play_->setText("Stop");
    }
}

void TOdForm::stopAudition() {
    if (play_->text() == "Stop" && stopPlaying) {
        stopPlaying();
    }
    play_->setText("Play");
    auditioned_.clear();
}

bool TOdForm::playbackEnded() {
    if (!isVisible() || play_->text() != "Stop") {
        return false;
    }
    play_->setText("Play");
    auditioned_.clear();
    return true;
}

TSaveForm::TSaveForm(QWidget* parent)
    : QFileDialog(parent, "Save Waveform As", QDir::homePath()), recentBox_(nullptr), formatBox_(new QComboBox(this)) {
    setObjectName("TSaveForm");
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilters({kSaveFilters[0], kSaveFilters[1]});
    selectNameFilter(kSaveFilters[1]);
    setDefaultSuffix("wav");
    connect(this, &QFileDialog::filterSelected, this,
            [this](const QString& filter) { setDefaultSuffix(filter == kSaveFilters[0] ? "aif" : "wav"); });
    recentBox_ = makeRecentBox(*this);
    formatBox_->setObjectName("FormatBox");
    auto* extras = new QWidget(this);
    recentAndFormatRow(*extras, recentBox_, formatBox_);
    addExtras(*this, extras);
}

void TSaveForm::setFormat(uint32_t sampleRate, uint16_t channels, uint8_t saveBits) {
    formatBox_->clear();
    const QString tail = QString(" hz") + (channels == 2 ? " stereo" : " mono");
    formatBox_->addItem(QString("8 Bit / %1").arg(sampleRate) + tail);
    formatBox_->addItem(QString("16 Bit / %1").arg(sampleRate) + tail);
    formatBox_->setCurrentIndex(saveBits == 8 ? 0 : 1);
}

uint8_t TSaveForm::saveBits() const { return static_cast<uint8_t>(8 * formatBox_->currentIndex() + 8); }

void TSaveForm::setRecentFolders(const QStringList& folders) { setRecent(recent_, recentBox_, folders); }
void TSaveForm::noteChosen(const QString& file) { noteRecent(recent_, recentBox_, file); }

void TSaveForm::setFileName(const QString& name) {
    if (!name.isEmpty()) {
        selectFile(name);
    } else if (auto* edit = findChild<QLineEdit*>("fileNameEdit")) {
        edit->clear();
    }
}

} // namespace cleavix::ui
