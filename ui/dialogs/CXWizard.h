#pragma once
// TCXWizard, the configuration wizard (Help menu): welcome, the playback device, the sampler
// profile, and the end. Sampler profiles need the sampler support, which this build has not got:
// that page offers only "Skip", which goes to the end.
#include "ui/platform/Config.h"
#include "ui/commands/TransportControl.h"

#include <QWizard>

class QComboBox;

namespace cleavix::ui {

class TCXWizard final : public QWizard {
    Q_OBJECT
public:
    enum Page { Welcome, AudioDevice, SamplerProfile, Complete };

    TCXWizard(Config& config, TransportControl& transport, QWidget* parent);
    QComboBox* deviceList() const { return devices_; }
    void accept() override;

private:
    void captionFor(int id);
    Config& config_;
    TransportControl& transport_;
    QComboBox* devices_ = nullptr;
};

} // namespace cleavix::ui
