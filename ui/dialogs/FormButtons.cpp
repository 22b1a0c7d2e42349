#include "ui/dialogs/FormButtons.h"

#include <QDialog>
#include <QPushButton>

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

} // namespace cleavix::ui
