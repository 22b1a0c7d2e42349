// The SMDI driver against every misbehaviour the emulated sampler and the bus can be told to do:
// each ends the operation once, through its end, with its text, or is recovered from.
#include "SmdiRig.h"

namespace cleavix::sampler::smdi {
namespace {

using namespace testrig;

class SmdiFaults : public SmdiRig {
protected:
    void faults(const VirtualSmdiSampler::Faults& f) { device->setFaults(f); }

    // A sampler holding one sample to receive.
    std::vector<int16_t> holdSample(uint32_t number, size_t words = 40000) {
        const auto samples = test::testSignal(words, number + 1);
        VirtualSmdiSampler::Sample s;
        s.name = "held";
        s.data = bigEndian(samples);
        device->putSample(number, s);
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

TEST_F(SmdiFaults, APacketLengthOfZeroIsACommunicationErrorNotAnEndlessLoop) {
    VirtualSmdiSampler::Faults f;
    f.packetLength = 0;
    faults(f);
    EXPECT_FALSE(sendSignal());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    EXPECT_TRUE(device->packetsReceived().empty());
    EXPECT_EQ(statuses.back(), "Inactive");
}

TEST_F(SmdiFaults, OddLengthsRoundDownToFourAndHugeOnesAreClamped) {
    VirtualSmdiSampler::Faults f;
    f.packetLength = 1001;
    faults(f);
    ASSERT_TRUE(sendSignal()) << driver.errorText();
    EXPECT_EQ(driver.negotiatedPacketLength(), 1000u);
    EXPECT_EQ(device->samples().at(0).data, bigEndian(sent));

    f.packetLength = 0xFFFFFF;
    faults(f);
    ASSERT_TRUE(sendSignal(100000)) << driver.errorText();
    EXPECT_EQ(driver.negotiatedPacketLength(), kMaxSendPacket);
    EXPECT_EQ(device->samples().at(0).data, bigEndian(sent));

    // A length of 1..3 rounds down to nothing.
    f.packetLength = 3;
    faults(f);
    EXPECT_FALSE(sendSignal());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
}

TEST_F(SmdiFaults, EmuStaysAtItsOwnPacketLength) {
    useFlavour(Flavour::Emu);
    VirtualSmdiSampler::Faults f;
    f.packetLength = 0;
    faults(f);
    const auto samples = test::testSignal(30000, 4);
    fillStore(samples);
    auto a = args(60000);
    ASSERT_TRUE(send(a)) << driver.errorText();
    EXPECT_EQ(driver.negotiatedPacketLength(), kEmuPacket);
    EXPECT_EQ(device->samples().at(1).data, bigEndian(samples));
}

TEST_F(SmdiFaults, ResendsTheKeptPacketWhenTheSameNumberIsAskedAgain) {
    VirtualSmdiSampler::Faults f;
    f.packetLength = 4096;
    f.repeatSendNextPacket = 2;
    faults(f);
    ASSERT_TRUE(sendSignal(10000)) << driver.errorText(); // 20000 bytes: 5 packets
    EXPECT_EQ(device->packetsReceived(), (std::vector<uint32_t>{0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(device->samples().at(0).data, bigEndian(sent));
}

TEST_F(SmdiFaults, EndlessRepeatsASkipOrARequestPastTheEndAreErrors) {
    VirtualSmdiSampler::Faults f;
    f.packetLength = 4096;
    f.repeatSendNextPacket = 1000;
    faults(f);
    EXPECT_FALSE(sendSignal(10000));
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    EXPECT_EQ(device->packetsReceived().size(), size_t(1 + kMaxResends));

    f = {};
    f.packetLength = 4096;
    f.skipSendNextPacket = true;
    faults(f);
    EXPECT_FALSE(sendSignal(10000));
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    EXPECT_EQ(device->packetsReceived().back(), 0u);
}

TEST_F(SmdiFaults, ARequestPastTheEndIsAnError) {
    VirtualSmdiSampler::Faults f;
    f.packetLength = 4096;
    f.askPastEnd = true;
    faults(f);
    EXPECT_FALSE(sendSignal(4096)); // exactly two packets; a third is asked for
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    EXPECT_EQ(device->packetsReceived(), (std::vector<uint32_t>{0, 1}));
}

TEST_F(SmdiFaults, AnAnswerOfAnUnknownIdEndsEveryOperation) {
    VirtualSmdiSampler::Faults f;
    f.unknownAnswer = true;
    faults(f);
    EXPECT_FALSE(sendSignal());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    holdSample(0, 10);
    faults(f);
    EXPECT_FALSE(identify());
    EXPECT_EQ(driver.errorText(), kCommunicationError); // tagged, so not "not compliant"
    faults(f);
    EXPECT_EQ(receive(0)->error, kOutOfRange);
    faults(f);
    EXPECT_TRUE(list().empty());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
}

TEST_F(SmdiFaults, ShortOrUntaggedAnswersEndTheSend) {
    VirtualSmdiSampler::Faults f;
    f.shortAnswer = 13; // a Begin Sample Transfer Acknowledge without its packet length
    faults(f);
    EXPECT_FALSE(sendSignal());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    f = {};
    f.dropTag = true;
    faults(f);
    EXPECT_FALSE(sendSignal());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    // The sampler is still good for the next transfer.
    EXPECT_TRUE(sendSignal());
}

TEST_F(SmdiFaults, MessageRejectOfTheHeaderEndsTheSend) {
    VirtualSmdiSampler::Faults f;
    f.rejectHeaders = true;
    faults(f);
    EXPECT_FALSE(sendSignal());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
}

TEST_F(SmdiFaults, WaitAnswersPollTheUnitUntilItIsReady) {
    VirtualSmdiSampler::Faults f;
    f.waits = 2;
    f.busyPolls = 3;
    faults(f);
    ASSERT_TRUE(sendSignal()) << driver.errorText();
    EXPECT_TRUE(sawStatus("Waiting..."));
    EXPECT_EQ(device->testUnitReadies(), 8); // 3 busy and 1 ready, twice
    EXPECT_EQ(device->samples().at(0).data, bigEndian(sent));

    const auto held = holdSample(5);
    f.waits = 3;
    f.busyPolls = 1;
    faults(f);
    ASSERT_TRUE(receive(5));
    EXPECT_EQ(storeBytes(), littleEndian(held));
}

TEST_F(SmdiFaults, AFailingTestUnitReadyIsAnError) {
    VirtualSmdiSampler::Faults f;
    f.waits = 1;
    f.failPolls = true;
    faults(f);
    EXPECT_FALSE(sendSignal());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    EXPECT_EQ(device->testUnitReadies(), 1);
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
    EXPECT_EQ(device->samples().at(0).data, bigEndian(samples));
    store.clear();
    const auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, 20000u);
    EXPECT_EQ(driver.negotiatedPacketLength(), 4098u); // receive packets need only be even
    EXPECT_EQ(storeBytes(), littleEndian(samples));
}

class SmdiShortWait : public SmdiRig {
protected:
    static TSMIDIDriver::Options options() {
        auto o = fastOptions();
        o.waitLimit = std::chrono::milliseconds(300);
        return o;
    }
    SmdiShortWait() : SmdiRig(options()) {}
};

TEST_F(SmdiShortWait, ABusyUnitFailsAtTheWaitLimit) {
    VirtualSmdiSampler::Faults f;
    f.waits = 1;
    f.busyPolls = 1000000;
    device->setFaults(f);
    fillStore(test::testSignal(1000));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(send(args(2000)));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
}

TEST_F(SmdiShortWait, AbortWhileWaitingEndsAtTheNextPoll) {
    VirtualSmdiSampler::Faults f;
    f.waits = 1;
    f.busyPolls = 1000000;
    device->setFaults(f);
    fillStore(test::testSignal(1000));
    driver.clearError();
    driver.sendSample(args(2000));
    ASSERT_TRUE(runUntil(loop, [&] { return sawStatus("Waiting..."); }));
    driver.abort();
    ASSERT_TRUE(runUntil(loop, [&] { return doneSignals == 1 && !driver.busy(); }, std::chrono::milliseconds(250)));
    EXPECT_EQ(driver.errorText(), kAborted);
}

TEST_F(SmdiFaults, TheSamplerAbortingASendIsAnsweredAndEndsOnce) {
    VirtualSmdiSampler::Faults f;
    f.packetLength = 4096;
    f.abortAfterPackets = 2;
    faults(f);
    EXPECT_FALSE(sendSignal(10000));
    EXPECT_EQ(driver.errorText(), kAborted);
    const auto seen = device->messagesSeen();
    EXPECT_EQ(seen.back(), id::kAbortProcedure);
    EXPECT_TRUE(device->samples().empty());
}

TEST_F(SmdiFaults, TheSamplerAbortingAReceiveIsAcknowledgedAndTheStoreIsUntouched) {
    holdSample(0, 100000);
    fillStore({1, 2, 3});
    VirtualSmdiSampler::Faults f;
    f.abortAfterPackets = 2;
    faults(f);
    const auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 0);
    EXPECT_EQ(got->error, kAborted);
    EXPECT_EQ(device->messagesSeen().back(), id::kAck);
    EXPECT_EQ(storeBytes(), littleEndian({1, 2, 3}));
    EXPECT_TRUE(scratch.entries().empty());
}

TEST_F(SmdiFaults, DataPacketsWithTheWrongNumberOrLengthAreRefused) {
    holdSample(0, 100000);
    fillStore({9});
    VirtualSmdiSampler::Faults f;
    f.wrongDataPacketNumber = true;
    faults(f);
    auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 0);
    EXPECT_EQ(got->error, kCommunicationError);
    EXPECT_EQ(storeBytes(), littleEndian({9}));

    f = {};
    f.shortDataPacket = true;
    faults(f);
    got = receive(0);
    EXPECT_EQ(got->channels, 0);
    EXPECT_EQ(storeBytes(), littleEndian({9}));

    // A packet length of 0, or one beyond our buffer whose packets then cannot arrive whole.
    f = {};
    f.packetLength = 0;
    faults(f);
    EXPECT_EQ(receive(0)->error, kCommunicationError);
    f.packetLength = 0x40000;
    faults(f);
    EXPECT_EQ(receive(0)->error, kCommunicationError);
    EXPECT_EQ(storeBytes(), littleEndian({9}));
    // A good one still comes through.
    faults({});
    EXPECT_EQ(receive(0)->bytes, 200000u);
}

TEST_F(SmdiFaults, HeadersOutOfRangeAreRefusedBeforeAnythingIsReceived) {
    fillStore({4});
    EXPECT_EQ(receive(7)->error, kOutOfRange); // Message Reject: no such sample
    VirtualSmdiSampler::Sample s;
    s.data.assign(100, 0);
    s.bits = 8;
    device->putSample(0, s);
    EXPECT_EQ(receive(0)->error, kOutOfRange);
    s.bits = 16;
    s.channels = 3;
    device->putSample(0, s);
    EXPECT_EQ(receive(0)->error, kOutOfRange);
    s.channels = 1;
    s.periodNs = 0;
    device->putSample(0, s);
    EXPECT_EQ(receive(0)->error, kOutOfRange);
    s.periodNs = 22676;
    s.channels = 2;
    device->putSample(0, s);
    VirtualSmdiSampler::Faults f;
    f.claimedWords = 0x80000000u; // x 2 channels x 2 bytes: beyond 32 bits
    faults(f);
    EXPECT_EQ(receive(0)->error, kOutOfRange);
    f.claimedWords.reset();
    f.shortAnswer = 30; // a header cut before its name
    faults(f);
    EXPECT_EQ(receive(0)->error, kOutOfRange);
    EXPECT_EQ(storeBytes(), littleEndian({4}));
    faults({});
    const auto got = receive(0);
    EXPECT_EQ(got->sampleRate, 44099u); // round(1e9 / 22676), not cut to a multiple of 100
}

TEST_F(SmdiFaults, ACommandThatNeverEndsOrACheckConditionEndsTheOperation) {
    fillStore(test::testSignal(1000));
    bus->injectFault(kId, scsi::VirtualScsiFault::neverCompletes());
    EXPECT_FALSE(send(args(2000)));
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    bus->injectFault(kId, scsi::VirtualScsiFault::checkCondition(scsi::sense_key::kHardwareError, 0x44));
    EXPECT_FALSE(send(args(2000)));
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    bus->injectFault(kId, scsi::VirtualScsiFault::neverCompletes());
    EXPECT_FALSE(identify());
    holdSample(0);
    bus->injectFault(kId, scsi::VirtualScsiFault::hostError());
    EXPECT_EQ(receive(0)->error, kCommunicationError);
    bus->injectFault(kId, scsi::VirtualScsiFault::busy());
    EXPECT_TRUE(list().empty());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
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
    EXPECT_EQ(storeBytes(), littleEndian({5}));

    std::optional<std::vector<SamplerSampleEntry>> rows;
    driver.clearError();
    driver.listSamples([&](const std::vector<SamplerSampleEntry>& r) { rows = r; });
    driver.abort();
    ASSERT_TRUE(runUntil(loop, [&] { return rows.has_value() && !driver.busy(); }));
    EXPECT_TRUE(rows->empty());
    EXPECT_EQ(driver.errorText(), kAborted);
}

TEST_F(SmdiFaults, GarbageWhileListingEndsWithTheRowsSoFar) {
    holdSample(0, 10);
    holdSample(1, 10);
    VirtualSmdiSampler::Faults f;
    f.dropTag = true;
    faults(f);
    auto rows = list();
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    faults({});
    rows = list();
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_FALSE(driver.hasError());
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
