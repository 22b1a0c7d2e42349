#include "ui/commands/PluginCommands.h"

#include "ui/plugins/PlugInForm.h"
#include "ui/window/MainFormParts.h"
#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"

#include <QMainWindow>
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>

namespace cleavix::ui {

using mainform::setHint;

PluginCommands::PluginCommands(MainWindowHost& form) : QObject(&form.mainWindow()), form_(form) {}

void PluginCommands::buildActions() {
    auto* smooth = new QAction("Smooth", &form_.mainWindow());
    smooth->setObjectName("Smooth1");
    smooth->setCheckable(true);
    smooth->setChecked(false); // off at every start, never stored
    form_.session().slicer().smooth = false;
    setHint(smooth, "Tick to ensure division points are automatically adjusted towards zero");
    connect(smooth, &QAction::toggled, this, [this](bool on) { form_.session().slicer().smooth = on; });

    auto* external = new QAction("Edit Externally...", &form_.mainWindow());
    external->setObjectName("EditExternally1");
    setHint(external, "Edit the sample in the wave editor named in the options");
    connect(external, &QAction::triggered, this, [this] { editExternally(); });
}

void PluginCommands::fillEditMenu(QMenu& edit) {
    edit.addSeparator();
    edit.addAction(form_.action("EditExternally1"));
    connect(&edit, &QMenu::aboutToShow, this, [this] { updateEnabling(); });
}

void PluginCommands::fillProcessMenu(QMenu& process) {
    process.addSeparator();
    process.addAction(form_.action("Smooth1"));
}

void PluginCommands::updateEnabling() {
    auto& session = form_.session();
    const bool loaded = session.loaded();
    const bool idle = !session.busy();
    form_.action("EditExternally1")->setEnabled(loaded && idle);
    form_.action("Smooth1")->setEnabled(loaded);
    if (loaded && !menusBuilt_) {
        buildPluginMenus();
    }
    const bool visible = menusBuilt_ && session.plugins().menusVisible();
    for (QMenu* menu : menus_) {
        menu->menuAction()->setVisible(visible);
        menu->setEnabled(idle);
    }
}

void PluginCommands::buildPluginMenus() {
    menusBuilt_ = true;
    auto& host = form_.session().plugins();
    if (!host.bridge().available()) {
        return; // no host library: no menus, no message
    }
    const auto& list = host.bridge().plugins();
    QMenuBar* bar = form_.mainWindow().menuBar();
    QMenu* help = form_.mainWindow().findChild<QMenu*>("HelpMenu");
    int n = 0;
    for (const auto& m : plugins::pluginMenus(host.bridge())) {
        auto* menu = new QMenu(QString::fromStdString(m.title), bar);
        menu->setObjectName(QString("PluginMenu%1").arg(++n));
        if (m.items.empty()) {
            menu->addAction(plugins::kNoPlugins)->setEnabled(false);
        }
        for (int index : m.items) {
            const auto& info = list[size_t(index)];
            // "&" in a name is a character of the name, not an accelerator.
            const QString name = QString::fromStdString(info.name).replace("&", "&&");
            QAction* item = menu->addAction(name);
            item->setObjectName(QString("Plugin%1").arg(index));
            item->setData(index);
            setHint(item, "Show " + QString::fromStdString(info.name));
            connect(item, &QAction::triggered, this, [this, index] { openPlugin(index); });
        }
        if (help != nullptr) {
            bar->insertMenu(help->menuAction(), menu);
        } else {
            bar->addMenu(menu);
        }
        menus_.push_back(menu);
    }
}

void PluginCommands::openPlugin(int index) {
    auto& session = form_.session();
    if (!session.loaded() || session.busy() || dialog_ != nullptr) {
        return;
    }
    // The plug-in's window previews through the output device: the player lets go of it.
    const bool wasOpen = form_.transport()->outputOpen();
    form_.transport()->closeOutput();
    auto& host = session.plugins();
    auto chain = host.open(index);
    if (!chain) {
        if (wasOpen) {
            form_.transport()->openOutput();
        }
        return; // the host showed why
    }
    if (chain->info().controls.empty()) {
        if (session.prompter().ask(jobs::MessageKind::Warning, plugins::kMsgNoPages, "", jobs::Buttons::YesNo) ==
            jobs::Answer::Yes) {
            process(std::move(chain), plugins::PluginScope::All, wasOpen);
        } else if (wasOpen) {
            form_.transport()->openOutput();
        }
        return;
    }
    TPlugInForm dialog(session, std::move(chain), scope_, session.player().DeviceID(), &form_.mainWindow(), presetEntry_[index]);
    dialog_ = &dialog;
    const bool run = dialog.exec() == QDialog::Accepted;
    dialog_ = nullptr;
    scope_ = dialog.scope();
    presetEntry_[index] = dialog.presetList()->currentIndex();
    if (run) {
        process(dialog.takeChain(), scope_, wasOpen);
    } else if (wasOpen) {
        form_.transport()->openOutput();
    }
}

void PluginCommands::process(std::unique_ptr<plugins::PluginChain> chain, plugins::PluginScope scope,
                             bool reopenOutput) {
    auto& session = form_.session();
    const bool started = session.plugins().process(
        std::move(chain), scope, [this, reopenOutput](const plugins::PluginResult& result) {
            if (result.ok) {
                // The format may have changed: the whole sample at 1:1.
                const auto& format = form_.session().format();
                form_.transport()->setFormat(format.channels, format.sampleRate);
                form_.showWholeSample();
            }
            form_.showFileStatus({}); // the format may be another
            form_.sampleEdited();
            if (reopenOutput) {
                form_.transport()->openOutput();
            }
            emit processFinished(result);
        });
    if (!started) {
        if (reopenOutput) {
            form_.transport()->openOutput();
        }
        form_.updateEnabling();
        return;
    }
    form_.updateEnabling();
    emit processStarted();
}

void PluginCommands::editExternally() {
    auto& session = form_.session();
    if (!session.loaded() || session.busy()) {
        return;
    }
    form_.transport()->stop();
    const bool started = session.editExternally(form_.config().editLoc.toStdString(), [this](bool) {
        form_.showFileStatus({});
        form_.updateEnabling();
    });
    if (started) {
        form_.showFileStatus("Saving...");
    }
    form_.updateEnabling();
}

} // namespace cleavix::ui
