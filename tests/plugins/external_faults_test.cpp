// Editing externally with editors that misbehave (shell scripts standing in for the editor): one
// that fails, dies, truncates the copy, writes another format, deletes the copy, or puts a FIFO or
// a link in its place. The tool never blocks, never reports a failure as success, and never writes
// OUT from a copy it could not trust.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace cleavix::test {
namespace {

using nlohmann::json;

struct Row {
    const char* what;
    const char* script; // the editor's body; $1 is the copy
    int status;         // the tool's exit status
    bool outWritten;
    bool changed;       // as the JSON tells it
};

TEST(ExternalEditFaults, MisbehavingEditorsNeverPassForASuccessfulEdit) {
    const Row rows[] = {
        {"fails after truncating the copy", "head -c 30 \"$1\" > \"$1.t\"; mv \"$1.t\" \"$1\"; exit 2", 1, false, true},
        {"fails without touching it", "exit 7", 1, false, false},
        {"is killed", "kill -9 $$", 1, false, false},
        {"truncates the copy and says it worked", "head -c 30 \"$1\" > \"$1.t\"; mv \"$1.t\" \"$1\"", 1, false, true},
        {"writes garbage", "printf 'not a wave file at all' > \"$1\"", 1, false, true},
        {"writes 24-bit audio", "", 1, false, true}, // filled in below: a 24-bit Wave file
        {"deletes the copy", "rm -f \"$1\"", 0, true, false},
        {"puts a FIFO in its place", "rm -f \"$1\"; mkfifo \"$1\"", 1, false, true},
        {"puts a link to a device in its place", "DEVICE", 1, false, true}, // filled in below
        {"changes nothing", "exit 0", 0, true, false},
    };
    TempDir dir;
    TempDir work;
    ::setenv("CLEAVIX_TEMP", work.path().c_str(), 1);
    WaveSpec mono;
    mono.channels = 1;
    const auto data = testSignal(3000, 6);
    const std::string in = dir.file("in.wav");
    writeFile(in, makeWave(mono, le16Bytes(data)));
    WaveSpec deep;
    deep.bits = 24;
    writeFile(dir.file("deep.wav"), makeWave(deep, Bytes(600, 7)));
    const Bytes original = readFile(in);
    // A device of our own (the zero device's numbers), never a real one, where one may be made.
    const std::string device = dir.file("zero");
    const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
    int n = 0;
    for (const auto& row : rows) {
        const std::string editor = dir.file("editor" + std::to_string(++n) + ".sh");
        std::string body = row.script;
        if (body.empty()) {
            body = "cp '" + dir.file("deep.wav") + "' \"$1\"";
        } else if (body == "DEVICE") {
            if (!haveDevice) {
                continue;
            }
            body = "rm -f \"$1\"; ln -s '" + device + "' \"$1\"";
        }
        std::ofstream(editor) << "#!/bin/sh\n" << body << "\n";
        ::chmod(editor.c_str(), 0700);
        const std::string out = dir.file("out" + std::to_string(n) + ".wav");
        // First in a child that is given 30 s: an editor that left a FIFO must not block the tool
        // for good. Then again for its output.
        const int ended = exitWithin(30, [&] { return runCli({"edit-external", in, out, "--editor", editor}).status; });
        ASSERT_GE(ended, 0) << row.what << ": the tool blocked";
        std::remove(out.c_str());
        const RunResult r = runCli({"edit-external", in, out, "--editor", editor});
        EXPECT_EQ(r.status, row.status) << row.what << "\n" << r.err << r.out;
        EXPECT_EQ(fileExists(out), row.outWritten) << row.what;
        if (row.status != 0) {
            EXPECT_FALSE(r.err.empty()) << row.what << ": a failure says why";
        }
        const json j = json::parse(r.out);
        EXPECT_EQ(j["changed"], row.changed) << row.what;
        if (row.outWritten) {
            const Bytes b = readFile(out);
            ASSERT_GT(b.size(), 44u);
            EXPECT_EQ(le16Samples(Bytes(b.begin() + 44, b.end())), data) << row.what;
        }
        EXPECT_EQ(readFile(in), original) << row.what << ": the input is never touched";
        EXPECT_TRUE(work.entries().empty()) << row.what << ": the private folder goes at exit";
    }
    if (haveDevice) {
        struct stat info {};
        ASSERT_EQ(::stat(device.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device stays";
    }
}

} // namespace
} // namespace cleavix::test
