// cleavix-cli run: a script drives the same engine; its dumps show what the edits did.
#include "EditTestKit.h"
#include "support/FoldEngine.h"

#include <nlohmann/json.hpp>

namespace cleavix::test {
namespace {

TEST(RunScript, CutUndoAndStateThroughTheCommandLine) {
    TempDir dir;
    const auto data = testSignal(4000, 3);
    const std::string in = writeWave(dir.file("in.wav"), data);
    const auto r = runCli({"run", writeText(dir.file("s.txt"), "open " + in + "\n# a comment\nselect 400 4002\ncut\n"
                                            "dump-store " + dir.file("cut.raw") + "\ndump-state\nundo\n"
                                            "dump-store " + dir.file("back.raw") + "\n")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto expected = data;
    expected.erase(expected.begin() + 200, expected.begin() + 2000); // whole frames: 400..4000
    EXPECT_EQ(le16Samples(readFile(dir.file("cut.raw"))), expected);
    EXPECT_EQ(le16Samples(readFile(dir.file("back.raw"))), data);
    const auto state = nlohmann::json::parse(r.out);
    EXPECT_EQ(state["dataLength"], 8000 - 3600);
    EXPECT_EQ(state["undoCode"], 19);
    EXPECT_EQ(state["undoCaption"], "&Undo");
    EXPECT_EQ(state["modified"], true);
}

TEST(RunScript, StopsAtARefusedCommandAndAtAMalformedOne) {
    TempDir dir;
    const std::string open = "open " + writeWave(dir.file("in.wav"), testSignal(400)) + "\n";
    EXPECT_EQ(runCli({"run", writeText(dir.file("a.txt"), open + "undo\n")}).status, 1) << "nothing to undo";
    EXPECT_EQ(runCli({"run", writeText(dir.file("b.txt"), open + "quantise 9\n")}).status, 64);
}

TEST(Randomise, UndoBringsTheShuffledRegionBack) {
    EditBench b;
    std::vector<int16_t> data(4000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = int16_t(i / 500 * 1000 + 1);
    }
    ASSERT_TRUE(b.loadSamples(data, 1));
    for (uint32_t p : {1000u, 2000u, 3000u, 5000u, 6000u}) {
        ASSERT_TRUE(b.slicer().addPoint(p));
    }
    b.slicer().setRandomSeed(4);
    const auto before = b.slicer().candidates().count();
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().randomise(true, std::move(d)); }));
    EXPECT_NE(b.samples(), data);
    EXPECT_EQ(b.editor().record().undoCode, 17);
    EXPECT_EQ(b.slicer().candidates().count(), before);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

} // namespace
} // namespace cleavix::test
