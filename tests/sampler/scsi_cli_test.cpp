// cleavix-cli akai and smdi against the emulated samplers of the virtual bus (the S2000 at ID 2,
// the generic SMDI sampler at 3, the E-mu at 4), their state kept in a folder of the test's own
// between runs.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

namespace cleavix::sampler {
namespace {

using nlohmann::json;
using test::runCli;

class ScsiSamplerCli : public ::testing::Test {
protected:
    ScsiSamplerCli() { ::setenv("CLEAVIX_VIRTUAL_SAMPLERS", dir.path().c_str(), 1); }
    ~ScsiSamplerCli() override { ::unsetenv("CLEAVIX_VIRTUAL_SAMPLERS"); }

    // `command` with the sampler at `target` of the virtual bus (the last adaptor).
    test::RunResult atTarget(const std::string& command, std::vector<std::string> args, const std::string& target) {
        const auto devices = json::parse(runCli({"scsi-devices"}).out);
        const int bus = devices["adaptors"].back()["index"];
        args.insert(args.begin(), command);
        args.insert(args.end(), {"--adaptor", std::to_string(bus), "--target", target});
        return runCli(args);
    }
    test::RunResult akai(std::vector<std::string> args) { return atTarget("akai", std::move(args), "2"); }
    test::RunResult smdi(std::vector<std::string> args, const std::string& target = "3") {
        return atTarget("smdi", std::move(args), target);
    }

    // The output of a run that must succeed, as JSON.
    static json ok(const test::RunResult& r) {
        EXPECT_EQ(r.status, 0) << r.err << r.out;
        return r.status == 0 ? json::parse(r.out) : json();
    }

    // The bytes of a test signal of `words` 16-bit values.
    static test::Bytes signalBytes(size_t words, uint32_t seed) { return test::le16Bytes(test::testSignal(words, seed)); }

    test::TempDir dir;
};

TEST_F(ScsiSamplerCli, AkaiSendListReceiveAndMap) {
    test::WaveSpec spec{.channels = 1, .sampleRate = 22050};
    const auto data = signalBytes(1500, 4);
    test::writeFile(dir.file("snare.wav"), test::makeWave(spec, data));

    ok(akai({"identify"}));
    ok(akai({"send", dir.file("snare.wav")}));
    const json list = ok(akai({"list"}));
    ASSERT_EQ(list["samples"].size(), 1u);
    EXPECT_EQ(list["samples"][0]["name"], "SNARE");
    EXPECT_EQ(list["samples"][0]["words"], 1500);
    EXPECT_EQ(ok(akai({"receive", "0", dir.file("back.wav")}))["sampleRate"], 22050);
    EXPECT_EQ(test::readFile(dir.file("back.wav")), test::makeWave(spec, data));

    const json map =
        ok(akai({"map", "--names", "snare,snare,snare", "--bank", "kit", "--note", "D", "--octave", "3", "--interval", "2"}));
    EXPECT_EQ(map["baseNote"], 62);
    EXPECT_EQ(map["keygroups"].size(), 3u);
    EXPECT_EQ(map["program"].get<std::string>().substr(0, 14), "F0 47 00 07 48");
    ASSERT_EQ(map["keyRanges"].size(), 3u);
    EXPECT_EQ(map["keyRanges"][1]["low"], 64);
    EXPECT_EQ(map["keyRanges"][1]["high"], 66);

    // Stereo is refused with the driver's message, and the exit status says so.
    spec.channels = 2;
    test::writeFile(dir.file("wide.wav"), test::makeWave(spec, data));
    const auto r = akai({"send", dir.file("wide.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Akai driver cannot handle stereo at this time!"), std::string::npos);
    EXPECT_EQ(runCli({"akai", "list"}).status, 64);
}

TEST_F(ScsiSamplerCli, SmdiSendListReceiveMonoAndStereo) {
    test::WaveSpec spec{.channels = 2, .sampleRate = 22050};
    const auto data = signalBytes(30000, 4);
    test::writeFile(dir.file("wide.wav"), test::makeWave(spec, data));
    spec.channels = 1;
    test::writeFile(dir.file("mono.wav"), test::makeWave(spec, test::Bytes(data.begin(), data.begin() + 2000)));

    EXPECT_EQ(ok(smdi({"identify"}))["product"], "SMDI SAMPLER");
    ok(smdi({"send", dir.file("wide.wav")}));
    ok(smdi({"send", dir.file("mono.wav"), "--number", "1"}));

    const json list = ok(smdi({"list"}));
    ASSERT_EQ(list["samples"].size(), 2u);
    EXPECT_EQ(list["samples"][0]["name"], "wide");
    EXPECT_EQ(list["samples"][0]["channels"], "stereo");
    EXPECT_EQ(list["samples"][0]["size"], "58kb"); // 30000 words
    EXPECT_EQ(list["samples"][1]["size"], "2000 bytes");
    EXPECT_EQ(list["samples"][1]["bits"], 16);
    EXPECT_EQ(list["samples"][1]["channels"], "mono");

    const json got = ok(smdi({"receive", "0", dir.file("back.wav")}));
    EXPECT_EQ(got["sampleRate"], 22050);
    EXPECT_EQ(got["channels"], 2);
    spec.channels = 2;
    EXPECT_EQ(test::readFile(dir.file("back.wav")), test::makeWave(spec, data));

    // Refusals: exit status 1 with the driver's text.
    auto r = smdi({"receive", "5", dir.file("none.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "Error communicating with sampler\r\n\r\nSample out of range?");
    r = smdi({"identify"}, "6"); // the disk
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "An error occurred during communication with the sampler");
    EXPECT_EQ(runCli({"smdi", "list"}).status, 64);
    EXPECT_EQ(smdi({"send", dir.file("mono.wav"), "--keys", "60"}).status, 64);
}

TEST_F(ScsiSamplerCli, SmdiEmuKeepsTheKeyRangeAndNumbersFromOne) {
    test::WaveSpec spec;
    spec.channels = 1;
    const auto data = signalBytes(20000, 2);
    test::writeFile(dir.file("pad.wav"), test::makeWave(spec, data));
    const json sent = ok(smdi({"send", dir.file("pad.wav"), "--type", "4", "--keys", "60", "55", "65"}, "4"));
    EXPECT_EQ(sent["number"], 1);
    EXPECT_EQ(sent["packetLength"], 0x4000);
    EXPECT_EQ(ok(smdi({"list", "--type", "4"}, "4"))["samples"][0]["number"], 1);
}

TEST_F(ScsiSamplerCli, SmdiYamahaKeyMapsReachTheListener) {
    const json map = ok(smdi({"map", "--type", "2", "--names", "kick,snare,hat", "--bank", "Kit", "--note", "C",
                              "--octave", "2", "--interval", "2"}));
    EXPECT_TRUE(map["listenerErrors"].empty());
    ASSERT_EQ(map["keys"].size(), 3u);
    EXPECT_EQ(map["keys"][1]["root"], 51);
    EXPECT_EQ(map["keys"][1]["low"], 50);
    EXPECT_EQ(map["keys"][1]["high"], 52);
    EXPECT_EQ(map["sysex"].size(), 3u * 4 + 1);
    EXPECT_EQ(map["sysex"][1], "F0 43 11 58 01 02 06 00 00 00 00 03 00 F7"); // kick's root, 48
    EXPECT_EQ(map["sysex"][12].get<std::string>().substr(0, 11), "F0 43 01 7A");

    const json ex = ok(smdi({"map", "--type", "3", "--names", "a,b", "--first", "200"}));
    ASSERT_EQ(ex["keys"].size(), 2u);
    EXPECT_EQ(ex["keys"][1]["sample"], 201);
    EXPECT_EQ(ex["keys"][1]["root"], 61);

    // Keys that do not fit are refused before anything is sent.
    const auto r = smdi({"map", "--type", "6", "--names", "a,b,c", "--note", "G", "--octave", "8", "--interval", "20"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "The samples do not fit on the keyboard from this base note");
    EXPECT_TRUE(json::parse(r.out)["keys"].empty());
}

// What both commands share: the verbs, the choice of sampler, a profile of the right kind.
struct SharedCase {
    std::string command;
    std::string target;   // of the emulated sampler on the virtual bus
    std::string type;     // the device type of a profile for it
    std::string kind;     // how a refused profile is named
    std::string otherType; // a profile type the command does not take
};

void PrintTo(const SharedCase& c, std::ostream* out) { *out << c.command; }

class ScsiSamplerShared : public ScsiSamplerCli, public ::testing::WithParamInterface<SharedCase> {};

TEST_P(ScsiSamplerShared, VerbsAndSamplerOptionsAreCheckedAlike) {
    const auto& c = GetParam();
    auto r = runCli({c.command});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("missing identify, list, send, receive or map"), std::string::npos) << r.err;
    r = runCli({c.command, "bogus"});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("unknown " + c.command + " command: bogus"), std::string::npos) << r.err;
    r = runCli({c.command, "identify", "--adaptor", "0"});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("give --profile NAME, or --adaptor A and --target T"), std::string::npos) << r.err;
    r = runCli({c.command, "identify", "--adaptor", "99", "--target", c.target});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("--adaptor must be 0 to "), std::string::npos) << r.err;
    EXPECT_EQ(atTarget(c.command, {"identify"}, "8").status, 64);
    EXPECT_EQ(atTarget(c.command, {"identify", "extra"}, c.target).status, 64);
    // Nothing at ID 1: the sampler's failure, exit status 1.
    r = atTarget(c.command, {"identify"}, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["ok"], false);
}

TEST_P(ScsiSamplerShared, AProfileNamesTheSamplerAndMustBeOfItsKind) {
    const auto& c = GetParam();
    const std::string config = dir.file("Cleavix.ini");
    const auto devices = json::parse(runCli({"scsi-devices"}).out);
    const std::string bus = std::to_string(int(devices["adaptors"].back()["index"]));
    EXPECT_EQ(runCli({c.command, "identify", "--profile", "mine", "--config", config}).status, 1)
        << "no profile stored yet";
    for (const auto& [name, type] : {std::pair{"mine", c.type}, std::pair{"other", c.otherType}}) {
        ok(runCli({"profiles", "store", name, "--type", type, "--adaptor", bus, "--device", c.target, "--config", config}));
    }
    EXPECT_EQ(ok(runCli({c.command, "identify", "--profile", "mine", "--config", config}))["ok"], true);
    const auto r = runCli({c.command, "identify", "--profile", "other", "--config", config});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("profile other is not " + c.kind + " profile"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Commands, ScsiSamplerShared,
                         ::testing::Values(SharedCase{"akai", "2", "5", "an Akai S2000", "1"},
                                           SharedCase{"smdi", "3", "1", "an SMDI", "5"}),
                         [](const auto& which) { return which.param.command; });

} // namespace
} // namespace cleavix::sampler
