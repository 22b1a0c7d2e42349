#include "ui/platform/Config.h"

#include "sample/PeakTable.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace cleavix::ui {

const std::array<const char*, kColourCount> kColourValueNames = {
    "BGColour",   "LineColour",  "WaveColour",   "DivColour",          "DisabledColour",  "BarColour",
    "SegColour",  "RegBarColour", "RegSegColour", "SelectedWaveColour", "SelectedBGColour"};
const std::array<const char*, kColourCount> kColourItemNames = {
    "Background",       "Zero line",  "Waveform", "Cut Line",           "Disabled Channel",  "Segment Bar",
    "Selected Segment", "Region Bar", "Region",   "Selected Waveform", "Selection Edges"};

namespace {

// $00BBGGRR values of the named colours.
struct NamedColour {
    const char* name;
    unsigned bgr;
};
constexpr NamedColour kNamed[] = {
    {"clBlack", 0x000000},  {"clMaroon", 0x000080}, {"clGreen", 0x008000}, {"clOlive", 0x008080},
    {"clNavy", 0x800000},   {"clPurple", 0x800080}, {"clTeal", 0x808000},  {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0}, {"clRed", 0x0000FF},    {"clLime", 0x00FF00},  {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},   {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00}, {"clWhite", 0xFFFFFF},
};

QColor fromBgr(unsigned bgr) { return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF)); }
unsigned toBgr(const QColor& c) {
    return unsigned(c.red()) | (unsigned(c.green()) << 8) | (unsigned(c.blue()) << 16);
}

// One reader over the configuration group: absent values get their default written back.
class Reader {
public:
    explicit Reader(QSettings& settings) : s_(settings) {}

    QString text(const char* name, const QString& fallback) {
        if (s_.contains(name)) {
            return s_.value(name).toString();
        }
        s_.setValue(name, fallback);
        return fallback;
    }
    int number(const char* name, int fallback) {
        bool ok = false;
        const int value = text(name, QString::number(fallback)).trimmed().toInt(&ok);
        return ok ? value : fallback;
    }
    bool flag(const char* name, bool fallback) {
        const QString value = text(name, fallback ? "true" : "false").trimmed().toLower();
        if (value == "true") {
            return true;
        }
        if (value == "false") {
            return false;
        }
        return fallback;
    }
    QColor colour(const char* name, const QColor& fallback) {
        bool ok = false;
        const QColor value = colourFromConfigText(text(name, colourToConfigText(fallback)), &ok);
        return ok ? value : fallback;
    }

private:
    QSettings& s_;
};

QString flagText(bool value) { return value ? "true" : "false"; }

// Whether a sync left the file written. The settings object keeps only the first error it met, so
// past a format error (lines it could not read, which the write drops) a failed write does not
// show: whether the file can be written is asked directly then.
bool writtenWell(const QSettings& settings) {
    switch (settings.status()) {
    case QSettings::NoError:
        return true;
    case QSettings::FormatError:
        return settings.isWritable();
    default:
        return false;
    }
}

} // namespace

QColor colourFromConfigText(const QString& text, bool* ok) {
    const QString t = text.trimmed();
    for (const auto& named : kNamed) {
        if (t.compare(named.name, Qt::CaseInsensitive) == 0) {
            if (ok != nullptr) {
                *ok = true;
            }
            return fromBgr(named.bgr);
        }
    }
    bool parsed = false;
    unsigned value = 0;
    if (t.startsWith('$')) {
        value = t.mid(1).toUInt(&parsed, 16);
    } else {
        value = unsigned(t.toInt(&parsed)); // plain decimal TColor values
    }
    if (ok != nullptr) {
        *ok = parsed;
    }
    return parsed ? fromBgr(value & 0xFFFFFF) : QColor();
}

QString colourToConfigText(const QColor& colour) {
    const unsigned bgr = toBgr(colour);
    for (const auto& named : kNamed) {
        if (named.bgr == bgr) {
            return named.name;
        }
    }
    return QString("$%1").arg(bgr, 8, 16, QChar('0')).toUpper();
}

ColourSet builtInColours() {
    return {fromBgr(0x804000), fromBgr(0x000000), fromBgr(0x0080FF), fromBgr(0x0000FF),
            fromBgr(0x808080), fromBgr(0x804000), fromBgr(0xC08000), fromBgr(0xA04000),
            fromBgr(0x0080FF), fromBgr(0x0080FF), fromBgr(0x0080FF)};
}

ColourSet firstRunColours() {
    return {fromBgr(0x804000), fromBgr(0x000000), fromBgr(0x0080FF), fromBgr(0x0000FF),
            fromBgr(0x808080), fromBgr(0xC08000), fromBgr(0xA04000), fromBgr(0xA04000),
            fromBgr(0x0080FF), fromBgr(0x00FFFF), fromBgr(0xFFFFFF)};
}

QString defaultFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir()) {
        return desktop;
    }
    return QDir::homePath();
}

QString configFilePath() {
    // Named by a settings object on a file beside it that does not exist: one on the file itself
    // would read it, and a FIFO there would never answer.
    const QSettings probe(QSettings::IniFormat, QSettings::UserScope, "Cleavix", "Cleavix-path-probe");
    return QFileInfo(probe.fileName()).dir().filePath("Cleavix.ini");
}

bool configFileUsable() {
    const QFileInfo file(configFilePath());
    return !file.exists() || file.isFile();
}

Config readConfig(bool* ok, bool* ignored) {
    if (ignored != nullptr) {
        *ignored = false;
    }
    if (!configFileUsable()) {
        if (ok != nullptr) {
            *ok = false;
        }
        return Config();
    }
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Cleavix", "Cleavix");
    settings.beginGroup(kConfigGroup);
    Reader r(settings);
    Config c;
    const QString folder = defaultFolder();
    c.openDir = r.text("OpenDir", folder);
    c.saveDir = r.text("SaveDir", folder);
    c.saveSFDir = r.text("SaveSFDir", folder);
    c.saveMidDir = r.text("SaveMidDir", folder);
    c.saveTrkDir = r.text("SaveTrkDir", folder);
    c.openPoint = r.text("OpenPoint", folder);
    c.savePoint = r.text("SavePoint", folder);

    // Built-in colours first; an absent value takes (and writes) its first-run colour.
    c.colours = builtInColours();
    const ColourSet firstRun = firstRunColours();
    for (int i = 0; i < kColourCount; ++i) {
        c.colours[size_t(i)] = r.colour(kColourValueNames[size_t(i)], firstRun[size_t(i)]);
    }

    for (int i = 1; i <= kRecentFiles; ++i) {
        c.recentFiles << r.text(QString("File%1").arg(i).toLatin1().constData(), "");
    }
    for (int i = 0; i < kRecentFolders; ++i) {
        c.recentFolders << r.text(QString("MRD%1").arg(i).toLatin1().constData(), "");
    }
    c.cpLoc = r.text("CPLoc", kDefaultControlPanel);
    c.editLoc = r.text("EditLoc", "");
    c.waveId = r.number("WaveID", -1);
    c.midiChannel = r.number("MidiChannel", 1);
    c.units = r.number("Units", 2);
    if (c.units != 1 && c.units != 2 && c.units != 4 && c.units != 8) {
        c.units = 2;
    }
    c.seconds = std::clamp(r.number("Seconds", 4), 1, 10);
    c.buffers = std::clamp(r.number("Buffers", 6), 1, 10);
    c.pNo = r.number("PNo", 0);
    c.did = r.number("Did", 0);
    c.haid = r.number("Haid", 0);
    c.sdsOff = r.number("SDSOff", 0);
    c.gapp = r.number("Gapp", 10000);
    c.thold = r.number("THold", 20);
    c.resampleRate = r.flag("ResampleRate", false);
    c.mws = r.number("MWS", 0);
    c.boundsStored = settings.contains("Height") && settings.contains("Width") && settings.contains("Left") &&
                     settings.contains("Top");
    c.height = r.number("Height", 480);
    c.width = r.number("Width", 640);
    c.left = r.number("Left", 54);
    c.top = r.number("Top", 104);
    c.max = r.flag("Max", false);
    c.toolDefault = r.number("ToolDefault", 0) == 1 ? 1 : 0;
    c.waveCacheSize = int(sample::peakBlockBytesFromSetting(r.number("WaveCacheSize", 128)));
    c.tempPath = r.text("TempPath", "");
    c.showWizardOnStartup = r.flag("ShowWizardOnStartup", true);
    c.mapTrackName = r.text("MapTrackName", "Vantrel");
    c.mapBaseKey = r.text("MapBaseKey", "C");
    c.mapBaseOct = r.number("MapBaseOct", 2);
    c.baseKeyInt = r.number("BaseKeyInt", 1);
    c.mapInterval = r.number("MapInterval", 0);
    c.mapUseWhiteKeys = r.flag("MapUseWhiteKeys", false);
    c.mapUseBaseNote = r.flag("MapUseBaseNote", false);
    c.mapReverseNotes = r.flag("MapReverseNotes", false);
    c.mapSmoothBatch = r.flag("MapSmoothBatch", false);
    c.mapSmoothEndPoints = r.flag("MapSmoothEndPoints", true);
    c.mapSmoothPos = r.number("MapSmoothPos", 30);
    c.showIcon = r.flag("ShowIcon", true);
    c.showLock = r.flag("ShowLock", true);
    c.showEnable = r.flag("ShowEnable", true);
    c.showSegmentBar = r.flag("ShowSegmentBar", true);
    c.showRegionBar = r.flag("ShowRegionBar", true);
    c.scanWaveOnLoad = r.flag("ScanWaveOnLoad", true);
    c.showTips = r.flag("ShowTips", true);
    c.filterEnable = r.flag("FilterEnable", false);
    c.showButtonText = r.flag("ShowButtonText", true);
    c.setOneBar = r.flag("SetOneBar", false);
    c.prompt = r.flag("prompt", true);
    c.showOpenDialog = r.flag("showopendialog", true);
    c.oldRMB = r.flag("OldRMB", false);
    c.enableUndo = r.flag("EnableUndo", true);
    c.fileToolbar = r.flag("ToolbarFile", true);
    c.editToolbar = r.flag("ToolbarEdit", true);
    c.viewToolbar = r.flag("ToolbarView", true);
    c.toolsToolbar = r.flag("ToolbarTools", true);
    settings.endGroup();
    settings.sync();
    // Lines it could not read are a format error (found on loading or when the sync reads the
    // file again); the values it could read stand.
    const bool malformed = settings.status() == QSettings::FormatError;
    if (ok != nullptr) {
        *ok = writtenWell(settings);
    }
    if (ignored != nullptr) {
        *ignored = malformed;
    }
    return c;
}

bool writeConfig(const Config& c) {
    if (!configFileUsable()) {
        return false;
    }
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Cleavix", "Cleavix");
    if (!settings.isWritable()) {
        return false;
    }
    settings.beginGroup(kConfigGroup);
    auto set = [&](const char* name, const QString& value) { settings.setValue(name, value); };
    auto num = [&](const char* name, int value) { settings.setValue(name, QString::number(value)); };
    auto flag = [&](const char* name, bool value) { settings.setValue(name, flagText(value)); };
    set("OpenDir", c.openDir);
    set("SaveDir", c.saveDir);
    set("SaveSFDir", c.saveSFDir);
    set("SaveMidDir", c.saveMidDir);
    set("SaveTrkDir", c.saveTrkDir);
    set("OpenPoint", c.openPoint);
    set("SavePoint", c.savePoint);
    for (int i = 0; i < kColourCount; ++i) {
        set(kColourValueNames[size_t(i)], colourToConfigText(c.colours[size_t(i)]));
    }
    for (int i = 0; i < kRecentFiles; ++i) {
        set(QString("File%1").arg(i + 1).toLatin1().constData(), c.recentFiles.value(i));
    }
    for (int i = 0; i < kRecentFolders; ++i) {
        set(QString("MRD%1").arg(i).toLatin1().constData(), c.recentFolders.value(i));
    }
    set("CPLoc", c.cpLoc);
    set("EditLoc", c.editLoc);
    num("WaveID", c.waveId);
    num("WaveInputID", c.waveInputId);
    num("MinID", c.minId);
    num("MoutID", c.moutId);
    num("MidiChannel", c.midiChannel);
    num("Units", c.units);
    num("Seconds", c.seconds);
    num("Buffers", c.buffers);
    num("PNo", c.pNo);
    num("Did", c.did);
    num("Haid", 0);
    num("SDSOff", c.sdsOff);
    num("Gapp", c.gapp);
    num("THold", c.thold);
    flag("ResampleRate", c.resampleRate);
    num("MWS", c.mws);
    num("Height", c.height);
    num("Width", c.width);
    num("Left", c.left);
    num("Top", c.top);
    flag("Max", c.max);
    num("ToolDefault", c.toolDefault);
    num("WaveCacheSize", c.waveCacheSize);
    set("TempPath", c.tempPath);
    flag("ShowWizardOnStartup", false);
    set("MapTrackName", c.mapTrackName);
    set("MapBaseKey", c.mapBaseKey);
    num("MapBaseOct", c.mapBaseOct);
    num("BaseKeyInt", c.baseKeyInt);
    num("MapInterval", c.mapInterval);
    flag("MapUseWhiteKeys", c.mapUseWhiteKeys);
    flag("MapUseBaseNote", c.mapUseBaseNote);
    flag("MapReverseNotes", c.mapReverseNotes);
    flag("MapSmoothBatch", c.mapSmoothBatch);
    flag("MapSmoothEndPoints", c.mapSmoothEndPoints);
    num("MapSmoothPos", c.mapSmoothPos);
    flag("ShowIcon", c.showIcon);
    flag("ShowLock", c.showLock);
    flag("ShowEnable", c.showEnable);
    flag("ShowSegmentBar", c.showSegmentBar);
    flag("ShowRegionBar", c.showRegionBar);
    flag("ScanWaveOnLoad", c.scanWaveOnLoad);
    flag("FilterEnable", c.filterEnable);
    flag("ShowButtonText", c.showButtonText);
    flag("SetOneBar", c.setOneBar);
    flag("prompt", c.prompt);
    flag("showopendialog", c.showOpenDialog);
    flag("OldRMB", c.oldRMB);
    flag("EnableUndo", c.enableUndo);
    flag("AutoPlay", c.autoPlay);
    flag("ToolbarFile", c.fileToolbar);
    flag("ToolbarEdit", c.editToolbar);
    flag("ToolbarView", c.viewToolbar);
    flag("ToolbarTools", c.toolsToolbar);
    settings.endGroup();
    settings.sync();
    return writtenWell(settings);
}

} // namespace cleavix::ui
