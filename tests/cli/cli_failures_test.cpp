// A refused save or clipboard load in a `run` script: exit status 1 and the real
// reason on standard error, never a hang on a special file.
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using namespace cleavix::test;

namespace {

std::string script(const TempDir& dir, const std::string& text) { return writeText(dir.file("script.txt"), text); }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Whether `run` of the script ends within 20 s (a blocking open would not), with exit status 1 and
// `part` on standard error.
bool refusedWithoutBlocking(const std::string& script, const std::string& part) {
    return exitWithin(20, [&] {
        const RunResult r = runCli({"run", script});
        return r.status == 1 && has(r.err, part) ? 0 : 1;
    }) == 0;
}

} // namespace

TEST(CliFailures, ARefusedSaveInARunScriptSaysWhy) {
    TempDir dir;
    writeWave(dir.file("in.wav"), testSignal(2000));
    writeFile(dir.file("locked.wav"), Bytes{1, 2, 3});
    ::chmod(dir.file("locked.wav").c_str(), 0444);
    RunResult r = runCli({"run", script(dir, "open " + dir.file("in.wav") + "\nsave " + dir.file("locked.wav") + "\n")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "read-only")) << r.err;
    EXPECT_EQ(readFile(dir.file("locked.wav")), (Bytes{1, 2, 3}));

    ASSERT_EQ(::mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);
    EXPECT_TRUE(refusedWithoutBlocking(
        script(dir, "open " + dir.file("in.wav") + "\nsave " + dir.file("pipe.wav") + "\n"), "not a regular file"));
}

TEST(CliFailures, AFifoAsAClipboardFileIsRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("clip.wav").c_str(), 0600), 0);
    EXPECT_TRUE(refusedWithoutBlocking(script(dir, "load-clipboard " + dir.file("clip.wav") + "\n"), "clipboard"));
}

// A file-size limit is a full disk to the tool: the write that reaches it (here the working copy of
// the sample) fails and says so, and the tool exits 1 instead of being killed by SIGXFSZ.
TEST(CliFailures, AFileSizeLimitIsAFailureNotAKill) {
    TempDir dir;
    writeWave(dir.file("in.wav"), testSignal(20000));
    const std::string s = script(dir, "open " + dir.file("in.wav") + "\nsave " + dir.file("out.wav") + "\n");
    const RunResult r = run({"/usr/bin/prlimit", "--fsize=4096", CLEAVIX_CLI, "run", s});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, std::strerror(EFBIG))) << r.err;
    EXPECT_FALSE(fileExists(dir.file("out.wav")));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", "script.txt"})) << "no temporary file left";
}

// A working folder where no file can be made (here /proc, which refuses even root) is a failed
// command: exit status 1, as documented, with the reason.
TEST(CliFailures, AWorkingFolderThatTakesNoFilesExitsWithOne) {
    TempDir dir;
    writeWave(dir.file("in.wav"), testSignal(200));
    const std::string s = script(dir, "open " + dir.file("in.wav") + "\n");
    const RunResult r = run({"/usr/bin/env", "CLEAVIX_TEMP=/proc", CLEAVIX_CLI, "run", s});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "working file")) << r.err;
}
