#pragma once
// TCXWizard, the configuration wizard (Help menu): welcome, the playback device, the sampler
// profile pages (WizardSamplerPages: "Skip" goes to the end) and the end. Finish stores the
// profile made, then applies the playback device.
#include "ui/platform/Config.h"
#include "ui/commands/TransportControl.h"
#include "ui/sampler/ProfileManagerForm.h"

#include <QWizard>

#include <optional>

class QComboBox;

namespace cleavix::ui {

class WizardSamplerPages;

class TCXWizard final : public QWizard {
    Q_OBJECT
public:
    enum Page { Welcome, AudioDevice, SamplerProfile, Protocol, ScsiDevices, MidiDevices, SamplerOptions, ProfileName,
                Complete };

    // The sampler pages work with what the main window's profile manager works with (the
    // parent's, when it is the main window).
    TCXWizard(Config& config, TransportControl& transport, QWidget* parent);
    TCXWizard(Config& config, TransportControl& transport, std::optional<ProfileManagerSetup> sampler,
              QWidget* parent);
    QComboBox* deviceList() const { return devices_; }
    WizardSamplerPages& samplerPages() const { return *sampler_; }
    void accept() override;

private:
    void captionFor(int id);
    Config& config_;
    TransportControl& transport_;
    QComboBox* devices_ = nullptr;
    WizardSamplerPages* sampler_ = nullptr;
};

} // namespace cleavix::ui
