#pragma once
// The OK and Cancel row the small process dialogs share: OK carries the dialog's hint and is the
// default button (Enter presses it only while it is enabled); Cancel never takes Enter.
#include <QDialogButtonBox>

class QDialog;
class QPushButton;

namespace cleavix::ui {

// Adds the row to `dialog`, wired to its accept() and reject(), and returns it.
QDialogButtonBox* okCancelButtons(QDialog& dialog, const QString& okHint,
                                  QDialogButtonBox::StandardButtons more = QDialogButtonBox::NoButton);
QPushButton* okButtonOf(QDialogButtonBox* buttons);

} // namespace cleavix::ui
