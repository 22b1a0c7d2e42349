#pragma once
// The "Record" dialog (TRecordForm): arms, records and stops a take of the session, shows its
// format, the time recorded and the time the working folder still has room for, and the input
// level on an LED ladder. Waiting -> Armed -> Recording -> Waiting; Close leaves from Waiting with
// the OK result, and the take is worth keeping when it holds at least one byte. Escape or the
// window's close button leave without keeping, after asking when something was recorded.
//
// Threads: main thread only. The meter's audio arrives through the session's dispatcher; the
// dialog reads the level on its 100 ms timer.
#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

namespace cleavix::jobs {
class Prompter;
}
namespace cleavix::session {
class RecordTake;
}

namespace cleavix::ui {

class TLedLadder;

inline constexpr const char* kMsgDiscardTake = "Discard what was recorded?";

class TRecordForm final : public QDialog {
    Q_OBJECT
public:
    TRecordForm(session::RecordTake& take, int units, jobs::Prompter& prompter, QWidget* parent);

    // True when the dialog closed through Close with something recorded.
    bool Accepted() const { return accepted_; }

    QLabel* sampleTypeLabel() const { return sampleType_; }
    QLabel* remainingLabel() const { return remaining_; }
    QLabel* recordedLabel() const { return recorded_; }
    QLabel* statusLabel() const { return status_; }
    TLedLadder* LedLadder1() const { return ladder_; }
    QPushButton* armButton() const { return arm_; }
    QPushButton* recordButton() const { return record_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* changeButton() const { return change_; }
    QPushButton* closeButton() const { return close_; }
    QCheckBox* monitorCheckbox() const { return monitor_; }
    QCheckBox* thresholdCheckbox() const { return threshold_; }
    QTimer* supertimer1() const { return timer_; }

    void supertimer1Timer();
    void ChangeButtonClick();
    void MonitorCheckboxClick();
    void ArmButtonClick();
    void RecordButtonClick();
    void StopButtonClick();
    void CloseButtonClick();

    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void FormClose();
    void UpdateSampleTypeLabel();
    void showState();
    void showTimes();
    // Meters on or off as the tick says; off for good when there is no meter to show.
    void applyMonitor();

    session::RecordTake* take_; // null once the dialog has closed
    int units_;
    jobs::Prompter& prompter_;
    bool accepted_ = false;
    bool shown_ = false;

    QLabel* sampleType_;
    QLabel* remaining_;
    QLabel* recorded_;
    QLabel* status_;
    TLedLadder* ladder_;
    QPushButton* arm_;
    QPushButton* record_;
    QPushButton* stop_;
    QPushButton* change_;
    QPushButton* close_;
    QCheckBox* monitor_;
    QCheckBox* threshold_;
    QTimer* timer_;
};

} // namespace cleavix::ui
