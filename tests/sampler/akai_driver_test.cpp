#include "ScsiSamplerRig.h"
#include "sampler/akai/AkaiS2000Driver.h"
#include "sampler/virtual/VirtualAkaiSampler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace cleavix::sampler::akai {
namespace {

using scsi::VirtualAkaiSampler;
using scsi::testkit::runUntil;
using test::le16Bytes;

constexpr uint8_t kId = VirtualAkaiSampler::kDefaultId;

class AkaiDriver : public scsi::testkit::ScsiSamplerRig<TAkaiS2000Driver> {
protected:
    AkaiDriver()
        : ScsiSamplerRig([](scsi::ScsiLayer& onLayer, jobs::MainLoop&, test::ScriptedPrompter& asker) {
              return TAkaiS2000Driver(onLayer, asker);
          }) {
        bus->attach(kId, device);
        SamplerProfile profile;
        profile.deviceType = 5;
        profile.scsiDevice = kId;
        driver.setProfile(profile);
    }

    SendSampleArgs mono(uint32_t bytes, uint32_t rate = 44100) {
        SendSampleArgs args;
        args.name = "kick";
        args.length = bytes;
        args.sampleRate = rate;
        args.single = true;
        args.rootKey = 60;
        return args;
    }

    std::shared_ptr<VirtualAkaiSampler> device = std::make_shared<VirtualAkaiSampler>(std::string{});
};

TEST_F(AkaiDriver, IdentifiesTheSamplerAndReportsAFailureThroughTheContinuation) {
    bool continued = false;
    driver.checkDevice([&] { continued = true; });
    ASSERT_TRUE(runUntil(loop, [&] { return continued; }));
    EXPECT_FALSE(driver.hasError());
    EXPECT_TRUE(prompter.asked.empty());

    // Nothing at the ID: the continuation still runs, with the error set.
    driver.setProfile({.scsiDevice = 5});
    continued = false;
    driver.checkDevice([&] { continued = true; });
    ASSERT_TRUE(runUntil(loop, [&] { return continued; }));
    EXPECT_TRUE(driver.hasError());
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0], "Error communicating with sampler");
}

TEST_F(AkaiDriver, SendListReceiveRoundTripsAt22050And44100) {
    const auto a = test::testSignal(3000, 7);
    fillStore(a);
    auto args = mono(6000, 22050);
    args.name = "Don't stop";
    ASSERT_TRUE(send(args));
    const auto b = test::testSignal(1250, 9);
    fillStore(b);
    ASSERT_TRUE(send(mono(2500, 44100)));
    EXPECT_EQ(statuses.back(), "Inactive");
    EXPECT_TRUE(sawStatus("Sending # 100.00%"));
    EXPECT_FALSE(device->modeOn());

    const auto held = device->samples();
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].name, "DON T STOP  ");
    EXPECT_EQ(held[0].rate, 0);
    EXPECT_EQ(held[1].rate, 1);
    EXPECT_EQ(held[0].data, le16Bytes(a));
    EXPECT_EQ(held[1].data, le16Bytes(b));

    const auto rows = list();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "DON T STOP");
    EXPECT_EQ(rows[0].sampleRate, 22050u);
    EXPECT_EQ(rows[0].lengthWords, 3000u);
    EXPECT_EQ(rows[1].sampleRate, 44100u);
    EXPECT_EQ(listingSize(rows[0].lengthWords * 2), "5kb");
    EXPECT_EQ(listingSize(1000), "1000 bytes");

    auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 1);
    EXPECT_EQ(got->sampleRate, 22050u);
    EXPECT_EQ(got->bytes, 6000u);
    EXPECT_EQ(storeBytes(), le16Bytes(a));
    EXPECT_EQ(driver.receivedName(), "DON T STOP");
    got = receive(1);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->sampleRate, 44100u);
    EXPECT_EQ(storeBytes(), le16Bytes(b));
    EXPECT_TRUE(scratch.entries().empty()); // the working file is gone
    EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(AkaiDriver, SendsInChunksOf1024) {
    fillStore(test::testSignal(1250));
    ASSERT_TRUE(send(mono(2500)));
    // 1024, 1024 and 452 bytes of data, as three progress steps.
    EXPECT_EQ(statusesStartingWith("Sending"),
              (std::vector<std::string>{"Sending # 40.96%", "Sending # 81.92%", "Sending # 100.00%"}));
}

TEST_F(AkaiDriver, RefusesWhatTheSamplerCannotTake) {
    fillStore(test::testSignal(2000));
    auto stereo = mono(2000);
    stereo.channels = 2;
    stereo.keepStereo = true;
    EXPECT_FALSE(send(stereo));
    EXPECT_EQ(prompter.asked.back(), "Akai driver cannot handle stereo at this time!");
    EXPECT_FALSE(send(mono(2000, 48000)));
    EXPECT_EQ(prompter.asked.back(), "Akai samplers take 22050 or 44100 Hz samples");
    EXPECT_FALSE(send(mono(0)));
    EXPECT_EQ(prompter.asked.back(), "The sample is empty");
    // Exactly twice the free memory in words is refused; one word more memory takes it.
    device->setFreeWords(1000);
    EXPECT_FALSE(send(mono(2000)));
    EXPECT_EQ(prompter.asked.back(), "Insufficient memory in sampler!");
    device->setFreeWords(1001);
    EXPECT_TRUE(send(mono(2000)));
    EXPECT_EQ(device->samples().size(), 1u);
    EXPECT_FALSE(device->modeOn());
}

TEST_F(AkaiDriver, HandshakeAfterTheHeader) {
    struct Case {
        const char* name;
        VirtualAkaiSampler::Faults faults;
        bool stored;
    };
    const Case cases[] = {
        {"three WAITs, then ACK", {.waits = 3}, true},
        {"WAIT for ever: a bounded poll gives up", {.waits = -1}, false},
        {"NAK", {.nakAfterHeader = true}, false},
        {"malformed", {.malformedHandshake = true}, false},
    };
    fillStore(test::testSignal(600));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = device->samples().size();
        device->setFaults(c.faults);
        EXPECT_EQ(send(mono(1200)), c.stored);
        EXPECT_EQ(device->samples().size(), before + (c.stored ? 1 : 0));
        if (!c.stored) {
            EXPECT_EQ(prompter.asked.back(), "Error communicating with sampler!");
        }
        EXPECT_FALSE(device->modeOn());
    }
}

TEST_F(AkaiDriver, AbortBetweenChunksEndsTheSendAsAFailure) {
    fillStore(test::testSignal(20000));
    driver.setStatusPanel([this](const std::string& text) {
        if (text.rfind("Sending", 0) == 0) {
            driver.abort();
        }
    });
    EXPECT_FALSE(send(mono(40000)));
    EXPECT_EQ(prompter.asked.back(), "Operation aborted!");
    EXPECT_TRUE(device->samples().empty());
    EXPECT_FALSE(device->modeOn());
}

// A receive against one fault: it completes with zeros and the prompter's text, the store and
// the sampler's message mode as they were, no working file left; the next one comes through.
struct ReceiveFault {
    const char* name;
    VirtualAkaiSampler::Faults faults;
    ::testing::Matcher<std::string> text; // what the prompter showed last
    int32_t number = 0;
    int64_t freeSpace = -1; // for the scratch file; negative: no limit
    size_t words = 5000;    // of the sample the sampler holds
};

void PrintTo(const ReceiveFault& c, std::ostream* out) { *out << c.name; }

class AkaiReceiveFaults : public AkaiDriver, public ::testing::WithParamInterface<ReceiveFault> {};

TEST_P(AkaiReceiveFaults, CompleteWithZerosAndKeepTheStore) {
    const auto& c = GetParam();
    device->addSample({"LOOP", 1, 60, le16Bytes(test::testSignal(c.words))});
    const auto before = test::testSignal(10, 3);
    fillStore(before);
    device->setFaults(c.faults);
    sample::setFreeSpaceForTesting(c.freeSpace);
    auto got = receive(c.number);
    sample::setFreeSpaceForTesting(-1);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 0);
    EXPECT_EQ(got->bytes, 0u);
    EXPECT_EQ(got->sampleRate, 0u);
    EXPECT_FALSE(got->error.empty());
    EXPECT_TRUE(driver.hasError());
    ASSERT_FALSE(prompter.asked.empty());
    EXPECT_THAT(prompter.asked.back(), c.text);
    EXPECT_EQ(storeBytes(), le16Bytes(before));
    EXPECT_TRUE(scratch.entries().empty());
    EXPECT_FALSE(device->modeOn());
    // Without the fault, a sample it holds comes through.
    device->setFaults({});
    device->addSample({"NEXT", 1, 60, le16Bytes(test::testSignal(700, 8))});
    got = receive(int32_t(device->samples().size() - 1));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, 1400u);
    EXPECT_EQ(storeBytes(), le16Bytes(test::testSignal(700, 8)));
}

const ReceiveFault kReceiveFaults[] = {
    {"CheckConditionInTheData", {.checkConditionAt = 13}, "Operation aborted!"}, // after three chunks
    {"ShortAnswers", {.shortAnswers = true}, "Error communicating with sampler!"},
    {"AbsurdPendingLength", {.absurdPending = true}, "Error communicating with sampler!"},
    {"DataShort", {.dataShortBy = 10}, "Error communicating with sampler!"},
    {"PendingNeverZero", {.pendingNeverZero = true}, "Error communicating with sampler!"},
    // A length of 0 is a failure, not a division by zero.
    {"EmptySample", {}, "Error communicating with sampler!", 0, -1, 0},
    {"NoSuchSample", {}, "Error communicating with sampler!", 9},
    {"NegativeNumber", {}, "Operation aborted!", -1},
    // The 10000 bytes stop after two chunks.
    {"FullScratchFolder", {},
     ::testing::AllOf(::testing::StartsWith("Cannot write "), ::testing::HasSubstr("cleavix-akai-"),
                      ::testing::EndsWith("No space left on device")),
     0, 3000},
};

INSTANTIATE_TEST_SUITE_P(Faults, AkaiReceiveFaults, ::testing::ValuesIn(kReceiveFaults),
                         [](const auto& which) { return std::string(which.param.name); });

TEST_F(AkaiDriver, UserAbortAsTheDataArriveKeepsTheStore) {
    device->addSample({"LOOP", 1, 60, le16Bytes(test::testSignal(5000))});
    const std::vector<int16_t> before = test::testSignal(10, 3);
    fillStore(before);
    driver.setStatusPanel([this](const std::string& text) {
        if (text.rfind("Receiving", 0) == 0) {
            driver.abort();
        }
    });
    const auto got = receive(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->channels, 0);
    EXPECT_EQ(storeBytes(), le16Bytes(before));
    EXPECT_FALSE(device->modeOn());
}

TEST_F(AkaiDriver, ListingStopsOnAFailedCommand) {
    device->addSample({"A", 0, 60, {1, 2}});
    device->addSample({"B", 0, 60, {1, 2}});
    VirtualAkaiSampler::Faults faults;
    faults.checkConditionAt = 9; // during the second header
    device->setFaults(faults);
    const auto rows = list();
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_TRUE(driver.hasError());
    EXPECT_EQ(prompter.asked.back(), "Operation aborted!");
}

TEST_F(AkaiDriver, MapsEightAndFortySamples) {
    MapSamplesArgs args;
    args.programName = "pads";
    args.baseSampleName = "strings.wav";
    args.baseNote = 36;
    args.keySpan = 2;
    args.sampleCount = 8;
    ASSERT_TRUE(map(args));
    auto programs = device->programs();
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].name, "PADS        ");
    EXPECT_EQ(programs[0].baseNote, 36);
    ASSERT_EQ(programs[0].keygroups.size(), 8u);
    EXPECT_EQ(programs[0].keygroups[0].sampleName, "STRINGS001  ");
    EXPECT_EQ(programs[0].keygroups[0].lowKey, 35);
    EXPECT_EQ(programs[0].keygroups[7].highKey, 36 + 7 * 3 + 1);
    EXPECT_EQ(programs[0].lastKey, 36 + 7 * 3 + 1);
    EXPECT_EQ(driver.lastMapMessages().size(), 9u);

    // 40 white keys from 60 pass 127: keys are clamped and the last key is the highest assigned.
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("s" + std::to_string(i));
    }
    driver.setNameList(names);
    args.whiteKeysOnly = true;
    args.baseNote = 60;
    ASSERT_TRUE(map(args));
    programs = device->programs();
    ASSERT_EQ(programs.size(), 2u);
    ASSERT_EQ(programs[1].keygroups.size(), 40u);
    EXPECT_EQ(programs[1].keygroups[39].sampleName, "S39         ");
    EXPECT_EQ(programs[1].keygroups[39].lowKey, 127);
    EXPECT_EQ(programs[1].lastKey, 127);
    EXPECT_FALSE(device->modeOn());

    // One sample more would put a root beyond 127: refused before anything is sent.
    names.push_back("s40");
    driver.setNameList(names);
    EXPECT_FALSE(map(args));
    EXPECT_EQ(prompter.asked.back(), "The samples do not fit on the keyboard from this base note");
    EXPECT_EQ(device->programs().size(), 2u);
}

TEST_F(AkaiDriver, ProgramEndsAtTheHighestKeyAssigned) {
    // White keys from 60, five samples: 60, 62, 64, 65, 67.
    MapSamplesArgs args;
    args.programName = "w";
    args.baseSampleName = "w";
    args.baseNote = 60;
    args.whiteKeysOnly = true;
    args.sampleCount = 5;
    ASSERT_TRUE(map(args));
    const auto programs = device->programs();
    ASSERT_EQ(programs.size(), 1u);
    std::vector<int> roots;
    for (const auto& k : programs[0].keygroups) {
        roots.push_back(k.lowKey);
        EXPECT_EQ(k.lowKey, k.highKey);
    }
    EXPECT_EQ(roots, (std::vector<int>{60, 62, 64, 65, 67}));
    EXPECT_EQ(programs[0].lastKey, 67);
}

TEST_F(AkaiDriver, RefusedProgramOrKeygroupAndAbortEndTheMap) {
    MapSamplesArgs args;
    args.programName = "x";
    args.baseSampleName = "x";
    args.sampleCount = 3;
    VirtualAkaiSampler::Faults faults;
    faults.refuseProgram = true;
    device->setFaults(faults);
    EXPECT_FALSE(map(args));
    EXPECT_EQ(prompter.asked.back(), "Error writing program!");
    faults = {};
    faults.refuseKeygroup = true;
    device->setFaults(faults);
    EXPECT_FALSE(map(args));
    EXPECT_EQ(prompter.asked.back(), "Error writing keygroup!");
    device->setFaults({});
    driver.setStatusPanel([](const std::string&) {});
    // Abort between keygroups.
    bool finished = false;
    args.finished = [&] { finished = true; };
    driver.clearError();
    driver.mapSamples(args);
    driver.abort();
    ASSERT_TRUE(runUntil(loop, [&] { return finished; }));
    EXPECT_TRUE(driver.hasError());
    EXPECT_EQ(prompter.asked.back(), "Operation aborted!");
    EXPECT_FALSE(device->modeOn());
}

TEST_F(AkaiDriver, VendorCommandsNeedTheModeOn) {
    // The emulator refuses a status read while the mode is off.
    std::array<uint8_t, 6> status{};
    scsi::Request request{.target = kId, .direction = scsi::Direction::In, .cdb = {0x0D, 0, 0, 0, 0, 0},
                          .buffer = status.data(), .length = 6};
    auto done = scsi::testkit::execute(loop, layer, request);
    ASSERT_EQ(done.count, 1);
    EXPECT_EQ(done.last.targetStatus, scsi::target_status::kCheckCondition);

    // It answers INQUIRY as an AKAI S2000 processor device.
    std::vector<uint8_t> inquiry(96);
    request.cdb = scsi::inquiryCdb();
    request.buffer = inquiry.data();
    request.length = 96;
    done = scsi::testkit::execute(loop, layer, request);
    ASSERT_EQ(done.count, 1);
    const auto parsed = scsi::parseInquiry(std::span(inquiry.data(), done.last.transferred));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->vendor, "AKAI");
    EXPECT_EQ(parsed->product, "S2000");
    EXPECT_EQ(parsed->peripheralType, 3);
}

TEST(AkaiEmulator, KeepsItsStateInTheFolderGiven) {
    test::TempDir dir;
    const std::string file = dir.file("akai-s2000.state");
    {
        VirtualAkaiSampler first(file);
        first.addSample({"KEPT", 1, 61, {1, 2, 3, 4}});
        first.setFreeWords(777);
    }
    VirtualAkaiSampler second(file);
    ASSERT_EQ(second.samples().size(), 1u);
    EXPECT_EQ(second.samples()[0].name, "KEPT");
    EXPECT_EQ(second.samples()[0].data, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(second.freeWords(), 777u);
    // A damaged file is ignored.
    test::writeFile(file, {'x', 'y'});
    VirtualAkaiSampler third(file);
    EXPECT_TRUE(third.samples().empty());
}

} // namespace
} // namespace cleavix::sampler::akai
