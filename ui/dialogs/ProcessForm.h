#pragma once
// TProcessForm: the "Processing" window of a long operation -- its caption label, the progress bar
// and Cancel -- shown while the job frame's progress model is visible. While it shows, the main
// window is disabled.
#include "jobs/JobFrame.h"

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace cleavix::ui {

class TProcessForm final : public QDialog, public jobs::ProgressView {
    Q_OBJECT
public:
    // `disabled` is the window kept disabled while the progress window shows.
    TProcessForm(jobs::JobFrame& jobs, QWidget* disabled);
    ~TProcessForm() override;

    void progressShown() override;
    void progressChanged() override;
    void progressHidden() override;

    QLabel* Label1() const { return label_; }
    // "File 3 of 12" while an export writes several files; hidden otherwise.
    QLabel* fileCounter() const { return files_; }
    QProgressBar* ProgressBar1() const { return bar_; }
    QPushButton* CancelButton() const { return cancel_; }
    // Told when the window shows (true) and hides (false).
    std::function<void(bool)> onVisibility;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    jobs::JobFrame& jobs_;
    QWidget* disabled_;
    QLabel* label_;
    QLabel* files_;
    QProgressBar* bar_;
    QPushButton* cancel_;
};

} // namespace cleavix::ui
