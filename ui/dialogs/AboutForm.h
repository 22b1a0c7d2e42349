#pragma once
// TCXAboutForm, the about box, and where the HTML user guide lives.
#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>

namespace cleavix::ui {

// A page of the user guide: the installed copy when there is one, else the source tree's
// (beside build/bin, or where the program was built from); empty when there is none.
QString helpFile(const QString& page);
// Opens a page of the guide (at `anchor`) in the desktop's browser; false, with a message box
// on `parent`, when the page is missing or nothing could open it.
bool showHelpPage(QWidget* parent, const QString& page, const QString& anchor = {});
// What opens the page: the desktop's URL handler; tests put their own here.
extern std::function<bool(const QUrl&)> openHelpUrl;

class TCXAboutForm final : public QDialog {
    Q_OBJECT
public:
    explicit TCXAboutForm(QWidget* parent);
};

} // namespace cleavix::ui
