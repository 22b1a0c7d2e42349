// cleavix-cli scsi-devices and profiles, as a script would use them.
#include "support/FoldSampler.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace cleavix::sampler {
namespace {

using nlohmann::json;
using test::runCli;

// The tool's profiles command on a settings file of the test's own.
class ProfileCli : public ::testing::Test {
protected:
    // `profiles ARGS --config FILE`, which must end with `status`; its output as JSON.
    json profiles(std::vector<std::string> args, int status = 0) {
        const auto r = run(std::move(args));
        EXPECT_EQ(r.status, status) << r.err << r.out;
        return r.status == status && !r.out.empty() ? json::parse(r.out) : json();
    }
    test::RunResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "profiles");
        args.insert(args.end(), {"--config", config});
        return runCli(args);
    }
    test::TempDir dir;
    const std::string config = dir.file("Cleavix.ini");
};

TEST_F(ProfileCli, ScsiDevicesListsTheVirtualBusItsSamplersAndItsDisk) {
    const auto r = runCli({"scsi-devices"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_FALSE(j["adaptors"].empty());
    const json& last = j["adaptors"].back();
    EXPECT_EQ(last["identifier"], "Cleavix virtual SCSI bus");
    EXPECT_EQ(last["virtual"], true);
    const int bus = last["index"];
    std::vector<std::string> lines;
    for (const auto& device : j["devices"]) {
        if (device["adaptor"] == bus) {
            lines.push_back(device["line"]);
        }
    }
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "ID:0 No Device Found");
    EXPECT_EQ(lines[2], "ID:2 AKAI S2000 1.00 (*)");
    EXPECT_EQ(lines[3], "ID:3 CLEAVIX SMDI SAMPLER 1.0 (*)");
    EXPECT_EQ(lines[4], "ID:4 E-MU SYS E4XT ULTRA 4.70 (*)");
    EXPECT_EQ(lines[6], "ID:6 CLEAVIX VIRTUAL DISK 1.0");
    const auto one = runCli({"scsi-devices", "--adaptor", std::to_string(bus)});
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(json::parse(one.out)["devices"].size(), 7u);
    EXPECT_EQ(runCli({"scsi-devices", "--adaptor", "99"}).status, 64);
}

TEST_F(ProfileCli, StoreListCheckDelete) {
    EXPECT_EQ(profiles({"list"})["lines"], json::array({"No Presets Stored"}));
    EXPECT_EQ(profiles({"check", "anything"}, 1)["message"], "No presets found - use the preset manager to add a preset.");

    json j = profiles({"store", "Zed S3000", "--type", "5", "--adaptor", "0", "--device", "6", "--offset", "-1024"});
    EXPECT_EQ(j["position"], 0);
    EXPECT_EQ(j["profile"]["scsiInUse"], true);
    EXPECT_EQ(j["profile"]["midiOutInUse"], false);
    j = profiles({"store", "A3000", "--type", "2", "--midi-out", "1"});
    EXPECT_EQ(j["position"], 0) << "selected by name in the sorted list";
    EXPECT_EQ(j["profile"]["midiOutInUse"], true);
    profiles({"store", "Sds", "--type", "0", "--channel", "16", "--open-loop", "--sysex-id", "3"});

    j = profiles({"list"});
    EXPECT_EQ(j["lines"], json::array({"A3000", "Sds", "Zed S3000"}));
    EXPECT_EQ(j["profiles"][2]["profile"]["offset"], -1024);
    EXPECT_EQ(j["profiles"][2]["profile"]["scsiDevice"], 6);
    EXPECT_EQ(j["profiles"][1]["profile"]["midiChannel"], 16);
    EXPECT_EQ(j["profiles"][1]["profile"]["openLoop"], true);
    EXPECT_EQ(j["profiles"][1]["profile"]["sysexId"], 3);

    // The virtual bus is adaptor 0 when the machine has no sg adaptors, so adaptor 0 passes; a
    // MIDI output index equal to the count does not.
    j = profiles({"check", "A3000", "--midi-inputs", "0", "--midi-outputs", "1"}, 1);
    EXPECT_EQ(j["message"], "Device ID out of range:\nCheck settings - MIDI or SCSI device may have been removed");
    EXPECT_EQ(j["detail"], "MIDI output 1 of 1");
    j = profiles({"check", "A3000", "--midi-inputs", "0", "--midi-outputs", "2"});
    EXPECT_EQ(j["message"], "ok");
    EXPECT_EQ(j["autoMap"], true);
    EXPECT_EQ(j["receiveButton"], "List Samples");
    j = profiles({"check", "Sds"});
    EXPECT_EQ(j["midiChecked"], false);
    EXPECT_EQ(j["receiveButton"], "Wait For Send");

    j = profiles({"delete", "Sds"});
    EXPECT_EQ(j["selected"], "A3000");
    EXPECT_EQ(j["lines"], json::array({"A3000", "Zed S3000"}));
    EXPECT_EQ(run({"delete", "Sds"}).status, 1);
}

TEST_F(ProfileCli, RefusesBadNamesAndRanges) {
    const auto r = run({"store", "a/b", "--type", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'/'"), std::string::npos);
    const std::vector<std::string> usages[] = {{"store", "x", "--type", "8"},
                                               {"store", "x", "--type", "0", "--channel", "0"},
                                               {"store", "x", "--type", "0", "--offset", "1025"},
                                               {"store", "x", "--type", "1", "--device", "7"},
                                               {"store", "x"},
                                               {"frobnicate"}};
    for (const auto& args : usages) {
        EXPECT_EQ(run(args).status, 64) << json(args).dump();
    }
    EXPECT_EQ(profiles({"list"})["profiles"].size(), 0u);
}

TEST_F(ProfileCli, CorruptValueIsReportedNotTaken) {
    std::ofstream(config) << "[SOFTWARE]\n"
                          << test::softwareLines({"Samplers\\short=@ByteArray(\\x1\\x2)", "Samplers\\text=hello"});
    const json j = profiles({"list"});
    EXPECT_EQ(j["profiles"][0]["valid"], false);
    EXPECT_EQ(j["profiles"][0]["error"], "Error reading preset - may be corrupted!");
    EXPECT_EQ(j["profiles"][0]["detail"], "2 bytes");
    EXPECT_EQ(j["profiles"][1]["detail"], "the value is not binary");
    EXPECT_EQ(profiles({"check", "short"}, 1)["message"],
              "Error reading preset - may be corrupted!\nCheck settings in preset manager");
}

TEST_F(ProfileCli, DefaultConfigFollowsXdgConfigHome) {
    const auto r = test::run({"/usr/bin/env", "XDG_CONFIG_HOME=" + dir.path(), CLEAVIX_CLI, "profiles", "store", "Home",
                              "--type", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readText(dir.path() + "/Cleavix/Cleavix.ini"),
              "[SOFTWARE]\n" +
                  test::softwareLines({"Samplers\\Home=@ByteArray(\\0\\0\\0\\0\\x1\\x1\\0\\x1\\0\\x1\\0\\0\\0\\0\\0\\0)"}));
}

} // namespace
} // namespace cleavix::sampler
