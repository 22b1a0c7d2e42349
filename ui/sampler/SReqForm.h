#pragma once
// TSReqForm, the "Request sample" dialog: lists the samples the SCSI sampler holds ("#", "Name",
// "Size", "Bits", "Type") as soon as it is shown, and closes with OK on "Receive" or a double
// click once the listing has ended and a row is selected. "Cancel" aborts a running listing.
//
// Threads: main thread only.
#include "session/SamplerTransfer.h"
#include "session/Session.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace cleavix::ui {

class SamplerHost;

class TSReqForm final : public QDialog {
    Q_OBJECT
public:
    TSReqForm(session::Session& session, SamplerHost& host, QWidget* parent = nullptr);

    QTreeWidget* list() const { return list_; }
    QPushButton* receiveButton() const { return receive_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLabel* statusLabel() const { return status_; }
    // The sampler's own number of the selected row.
    int32_t selectedNumber() const;
    bool listingRunning() const;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void receiveClicked();
    void listed(const session::TransferEnd& end);

    session::Session& session_;
    SamplerHost& host_;
    QTreeWidget* list_;
    QPushButton* receive_;
    QPushButton* cancel_;
    QLabel* status_;
    bool listing_ = false;
};

} // namespace cleavix::ui
