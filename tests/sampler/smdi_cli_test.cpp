// cleavix-cli smdi against the emulated SMDI samplers of the virtual bus (generic at ID 3, E-mu at
// 4), their state kept in a folder of the test's own between runs.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>

namespace cleavix::sampler {
namespace {

using nlohmann::json;
using test::runCli;

class SmdiCli : public ::testing::Test {
protected:
    SmdiCli() { ::setenv("CLEAVIX_VIRTUAL_SAMPLERS", dir.path().c_str(), 1); }
    ~SmdiCli() override { ::unsetenv("CLEAVIX_VIRTUAL_SAMPLERS"); }

    test::RunResult smdi(std::vector<std::string> args, const std::string& target = "3") {
        const auto devices = json::parse(runCli({"scsi-devices"}).out);
        const int bus = devices["adaptors"].back()["index"];
        args.insert(args.begin(), "smdi");
        args.insert(args.end(), {"--adaptor", std::to_string(bus), "--target", target});
        return runCli(args);
    }

    test::TempDir dir;
};

TEST_F(SmdiCli, SendListReceiveMonoAndStereo) {
    test::WaveSpec spec;
    spec.channels = 2;
    spec.sampleRate = 22050;
    const auto samples = test::testSignal(30000, 4);
    test::Bytes data(samples.size() * 2);
    std::memcpy(data.data(), samples.data(), data.size());
    test::writeFile(dir.file("wide.wav"), test::makeWave(spec, data));
    spec.channels = 1;
    test::writeFile(dir.file("mono.wav"), test::makeWave(spec, test::Bytes(data.begin(), data.begin() + 2000)));

    auto r = smdi({"identify"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["product"], "SMDI SAMPLER");
    r = smdi({"send", dir.file("wide.wav")});
    ASSERT_EQ(r.status, 0) << r.out;
    r = smdi({"send", dir.file("mono.wav"), "--number", "1"});
    ASSERT_EQ(r.status, 0) << r.out;

    r = smdi({"list"});
    ASSERT_EQ(r.status, 0) << r.out;
    const json list = json::parse(r.out);
    ASSERT_EQ(list["samples"].size(), 2u);
    EXPECT_EQ(list["samples"][0]["name"], "wide");
    EXPECT_EQ(list["samples"][0]["channels"], "stereo");
    EXPECT_EQ(list["samples"][0]["size"], "58kb"); // 30000 words
    EXPECT_EQ(list["samples"][1]["size"], "2000 bytes");
    EXPECT_EQ(list["samples"][1]["bits"], 16);
    EXPECT_EQ(list["samples"][1]["channels"], "mono");

    r = smdi({"receive", "0", dir.file("back.wav")});
    ASSERT_EQ(r.status, 0) << r.out;
    const json got = json::parse(r.out);
    EXPECT_EQ(got["sampleRate"], 22050);
    EXPECT_EQ(got["channels"], 2);
    spec.channels = 2;
    EXPECT_EQ(test::readFile(dir.file("back.wav")), test::makeWave(spec, data));

    // Refusals: exit status 1 with the driver's text.
    r = smdi({"receive", "5", dir.file("none.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "Error communicating with sampler\r\n\r\nSample out of range?");
    r = smdi({"identify"}, "6"); // the disk
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "An error occurred during communication with the sampler");
    EXPECT_EQ(runCli({"smdi", "list"}).status, 64);
    EXPECT_EQ(smdi({"send", dir.file("mono.wav"), "--keys", "60"}).status, 64);
}

TEST_F(SmdiCli, EmuKeepsTheKeyRangeAndNumbersFromOne) {
    test::WaveSpec spec;
    spec.channels = 1;
    const auto samples = test::testSignal(20000, 2);
    test::Bytes data(samples.size() * 2);
    std::memcpy(data.data(), samples.data(), data.size());
    test::writeFile(dir.file("pad.wav"), test::makeWave(spec, data));
    auto r = smdi({"send", dir.file("pad.wav"), "--type", "4", "--keys", "60", "55", "65"}, "4");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(json::parse(r.out)["number"], 1);
    EXPECT_EQ(json::parse(r.out)["packetLength"], 0x4000);
    r = smdi({"list", "--type", "4"}, "4");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(json::parse(r.out)["samples"][0]["number"], 1);
}

TEST_F(SmdiCli, YamahaKeyMapsReachTheListener) {
    auto r = smdi({"map", "--type", "2", "--names", "kick,snare,hat", "--bank", "Kit", "--note", "C", "--octave", "2",
                   "--interval", "2"});
    ASSERT_EQ(r.status, 0) << r.out;
    const json map = json::parse(r.out);
    EXPECT_TRUE(map["listenerErrors"].empty());
    ASSERT_EQ(map["keys"].size(), 3u);
    EXPECT_EQ(map["keys"][1]["root"], 51);
    EXPECT_EQ(map["keys"][1]["low"], 50);
    EXPECT_EQ(map["keys"][1]["high"], 52);
    EXPECT_EQ(map["sysex"].size(), 3u * 4 + 1);
    EXPECT_EQ(map["sysex"][1], "F0 43 11 58 01 02 06 00 00 00 00 03 00 F7"); // kick's root, 48
    EXPECT_EQ(map["sysex"][12].get<std::string>().substr(0, 11), "F0 43 01 7A");

    r = smdi({"map", "--type", "3", "--names", "a,b", "--first", "200"});
    ASSERT_EQ(r.status, 0) << r.out;
    const json ex = json::parse(r.out);
    ASSERT_EQ(ex["keys"].size(), 2u);
    EXPECT_EQ(ex["keys"][1]["sample"], 201);
    EXPECT_EQ(ex["keys"][1]["root"], 61);

    // Keys that do not fit are refused before anything is sent.
    r = smdi({"map", "--type", "6", "--names", "a,b,c", "--note", "G", "--octave", "8", "--interval", "20"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "The samples do not fit on the keyboard from this base note");
    EXPECT_TRUE(json::parse(r.out)["keys"].empty());
}

} // namespace
} // namespace cleavix::sampler
