#include "ui/dialogs/FormButtons.h"

#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QPushButton>

#include <algorithm>

namespace cleavix::ui {

QDialogButtonBox* okCancelButtons(QDialog& dialog, const QString& okHint, QDialogButtonBox::StandardButtons more) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | more, &dialog);
    QPushButton* ok = okButtonOf(buttons);
    ok->setObjectName("OKButton");
    if (!okHint.isEmpty()) {
        ok->setToolTip(okHint);
    }
    ok->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

QPushButton* okButtonOf(QDialogButtonBox* buttons) { return buttons->button(QDialogButtonBox::Ok); }

void fitTitle(QWidget& dialog) {
    // Title bars use a bold face, often a little larger than the dialog's; the window manager's
    // icon and three buttons take about 120 pixels.
    QFont font = dialog.font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    const int title = QFontMetrics(font).horizontalAdvance(dialog.windowTitle());
    dialog.setMinimumWidth(std::max(dialog.minimumSizeHint().width(), title + kTitleBarExtras));
}

} // namespace cleavix::ui
