#include "ui/dialogs/CXWizard.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWizardPage>

#include <algorithm>

namespace cleavix::ui {

namespace {

QWizardPage* textPage(const QString& title, const QString& text) {
    auto* page = new QWizardPage;
    page->setTitle(title);
    auto* label = new QLabel(text, page);
    label->setWordWrap(true);
    auto* column = new QVBoxLayout(page);
    column->addWidget(label);
    column->addStretch();
    return page;
}

// The sampler profile page: "Skip" leads to the end.
class SamplerPage final : public QWizardPage {
public:
    SamplerPage() {
        setTitle("Sampler Profile");
        auto* label = new QLabel("A sampler profile names a hardware sampler and how to reach it (MIDI or SCSI).\n\n"
                                 "This build of Cleavix has no sampler support, so no profile can be made now. "
                                 "Press Skip to finish the wizard.",
                                 this);
        label->setWordWrap(true);
        auto* column = new QVBoxLayout(this);
        column->addWidget(label);
        column->addStretch();
    }
    int nextId() const override { return TCXWizard::Complete; }
};

} // namespace

TCXWizard::TCXWizard(Config& config, TransportControl& transport, QWidget* parent)
    : QWizard(parent), config_(config), transport_(transport) {
    setObjectName("TCXWizard");
    setWizardStyle(QWizard::ClassicStyle);
    setPage(Welcome, textPage("Welcome", "This wizard sets up Cleavix: the device it plays through and, "
                                         "when sampler support is present, a sampler profile."));
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
    setPage(SamplerProfile, new SamplerPage);
    setPage(Complete, textPage("Configuration Complete", "Cleavix is set up. Press Finish to apply the settings."));
    setButtonText(QWizard::NextButton, "&Next >");
    connect(this, &QWizard::currentIdChanged, this, [this](int id) {
        captionFor(id);
        setButtonText(QWizard::NextButton, id == SamplerProfile ? "Skip" : "&Next >");
    });
    setStartId(Welcome);
    captionFor(Welcome);
}

void TCXWizard::captionFor(int id) {
    const QWizardPage* p = page(id);
    setWindowTitle(QString("Configuration Wizard - %1").arg(p != nullptr ? p->title() : QString()));
}

void TCXWizard::accept() {
    if (devices_->isEnabled()) {
        transport_.closeOutput();
        config_.waveId = devices_->currentIndex() - 1;
        transport_.setDevice(config_.waveId);
    }
    QWizard::accept();
}

} // namespace cleavix::ui
