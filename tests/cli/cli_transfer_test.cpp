// cleavix-cli transfer, batch, keymap and the transfer lines of `run`, against the emulated
// samplers (their state kept in a folder between runs).
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

using namespace cleavix::test;
using nlohmann::json;

namespace {

std::vector<int16_t> ramp(size_t count, int from) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i) {
        v[i] = int16_t(from + int(i));
    }
    return v;
}

struct CliRig {
    TempDir dir;
    std::string config = dir.file("profiles.ini");
    CliRig() {
        ::mkdir(dir.file("samplers").c_str(), 0700);
        ::setenv("CLEAVIX_VIRTUAL_SAMPLERS", dir.file("samplers").c_str(), 1);
        ::setenv("CLEAVIX_TEMP", dir.path().c_str(), 1);
        ::unsetenv("CLEAVIX_VIRTUAL_FAULTS");
        // The emulated SDS sampler's number among the inputs (hardware ports come first).
        const auto devices = json::parse(runCli({"midi-devices"}).out);
        std::string id;
        for (const auto& port : devices["inputs"]) {
            if (port["name"] == "Cleavix virtual SDS sampler") {
                id = std::to_string(port["id"].get<int>());
            }
        }
        EXPECT_FALSE(id.empty());
        EXPECT_EQ(runCli({"profiles", "store", "SDS", "--type", "0", "--midi-in", id, "--midi-out", id, "--offset", "1",
                          "--config", config})
                      .status,
                  0);
        EXPECT_EQ(runCli({"profiles", "store", "AKAI", "--type", "5", "--device", "2", "--config", config}).status, 0);
    }
    ~CliRig() { ::unsetenv("CLEAVIX_VIRTUAL_SAMPLERS"); }
    std::string wave(const std::string& name, const std::vector<int16_t>& samples, uint16_t channels = 1) {
        return writeWave(dir.file(name), samples, channels);
    }
};

TEST(CliTransfer, SendThenRequestRoundTripsOverSds) {
    CliRig rig;
    const auto samples = ramp(3000, -500);
    const std::string file = rig.wave("loop.wav", samples);
    RunResult r = runCli({"transfer", "send", file, "--profile", "SDS", "--position", "4", "--loop", "200", "2200",
                          "--config", rig.config});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    json j = json::parse(r.out);
    EXPECT_EQ(j["message"], "Transfer complete!");
    EXPECT_TRUE(fileExists(rig.dir.file("samplers/sds-5.wav")));

    r = runCli({"transfer", "request", rig.dir.file("back.wav"), "--profile", "SDS", "--position", "4", "--config",
                rig.config});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    j = json::parse(r.out);
    EXPECT_EQ(j["dataLength"], 2000);
    EXPECT_EQ(j["rate"], 44100);
    EXPECT_EQ(j["name"], "Untitled.wav");
    const Bytes back = readFile(rig.dir.file("back.wav"));
    ASSERT_GE(back.size(), 44u + 2000u);
    EXPECT_EQ(le16Samples(Bytes(back.end() - 2000, back.end())),
              std::vector<int16_t>(samples.begin() + 100, samples.begin() + 1100));
}

TEST(CliTransfer, WaitForTheSamplerToSend) {
    CliRig rig;
    ASSERT_EQ(runCli({"transfer", "send", rig.wave("a.wav", ramp(500, 3)), "--profile", "SDS", "--position", "8",
                      "--config", rig.config})
                  .status,
              0);
    ::setenv("CLEAVIX_VIRTUAL_FAULTS", "dump:9@600", 1);
    const RunResult r = runCli({"transfer", "wait", rig.dir.file("w.wav"), "--profile", "SDS", "--position", "8",
                                "--config", rig.config});
    ::unsetenv("CLEAVIX_VIRTUAL_FAULTS");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(json::parse(r.out)["dataLength"], 1000);
}

TEST(CliTransfer, RefusalsExitOne) {
    CliRig rig;
    RunResult r = runCli({"transfer", "send", rig.wave("a.wav", ramp(100, 0)), "--profile", "NOPE", "--config",
                          rig.dir.file("empty.ini")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("No presets found"), std::string::npos);
    r = runCli({"transfer", "send", rig.dir.file("a.wav"), "--profile", "SDS", "--loop", "10", "10", "--config",
                rig.config});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(json::parse(r.out)["messages"][0].get<std::string>().find("too short"), std::string::npos);
    r = runCli({"transfer", "list", "--profile", "SDS", "--config", rig.config});
    EXPECT_EQ(r.status, 0) << r.out; // a sample dump sampler lists nothing
    EXPECT_TRUE(json::parse(r.out)["samples"].empty());
}

TEST(CliTransfer, BatchToTheAkaiWithAutoMapThenListAndFetch) {
    CliRig rig;
    std::vector<std::string> args{"batch"};
    for (int i = 0; i < 3; ++i) {
        args.push_back(rig.wave("slice" + std::to_string(i) + ".wav", ramp(400, i * 100)));
    }
    for (const char* a : {"--profile", "AKAI", "--auto-map", "--note", "D", "--interval", "2", "--bank", "LOOP"}) {
        args.push_back(a);
    }
    args.push_back("--config");
    args.push_back(rig.config);
    RunResult r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    json j = json::parse(r.out);
    EXPECT_TRUE(j["mapped"]);
    EXPECT_EQ(j["message"], "Batch transfer complete!");
    ASSERT_EQ(j["sent"].size(), 3u);
    EXPECT_EQ(j["sent"][0]["root"], 50);
    EXPECT_EQ(j["sent"][0]["low"], 49);
    EXPECT_EQ(j["sent"][1]["root"], 53);
    EXPECT_EQ(j["sent"][2]["high"], 57);
    EXPECT_EQ(j["sent"][2]["name"], "slice2");

    r = runCli({"transfer", "list", "--profile", "AKAI", "--config", rig.config});
    ASSERT_EQ(r.status, 0) << r.err;
    j = json::parse(r.out);
    ASSERT_EQ(j["samples"].size(), 3u);
    const int number = j["samples"][1]["number"];
    r = runCli({"transfer", "fetch", std::to_string(number), rig.dir.file("f.wav"), "--profile", "AKAI", "--config",
                rig.config});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    j = json::parse(r.out);
    EXPECT_EQ(j["dataLength"], 800);
    EXPECT_EQ(j["name"].get<std::string>().substr(0, 6), "SLICE1");
}

TEST(CliTransfer, KeymapArithmetic) {
    RunResult r = runCli({"keymap", "--count", "8", "--white-keys"});
    ASSERT_EQ(r.status, 0);
    json j = json::parse(r.out);
    EXPECT_EQ(j["baseNote"], 48);
    EXPECT_TRUE(j["fits"]);
    std::vector<int> roots;
    for (const auto& k : j["keys"]) {
        roots.push_back(k["root"]);
    }
    EXPECT_EQ(roots, (std::vector<int>{48, 50, 52, 53, 55, 57, 59, 60}));
    r = runCli({"keymap", "--count", "40", "--interval", "2"});
    EXPECT_FALSE(json::parse(r.out)["fits"]);
    EXPECT_EQ(runCli({"keymap", "--count", "2", "--interval", "3"}).status, 64);
}

TEST(CliTransfer, ScriptRequestReplacesTheSampleWithUndo) {
    CliRig rig;
    ASSERT_EQ(runCli({"transfer", "send", rig.wave("far.wav", ramp(700, 9)), "--profile", "SDS", "--position", "2",
                      "--config", rig.config})
                  .status,
              0);
    const std::string script = writeText(rig.dir.file("s.txt"), "open " + rig.wave("near.wav", ramp(100, 1)) +
                                         "\nprofile SDS --config " + rig.config +
                                         "\nrequest --position 2\ndump-state\nundo\ndump-state\n");
    const RunResult r = runCli({"run", script});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    const auto first = r.out.find("\"undoCode\": 11");
    EXPECT_NE(first, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"dataLength\": 1400"), std::string::npos);
    EXPECT_NE(r.out.find("\"dataLength\": 200"), std::string::npos);
}

} // namespace
