#pragma once
// The OK and Cancel row the small process dialogs share: OK carries the dialog's hint and is the
// default button (Enter presses it only while it is enabled); Cancel never takes Enter.
#include <QDialogButtonBox>

class QDialog;
class QPushButton;
class QWidget;

namespace cleavix::ui {

// Adds the row to `dialog`, wired to its accept() and reject(), and returns it.
QDialogButtonBox* okCancelButtons(QDialog& dialog, const QString& okHint,
                                  QDialogButtonBox::StandardButtons more = QDialogButtonBox::NoButton);
QPushButton* okButtonOf(QDialogButtonBox* buttons);
// Makes `dialog` at least as wide as its title needs beside the title bar's icon and buttons, so
// a short dialog never shows "Conve… mono". Call it once the dialog's layout is complete.
void fitTitle(QWidget& dialog);
inline constexpr int kTitleBarExtras = 120;

} // namespace cleavix::ui
