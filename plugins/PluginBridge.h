#pragma once
// The plug-in bridge: what the program needs from an effect plug-in host. A bridge enumerates the
// installed effects, sets one up at the sample's rate, describes its controls (grouped into the
// control pages the window builds), lists its own presets and our stored ones, and runs blocks of
// audio through it.
//
// How the host library's exports map onto it: enumeration (count, names) is plugins(); the preset
// folder is presetFolder(); setting up a filter at (bits, rate, channels) for a plug-in index is
// open(); pages and tabs are the port groups of PluginInfo; the class id is the plug-in's URI;
// storing, loading and listing presets are the PluginInstance and bridge preset calls; the output
// channel count, buffer size and delivery are the PluginChain's (PluginChain.h), which runs one or
// two instances; releasing the filter is destroying them.
//
// Threads: a bridge is created and queried on the main thread. A PluginInstance is used by one
// thread at a time: the main thread sets it up and hands it to the worker (or preview feeder),
// which alone runs it until it ends.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::plugins {

struct PluginControl {
    uint32_t port = 0; // the plug-in's port index
    std::string symbol;
    std::string name;
    float minimum = 0;
    float maximum = 1;
    float defaultValue = 0;
    bool toggle = false;  // a check box
    bool integer = false; // whole steps
    bool perSampleRate = false; // the range is in fractions of the sample rate (an instance's is scaled)
    // Labelled values: a combo box.
    std::vector<std::pair<float, std::string>> enumeration;
    // The control page (port group's label) it belongs to; empty: the "Controls" page.
    std::string group;
};

struct PluginInfo {
    int index = 0; // position in the listing, from 0
    std::string uri;
    std::string name;
    int audioIn = 0;
    int audioOut = 0;
    std::vector<PluginControl> controls;
    bool hasLatency = false;
    // The control pages in order: the groups' labels, or one "Controls" page.
    std::vector<std::string> pages() const;
};

struct PluginPreset {
    std::string name;
    // The plug-in's own presets: the preset's URI. Stored ones: the state file's path.
    std::string id;
    bool stored = false;
};

// One running copy of a plug-in. Audio ports are given by their order among the audio ports.
class PluginInstance {
public:
    virtual ~PluginInstance() = default;
    virtual const PluginInfo& info() const = 0;
    // Largest block run() takes.
    virtual uint32_t maxBlock() const = 0;
    // Control inputs by symbol; false for an unknown symbol. Values are held to the port's range.
    virtual bool setControl(const std::string& symbol, float value) = 0;
    virtual float control(const std::string& symbol) const = 0;
    // Runs frames (at most maxBlock()) from in[audioIn] to out[audioOut].
    virtual void run(const float* const* in, float* const* out, uint32_t frames) = 0;
    // The latency the plug-in reports, in frames (valid after the first run()).
    virtual uint32_t latency() const = 0;
    // Applies one of the plug-in's own presets or a stored one; false when it cannot be read.
    virtual bool applyPreset(const PluginPreset& preset) = 0;
    // Saves the current settings as a stored preset named `name`; returns its file's path, or
    // empty on failure.
    virtual std::string storePreset(const std::string& name) = 0;
};

class PluginBridge {
public:
    virtual ~PluginBridge() = default;
    // False for the null bridge: no menus, no message.
    virtual bool available() const = 0;
    // The host library's name as users see it ("LV2").
    virtual std::string kind() const = 0;
    virtual const std::vector<PluginInfo>& plugins() const = 0;
    // Sets up a plug-in at the sample rate; null with `error` set when it cannot be.
    virtual std::unique_ptr<PluginInstance> open(int index, double sampleRate, std::string& error) = 0;
    // Internal presets first, then stored ones, each group sorted by name.
    virtual std::vector<PluginPreset> presets(int index) = 0;
    // Where stored presets live.
    virtual std::string presetFolder() const = 0;
    // Deletes a stored preset's files when they lie inside presetFolder(); false otherwise.
    virtual bool deletePreset(const PluginPreset& preset) = 0;

    // The index of a plug-in given by URI or by its index as text; -1 when none.
    int find(const std::string& uriOrIndex) const;
};

// The null bridge: always built, lists nothing, opens nothing.
class NullBridge final : public PluginBridge {
public:
    bool available() const override { return false; }
    std::string kind() const override { return "LV2"; }
    const std::vector<PluginInfo>& plugins() const override { return none_; }
    std::unique_ptr<PluginInstance> open(int index, double sampleRate, std::string& error) override;
    std::vector<PluginPreset> presets(int) override { return {}; }
    std::string presetFolder() const override { return {}; }
    bool deletePreset(const PluginPreset&) override { return false; }

private:
    std::vector<PluginInfo> none_;
};

// The bridge the build offers: over lilv when built with it, else the null bridge.
std::unique_ptr<PluginBridge> makeBridge();

// $XDG_DATA_HOME/Cleavix/Presets (or ~/.local/share/Cleavix/Presets); not created here.
std::string defaultPresetFolder();
// Whether path names something inside folder once both are made absolute and normal (".." and
// symbolic links resolved as far as they exist).
bool insideFolder(const std::string& path, const std::string& folder);

} // namespace cleavix::plugins
