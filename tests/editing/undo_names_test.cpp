// What the Undo item names, and the switch between shared and separate stereo slice points with
// its undo, through the engine and through cleavix-cli run.
#include "EditTestKit.h"
#include "editing/UndoThread.h"
#include "sample/DemoLoop.h"
#include "support/FoldEngine.h"

#include <nlohmann/json.hpp>

#include <set>

namespace cleavix::test {
namespace {

std::vector<std::pair<uint32_t, uint8_t>> points(slicing::Slicer& slicer) {
    std::vector<std::pair<uint32_t, uint8_t>> out;
    for (int i = 1; i <= slicer.candidates().count(); ++i) {
        out.emplace_back(slicer.candidates().at(i).position, slicer.candidates().at(i).channel);
    }
    return out;
}

std::set<uint8_t> codes(slicing::Slicer& slicer) {
    std::set<uint8_t> out;
    for (const auto& p : points(slicer)) {
        out.insert(p.second);
    }
    return out;
}

bool undo(EditBench& b) {
    return b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); });
}

TEST(UndoNames, TheRecordNamesTheOperationThroughUndoAndRedo) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(testSignal(4000, 2), 1));
    EXPECT_EQ(b.editor().undoItemText(), "&Undo");
    b.editor().setupSelections(400, 2000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    EXPECT_EQ(b.editor().record().undoName, "Cut");
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Cut");
    ASSERT_TRUE(undo(b));
    EXPECT_EQ(b.editor().undoItemText(), "&Redo Cut");
    ASSERT_TRUE(undo(b));
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Cut");

    b.editor().setupSelections(0, 0);
    b.processor().settings.normalisePercent = "90";
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Normalise");
    ASSERT_TRUE(undo(b));
    EXPECT_EQ(b.editor().undoItemText(), "&Redo Normalise");

    ASSERT_TRUE(b.slicer().addPoint(1000));
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Add Point");
    ASSERT_TRUE(b.slicer().lockPoint(1) || b.slicer().unlockPoint(1));
    EXPECT_NE(b.editor().record().undoName.find("ock Point"), std::string::npos);

    b.processor().adjustRate("22050");
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Adjust Sample Rate");
}

TEST(UndoNames, ARefusedOperationKeepsTheNameOfTheRecordBeforeIt) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(4000, 0), 1));
    ASSERT_TRUE(b.slicer().addPoint(2000));
    ASSERT_EQ(b.editor().undoItemText(), "&Undo Add Point");
    // Normalising pure silence finds nothing to do: everything goes back, the record included.
    b.processor().settings.normalisePercent = "100";
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Add Point");
    EXPECT_EQ(b.editor().record().undoCode, 5);
}

TEST(UndoNames, ALoadForgetsTheName) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(testSignal(4000, 2), 1));
    ASSERT_TRUE(b.slicer().addPoint(1000));
    ASSERT_TRUE(b.loadSamples(testSignal(4000, 3), 1));
    EXPECT_EQ(b.editor().undoItemText(), "&Undo");
    EXPECT_TRUE(b.editor().record().undoName.empty());
}

struct StereoBench : EditBench {
    bool loadDemo() {
        const std::string path = files.file("demo.wav");
        std::string error;
        return sample::writeDemoLoop(path, error) && fx.load(path) && s().format().channels == 2 &&
               slicer().candidates().count() > 4;
    }
    bool share(bool shared) {
        return run([&](editing::Done d) { return s().setPointsShared(shared, std::move(d)); });
    }
};

TEST(PointSharing, SeparatePointsAreSearchedAfreshAndUndoneWithTheirMode) {
    StereoBench b;
    ASSERT_TRUE(b.loadDemo());
    ASSERT_TRUE(b.s().pointsShared());
    b.slicer().setLoop(0, b.s().format().dataLength);
    const auto shared = points(b.slicer());
    EXPECT_EQ(codes(b.slicer()), std::set<uint8_t>{slicing::kCodeSecondOrMono});
    const bool wasModified = b.s().modified();

    ASSERT_TRUE(b.share(false));
    EXPECT_FALSE(b.s().pointsShared());
    // Each channel's own points: first-channel points on frame starts, second-channel ones 2 bytes in.
    EXPECT_EQ(codes(b.slicer()), (std::set<uint8_t>{slicing::kCodeSecondOrMono, slicing::kCodeFirst}));
    for (const auto& [position, code] : points(b.slicer())) {
        EXPECT_EQ(position % 4, code == slicing::kCodeFirst ? 0u : 2u) << position;
    }
    EXPECT_EQ(b.editor().record().undoCode, editing::kCodeSharing);
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Separate Channel Points");
    EXPECT_EQ(b.s().modified(), wasModified) << "the audio did not change";
    const auto own = points(b.slicer());

    ASSERT_TRUE(undo(b));
    EXPECT_TRUE(b.s().pointsShared());
    EXPECT_EQ(points(b.slicer()), shared);
    EXPECT_EQ(b.editor().undoItemText(), "&Redo Separate Channel Points");
    ASSERT_TRUE(undo(b));
    EXPECT_FALSE(b.s().pointsShared());
    EXPECT_EQ(points(b.slicer()), own);

    // Back to shared by the command itself: merged again, undoable the other way.
    ASSERT_TRUE(b.share(true));
    EXPECT_TRUE(b.s().pointsShared());
    EXPECT_EQ(codes(b.slicer()), std::set<uint8_t>{slicing::kCodeSecondOrMono});
    EXPECT_EQ(b.editor().undoItemText(), "&Undo Share Channel Points");
}

TEST(PointSharing, RefusedForMonoForTheModeInForceAndWhileBusy) {
    StereoBench b;
    EXPECT_FALSE(b.share(false)) << "no sample";
    ASSERT_TRUE(b.loadSamples(testSignal(4000, 2), 1));
    EXPECT_FALSE(b.share(false)) << "mono";
    ASSERT_TRUE(b.loadDemo());
    EXPECT_FALSE(b.share(true)) << "already shared";
    EXPECT_EQ(b.editor().record().undoCode, 0);
    bool second = true;
    ASSERT_TRUE(b.s().setPointsShared(false));
    second = b.s().setPointsShared(true); // the search of the first still runs
    b.fx.waitIdle();
    EXPECT_FALSE(second);
    EXPECT_FALSE(b.s().pointsShared());
}

TEST(PointSharing, RunScriptUnlinksWithUndoAndShowsTheName) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(sample::writeDemoLoop(dir.file("demo.wav"), error)) << error;
    const std::string script = "open " + dir.file("demo.wav") + "\nunlink\ndump-state\nundo\ndump-state\n";
    const auto r = runCli({"run", writeText(dir.file("s.txt"), script)});
    ASSERT_EQ(r.status, 0) << r.err;
    // Two states, one JSON document after the other.
    const auto split = r.out.find("}\n{");
    ASSERT_NE(split, std::string::npos);
    const auto unlinked = nlohmann::json::parse(r.out.substr(0, split + 1));
    const auto undone = nlohmann::json::parse(r.out.substr(split + 2));
    EXPECT_EQ(unlinked["linked"], false);
    EXPECT_EQ(unlinked["undoCode"], int(editing::kCodeSharing));
    EXPECT_EQ(unlinked["undoName"], "Separate Channel Points");
    EXPECT_EQ(unlinked["undoCaption"], "&Undo");
    EXPECT_EQ(undone["linked"], true);
    EXPECT_EQ(undone["undoCaption"], "&Redo");
    EXPECT_EQ(undone["undoName"], "Separate Channel Points");
}

} // namespace
} // namespace cleavix::test
