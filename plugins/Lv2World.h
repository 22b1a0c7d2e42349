#pragma once
// The lilv world behind the LV2 bridge: the URID map it offers plug-ins, the nodes it asks about,
// the plug-ins it lists, and where their presets are. Shared by the bridge and its instances
// (an instance keeps the world alive). Threads: see Lv2Bridge.h; the URID map alone may be used
// from any thread (plug-ins map URIs from their run threads).
#include "plugins/PluginBridge.h"

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace cleavix::plugins {

// A node's text ("" for none), and a name made safe as one folder name.
std::string asString(const LilvNode* node);
std::string safeName(const std::string& text);
// A control's range as a slider and a clamp can use it: no NaN, bounds within +-1e30 and in order,
// the default between them, the labelled values sorted.
void settleRange(PluginControl& c);

class UridMap {
public:
    UridMap();
    UridMap(const UridMap&) = delete;
    UridMap& operator=(const UridMap&) = delete;
    uint32_t id(const char* uri);
    const char* uri(uint32_t id);
    LV2_URID_Map* map() { return &map_; }
    LV2_URID_Unmap* unmap() { return &unmap_; }
    const LV2_Feature* mapFeature() const { return &mapFeature_; }
    const LV2_Feature* unmapFeature() const { return &unmapFeature_; }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, uint32_t> ids_;
    std::vector<std::unique_ptr<std::string>> uris_; // index id - 1; stable c_str()
    LV2_URID_Map map_;
    LV2_URID_Unmap unmap_;
    LV2_Feature mapFeature_;
    LV2_Feature unmapFeature_;
};

struct Lv2Nodes {
    LilvNode* audio = nullptr;
    LilvNode* control = nullptr;
    LilvNode* cv = nullptr;
    LilvNode* atom = nullptr;
    LilvNode* input = nullptr;
    LilvNode* output = nullptr;
    LilvNode* optional = nullptr;
    LilvNode* toggled = nullptr;
    LilvNode* integer = nullptr;
    LilvNode* enumeration = nullptr;
    LilvNode* instrument = nullptr;
    LilvNode* group = nullptr;
    LilvNode* label = nullptr;
    LilvNode* name = nullptr;
    LilvNode* preset = nullptr;
    LilvNode* sampleRate = nullptr;
    LilvNode* type = nullptr;
};

class Lv2World {
public:
    explicit Lv2World(std::string presetFolder);
    ~Lv2World();
    Lv2World(const Lv2World&) = delete;
    Lv2World& operator=(const Lv2World&) = delete;

    LilvWorld* world() { return world_; }
    UridMap& urids() { return urids_; }
    const Lv2Nodes& nodes() const { return n_; }
    const std::vector<PluginInfo>& infos() const { return infos_; }
    const PluginInfo& info(int index) const { return infos_.at(size_t(index)); }
    const LilvPlugin* plugin(int index) const { return plugins_.at(size_t(index)); }
    const std::string& presetFolder() const { return presetFolder_; }
    // The folder of one plug-in's stored presets.
    std::string storedFolder(int index) const;
    std::vector<PluginPreset> presets(int index);

private:
    bool hostable(const LilvPlugin* plugin) const;
    PluginInfo describe(const LilvPlugin* plugin) const;
    void list();

    LilvWorld* world_ = nullptr;
    UridMap urids_;
    Lv2Nodes n_;
    std::vector<std::string> offered_;
    std::vector<PluginInfo> infos_;
    std::vector<const LilvPlugin*> plugins_;
    std::string presetFolder_;
};

} // namespace cleavix::plugins
