// The lilv world: the URID map, the listing rules, and the presets. Threads: see Lv2Bridge.h.
#include "plugins/Lv2World.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <tuple>

namespace cleavix::plugins {

namespace fs = std::filesystem;

std::string asString(const LilvNode* node) {
    if (node == nullptr) {
        return {};
    }
    const char* s = lilv_node_as_string(node);
    return s != nullptr ? s : "";
}

std::string safeName(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.';
        out += keep ? c : '_';
    }
    if (out.empty() || out[0] == '.') {
        out.insert(out.begin(), '_');
    }
    return out;
}

void settleRange(PluginControl& c) {
    // Bounds past this are a float's overflow in the Turtle (1e39 reads as infinity); within it
    // the span of the range is a float too.
    static constexpr float kLargest = 1.0e30f;
    auto bound = [](float v, float fallback) { return std::isnan(v) ? fallback : std::clamp(v, -kLargest, kLargest); };
    c.minimum = bound(c.minimum, 0.0f);
    c.maximum = bound(c.maximum, c.minimum);
    if (c.maximum < c.minimum) {
        std::swap(c.minimum, c.maximum);
    }
    c.defaultValue = std::clamp(bound(c.defaultValue, c.minimum), c.minimum, c.maximum);
    for (auto& point : c.enumeration) {
        point.first = bound(point.first, c.minimum);
    }
    std::sort(c.enumeration.begin(), c.enumeration.end());
}

namespace {

// A node we own, freed on scope exit.
struct OwnedNode {
    LilvNode* node = nullptr;
    explicit OwnedNode(LilvNode* n) : node(n) {}
    ~OwnedNode() { lilv_node_free(node); }
    OwnedNode(const OwnedNode&) = delete;
    OwnedNode& operator=(const OwnedNode&) = delete;
};

} // namespace

UridMap::UridMap() {
    map_.handle = this;
    map_.map = [](LV2_URID_Map_Handle h, const char* uri) -> LV2_URID { return static_cast<UridMap*>(h)->id(uri); };
    unmap_.handle = this;
    unmap_.unmap = [](LV2_URID_Unmap_Handle h, LV2_URID id) { return static_cast<UridMap*>(h)->uri(id); };
    mapFeature_ = {LV2_URID__map, &map_};
    unmapFeature_ = {LV2_URID__unmap, &unmap_};
}

uint32_t UridMap::id(const char* uri) {
    if (uri == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto [it, added] = ids_.try_emplace(uri, uint32_t(uris_.size() + 1));
    if (added) {
        uris_.push_back(std::make_unique<std::string>(uri));
    }
    return it->second;
}

const char* UridMap::uri(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return id >= 1 && id <= uris_.size() ? uris_[id - 1]->c_str() : nullptr;
}


Lv2World::Lv2World(std::string presetFolder) : presetFolder_(std::move(presetFolder)) {
    world_ = lilv_world_new();
    lilv_world_load_all(world_);
    auto uri = [this](const char* u) { return lilv_new_uri(world_, u); };
    n_.audio = uri(LV2_CORE__AudioPort);
    n_.control = uri(LV2_CORE__ControlPort);
    n_.cv = uri(LV2_CORE__CVPort);
    n_.atom = uri(LV2_ATOM__AtomPort);
    n_.input = uri(LV2_CORE__InputPort);
    n_.output = uri(LV2_CORE__OutputPort);
    n_.optional = uri(LV2_CORE__connectionOptional);
    n_.toggled = uri(LV2_CORE__toggled);
    n_.integer = uri(LV2_CORE__integer);
    n_.enumeration = uri(LV2_CORE__enumeration);
    n_.instrument = uri(LV2_CORE__InstrumentPlugin);
    n_.group = uri("http://lv2plug.in/ns/ext/port-groups#group");
    n_.label = uri("http://www.w3.org/2000/01/rdf-schema#label");
    n_.name = uri(LV2_CORE__name);
    n_.preset = uri("http://lv2plug.in/ns/ext/presets#Preset");
    n_.sampleRate = uri(LV2_CORE__sampleRate);
    n_.type = uri("http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
    for (const char* f : {LV2_URID__map, LV2_URID__unmap, LV2_OPTIONS__options, LV2_BUF_SIZE__boundedBlockLength}) {
        offered_.push_back(f);
    }
    list();
}

Lv2World::~Lv2World() {
    for (LilvNode* n : {n_.audio, n_.control, n_.cv, n_.atom, n_.input, n_.output, n_.optional, n_.toggled,
                        n_.integer, n_.enumeration, n_.instrument, n_.group, n_.label, n_.name, n_.preset,
                        n_.sampleRate, n_.type}) {
        lilv_node_free(n);
    }
    lilv_world_free(world_);
}

bool Lv2World::hostable(const LilvPlugin* plugin) const {
    if (!lilv_plugin_verify(plugin)) {
        return false;
    }
    // Instruments are left out, by their class or by a type of their own (read directly, so it
    // holds without the LV2 core bundle's class tree too).
    const LilvPluginClass* cls = lilv_plugin_get_class(plugin);
    if (cls != nullptr && lilv_node_equals(lilv_plugin_class_get_uri(cls), n_.instrument)) {
        return false;
    }
    LilvNodes* types = lilv_plugin_get_value(plugin, n_.type);
    const bool instrument = types != nullptr && lilv_nodes_contains(types, n_.instrument);
    lilv_nodes_free(types);
    if (instrument) {
        return false;
    }
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    bool ok = true;
    LILV_FOREACH (nodes, i, required) {
        const std::string f = asString(lilv_nodes_get(required, i));
        if (std::find(offered_.begin(), offered_.end(), f) == offered_.end()) {
            ok = false;
        }
    }
    lilv_nodes_free(required);
    if (!ok) {
        return false;
    }
    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    for (uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const bool in = lilv_port_is_a(plugin, port, n_.input);
        const bool out = lilv_port_is_a(plugin, port, n_.output);
        const bool known = lilv_port_is_a(plugin, port, n_.audio) || lilv_port_is_a(plugin, port, n_.control) ||
                           lilv_port_is_a(plugin, port, n_.cv) || lilv_port_is_a(plugin, port, n_.atom);
        if ((!known || in == out) && !lilv_port_has_property(plugin, port, n_.optional)) {
            return false;
        }
    }
    return true;
}

PluginInfo Lv2World::describe(const LilvPlugin* plugin) const {
    PluginInfo info;
    info.uri = asString(lilv_plugin_get_uri(plugin));
    {
        OwnedNode name(lilv_plugin_get_name(plugin));
        info.name = name.node != nullptr ? asString(name.node) : info.uri;
    }
    info.hasLatency = lilv_plugin_has_latency(plugin);
    const uint32_t latencyPort = info.hasLatency ? lilv_plugin_get_latency_port_index(plugin) : UINT32_MAX;
    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    for (uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const bool in = lilv_port_is_a(plugin, port, n_.input);
        if (lilv_port_is_a(plugin, port, n_.audio)) {
            (in ? info.audioIn : info.audioOut) += 1;
            continue;
        }
        if (!lilv_port_is_a(plugin, port, n_.control) || !in || p == latencyPort) {
            continue;
        }
        PluginControl c;
        c.port = p;
        c.symbol = asString(lilv_port_get_symbol(plugin, port));
        {
            OwnedNode name(lilv_port_get_name(plugin, port));
            c.name = name.node != nullptr ? asString(name.node) : c.symbol;
        }
        LilvNode* def = nullptr;
        LilvNode* min = nullptr;
        LilvNode* max = nullptr;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        c.perSampleRate = lilv_port_has_property(plugin, port, n_.sampleRate);
        c.minimum = min != nullptr ? lilv_node_as_float(min) : 0.0f;
        c.maximum = max != nullptr ? lilv_node_as_float(max) : 1.0f;
        c.defaultValue = def != nullptr ? lilv_node_as_float(def) : c.minimum;
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        c.toggle = lilv_port_has_property(plugin, port, n_.toggled);
        c.integer = lilv_port_has_property(plugin, port, n_.integer);
        if (lilv_port_has_property(plugin, port, n_.enumeration)) {
            LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
            LILV_FOREACH (scale_points, i, points) {
                const LilvScalePoint* sp = lilv_scale_points_get(points, i);
                c.enumeration.emplace_back(lilv_node_as_float(lilv_scale_point_get_value(sp)),
                                           asString(lilv_scale_point_get_label(sp)));
            }
            lilv_scale_points_free(points);
        }
        settleRange(c);
        LilvNodes* groups = lilv_port_get_value(plugin, port, n_.group);
        if (groups != nullptr && lilv_nodes_size(groups) > 0) {
            const LilvNode* g = lilv_nodes_get_first(groups);
            LilvNode* label = lilv_world_get(world_, g, n_.label, nullptr);
            if (label == nullptr) {
                label = lilv_world_get(world_, g, n_.name, nullptr);
            }
            c.group = label != nullptr ? asString(label) : asString(g);
            lilv_node_free(label);
        }
        lilv_nodes_free(groups);
        info.controls.push_back(std::move(c));
    }
    return info;
}

void Lv2World::list() {
    const LilvPlugins* all = lilv_world_get_all_plugins(world_);
    std::vector<std::pair<PluginInfo, const LilvPlugin*>> found;
    LILV_FOREACH (plugins, i, all) {
        const LilvPlugin* plugin = lilv_plugins_get(all, i);
        if (!hostable(plugin)) {
            continue;
        }
        PluginInfo info = describe(plugin);
        if (info.audioIn < 1 || info.audioOut < 1) {
            continue;
        }
        found.emplace_back(std::move(info), plugin);
    }
    // By name regardless of case (then URI), so the menus read alphabetically and the indices are stable.
    auto folded = [](const std::string& s) {
        std::string out(s);
        std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return out;
    };
    std::sort(found.begin(), found.end(), [&](const auto& a, const auto& b) {
        return std::make_tuple(folded(a.first.name), a.first.name, a.first.uri) <
               std::make_tuple(folded(b.first.name), b.first.name, b.first.uri);
    });
    for (auto& [info, plugin] : found) {
        info.index = int(infos_.size());
        infos_.push_back(std::move(info));
        plugins_.push_back(plugin);
    }
}

std::string Lv2World::storedFolder(int index) const {
    return (fs::path(presetFolder_) / safeName(infos_.at(size_t(index)).uri)).string();
}

std::vector<PluginPreset> Lv2World::presets(int index) {
    std::vector<PluginPreset> own;
    std::vector<PluginPreset> stored;
    if (index < 0 || size_t(index) >= plugins_.size()) {
        return own;
    }
    const LilvPlugin* plugin = plugins_[size_t(index)];
    LilvNodes* related = lilv_plugin_get_related(plugin, n_.preset);
    LILV_FOREACH (nodes, i, related) {
        const LilvNode* preset = lilv_nodes_get(related, i);
        lilv_world_load_resource(world_, preset);
        LilvNode* label = lilv_world_get(world_, preset, n_.label, nullptr);
        PluginPreset p;
        p.id = asString(preset);
        p.name = label != nullptr ? asString(label) : p.id.substr(p.id.find_last_of("/#") + 1);
        lilv_node_free(label);
        own.push_back(std::move(p));
    }
    lilv_nodes_free(related);
    std::error_code ec;
    const fs::path folder = storedFolder(index);
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const fs::path file = entry.path() / "preset.ttl";
        // Only a regular file is read: a FIFO there would block the listing for good.
        if (!entry.is_directory(ec) || !fs::is_regular_file(file, ec)) {
            continue;
        }
        LilvState* state = lilv_state_new_from_file(world_, urids_.map(), nullptr, file.c_str());
        if (state == nullptr) {
            continue;
        }
        const LilvNode* pluginUri = lilv_state_get_plugin_uri(state);
        if (pluginUri != nullptr && asString(pluginUri) == infos_[size_t(index)].uri) {
            const char* label = lilv_state_get_label(state);
            stored.push_back({label != nullptr ? label : entry.path().stem().string(), entry.path().string(), true});
        }
        lilv_state_free(state);
    }
    auto byName = [](const PluginPreset& a, const PluginPreset& b) { return a.name < b.name; };
    std::sort(own.begin(), own.end(), byName);
    std::sort(stored.begin(), stored.end(), byName);
    own.insert(own.end(), stored.begin(), stored.end());
    return own;
}

} // namespace cleavix::plugins
