// The window's configuration file (which the sampler profiles share) when it is not what it should
// be: lines the settings object cannot read are ignored and said to be, the values it could read
// stand and are kept by the next save, with every other group of the file; a FIFO or folder in
// its place is never opened (a FIFO would block the start for good) and the defaults are used.
#include "support/FoldSampler.h"
#include "support/TestSupport.h"
#include "ui/platform/Config.h"

#include <QDir>
#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace cleavix::ui {
namespace {

namespace fs = std::filesystem;

// The configuration under a folder of the test's own.
class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override { useFolder("start"); }
    // A folder of its own for each start: the settings object keeps files it read in a cache of
    // its own, which a program that starts afresh does not have.
    void useFolder(const std::string& name) {
        const std::string folder = dir.file(name);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(folder));
        path = configFilePath().toStdString();
        fs::create_directories(fs::path(path).parent_path());
    }
    void write(const std::string& text) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; }
    std::string text() const { return test::readText(path); }
    test::TempDir dir;
    std::string path;
};

const char* const kGroupLine = "[SOFTWARE]\n";
const char* const kPrefix = "Brindlecote%20Software\\Cleavix%20%28Advanced%29\\1\\Config\\";

TEST_F(ConfigFile, LinesItCannotReadAreIgnoredAndTheRestStandsAndIsKept) {
    // Rows: a line the settings object cannot make sense of, hand-edited into the file.
    const char* const rows[] = {"a stray line without an equals sign", "[Broken section", "\x01\x02\x7f"};
    int n = 0;
    for (const char* stray : rows) {
        useFolder("row" + std::to_string(++n));
        // At the end of the group: a broken section header takes the lines after it into a group
        // of its own.
        write(std::string(kGroupLine) + kPrefix + "Units=8\n" + kPrefix + "EditLoc=myeditor --flag\n" + kPrefix +
              "Width=1000\n" + stray + "\n\n[Other]\nkeep=me\n");
        bool ok = false;
        bool ignored = false;
        Config c = readConfig(&ok, &ignored);
        EXPECT_TRUE(ok) << stray;
        EXPECT_TRUE(ignored) << stray;
        EXPECT_EQ(c.units, 8) << stray;
        EXPECT_EQ(c.editLoc, "myeditor --flag") << stray;
        EXPECT_EQ(c.width, 1000) << stray;
        // The next save keeps the values and the other group; only the stray line goes.
        c.cpLoc = "mixer";
        ASSERT_TRUE(writeConfig(c)) << stray;
        const std::string saved = text();
        for (const char* kept : {"keep=me", "Units=8", "EditLoc=myeditor --flag", "CPLoc=mixer"}) {
            EXPECT_NE(saved.find(kept), std::string::npos) << kept << " in " << saved;
        }
        bool okAgain = false;
        bool ignoredAgain = true;
        const Config again = readConfig(&okAgain, &ignoredAgain);
        EXPECT_TRUE(okAgain);
        EXPECT_FALSE(ignoredAgain) << "the file is clean once written";
        EXPECT_EQ(again.cpLoc, "mixer");
    }
}

TEST_F(ConfigFile, NumbersOutOfRangeOrNoNumbersTakeTheirDefaults) {
    struct Row {
        const char* value;
        int seconds; // "Seconds" is held to 1..10, default 4
    };
    const Row rows[] = {{"99999999999999999999", 4}, {"-5", 1}, {"", 4}, {"12abc", 4}, {"1e3", 4}, {"7", 7}};
    for (const auto& row : rows) {
        write(std::string(kGroupLine) + kPrefix + "Seconds=" + row.value + "\n" + kPrefix + "Units=" + row.value +
              "\n");
        bool ok = false;
        const Config c = readConfig(&ok);
        EXPECT_TRUE(ok) << row.value;
        EXPECT_EQ(c.seconds, row.seconds) << row.value;
        EXPECT_EQ(c.units, 2) << row.value; // only 1, 2, 4 or 8
    }
}

TEST_F(ConfigFile, NoRegularFileInItsPlaceIsNeverOpenedAndTheDefaultsAreUsed) {
    struct Row {
        const char* what;
        bool fifo;
    };
    for (const Row row : {Row{"a FIFO", true}, Row{"a folder", false}}) {
        fs::remove_all(path);
        if (row.fifo) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else {
            ASSERT_TRUE(fs::create_directory(path));
        }
        // In a child: an open of the FIFO would wait for a writer for good.
        const int status = test::exitWithin(10, [&] {
            bool ok = true;
            bool ignored = true;
            const Config c = readConfig(&ok, &ignored);
            const Config defaults;
            const bool read = !ok && !ignored && c.units == defaults.units && c.editLoc == defaults.editLoc;
            return read && !writeConfig(c) ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << row.what << (status < 0 ? ": blocked" : "");
        EXPECT_FALSE(configFileUsable()) << row.what;
        EXPECT_EQ(fs::is_fifo(path), row.fifo) << "left as it was";
    }
    fs::remove_all(path);
    EXPECT_TRUE(configFileUsable()) << "a missing file is made";
}

TEST_F(ConfigFile, AMissingFolderIsMadeAndTheDefaultsWritten) {
    fs::remove_all(fs::path(path).parent_path());
    bool ok = false;
    bool ignored = true;
    const Config c = readConfig(&ok, &ignored);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(ignored);
    EXPECT_EQ(c.units, Config().units);
    EXPECT_NE(text().find("Units=2"), std::string::npos) << text();
}

} // namespace
} // namespace cleavix::ui
