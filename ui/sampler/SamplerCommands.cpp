#include "ui/sampler/SamplerCommands.h"
#include "sampler/midi/MidiIn.h"
#include "sampler/midi/MidiOut.h"
#include "session/SamplerTransfer.h"
#include "ui/commands/ExportCommands.h"
#include "ui/commands/TransportControl.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/platform/Config.h"
#include "ui/sampler/BatchTrans.h"
#include "ui/sampler/ProfileManagerForm.h"
#include "ui/sampler/SMDIForm.h"
#include "ui/sampler/SReqForm.h"
#include "ui/window/MainFormParts.h"
#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"

#include <QMainWindow>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace cleavix::ui {

using mainform::setHint;

namespace {

QStringList portNames(const std::vector<sampler::midi::MidiDeviceInfo>& devices) {
    QStringList names;
    for (const auto& device : devices) {
        names << QString::fromStdString(device.name);
    }
    return names;
}

} // namespace

SamplerCommands::SamplerCommands(MainWindowHost& form) : QObject(&form.mainWindow()), form_(form) {
    auto& session = form_.session();
    // The profiles live in the window's own settings file.
    session.sampler().setProfileStore(sampler::profiles::ProfileStore(configFilePath().toStdString()));
    session.sampler().profilePosition = form_.config().pNo;
    transfer_ = new TSMDIForm(session, *this, &form_.mainWindow());
    request_ = new TSReqForm(session, *this, &form_.mainWindow());
    batch_ = new TBatchTrans(session, *this, &form_.mainWindow());
}

SamplerCommands::~SamplerCommands() = default;

void SamplerCommands::buildActions() {
    auto make = [this](const char* name, const QString& text, const QString& hint, void (SamplerCommands::*fn)(),
                       const QKeySequence& key = {}) {
        auto* a = new QAction(text, &form_.mainWindow());
        a->setObjectName(name);
        if (!key.isEmpty()) {
            a->setShortcut(key);
        }
        setHint(a, hint);
        connect(a, &QAction::triggered, this, [this, fn] { (this->*fn)(); });
        return a;
    };
    make("SampleTransfer1", "Sample &Transfer", "Show sampler transfer dialog", &SamplerCommands::showTransfer,
         QKeySequence("Ctrl+I"));
    auto* manager = make("ProfileManager1", "&Profile Manager", "Show sampler profile manager",
                         &SamplerCommands::showProfileManager, QKeySequence("Ctrl+D"));
    // Without the configuration file there is nowhere to keep a profile.
    manager->setEnabled(form_.configWritable());
    make("BatchTransfer1", "&Batch Transfer", "Show batch transfer dialog", &SamplerCommands::showBatch);
    make("SampleTransferButton", "Sample Transfer", "Sample Transfer|Show the sample transfer dialog",
         &SamplerCommands::showTransfer);
}

void SamplerCommands::fillSamplerMenu(QMenu& menu) {
    menu.addAction(form_.action("SampleTransfer1"));
    menu.addAction(form_.action("ProfileManager1"));
    menu.addAction(form_.action("BatchTransfer1"));
}

void SamplerCommands::fillToolbar(QToolBar& bar) { bar.addAction(form_.action("SampleTransferButton")); }

void SamplerCommands::showTransfer() {
    if (form_.session().busy()) {
        return;
    }
    form_.transport()->stop();
    transfer_->exec();
}

void SamplerCommands::showBatch() {
    if (form_.session().busy()) {
        return;
    }
    form_.transport()->stop();
    batch_->exec();
}

TGeneralProfileManagerForm* SamplerCommands::profileManager() {
    if (manager_ == nullptr) {
        auto& sampler = form_.session().sampler();
        ProfileManagerSetup setup;
        setup.settingsFile = configFilePath().toStdString();
        setup.scsi = &sampler.scsi();
        setup.midiInputs = [&sampler] { return portNames(sampler.midiInput().devices()); };
        setup.midiOutputs = [&sampler] { return portNames(sampler.midiOutput().devices()); };
        setup.midiChannel = form_.config().midiChannel;
        setup.lastUsed = [this] { return profilePosition(); };
        manager_ = new TGeneralProfileManagerForm(std::move(setup), &form_.mainWindow());
        connect(manager_, &TGeneralProfileManagerForm::profileChosen, this,
                [this](int position, const QString&) { setProfilePosition(position); });
    }
    return manager_;
}

void SamplerCommands::showProfileManager() {
    if (!form_.configWritable()) {
        return;
    }
    profileManager()->DisplayPresets(profilePosition());
}

int SamplerCommands::profilePosition() const { return form_.config().pNo; }

void SamplerCommands::setProfilePosition(int position) {
    form_.config().pNo = position;
    form_.session().sampler().profilePosition = position;
}

KeymapSettings SamplerCommands::keymap() const { return keymapFromConfig(form_.config()); }

void SamplerCommands::setKeymap(const KeymapSettings& settings) { keymapToConfig(settings, form_.config()); }

void SamplerCommands::setTransferring(bool running) {
    // The window takes no input while a transfer runs; the dialog over it stays usable.
    form_.mainWindow().menuBar()->setEnabled(!running);
    for (auto* bar : form_.mainWindow().findChildren<QToolBar*>()) {
        bar->setEnabled(!running);
    }
    if (form_.mainWindow().centralWidget() != nullptr) {
        form_.mainWindow().centralWidget()->setEnabled(!running);
    }
    if (!running) {
        form_.updateEnabling();
    }
}

bool SamplerCommands::bothChannelsInView() const {
    const auto& selection = form_.session().selection();
    return form_.session().format().channels != 2 || (selection.leftTicked() && selection.rightTicked());
}

int SamplerCommands::channelInView() const { return form_.session().selection().leftTicked() ? 1 : 2; }

int SamplerCommands::segmentsInLoop() const { return form_.exportCommands()->segmentsInLoop(); }

void SamplerCommands::closeOutput() {
    form_.transport()->stop();
    form_.transport()->closeOutput();
}

void SamplerCommands::reopenOutput() {
    const auto& format = form_.session().format();
    form_.transport()->setFormat(format.channels, format.sampleRate);
    form_.transport()->openOutput();
}

int SamplerCommands::editProfiles(int position) {
    auto* manager = profileManager();
    manager->DisplayPresets(position);
    return manager->selectedPosition();
}

bool SamplerCommands::playFile(const QString& file) {
    form_.transport()->stop();
    return form_.transport()->playFile(file.toStdString());
}

void SamplerCommands::stopPlaying() { form_.transport()->stop(); }

bool SamplerCommands::playingFile() const { return form_.transport()->playing(); }

void SamplerCommands::openFile(const QString& file) { form_.loadFile(file); }

} // namespace cleavix::ui
