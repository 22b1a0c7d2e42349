#include "ui/dialogs/AboutForm.h"

#include "ui/view/Artwork.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace cleavix::ui {

QString helpFile(const QString& page) {
    // Where the install put it relative to the program first (an installed or staged tree, at any
    // prefix), then the configured install location, then a source tree holding the build folder,
    // then the sources the program was built from.
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + "/" CLEAVIX_HELP_FROM_BIN "/" + page, QString(CLEAVIX_HELP_INSTALLED "/") + page,
                                     dir + "/../../docs/help/" + page, QString(CLEAVIX_HELP_SOURCE "/") + page}) {
        if (QFileInfo(candidate).isFile()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return {};
}

std::function<bool(const QUrl&)> openHelpUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

bool showHelpPage(QWidget* parent, const QString& page, const QString& anchor) {
    const QString file = helpFile(page);
    if (file.isEmpty()) {
        QMessageBox::warning(parent, "Cleavix",
                             QString("The help page %1 cannot be found.\nThe user guide is installed with Cleavix "
                                     "in share/cleavix/help, and is in the source tree's docs/help folder.")
                                 .arg(page));
        return false;
    }
    QUrl url = QUrl::fromLocalFile(file);
    if (!anchor.isEmpty()) {
        url.setFragment(anchor);
    }
    if (!openHelpUrl || !openHelpUrl(url)) {
        QMessageBox::warning(parent, "Cleavix",
                             QString("No program could open the help page\n%1\n\nInstall a web browser, or choose "
                                     "one with xdg-settings, and try again.")
                                 .arg(file));
        return false;
    }
    return true;
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
