#pragma once
// The plug-in commands as the session offers them: the plug-in menus, setting a plug-in up for
// the loaded sample, its presets, and processing the loop or the whole sample with undo.
//
// Threads: main thread only. process() starts a worker through the editor's job frame and returns;
// its completion runs later on the main thread and calls `done`.
#include "editing/Editor.h"
#include "plugins/PluginBridge.h"
#include "plugins/PluginChain.h"
#include "plugins/PluginProcess.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::plugins {

inline constexpr const char* kMsgWholeSample = "This plugin will process the entire sample.\r\n\r\nContinue?";
inline constexpr const char* kMsgPluginSetup =
    "An error occurred when initialising the plugin -\r\n\r\nA possible cause is that it cannot accept mono data.";
// A plug-in without controls has no control page: asked before it processes the whole sample.
inline constexpr const char* kMsgNoPages = "Plugin has no property pages - process?";
inline constexpr const char* kNoPresetSelected = "No profile selected";
inline constexpr const char* kNoPlugins = "No plugins available";

struct PluginMenu {
    std::string title; // "L&V2", "LV&2 - B", ...
    std::vector<int> items; // plug-in indices; empty: one disabled "No plugins available"
};

// The menus for a listing: 30 plug-ins each, "LV2", then "LV2 - B", "LV2 - C", ...; the
// accelerator moves one character right in each next menu.
std::vector<PluginMenu> pluginMenus(const PluginBridge& bridge);

enum class PluginScope { Loop, All };

struct PluginResult {
    bool ok = false;
    uint32_t dataLength = 0;
    uint32_t latency = 0;
    std::string error; // empty on success or cancel
    bool cancelled = false;
};

class PluginHost {
public:
    PluginHost(editing::Editor& editor, PluginBridge& bridge) : editor_(editor), bridge_(bridge) {}

    PluginBridge& bridge() { return bridge_; }
    // The menus are shown only while a sample is loaded and the bridge is there.
    bool menusVisible() const { return bridge_.available() && editor_.loaded(); }

    // The channel count a run wants back: the sample's when it is mono or both channels are
    // processed, else 1.
    int expectedChannels() const;
    // Sets plug-in `index` up for the loaded sample; null (message shown) when it cannot be.
    std::unique_ptr<PluginChain> open(int index);

    // The profile list: "No profile selected", the plug-in's own presets, the stored ones.
    std::vector<PluginPreset> presetList(int index);
    // Stores the chain's settings as `name` and returns the new list's entry for it (-1: failed).
    int storePreset(PluginChain& chain, const std::string& name);
    // Deletes a stored preset (entry > 0 of presetList); false for an internal one or on failure.
    bool deletePreset(int index, int entry);
    // Delete is enabled for stored presets only.
    bool deletable(int index, int entry);
    // What "Name Profile:" is prefilled with: the selected entry's name, nothing for entry 0.
    std::string storePrefill(int index, int entry);

    // Runs the chain over the loop or the whole sample with undo; an empty range is refused. When the plug-in's output
    // channel count differs from expectedChannels(), asks whether to process the entire sample
    // (the chain is then set up again for it, keeping its control values). False when nothing
    // started (refused, or the question answered Cancel: done is then called with cancelled).
    bool process(std::unique_ptr<PluginChain> chain, PluginScope scope,
                 std::function<void(const PluginResult&)> done = {});

private:
    void complete(const std::shared_ptr<PluginOutcome>& outcome, const PluginJob& job, uint16_t oldChannels,
                  const std::function<void(const PluginResult&)>& done);

    editing::Editor& editor_;
    PluginBridge& bridge_;
    std::unique_ptr<PluginChain> running_;
    std::string runName_; // the running plug-in's name, for the undo record
};

} // namespace cleavix::plugins
