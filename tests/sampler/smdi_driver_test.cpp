// The SMDI driver's round trips through the emulated SMDI samplers (generic and E-mu): identify,
// send, list and receive, mono and stereo, from a sample under one packet to 5 MB.
#include "SmdiRig.h"

namespace cleavix::sampler::smdi {
namespace {

using namespace testrig;

class SmdiDriver : public SmdiRig {};

TEST_F(SmdiDriver, IdentifiesAnSmdiSamplerAndTellsWhatIsNot) {
    EXPECT_TRUE(identify());
    ASSERT_TRUE(driver.inquiry());
    EXPECT_EQ(driver.inquiry()->vendor, "CLEAVIX");

    // Nothing at the ID, a disk, and a processor that does not speak SMDI.
    driver.setProfile({.scsiDevice = 5});
    EXPECT_FALSE(identify());
    EXPECT_EQ(driver.errorText(), kCommunicationError);
    bus->attach(5, std::make_shared<scsi::VirtualDiskTarget>());
    EXPECT_FALSE(identify());
    EXPECT_EQ(driver.errorText(), kCommunicationError);

    useFlavour(Flavour::Generic);
    VirtualSmdiSampler::Faults faults;
    faults.notSmdi = true;
    device->setFaults(faults);
    EXPECT_FALSE(identify());
    EXPECT_EQ(driver.errorText(), kNotCompliant);
    // A tagged answer that is not Slave Identify.
    faults = {};
    faults.rejectHeaders = true;
    device->setFaults(faults);
    EXPECT_TRUE(identify());
}

TEST_F(SmdiDriver, ShortInquiryAnswersAreBlankFilled) {
    bus->injectFault(kId, scsi::VirtualScsiFault::shortTransfer(12));
    EXPECT_TRUE(identify());
    ASSERT_TRUE(driver.inquiry());
    EXPECT_EQ(driver.inquiry()->peripheralType, scsi::kProcessorDevice);
    EXPECT_EQ(driver.inquiry()->vendor, "CLEA"); // what came of the vendor, the rest blank
    EXPECT_EQ(driver.inquiry()->product, "");
}

TEST_F(SmdiDriver, MonoAndStereoRoundTripByteExact) {
    const auto mono = test::testSignal(4096, 3); // 8 KiB
    fillStore(mono);
    auto a = args(8192, 1, 22050);
    a.name = "Snare 1";
    ASSERT_TRUE(send(a)) << driver.errorText();
    EXPECT_EQ(device->samples().at(0).data, test::be16Bytes(mono));
    EXPECT_EQ(device->samples().at(0).periodNs, 45351u); // round(1e9 / 22050)
    EXPECT_EQ(device->samples().at(0).name, "Snare 1");
    EXPECT_TRUE(sawStatus("Sending: 100%"));

    const auto stereo = test::testSignal(60000, 5); // 30000 frames
    fillStore(stereo);
    a = args(60000, 2, 44100);
    a.sampleNumber = 1;
    ASSERT_TRUE(send(a)) << driver.errorText();
    EXPECT_EQ(device->samples().at(1).channels, 2);
    EXPECT_EQ(device->samples().at(1).data, test::be16Bytes(stereo));

    store.clear();
    auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 1);
    EXPECT_EQ(got->sampleRate, 22050u); // round(1e9 / 45351), not cut to 22000
    EXPECT_EQ(got->bytes, 8192u);
    EXPECT_EQ(storeBytes(), test::le16Bytes(mono));
    EXPECT_EQ(driver.receivedName(), "Snare 1");
    got = receive(1);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 2);
    EXPECT_EQ(got->sampleRate, 44099u); // round(1e9 / 22676); the dialog's rounding makes it 44100
    EXPECT_EQ(storeBytes(), test::le16Bytes(stereo));
    EXPECT_TRUE(scratch.entries().empty()); // the working file is gone
}

TEST_F(SmdiDriver, ASampleUnderOnePacketAndOneOfFiveMegabytes) {
    const auto tiny = test::testSignal(10, 1);
    fillStore(tiny);
    ASSERT_TRUE(send(args(20))) << driver.errorText();
    EXPECT_EQ(device->packetsReceived(), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(sawStatus("Sending: 100%"));
    auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(storeBytes(), test::le16Bytes(tiny));

    const auto big = test::testSignal(2621440, 11); // 5 MB
    fillStore(big);
    auto a = args(5242880);
    a.sampleNumber = 2;
    ASSERT_TRUE(send(a, std::chrono::milliseconds(60000))) << driver.errorText();
    EXPECT_EQ(driver.negotiatedPacketLength(), 0x10000u);
    EXPECT_EQ(device->packetsReceived().size(), 1u + 80u);
    got = receive(2, std::chrono::milliseconds(60000));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, 5242880u);
    EXPECT_EQ(storeBytes(), test::le16Bytes(big));
}

TEST_F(SmdiDriver, AMultipleOfThePacketLengthTakesExactlyThatManyPackets) {
    hold(0, std::vector<uint8_t>(3 * 32768, 0x5A));
    const size_t before = device->messagesSeen().size();
    ASSERT_TRUE(receive(0));
    const auto seen = device->messagesSeen();
    EXPECT_EQ(std::count(seen.begin() + std::ptrdiff_t(before), seen.end(), id::kSendNextPacket), 3);
    EXPECT_EQ(store.size(), 3 * 32768);
}

TEST_F(SmdiDriver, SendProgressCountsPacketsAndBatchTextsCarryTheNumber) {
    fillStore(test::testSignal(0x10000 + 100, 2)); // two full packets and a short one
    auto a = args(2 * (0x10000 + 100));
    ASSERT_TRUE(send(a));
    EXPECT_EQ(statusesStartingWith("Sending"),
              (std::vector<std::string>{"Sending: 0.00%", "Sending: 49.92%", "Sending: 100%"}));

    statuses.clear();
    a.single = false;
    a.displayNumber = 7;
    ASSERT_TRUE(send(a));
    // The last, short packet shows nothing.
    EXPECT_EQ(statusesStartingWith("Sending"), (std::vector<std::string>{"Sending # 7: 0.00%", "Sending # 7: 49.92%"}));
}

TEST_F(SmdiDriver, ListsTheTableOfSamplesAndStopsAtTheFirstGap) {
    hold(0, std::vector<uint8_t>(2000, 1), "short"); // 1000 words
    VirtualSmdiSampler::Sample b;
    b.name = "wide";
    b.channels = 2;
    b.periodNs = 20833;
    b.data.assign(4096, 2); // 1024 frames... 2048 words
    device->putSample(1, b);
    hold(3, std::vector<uint8_t>(2000, 1), "short"); // after a gap: not listed
    const auto rows = list();
    EXPECT_FALSE(driver.hasError());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "short");
    EXPECT_EQ(sizeText(rows[0].lengthWords), "2000 bytes");
    EXPECT_EQ(rows[1].channels, 2);
    EXPECT_EQ(rows[1].lengthWords, 2048u);
    EXPECT_EQ(rows[1].sampleRate, 48001u);
    EXPECT_EQ(sizeText(1024), "2kb");
    EXPECT_TRUE(sawStatus("Retrieving info #1"));
    const auto& table = driver.sampleTable();
    EXPECT_TRUE(table[1].filled);
    EXPECT_EQ(table[1].bits, 16);
    EXPECT_FALSE(table[3].filled);
    EXPECT_EQ(driver.copySampleList().size(), 2u);

    // An empty sampler says so.
    useFlavour(Flavour::Generic);
    EXPECT_TRUE(list().empty());
    EXPECT_TRUE(driver.hasError());
    EXPECT_EQ(driver.errorText(), kNoSamples);
}

TEST_F(SmdiDriver, TheTableIsIndexedByTheWholeSampleNumber) {
    // Sample 256 must not land on entry 0, nor 1024 be lost.
    for (uint32_t n = 0; n <= 1024; ++n) {
        hold(n, {0, 0}, "s" + std::to_string(n));
    }
    hold(1025, {0, 0});
    const auto rows = list();
    EXPECT_FALSE(driver.hasError());
    ASSERT_EQ(rows.size(), 1025u); // stops at the table's end, 1025 is not asked for
    EXPECT_EQ(driver.sampleTable()[0].name, "s0");
    EXPECT_EQ(driver.sampleTable()[256].name, "s256");
    EXPECT_EQ(driver.sampleTable()[1024].name, "s1024");
    EXPECT_EQ(rows.back().number, 1024);
}

TEST_F(SmdiDriver, EmuNumbersFromOneKeepsKeyRangesAndUsesItsPacketLength) {
    useFlavour(Flavour::Emu);
    EXPECT_TRUE(identify());
    EXPECT_EQ(driver.inquiry()->vendor, "E-MU SYS"); // the vendor field holds 8 characters
    const auto samples = test::testSignal(20000, 8);
    fillStore(samples);
    auto a = args(40000);
    a.rootKey = 60;
    a.lowKey = 58;
    a.highKey = 62;
    ASSERT_TRUE(send(a)) << driver.errorText();
    EXPECT_EQ(driver.negotiatedPacketLength(), kEmuPacket);
    auto held = device->samples().at(1);
    ASSERT_TRUE(held.rootKey);
    EXPECT_EQ(*held.rootKey, 60);
    EXPECT_EQ(*held.lowKey, 58);
    EXPECT_EQ(*held.highKey, 62);
    EXPECT_EQ(held.data, test::be16Bytes(samples));

    // Without a root key the plain header: no keys kept.
    a.rootKey = 0;
    a.sampleNumber = 2;
    ASSERT_TRUE(send(a));
    EXPECT_FALSE(device->samples().at(2).rootKey);

    // Keys beyond 127 are clamped before they go out.
    a.rootKey = 200;
    a.highKey = 255;
    a.sampleNumber = 3;
    ASSERT_TRUE(send(a));
    EXPECT_EQ(*device->samples().at(3).rootKey, 127);
    EXPECT_EQ(*device->samples().at(3).highKey, 127);

    const auto rows = list();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].number, 1);
    auto got = receive(1);
    ASSERT_TRUE(got);
    EXPECT_EQ(storeBytes(), test::le16Bytes(samples));
}

TEST_F(SmdiDriver, AGenericSamplerGetsThePlainHeaderEvenWithKeys) {
    fillStore(test::testSignal(100));
    auto a = args(200);
    a.rootKey = 60;
    ASSERT_TRUE(send(a));
    EXPECT_FALSE(device->samples().at(0).rootKey);
}

TEST_F(SmdiDriver, SendsFromAFileCallNextAndAnEightBitFileGoesAsSixteenBits) {
    sample::TFileAndMemoryStream file;
    const std::vector<uint8_t> bytes = {0x00, 0x80, 0xFF, 0x40};
    file.writeAll(bytes.data(), bytes.size());
    driver.setSourceStream(&file);
    auto a = args(8);
    a.bits = 8;
    a.fromFile = true;
    int nexts = 0;
    int finishes = 0;
    a.next = [&] { ++nexts; };
    a.finished = [&] { ++finishes; };
    driver.clearError();
    driver.sendSample(a);
    ASSERT_TRUE(runUntil(loop, [&] { return nexts + finishes > 0 && !driver.busy(); }));
    settle();
    EXPECT_FALSE(driver.hasError()) << driver.errorText();
    EXPECT_EQ(nexts, 1);
    EXPECT_EQ(finishes, 0);
    EXPECT_EQ(doneSignals, 0);
    const auto held = device->samples().at(0);
    EXPECT_EQ(held.bits, 16);
    EXPECT_EQ(held.data, (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x00, 0x7F, 0x00, 0xC0, 0x00}));
}

TEST_F(SmdiDriver, AnOperationWhileOneRunsEndsAtOnceAndLeavesTheOtherAlone) {
    fillStore(test::testSignal(100000));
    driver.clearError();
    driver.sendSample(args(200000));
    std::optional<ReceivedSample> second;
    driver.receiveSample(0, [&](const ReceivedSample& r) { second = r; });
    ASSERT_TRUE(runUntil(loop, [&] { return second.has_value() && doneSignals == 1 && !driver.busy(); }));
    EXPECT_EQ(second->channels, 0);
    EXPECT_EQ(device->samples().at(0).data.size(), 200000u);
}

} // namespace
} // namespace cleavix::sampler::smdi
