#pragma once
// What the sample transfer and batch transfer dialogs share: the "Profile:" list with "Edit",
// "Position:", "OK", "Abort dump" (and Esc while it is enabled), the status line, and the rule
// that while a transfer runs the window and the dialog's controls are disabled and only "Abort
// dump" is enabled. The transfer itself is the session's; the dialog listens to its running and
// status notices while it is shown.
//
// Threads: main thread only.
#include "session/SamplerTransfer.h"
#include "session/Session.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace cleavix::ui {

class SamplerHost;

class TransferDialogBase : public QDialog {
    Q_OBJECT
public:
    QComboBox* profileBox() const { return profile_; }
    QPushButton* editButton() const { return edit_; }
    QSpinBox* positionBox() const { return position_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* abortButton() const { return abort_; }
    QLabel* statusLabel() const { return status_; }
    // The last transfer's end message ("" when it showed none).
    const QString& lastMessage() const { return lastMessage_; }

protected:
    TransferDialogBase(session::Session& session, SamplerHost& host, QWidget* parent);
    // Re-reads the profile list and selects (and binds) the last used position.
    void refreshProfiles();
    // Enables the controls for the state now: every one off while a transfer runs.
    virtual void restoreControls();
    // The profile selection changed (the receive button, "Auto map" follow it).
    virtual void profileSelected() {}
    bool running() const;
    // Listens to the session's transfer notices while shown.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    // The end of a transfer the dialog started: the controls come back.
    void transferEnded(const session::TransferEnd& end);

    session::Session& session_;
    SamplerHost& host_;
    QComboBox* profile_;
    QPushButton* edit_;
    QSpinBox* position_;
    QPushButton* ok_;
    QPushButton* abort_;
    QLabel* status_;
    QString lastMessage_;

private:
    void attach();
    void selectProfile(int index);
    void editClicked();
};

} // namespace cleavix::ui
