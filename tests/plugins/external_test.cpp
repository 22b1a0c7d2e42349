// Editing externally, engine side: the command line split, the private copy, the change test.
#include "plugins/ExternalEdit.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cleavix::test {
namespace {

using plugins::splitCommandLine;

TEST(CommandLine, SplitLikeAShellWithoutExpanding) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitCommandLine("audacity"), V{"audacity"});
    EXPECT_EQ(splitCommandLine("  flatpak   run org.tenacityaudio.Tenacity "),
              (V{"flatpak", "run", "org.tenacityaudio.Tenacity"}));
    EXPECT_EQ(splitCommandLine("\"/opt/My Editor/bin/edit\" --new"), (V{"/opt/My Editor/bin/edit", "--new"}));
    EXPECT_EQ(splitCommandLine("'$HOME/x' a\\ b \"q\\\"q\" ''"), (V{"$HOME/x", "a b", "q\"q", ""}));
    EXPECT_EQ(splitCommandLine("edit;rm -rf x"), (V{"edit;rm", "-rf", "x"})) << "no shell: ';' is a character";
    EXPECT_TRUE(splitCommandLine("").empty());
    EXPECT_TRUE(splitCommandLine("   \t").empty());
    EXPECT_EQ(splitCommandLine("'unterminated"), V{"unterminated"});
}

TEST(CommandLine, AQuotedWordReadsBackAsOneWord) {
    using V = std::vector<std::string>;
    EXPECT_EQ(plugins::quoteCommandWord("/usr/bin/audacity"), "/usr/bin/audacity");
    for (const std::string w : {"/opt/My Editor/edit", "it's", "a\"b", "back\\slash", "tab\there", ""}) {
        EXPECT_EQ(splitCommandLine(plugins::quoteCommandWord(w) + " --x"), (V{w, "--x"})) << w;
    }
}

TEST(CommandLine, ASettingThatNamesAProgramAsItStandsIsOneWord) {
    using V = std::vector<std::string>;
    TempDir dir;
    const std::string program = dir.file("My Editor");
    writeFile(program, Bytes{'#', '!', '\n'});
    ::chmod(program.c_str(), 0700);
    EXPECT_EQ(plugins::editorWords(program), V{program});
    EXPECT_EQ(plugins::editorWords(program + " --new").size(), 3u) << "not a file: split as usual";
    EXPECT_EQ(plugins::editorWords("flatpak run x"), (V{"flatpak", "run", "x"}));
    ::chmod(program.c_str(), 0600);
    EXPECT_EQ(plugins::editorWords(program).size(), 2u) << "not a program";
}

TEST(ExternalCopy, PrivateFolderExclusiveCopiesAndRemovalAtTheEnd) {
    TempDir work;
    std::string folder;
    {
        plugins::ExternalEdit edit(work.path());
        std::string error;
        const std::string a = edit.newCopy(1000, error);
        ASSERT_FALSE(a.empty()) << error;
        const std::string b = edit.newCopy(1000, error);
        EXPECT_NE(a, b) << "two uses, two names";
        folder = edit.folder();
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_EQ(::stat(b.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(b.substr(folder.size() + 1, 3), "CXT");
        EXPECT_EQ(b.substr(b.size() - 4), ".wav");
        EXPECT_EQ(error, "");
        // More than the disk holds (the header counts too): refused before anything is written.
        struct statvfs vfs {};
        ASSERT_EQ(::statvfs(folder.c_str(), &vfs), 0);
        const uint64_t free = uint64_t(vfs.f_bavail) * vfs.f_frsize;
        if (free < 0xFFFFFFFFull + 44) {
            EXPECT_TRUE(edit.newCopy(0xFFFFFFFFu, error).empty());
            EXPECT_EQ(error, plugins::kMsgNoSpace);
        }
    }
    EXPECT_FALSE(fileExists(folder)) << "the folder goes with the edit";
}

TEST(ExternalCopy, AChangeIsSeenOncePerChangeEvenWithinOneSecond) {
    TempDir work;
    plugins::ExternalEdit edit(work.path());
    std::string error;
    const std::string copy = edit.newCopy(10, error);
    writeFile(copy, Bytes(10, 1));
    edit.remember();
    EXPECT_FALSE(edit.takeChange());
    writeFile(copy, Bytes(10, 2)); // same size, moments later: the nanoseconds tell
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    ::utimensat(AT_FDCWD, copy.c_str(), times, 0);
    EXPECT_TRUE(edit.takeChange());
    EXPECT_FALSE(edit.takeChange()) << "asked once; not again until it changes again";
    writeFile(copy, Bytes(12, 2));
    EXPECT_TRUE(edit.takeChange());
    ::unlink(copy.c_str());
    EXPECT_FALSE(edit.takeChange()) << "a vanished copy is no change to reload";
}

TEST(ExternalCopy, TheEditorGetsThePathAsOneArgument) {
    TempDir work;
    plugins::ExternalEdit edit(work.path());
    std::string error;
    const std::string copy = edit.newCopy(10, error);
    const std::string marker = work.file("args");
    const pid_t pid = edit.launch("/bin/sh -c 'printf \"%s|\" \"$@\" > " + marker + "' sh", copy);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    std::ifstream in(marker);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, copy + "|");
    EXPECT_EQ(edit.launch("/no/such/editor", copy), -1);
    EXPECT_EQ(edit.launch("", copy), -1);
}

} // namespace
} // namespace cleavix::test
