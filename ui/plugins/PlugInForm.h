#pragma once
// TPlugInForm: the plug-in window. Caption "Plugin: " + the plug-in's name; the control pages in
// the tab control `PlugTab` with the "CPU:" label; the " Profile: " group (the preset list, Store,
// Delete); the " Process: " group ("Selection:" Loop or All, Bypass, Preview, Process, Cancel).
// It works on the chain the window opened; Process accepts the dialog and hands the chain back
// for the run.
//
// The preview plays a chain of its own (opened on Preview with the window's settings), so the
// chain that processes has run nothing before; controls moved meanwhile reach the preview through
// its queue, on its feeding thread.
//
// Threads: main thread; the preview's feeding thread is TPreviewThread's.
#include "audio/AudioDriver.h"
#include "plugins/PluginHost.h"
#include "plugins/PluginPreview.h"
#include "plugins/PreviewThread.h"

#include <QDialog>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;

namespace cleavix::session {
class Session;
}

namespace cleavix::ui {

class ControlPages;

inline constexpr const char* kMsgStoreFailed = "The profile could not be stored.";
inline constexpr const char* kMsgDeleteFailed = "The profile could not be deleted.";

class TPlugInForm final : public QDialog {
    Q_OBJECT
public:
    // The preview output opens on `previewDevice` (2 channels, 16384-byte buffers, 16 bits, the
    // sample's rate); when it cannot, Preview stays disabled.
    // `presetEntry`: the profile chosen the last time (applied again when it is still listed).
    TPlugInForm(session::Session& session, std::unique_ptr<plugins::PluginChain> chain, plugins::PluginScope scope,
                int previewDevice, QWidget* parent, int presetEntry = 0);
    ~TPlugInForm() override;

    plugins::PluginScope scope() const;
    // After Process: the chain to run.
    std::unique_ptr<plugins::PluginChain> takeChain() { return std::move(chain_); }
    plugins::PluginChain& chain() { return *chain_; }

    QTabWidget* PlugTab() const { return tabs_; }
    QLabel* cpuLabel() const { return cpu_; }
    QComboBox* presetList() const { return presets_; }
    QPushButton* storeButton() const { return store_; }
    QPushButton* deleteButton() const { return delete_; }
    QComboBox* scopeList() const { return scope_; }
    QCheckBox* bypassBox() const { return bypass_; }
    QPushButton* previewButton() const { return preview_; }
    QPushButton* processButton() const { return process_; }
    QPushButton* cancelButton() const { return cancel_; }
    bool previewing() const { return thread_ != nullptr; }
    // Blocks the preview has played so far.
    uint64_t previewBlocks() const { return thread_ ? thread_->blocks() : 0; }

    void reject() override;

private:
    void fillPresets(int select);
    void presetChosen(int entry);
    void storePreset();
    void deletePreset();
    void togglePreview();
    void startPreview();
    void stopPreview();
    void processClicked();
    void updateButtons();
    void message(const std::string& text);

    session::Session& session_;
    plugins::PluginHost& host_;
    std::unique_ptr<plugins::PluginChain> chain_;
    int index_;
    std::vector<plugins::PluginPreset> list_;
    ControlPages* pages_ = nullptr;

    QTabWidget* tabs_;
    QLabel* cpu_;
    QComboBox* presets_;
    QPushButton* store_;
    QPushButton* delete_;
    QComboBox* scope_;
    QCheckBox* bypass_;
    QPushButton* preview_;
    QPushButton* process_;
    QPushButton* cancel_;
    QTimer* cpuTimer_;

    // The preview: its output, its own chain, the range's reader and the feeding thread.
    std::unique_ptr<audio::TAudioDriver> driver_;
    bool rangeEmpty_ = true;
    std::unique_ptr<plugins::PluginChain> previewChain_;
    std::unique_ptr<plugins::PluginPreview> render_;
    std::unique_ptr<plugins::TPreviewThread> thread_;
};

} // namespace cleavix::ui
