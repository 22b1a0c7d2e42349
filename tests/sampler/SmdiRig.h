#pragma once
// The SMDI driver against an emulated SMDI sampler on a virtual bus of its own: the fixture the
// driver, fault and key-map tests share.
#include "ScsiTestKit.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/smdi/SMIDIDriver.h"
#include "sampler/virtual/VirtualSmdiSampler.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

namespace cleavix::sampler::smdi::testrig {

using scsi::VirtualSmdiSampler;
using scsi::testkit::runUntil;
using Flavour = VirtualSmdiSampler::Flavour;

inline constexpr uint8_t kId = 3;

inline TSMIDIDriver::Options fastOptions() {
    TSMIDIDriver::Options o;
    o.pollInterval = std::chrono::milliseconds(10);
    o.waitLimit = std::chrono::milliseconds(2000);
    o.commandTimeout = std::chrono::milliseconds(400);
    return o;
}

// The store's little-endian words as the sampler keeps them, most significant byte first.
inline std::vector<uint8_t> bigEndian(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> out;
    for (int16_t s : samples) {
        out.push_back(uint8_t(uint16_t(s) >> 8));
        out.push_back(uint8_t(s & 0xFF));
    }
    return out;
}

inline std::vector<uint8_t> littleEndian(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> out(samples.size() * 2);
    std::memcpy(out.data(), samples.data(), out.size());
    return out;
}

class SmdiRig : public ::testing::Test {
protected:
    explicit SmdiRig(TSMIDIDriver::Options options = fastOptions()) : driver(layer, loop, options) {
        bus = std::make_shared<scsi::VirtualScsiBus>();
        layer.addBackend(bus);
        useFlavour(Flavour::Generic);
        driver.setSampleStore(&store);
        driver.setScratchDirectory(scratch.path());
        driver.setStatusPanel([this](const std::string& text) { statuses.push_back(text); });
        driver.setDoneEvent([this] { ++doneSignals; });
    }

    void useFlavour(Flavour flavour, uint8_t deviceType = 0) {
        device = std::make_shared<VirtualSmdiSampler>(flavour);
        bus->attach(kId, device);
        SamplerProfile profile;
        profile.deviceType = deviceType ? deviceType : (flavour == Flavour::Emu ? 4 : 1);
        profile.scsiDevice = kId;
        driver.setProfile(profile);
    }

    void fillStore(const std::vector<int16_t>& samples) {
        store.clear();
        store.seek(0);
        store.writeAll(samples.data(), samples.size() * 2);
    }

    // A send of the whole store: bytes of one channel, as the dialogs give them.
    SendSampleArgs args(uint32_t channelBytes, uint8_t channels = 1, uint32_t rate = 44100) {
        SendSampleArgs a;
        a.name = "kick";
        a.length = channelBytes;
        a.channels = channels;
        a.keepStereo = channels == 2;
        a.channelsToSend = channels;
        a.sampleRate = rate;
        a.single = true;
        a.sampleNumber = int32_t(device->firstNumber());
        return a;
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

    // Lets late completions run, so a second end would show.
    void settle() { runUntil(loop, [] { return false; }, std::chrono::milliseconds(30)); }

    std::vector<uint8_t> storeBytes() {
        std::vector<uint8_t> out(size_t(store.size()));
        store.readAt(0, out.data(), out.size());
        return out;
    }

    bool sawStatus(const std::string& text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }

    jobs::MainLoop loop;
    std::shared_ptr<scsi::VirtualScsiBus> bus;
    std::shared_ptr<VirtualSmdiSampler> device;
    scsi::ScsiLayer layer{loop};
    test::TempDir scratch;
    sample::TFileAndMemoryStream store;
    TSMIDIDriver driver;
    std::vector<std::string> statuses;
    int doneSignals = 0;
};

} // namespace cleavix::sampler::smdi::testrig
