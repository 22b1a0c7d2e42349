// cleavix-cli info, load, save and demo as a script would use them.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace cleavix::test;
using nlohmann::json;

TEST(CliSample, InfoReportsResultsAndExitsWithThem) {
    TempDir dir;
    writeFile(dir.file("a.aif"), makeAiff({}, be16Bytes(testSignal(100))));
    RunResult r = runCli({"info", dir.file("a.aif")});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    const json fields = {{"result", 0},        {"container", "aiff"},   {"formatTag", 1},     {"channels", 2},
                         {"sampleRate", 44100}, {"bytesPerSecond", 176400}, {"blockAlign", 4}, {"bitsPerSample", 16},
                         {"dataLength", 200},  {"dataOffset", 54}};
    for (const auto& [key, value] : fields.items()) {
        EXPECT_EQ(j[key], value) << key;
    }

    WaveSpec s24;
    s24.bits = 24;
    writeFile(dir.file("24.wav"), makeWave(s24, Bytes(60, 1)));
    r = runCli({"info", dir.file("24.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["bitsPerSample"], 24);
    EXPECT_NE(r.err.find("Must be 16bit uncompressed format"), std::string::npos);

    writeFile(dir.file("junk.wav"), Bytes(64, 0));
    r = runCli({"info", dir.file("junk.wav")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(json::parse(r.out), json({{"result", 2}}));
    EXPECT_NE(r.err.find("File is corrupted"), std::string::npos);
}

TEST(CliSample, LoadPrintsTheFormatAndWritesTheStore) {
    TempDir dir;
    WaveSpec spec;
    spec.bits = 8;
    spec.channels = 1;
    writeFile(dir.file("e.wav"), makeWave(spec, {0, 128, 255, 64}));
    const RunResult r = runCli({"load", dir.file("e.wav"), "--store-out", dir.file("store.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j, json({{"sampleRate", 44100},
                       {"bytesPerSecond", 44100},
                       {"bitsPerSample", 16},
                       {"channels", 1},
                       {"dataLength", 8},
                       {"sourceBits", 8},
                       {"saveBits", 8}}));
    EXPECT_EQ(le16Samples(readFile(dir.file("store.raw"))), (std::vector<int16_t>{-32767, 0, 32511, -16384}));
}

TEST(CliSample, SaveConvertsAndFailsLoudly) {
    TempDir dir;
    const auto samples = testSignal(2000);
    writeFile(dir.file("in.wav"), makeWave({}, le16Bytes(samples)));
    RunResult r = runCli({"save", dir.file("in.wav"), dir.file("out.aif"), "--bits", "8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["container"], "aiff");
    const Bytes out = readFile(dir.file("out.aif"));
    EXPECT_EQ(out.size(), 54u + 2000);
    EXPECT_EQ(int8_t(out[54]), samples[0] / 256);

    r = runCli({"save", dir.file("in.wav"), dir.file("missing/out.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error saving file!"), std::string::npos);

    r = runCli({"save", dir.file("in.wav"), dir.file("x.wav"), "--bits", "12"});
    EXPECT_EQ(r.status, 64);
    r = runCli({"load", dir.file("nothing.wav")});
    EXPECT_EQ(r.status, 1);
    r = runCli({"frobnicate"});
    EXPECT_EQ(r.status, 64);
}

TEST(CliSample, DemoLoopIsARealLoop) {
    TempDir dir;
    const RunResult r = runCli({"demo", dir.file("demo.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["frames"], 176400);
    EXPECT_EQ(j["onsetFrames"].size(), 16u);
    const RunResult info = runCli({"info", dir.file("demo.wav")});
    const json i = json::parse(info.out);
    EXPECT_EQ(i["dataLength"], 176400 * 4);
    EXPECT_EQ(i["channels"], 2);
    // Every hit is an attack: the bright (first-difference) energy of the 200 frames after each
    // onset is far above that of the 200 frames before it, where only earlier tails ring.
    const Bytes file = readFile(dir.file("demo.wav"));
    const auto samples = le16Samples(Bytes(file.begin() + 44, file.end()));
    for (const auto& onset : j["onsetFrames"]) {
        const size_t frame = onset.get<size_t>();
        double before = 0;
        double after = 0;
        auto bright = [&](size_t f) { return std::abs(double(samples[f * 2 + 1]) - double(samples[(f - 1) * 2 + 1])); };
        for (size_t k = 1; k <= 200 && frame > k; ++k) {
            before += bright(frame - k);
        }
        for (size_t k = 1; k <= 200; ++k) {
            after += bright(frame + k);
        }
        if (frame > 0) {
            EXPECT_GT(after, 2 * before) << "onset at " << frame;
        }
        EXPECT_GT(after / 200, 500) << "onset at " << frame;
    }
}

TEST(CliSample, HelpAndTheReadmeDocumentEveryCommand) {
    // Every command the tool registers: its usage line in --help, and a row of its own in the
    // README's command table.
    const RunResult listed = runCli({"--commands"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const auto commands = nlohmann::json::parse(listed.out);
    ASSERT_GE(commands.size(), 10u);
    const RunResult r = runCli({"--help"});
    EXPECT_EQ(r.status, 0);
    const Bytes readmeBytes = readFile(std::string(CLEAVIX_SOURCE_DIR) + "/README.md");
    const std::string readme(readmeBytes.begin(), readmeBytes.end());
    for (const auto& command : commands) {
        const std::string name = command["name"];
        const std::string usage = command["usage"];
        EXPECT_EQ(usage.rfind(name, 0), 0u) << usage;
        EXPECT_NE(r.out.find("\n  " + usage + "\n"), std::string::npos) << usage;
        EXPECT_NE(readme.find("| `" + name), std::string::npos) << "README lacks a row for " << name;
    }
}
