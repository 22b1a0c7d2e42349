#pragma once
// The configuration: every value the program keeps between runs, read once at start-up and written
// once at exit. It lives in an INI file under the XDG config home ($XDG_CONFIG_HOME/Cleavix/
// Cleavix.ini), in the group named after the program's configuration key, one string per value:
// numbers as decimal text, flags as "true"/"false", colours as "clBlack"-style names where one
// exists, else "$00BBGGRR". Reading a value that is absent writes its default back at once, so after
// the first run every value exists.
#include <QColor>
#include <QString>
#include <QStringList>

#include <array>

class QSettings;

namespace cleavix::ui {

inline constexpr const char* kConfigGroup = "SOFTWARE/Brindlecote Software/Cleavix (Advanced)/1/Config";
inline constexpr int kColourCount = 11;
inline constexpr int kRecentFiles = 4;
inline constexpr int kRecentFolders = 8;

// Colour indexes.
enum ColourIndex : int {
    ColBackground = 0,
    ColZeroLine = 1,
    ColWaveform = 2,
    ColCutLine = 3,
    ColDisabledChannel = 4,
    ColSegmentBar = 5,
    ColSelectedSegment = 6,
    ColRegionBar = 7,
    ColRegion = 8,
    ColSelectedWave = 9,
    ColSelectedBG = 10,
};

// The value names of the colours, in index order, and the "Select:" items of the colours page.
extern const std::array<const char*, kColourCount> kColourValueNames;
extern const std::array<const char*, kColourCount> kColourItemNames;

// $00BBGGRR as a colour, and back; colour names for the sixteen standard colours.
QColor colourFromConfigText(const QString& text, bool* ok = nullptr);
QString colourToConfigText(const QColor& colour);

using ColourSet = std::array<QColor, kColourCount>;
ColourSet builtInColours();
ColourSet firstRunColours();

// The default start folder of every file dialog: the Desktop folder when there is one, else home.
QString defaultFolder();
// The default mixer program offered as the soundcard control panel.
inline constexpr const char* kDefaultControlPanel = "pavucontrol";

struct Config {
    QString openDir, saveDir, saveSFDir, saveMidDir, saveTrkDir;
    QString openPoint, savePoint;
    ColourSet colours = builtInColours();
    QStringList recentFiles;   // kRecentFiles entries, newest first ("" for none)
    QStringList recentFolders; // kRecentFolders entries, newest first
    QString cpLoc;
    QString editLoc;
    int waveId = -1;
    int waveInputId = -1; // written at exit, not read
    int minId = 0, moutId = 0; // written at exit, not read
    int midiChannel = 1;
    int units = 2;
    int seconds = 4;
    int buffers = 6;
    int pNo = 0;
    int did = 0;
    int haid = 0;
    int sdsOff = 0;
    int gapp = 10000;
    int thold = 20;
    bool resampleRate = false; // the Sample rate dialog's last choice: resample rather than reassign
    int mws = 0;
    int height = 480, width = 640, left = 54, top = 104;
    // Not a value of its own: whether the file held all four bounds before this start read them.
    bool boundsStored = false;
    bool max = false;
    int toolDefault = 0;
    int waveCacheSize = 128;
    QString tempPath;
    bool showWizardOnStartup = true;
    QString mapTrackName = "Vantrel";
    QString mapBaseKey = "C";
    int mapBaseOct = 2;
    int baseKeyInt = 1;
    int mapInterval = 0;
    bool mapUseWhiteKeys = false, mapUseBaseNote = false, mapReverseNotes = false, mapSmoothBatch = false;
    bool mapSmoothEndPoints = true;
    int mapSmoothPos = 30;
    bool showIcon = true, showLock = true, showEnable = true;
    bool showSegmentBar = true, showRegionBar = true;
    bool scanWaveOnLoad = true;
    bool showTips = true;
    bool filterEnable = false;
    bool showButtonText = true;
    bool setOneBar = false;
    bool prompt = true;
    bool showOpenDialog = true;
    bool oldRMB = false;
    bool enableUndo = true;
    bool autoPlay = false; // written at exit, not read
    // Toolbar layout (the window's own values): which toolbars show.
    bool fileToolbar = true, editToolbar = true, viewToolbar = true, toolsToolbar = true;
};

// Where the configuration lives, and the settings object on it.
QString configFilePath();

// Whether the configuration may be opened: it is a regular file or not there yet. A folder, FIFO
// or device in its place is never opened (opening a FIFO would wait for a writer for good).
bool configFileUsable();

// Reads every value; absent ones get their default, which is written back at once. `ok` is false
// when the file cannot be read or written, or is not usable (the caller reports it). `ignored` is
// set when the file held lines the settings object could not make sense of: the values it could
// read stand, and those lines are not kept when the file is next written (the caller says so).
Config readConfig(bool* ok = nullptr, bool* ignored = nullptr);
// Writes every value (except "ShowTips"; "ShowWizardOnStartup" as "false"). False on failure.
bool writeConfig(const Config& config);

} // namespace cleavix::ui
