// The settings file in odd places: a FIFO, a folder or a device where the file should be is
// refused with a reason (a FIFO never blocks), and a file reached through a symbolic link is
// written where the link points, the link and the lines of the other settings kept.
#include "support/FoldSampler.h"
#include "support/TestSupport.h"

#include "sampler/profiles/ProfileStore.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace cleavix::sampler::profiles {
namespace {

namespace fs = std::filesystem;

SamplerProfile midiProfile() {
    SamplerProfile p;
    p.deviceType = 1;
    p.midiOutInUse = 1;
    return p;
}

TEST(ProfileFileFaults, NoRegularFileInItsPlaceIsRefusedWithoutBlocking) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
    ASSERT_TRUE(fs::create_directory(dir.file("folder.ini")));
    struct Row {
        std::string path;
        const char* what;
    };
    std::vector<Row> rows = {{dir.file("fifo.ini"), "a FIFO"}, {dir.file("folder.ini"), "a folder"}};
    // A device of our own (the zero device's numbers) where one may be made: never a real one,
    // which a writer that went wrong would replace.
    if (::mknod(dir.file("zero.ini").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {
        rows.push_back({dir.file("zero.ini"), "a device"});
    }
    for (const auto& row : rows) {
        // In a child: a blocking open of the FIFO would never come back.
        const int status = test::exitWithin(10, [&] {
            // A device read as a file would grow a line without end: bounded here.
            const rlimit memory{1u << 30, 1u << 30};
            ::setrlimit(RLIMIT_AS, &memory);
            const ProfileStore store(row.path);
            std::string error;
            const auto names = store.names(&error);
            const auto read = store.read("Any");
            std::string storeError;
            const bool stored = store.store("Any", midiProfile(), &storeError);
            const bool refused = names.empty() && error.find("not a regular file") != std::string::npos &&
                                 !read.ok() && !stored && storeError.find("not a regular file") != std::string::npos;
            return refused ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << row.what << (status < 0 ? ": blocked" : ": not refused");
    }
    EXPECT_TRUE(fs::is_directory(dir.file("folder.ini")));
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo.ini")));
    if (rows.size() == 3) {
        EXPECT_TRUE(fs::is_character_file(dir.file("zero.ini"))) << "the device stays";
    }
}

TEST(ProfileFileFaults, TheToolSaysSoAndExitsWithOne) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
    ASSERT_TRUE(fs::create_directory(dir.file("folder.ini")));
    for (const std::string& config : {dir.file("fifo.ini"), dir.file("folder.ini")}) {
        const int status = test::exitWithin(20, [&] {
            const auto r = test::runCli({"profiles", "list", "--config", config});
            return r.status == 1 && r.err.find("not a regular file") != std::string::npos ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << config;
    }
}

TEST(ProfileFileFaults, AFileReachedThroughALinkIsWrittenWhereItPoints) {
    test::TempDir dir;
    fs::create_directories(dir.file("dotfiles"));
    const std::string real = dir.file("dotfiles/Cleavix.ini");
    {
        std::ofstream out(real);
        out << "[SOFTWARE]\nBrindlecote%20Software\\Cleavix%20%28Advanced%29\\1\\Config\\Units=8\n\n[Other]\nkeep=me\n";
    }
    const std::string link = dir.file("Cleavix.ini");
    fs::create_symlink("dotfiles/Cleavix.ini", link);
    const ProfileStore store(link);
    std::string error;
    ASSERT_TRUE(store.store("Akai", midiProfile(), &error)) << error;
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays";
    const std::string text = test::readText(real);
    for (const char* line : {"Samplers\\Akai=", "Config\\Units=8", "keep=me"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
    }
    EXPECT_EQ(store.names(), (std::vector<std::string>{"Akai"}));
    ASSERT_TRUE(store.remove("Akai", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(store.names().empty());
    // No lock or temporary file left beside either name.
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Cleavix.ini", "dotfiles"}));
    std::vector<std::string> beside;
    for (const auto& e : fs::directory_iterator(dir.file("dotfiles"))) {
        beside.push_back(e.path().filename().string());
    }
    EXPECT_EQ(beside, (std::vector<std::string>{"Cleavix.ini"}));
}

} // namespace
} // namespace cleavix::sampler::profiles
