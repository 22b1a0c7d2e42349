#pragma once
// PluginCommands: the plug-in menus ("LV2", "LV2 - B", ... 30 plug-ins each, shown only while a
// sample is loaded), opening a plug-in in its window and processing with it, the Process menu's
// "Smooth" tick and the Edit menu's "Edit Externally...". The engine side of each is the
// session's (its plug-in host, the slicer's smooth flag, edit-externally).
//
// Threads: main thread only.
#include "plugins/PluginHost.h"

#include <QObject>

#include <map>
#include <memory>
#include <vector>

class QMenu;
class QMenuBar;

namespace cleavix::ui {

class MainWindowHost;
class TPlugInForm;

class PluginCommands final : public QObject {
    Q_OBJECT
public:
    explicit PluginCommands(MainWindowHost& form);

    // Creates "Smooth1" and "EditExternally1" (children of the window, found by their names).
    void buildActions();
    void fillEditMenu(QMenu& edit);
    void fillProcessMenu(QMenu& process);
    // The plug-in menus are built the first time a sample is loaded (listing the plug-ins takes a
    // while), ahead of the Help menu; shown while a sample is loaded.
    void updateEnabling();
    const std::vector<QMenu*>& pluginMenus() const { return menus_; }

    // The commands.
    void openPlugin(int index); // HandlePlugInClick
    void editExternally();
    // The plug-in window while it is open (null otherwise).
    TPlugInForm* pluginForm() const { return dialog_; }

signals:
    // A plug-in run has started behind the progress window.
    void processStarted();
    // A plug-in run has ended (applied, cancelled or failed).
    void processFinished(const plugins::PluginResult& result);

private:
    void buildPluginMenus();
    void process(std::unique_ptr<plugins::PluginChain> chain, plugins::PluginScope scope, bool reopenOutput);

    MainWindowHost& form_;
    bool menusBuilt_ = false;
    std::vector<QMenu*> menus_;
    TPlugInForm* dialog_ = nullptr;
    // The window's scope choice and each plug-in's profile are kept from one opening to the next.
    plugins::PluginScope scope_ = plugins::PluginScope::Loop;
    std::map<int, int> presetEntry_;
};

} // namespace cleavix::ui
