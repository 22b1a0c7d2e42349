#include "plugins/PluginHost.h"

#include "editing/PointShift.h"

#include <algorithm>

namespace cleavix::plugins {

std::vector<PluginMenu> pluginMenus(const PluginBridge& bridge) {
    std::vector<PluginMenu> menus;
    const auto& list = bridge.plugins();
    const std::string kind = bridge.kind();
    const size_t count = std::max<size_t>(1, (list.size() + 29) / 30);
    for (size_t m = 0; m < count; ++m) {
        std::string title = m == 0 ? kind : kind + " - " + char('B' + (m - 1) % 25);
        // "&" before the second character, one further right in each next menu.
        const size_t at = std::min(title.size(), m + 1);
        title = title.substr(0, at) + '&' + title.substr(at);
        PluginMenu menu{title, {}};
        for (size_t i = m * 30; i < std::min(list.size(), m * 30 + 30); ++i) {
            menu.items.push_back(list[i].index);
        }
        menus.push_back(std::move(menu));
    }
    return menus;
}

int PluginHost::expectedChannels() const {
    const auto& f = editor_.store().format();
    return f.channels == 1 || editor_.processChannel() == 3 ? int(f.channels) : 1;
}

std::unique_ptr<PluginChain> PluginHost::open(int index) {
    std::string error;
    auto chain = PluginChain::open(bridge_, index, double(editor_.store().format().sampleRate), expectedChannels(),
                                   error);
    if (!chain) {
        editor_.jobs().prompter().ask(jobs::MessageKind::Error, kMsgPluginSetup, "", jobs::Buttons::Ok);
    }
    return chain;
}

std::vector<PluginPreset> PluginHost::presetList(int index) {
    std::vector<PluginPreset> list{{kNoPresetSelected, "", false}};
    for (auto& p : bridge_.presets(index)) {
        list.push_back(std::move(p));
    }
    return list;
}

int PluginHost::storePreset(PluginChain& chain, const std::string& name) {
    if (name.empty()) {
        return -1;
    }
    const std::string id = chain.storePreset(name);
    if (id.empty()) {
        return -1;
    }
    const auto list = presetList(chain.info().index);
    for (size_t i = 1; i < list.size(); ++i) {
        if (list[i].stored && list[i].id == id) {
            return int(i);
        }
    }
    return -1;
}

bool PluginHost::deletePreset(int index, int entry) {
    if (!deletable(index, entry)) {
        return false;
    }
    return bridge_.deletePreset(presetList(index)[size_t(entry)]);
}

bool PluginHost::deletable(int index, int entry) {
    const auto list = presetList(index);
    return entry > 0 && size_t(entry) < list.size() && list[size_t(entry)].stored;
}

std::string PluginHost::storePrefill(int index, int entry) {
    const auto list = presetList(index);
    return entry > 0 && size_t(entry) < list.size() ? list[size_t(entry)].name : std::string();
}

bool PluginHost::process(std::unique_ptr<PluginChain> chain, PluginScope scope,
                         std::function<void(const PluginResult&)> done) {
    if (!chain || !editor_.loaded() || editor_.jobs().busy()) {
        return false;
    }
    const auto& f = editor_.store().format();
    PluginJob job;
    job.channel = f.channels == 2 ? editor_.processChannel() : 3;
    if (scope == PluginScope::Loop) {
        auto& slicer = editor_.slicer();
        const uint32_t left = std::min(slicer.left(), slicer.right());
        const uint32_t right = std::max(slicer.left(), slicer.right());
        job.start = f.frameStart(std::min(left, f.dataLength));
        job.end = job.start + f.frameStart(std::min(right, f.dataLength) - job.start);
    } else {
        job.start = 0;
        job.end = f.frameStart(f.dataLength);
    }
    if (job.end <= job.start) {
        return false; // no frame to process
    }
    if (chain->outChannels() != expectedChannels()) {
        if (editor_.jobs().prompter().ask(jobs::MessageKind::Warning, kMsgWholeSample, "",
                                          jobs::Buttons::OkCancel) != jobs::Answer::Ok) {
            if (done) {
                PluginResult r;
                r.cancelled = true;
                r.dataLength = f.dataLength;
                done(r);
            }
            return false;
        }
        job.wholeSample = true;
        job.start = 0;
        job.end = f.frameStart(f.dataLength);
        job.channel = 3;
        if (chain->inChannels() != int(f.channels)) {
            // One channel of stereo was asked for: the whole sample goes in as it is.
            std::string error;
            auto whole = PluginChain::open(bridge_, chain->info().index, double(f.sampleRate), int(f.channels), error);
            if (!whole) {
                editor_.jobs().prompter().ask(jobs::MessageKind::Error, kMsgPluginSetup, "", jobs::Buttons::Ok);
                return false;
            }
            for (const auto& c : chain->info().controls) {
                whole->setControl(c.symbol, chain->control(c.symbol));
            }
            chain = std::move(whole);
        }
        job.wholeSample = chain->outChannels() != int(f.channels);
    }
    editor_.edit().opStart = job.start;
    editor_.edit().opEnd = job.end;
    editor_.jobs().clearCancel();
    // What a failed run gives back: the undo record, format, points and selection as they are now.
    runName_ = chain->info().name;
    editor_.beginOperation(runName_);
    running_ = std::move(chain);
    auto outcome = std::make_shared<PluginOutcome>();
    const uint16_t oldChannels = f.channels;
    const bool started =
        editor_.launch(std::make_unique<TPluginProcThread>(editor_, *running_, job, *outcome),
                       jobs::ProcessMode::ProcessingPlugin,
                       [this, outcome, job, oldChannels, done = std::move(done)] {
                           complete(outcome, job, oldChannels, done);
                       });
    if (!started) {
        running_.reset();
    }
    return started;
}

void PluginHost::complete(const std::shared_ptr<PluginOutcome>& outcome, const PluginJob& job, uint16_t oldChannels,
                          const std::function<void(const PluginResult&)>& done) {
    running_.reset();
    const bool applied = outcome->applied;
    PluginResult result;
    result.latency = outcome->latency;
    result.cancelled = outcome->stopped;
    if (!applied) {
        // Nothing changed, the previous undo included.
        result.dataLength = editor_.store().format().dataLength;
        result.error = outcome->error;
        if (!outcome->error.empty()) {
            editor_.jobs().prompter().ask(jobs::MessageKind::Error, outcome->error, "", jobs::Buttons::Ok);
        }
        if (done) {
            done(result);
        }
        return;
    }
    auto& format = editor_.store().format();
    auto& slicer = editor_.slicer();
    // The record of the state before the run (the worker has put its audio in the undo file),
    // taken before the points, locators and selection below change.
    editor_.beginOperation(runName_);
    if (editor_.undoEnabled()) {
        editor_.record().undoLength = 0; // the undo file already holds this run's copy: keep it
        editor_.SetupUndo(2, 0, format.dataLength, uint8_t(oldChannels), slicer.channelMode().linked ? 1 : 0,
                          format.sampleRate, true);
    }
    editor_.finishEdit(true);
    // The length comes from what the worker wrote, not from the store file's size.
    format.dataLength = outcome->dataLength;
    format.channels = outcome->channels;
    format.bytesPerSecond = format.sampleRate * format.blockAlign();
    uint32_t start = job.start;
    uint32_t end = outcome->newEnd;
    if (format.channels != oldChannels) {
        // Positions are bytes: they double into stereo and halve into mono.
        auto scale = [&](uint32_t p) {
            return format.channels == 2 ? uint32_t(std::min<uint64_t>(uint64_t(p) * 2, format.dataLength))
                                        : format.frameStart(p / 2);
        };
        slicer.setLoop(scale(slicer.left()), scale(slicer.right()));
        start = 0;
        end = format.dataLength;
        slicer.channelMode().linked = true;
        editor_.setProcessChannel(3);
        // The points do not survive a change of channels.
        slicer.candidates().clearPoints();
        editing::settleMarkers(slicer.candidates(), format.dataLength);
    }
    editor_.setupSelections(start, end);
    slicer.rebuild();
    result.ok = true;
    result.dataLength = format.dataLength;
    if (done) {
        done(result);
    }
}

} // namespace cleavix::plugins
