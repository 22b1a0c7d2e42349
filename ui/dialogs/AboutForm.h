#pragma once
// TCXAboutForm, the about box, and where the HTML user guide lives.
#include <QDialog>
#include <QString>

namespace cleavix::ui {

// A page of the user guide: the installed copy when there is one, else the source tree's.
QString helpFile(const QString& page);

class TCXAboutForm final : public QDialog {
    Q_OBJECT
public:
    explicit TCXAboutForm(QWidget* parent);
};

} // namespace cleavix::ui
