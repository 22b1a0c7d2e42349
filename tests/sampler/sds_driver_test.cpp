// The driver against a line it does not control: other traffic while it sends, and a port that
// fails in the middle of a transfer.
#include "SdsRig.h"

#include "sampler/midi/MidiOut.h"
#include "sampler/sds/SdsCodec.h"
#include "support/TestSupport.h"

#include <cerrno>

using namespace cleavix;
using namespace cleavix::test::sds;
using namespace std::chrono_literals;

namespace {

// An output that takes `good` blocks and then fails every write.
class FailingOut final : public sampler::midi::MidiOutPort {
public:
    explicit FailingOut(int good) : good_(good) {}
    int open(sampler::midi::MidiCompletion completed) override {
        completed_ = std::move(completed);
        return 0;
    }
    int sendShort(uint8_t, uint8_t, uint8_t) override { return 0; }
    int sendLong(const uint8_t*, size_t size) override {
        if (good_-- <= 0) {
            return -EIO;
        }
        completed_(size); // "left at once", on the caller's thread: the output posts it on
        return 0;
    }
    bool drain(std::chrono::milliseconds) override { return true; }
    void close() override {}
    const std::string& lastError() const override { return error_; }

private:
    int good_;
    sampler::midi::MidiCompletion completed_;
    std::string error_;
};

class FailingBackend final : public sampler::midi::MidiBackend {
public:
    std::string kind() const override { return "virtual"; }
    std::vector<sampler::midi::MidiPortInfo> inputs() override { return {}; }
    std::vector<sampler::midi::MidiPortInfo> outputs() override { return {{"broken", "Broken port"}}; }
    std::unique_ptr<sampler::midi::MidiInPort> createInput(const std::string&) override { return nullptr; }
    std::unique_ptr<sampler::midi::MidiOutPort> createOutput(const std::string&) override {
        return std::make_unique<FailingOut>(3);
    }
};

} // namespace

TEST(SdsDriver, OtherTrafficNeverCountsAsTheAnswer) {
    Rig rig;
    rig.useProfile(kCable, kCable); // nobody answers on the cable but this test
    rig.driver.setTimeouts({3000ms, 3000ms, 3000ms});
    auto cable = rig.ports->endpoint("cable");
    std::thread answers([&] {
        auto waitSent = [&](size_t n) {
            for (int i = 0; i < 500 && rig.sentMessages().size() < n; ++i) {
                std::this_thread::sleep_for(5ms);
            }
        };
        auto inject = [&](std::vector<uint8_t> m) { cable->toHost(m.data(), m.size()); };
        waitSent(1); // the header
        inject({0xF0, 0x7E, 0x05, 0x7E, 0x00, 0xF7});       // NAK on another channel
        inject({0xF0, 0x43, 0x10, 0x01, 0xF7});             // someone else's sysex
        inject({0xF0, 0x7E, 0x00, 0x7F, 0x00, 0xF7});       // the header's ACK
        waitSent(2); // packet 0
        inject({0xF0, 0x7E, 0x00, 0x7F, 0x03, 0xF7});       // ACK for a packet not sent
        inject({0xF0, 0x7E, 0x00, 0x7E, 0x09, 0xF7});       // NAK for a packet not sent
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(rig.sentMessages().size(), 2u) << "a stray answer moved the send on";
        inject({0xF0, 0x7E, 0x00, 0x7F, 0x00, 0xF7});       // packet 0's ACK
    });
    const auto report = rig.send(cleavix::test::testSignal(30, 1), 44100);
    answers.join();
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.packets, 1u);
    EXPECT_EQ(report.naks, 0u);
    EXPECT_EQ(report.resends, 0u);
}

TEST(SdsDriver, APortFailingMidTransferEndsItWithThePortsText) {
    jobs::MainLoop loop;
    auto backend = std::make_shared<FailingBackend>();
    sampler::midi::TMidiInput input(loop, {backend});
    sampler::midi::TMidiOutput output(loop, {backend});
    sampler::sds::TSDSDriver driver(loop);
    driver.setMidiPorts(&input, &output);
    sampler::SamplerProfile profile;
    profile.openLoop = 1; // no input needed
    driver.setProfile(profile);
    sample::TFileAndMemoryStream store;
    const auto samples = cleavix::test::testSignal(400, 2);
    store.writeAll(samples.data(), samples.size() * 2);
    driver.setSampleStore(&store);
    bool ended = false;
    driver.setDoneEvent([&] { ended = true; });
    sampler::SendSampleArgs args;
    args.length = 800;
    driver.sendSample(args);
    ASSERT_TRUE(runUntil(loop, [&] { return ended; }, 10s));
    EXPECT_TRUE(driver.hasError());
    EXPECT_EQ(driver.errorText(), "Input/output error");
    EXPECT_EQ(driver.lastSend().packets, 2u); // header and two packets left, the third failed
    EXPECT_FALSE(output.isOpen());
}
