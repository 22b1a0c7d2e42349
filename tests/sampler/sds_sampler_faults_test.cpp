// Every misbehaviour of the emulated sampler ends as it should: recovered byte-exact, or failed
// with its text within the time-out, never reported as success.
#include "SdsRig.h"

#include "sampler/sds/SdsCodec.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <random>

using namespace cleavix;
using namespace cleavix::test::sds;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

const sampler::sds::SdsTimeouts kShort{400ms, 400ms, 400ms};

std::vector<int16_t> samples(size_t n = 200) { return cleavix::test::testSignal(n, 11); }

// A rig on the emulated sampler told to misbehave, with short time-outs; each run is timed.
struct Faulty {
    explicit Faulty(const std::string& faults, bool openLoop = false) : rig(faults) {
        rig.useProfile(kSampler, kSampler, openLoop);
        rig.driver.setTimeouts(kShort);
    }
    template <class Run>
    auto timed(Run run) {
        const auto start = Clock::now();
        auto result = run();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    }
    Rig rig;
    double seconds = 0;
};

struct Sending : Faulty {
    using Faulty::Faulty;
    sampler::sds::SdsSendReport send() {
        return timed([this] { return rig.send(samples(), 44100, 5); });
    }
    bool stored() const {
        const auto got = rig.sampler->sample(5);
        return got && got->samples == samples();
    }
    bool sentCancel() {
        const auto sent = rig.sentMessages();
        return std::any_of(sent.begin(), sent.end(),
                           [](const auto& m) { return m.size() == 6 && m[3] == sampler::sds::kSubCancel; });
    }
};

// The sampler holds sample 9; the target holds four bytes of an earlier receive.
struct Receiving : Faulty {
    explicit Receiving(const std::string& faults, bool openLoop = false) : Faulty(faults, openLoop) {
        rig.sampler->putSample(9, {.samples = samples()});
        const uint8_t old[] = {1, 2, 3, 4};
        rig.received.writeAll(old, sizeof old);
    }
    sampler::ReceivedSample receive(int32_t number = 9) {
        return timed([&] { return rig.receive(number); });
    }
    bool targetUntouched() const { return rig.received.size() == 4; }
};

void expectFailure(const sampler::sds::SdsSendReport& report, Sending& s, const std::string& text) {
    EXPECT_EQ(report.error, text);
    EXPECT_TRUE(report.aborted);
    EXPECT_TRUE(s.rig.driver.hasError());
    EXPECT_EQ(s.rig.driver.errorText(), text);
}

void expectFailure(const sampler::ReceivedSample& result, Receiving& r, const std::string& text) {
    EXPECT_EQ(result.channels, 0);
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_EQ(result.sampleRate, 0u);
    EXPECT_EQ(result.error, text);
    EXPECT_TRUE(r.rig.driver.hasError());
    EXPECT_TRUE(r.targetUntouched()) << "a failed receive replaced the target";
}

} // namespace

// ---- the sampler taking our dump ----

// One fault of the sampler taking our dump: recovered from and stored once, or failed with its
// text, a Cancel sent and nothing stored.
struct SendCase {
    const char* fault;
    std::string error{};   // empty: the send succeeds
    unsigned naks = 0;
    unsigned resends = 0;
    unsigned waits = 0;
    double atLeast = 0;    // seconds the send must take
    double atMost = 60;
    std::string shown{};   // a status text the send shows
};

TEST(SdsSamplerFaults, SendsEndAsTheirFaultDemands) {
    const std::string noAnswer = "No answer from the sampler within 400 ms";
    const SendCase cases[] = {
        {"nak:3", "", 1, 1, 0, 0, 60, "Resending packet 3"},
        {"nak:header,nak:2x9", "", 10, 10},
        {"nak:all", "The sampler refused packet 0 ten times", 10, 9},
        // Held for the sampler's second, longer than the 400 ms time-out.
        {"wait:2", "", 0, 0, 1, 0.9},
        {"dupack:header,dupack:1", ""},
        {"cancel:2", "The sampler cancelled the transfer"},
        // The time-out, then the drain of the closing output.
        {"silence", noAnswer, 0, 0, 0, 0, 2.5},
        // An acknowledgement with the wrong number does not count; a late one counts only inside
        // the time-out.
        {"wrongack:2", noAnswer},
        {"lateack:1@900", noAnswer},
        {"lateack:1@100", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sending s(c.fault);
        const auto report = s.send();
        if (c.error.empty()) {
            EXPECT_EQ(report.error, "");
            EXPECT_TRUE(s.stored());
        } else {
            expectFailure(report, s, c.error);
            EXPECT_FALSE(s.rig.sampler->sample(5));
        }
        EXPECT_EQ(report.naks, c.naks);
        EXPECT_EQ(report.resends, c.resends);
        EXPECT_EQ(report.waits, c.waits);
        EXPECT_EQ(s.sentCancel(), !c.error.empty());
        EXPECT_GE(s.seconds, c.atLeast);
        EXPECT_LT(s.seconds, c.atMost);
        if (!c.shown.empty()) {
            EXPECT_NE(std::find(s.rig.statuses.begin(), s.rig.statuses.end(), c.shown), s.rig.statuses.end());
        }
    }
}

TEST(SdsSamplerFaults, WaitForEverEndsOnAbort) {
    Sending s("wait:header@never");
    bool ended = false;
    s.rig.store.writeAll(samples().data(), 400);
    s.rig.driver.setSampleStore(&s.rig.store);
    s.rig.driver.setDoneEvent([&] { ended = true; });
    sampler::SendSampleArgs args;
    args.length = 400;
    s.rig.driver.sendSample(args);
    s.rig.runUntil([&] { return s.rig.driver.lastSend().waits == 1; }, std::chrono::seconds(10));
    s.rig.runUntil([] { return false; }, std::chrono::seconds(1)); // well past the time-out
    EXPECT_FALSE(ended);
    const auto abortAt = Clock::now();
    s.rig.driver.abort();
    ASSERT_TRUE(s.rig.runUntil([&] { return ended; }, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - abortAt).count(), 0.5);
    EXPECT_EQ(s.rig.driver.errorText(), "Transfer aborted");
    EXPECT_TRUE(s.sentCancel());
}

TEST(SdsSamplerFaults, AbortedSendFromAFileStillEndsItsBatchStep) {
    Sending s("silence");
    sample::TFileAndMemoryStream file;
    file.writeAll(samples().data(), 400);
    s.rig.driver.setSourceStream(&file);
    sampler::SendSampleArgs args;
    args.fromFile = true;
    args.length = 400;
    const auto report = s.rig.runSend(args); // waits for next()
    EXPECT_NE(report.error, "");
    EXPECT_TRUE(s.rig.driver.hasError());
}

// ---- the sampler sending its own dump ----

TEST(SdsSamplerFaults, RecoverableDumpFaultsArriveByteExact) {
    for (const std::string fault : {"badsum:1", "repeat:2", "short:1", "nof7:2", "garbage", "filler", "extra",
                                    "realtime", "badsum:header", "dupack:0"}) {
        SCOPED_TRACE(fault);
        Receiving r(fault);
        const auto result = r.receive();
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.channels, 1);
        EXPECT_EQ(result.sampleRate, 44099u);
        EXPECT_EQ(result.bytes, 400u);
        EXPECT_EQ(r.rig.receivedSamples(), samples());
    }
}

TEST(SdsSamplerFaults, ReceivesThatCannotBeTaken) {
    struct Case {
        const char* fault;
        int32_t number;
        std::string text;
    };
    const Case cases[] = {
        {"bits:8", 9, "Incorrect sample format (must be 16 bit!)"},
        {"bits:24", 9, "Incorrect sample format (must be 16 bit!)"},
        {"period0", 9, "The dump header gives a sample period of 0"},
        {"length0", 9, "The dump header gives a sample length of 0"},
        {"channel:5", 9, "No dump from the sampler within 400 ms"},
        {"silence", 9, "No dump from the sampler within 400 ms"},
        {"", 44, "No dump from the sampler within 400 ms"}, // a sample it does not have
        {"skip:2", 9, "Packet 3 arrived damaged or out of order ten times"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Receiving r(c.fault);
        const auto result = r.receive(c.number);
        expectFailure(result, r, c.text);
        EXPECT_LT(r.seconds, 3.0);
        if (std::string(c.fault) == "skip:2") {
            EXPECT_GE(r.rig.sampler->stats().cancelsReceived, 1u);
        }
    }
}

TEST(SdsSamplerFaults, OpenLoopReceiveAfterTheSamplersWait) {
    Receiving r("", /*openLoop=*/true);
    r.rig.driver.setTimeouts({400ms, 400ms, 3000ms});
    const auto result = r.receive();
    ASSERT_EQ(result.error, "");
    EXPECT_GE(r.seconds, 1.9); // the sampler waited for an answer that open loop never gives
    EXPECT_EQ(r.rig.receivedSamples(), samples());
    for (const auto& m : r.rig.sentMessages()) {
        EXPECT_EQ(m[3], sampler::sds::kSubRequest) << "open loop sends only the request";
    }
}

TEST(SdsSamplerFaults, AbortWhileReceivingSendsCancelAndFails) {
    Receiving r("silence");
    r.rig.driver.setTimeouts({400ms, 400ms, 60000ms});
    r.rig.startReceive(9);
    r.rig.runUntil([] { return false; }, std::chrono::seconds(1));
    r.rig.driver.abort();
    ASSERT_TRUE(r.rig.runUntil([&] { return r.rig.receiveEnd.has_value(); }, std::chrono::seconds(5)));
    expectFailure(*r.rig.receiveEnd, r, "Transfer aborted");
    const auto sent = r.rig.sentMessages();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), (std::vector<uint8_t>{0xF0, 0x7E, 0x00, 0x7D, 0x01, 0xF7}));
}

// ---- refused before any port opens ----

TEST(SdsDriverRefusals, BadValuesNeverReachTheLine) {
    struct Case {
        uint32_t rate;
        size_t words;
        int32_t number;
        std::string text;
    };
    const Case cases[] = {
        {0, 10, 0, "Sample rate 0 cannot be sent"},
        {400, 10, 0, "Sample rate 400 Hz cannot be sent: its period of 2500000 ns does not fit a sample dump header"},
        {44100, 2097152, 0, "Sample too long for a sample dump: 2097152 words (at most 2097151)"},
        {44100, 10, 16384, "Sample number 16384 is out of range (0 to 16383)"},
        {44100, 10, -5, "Sample number -5 is out of range (0 to 16383)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Rig rig;
        rig.useProfile(kSampler, kSampler);
        const auto report = rig.send(std::vector<int16_t>(c.words), c.rate, c.number);
        EXPECT_EQ(report.error, c.text);
        EXPECT_TRUE(rig.driver.hasError());
        EXPECT_TRUE(rig.sentMessages().empty());
        EXPECT_FALSE(rig.output.isOpen());
    }
}

TEST(SdsDriverRefusals, ReceiveNumbersOutOfRange) {
    for (const int32_t number : {16384, 99999, 100000 + 16384, -1}) {
        SCOPED_TRACE(number);
        Rig rig;
        rig.useProfile(kSampler, kSampler);
        const auto result = rig.receive(number);
        EXPECT_EQ(result.channels, 0);
        EXPECT_NE(result.error.find("out of range"), std::string::npos);
        EXPECT_TRUE(rig.sentMessages().empty());
    }
}

TEST(SdsDriverRefusals, UninstalledPortNumbersAreRefused) {
    Rig rig;
    rig.useProfile(kSampler, 9);
    EXPECT_EQ(rig.send(samples(), 44100).error, "MIDI output 9 is not installed");
    rig.useProfile(9, kSampler);
    EXPECT_EQ(rig.send(samples(), 44100).error, "MIDI input 9 is not installed");
}

TEST(SdsDriverRefusals, ProgressOfTinySamplesIsFinite) {
    Rig rig;
    rig.useProfile(kSampler, kSampler);
    ASSERT_EQ(rig.send({5}, 44100).error, "");
    bool hundred = false;
    for (const auto& text : rig.statuses) {
        EXPECT_EQ(text.find("nan"), std::string::npos) << text;
        EXPECT_EQ(text.find("inf"), std::string::npos) << text;
        hundred |= text == "Sending: 100.00%";
    }
    EXPECT_TRUE(hundred);
    EXPECT_EQ(rig.statuses.back(), "Inactive");
}

// ---- the receive parser against damaged packets ----

TEST(SdsReceiveFuzz, DamagedPacketsFollowedByGoodOnesArriveExact) {
    std::mt19937 random(3);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        Rig rig;
        rig.useProfile(kCable, kCable);
        rig.driver.setTimeouts(kShort);
        const auto data = cleavix::test::testSignal(130, uint32_t(round));
        rig.startReceive(100000 + 2);
        auto cable = rig.ports->endpoint("cable");
        sampler::sds::DumpHeader h{.periodNs = 20000, .lengthWords = 130};
        const auto header = sampler::sds::encodeHeader(h);
        cable->toHost(header.data(), header.size());
        for (size_t p = 0; p < 4; ++p) {
            const auto packet = sampler::sds::encodePacket(0, uint8_t(p), &data[p * 40], std::min<size_t>(40, 130 - p * 40));
            std::vector<uint8_t> bad(packet.begin(), packet.end());
            switch (random() % 3) {
            case 0: bad.resize(size_t(random() % 126) + 1); break;
            case 1: bad[random() % bad.size()] ^= uint8_t(1u << (random() % 7)); break;
            default: bad[5 + random() % 120] |= 0x80; break;
            }
            cable->toHost(bad.data(), bad.size());
            cable->toHost(packet.data(), packet.size());
        }
        ASSERT_TRUE(rig.runUntil([&] { return rig.receiveEnd.has_value(); }, std::chrono::seconds(10)));
        ASSERT_EQ(rig.receiveEnd->error, "");
        EXPECT_EQ(rig.receiveEnd->sampleRate, 50000u);
        EXPECT_EQ(rig.receivedSamples(), data);
    }
}
