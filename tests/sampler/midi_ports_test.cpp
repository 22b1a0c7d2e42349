// TMidiInput and TMidiOutput over the virtual ports: device numbers and names, the queue and
// its overflow, one completion per block, the length limit, closing with a deadline.
#include "jobs/MainLoop.h"
#include "sampler/midi/MidiIn.h"
#include "sampler/midi/MidiOut.h"
#include "sampler/midi/VirtualMidi.h"

#include "SdsRig.h"

#include <gtest/gtest.h>

using namespace cleavix;
using namespace cleavix::sampler::midi;

namespace {

std::shared_ptr<VirtualMidiBackend> withCable() {
    auto backend = std::make_shared<VirtualMidiBackend>();
    backend->addEndpoint(std::make_shared<VirtualCable>());
    return backend;
}

// An input and an output over the virtual cable.
class MidiPorts : public ::testing::Test {
protected:
    MidiBackends backends() { return {backend}; }
    bool runUntil(const std::function<bool()>& done) {
        return cleavix::test::sds::runUntil(loop, done, std::chrono::seconds(10));
    }
    // Opens both ends of the cable, the input started.
    void open() {
        in.openDevice();
        in.startInput();
        out.setDeviceId(0);
        out.openDevice();
    }
    // An input handler that reads every event there is into `events`.
    std::function<void()> collect(std::vector<TMyMidiEvent>& events) {
        return [this, &events] {
            while (auto e = in.readEvent()) {
                events.push_back(std::move(*e));
            }
        };
    }
    jobs::MainLoop loop;
    std::shared_ptr<VirtualMidiBackend> backend = withCable();
    TMidiInput in{loop, backends()};
    TMidiOutput out{loop, backends()};
};

// What `call` threw as an E; a text saying so when it threw nothing.
template <class E>
std::string thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

std::vector<uint8_t> sysex(size_t size, uint8_t fill = 0x11) {
    std::vector<uint8_t> out(size, fill);
    out.front() = 0xF0;
    out.back() = 0xF7;
    return out;
}

} // namespace

TEST_F(MidiPorts, VirtualPortsAreListedByTheirNames) {
    const auto list = listMidiInputs(backends());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "Cleavix virtual cable");
    EXPECT_EQ(list[0].backend, "virtual");
    EXPECT_EQ(list[0].id, 0);
}

TEST_F(MidiPorts, DeviceIdRangeAndNames) {
    EXPECT_EQ(in.deviceId(), 0);
    EXPECT_EQ(in.productName(), "Cleavix virtual cable");
    in.setDeviceId(5);
    in.setDeviceId(-1);
    EXPECT_EQ(in.deviceId(), 0); // out of range: unchanged, nothing raised
    out.setDeviceId(-1);
    EXPECT_EQ(out.deviceId(), -1);
    EXPECT_EQ(out.productName(), "Cleavix virtual cable");
    out.setDeviceId(-2);
    out.setDeviceId(1);
    EXPECT_EQ(out.deviceId(), -1);
    out.setDeviceId(0);
    EXPECT_EQ(out.deviceId(), 0);
    EXPECT_EQ(thrown<EMidiInputError>([&] { in.setProductName("MPU-401"); }), "MIDI Input Device MPU-401 not installed ");
    EXPECT_EQ(thrown<EmidioutputError>([&] { out.setProductName("MPU-401"); }), "MIDI output Device MPU-401 not installed");
    in.openDevice();
    in.setDeviceId(0);
    EXPECT_THROW(in.setProductName("Cleavix virtual cable"), EMidiInputError);
    EXPECT_THROW(in.setSysexBufferSize(10), EMidiInputError);
    EXPECT_THROW(in.setSysexBufferCount(10), EMidiInputError);
    in.closeDevice();
}

TEST_F(MidiPorts, ErrorTexts) {
    EXPECT_EQ(midiErrorText(-2), "No such file or directory");
    EXPECT_EQ(midiErrorText(-19), "No such device");
    EXPECT_EQ(midiErrorText(-5000), "Specified error number is out of range");
    EXPECT_EQ(midiErrorText(0), "Specified error number is out of range");
}

TEST_F(MidiPorts, CableCarriesBlocksAndShortMessages) {
    std::vector<TMyMidiEvent> events;
    size_t completions = 0;
    in.OnMidiInput = collect(events);
    out.Onmidioutput = [&] { ++completions; };
    in.openDevice();
    in.startInput();
    out.setDeviceId(0);
    ASSERT_TRUE(out.openDevice());
    const auto block = sysex(300);
    out.sendLong(block.data(), block.size());
    out.sendShort(0x90, 0x3C, 0x64);
    out.sendShort(0xFE, 0, 0); // active sensing never arrives
    out.sendLong(block.data(), block.size());
    ASSERT_TRUE(runUntil([&] { return events.size() == 3 && completions == 2; }));
    EXPECT_EQ(events[0].status, 0xF0);
    EXPECT_EQ(events[0].sysex, block);
    EXPECT_EQ(events[1].status, 0x90);
    EXPECT_EQ(events[1].data1, 0x3C);
    EXPECT_EQ(events[1].data2, 0x64);
    EXPECT_TRUE(events[1].sysex.empty());
    EXPECT_EQ(events[2].sysex, block);
    EXPECT_EQ(out.pendingMessages(), 0u);
    EXPECT_EQ(out.pendingBytes(), 0u);
    EXPECT_TRUE(out.closeDevice());
    EXPECT_FALSE(out.closeDevice());
    in.closeDevice();
    EXPECT_EQ(in.pendingEvents(), 0u);
    EXPECT_FALSE(in.readEvent());
}

TEST_F(MidiPorts, BlocksOver64KiBAreRefusedNotCut) {
    out.setDeviceId(0);
    out.openDevice();
    const auto big = sysex(kMaxSysexBlock + 1);
    EXPECT_THROW(out.sendLong(big.data(), big.size()), EmidioutputError);
    EXPECT_EQ(out.pendingMessages(), 0u);
    const auto fits = sysex(kMaxSysexBlock);
    EXPECT_NO_THROW(out.sendLong(fits.data(), fits.size()));
    out.closeDevice();
    TMidiOutput closed(loop, backends());
    TMyMidiEvent e;
    EXPECT_EQ(thrown<EmidioutputError>([&] { closed.sendEvent(e); }), "MIDI Output device not open");
}

TEST_F(MidiPorts, OverlongSysexArrivesFlagged) {
    in.setSysexBufferSize(64);
    std::vector<TMyMidiEvent> events;
    in.OnMidiInput = collect(events);
    open();
    const auto block = sysex(100);
    out.sendLong(block.data(), block.size());
    ASSERT_TRUE(runUntil([&] { return events.size() == 1; }));
    EXPECT_TRUE(events[0].damaged);
    EXPECT_EQ(events[0].sysex.size(), 64u);
}

TEST_F(MidiPorts, FullQueueLosesEventsAndSaysSoOnce) {
    in.setCapacity(4);
    int overflows = 0;
    in.OnOverflow = [&] { ++overflows; };
    in.OnMidiInput = [] {}; // reads nothing: the queue fills
    open();
    for (int i = 0; i < 6; ++i) {
        out.sendShort(0x90, uint8_t(i), 0x40);
    }
    ASSERT_TRUE(runUntil([&] { return overflows == 2; }));
    EXPECT_EQ(in.pendingEvents(), 4u);
    for (int i = 0; i < 4; ++i) {
        const auto e = in.readEvent();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->data1, i); // the queued ones are intact, in order
    }
    EXPECT_FALSE(in.readEvent());
}

TEST_F(MidiPorts, AHandlerThatStopsEarlyIsCalledAgain) {
    std::vector<int> read;
    int calls = 0;
    in.OnMidiInput = [&] {
        ++calls;
        if (auto e = in.readEvent()) { // one event per notice
            read.push_back(e->data1);
        }
    };
    open();
    for (int i = 0; i < 5; ++i) {
        out.sendShort(0xB0, uint8_t(i), 0);
    }
    ASSERT_TRUE(runUntil([&] { return read.size() == 5; })) << "events were stranded";
    EXPECT_EQ(read, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_GE(calls, 5);
}

TEST_F(MidiPorts, SysexOnlyDropsShortMessages) {
    in.setSysexOnly(true);
    std::vector<TMyMidiEvent> events;
    in.OnMidiInput = collect(events);
    open();
    out.sendShort(0x90, 1, 2);
    const auto block = sysex(10);
    out.sendLong(block.data(), block.size());
    ASSERT_TRUE(runUntil([&] { return !events.empty(); }));
    out.closeDevice();
    loop.runPending();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].status, 0xF0);
}

TEST_F(MidiPorts, ClosingDrainsWithADeadlineAndNeverLoops) {
    backend->setRealTime(true); // 320 us a byte: 30 blocks of 1000 bytes take almost 10 s
    out.setDeviceId(0);
    out.openDevice();
    size_t completions = 0;
    out.Onmidioutput = [&] { ++completions; };
    const auto block = sysex(1000);
    for (int i = 0; i < 30; ++i) {
        out.sendLong(block.data(), block.size());
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(out.closeDevice(std::chrono::milliseconds(300)));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, 1.5);
    EXPECT_GE(took, 0.29);
    // Every block still gets exactly one completion, dropped ones included.
    ASSERT_TRUE(runUntil([&] { return completions == 30; }));
    loop.runPending();
    EXPECT_EQ(completions, 30u);
    EXPECT_EQ(out.pendingMessages(), 0u);
}

TEST_F(MidiPorts, SysexLostToAFullQueueKeepsItsBuffer) {
    in.setCapacity(2);
    in.setSysexBufferCount(3);
    int overflows = 0;
    in.OnOverflow = [&] { ++overflows; };
    in.OnMidiInput = [] {};
    open();
    const auto block = sysex(20);
    for (int i = 0; i < 4; ++i) {
        out.sendLong(block.data(), block.size());
    }
    ASSERT_TRUE(runUntil([&] { return overflows == 2; }));
    while (in.readEvent()) {
    }
    // Every buffer is free again: as many blocks as there are buffers still arrive, one by one.
    std::vector<TMyMidiEvent> events;
    in.OnMidiInput = collect(events);
    for (size_t i = 0; i < 6; ++i) {
        out.sendLong(block.data(), block.size());
        ASSERT_TRUE(runUntil([&] { return events.size() == i + 1; })) << "block " << i << " was lost";
    }
    EXPECT_EQ(overflows, 2);
}
