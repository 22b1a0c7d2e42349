#pragma once
// What the files of the main window share: the texts of its own messages and the hint helper.
// Only the main window's files include this.
#include <QAction>
#include <QString>
#include <QWidget>

namespace cleavix::ui::mainform {

inline constexpr const char* kMsgConfigAccess = "An error occured when accessing the configuration file!";
inline constexpr const char* kMsgConfigUpdate = "Configuration File Update Failed!";
inline constexpr const char* kMsgConfigLinesIgnored =
    "Some lines of the configuration file %1 could not be read and were ignored.\r\n"
    "The other settings stand; those lines are not kept when the settings are saved.";
inline constexpr const char* kMsgInitialise = "An error occurred when initialising Cleavix!";
inline constexpr const char* kMsgNoSoundcard = "Error! - no soundcard found - check system sound settings";
inline constexpr const char* kMsgCommandLineFile = "Error opening file - check path!";
inline constexpr const char* kMsgNoSampleForPoints =
    "No sample named %1 (.wav, .aif or .aiff) was found beside the point file %2.";
inline constexpr const char* kMsgNoControlPanel = "No control panel specified!";
inline constexpr const char* kMsgControlPanel = "Error opening control panel; check path in options";
inline constexpr const char* kHomePage = "https://cleavix.brindlecote.example/";

// "Open file|Click to open a new file": the short part is the tooltip, the long part the status text.
inline void setHint(QAction* action, const QString& hint) {
    const auto bar = hint.indexOf('|');
    action->setToolTip(bar < 0 ? hint : hint.left(bar));
    action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}
inline void setHint(QWidget* widget, const QString& hint) {
    const auto bar = hint.indexOf('|');
    widget->setToolTip(bar < 0 ? hint : hint.left(bar));
    widget->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

} // namespace cleavix::ui::mainform
