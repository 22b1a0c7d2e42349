#pragma once
// What the SCSI sampler drivers' fixtures share: a virtual bus of their own, the store and scratch
// folder the driver is handed, its status texts and done events, and runs of each operation to
// its end (exactly one end, or the run says so).
#include "ScsiTestKit.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/SamplerClass.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sampler::scsi::testkit {

template <class Driver>
class ScsiSamplerRig : public ::testing::Test {
protected:
    // `make(layer, loop, prompter)` returns the driver over the rig's own layer.
    template <class Make>
    explicit ScsiSamplerRig(Make make) : driver(make(layer, loop, prompter)) {
        layer.addBackend(bus);
        driver.setSampleStore(&store);
        driver.setScratchDirectory(scratch.path());
        driver.setStatusPanel([this](const std::string& text) { statuses.push_back(text); });
        driver.setDoneEvent([this] { ++doneSignals; });
    }

    void fillStore(const std::vector<int16_t>& samples) {
        store.clear();
        store.seek(0);
        store.writeAll(samples.data(), samples.size() * 2);
    }

    std::vector<uint8_t> storeBytes() {
        std::vector<uint8_t> out(size_t(store.size()));
        store.readAt(0, out.data(), out.size());
        return out;
    }

    bool sawStatus(const std::string& text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }

    std::vector<std::string> statusesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        std::copy_if(statuses.begin(), statuses.end(), std::back_inserter(out),
                     [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
        return out;
    }

    bool identify() {
        bool continued = false;
        driver.clearError();
        driver.checkDevice([&] { continued = true; });
        EXPECT_TRUE(runUntil(loop, [&] { return continued && !driver.busy(); }));
        return !driver.hasError();
    }

    // Sends, waits for the done event (exactly one); whether the driver ended without error.
    bool send(const SendSampleArgs& a, std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
        const int before = doneSignals;
        driver.clearError();
        driver.sendSample(a);
        EXPECT_TRUE(runUntil(loop, [&] { return doneSignals > before && !driver.busy(); }, limit));
        settle();
        EXPECT_EQ(doneSignals, before + 1);
        return !driver.hasError();
    }

    std::optional<ReceivedSample> receive(int32_t number, std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
        std::optional<ReceivedSample> result;
        int ends = 0;
        driver.clearError();
        driver.receiveSample(number, [&](const ReceivedSample& r) {
            result = r;
            ++ends;
        });
        EXPECT_TRUE(runUntil(loop, [&] { return result.has_value() && !driver.busy(); }, limit));
        settle();
        EXPECT_EQ(ends, 1);
        return result;
    }

    std::vector<SamplerSampleEntry> list() {
        std::optional<std::vector<SamplerSampleEntry>> rows;
        driver.clearError();
        driver.listSamples([&](const std::vector<SamplerSampleEntry>& all) { rows = all; });
        EXPECT_TRUE(runUntil(loop, [&] { return rows.has_value() && !driver.busy(); }, std::chrono::milliseconds(20000)));
        return rows.value_or(std::vector<SamplerSampleEntry>{});
    }

    bool map(MapSamplesArgs a) {
        bool finished = false;
        a.finished = [&] { finished = true; };
        driver.clearError();
        driver.mapSamples(a);
        EXPECT_TRUE(runUntil(loop, [&] { return finished && !driver.busy(); }, std::chrono::milliseconds(10000)));
        return !driver.hasError();
    }

    // Lets late completions run, so a second end would show.
    void settle() { runUntil(loop, [] { return false; }, std::chrono::milliseconds(30)); }

    jobs::MainLoop loop;
    std::shared_ptr<VirtualScsiBus> bus = std::make_shared<VirtualScsiBus>();
    ScsiLayer layer{loop};
    test::ScriptedPrompter prompter;
    test::TempDir scratch;
    sample::TFileAndMemoryStream store;
    Driver driver;
    std::vector<std::string> statuses;
    int doneSignals = 0;
};

} // namespace cleavix::sampler::scsi::testkit
