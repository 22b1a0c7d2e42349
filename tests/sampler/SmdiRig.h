#pragma once
// The SMDI driver against an emulated SMDI sampler on a virtual bus of its own: the fixture the
// driver, fault and key-map tests share.
#include "ScsiSamplerRig.h"
#include "sampler/smdi/SMIDIDriver.h"
#include "sampler/virtual/VirtualSmdiSampler.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace cleavix::sampler::smdi::testrig {

using scsi::VirtualSmdiSampler;
using scsi::testkit::runUntil;
using Flavour = VirtualSmdiSampler::Flavour;

inline constexpr uint8_t kId = 3;

inline TSMIDIDriver::Options fastOptions() {
    TSMIDIDriver::Options o{.pollInterval = std::chrono::milliseconds(10), .waitLimit = std::chrono::milliseconds(2000),
                            .commandTimeout = std::chrono::milliseconds(400)};
    return o;
}

class SmdiRig : public scsi::testkit::ScsiSamplerRig<TSMIDIDriver> {
protected:
    explicit SmdiRig(TSMIDIDriver::Options options = fastOptions())
        : ScsiSamplerRig([options](scsi::ScsiLayer& onLayer, jobs::MainLoop& onLoop, test::ScriptedPrompter&) {
              return TSMIDIDriver(onLayer, onLoop, options);
          }) {
        useFlavour(Flavour::Generic);
    }

    void useFlavour(Flavour flavour, uint8_t deviceType = 0) {
        device = std::make_shared<VirtualSmdiSampler>(flavour);
        bus->attach(kId, device);
        SamplerProfile profile;
        profile.deviceType = deviceType ? deviceType : (flavour == Flavour::Emu ? 4 : 1);
        profile.scsiDevice = kId;
        driver.setProfile(profile);
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

    // The sampler holds `data` (its own byte order) as sample `number`.
    void hold(uint32_t number, std::vector<uint8_t> data, const std::string& name = "", uint8_t channels = 1) {
        VirtualSmdiSampler::Sample s;
        s.name = name;
        s.channels = channels;
        s.data = std::move(data);
        device->putSample(number, s);
    }

    std::shared_ptr<VirtualSmdiSampler> device;
};

} // namespace cleavix::sampler::smdi::testrig
