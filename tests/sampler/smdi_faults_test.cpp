// The SMDI driver against every misbehaviour the emulated sampler and the bus can be told to do:
// each ends the operation once, through its end, with its text, or is recovered from; a failed
// one leaves the sampler and the store as they were, and the next transfer goes through.
#include "SmdiRig.h"

#include <gmock/gmock.h>

#include <functional>

namespace cleavix::sampler::smdi {
namespace {

using namespace testrig;
using ::testing::Eq;
using Faults = VirtualSmdiSampler::Faults;

class SmdiFaults : public SmdiRig {
protected:
    void faults(const Faults& f) { device->setFaults(f); }

    // A sampler holding one sample to receive.
    std::vector<int16_t> holdSample(uint32_t number, size_t words = 40000) {
        const auto samples = test::testSignal(words, number + 1);
        hold(number, test::be16Bytes(samples), "held");
        return samples;
    }

    bool sendSignal(size_t words = 40000) {
        const auto samples = test::testSignal(words, 21);
        fillStore(samples);
        sent = samples;
        return send(args(uint32_t(words * 2)));
    }

    // The user presses Abort when the status panel shows `text`.
    void abortAt(const std::string& text) {
        driver.setStatusPanel([this, text](const std::string& shown) {
            statuses.push_back(shown);
            if (shown == text) {
                driver.abort();
            }
        });
    }

    std::vector<int16_t> sent;
};

// ---- a send against one fault ----

struct SendFault {
    const char* name;
    Faults faults{};
    std::optional<scsi::VirtualScsiFault> bus{}; // the next command on the bus
    size_t words = 40000;
    const char* error = nullptr; // none: the send succeeds
    std::optional<uint32_t> negotiated{}; // the packet length used
    std::optional<std::vector<uint32_t>> packets{}; // the Data Packets the sampler got, by number
    std::optional<size_t> packetCount{};
    std::optional<int> testUnitReadies{};
    std::optional<uint16_t> lastMessage{}; // the last message the sampler saw
};

void PrintTo(const SendFault& c, std::ostream* out) { *out << c.name; }

class SmdiSendFaults : public SmdiFaults, public ::testing::WithParamInterface<SendFault> {};

TEST_P(SmdiSendFaults, EndsOnceWithItsOutcome) {
    const auto& c = GetParam();
    faults(c.faults);
    if (c.bus) {
        bus->injectFault(kId, *c.bus);
    }
    const bool ok = sendSignal(c.words); // exactly one end, or the rig says so
    if (c.error) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(driver.errorText(), c.error);
        EXPECT_TRUE(device->samples().empty()) << "a failed send left a sample";
    } else {
        ASSERT_TRUE(ok) << driver.errorText();
        EXPECT_EQ(device->samples().at(0).data, test::be16Bytes(sent));
    }
    EXPECT_EQ(statuses.back(), "Inactive");
    if (c.negotiated) {
        EXPECT_EQ(driver.negotiatedPacketLength(), *c.negotiated);
    }
    if (c.packets) {
        EXPECT_EQ(device->packetsReceived(), *c.packets);
    }
    if (c.packetCount) {
        EXPECT_EQ(device->packetsReceived().size(), *c.packetCount);
    }
    if (c.testUnitReadies) {
        EXPECT_EQ(device->testUnitReadies(), *c.testUnitReadies);
        EXPECT_TRUE(sawStatus("Waiting..."));
    }
    if (c.lastMessage) {
        EXPECT_EQ(device->messagesSeen().back(), *c.lastMessage);
    }
    // Without the fault the sampler takes the next one.
    faults({});
    EXPECT_TRUE(sendSignal(1000)) << driver.errorText();
}

const SendFault kSendFaults[] = {
    // The packet length the sampler negotiates: 0 would loop for ever, 1..3 rounds down to 0, an
    // odd one rounds down to four, a huge one is clamped.
    {.name = "LengthZero", .faults = {.packetLength = 0}, .error = kCommunicationError,
     .packets = std::vector<uint32_t>{}},
    {.name = "LengthThree", .faults = {.packetLength = 3}, .error = kCommunicationError},
    {.name = "LengthOdd", .faults = {.packetLength = 1001}, .negotiated = 1000},
    {.name = "LengthHuge", .faults = {.packetLength = 0xFFFFFF}, .words = 100000, .negotiated = kMaxSendPacket},
    // The same packet asked for again is sent again from what was kept, up to a limit.
    {.name = "RepeatedRequest", .faults = {.packetLength = 4096, .repeatSendNextPacket = 2}, .words = 10000,
     .packets = std::vector<uint32_t>{0, 0, 0, 1, 2, 3, 4}}, // 20000 bytes: 5 packets
    {.name = "EndlessRepeats", .faults = {.packetLength = 4096, .repeatSendNextPacket = 1000}, .words = 10000,
     .error = kCommunicationError, .packetCount = size_t(1 + kMaxResends)},
    {.name = "SkippedPacket", .faults = {.packetLength = 4096, .skipSendNextPacket = true}, .words = 10000,
     .error = kCommunicationError, .packets = std::vector<uint32_t>{0}},
    {.name = "RequestPastTheEnd", .faults = {.packetLength = 4096, .askPastEnd = true}, .words = 4096,
     .error = kCommunicationError, .packets = std::vector<uint32_t>{0, 1}}, // exactly two packets
    // Answers that cannot be read.
    {.name = "UnknownAnswerId", .faults = {.unknownAnswer = true}, .error = kCommunicationError},
    {.name = "AckWithoutPacketLength", .faults = {.shortAnswer = 13}, .error = kCommunicationError},
    {.name = "Untagged", .faults = {.dropTag = true}, .error = kCommunicationError},
    {.name = "HeaderRejected", .faults = {.rejectHeaders = true}, .error = kCommunicationError},
    // Wait answers: the unit is polled until ready (3 busy and 1 ready, twice); a failing poll ends.
    {.name = "WaitsThenReady", .faults = {.waits = 2, .busyPolls = 3}, .testUnitReadies = 8},
    {.name = "FailingPoll", .faults = {.waits = 1, .failPolls = true}, .error = kCommunicationError,
     .testUnitReadies = 1},
    // The sampler gives up: its Abort Procedure is answered in kind.
    {.name = "SamplerAborts", .faults = {.packetLength = 4096, .abortAfterPackets = 2}, .words = 10000,
     .error = kAborted, .lastMessage = id::kAbortProcedure},
    // The bus: a command that never ends, or a CHECK CONDITION.
    {.name = "NeverCompletes", .bus = scsi::VirtualScsiFault::neverCompletes(), .words = 1000,
     .error = kCommunicationError},
    {.name = "CheckCondition", .bus = scsi::VirtualScsiFault::checkCondition(scsi::sense_key::kHardwareError, 0x44),
     .words = 1000, .error = kCommunicationError},
};

INSTANTIATE_TEST_SUITE_P(Faults, SmdiSendFaults, ::testing::ValuesIn(kSendFaults),
                         [](const auto& which) { return std::string(which.param.name); });

// ---- a receive against one fault ----

struct ReceiveFault {
    const char* name;
    Faults faults{};
    std::optional<scsi::VirtualScsiFault> bus{};
    std::function<void(VirtualSmdiSampler::Sample&)> held{}; // changes to the sample the sampler holds
    int32_t number = 0;
    int64_t freeSpace = -1; // for the scratch file; negative: no limit
    ::testing::Matcher<std::string> error = Eq(std::string(kCommunicationError));
    std::optional<uint16_t> lastMessage{};
};

void PrintTo(const ReceiveFault& c, std::ostream* out) { *out << c.name; }

class SmdiReceiveFaults : public SmdiFaults, public ::testing::WithParamInterface<ReceiveFault> {};

TEST_P(SmdiReceiveFaults, EndsOnceAndLeavesTheStoreAlone) {
    const auto& c = GetParam();
    VirtualSmdiSampler::Sample s;
    s.name = "held";
    s.data = test::be16Bytes(test::testSignal(100000, 1));
    if (c.held) {
        c.held(s);
    }
    device->putSample(0, s);
    fillStore({4});
    faults(c.faults);
    if (c.bus) {
        bus->injectFault(kId, *c.bus);
    }
    sample::setFreeSpaceForTesting(c.freeSpace);
    const auto got = receive(c.number); // exactly one end, or the rig says so
    sample::setFreeSpaceForTesting(-1);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 0);
    EXPECT_EQ(got->bytes, 0u);
    EXPECT_THAT(got->error, c.error);
    EXPECT_EQ(storeBytes(), test::le16Bytes({4})) << "a failed receive replaced the store";
    EXPECT_TRUE(scratch.entries().empty()) << "the scratch file stayed";
    EXPECT_EQ(statuses.back(), "Inactive");
    if (c.lastMessage) {
        EXPECT_EQ(device->messagesSeen().back(), *c.lastMessage);
    }
    // Without the fault a good sample comes through: stereo at round(1e9 / 22676) Hz, not cut to
    // a multiple of 100.
    faults({});
    const auto samples = test::testSignal(30000, 1);
    hold(0, test::be16Bytes(samples), "", 2);
    const auto good = receive(0);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->error, "");
    EXPECT_EQ(good->channels, 2);
    EXPECT_EQ(good->sampleRate, 44099u);
    EXPECT_EQ(storeBytes(), test::le16Bytes(samples));
}

const ReceiveFault kReceiveFaults[] = {
    // Headers that cannot be taken are refused before anything is received.
    {.name = "NoSuchSample", .number = 7, .error = Eq(std::string(kOutOfRange))}, // Message Reject
    {.name = "EightBits", .held = [](auto& s) { s.bits = 8; }, .error = Eq(std::string(kOutOfRange))},
    {.name = "ThreeChannels", .held = [](auto& s) { s.channels = 3; }, .error = Eq(std::string(kOutOfRange))},
    {.name = "PeriodZero", .held = [](auto& s) { s.periodNs = 0; }, .error = Eq(std::string(kOutOfRange))},
    // x 2 channels x 2 bytes: beyond 32 bits.
    {.name = "LengthBeyond32Bits", .faults = {.claimedWords = 0x80000000u}, .held = [](auto& s) { s.channels = 2; },
     .error = Eq(std::string(kOutOfRange))},
    {.name = "HeaderCutBeforeName", .faults = {.shortAnswer = 30}, .error = Eq(std::string(kOutOfRange))},
    {.name = "UnknownAnswerId", .faults = {.unknownAnswer = true}, .error = Eq(std::string(kOutOfRange))},
    // Data packets with the wrong number or length, or a packet length of 0, or one beyond our
    // buffer whose packets then cannot arrive whole.
    {.name = "WrongPacketNumber", .faults = {.wrongDataPacketNumber = true}},
    {.name = "ShortDataPacket", .faults = {.shortDataPacket = true}},
    {.name = "PacketLengthZero", .faults = {.packetLength = 0}},
    {.name = "PacketLengthBeyondBuffer", .faults = {.packetLength = 0x40000}},
    // The sampler gives up: acknowledged.
    {.name = "SamplerAborts", .faults = {.abortAfterPackets = 2}, .error = Eq(std::string(kAborted)),
     .lastMessage = id::kAck},
    {.name = "HostError", .bus = scsi::VirtualScsiFault::hostError()},
    // The scratch folder fills up part-way.
    {.name = "FullScratchFolder", .freeSpace = 50000,
     .error = ::testing::AllOf(::testing::StartsWith("Cannot write "), ::testing::HasSubstr("cleavix-smdi-"),
                               ::testing::EndsWith("No space left on device"))},
};

INSTANTIATE_TEST_SUITE_P(Faults, SmdiReceiveFaults, ::testing::ValuesIn(kReceiveFaults),
                         [](const auto& which) { return std::string(which.param.name); });

// ---- identification and listing against one fault ----

struct QueryFault {
    const char* name;
    bool listing; // else identification
    Faults faults{};
    std::optional<scsi::VirtualScsiFault> bus{};
};

void PrintTo(const QueryFault& c, std::ostream* out) { *out << c.name; }

class SmdiQueryFaults : public SmdiFaults, public ::testing::WithParamInterface<QueryFault> {};

TEST_P(SmdiQueryFaults, FailWithACommunicationError) {
    const auto& c = GetParam();
    holdSample(0, 10);
    holdSample(1, 10);
    faults(c.faults);
    if (c.bus) {
        bus->injectFault(kId, *c.bus);
    }
    if (c.listing) {
        EXPECT_TRUE(list().empty());
    } else {
        EXPECT_FALSE(identify());
    }
    // Tagged answers are a communication error, not "not compliant".
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    faults({});
    EXPECT_TRUE(identify());
    EXPECT_EQ(list().size(), 2u);
    EXPECT_FALSE(driver.hasError());
}

const QueryFault kQueryFaults[] = {
    {.name = "IdentifyUnknownAnswerId", .listing = false, .faults = {.unknownAnswer = true}},
    {.name = "IdentifyNeverCompletes", .listing = false, .bus = scsi::VirtualScsiFault::neverCompletes()},
    {.name = "ListUnknownAnswerId", .listing = true, .faults = {.unknownAnswer = true}},
    {.name = "ListUntagged", .listing = true, .faults = {.dropTag = true}},
    {.name = "ListBusy", .listing = true, .bus = scsi::VirtualScsiFault::busy()},
};

INSTANTIATE_TEST_SUITE_P(Faults, SmdiQueryFaults, ::testing::ValuesIn(kQueryFaults),
                         [](const auto& which) { return std::string(which.param.name); });

// ---- the rest, one by one ----

TEST_F(SmdiFaults, WaitAnswersPollTheUnitBeforeAReceiveToo) {
    const auto held = holdSample(5);
    faults({.waits = 3, .busyPolls = 1});
    ASSERT_TRUE(receive(5));
    EXPECT_TRUE(sawStatus("Waiting..."));
    EXPECT_EQ(storeBytes(), test::le16Bytes(held));
}

TEST_F(SmdiFaults, EmuStaysAtItsOwnPacketLength) {
    useFlavour(Flavour::Emu);
    faults({.packetLength = 0});
    const auto samples = test::testSignal(30000, 4);
    fillStore(samples);
    ASSERT_TRUE(send(args(60000))) << driver.errorText();
    EXPECT_EQ(driver.negotiatedPacketLength(), kEmuPacket);
    EXPECT_EQ(device->samples().at(1).data, test::be16Bytes(samples));
}

class SmdiSmallAdaptor : public SmdiRig {
protected:
    static TSMIDIDriver::Options options() {
        auto o = fastOptions();
        o.adaptorLimit = 4096 + 14 + 2; // a packet and its header, and two bytes to spare
        return o;
    }
    SmdiSmallAdaptor() : SmdiRig(options()) {}
};

TEST_F(SmdiSmallAdaptor, PacketsAreClampedToWhatTheAdaptorMoves) {
    const auto samples = test::testSignal(10000, 6);
    fillStore(samples);
    ASSERT_TRUE(send(args(20000))) << driver.errorText();
    EXPECT_EQ(driver.negotiatedPacketLength(), 4096u);
    EXPECT_EQ(device->samples().at(0).data, test::be16Bytes(samples));
    store.clear();
    const auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, 20000u);
    EXPECT_EQ(driver.negotiatedPacketLength(), 4098u); // receive packets need only be even
    EXPECT_EQ(storeBytes(), test::le16Bytes(samples));
}

class SmdiShortWait : public SmdiRig {
protected:
    static TSMIDIDriver::Options options() {
        auto o = fastOptions();
        o.waitLimit = std::chrono::milliseconds(300);
        return o;
    }
    // A unit that stays busy, and a sample to send to it.
    SmdiShortWait() : SmdiRig(options()) {
        device->setFaults({.waits = 1, .busyPolls = 1000000});
        fillStore(test::testSignal(1000));
    }
};

TEST_F(SmdiShortWait, ABusyUnitFailsAtTheWaitLimit) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(send(args(2000)));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
}

TEST_F(SmdiShortWait, AbortWhileWaitingEndsAtTheNextPoll) {
    driver.clearError();
    driver.sendSample(args(2000));
    ASSERT_TRUE(runUntil(loop, [&] { return sawStatus("Waiting..."); }));
    driver.abort();
    ASSERT_TRUE(runUntil(loop, [&] { return doneSignals == 1 && !driver.busy(); }, std::chrono::milliseconds(250)));
    EXPECT_EQ(driver.errorText(), kAborted);
}

TEST_F(SmdiFaults, UserAbortSendsAbortProcedureAndEndsEverySendOnce) {
    fillStore(test::testSignal(200000));
    abortAt("Sending: 0.00%");
    driver.clearError();
    driver.sendSample(args(400000));
    ASSERT_TRUE(runUntil(loop, [&] { return doneSignals == 1 && !driver.busy(); }));
    settle();
    EXPECT_EQ(doneSignals, 1);
    EXPECT_EQ(driver.errorText(), kAborted);
    EXPECT_EQ(device->messagesSeen().back(), id::kAbortProcedure);
    EXPECT_EQ(device->packetsReceived().size(), 1u);
    EXPECT_TRUE(device->samples().empty());
    EXPECT_EQ(statuses.back(), "Inactive");

    // From a file: the batch is told it is finished.
    driver.setSourceStream(&store);
    auto a = args(400000);
    a.fromFile = true;
    int nexts = 0, finishes = 0;
    a.next = [&] { ++nexts; };
    a.finished = [&] { ++finishes; };
    driver.clearError();
    driver.sendSample(a);
    driver.abort();
    ASSERT_TRUE(runUntil(loop, [&] { return finishes + nexts > 0 && !driver.busy(); }));
    settle();
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(nexts, 0);
    EXPECT_EQ(doneSignals, 1);
}

TEST_F(SmdiFaults, UserAbortOfAReceiveOrAListing) {
    holdSample(0, 200000);
    holdSample(1, 10);
    fillStore({5});
    std::optional<ReceivedSample> got;
    driver.clearError();
    abortAt("Receiving: 8.19%");
    driver.receiveSample(0, [&](const ReceivedSample& r) { got = r; });
    ASSERT_TRUE(runUntil(loop, [&] { return got.has_value() && !driver.busy(); }));
    EXPECT_EQ(got->error, kAborted);
    EXPECT_EQ(device->messagesSeen().back(), id::kAbortProcedure);
    EXPECT_EQ(storeBytes(), test::le16Bytes({5}));

    std::optional<std::vector<SamplerSampleEntry>> rows;
    driver.clearError();
    driver.listSamples([&](const std::vector<SamplerSampleEntry>& r) { rows = r; });
    driver.abort();
    ASSERT_TRUE(runUntil(loop, [&] { return rows.has_value() && !driver.busy(); }));
    EXPECT_TRUE(rows->empty());
    EXPECT_EQ(driver.errorText(), kAborted);
}

TEST(SmdiDriverLifetime, DestroyingTheDriverMidTransferIsSafe) {
    jobs::MainLoop loop;
    auto bus = std::make_shared<scsi::VirtualScsiBus>();
    auto device = std::make_shared<VirtualSmdiSampler>();
    bus->attach(kId, device);
    scsi::ScsiLayer layer(loop);
    layer.addBackend(bus);
    sample::TFileAndMemoryStream store;
    const auto samples = test::testSignal(100000);
    store.writeAll(samples.data(), samples.size() * 2);
    int ends = 0;
    {
        TSMIDIDriver driver(layer, loop, fastOptions());
        SamplerProfile profile;
        profile.deviceType = 1;
        profile.scsiDevice = kId;
        driver.setProfile(profile);
        driver.setSampleStore(&store);
        driver.setDoneEvent([&] { ++ends; });
        SendSampleArgs a;
        a.length = 200000;
        // The header's answer comes only after the driver is gone.
        bus->injectFault(kId, scsi::VirtualScsiFault::late(std::chrono::milliseconds(50)));
        driver.sendSample(a);
        runUntil(loop, [] { return false; }, std::chrono::milliseconds(20));
    }
    runUntil(loop, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(ends, 0);
}

} // namespace
} // namespace cleavix::sampler::smdi
