#include "ui/plugins/PlugInForm.h"

#include "session/Session.h"
#include "ui/plugins/ControlPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace cleavix::ui {

namespace {

void hint(QWidget* w, const QString& text) {
    w->setToolTip(text);
    w->setStatusTip(text);
}

} // namespace

TPlugInForm::TPlugInForm(session::Session& session, std::unique_ptr<plugins::PluginChain> chain,
                         plugins::PluginScope scope, int previewDevice, QWidget* parent, int presetEntry)
    : QDialog(parent), session_(session), host_(session.plugins()), chain_(std::move(chain)),
      index_(chain_->info().index), tabs_(new QTabWidget(this)), cpu_(new QLabel("CPU: ---", this)),
      presets_(new QComboBox(this)), store_(new QPushButton("Store", this)), delete_(new QPushButton("Delete", this)),
      scope_(new QComboBox(this)), bypass_(new QCheckBox("Bypass", this)), preview_(new QPushButton("Preview", this)),
      process_(new QPushButton("Process", this)), cancel_(new QPushButton("Cancel", this)), cpuTimer_(new QTimer(this)) {
    setObjectName("TPlugInForm");
    setWindowTitle("Plugin: " + QString::fromStdString(chain_->info().name));
    tabs_->setObjectName("PlugTab");
    cpu_->setObjectName("CPULabel");
    presets_->setObjectName("PresetList");
    store_->setObjectName("StoreButton");
    delete_->setObjectName("DeleteButton");
    scope_->setObjectName("ScopeList");
    bypass_->setObjectName("BypassBox");
    preview_->setObjectName("PreviewButton");
    process_->setObjectName("ProcessButton");
    cancel_->setObjectName("CancelButton");
    hint(store_, "Store the current plugin's settings");
    hint(preview_, "Preview the plugin in real time");
    hint(process_, "Process the sample");
    process_->setDefault(true);

    pages_ = new ControlPages(chain_->info(), *tabs_);
    pages_->show([this](const std::string& symbol) { return chain_->control(symbol); });
    pages_->onChange = [this](const std::string& symbol, float value) {
        chain_->setControl(symbol, value);
        if (render_) {
            render_->setControl(symbol, value);
        }
    };

    scope_->addItems({"Loop", "All"});
    scope_->setCurrentIndex(scope == plugins::PluginScope::All ? 1 : 0);

    auto* profile = new QGroupBox(" Profile: ", this);
    auto* profileRow = new QHBoxLayout(profile);
    profileRow->addWidget(presets_, 1);
    profileRow->addWidget(store_);
    profileRow->addWidget(delete_);
    auto* process = new QGroupBox(" Process: ", this);
    auto* processRow = new QHBoxLayout(process);
    processRow->addWidget(new QLabel("Selection:", process));
    processRow->addWidget(scope_);
    processRow->addWidget(bypass_);
    processRow->addStretch(1);
    processRow->addWidget(preview_);
    processRow->addWidget(process_);
    processRow->addWidget(cancel_);

    auto* column = new QVBoxLayout(this);
    column->addWidget(tabs_, 1);
    column->addWidget(cpu_);
    column->addWidget(profile);
    column->addWidget(process);

    fillPresets(0);
    connect(presets_, &QComboBox::currentIndexChanged, this, [this](int entry) { presetChosen(entry); });
    if (presetEntry > 0 && presetEntry < presets_->count()) {
        presets_->setCurrentIndex(presetEntry);
    }
    connect(store_, &QPushButton::clicked, this, [this] { storePreset(); });
    connect(delete_, &QPushButton::clicked, this, [this] { deletePreset(); });
    connect(preview_, &QPushButton::clicked, this, [this] { togglePreview(); });
    connect(process_, &QPushButton::clicked, this, [this] { processClicked(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    connect(bypass_, &QCheckBox::toggled, this, [this](bool on) {
        if (render_) {
            render_->bypass = on;
        }
    });
    connect(cpuTimer_, &QTimer::timeout, this, [this] {
        if (render_) {
            const int n = render_->cpuPercent();
            cpu_->setText(n < 0 ? QString("CPU: 0%") : QString::fromStdString(render_->cpuLabel()));
        }
    });

    // Preview is offered for a loop region of at least one frame, on an output that opened.
    auto& slicer = session_.slicer();
    rangeEmpty_ = plugins::PluginPreview(session_.store(), *chain_, slicer.left(), slicer.right(), 3).empty();
    driver_ = std::make_unique<audio::TAudioDriver>(session_.devices());
    if (!rangeEmpty_ && driver_->Open(previewDevice, 2, 16384, 16, session_.format().sampleRate) != 0) {
        driver_.reset();
    }
    if (rangeEmpty_) {
        driver_.reset();
    }
    updateButtons();
}

TPlugInForm::~TPlugInForm() { stopPreview(); }

plugins::PluginScope TPlugInForm::scope() const {
    return scope_->currentIndex() == 1 ? plugins::PluginScope::All : plugins::PluginScope::Loop;
}

void TPlugInForm::message(const std::string& text) {
    session_.prompter().ask(jobs::MessageKind::Error, text, "", jobs::Buttons::Ok);
}

void TPlugInForm::fillPresets(int select) {
    const QSignalBlocker block(presets_);
    list_ = host_.presetList(index_);
    presets_->clear();
    for (const auto& p : list_) {
        presets_->addItem(QString::fromStdString(p.name));
    }
    presets_->setCurrentIndex(std::clamp(select, 0, int(list_.size()) - 1));
    updateButtons();
}

void TPlugInForm::updateButtons() {
    delete_->setEnabled(host_.deletable(index_, presets_->currentIndex()));
    preview_->setEnabled(driver_ != nullptr);
}

void TPlugInForm::presetChosen(int entry) {
    updateButtons();
    if (entry <= 0 || size_t(entry) >= list_.size()) {
        return;
    }
    if (!chain_->applyPreset(list_[size_t(entry)])) {
        message(plugins::kMsgPluginError);
        return;
    }
    pages_->show([this](const std::string& symbol) { return chain_->control(symbol); });
    if (render_) {
        for (const auto& c : chain_->info().controls) {
            render_->setControl(c.symbol, chain_->control(c.symbol));
        }
    }
}

void TPlugInForm::storePreset() {
    QInputDialog ask(this);
    ask.setObjectName("NameProfileDialog");
    ask.setWindowTitle(windowTitle());
    ask.setLabelText("Name Profile:");
    // Entry 0 says no preset is chosen: nothing to offer as the name.
    ask.setTextValue(QString::fromStdString(host_.storePrefill(index_, presets_->currentIndex())));
    if (ask.exec() != QDialog::Accepted) {
        return;
    }
    const std::string name = ask.textValue().trimmed().toStdString();
    if (name.empty()) {
        return;
    }
    const int entry = host_.storePreset(*chain_, name);
    if (entry < 0) {
        message(kMsgStoreFailed);
        fillPresets(presets_->currentIndex());
        return;
    }
    fillPresets(entry);
}

void TPlugInForm::deletePreset() {
    const int entry = presets_->currentIndex();
    if (!host_.deletable(index_, entry)) {
        return;
    }
    if (!host_.deletePreset(index_, entry)) {
        message(kMsgDeleteFailed);
        fillPresets(entry);
        return;
    }
    fillPresets(entry - 1);
}

void TPlugInForm::togglePreview() {
    if (thread_) {
        stopPreview();
    } else {
        startPreview();
    }
}

void TPlugInForm::startPreview() {
    if (!driver_ || thread_) {
        return;
    }
    previewChain_ = host_.open(index_);
    if (!previewChain_) {
        return; // the host said why
    }
    const int entry = presets_->currentIndex();
    if (entry > 0 && size_t(entry) < list_.size()) {
        previewChain_->applyPreset(list_[size_t(entry)]);
    }
    for (const auto& c : chain_->info().controls) {
        previewChain_->setControl(c.symbol, chain_->control(c.symbol));
    }
    auto& slicer = session_.slicer();
    render_ = std::make_unique<plugins::PluginPreview>(session_.store(), *previewChain_, slicer.left(), slicer.right(),
                                                      session_.editor().processChannel());
    render_->bypass = bypass_->isChecked();
    thread_ = std::make_unique<plugins::TPreviewThread>(*driver_, *render_);
    if (!thread_->start()) {
        thread_.reset();
        render_.reset();
        previewChain_.reset();
        return;
    }
    preview_->setText("Stop");
    cpu_->setText("CPU: 0%");
    cpuTimer_->start(250);
}

void TPlugInForm::stopPreview() {
    cpuTimer_->stop();
    if (thread_) {
        thread_->stop();
    }
    thread_.reset();
    render_.reset();
    previewChain_.reset();
    preview_->setText("Preview");
    cpu_->setText("CPU: ---");
}

void TPlugInForm::processClicked() {
    stopPreview();
    accept();
}

void TPlugInForm::reject() {
    stopPreview();
    QDialog::reject();
}

} // namespace cleavix::ui
