// Profiles in the settings file: listing, storing, deleting, names refused, corrupt values, and
// the list positions the dialogs select.
#include "support/FoldSampler.h"
#include "support/TestSupport.h"

#include "sampler/profiles/ProfileStore.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace cleavix::sampler::profiles {
namespace {

namespace fs = std::filesystem;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::make_unique<test::TempDir>();
        store = std::make_unique<ProfileStore>(fs::path(folder->path()) / "Cleavix" / "Cleavix.ini");
    }
    void writeRaw(const std::string& key, const std::string& value) {
        fs::create_directories(store->path().parent_path());
        std::ofstream(store->path(), std::ios::app) << "[SOFTWARE]\n" << test::softwareLines({"Samplers\\" + key + "=" + value});
    }
    SamplerProfile scsiProfile() {
        SamplerProfile p;
        p.deviceType = 5;
        p.scsiInUse = 1;
        p.scsiAdaptor = 1;
        p.scsiDevice = 3;
        p.sampleNumberOffset = -1024;
        return p;
    }
    std::unique_ptr<test::TempDir> folder;
    std::unique_ptr<ProfileStore> store;
};

TEST_F(StoreTest, EmptyGroupShowsNoPresetsStored) {
    EXPECT_TRUE(store->names().empty());
    EXPECT_EQ(store->listLines(), (std::vector<std::string>{"No Presets Stored"}));
    // The window's other settings are no profiles.
    fs::create_directories(store->path().parent_path());
    std::ofstream(store->path()) << "[SOFTWARE]\n" << test::softwareLines({"1\\Config\\Units=2"});
    EXPECT_EQ(store->listLines(), (std::vector<std::string>{"No Presets Stored"}));
}

TEST_F(StoreTest, StoresReadsOverwritesAndDeletes) {
    ASSERT_TRUE(store->store("Studio S3000", scsiProfile()));
    SamplerProfile midi{.midiChannel = 16, .openLoop = 1};
    ASSERT_TRUE(store->store("A midi one", midi));
    EXPECT_EQ(store->names(), (std::vector<std::string>{"A midi one", "Studio S3000"}));

    const auto read = store->read("Studio S3000");
    ASSERT_TRUE(read.ok()) << read.detail;
    EXPECT_EQ(read.profile->deviceType, 5);
    EXPECT_EQ(read.profile->sampleNumberOffset, -1024);
    EXPECT_EQ(read.profile->scsiDevice, 3);

    SamplerProfile changed = scsiProfile();
    changed.scsiDevice = 6;
    ASSERT_TRUE(store->store("Studio S3000", changed));
    EXPECT_EQ(store->names().size(), 2u) << "storing under an existing name replaces it";
    EXPECT_EQ(store->read("Studio S3000").profile->scsiDevice, 6);

    std::string error;
    ASSERT_TRUE(store->remove("A midi one", &error)) << error;
    EXPECT_EQ(store->names(), (std::vector<std::string>{"Studio S3000"}));
    EXPECT_FALSE(store->remove("A midi one", &error));
    EXPECT_NE(error.find("no profile"), std::string::npos);
    EXPECT_EQ(store->read("A midi one").error, ProfileError::Missing);
}

TEST_F(StoreTest, NamesThatWouldVanishAsGroupsAreRefused) {
    std::string error;
    for (const std::string& name : std::vector<std::string>{"a/b", "a\\b", "", "No Presets Stored", "tab\there"}) {
        EXPECT_FALSE(store->store(name, scsiProfile(), &error)) << name;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(store->names().empty());
    EXPECT_TRUE(store->store("Ünï (E4) 50% ; = , \"x\"", scsiProfile()));
    EXPECT_EQ(store->names(), (std::vector<std::string>{"Ünï (E4) 50% ; = , \"x\""}));
    EXPECT_TRUE(store->read("Ünï (E4) 50% ; = , \"x\"").ok());
}

TEST_F(StoreTest, InvalidRecordIsNotStored) {
    SamplerProfile bad = scsiProfile();
    bad.deviceType = 9;
    std::string error;
    EXPECT_FALSE(store->store("bad", bad, &error));
    EXPECT_NE(error.find("device type 9"), std::string::npos);
    EXPECT_TRUE(store->names().empty());
}

TEST_F(StoreTest, CorruptValuesReadAsErrorsNeverAsRecords) {
    writeRaw("short", "@ByteArray(\\0\\x1\\x2\\x3\\x4\\x5\\x6\\a\\b\\t\\n\\v\\f\\r\\xe)");     // 15 bytes
    writeRaw("long", "@ByteArray(\\0\\x1\\x2\\x3\\x1\\x1\\x1\\x1\\x1\\x1\\n\\v\\f\\r\\xe\\xf\\x10)"); // 17 bytes
    writeRaw("text", "hello");
    writeRaw("type9", "@ByteArray(\\0\\0\\0\\0\\x1\\x1\\0\\0\\0\\t\\0\\0\\0\\0\\0\\0)");
    writeRaw("channel0", "@ByteArray(\\0\\0\\0\\0\\x1\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0)");
    writeRaw("good", "@ByteArray(\\0\\0\\0\\0\\x1\\x1\\0\\0\\0\\0\\0\\0\\0\\xfc\\xff\\xff)");
    EXPECT_EQ(store->read("short").error, ProfileError::WrongSize);
    EXPECT_EQ(store->read("short").detail, "15 bytes");
    EXPECT_EQ(store->read("long").error, ProfileError::WrongSize);
    EXPECT_EQ(store->read("long").detail, "17 bytes");
    EXPECT_EQ(store->read("text").error, ProfileError::NotBinary);
    EXPECT_EQ(store->read("type9").error, ProfileError::OutOfRange);
    EXPECT_EQ(store->read("channel0").error, ProfileError::OutOfRange);
    EXPECT_EQ(store->read("channel0").detail, "MIDI channel 0");
    const auto good = store->read("good");
    ASSERT_TRUE(good.ok()) << good.detail;
    EXPECT_EQ(good.profile->sampleNumberOffset, -1024);
    for (const char* name : {"short", "long", "text", "type9", "channel0"}) {
        EXPECT_FALSE(store->read(name).profile) << name;
    }
}

TEST_F(StoreTest, ListPositions) {
    const std::vector<std::string> names = {"Alpha", "Beta", "Gamma"};
    EXPECT_EQ(positionOf(names, "Beta"), 1);
    EXPECT_EQ(positionOf(names, "Gamma"), 2);
    EXPECT_EQ(positionOf(names, "Zed"), 0);
    EXPECT_EQ(positionAfterDelete(0), 0) << "deleting the first selects the new first";
    EXPECT_EQ(positionAfterDelete(2), 1);
    EXPECT_EQ(lastUsedPosition(2, 3), 2);
    EXPECT_EQ(lastUsedPosition(3, 3), 0) << "a last-used position beyond the list is not taken";
    EXPECT_EQ(lastUsedPosition(-1, 3), 0);
}

TEST_F(StoreTest, StoredNameIsSelectedByNameInTheSortedList) {
    ASSERT_TRUE(store->store("Mid", scsiProfile()));
    ASSERT_TRUE(store->store("Zulu", scsiProfile()));
    ASSERT_TRUE(store->store("Alpha", scsiProfile()));
    const auto names = store->names();
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Mid", "Zulu"}));
    EXPECT_EQ(positionOf(names, "Alpha"), 0) << "not the position after the last entry";
}

TEST(SettingsPath, FollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(defaultSettingsPath(), fs::path("/tmp/xdg-test/Cleavix/Cleavix.ini"));
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
    EXPECT_EQ(defaultSettingsPath().filename(), "Cleavix.ini");
    EXPECT_TRUE(defaultSettingsPath().is_absolute() || std::getenv("HOME") == nullptr);
    if (saved) {
        ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

} // namespace
} // namespace cleavix::sampler::profiles
