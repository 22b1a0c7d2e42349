#include "ui/dialogs/CXWizard.h"

#include "ui/dialogs/WizardSamplerPages.h"
#include "ui/sampler/SamplerCommands.h"
#include "ui/window/StartForm.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWizardPage>

#include <algorithm>
#include <functional>

namespace cleavix::ui {

namespace {

class TextPage final : public QWizardPage {
public:
    TextPage(const QString& title, const QString& text) : label_(new QLabel(text, this)) {
        setTitle(title);
        label_->setWordWrap(true);
        auto* column = new QVBoxLayout(this);
        column->addWidget(label_);
        column->addStretch();
    }
    void initializePage() override {
        if (text_) {
            label_->setText(text_());
        }
    }
    std::function<QString()> text_;

private:
    QLabel* label_;
};

// The main window's profile manager settings; none when the window cannot keep profiles (its
// "&Profile Manager" item is disabled then).
std::optional<ProfileManagerSetup> samplerSetupOf(QWidget* parent) {
    auto* main = qobject_cast<TMainForm*>(parent);
    if (main == nullptr || main->samplerCommands() == nullptr) {
        return std::nullopt;
    }
    const QAction* manager = main->action("ProfileManager1");
    if (manager == nullptr || !manager->isEnabled()) {
        return std::nullopt;
    }
    return main->samplerCommands()->profileManager()->setup();
}

} // namespace

TCXWizard::TCXWizard(Config& config, TransportControl& transport, QWidget* parent)
    : TCXWizard(config, transport, samplerSetupOf(parent), parent) {}

TCXWizard::TCXWizard(Config& config, TransportControl& transport, std::optional<ProfileManagerSetup> sampler,
                     QWidget* parent)
    : QWizard(parent), config_(config), transport_(transport) {
    setObjectName("TCXWizard");
    setWizardStyle(QWizard::ClassicStyle);
    setPage(Welcome, new TextPage("Welcome", "This wizard sets up Cleavix: the device it plays through and a "
                                             "sampler profile for sending samples to a sampler."));
    auto* audio = new QWizardPage;
    audio->setTitle("Audio Device Selection");
    auto* column = new QVBoxLayout(audio);
    column->addWidget(new QLabel("Choose the device Cleavix plays through:", audio));
    devices_ = new QComboBox(audio);
    const auto names = transport_.outputNames();
    if (names.empty()) {
        devices_->addItem("No devices found");
        devices_->setEnabled(false);
    }
    for (const auto& name : names) {
        devices_->addItem(QString::fromStdString(name));
    }
    devices_->setCurrentIndex(std::clamp(transport_.device() + 1, 0, std::max(0, devices_->count() - 1)));
    column->addWidget(devices_);
    column->addStretch();
    setPage(AudioDevice, audio);

    sampler_ = new WizardSamplerPages(
        *this, {SamplerProfile, Protocol, ScsiDevices, MidiDevices, SamplerOptions, ProfileName, Complete},
        std::move(sampler));
    auto* complete = new TextPage("Configuration Complete", QString());
    complete->text_ = [this] {
        if (sampler_->profileMade()) {
            return QString("Cleavix is set up. Press Finish to apply the settings and store the sampler profile "
                           "\"%1\".")
                .arg(sampler_->profileName());
        }
        return QString("Cleavix is set up. Press Finish to apply the settings.");
    };
    setPage(Complete, complete);

    setButtonText(QWizard::NextButton, "&Next >");
    setButtonText(QWizard::CustomButton1, "Skip");
    connect(this, &QWizard::customButtonClicked, this, [this](int which) {
        if (which == QWizard::CustomButton1) {
            sampler_->skip();
        }
    });
    connect(this, &QWizard::currentIdChanged, this, [this](int id) {
        captionFor(id);
        sampler_->pageEntered(id);
        // "Skip" only where a profile may be begun.
        setOption(QWizard::HaveCustomButton1, id == SamplerProfile && sampler_->canMakeProfile());
        setButtonText(QWizard::NextButton, id == SamplerProfile && !sampler_->canMakeProfile() ? "Skip" : "&Next >");
    });
    setStartId(Welcome);
    captionFor(Welcome);
}

void TCXWizard::captionFor(int id) {
    const QWizardPage* p = page(id);
    setWindowTitle(QString("Configuration Wizard - %1").arg(p != nullptr ? p->title() : QString()));
}

void TCXWizard::accept() {
    // The profile first: when it cannot be stored the wizard stays open on its last page.
    if (!sampler_->store()) {
        return;
    }
    if (sampler_->profileMade()) {
        // The transfer dialogs open on the profile just made.
        config_.pNo = sampler_->storedPosition();
    }
    if (devices_->isEnabled()) {
        transport_.closeOutput();
        config_.waveId = devices_->currentIndex() - 1;
        transport_.setDevice(config_.waveId);
    }
    QWizard::accept();
}

} // namespace cleavix::ui
