// cleavix-cli akai against the emulated S2000 of the virtual bus, its state kept in a folder of
// the test's own between runs.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>

namespace cleavix::sampler {
namespace {

using nlohmann::json;
using test::runCli;

class AkaiCli : public ::testing::Test {
protected:
    AkaiCli() { ::setenv("CLEAVIX_VIRTUAL_SAMPLERS", dir.path().c_str(), 1); }
    ~AkaiCli() override { ::unsetenv("CLEAVIX_VIRTUAL_SAMPLERS"); }

    test::RunResult akai(std::vector<std::string> args) {
        const auto devices = json::parse(runCli({"scsi-devices"}).out);
        const int bus = devices["adaptors"].back()["index"];
        args.insert(args.begin(), "akai");
        args.insert(args.end(), {"--adaptor", std::to_string(bus), "--target", "2"});
        return runCli(args);
    }

    test::TempDir dir;
};

TEST_F(AkaiCli, SendListReceiveAndMap) {
    test::WaveSpec spec;
    spec.channels = 1;
    spec.sampleRate = 22050;
    const auto samples = test::testSignal(1500, 4);
    test::Bytes data(samples.size() * 2);
    std::memcpy(data.data(), samples.data(), data.size());
    test::writeFile(dir.file("snare.wav"), test::makeWave(spec, data));

    auto r = akai({"identify"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = akai({"send", dir.file("snare.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = akai({"list"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json list = json::parse(r.out);
    ASSERT_EQ(list["samples"].size(), 1u);
    EXPECT_EQ(list["samples"][0]["name"], "SNARE");
    EXPECT_EQ(list["samples"][0]["words"], 1500);
    r = akai({"receive", "0", dir.file("back.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["sampleRate"], 22050);
    EXPECT_EQ(test::readFile(dir.file("back.wav")), test::makeWave(spec, data));

    r = akai({"map", "--names", "snare,snare,snare", "--bank", "kit", "--note", "D", "--octave", "3", "--interval", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json map = json::parse(r.out);
    EXPECT_EQ(map["baseNote"], 62);
    EXPECT_EQ(map["keygroups"].size(), 3u);
    EXPECT_EQ(map["program"].get<std::string>().substr(0, 14), "F0 47 00 07 48");
    ASSERT_EQ(map["keyRanges"].size(), 3u);
    EXPECT_EQ(map["keyRanges"][1]["low"], 64);
    EXPECT_EQ(map["keyRanges"][1]["high"], 66);

    // Stereo is refused with the driver's message, and the exit status says so.
    spec.channels = 2;
    test::writeFile(dir.file("wide.wav"), test::makeWave(spec, data));
    r = akai({"send", dir.file("wide.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Akai driver cannot handle stereo at this time!"), std::string::npos);
    EXPECT_EQ(runCli({"akai", "list"}).status, 64);
}

} // namespace
} // namespace cleavix::sampler
