// cleavix-cli scsi-devices and profiles, as a script would use them.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace cleavix::sampler {
namespace {

using nlohmann::json;
using test::runCli;

TEST(ProfileCli, ScsiDevicesListsTheVirtualBusItsSamplersAndItsDisk) {
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

TEST(ProfileCli, StoreListCheckDelete) {
    test::TempDir dir;
    const std::string config = dir.file("Cleavix.ini");
    auto r = runCli({"profiles", "list", "--config", config});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["lines"], json::array({"No Presets Stored"}));
    r = runCli({"profiles", "check", "anything", "--config", config});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["message"], "No presets found - use the preset manager to add a preset.");

    r = runCli({"profiles", "store", "Zed S3000", "--type", "5", "--adaptor", "0", "--device", "6", "--offset", "-1024",
                "--config", config});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["position"], 0);
    EXPECT_EQ(j["profile"]["scsiInUse"], true);
    EXPECT_EQ(j["profile"]["midiOutInUse"], false);
    r = runCli({"profiles", "store", "A3000", "--type", "2", "--midi-out", "1", "--config", config});
    ASSERT_EQ(r.status, 0) << r.err;
    j = json::parse(r.out);
    EXPECT_EQ(j["position"], 0) << "selected by name in the sorted list";
    EXPECT_EQ(j["profile"]["midiOutInUse"], true);
    r = runCli({"profiles", "store", "Sds", "--type", "0", "--channel", "16", "--open-loop", "--sysex-id", "3",
                "--config", config});
    ASSERT_EQ(r.status, 0) << r.err;

    r = runCli({"profiles", "list", "--config", config});
    j = json::parse(r.out);
    EXPECT_EQ(j["lines"], json::array({"A3000", "Sds", "Zed S3000"}));
    EXPECT_EQ(j["profiles"][2]["profile"]["offset"], -1024);
    EXPECT_EQ(j["profiles"][2]["profile"]["scsiDevice"], 6);
    EXPECT_EQ(j["profiles"][1]["profile"]["midiChannel"], 16);
    EXPECT_EQ(j["profiles"][1]["profile"]["openLoop"], true);
    EXPECT_EQ(j["profiles"][1]["profile"]["sysexId"], 3);

    // The virtual bus is adaptor 0 when the machine has no sg adaptors, so adaptor 0 passes; a
    // MIDI output index equal to the count does not.
    r = runCli({"profiles", "check", "A3000", "--midi-inputs", "0", "--midi-outputs", "1", "--config", config});
    EXPECT_EQ(r.status, 1);
    j = json::parse(r.out);
    EXPECT_EQ(j["message"], "Device ID out of range:\nCheck settings - MIDI or SCSI device may have been removed");
    EXPECT_EQ(j["detail"], "MIDI output 1 of 1");
    r = runCli({"profiles", "check", "A3000", "--midi-inputs", "0", "--midi-outputs", "2", "--config", config});
    EXPECT_EQ(r.status, 0) << r.out;
    j = json::parse(r.out);
    EXPECT_EQ(j["message"], "ok");
    EXPECT_EQ(j["autoMap"], true);
    EXPECT_EQ(j["receiveButton"], "List Samples");
    r = runCli({"profiles", "check", "Sds", "--config", config});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(json::parse(r.out)["midiChecked"], false);
    EXPECT_EQ(json::parse(r.out)["receiveButton"], "Wait For Send");

    r = runCli({"profiles", "delete", "Sds", "--config", config});
    ASSERT_EQ(r.status, 0) << r.err;
    j = json::parse(r.out);
    EXPECT_EQ(j["selected"], "A3000");
    EXPECT_EQ(j["lines"], json::array({"A3000", "Zed S3000"}));
    EXPECT_EQ(runCli({"profiles", "delete", "Sds", "--config", config}).status, 1);
}

TEST(ProfileCli, RefusesBadNamesAndRanges) {
    test::TempDir dir;
    const std::string config = dir.file("Cleavix.ini");
    auto r = runCli({"profiles", "store", "a/b", "--type", "0", "--config", config});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'/'"), std::string::npos);
    EXPECT_EQ(runCli({"profiles", "store", "x", "--type", "8", "--config", config}).status, 64);
    EXPECT_EQ(runCli({"profiles", "store", "x", "--type", "0", "--channel", "0", "--config", config}).status, 64);
    EXPECT_EQ(runCli({"profiles", "store", "x", "--type", "0", "--offset", "1025", "--config", config}).status, 64);
    EXPECT_EQ(runCli({"profiles", "store", "x", "--type", "1", "--device", "7", "--config", config}).status, 64);
    EXPECT_EQ(runCli({"profiles", "store", "x", "--config", config}).status, 64);
    EXPECT_EQ(runCli({"profiles", "frobnicate", "--config", config}).status, 64);
    r = runCli({"profiles", "list", "--config", config});
    EXPECT_EQ(json::parse(r.out)["profiles"].size(), 0u);
}

TEST(ProfileCli, CorruptValueIsReportedNotTaken) {
    test::TempDir dir;
    const std::string config = dir.file("Cleavix.ini");
    std::ofstream(config) << "[SOFTWARE]\n"
                             "Brindlecote%20Software\\Cleavix%20%28Advanced%29\\Samplers\\short=@ByteArray(\\x1\\x2)\n"
                             "Brindlecote%20Software\\Cleavix%20%28Advanced%29\\Samplers\\text=hello\n";
    auto r = runCli({"profiles", "list", "--config", config});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["profiles"][0]["valid"], false);
    EXPECT_EQ(j["profiles"][0]["error"], "Error reading preset - may be corrupted!");
    EXPECT_EQ(j["profiles"][0]["detail"], "2 bytes");
    EXPECT_EQ(j["profiles"][1]["detail"], "the value is not binary");
    r = runCli({"profiles", "check", "short", "--config", config});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["message"], "Error reading preset - may be corrupted!\nCheck settings in preset manager");
}

TEST(ProfileCli, DefaultConfigFollowsXdgConfigHome) {
    test::TempDir dir;
    const auto r = test::run({"/usr/bin/env", "XDG_CONFIG_HOME=" + dir.path(), CLEAVIX_CLI, "profiles", "store", "Home",
                              "--type", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(dir.path() + "/Cleavix/Cleavix.ini");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[SOFTWARE]\nBrindlecote%20Software\\Cleavix%20%28Advanced%29\\Samplers\\Home="
                    "@ByteArray(\\0\\0\\0\\0\\x1\\x1\\0\\x1\\0\\x1\\0\\0\\0\\0\\0\\0)\n");
}

} // namespace
} // namespace cleavix::sampler
