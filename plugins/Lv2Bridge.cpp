// The lilv world, the listing rules, and the instances. Threads: see Lv2Bridge.h.
#include "plugins/Lv2Bridge.h"

#include "plugins/Lv2World.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/state/state.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace cleavix::plugins {

namespace fs = std::filesystem;

namespace {

// The capacity of an atom output port's buffer, and the size of every atom port's buffer.
constexpr uint32_t kAtomCapacity = 8192;

} // namespace


namespace {

class Lv2Instance final : public PluginInstance {
public:
    Lv2Instance(std::shared_ptr<Lv2World> world, int index, double rate);
    ~Lv2Instance() override;

    const PluginInfo& info() const override { return info_; }
    uint32_t maxBlock() const override { return kMaxBlock; }
    bool setControl(const std::string& symbol, float value) override;
    float control(const std::string& symbol) const override;
    void run(const float* const* in, float* const* out, uint32_t frames) override;
    uint32_t latency() const override;
    bool applyPreset(const PluginPreset& preset) override;
    std::string storePreset(const std::string& name) override;

    static constexpr uint32_t kMaxBlock = 4096;

private:
    static const void* portValue(const char* symbol, void* self, uint32_t* size, uint32_t* type);
    static void setPortValue(const char* symbol, void* self, const void* value, uint32_t size, uint32_t type);
    void resetAtoms();

    std::shared_ptr<Lv2World> world_;
    const LilvPlugin* plugin_;
    PluginInfo info_;
    LilvInstance* instance_ = nullptr;
    std::vector<float> values_;   // per port: control values (and dummies for control outputs)
    std::vector<uint32_t> audioIn_;
    std::vector<uint32_t> audioOut_;
    std::vector<std::vector<float>> cv_;
    struct AtomPort {
        uint32_t port;
        bool input;
        std::vector<uint64_t> buffer; // 8-byte aligned
    };
    std::vector<AtomPort> atoms_;
    uint32_t latencyPort_ = UINT32_MAX;
    int32_t maxBlockOption_ = int32_t(kMaxBlock);
    int32_t minBlockOption_ = 0;
    float rateOption_ = 0;
    std::vector<LV2_Options_Option> options_;
    LV2_Feature optionsFeature_{LV2_OPTIONS__options, nullptr};
    LV2_Feature boundedFeature_{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    std::vector<const LV2_Feature*> features_;
};

Lv2Instance::Lv2Instance(std::shared_ptr<Lv2World> world, int index, double rate)
    : world_(std::move(world)), plugin_(world_->plugin(index)), info_(world_->info(index)) {
    rateOption_ = float(rate);
    UridMap& u = world_->urids();
    const uint32_t atomInt = u.id(LV2_ATOM__Int);
    const uint32_t atomFloat = u.id(LV2_ATOM__Float);
    options_ = {
        {LV2_OPTIONS_INSTANCE, 0, u.id(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), atomInt, &maxBlockOption_},
        {LV2_OPTIONS_INSTANCE, 0, u.id(LV2_BUF_SIZE__minBlockLength), sizeof(int32_t), atomInt, &minBlockOption_},
        {LV2_OPTIONS_INSTANCE, 0, u.id(LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t), atomInt,
         &maxBlockOption_},
        {LV2_OPTIONS_INSTANCE, 0, u.id(LV2_PARAMETERS__sampleRate), sizeof(float), atomFloat, &rateOption_},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    optionsFeature_.data = options_.data();
    features_ = {u.mapFeature(), u.unmapFeature(), &optionsFeature_, &boundedFeature_, nullptr};

    instance_ = lilv_plugin_instantiate(plugin_, rate, features_.data());
    if (instance_ == nullptr) {
        throw std::runtime_error("the plug-in could not be instantiated");
    }
    const uint32_t ports = lilv_plugin_get_num_ports(plugin_);
    values_.assign(ports, 0.0f);
    if (info_.hasLatency) {
        latencyPort_ = lilv_plugin_get_latency_port_index(plugin_);
    }
    const Lv2Nodes& n = world_->nodes();
    // Ranges given in fractions of the sample rate become values at this rate.
    for (auto& c : info_.controls) {
        if (c.perSampleRate) {
            c.minimum *= rateOption_;
            c.maximum *= rateOption_;
            c.defaultValue *= rateOption_;
            settleRange(c); // a bound times the rate may have overflowed
        }
    }
    for (uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, p);
        const bool in = lilv_port_is_a(plugin_, port, n.input);
        if (lilv_port_is_a(plugin_, port, n.audio)) {
            (in ? audioIn_ : audioOut_).push_back(p);
        } else if (lilv_port_is_a(plugin_, port, n.control)) {
            lilv_instance_connect_port(instance_, p, &values_[p]);
        } else if (lilv_port_is_a(plugin_, port, n.cv)) {
            // CV inputs stay at zero; CV outputs are written and ignored.
            cv_.emplace_back(kMaxBlock, 0.0f);
            lilv_instance_connect_port(instance_, p, cv_.back().data());
        } else if (lilv_port_is_a(plugin_, port, n.atom)) {
            atoms_.push_back({p, in, std::vector<uint64_t>(kAtomCapacity / 8, 0)});
        } else {
            lilv_instance_connect_port(instance_, p, nullptr); // optional port of a kind we do not offer
        }
    }
    for (auto& a : atoms_) {
        lilv_instance_connect_port(instance_, a.port, a.buffer.data());
    }
    resetAtoms();
    for (const auto& c : info_.controls) {
        values_[c.port] = c.defaultValue;
    }
    lilv_instance_activate(instance_);
}

Lv2Instance::~Lv2Instance() {
    if (instance_ != nullptr) {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
    }
}

void Lv2Instance::resetAtoms() {
    UridMap& u = world_->urids();
    for (auto& a : atoms_) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(a.buffer.data());
        if (a.input) {
            // An empty sequence: no events in this block.
            seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
            seq->atom.type = u.id(LV2_ATOM__Sequence);
            seq->body.unit = 0;
            seq->body.pad = 0;
        } else {
            // Output: the space the plug-in may fill.
            seq->atom.size = kAtomCapacity - sizeof(LV2_Atom);
            seq->atom.type = u.id(LV2_ATOM__Chunk);
        }
    }
}

bool Lv2Instance::setControl(const std::string& symbol, float value) {
    for (const auto& c : info_.controls) {
        if (c.symbol == symbol) {
            values_[c.port] = std::isfinite(value) ? std::clamp(value, c.minimum, c.maximum) : c.defaultValue;
            return true;
        }
    }
    return false;
}

float Lv2Instance::control(const std::string& symbol) const {
    for (const auto& c : info_.controls) {
        if (c.symbol == symbol) {
            return values_[c.port];
        }
    }
    return 0.0f;
}

void Lv2Instance::run(const float* const* in, float* const* out, uint32_t frames) {
    frames = std::min(frames, kMaxBlock);
    for (size_t k = 0; k < audioIn_.size(); ++k) {
        lilv_instance_connect_port(instance_, audioIn_[k], const_cast<float*>(in[k]));
    }
    for (size_t k = 0; k < audioOut_.size(); ++k) {
        lilv_instance_connect_port(instance_, audioOut_[k], out[k]);
    }
    resetAtoms();
    lilv_instance_run(instance_, frames);
}

uint32_t Lv2Instance::latency() const {
    if (latencyPort_ == UINT32_MAX) {
        return 0;
    }
    const float v = values_[latencyPort_];
    // A report that is no frame count at all counts as none.
    return std::isfinite(v) && v > 0 && v < 1.0e8f ? uint32_t(std::lround(v)) : 0;
}

const void* Lv2Instance::portValue(const char* symbol, void* self, uint32_t* size, uint32_t* type) {
    auto* me = static_cast<Lv2Instance*>(self);
    for (const auto& c : me->info_.controls) {
        if (c.symbol == symbol) {
            *size = sizeof(float);
            *type = me->world_->urids().id(LV2_ATOM__Float);
            return &me->values_[c.port];
        }
    }
    *size = 0;
    *type = 0;
    return nullptr;
}

void Lv2Instance::setPortValue(const char* symbol, void* self, const void* value, uint32_t size, uint32_t type) {
    auto* me = static_cast<Lv2Instance*>(self);
    UridMap& u = me->world_->urids();
    float v = 0;
    if (type == u.id(LV2_ATOM__Float) && size == sizeof(float)) {
        std::memcpy(&v, value, sizeof v);
    } else if (type == u.id(LV2_ATOM__Double) && size == sizeof(double)) {
        double d = 0;
        std::memcpy(&d, value, sizeof d);
        v = float(d);
    } else if (type == u.id(LV2_ATOM__Int) && size == sizeof(int32_t)) {
        int32_t i = 0;
        std::memcpy(&i, value, sizeof i);
        v = float(i);
    } else {
        return;
    }
    me->setControl(symbol, v);
}

bool Lv2Instance::applyPreset(const PluginPreset& preset) {
    LilvWorld* w = world_->world();
    LilvState* state = nullptr;
    if (preset.stored) {
        const std::string file = (fs::path(preset.id) / "preset.ttl").string();
        state = lilv_state_new_from_file(w, world_->urids().map(), nullptr, file.c_str());
    } else {
        LilvNode* uri = lilv_new_uri(w, preset.id.c_str());
        lilv_world_load_resource(w, uri);
        state = lilv_state_new_from_world(w, world_->urids().map(), uri);
        lilv_node_free(uri);
    }
    if (state == nullptr) {
        return false;
    }
    lilv_state_restore(state, instance_, &Lv2Instance::setPortValue, this, 0, features_.data());
    lilv_state_free(state);
    return true;
}

std::string Lv2Instance::storePreset(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    const fs::path folder = world_->storedFolder(info_.index);
    const fs::path bundle = folder / (safeName(name) + ".preset.lv2");
    std::error_code ec;
    fs::create_directories(folder, ec);
    // A preset stored again under its name replaces the old one.
    fs::remove_all(bundle, ec);
    LilvState* state =
        lilv_state_new_from_instance(plugin_, instance_, world_->urids().map(), nullptr, nullptr, nullptr,
                                     bundle.c_str(), &Lv2Instance::portValue, this,
                                     LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features_.data());
    if (state == nullptr) {
        return {};
    }
    lilv_state_set_label(state, name.c_str());
    const int rc = lilv_state_save(world_->world(), world_->urids().map(), world_->urids().unmap(), state, nullptr,
                                   bundle.c_str(), "preset.ttl");
    lilv_state_free(state);
    return rc == 0 ? bundle.string() : std::string();
}

} // namespace

// --- the bridge ---

Lv2Bridge::Lv2Bridge(std::string presetFolder) : world_(std::make_shared<Lv2World>(std::move(presetFolder))) {}

Lv2Bridge::~Lv2Bridge() = default;

const std::vector<PluginInfo>& Lv2Bridge::plugins() const { return world_->infos(); }

std::unique_ptr<PluginInstance> Lv2Bridge::open(int index, double sampleRate, std::string& error) {
    if (index < 0 || size_t(index) >= world_->infos().size()) {
        error = "no such plug-in";
        return nullptr;
    }
    if (!(sampleRate > 0)) {
        error = "no sample rate";
        return nullptr;
    }
    try {
        return std::make_unique<Lv2Instance>(world_, index, sampleRate);
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

std::vector<PluginPreset> Lv2Bridge::presets(int index) { return world_->presets(index); }

std::string Lv2Bridge::presetFolder() const { return world_->presetFolder(); }

bool Lv2Bridge::deletePreset(const PluginPreset& preset) {
    if (!preset.stored || !insideFolder(preset.id, world_->presetFolder())) {
        return false;
    }
    std::error_code ec;
    if (!fs::is_directory(preset.id, ec) || !fs::exists(fs::path(preset.id) / "preset.ttl", ec)) {
        return false;
    }
    return fs::remove_all(preset.id, ec) > 0 && !ec;
}

} // namespace cleavix::plugins
