// cleavix-cli midi-devices and sds, run as a program: a send captured on the cable against
// `sds encode`, sends and fetches across runs through the emulated sampler's folder, faults.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

using namespace cleavix::test;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

std::string monoWave(const TempDir& dir, size_t samples, uint32_t rate = 44100) {
    const std::string path = dir.file("mono.wav");
    WaveSpec spec{.channels = 1, .sampleRate = rate};
    writeFile(path, makeWave(spec, le16Bytes(testSignal(samples, 2))));
    return path;
}

// Runs the tool with the emulated sampler keeping its samples in `store`.
RunResult runWithStore(const TempDir& store, std::vector<std::string> args) {
    std::vector<std::string> argv = {"/usr/bin/env", "CLEAVIX_VIRTUAL_SAMPLERS=" + store.path(), CLEAVIX_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

} // namespace

TEST(SdsCli, MidiDevicesListsTheVirtualPortsLast) {
    const auto result = runCli({"midi-devices"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto json = nlohmann::json::parse(result.out);
    for (const char* side : {"inputs", "outputs"}) {
        const auto& list = json.at(side);
        ASSERT_GE(list.size(), 2u);
        EXPECT_EQ(list[list.size() - 2].at("name"), "Cleavix virtual cable");
        EXPECT_EQ(list.back().at("name"), "Cleavix virtual SDS sampler");
        EXPECT_EQ(list.back().at("backend"), "virtual");
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].at("id"), int(i));
        }
    }
}

TEST(SdsCli, CableCaptureEqualsEncode) {
    TempDir dir;
    const std::string wav = monoWave(dir, 203, 22050);
    const auto encoded = runCli({"sds", "encode", wav, "--number", "77", "--channel", "4"});
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    const auto expected = lines(encoded.out);
    ASSERT_EQ(expected.size(), 1u + 6u);
    EXPECT_EQ(expected[0].substr(0, 18), "F0 7E 03 01 4D 00 ");
    const auto sent = runCli({"sds", "send", wav, "--out", "virtual:cable", "--open-loop", "--number", "77",
                              "--channel", "4", "--capture", dir.file("cap.txt")});
    ASSERT_EQ(sent.status, 0) << sent.err;
    const auto report = nlohmann::json::parse(sent.out);
    EXPECT_EQ(report.at("packets"), 6);
    EXPECT_EQ(report.at("lengthWords"), 203);
    EXPECT_EQ(report.at("period"), 45351);
    std::vector<std::string> captured;
    const Bytes capture = readFile(dir.file("cap.txt"));
    for (const auto& line : lines(std::string(capture.begin(), capture.end()))) {
        if (line.rfind("> ", 0) == 0) {
            captured.push_back(line.substr(2));
        }
    }
    EXPECT_EQ(captured, expected);
}

TEST(SdsCli, SendThenFetchInAnotherRun) {
    TempDir dir;
    TempDir store;
    const std::string wav = monoWave(dir, 1000, 96000);
    const auto sent = runWithStore(store, {"sds", "send", wav, "--out", "virtual:sds", "--number", "12"});
    ASSERT_EQ(sent.status, 0) << sent.err << sent.out;
    EXPECT_EQ(nlohmann::json::parse(sent.out).at("period"), 10417);
    EXPECT_TRUE(fileExists(store.file("sds-12.json")));
    const Bytes descriptionFile = readFile(store.file("sds-12.json"));
    const auto description = nlohmann::json::parse(std::string(descriptionFile.begin(), descriptionFile.end()));
    EXPECT_EQ(description.at("lengthWords"), 1000);
    const auto received = runWithStore(store, {"sds", "receive", dir.file("back.wav"), "--in", "virtual:sds",
                                               "--number", "12"});
    ASSERT_EQ(received.status, 0) << received.err << received.out;
    const auto json = nlohmann::json::parse(received.out);
    EXPECT_EQ(json.at("rate"), 95997); // period 10417 ns, kept in 32 bits
    EXPECT_EQ(json.at("channels"), 1);
    EXPECT_EQ(json.at("dataLength"), 2000);
    EXPECT_EQ(json.at("error"), "");
    const Bytes back = readFile(dir.file("back.wav"));
    ASSERT_GE(back.size(), 2000u);
    EXPECT_EQ(le16Samples(Bytes(back.end() - 2000, back.end())), testSignal(1000, 2));
}

TEST(SdsCli, FaultsEndWithTheirTextAndExitStatus) {
    TempDir dir;
    const std::string wav = monoWave(dir, 300);
    const auto silent = runCli({"sds", "send", wav, "--out", "virtual:sds", "--fault", "silence", "--timeout-ms", "300"});
    EXPECT_EQ(silent.status, 1);
    const auto report = nlohmann::json::parse(silent.out);
    EXPECT_EQ(report.at("error"), "No answer from the sampler within 300 ms");
    EXPECT_EQ(report.at("aborted"), true);
    const auto naks = runCli({"sds", "send", wav, "--out", "virtual:sds", "--fault", "nak:2x2,wait:header"});
    EXPECT_EQ(naks.status, 0) << naks.out;
    EXPECT_EQ(nlohmann::json::parse(naks.out).at("naks"), 2);
    EXPECT_EQ(nlohmann::json::parse(naks.out).at("waits"), 1);
    const auto missing = runCli({"sds", "receive", dir.file("none.wav"), "--in", "virtual:sds", "--number", "5",
                                 "--timeout-ms", "300"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(nlohmann::json::parse(missing.out).at("error"), "No dump from the sampler within 300 ms");
    EXPECT_FALSE(fileExists(dir.file("none.wav")));
    const auto unknown = runCli({"sds", "send", wav, "--out", "virtual:sds", "--fault", "sing"});
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.err.find("unknown fault 'sing'"), std::string::npos);
}

TEST(SdsCli, UsageErrors) {
    TempDir dir;
    const std::string wav = monoWave(dir, 10);
    EXPECT_EQ(runCli({"sds", "send", wav}).status, 64);
    EXPECT_EQ(runCli({"sds", "send", wav, "--out", "nowhere"}).status, 64);
    EXPECT_EQ(runCli({"sds", "send", wav, "--out", "virtual:sds", "--channel", "17"}).status, 64);
    EXPECT_EQ(runCli({"sds", "receive", dir.file("x.wav"), "--in", "virtual:sds"}).status, 64);
    EXPECT_EQ(runCli({"sds", "dance"}).status, 64);
    const auto big = runCli({"sds", "send", wav, "--out", "virtual:sds", "--number", "16384"});
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(nlohmann::json::parse(big.out).at("error"), "Sample number 16384 is out of range (0 to 16383)");
}
