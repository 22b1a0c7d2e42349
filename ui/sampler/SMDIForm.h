#pragma once
// TSMDIForm, the "Sampler Transfer" dialog: sends the loop region as one sample ("Send region",
// with the channel selector for a stereo sample shown one channel at a time), asks for a numbered
// sample ("Request"), waits for the sampler to send one ("Wait For Send", MIDI profiles) or lists
// the sampler's samples ("List Samples", SCSI profiles) to fetch one, and opens the key map
// ("Set mapping"). A received sample becomes the loaded one (the session takes it over with undo)
// and the dialog closes with OK; the audio output is reopened when it closes.
//
// Threads: main thread only.
#include "ui/sampler/TransferDialog.h"

class QCheckBox;

namespace cleavix::ui {

class TSMDIForm final : public TransferDialogBase {
    Q_OBJECT
public:
    TSMDIForm(session::Session& session, SamplerHost& host, QWidget* parent = nullptr);

    QPushButton* sendButton() const { return send_; }
    QComboBox* channelBox() const { return channel_; }
    QCheckBox* autoMapBox() const { return autoMap_; }
    QPushButton* mappingButton() const { return mapping_; }
    QPushButton* receiveButton() const { return receive_; }
    QPushButton* requestButton() const { return request_; }
    QCheckBox* roundBox() const { return round_; }
    QCheckBox* receiveNameBox() const { return receiveName_; }
    bool received() const { return received_; }

    // The buttons' commands.
    void sendRegion();
    void requestSample();
    void receiveClicked();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    void restoreControls() override;
    void profileSelected() override;

private:
    void receiveEnded(const session::TransferEnd& end);

    QPushButton* send_;
    QComboBox* channel_;
    QCheckBox* autoMap_;
    QPushButton* mapping_;
    QPushButton* receive_;
    QPushButton* request_;
    QCheckBox* round_;
    QCheckBox* receiveName_;
    bool received_ = false;
    bool midiProfile_ = true;
};

} // namespace cleavix::ui
