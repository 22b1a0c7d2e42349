// cleavix-cli play --tempo into ALSA's raw file PCM: the bytes the player sends are the file the
// render command writes, pass after pass; at the loop's own tempo the loop itself; the refusals.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace cleavix::test;
using nlohmann::json;

namespace {

std::string rawDevice(const std::string& path) { return "file:'" + path + "',raw"; }

} // namespace

TEST(CliPlayAtTempo, PlaysWhatRenderWritesAndLoopsItWithoutAGap) {
    TempDir dir;
    ASSERT_EQ(runCli({"demo", dir.file("demo.wav")}).status, 0);
    const Bytes demo = readFile(dir.file("demo.wav"));
    const Bytes loop(demo.begin() + 44, demo.end());
    // The demo is two bars at 120 BPM: at 90 the loop is a third longer, at 200 it is cut.
    for (const std::string tempo : {"90", "200"}) {
        const std::string wav = dir.file("render" + tempo + ".wav");
        const RunResult rendered = runCli({"render", dir.file("demo.wav"), wav, "--tempo", tempo, "--bars", "2",
                                           "--beats", "0"});
        ASSERT_EQ(rendered.status, 0) << rendered.err;
        const Bytes file = readFile(wav);
        const Bytes pass(file.begin() + 44, file.end());
        const std::string raw = dir.file("play" + tempo + ".raw");
        const RunResult r = runCli({"play", dir.file("demo.wav"), "--loop", "0", std::to_string(loop.size()), "--times",
                                    "3", "--tempo", tempo, "--bars", "2", "--beats", "0", "--buffer-size", "1",
                                    "--buffer-count", "2", "--device", rawDevice(raw)});
        ASSERT_EQ(r.status, 0) << r.err;
        const json j = json::parse(r.out);
        EXPECT_TRUE(j["rendered"].get<bool>());
        EXPECT_DOUBLE_EQ(j["fromTempo"].get<double>(), 120.0);
        EXPECT_EQ(j["length"].get<size_t>(), pass.size());
        EXPECT_EQ(j["bytesPlayed"].get<size_t>(), pass.size() * 3);
        const Bytes played = readFile(raw);
        ASSERT_EQ(played.size(), pass.size() * 3) << tempo;
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(std::equal(pass.begin(), pass.end(), played.begin() + long(k * pass.size()))) << tempo << " " << k;
        }
    }
    // The loop's own tempo plays the loop itself, from the store.
    const RunResult same = runCli({"play", dir.file("demo.wav"), "--loop", "0", std::to_string(loop.size()), "--times",
                                   "2", "--tempo", "120", "--bars", "2", "--beats", "0", "--device",
                                   rawDevice(dir.file("same.raw"))});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_FALSE(json::parse(same.out)["rendered"].get<bool>());
    Bytes twice = loop;
    twice.insert(twice.end(), loop.begin(), loop.end());
    EXPECT_TRUE(readFile(dir.file("same.raw")) == twice);
}

TEST(CliPlayAtTempo, RefusesNoTempoAndIncompleteOptions) {
    TempDir dir;
    ASSERT_EQ(runCli({"demo", dir.file("demo.wav")}).status, 0);
    const RunResult none = runCli({"play", dir.file("demo.wav"), "--tempo", "100", "--bars", "0", "--beats", "0",
                                   "--device", rawDevice(dir.file("none.raw"))});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no tempo"), std::string::npos) << none.err;
    EXPECT_FALSE(fileExists(dir.file("none.raw")));
    EXPECT_NE(runCli({"play", dir.file("demo.wav"), "--tempo", "100", "--device", "null"}).status, 0);
    EXPECT_NE(runCli({"play", dir.file("demo.wav"), "--tempo", "-4", "--bars", "2", "--beats", "0"}).status, 0);
    EXPECT_NE(runCli({"play", dir.file("demo.wav"), "--bars", "2", "--beats", "0", "--device", "null"}).status, 0);
}
