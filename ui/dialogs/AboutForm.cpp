#include "ui/dialogs/AboutForm.h"

#include "ui/view/Artwork.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace cleavix::ui {

QString helpFile(const QString& page) {
    // Beside the program first (an installed tree: bin/../share/doc/cleavix/help), then the
    // configured install location, then the sources the program was built from.
    const QString beside = QCoreApplication::applicationDirPath() + "/../share/doc/cleavix/help/" + page;
    for (const QString& candidate :
         {beside, QString(CLEAVIX_HELP_INSTALLED "/") + page, QString(CLEAVIX_HELP_SOURCE "/") + page}) {
        if (QFileInfo(candidate).isFile()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return QString(CLEAVIX_HELP_SOURCE "/") + page;
}

TCXAboutForm::TCXAboutForm(QWidget* parent) : QDialog(parent) {
    setObjectName("TCXAboutForm");
    setWindowTitle("About Cleavix");
    auto* icon = new QLabel(this);
    icon->setPixmap(art::applicationIcon().pixmap(64, 64));
    auto* text = new QLabel(this);
    text->setTextFormat(Qt::RichText);
    text->setText(QString("<h2>Cleavix</h2><p>Version %1</p>"
                          "<p>A sample editor for drum loops: it finds the attacks in a loop, places slice "
                          "points before them, and saves the slices.</p>")
                      .arg(CLEAVIX_VERSION));
    text->setWordWrap(true);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(buttons);
    setFixedWidth(380);
}

} // namespace cleavix::ui
