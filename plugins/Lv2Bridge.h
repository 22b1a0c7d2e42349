#pragma once
// The plug-in bridge over LV2 through lilv. The world is loaded once (LV2_PATH, or lilv's default
// folders); only effects the bridge can host are listed: at least one audio input and output, no
// instrument, every port of a kind we connect (audio, control, CV, atom), and no required feature
// beyond URID map/unmap, options and bounded block length.
//
// Threads: construct and query on the main thread; an opened instance then belongs to whichever
// one thread runs it. lilv's world is not thread-safe: preset listing, loading and storing happen
// on the main thread while no worker runs the instance.
#include "plugins/PluginBridge.h"

#include <memory>

namespace cleavix::plugins {

class Lv2World;

class Lv2Bridge final : public PluginBridge {
public:
    // presetFolder: where stored presets go (made on first store).
    explicit Lv2Bridge(std::string presetFolder = defaultPresetFolder());
    ~Lv2Bridge() override;

    bool available() const override { return true; }
    std::string kind() const override { return "LV2"; }
    const std::vector<PluginInfo>& plugins() const override;
    std::unique_ptr<PluginInstance> open(int index, double sampleRate, std::string& error) override;
    std::vector<PluginPreset> presets(int index) override;
    std::string presetFolder() const override;
    bool deletePreset(const PluginPreset& preset) override;

private:
    std::shared_ptr<Lv2World> world_;
};

} // namespace cleavix::plugins
