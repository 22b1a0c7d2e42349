#pragma once
// SamplerCommands: the Sampler menu -- "Sample &Transfer" (Ctrl+I), "&Profile Manager" (Ctrl+D),
// "&Batch Transfer" -- and the toolbar's "Sample Transfer" button, with the dialogs they open.
// The dialogs are made once and live until exit. What they do is the session's sampler
// commands; this class hands them what belongs to the window: the configuration's key map and
// profile position, disabling the window while a transfer runs, the view's channel choice, the
// audio output, and the profile manager.
//
// Threads: main thread only.
#include <QObject>
#include <QString>

class QMenu;
class QToolBar;

namespace cleavix::ui {

class MainWindowHost;
class TSMDIForm;
class TSReqForm;
class TBatchTrans;
class TGeneralProfileManagerForm;
struct KeymapSettings;

// What the transfer dialogs need of the window, as calls.
class SamplerHost {
public:
    virtual ~SamplerHost() = default;
    virtual int profilePosition() const = 0;
    virtual void setProfilePosition(int position) = 0;
    virtual KeymapSettings keymap() const = 0;
    virtual void setKeymap(const KeymapSettings& settings) = 0;
    // While a transfer runs the window takes no input (its menus, toolbars and views).
    virtual void setTransferring(bool running) = 0;
    // The view shows both channels (or the sample is mono); else which one it shows (1 or 2).
    virtual bool bothChannelsInView() const = 0;
    virtual int channelInView() const = 0;
    virtual int segmentsInLoop() const = 0;
    // Stops playback and closes the audio output (a dialog is shown); reopens it when it closes.
    virtual void closeOutput() = 0;
    virtual void reopenOutput() = 0;
    // The profile manager on `position`; the position chosen with OK, or -1.
    virtual int editProfiles(int position) = 0;
    virtual bool playFile(const QString& file) = 0;
    virtual void stopPlaying() = 0;
    virtual bool playingFile() const = 0;
    virtual void openFile(const QString& file) = 0;
    virtual TSReqForm& requestDialog() = 0;
};

class SamplerCommands final : public QObject, public SamplerHost {
    Q_OBJECT
public:
    explicit SamplerCommands(MainWindowHost& form);
    ~SamplerCommands() override;

    void buildActions();
    void fillSamplerMenu(QMenu& menu);
    void fillToolbar(QToolBar& bar);

    // The commands (the dialogs shown modally).
    void showTransfer();
    void showProfileManager();
    void showBatch();

    TSMDIForm* transferDialog() const { return transfer_; }
    TSReqForm* requestForm() const { return request_; }
    TBatchTrans* batchDialog() const { return batch_; }
    TGeneralProfileManagerForm* profileManager();

    // --- SamplerHost ---
    int profilePosition() const override;
    void setProfilePosition(int position) override;
    KeymapSettings keymap() const override;
    void setKeymap(const KeymapSettings& settings) override;
    void setTransferring(bool running) override;
    bool bothChannelsInView() const override;
    int channelInView() const override;
    int segmentsInLoop() const override;
    void closeOutput() override;
    void reopenOutput() override;
    int editProfiles(int position) override;
    bool playFile(const QString& file) override;
    void stopPlaying() override;
    bool playingFile() const override;
    void openFile(const QString& file) override;
    TSReqForm& requestDialog() override { return *request_; }

private:
    MainWindowHost& form_;
    TSMDIForm* transfer_ = nullptr;
    TSReqForm* request_ = nullptr;
    TBatchTrans* batch_ = nullptr;
    TGeneralProfileManagerForm* manager_ = nullptr;
};

} // namespace cleavix::ui
