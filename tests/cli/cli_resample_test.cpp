// `resample HZ` in a cleavix-cli run script: the sample converted with its points and locators
// scaled, Undo, the saved file at the new rate; refusals and a full disk exit 1 and say why.
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

using namespace cleavix::test;
using nlohmann::json;

namespace {

std::string script(const TempDir& dir, const std::string& text) { return writeText(dir.file("script.txt"), text); }

// The JSON values the dump lines printed, one after another.
std::vector<json> jsonLines(const std::string& out) {
    std::vector<json> values;
    std::istringstream in(out);
    while ((in >> std::ws) && in.peek() != std::char_traits<char>::eof()) {
        json value;
        in >> value;
        values.push_back(std::move(value));
    }
    return values;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(CliResample, ConvertsScalesSavesAndUndoes) {
    TempDir dir;
    const auto audio = testSignal(20000 * 2, 3);
    writeWave(dir.file("in.wav"), audio);
    const std::string s = script(dir, "open " + dir.file("in.wav") +
                                          "\nundo-buffer on\nloop 4000 60000\nadd-point 40000\nresample 22050\n"
                                          "dump-state\ndump-points\nsave " +
                                          dir.file("out.wav") + "\nundo\ndump-state\ndump-store " +
                                          dir.file("store.raw") + "\n");
    const RunResult r = runCli({"run", s});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const json& after = lines[0];
    EXPECT_EQ(after["format"]["sampleRate"], 22050);
    EXPECT_EQ(after["dataLength"], 10000 * 4);
    EXPECT_EQ(after["L"], 500 * 4);   // frame 1000 -> 500
    EXPECT_EQ(after["R"], 7500 * 4);  // frame 15000 -> 7500
    EXPECT_EQ(after["undoCaption"], "&Undo");
    EXPECT_EQ(after["undoAvailable"], true);
    bool found = false;
    for (const auto& p : lines[1]["candidates"]) {
        found = found || p["position"] == 5000 * 4; // frame 10000 -> 5000
    }
    EXPECT_TRUE(found) << lines[1].dump();
    const Bytes saved = readFile(dir.file("out.wav"));
    EXPECT_EQ(getLe32(saved, 24), 22050u);
    EXPECT_EQ(getLe32(saved, 28), 22050u * 4);
    const json& undone = lines[2];
    EXPECT_EQ(undone["format"]["sampleRate"], 44100);
    EXPECT_EQ(undone["dataLength"], 20000 * 4);
    EXPECT_EQ(undone["L"], 4000);
    EXPECT_EQ(undone["R"], 60000);
    EXPECT_EQ(le16Samples(readFile(dir.file("store.raw"))), audio) << "byte for byte";
}

TEST(CliResample, InvalidRatesAreRefusedWithTheMessage) {
    TempDir dir;
    writeWave(dir.file("in.wav"), testSignal(2000));
    for (const char* bad : {"32k", "0", "-8000", "1073741824"}) {
        SCOPED_TRACE(bad);
        const RunResult r = runCli({"run", script(dir, "open " + dir.file("in.wav") + "\nresample " + bad + "\n")});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(has(r.err, "This sample rate is invalid!")) << r.err;
    }
    const RunResult usage = runCli({"run", script(dir, "open " + dir.file("in.wav") + "\nresample\n")});
    EXPECT_EQ(usage.status, 64);
    EXPECT_TRUE(has(usage.err, "usage: resample HZ")) << usage.err;
    const RunResult help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(has(help.out, "resample HZ")) << help.out;
}

// The file-size limit stands for a full disk: the store cannot grow for the upsample, so the
// command fails and says so before it changed anything (the dump after it is never reached).
TEST(CliResample, AFullDiskFailsAloud) {
    TempDir dir;
    writeWave(dir.file("in.wav"), testSignal(20000 * 2));
    const std::string s = script(dir, "open " + dir.file("in.wav") + "\nresample 96000\ndump-state\n");
    const RunResult r = run({"/usr/bin/prlimit", "--fsize=100000", CLEAVIX_CLI, "run", s});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "processing error")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
}
