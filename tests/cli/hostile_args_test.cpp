// cleavix-cli given what no one should give it: numbers that are no numbers or too large, options
// twice, inputs that are folders or FIFOs, outputs in missing folders or with names too long, the
// input as its own output, and outputs that cannot take every byte. Each gets the documented exit
// status (64 for a wrong command line, 1 for a failed command) and a message on standard error,
// within seconds, and no output file is left half written.
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

using namespace cleavix::test;
using nlohmann::json;

namespace {

struct Case {
    const char* what;
    std::vector<std::string> args; // "IN" the input file, "OUT" the output, "DIR" a folder, "FIFO" a FIFO
    int status;
    const char* says; // a part of the message on standard error
};

struct Bench {
    Bench() {
        writeFile(in, makeWave({}, le16Bytes(testSignal(4000, 2))));
        ::mkdir(dir.file("folder").c_str(), 0700);
        ::mkfifo(fifo.c_str(), 0600);
    }
    std::vector<std::string> resolve(const std::vector<std::string>& args) const {
        std::vector<std::string> out;
        for (const auto& a : args) {
            out.push_back(a == "IN" ? in : a == "OUT" ? outFile : a == "DIR" ? dir.file("folder") : a == "FIFO" ? fifo : a);
        }
        return out;
    }
    // Runs the case in a child given 30 s (a blocking open would not end), then for its output.
    void check(const Case& c) {
        const auto args = resolve(c.args);
        const int ended = exitWithin(30, [&] { return runCli(args).status; });
        ASSERT_GE(ended, 0) << c.what << ": blocked";
        std::remove(outFile.c_str());
        const RunResult r = runCli(args);
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("cleavix-cli: ", 0), 0u) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << ": " << r.err;
        EXPECT_FALSE(fileExists(outFile)) << c.what << ": an output was left";
        EXPECT_EQ(readFile(in), makeWave({}, le16Bytes(testSignal(4000, 2)))) << c.what << ": the input changed";
    }
    TempDir dir;
    std::string in = dir.file("in.wav");
    std::string outFile = dir.file("out.wav");
    std::string fifo = dir.file("fifo.wav");
};

TEST(CliHostileArgs, NumbersThatAreNoNumbersOrTooLargeAreAWrongCommandLine) {
    const Case cases[] = {
        {"seconds nan", {"record", "OUT", "--seconds", "nan"}, 64, "--seconds"},
        {"seconds inf", {"record", "OUT", "--seconds", "inf"}, 64, "--seconds"},
        {"seconds -inf", {"record", "OUT", "--seconds", "-inf"}, 64, "--seconds"},
        {"seconds 1e999", {"record", "OUT", "--seconds", "1e999"}, 64, "--seconds"},
        {"seconds 1e30", {"record", "OUT", "--seconds", "1e30"}, 64, "--seconds"},
        {"seconds past the Wave limit", {"record", "OUT", "--seconds", "30000", "--rate", "192000"}, 64, "--seconds"},
        {"seconds negative", {"record", "OUT", "--seconds", "-1"}, 64, "--seconds"},
        {"seconds zero", {"record", "OUT", "--seconds", "0"}, 64, "--seconds"},
        {"seconds empty", {"record", "OUT", "--seconds", ""}, 64, "--seconds"},
        {"rate as a float", {"record", "OUT", "--seconds", "1", "--rate", "44100.5"}, 64, "--rate"},
        {"rate 2^63", {"record", "OUT", "--seconds", "1", "--rate", "9223372036854775808"}, 64, "--rate"},
        {"slice sensitivity nan", {"slice", "IN", "--sensitivity", "nan"}, 64, "--sensitivity"},
        {"slice sensitivity inf", {"slice", "IN", "--sensitivity", "inf"}, 64, "--sensitivity"},
        {"render sensitivity nan",
         {"render", "IN", "OUT", "--tempo", "120", "--bars", "1", "--beats", "4", "--sensitivity", "nan"},
         64,
         "--sensitivity"},
        {"render tempo nan", {"render", "IN", "OUT", "--tempo", "nan", "--bars", "1", "--beats", "4"}, 64, "--tempo"},
        {"play sensitivity nan",
         {"play", "IN", "--tempo", "120", "--bars", "1", "--beats", "4", "--sensitivity", "nan", "--device", "null"},
         64,
         "--sensitivity"},
        {"plugin value nan", {"plugin", "IN", "OUT", "--plugin", "0", "--set", "gain=nan"}, 64, "--set VALUE"},
        {"bits 2^63", {"save", "IN", "OUT", "--bits", "9223372036854775808"}, 64, "--bits"},
        {"bits -2^63-1", {"save", "IN", "OUT", "--bits", "-9223372036854775809"}, 64, "--bits"},
        {"bits empty", {"save", "IN", "OUT", "--bits", ""}, 64, "--bits"},
        {"bits with a tail", {"save", "IN", "OUT", "--bits", "16x"}, 64, "--bits"},
        {"loop past 32 bits", {"tempo", "IN", "--bars", "1", "--beats", "4", "--loop", "0", "4294967296"}, 64, "--loop"},
        {"loop negative", {"tempo", "IN", "--bars", "1", "--beats", "4", "--loop", "-4", "8"}, 64, "--loop"},
    };
    Bench b;
    for (const auto& c : cases) {
        b.check(c);
    }
}

TEST(CliHostileArgs, ScriptLinesWithNoNumbersAreAWrongScript) {
    Bench b;
    const char* lines[] = {"sensitivity nan", "sensitivity inf", "record nan", "record 1e30", "record -inf"};
    for (const char* line : lines) {
        const std::string text = "open " + b.in + "\n" + line + "\nsave " + b.outFile + "\n";
        b.check({line, {"run", writeText(b.dir.file("script.txt"), text)}, 64, "cleavix-cli: "});
    }
}

TEST(CliHostileArgs, AnOptionGivenTwiceIsRefused) {
    const Case cases[] = {
        {"--bits twice", {"save", "IN", "OUT", "--bits", "8", "--bits", "16"}, 64, "unexpected argument"},
        {"--bits twice before the files", {"save", "--bits", "8", "--bits", "16", "IN", "OUT"}, 64, "unexpected argument"},
        {"--seconds twice", {"record", "OUT", "--seconds", "1", "--seconds", "2"}, 64, "unexpected argument"},
        {"--sensitivity twice", {"slice", "IN", "--sensitivity", "10", "--sensitivity", "20"}, 64, "unexpected argument"},
    };
    Bench b;
    for (const auto& c : cases) {
        b.check(c);
    }
}

TEST(CliHostileArgs, InputsThatAreNoFilesAndOutputsThatCannotBeFail) {
    Bench b;
    const std::string longName(300, 'n');
    std::string longPath = b.dir.path();
    while (longPath.size() < 5000) {
        longPath += "/" + std::string(200, 'd');
    }
    const Case cases[] = {
        {"a folder as input", {"save", "DIR", "OUT"}, 1, "cleavix-cli: "},
        {"a FIFO as input", {"save", "FIFO", "OUT"}, 1, "cleavix-cli: "},
        {"a missing input", {"save", b.dir.file("missing.wav"), "OUT"}, 1, "cleavix-cli: "},
        {"an output in a missing folder", {"save", "IN", b.dir.file("no/such/folder/out.wav")}, 1, "cleavix-cli: "},
        {"an output whose name is too long", {"save", "IN", b.dir.file(longName + ".wav")}, 1, "cleavix-cli: "},
        {"an output past the longest path", {"save", "IN", longPath + "/out.wav"}, 1, "cleavix-cli: "},
        {"an input past the longest path", {"save", longPath + "/in.wav", "OUT"}, 1, "cleavix-cli: "},
        {"a folder as output", {"save", "IN", "DIR"}, 1, "cleavix-cli: "},
        {"a store dump to a missing folder", {"load", "IN", "--store-out", b.dir.file("no/such/raw")}, 1, "cannot write"},
        {"a demo in a missing folder", {"demo", b.dir.file("no/such/demo.wav")}, 1, "cleavix-cli: "},
    };
    for (const auto& c : cases) {
        b.check(c);
    }
    EXPECT_FALSE(fileExists(b.dir.file("no")));
}

// An output that takes no byte (a full device, one of our own with the full device's numbers):
// a write that fails only when the stream is closed is still a failure, and the device is left
// alone.
TEST(CliHostileArgs, AnOutputThatTakesNoByteIsAFailure) {
    Bench b;
    const std::string full = b.dir.file("full");
    if (::mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "no device node may be made here";
    }
    // Small enough to stay in the stream's buffer until the close.
    const std::string small = b.dir.file("small.wav");
    writeFile(small, makeWave({}, le16Bytes(testSignal(200, 2))));
    RunResult r = runCli({"load", small, "--store-out", full});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write " + full), std::string::npos) << r.err;
    struct stat info {};
    ASSERT_EQ(::stat(full.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device stays";
    r = runCli({"run", writeText(b.dir.file("script.txt"), "open " + small + "\ndump-store " + full + "\n")});
    EXPECT_EQ(r.status, 1) << r.err;
}

TEST(CliHostileArgs, TheInputAsItsOwnOutputKeepsItsAudio) {
    Bench b;
    const Bytes before = readFile(b.in);
    RunResult r = runCli({"save", b.in, b.in});
    ASSERT_EQ(r.status, 0) << r.err;
    r = runCli({"load", b.in});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["dataLength"], 8000);
    EXPECT_EQ(readFile(b.in), before) << "written again, byte for byte";
    // Through a second name for the same file (a link) too.
    const std::string link = b.dir.file("link.wav");
    ASSERT_EQ(::symlink(b.in.c_str(), link.c_str()), 0);
    r = runCli({"save", link, b.in, "--bits", "16"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(b.in), before);
}

} // namespace
