#include "slicing/Slicer.h"

#include "SliceFixtures.h"
#include "sample/DemoLoop.h"
#include "support/FoldEngine.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace cleavix::slicing {
namespace {

using cleavix::test::SessionFixture;
using cleavix::test::FileSizeLimit;
using cleavix::test::TempDir;
using cleavix::test::writeWave;

session::Settings quietSettings() {
    session::Settings s;
    s.scanOnLoad = false;
    return s;
}

void searchAndWait(SessionFixture& f) {
    auto& slicer = f.session->slicer();
    slicer.requestSearch();
    ASSERT_TRUE(slicer.startSliceSearch());
    f.waitIdle();
}

TEST(Slicer, DemoLoopHitsEachGetAPointWithinAFewMilliseconds) {
    TempDir dir;
    const std::string file = dir.file("demo.wav");
    std::string error;
    ASSERT_TRUE(sample::writeDemoLoop(file, error)) << error;
    const sample::DemoLoopInfo info = sample::demoLoopInfo();
    session::Settings settings = quietSettings();
    settings.scanOnLoad = true; // the search starts at the end of the load
    SessionFixture f(settings);
    ASSERT_TRUE(f.load(file));
    f.waitIdle();
    auto& slicer = f.session->slicer();
    EXPECT_TRUE(slicer.lastSearch().ran);
    EXPECT_TRUE(slicer.lastSearch().merged);
    slicer.setSlider(sliderForPercent(100));
    const auto& points = slicer.slicePoints();
    // The first hit starts the sample (the start marker); every later one has one point at most
    // 5 ms before it. One hat follows a kick whose tail is louder than its first samples, and its
    // point may sit up to 2 ms after its attack.
    ASSERT_EQ(points.count(), int(info.onsetFrames.size()) - 1);
    for (size_t i = 1; i < info.onsetFrames.size(); ++i) {
        const int64_t frame = points.at(int(i)).position / 4;
        EXPECT_GE(frame, int64_t(info.onsetFrames[i]) - 220) << "hit " << i;
        EXPECT_LE(frame, int64_t(info.onsetFrames[i]) + 88) << "hit " << i;
        EXPECT_EQ(points.at(int(i)).position % 4, 0u);
    }
    // 2 bars + 8 beats = 16 beats over 4 seconds.
    ASSERT_TRUE(slicer.setBarsAndBeats("2", "8"));
    EXPECT_EQ(slicer.tempo().text, "240.000 BPM");
    ASSERT_TRUE(slicer.setBarsAndBeats("2", "0"));
    EXPECT_EQ(slicer.tempo().text, "120.000 BPM");
}

TEST(Slicer, TheLoadsDetectionServesTheSearchOnlyWhileTheAudioIsAsLoaded) {
    TempDir dir;
    const std::string file = dir.file("demo.wav");
    std::string error;
    ASSERT_TRUE(sample::writeDemoLoop(file, error)) << error;
    SessionFixture f(quietSettings());
    ASSERT_TRUE(f.load(file));
    auto& slicer = f.session->slicer();
    slicer.channelMode().linked = false;
    const auto& format = f.session->format();
    // The load followed every detection block of the sample.
    const auto detection = slicer.loadDetection();
    ASSERT_NE(detection, nullptr);
    EXPECT_TRUE(detection->complete());
    EXPECT_EQ(detection->channels(), format.channels);
    EXPECT_EQ(detection->dataLength(), format.dataLength);
    // The search on it finds what a search reading the store finds.
    searchAndWait(f);
    const CandidateList found = slicer.candidates();
    ASSERT_GT(found.count(), 10);
    CandidateList fromStore;
    SearchFlags flags;
    flags.searchRequest = true;
    SearchOptions options;
    options.linked = false;
    runSliceSearch(f.session->store(), fromStore, flags, options);
    ASSERT_EQ(found.count(), fromStore.count());
    for (int k = 1; k <= found.count(); ++k) {
        EXPECT_EQ(found.at(k).position, fromStore.at(k).position) << k;
        EXPECT_EQ(found.at(k).strength, fromStore.at(k).strength) << k;
        EXPECT_EQ(found.at(k).channel, fromStore.at(k).channel) << k;
    }
    // Once the audio is written (silence over the whole sample, as an edit would), the load's
    // onsets are out of date: the next search reads the store and finds nothing.
    const std::vector<uint8_t> silence(format.dataLength, 0);
    f.session->store().stream().writeAllAt(0, silence.data(), silence.size());
    EXPECT_EQ(slicer.loadDetection(), nullptr);
    searchAndWait(f);
    EXPECT_EQ(slicer.candidates().count(), 0);
    // Closing forgets it too.
    ASSERT_TRUE(f.load(file));
    EXPECT_NE(slicer.loadDetection(), nullptr);
    f.session->close();
    EXPECT_EQ(slicer.loadDetection(), nullptr);
}

TEST(Slicer, PointOperationsAlignAndRefuseAFullTable) {
    TempDir dir;
    const std::string file = writeWave(dir.file("s.wav"), std::vector<int16_t>(2 * 44100, 0), 2);
    SessionFixture f(quietSettings());
    ASSERT_TRUE(f.load(file));
    auto& slicer = f.session->slicer();
    int changes = 0;
    slicer.onPointsChanging = [&](PointChange, const CandidateSnapshot& before) {
        ++changes;
        EXPECT_EQ(before.count, slicer.candidates().count());
    };
    slicer.channelMode().linked = false;
    ASSERT_TRUE(slicer.addPoint(4001, true));
    ASSERT_TRUE(slicer.addPoint(8001, false));
    EXPECT_EQ(slicer.candidates().at(1).position, 4000u);
    EXPECT_EQ(slicer.candidates().at(1).channel, 2);
    EXPECT_EQ(slicer.candidates().at(2).position, 8002u);
    EXPECT_EQ(slicer.candidates().at(2).channel, 1);
    EXPECT_EQ(slicer.candidates().at(1).strength, 32640);
    // Added points are locked: shown even at threshold 65536.
    EXPECT_EQ(slicer.slicePoints().count(), 2);
    ASSERT_TRUE(slicer.disablePoint(1));
    EXPECT_EQ(slicer.candidates().at(1).locked, 0);
    EXPECT_EQ(slicer.slicePoints().count(), 1);
    ASSERT_TRUE(slicer.lockPoint(1));
    EXPECT_EQ(slicer.candidates().at(1).enabled, 1);
    ASSERT_TRUE(slicer.movePoint(1, 12001));
    EXPECT_EQ(slicer.candidates().at(2).position, 12000u);
    EXPECT_EQ(slicer.candidates().at(2).channel, 2);
    EXPECT_EQ(changes, 5); // two adds, disable, lock, move

    const CandidateSnapshot before = slicer.snapshot();
    slicer.addAtCurrentLength = true;
    slicer.setSlider(1000);
    ASSERT_TRUE(slicer.addPoint(16000, true));
    EXPECT_EQ(slicer.candidates().at(3).strength, thresholdForSlider(1000) + 10);
    slicer.restore(before);
    EXPECT_EQ(slicer.candidates().count(), 2);

    for (int i = slicer.candidates().count(); i < kMaxPoints; ++i) {
        slicer.candidates().append(slicer.candidates().at(1));
    }
    f.prompter.asked.clear();
    EXPECT_FALSE(slicer.addPoint(20000, true));
    EXPECT_EQ(slicer.candidates().count(), kMaxPoints);
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], kMsgPointTableFull);
}

TEST(Slicer, LockAllLocksWhatIsShown) {
    TempDir dir;
    std::vector<int16_t> s(44100 * 2, 0);
    test::addFloor(s, 30);
    for (int i = 0; i < 6; ++i) {
        test::addHit(s, 1, 0, 5000 + i * 13000, 4000.0 + 4000.0 * i);
    }
    const std::string file = writeWave(dir.file("s.wav"), s, 1);
    SessionFixture f(quietSettings());
    ASSERT_TRUE(f.load(file));
    searchAndWait(f);
    auto& slicer = f.session->slicer();
    ASSERT_GE(slicer.candidates().count(), 6);
    slicer.setSlider(sliderForPercent(100));
    const int all = slicer.slicePoints().count();
    std::vector<int32_t> strengths;
    for (int k = 1; k <= slicer.candidates().count(); ++k) {
        strengths.push_back(slicer.candidates().at(k).strength);
    }
    std::sort(strengths.begin(), strengths.end());
    // A threshold at the median strength shows the stronger half only.
    slicer.setSlider(int(65535 - strengths[strengths.size() / 2] - 1));
    const int shown = slicer.slicePoints().count();
    ASSERT_GT(shown, 0);
    ASSERT_LT(shown, all);
    slicer.lockAll();
    slicer.setSlider(0);
    EXPECT_EQ(slicer.slicePoints().count(), shown);
    slicer.unlockAll();
    EXPECT_EQ(slicer.slicePoints().count(), 0);
}

TEST(Slicer, GridCutWithSmoothSetsStrengthsAfterTheRefiningSearch) {
    TempDir dir;
    std::vector<int16_t> s(88200, 0);
    test::addFloor(s, 200);
    const std::string file = writeWave(dir.file("g.wav"), s, 1);
    SessionFixture f(quietSettings());
    ASSERT_TRUE(f.load(file));
    auto& slicer = f.session->slicer();
    // No tempo yet: the question is asked; Cancel (No) leaves everything.
    f.prompter.answers = {jobs::Answer::No};
    bool result = true;
    slicer.cutLoopTo(GridDivision::Sixteenths, [&](bool ok) { result = ok; });
    EXPECT_FALSE(result);
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], kMsgNoTempo);
    EXPECT_EQ(slicer.candidates().count(), 0);

    // Yes: one bar, then the grid; without Smooth the points sit 50 bytes after the grid.
    slicer.cutLoopTo(GridDivision::Sixteenths, [&](bool ok) { result = ok; });
    EXPECT_TRUE(result);
    EXPECT_EQ(slicer.tempo().bars, 1);
    ASSERT_EQ(slicer.candidates().count(), 15);
    EXPECT_EQ(slicer.candidates().at(1).position, 88200u * 2 / 16 + 50 - (88200u * 2 / 16) % 2);
    EXPECT_EQ(slicer.candidates().at(1).strength, 32640);

    slicer.smooth = true;
    bool finished = false;
    slicer.cutLoopTo(GridDivision::Sixteenths, [&](bool ok) {
        finished = ok;
        EXPECT_FALSE(f.session->jobs().running());
    });
    f.waitIdle();
    ASSERT_TRUE(finished);
    int moved = 0;
    for (int k = 1; k <= slicer.candidates().count(); ++k) {
        EXPECT_EQ(slicer.candidates().at(k).strength, 32640) << k;
        EXPECT_EQ(slicer.candidates().at(k).locked, 1);
        moved += slicer.candidates().at(k).position % 11025 != 50 ? 1 : 0;
    }
    EXPECT_GT(moved, 0);
    EXPECT_FALSE(slicer.flags().refineOnly);
}

TEST(Slicer, RandomiseShufflesWholeSegmentsAndOneSegmentStaysPut) {
    TempDir dir;
    // Four segments of 1000 frames, each a constant value.
    std::vector<int16_t> s;
    for (int seg = 0; seg < 4; ++seg) {
        s.insert(s.end(), 1000, int16_t(1000 * (seg + 1)));
    }
    const std::string file = writeWave(dir.file("r.wav"), s, 1);
    SessionFixture f(quietSettings());
    ASSERT_TRUE(f.load(file));
    auto& slicer = f.session->slicer();
    for (uint32_t at : {2000u, 4000u, 6000u}) {
        ASSERT_TRUE(slicer.addPoint(at));
    }
    slicer.setRandomSeed(42);
    bool ok = false;
    ASSERT_TRUE(slicer.randomise(0, 8000, true, [&](bool r) { ok = r; }));
    f.waitIdle();
    ASSERT_TRUE(ok);
    EXPECT_TRUE(f.session->modified());
    std::vector<int16_t> after(4000);
    f.session->store().readSamples(0, after.data(), after.size());
    std::vector<int> order;
    for (int seg = 0; seg < 4; ++seg) {
        const int16_t v = after[size_t(seg * 1000)];
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(after[size_t(seg * 1000 + i)], v);
        }
        order.push_back(v / 1000);
    }
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{1, 2, 3, 4}));
    // Each swap draws a partner strictly before the segment it moves, so the last segment never stays last.
    EXPECT_NE(order.back(), 4);
    EXPECT_EQ(slicer.candidates().count(), 3); // kept

    // A region holding one segment only is left unchanged.
    ASSERT_TRUE(slicer.randomise(4100, 1800, true));
    f.waitIdle();
    std::vector<int16_t> again(4000);
    f.session->store().readSamples(0, again.data(), again.size());
    EXPECT_EQ(again, after);
    // No scratch file is left behind.
    for (const auto& name : f.work.entries()) {
        EXPECT_EQ(name.rfind("CXRND", 0), std::string::npos) << name;
    }
}

// A session with a stereo sample cut in three segments by points at 8000 and 16000.
bool loadThreeSegments(const TempDir& dir, SessionFixture& f) {
    const std::string file = writeWave(dir.file("e.wav"), cleavix::test::testSignal(2 * 8000), 2);
    return f.load(file) && f.session->slicer().addPoint(8000) && f.session->slicer().addPoint(16000);
}

TEST(Slicer, AnExportOntoAFullDiskSaysSoRatherThanBlamingOpenFiles) {
    TempDir dir;
    SessionFixture f(quietSettings());
    ASSERT_TRUE(loadThreeSegments(dir, f));
    auto& slicer = f.session->slicer();
    f.prompter.answers = {jobs::Answer::No};
    ExportReport report;
    bool started = false;
    {
        const FileSizeLimit full(1000); // below every segment, for this export alone
        started = slicer.saveSegmentsInLoop(dir.file("cut.wav"), 16, [&](const ExportReport& r) { report = r; });
        f.waitIdle();
    }
    ASSERT_TRUE(started);
    EXPECT_FALSE(report.ok);
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], kMsgSaveFilesNoSpace);
}

TEST(Slicer, ExportFailureAsksOnceAndRetriesUnderANewName) {
    TempDir dir;
    SessionFixture f(quietSettings());
    ASSERT_TRUE(loadThreeSegments(dir, f));
    auto& slicer = f.session->slicer();
    f.prompter.answers = {jobs::Answer::Yes};
    f.prompter.targets = {jobs::SaveTarget{dir.file("ok.wav"), 16}};
    // The progress window counts the files as they are written.
    const jobs::ProgressModel& model = f.session->jobs().progress();
    std::vector<std::pair<int, int>> seen;
    cleavix::test::ProgressHook counter([&] {
        const std::pair<int, int> now{model.fileNumber(), model.fileCount()};
        if (now.second > 0 && (seen.empty() || seen.back() != now)) {
            seen.push_back(now);
        }
    });
    f.session->jobs().progress().setView(&counter);
    ExportReport report;
    ASSERT_TRUE(slicer.saveSegmentsInLoop(dir.file("missing/dir/cut.wav"), 16,
                                          [&](const ExportReport& r) { report = r; }));
    f.waitIdle();
    f.session->jobs().progress().setView(nullptr);
    // Both tries (the failed one and the retry) counted their three files.
    const std::vector<std::pair<int, int>> once{{1, 3}, {2, 3}, {3, 3}};
    std::vector<std::pair<int, int>> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(seen, twice);
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], kMsgSaveFilesError);
    // A missing folder is no full disk, and the message names what may hold the files.
    EXPECT_NE(f.prompter.asked[0].find("Files of that name may be open"), std::string::npos);
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(report.written, (std::vector<std::string>{dir.file("ok1.wav"), dir.file("ok2.wav"), dir.file("ok3.wav")}));
    // The region export covers L..R whole.
    ExportReport region;
    ASSERT_TRUE(slicer.saveRegion(dir.file("region.wav"), 16, [&](const ExportReport& r) { region = r; }));
    f.waitIdle();
    ASSERT_TRUE(region.ok);
    EXPECT_EQ(cleavix::test::readFile(dir.file("region.wav")).size(), 44u + 32000u);
}

TEST(Slicer, CommandLineScanSliceTempoPointsAndExport) {
    TempDir dir;
    const std::string demo = dir.file("demo.wav");
    std::string error;
    ASSERT_TRUE(sample::writeDemoLoop(demo, error)) << error;
    auto scan = cleavix::test::runCli({"scan", demo});
    ASSERT_EQ(scan.status, 0) << scan.err;
    const auto json = nlohmann::json::parse(scan.out);
    EXPECT_EQ(json["channels"], 2);
    EXPECT_EQ(json["candidates"].size(), 15u);
    for (const auto& c : json["candidates"]) {
        EXPECT_EQ(c["channel"], 1);
        EXPECT_EQ(c["position"].get<uint32_t>() % 4, 0u);
    }
    const auto unlinked = nlohmann::json::parse(cleavix::test::runCli({"scan", demo, "--unlinked"}).out);
    EXPECT_EQ(unlinked["candidates"].size(), 30u);

    const auto none = nlohmann::json::parse(cleavix::test::runCli({"slice", demo, "--sensitivity", "0"}).out);
    EXPECT_EQ(none["points"].size(), 0u);
    EXPECT_EQ(none["threshold"], 65534);

    const auto tempo = cleavix::test::runCli({"tempo", demo, "--bars", "1", "--beats", "0", "--loop", "0", "352800"});
    ASSERT_EQ(tempo.status, 0) << tempo.err;
    EXPECT_EQ(nlohmann::json::parse(tempo.out)["text"], "120.000 BPM");

    const std::string clx = dir.file("p.clx");
    ASSERT_EQ(cleavix::test::runCli({"points", demo, "--save", clx}).status, 0);
    const auto loaded = cleavix::test::runCli({"points", demo, "--load", clx});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(nlohmann::json::parse(loaded.out)["candidates"], json["candidates"]);

    const auto exported = cleavix::test::runCli(
        {"export", demo, "--out", dir.file("cut.wav"), "--sensitivity", "100", "--grid", "8", "--bars", "2",
         "--beats", "0", "--smooth", "30"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const auto files = nlohmann::json::parse(exported.out)["files"];
    ASSERT_EQ(files.size(), 16u); // 17 grid positions, the first one dropped (not above byte 100)
    EXPECT_EQ(files[0], dir.file("cut01.wav"));
    EXPECT_TRUE(cleavix::test::fileExists(dir.file("cut16.wav")));
}

} // namespace
} // namespace cleavix::slicing
