// The session's sampler transfers against the emulated samplers: region arithmetic, sample
// numbers and names, the one end path, receives taken over with undo, the batch and its key map.
#include "jobs/MainLoop.h"
#include "sampler/KeyAssignment.h"
#include "sampler/sds/SdsDriver.h"
#include "sampler/virtual/MidiBackendList.h"
#include "sampler/virtual/VirtualAkaiSampler.h"
#include "sampler/virtual/VirtualSmdiSampler.h"
#include "sampler/smdi/SMIDIDriver.h"
#include "sampler/virtual/VirtualSdsSampler.h"
#include "session/SamplerTransfer.h"
#include "session/Session.h"
#include "session/TransferRules.h"
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace cleavix::test {
namespace {

using namespace std::chrono_literals;
using session::TransferEnd;
namespace pf = sampler::profiles;

// Fails a wait that takes more than a few seconds, instead of hanging the test run.
constexpr auto kTestWatchdog = 8s;

struct TransferRig {
    TempDir work;
    jobs::MainLoop loop;
    ScriptedPrompter prompter;
    std::shared_ptr<sampler::virt::VirtualSdsSampler> sds = std::make_shared<sampler::virt::VirtualSdsSampler>("", "");
    std::shared_ptr<sampler::scsi::VirtualAkaiSampler> akai = std::make_shared<sampler::scsi::VirtualAkaiSampler>("");
    std::shared_ptr<sampler::scsi::VirtualSmdiSampler> smdi = std::make_shared<sampler::scsi::VirtualSmdiSampler>();
    std::unique_ptr<session::Session> session;
    int disabled = 0;
    int enabled = 0;

    TransferRig() {
        session::Backends backends;
        backends.midi = {sampler::virt::makeVirtualMidiBackend(sds)};
        backends.systemScsi = false;
        backends.scsiBus = std::make_shared<sampler::scsi::VirtualScsiBus>();
        backends.scsiBus->attach(sampler::scsi::VirtualAkaiSampler::kDefaultId, akai);
        backends.scsiBus->attach(sampler::scsi::VirtualSmdiSampler::kGenericId, smdi);
        session::Settings settings;
        settings.tempPath = work.path();
        settings.scanOnLoad = false;
        session = std::make_unique<session::Session>(loop, prompter, settings, std::move(backends));
        sampler().setProfileStore(pf::ProfileStore(work.file("profiles.ini")));
        sampler().onRunning = [this](bool running) { (running ? disabled : enabled)++; };
        sampler().sdsDriver().setTimeouts({2s, 2s, 2s});
    }
    session::SamplerTransfer& sampler() { return session->sampler(); }

    void profile(const std::string& name, uint8_t type, int offset = 0) {
        sampler::SamplerProfile p;
        p.deviceType = type;
        p.sampleNumberOffset = offset;
        if (type == 0) {
            p.midiInput = p.midiOutput = 1; // the emulated SDS sampler after the cable
        } else if (pf::deviceType(type)->driver == pf::DriverKind::Smdi) {
            p.scsiDevice = sampler::scsi::VirtualSmdiSampler::kGenericId;
        } else {
            p.scsiDevice = sampler::scsi::VirtualAkaiSampler::kDefaultId;
        }
        ASSERT_TRUE(sampler().profileStore().store(name, p));
        sampler().selectProfile(name);
    }

    // Runs the loop until `until` holds, posting ticks so timers get looked at.
    void pump(const std::function<bool()>& until) {
        std::atomic<bool> stop{false};
        std::thread ticker([&] {
            while (!stop) {
                std::this_thread::sleep_for(20ms);
                loop.post([] {});
            }
        });
        const auto deadline = std::chrono::steady_clock::now() + kTestWatchdog;
        loop.runUntil([&] { return until() || std::chrono::steady_clock::now() > deadline; });
        stop = true;
        ticker.join();
        loop.runPending();
        ASSERT_TRUE(until()) << "waited longer than the test watchdog allows";
    }

    // Starts a transfer command and waits for its end; nullopt when it was refused at once.
    std::optional<TransferEnd> run(const std::function<bool(session::TransferDone)>& command) {
        std::optional<TransferEnd> end;
        int ends = 0;
        if (!command([&](const TransferEnd& e) {
                end = e;
                ++ends;
            })) {
            return std::nullopt;
        }
        pump([&] { return end.has_value() && !session->busy(); });
        // Anything late (a second end) would arrive now.
        pump([&] { return !session->busy(); });
        EXPECT_EQ(ends, 1);
        return end;
    }

    std::string wave(const std::string& name, const std::vector<int16_t>& samples, uint16_t channels = 1,
                     uint32_t rate = 44100) {
        return writeWave(work.file(name), samples, channels, rate);
    }

    bool load(const std::string& path) {
        bool finished = false;
        bool ok = false;
        if (!session->open(path, session::OpenOrigin::Menu, [&](bool r) {
                ok = r;
                finished = true;
            })) {
            return false;
        }
        pump([&] { return finished && !session->busy(); });
        return ok;
    }

    bool lastAsked(const std::string& text) const { return !prompter.asked.empty() && prompter.asked.back() == text; }
};

// The commands run on a rig of their own in every test.
struct SamplerTransfer : TransferRig, ::testing::Test {};

std::vector<int16_t> ramp(size_t count, int16_t from = 100, int16_t step = 3) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i) {
        v[i] = int16_t(from + int(i) * step);
    }
    return v;
}

// ---- the arithmetic ----

TEST(TransferRules, RegionOfMonoStereoAndOneChannel) {
    sample::SampleFormat mono;
    mono.channels = 1;
    mono.dataLength = 1000;
    auto plan = session::planRegion(mono, 100, 300, true, 1);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->start, 100u);
    EXPECT_EQ(plan->length, 200u);
    EXPECT_EQ(plan->channelsToSend, 1);

    sample::SampleFormat stereo;
    stereo.channels = 2;
    stereo.dataLength = 4000;
    plan = session::planRegion(stereo, 102, 902, true, 1);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->start, 100u);
    EXPECT_EQ(plan->length, 800u / 8 * 4);
    EXPECT_EQ(plan->channelsToSend, 2);
    EXPECT_TRUE(plan->keepStereo);

    // The second channel starts two bytes into the frame.
    plan = session::planRegion(stereo, 100, 900, false, 2);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->start, 102u);
    EXPECT_EQ(plan->length, 800u / 8 * 4 - 2);
    EXPECT_EQ(plan->channelsToSend, 1);
    EXPECT_FALSE(plan->keepStereo);
}

TEST(TransferRules, EmptyOrShortRegionIsRefusedNotWrapped) {
    sample::SampleFormat stereo;
    stereo.channels = 2;
    stereo.dataLength = 4000;
    std::string why;
    EXPECT_FALSE(session::planRegion(stereo, 400, 400, true, 1, &why));
    EXPECT_EQ(why, session::kMsgRegionTooShort);
    // Less than two frames with one channel in view: (R - start) div 8 x 4 - 2 would underflow.
    EXPECT_FALSE(session::planRegion(stereo, 400, 404, false, 1));
    EXPECT_FALSE(session::planRegion(stereo, 500, 400, true, 1));
    sample::SampleFormat mono;
    mono.channels = 1;
    mono.dataLength = 10;
    EXPECT_FALSE(session::planRegion(mono, 4, 5, true, 1));
}

TEST(TransferRules, RoundSampleRate) {
    EXPECT_EQ(session::roundSampleRate(44099), 44100u);
    EXPECT_EQ(session::roundSampleRate(22049), 22050u);
    EXPECT_EQ(session::roundSampleRate(32000), 32000u);
    EXPECT_EQ(session::roundSampleRate(44000), 44100u);
    EXPECT_EQ(session::roundSampleRate(44204), 44100u);
    EXPECT_EQ(session::roundSampleRate(44206), 44210u);
    EXPECT_EQ(session::roundSampleRate(22045), 22040u); // ties to even
}

TEST(TransferRules, NamesAndNumbers) {
    EXPECT_EQ(session::regionSampleName("/x/loop.take.wav"), "loop");
    EXPECT_EQ(session::batchSampleName("/x/loop.take.wav"), "loop.take");
    EXPECT_EQ(session::batchSampleName("/x/kick.aiff"), "kick");
    EXPECT_EQ(session::batchSampleName("/x/longsamplename.wav", session::nameLimitFor(5)), "longsampl");
    EXPECT_EQ(session::batchSampleName("/x/longsamplename01.wav", session::nameLimitFor(2)), "longsamplena");
    EXPECT_EQ(session::sanitiseReceivedName("../a/b\\c\x01 "), "..abc");
    EXPECT_EQ(session::sanitiseReceivedName(""), "Untitled");
    EXPECT_EQ(session::sanitiseReceivedName(" /\\ "), "Untitled");
    EXPECT_EQ(session::sanitiseReceivedName(".."), "Untitled");
    EXPECT_TRUE(session::checkSampleNumber(16383, pf::DriverKind::Sds).empty());
    EXPECT_FALSE(session::checkSampleNumber(16384, pf::DriverKind::Sds).empty());
    EXPECT_FALSE(session::checkSampleNumber(-1, pf::DriverKind::Akai).empty());
}

TEST(TransferRules, KeysFitAndWhiteKeys) {
    EXPECT_FALSE(sampler::keysFit(48, 2, 40, false));
    EXPECT_TRUE(sampler::keysFit(48, 0, 8, true));
    const auto keys = sampler::assignKeys(8, 1, 2, 0, true);
    ASSERT_TRUE(keys);
    std::vector<int> roots;
    for (const auto& k : *keys) {
        roots.push_back(k.root);
    }
    EXPECT_EQ(roots, (std::vector<int>{48, 50, 52, 53, 55, 57, 59, 60}));
}

// ---- the commands on the emulated samplers ----

TEST_F(SamplerTransfer, RefusesWithoutProfiles) {
    sampler().selectProfile("none");
    ASSERT_TRUE(load(wave("a.wav", ramp(400))));
    EXPECT_FALSE(run([&](auto done) { return sampler().sendRegion(0, true, 1, done); }));
    EXPECT_TRUE(lastAsked(pf::kNoPresetsFound));
    EXPECT_EQ(disabled, 0);
}

TEST_F(SamplerTransfer, SendRegionOverSdsLandsAtPositionPlusOffset) {
    profile("sds", 0, 3);
    const auto samples = ramp(1000);
    ASSERT_TRUE(load(wave("loop.take.wav", samples)));
    session->slicer().setLoop(200, 1200); // bytes: samples 100..599
    const auto end = run([&](auto done) { return sampler().sendRegion(7, true, 1, done); });
    ASSERT_TRUE(end);
    EXPECT_TRUE(end->ok);
    EXPECT_EQ(end->message, session::kMsgTransferComplete);
    const auto held = sds->sample(10);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->samples, std::vector<int16_t>(samples.begin() + 100, samples.begin() + 600));
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(enabled, 1);
    EXPECT_FALSE(sampler().running());
}

TEST_F(SamplerTransfer, SendRegionOfTheSecondChannel) {
    profile("sds", 0);
    std::vector<int16_t> frames;
    for (int i = 0; i < 600; ++i) {
        frames.push_back(int16_t(i));
        frames.push_back(int16_t(-1000 - i));
    }
    ASSERT_TRUE(load(wave("st.wav", frames, 2)));
    session->slicer().setLoop(0, 2400);
    const auto end = run([&](auto done) { return sampler().sendRegion(0, false, 2, done); });
    ASSERT_TRUE(end && end->ok);
    const auto held = sds->sample(0);
    ASSERT_TRUE(held);
    ASSERT_GE(held->samples.size(), 4u);
    EXPECT_EQ(held->samples[0], -1000);
    EXPECT_EQ(held->samples[3], -1003);
}

TEST_F(SamplerTransfer, ShortRegionAndOutOfRangeNumberAreRefused) {
    profile("sds", 0, 1000);
    ASSERT_TRUE(load(wave("a.wav", ramp(400))));
    session->slicer().setLoop(100, 100);
    EXPECT_FALSE(run([&](auto done) { return sampler().sendRegion(0, true, 1, done); }));
    EXPECT_TRUE(lastAsked(session::kMsgRegionTooShort));
    session->slicer().setLoop(0, 800);
    // 16000 + 1000 does not fit the 14 bits of a sample dump: refused, not masked to 616.
    EXPECT_FALSE(run([&](auto done) { return sampler().sendRegion(16000, true, 1, done); }));
    EXPECT_FALSE(sds->sample(616));
    EXPECT_EQ(disabled, 0);
}

TEST_F(SamplerTransfer, FailedSendShowsTheDriversTextNotComplete) {
    profile("sds", 0);
    ASSERT_TRUE(load(wave("a.wav", ramp(2000))));
    sds->setFaults("cancel:1");
    const auto end = run([&](auto done) { return sampler().sendRegion(0, true, 1, done); });
    ASSERT_TRUE(end);
    EXPECT_FALSE(end->ok);
    EXPECT_FALSE(end->message.empty());
    EXPECT_NE(end->message, session::kMsgTransferComplete);
    for (const auto& text : prompter.asked) {
        EXPECT_NE(text, session::kMsgTransferComplete);
    }
    EXPECT_EQ(enabled, 1);
}

TEST_F(SamplerTransfer, RequestTakesTheSampleOverWithUndo) {
    profile("sds", 0, 1);
    const auto old = ramp(300, -50, 1);
    ASSERT_TRUE(load(wave("old.wav", old, 1, 22050)));
    sampler::virt::StoredSample stored;
    stored.periodNs = 22676; // 44100 Hz, near enough
    stored.samples = ramp(900, 7, 5);
    sds->putSample(5, stored);
    const auto end = run([&](auto done) { return sampler().request(4, false, done); });
    ASSERT_TRUE(end && end->ok) << (end ? end->message : "refused");
    const auto& f = session->format();
    EXPECT_EQ(f.dataLength, 1800u);
    EXPECT_EQ(f.sampleRate, 44100u); // 44099.5 rounded
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.bytesPerSecond, 88200u);
    EXPECT_EQ(f.saveBits, 16);
    EXPECT_EQ(session->fileName(), "Untitled.wav");
    EXPECT_EQ(session->slicer().right(), 1800u);
    std::vector<int16_t> now(900);
    session->store().stream().readAt(0, now.data(), 1800);
    EXPECT_EQ(now, stored.samples);
    EXPECT_EQ(session->editor().record().undoCode, 11);

    bool undone = false;
    ASSERT_TRUE(session->editor().undo([&](bool) { undone = true; }));
    pump([&] { return undone && !session->busy(); });
    EXPECT_EQ(session->format().dataLength, 600u);
    EXPECT_EQ(session->format().sampleRate, 22050u);
    std::vector<int16_t> back(300);
    session->store().stream().readAt(0, back.data(), 600);
    EXPECT_EQ(back, old);
}

TEST_F(SamplerTransfer, WaitForSendIsItsOwnFlag) {
    profile("sds", 0);
    sampler::virt::StoredSample stored;
    stored.samples = ramp(200);
    sds->putSample(12, stored);
    sds->dumpOnItsOwn(12, 300ms);
    const auto end = run([&](auto done) { return sampler().request(12, true, done); });
    ASSERT_TRUE(end && end->ok) << (end ? end->message : "refused");
    EXPECT_EQ(session->format().dataLength, 400u);
    // A request near the top of the range is a request, never a wait.
    EXPECT_FALSE(run([&](auto done) { return sampler().request(99999, false, done); }));
}

TEST_F(SamplerTransfer, ListAndFetchFromTheAkai) {
    profile("akai", 5);
    sampler::scsi::VirtualAkaiSampler::Sample s;
    s.name = "KI/CK\\1     ";
    s.rate = 1;
    s.data = le16Bytes(ramp(500));
    akai->addSample(s);
    auto end = run([&](auto done) { return sampler().listSamples(done); });
    ASSERT_TRUE(end && end->ok);
    ASSERT_EQ(sampler().listing().size(), 1u);
    const int32_t number = sampler().listing()[0].number;
    end = run([&](auto done) { return sampler().receiveListed(number, done); });
    ASSERT_TRUE(end && end->ok);
    // The sampler's own character set has no '/' or '\'; its blanks at the end are trimmed.
    EXPECT_EQ(session->fileName(), "KI CK 1.wav");
    EXPECT_EQ(session->format().dataLength, 1000u);
}

// The SMDI types are bound to the session's own SMDI driver: a region sent to the generic SMDI
// sampler lands at its number, comes back by a request, and shows in the listing.
TEST_F(SamplerTransfer, SmdiProfileSendsListsAndFetches) {
    profile("smdi", 1, 2);
    const auto samples = ramp(800, -400, 1);
    ASSERT_TRUE(load(wave("hat.wav", samples)));
    session->slicer().setLoop(0, 1600);
    auto end = run([&](auto done) { return sampler().sendRegion(5, true, 1, done); });
    ASSERT_TRUE(end);
    ASSERT_TRUE(end->ok) << end->message;
    const auto held = smdi->samples();
    ASSERT_EQ(held.count(7), 1u);
    const auto& data = held.at(7).data;
    ASSERT_EQ(data.size(), 1600u);
    // The sampler holds big-endian words.
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(int16_t(uint16_t(data[2 * i] << 8 | data[2 * i + 1])), samples[i]) << i;
    }
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(enabled, 1);

    // The listing runs from the first number until the sampler has none: nothing at 0, nothing listed.
    end = run([&](auto done) { return sampler().listSamples(done); });
    ASSERT_TRUE(end);
    EXPECT_FALSE(end->ok);
    EXPECT_EQ(end->message, sampler::smdi::kNoSamples);
    profile("smdi at 0", 1, 0);
    end = run([&](auto done) { return sampler().sendRegion(0, true, 1, done); });
    ASSERT_TRUE(end && end->ok) << (end ? end->message : "refused");
    end = run([&](auto done) { return sampler().listSamples(done); });
    ASSERT_TRUE(end && end->ok) << (end ? end->message : "refused");
    ASSERT_EQ(sampler().listing().size(), 1u);
    const int32_t number = sampler().listing()[0].number;
    session->slicer().setLoop(0, 200);
    end = run([&](auto done) { return sampler().receiveListed(number, done); });
    ASSERT_TRUE(end && end->ok) << (end ? end->message : "refused");
    EXPECT_EQ(session->format().dataLength, 1600u);
    EXPECT_EQ(session->format().channels, 1u);
}

// A failing SMDI sampler ends the transfer once, with the driver's text, and the window enabled.
TEST_F(SamplerTransfer, SmdiRefusalEndsOnceWithTheDriversText) {
    profile("smdi", 1);
    ASSERT_TRUE(load(wave("hat.wav", ramp(400))));
    session->slicer().setLoop(0, 800);
    sampler::scsi::VirtualSmdiSampler::Faults faults;
    faults.rejectHeaders = true;
    smdi->setFaults(faults);
    const auto end = run([&](auto done) { return sampler().sendRegion(0, true, 1, done); });
    ASSERT_TRUE(end);
    EXPECT_FALSE(end->ok);
    EXPECT_NE(end->message, session::kMsgTransferComplete);
    EXPECT_FALSE(end->message.empty());
    EXPECT_TRUE(smdi->samples().empty());
    EXPECT_EQ(enabled, 1);
    EXPECT_FALSE(sampler().running());
}

TEST_F(SamplerTransfer, BatchNumbersAndEmptiesTheList) {
    profile("sds", 0, 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sampler().addBatchFile(wave("s" + std::to_string(i) + ".wav", ramp(100, int16_t(i * 1000)))), "");
    }
    const auto end = run([&](auto done) { return sampler().batchSend(10, false, done); });
    ASSERT_TRUE(end && end->ok);
    EXPECT_EQ(end->message, session::kMsgBatchComplete);
    const auto& sent = sampler().lastBatch().sent;
    ASSERT_EQ(sent.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[size_t(i)].number, 11 + i);
        EXPECT_EQ(sent[size_t(i)].displayNumber, 1 + i);
        const auto held = sds->sample(uint32_t(11 + i));
        ASSERT_TRUE(held);
        EXPECT_EQ(held->samples.front(), i * 1000);
    }
    EXPECT_TRUE(sampler().batchList().empty());
    EXPECT_EQ(enabled, 1);
}

TEST_F(SamplerTransfer, BatchByteOrderComesFromTheContent) {
    profile("sds", 0);
    const auto samples = ramp(64, 300, 7);
    AiffSpec spec;
    spec.channels = 1;
    const std::string path = work.file("named.wav"); // AIFF data behind a .wav name
    writeFile(path, makeAiff(spec, be16Bytes(samples)));
    ASSERT_EQ(sampler().addBatchFile(path), "");
    const auto end = run([&](auto done) { return sampler().batchSend(0, false, done); });
    ASSERT_TRUE(end && end->ok);
    const auto held = sds->sample(0);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->samples, samples);
}

TEST_F(SamplerTransfer, BatchWidensEightBitAndClipsAnOverlongChunk) {
    profile("sds", 0);
    WaveSpec spec;
    spec.channels = 1;
    spec.bits = 8;
    spec.declaredLength = 5000; // more than the file holds
    const std::string path = work.file("eight.wav");
    writeFile(path, makeWave(spec, Bytes{0x80, 0xC0, 0x40, 0xFF, 0x00, 0x80}));
    ASSERT_EQ(sampler().addBatchFile(path), "");
    const auto end = run([&](auto done) { return sampler().batchSend(0, false, done); });
    ASSERT_TRUE(end && end->ok);
    const auto held = sds->sample(0);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->samples, (std::vector<int16_t>{0, 0x4000, -0x4000, 0x7F00, -0x8000, 0}));
}

TEST_F(SamplerTransfer, AddAndDropRefuseWhatCannotBeSent) {
    WaveSpec spec;
    spec.bits = 24;
    const std::string deep = work.file("deep.wav");
    writeFile(deep, makeWave(spec, Bytes(60, 1)));
    EXPECT_EQ(sampler().addBatchFile(deep, session::BatchOrigin::Drop), sample::kMsgUnrecognised);
    EXPECT_EQ(sampler().addBatchFile(deep, session::BatchOrigin::Add), sample::kMsgUnrecognised);
    const std::string gone = work.file("gone.wav");
    EXPECT_EQ(sampler().addBatchFile(gone, session::BatchOrigin::Drop), sample::kMsgNotFound);
    EXPECT_EQ(sampler().addBatchFile(gone), "File " + gone + " not found - file may have been moved or deleted");
    const std::string junk = work.file("junk.wav");
    writeFile(junk, Bytes(40, 7));
    EXPECT_EQ(sampler().addBatchFile(junk, session::BatchOrigin::Drop), sample::kMsgUnableToLoad);
    EXPECT_EQ(sampler().addBatchFile(junk), "File " + junk + " corrupted!\r\n");
    EXPECT_TRUE(sampler().batchList().empty());
}

TEST_F(SamplerTransfer, BatchEndsReportTheirFailure) {
    profile("akai", 5);
    ASSERT_EQ(sampler().addBatchFile(wave("st.wav", ramp(200), 2)), "");
    auto end = run([&](auto done) { return sampler().batchSend(0, true, done); });
    ASSERT_TRUE(end);
    EXPECT_FALSE(end->ok);
    EXPECT_EQ(end->message, session::kMsgAkaiStereo);
    EXPECT_FALSE(sampler().lastBatch().mapped);

    sampler().clearBatch();
    const std::string path = wave("m.wav", ramp(200));
    ASSERT_EQ(sampler().addBatchFile(path), "");
    ::unlink(path.c_str());
    end = run([&](auto done) { return sampler().batchSend(0, true, done); });
    ASSERT_TRUE(end);
    EXPECT_EQ(end->message, sample::kMsgNotFound);
    EXPECT_EQ(enabled, 2);
    EXPECT_EQ(disabled, 2);
}

TEST_F(SamplerTransfer, BatchToTheAkaiMapsOnWhiteKeys) {
    profile("akai", 5);
    sampler().keyMap.whiteKeys = true;
    sampler().keyMap.bankName = "SLICES";
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(sampler().addBatchFile(wave("slice" + std::to_string(i) + ".wav", ramp(300))), "");
    }
    const auto end = run([&](auto done) { return sampler().batchSend(0, true, done); });
    ASSERT_TRUE(end && end->ok) << (end ? end->message : "refused");
    EXPECT_EQ(end->message, session::kMsgBatchComplete);
    EXPECT_TRUE(sampler().lastBatch().mapped);
    std::vector<int> roots;
    for (const auto& s : sampler().lastBatch().sent) {
        ASSERT_TRUE(s.keys);
        roots.push_back(s.keys->root);
    }
    EXPECT_EQ(roots, (std::vector<int>{48, 50, 52, 53, 55, 57, 59, 60}));
    EXPECT_EQ(akai->samples().size(), 8u);
    const auto programs = akai->programs();
    ASSERT_FALSE(programs.empty());
    ASSERT_EQ(programs.back().keygroups.size(), 8u);
    EXPECT_EQ(programs.back().keygroups[3].lowKey, 53);
    EXPECT_EQ(programs.back().keygroups[3].highKey, 53);
}

TEST_F(SamplerTransfer, BatchRefusesKeysBeyondTheKeyboard) {
    profile("akai", 5);
    sampler().keyMap.interval = 2;
    const std::string path = wave("x.wav", ramp(50));
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(sampler().addBatchFile(path), "");
    }
    EXPECT_FALSE(run([&](auto done) { return sampler().batchSend(0, true, done); }));
    EXPECT_TRUE(lastAsked(session::kMsgKeysExceed));
}

TEST_F(SamplerTransfer, AbortWaitsForTheDriversEnd) {
    profile("sds", 0);
    ASSERT_TRUE(load(wave("a.wav", ramp(20000))));
    sds->setFaults("wait:0@never");
    std::optional<TransferEnd> end;
    ASSERT_TRUE(sampler().sendRegion(0, true, 1, [&](const TransferEnd& e) { end = e; }));
    pump([&] { return sds->stats().waits > 0; });
    sampler().abort();
    EXPECT_TRUE(sampler().running()); // until the driver has closed its ports
    EXPECT_EQ(sampler().status(), session::kStatusInactive);
    EXPECT_FALSE(sampler().sendRegion(0, true, 1, {}));
    pump([&] { return end.has_value(); });
    EXPECT_FALSE(end->ok);
    EXPECT_TRUE(end->aborted);
    EXPECT_EQ(enabled, 1);
}

TEST_F(SamplerTransfer, LostEndIsEndedByTheWatchdog) {
    profile("sds", 0);
    sampler().sdsDriver().setTimeouts({30s, 30s, 30s});
    sampler().setQuietTime(300ms);
    ASSERT_TRUE(load(wave("a.wav", ramp(2000))));
    sds->setFaults("silence");
    const auto end = run([&](auto done) { return sampler().sendRegion(0, true, 1, done); });
    ASSERT_TRUE(end);
    EXPECT_FALSE(end->ok);
    EXPECT_EQ(end->message, sampler::kLostEndText);
    EXPECT_EQ(enabled, 1);
    // The driver, asked to stop, ends later; that end changes nothing.
    pump([&] { return !sampler().sdsDriver().busy(); });
    EXPECT_EQ(enabled, 1);
}

} // namespace
} // namespace cleavix::test
