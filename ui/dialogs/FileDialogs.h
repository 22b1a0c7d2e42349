#pragma once
// The open and save dialog forms. Both are Qt's own file dialog with the program's extras below
// it: the "Recent:" folder list (eight folders, newest first, shared by the two forms), and
//  - open ("Open Waveform"): the "Format:" and "Size:" preview of the selected file, "Auto Play"
//    and the Play/Stop button that audition it;
//  - save ("Save Waveform As"): the format list ("16 Bit / 44100 hz stereo", ...).
#include <QFileDialog>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace cleavix::ui {

// A folder a file dialog may start in: it exists, can be listed and is not a kernel's file system
// (/proc, /sys, /dev), whose files block or never end when read.
bool isOrdinaryFolder(const QString& folder);
// `folder` when it is ordinary, else the home folder.
QString ordinaryFolderOrHome(const QString& folder);
// A regular file on an ordinary file system: the only kind a preview, an audition or a drop reads.
bool isOrdinaryFile(const QString& file);

// Moves `folder` to the top of the list (inserting it when absent), keeping the newest `limit`.
void touchRecentFolder(QStringList& folders, const QString& folder, int limit = 8);

// The "Recent:" list beside a file dialog: choosing a folder shows it, keeping the typed name.
class RecentFolderBox;

class TOdForm final : public QFileDialog {
    Q_OBJECT
public:
    explicit TOdForm(QWidget* parent);

    void setRecentFolders(const QStringList& folders);
    QStringList recentFolders() const { return recent_; }
    // Called on the chosen file's folder when the dialog is accepted.
    void noteChosen(const QString& file);

    bool autoPlay() const;
    void setAutoPlay(bool on);

    // Auditions: play a file (true when it plays), stop playing. Set by the window.
    std::function<bool(const QString&)> playFile;
    std::function<void()> stopPlaying;
    // The player ran dry: the button reads "Play" again. Returns whether the button read "Stop".
    bool playbackEnded();

    QLabel* formatLabel() const { return format_; }
    QLabel* sizeLabel() const { return size_; }
    QPushButton* Button1() const { return play_; }
    QComboBox* recentBox() const { return recentBox_; }

private:
    void preview(const QString& file);
    void auditionIfWanted(const QString& file);
    void stopAudition();

    QStringList recent_;
    QComboBox* recentBox_;
    QLabel* format_;
    QLabel* size_;
    QCheckBox* autoPlay_;
    QPushButton* play_;
    QString auditioned_;
    QString current_;
};

class TSaveForm final : public QFileDialog {
    Q_OBJECT
public:
    explicit TSaveForm(QWidget* parent);

    // Prefills the format list for the sample (rate, channels) and selects the entry of saveBits.
    void setFormat(uint32_t sampleRate, uint16_t channels, uint8_t saveBits);
    uint8_t saveBits() const;
    void setRecentFolders(const QStringList& folders);
    QStringList recentFolders() const { return recent_; }
    void noteChosen(const QString& file);
    // The name box's text; an empty name clears it (selectFile leaves the last name there).
    void setFileName(const QString& name);
    QComboBox* formatBox() const { return formatBox_; }
    QComboBox* recentBox() const { return recentBox_; }

private:
    QStringList recent_;
    QComboBox* recentBox_;
    QComboBox* formatBox_;
};

// The file type filters of the two forms.
extern const char* const kOpenFilters[3];
extern const char* const kSaveFilters[2];

} // namespace cleavix::ui
