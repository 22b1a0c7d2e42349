// The settings INI reader and writer: keys and values as the window's settings object writes them
// (the expected texts were written by it), lines it does not change kept as they were.
#include "support/FoldSampler.h"
#include "support/TestSupport.h"

#include "sampler/profiles/IniFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

namespace cleavix::sampler::profiles {
namespace {

namespace fs = std::filesystem;

class IniTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::make_unique<test::TempDir>();
        path = fs::path(folder->path()) / "Cleavix.ini";
    }
    void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string readBack() { return test::readText(path.string()); }
    std::unique_ptr<test::TempDir> folder;
    fs::path path;
};

const char* kGroup = "SOFTWARE/Brindlecote Software/Cleavix (Advanced)/Samplers";

TEST(IniKeys, EscapedAsTheSettingsObjectDoes) {
    EXPECT_EQ(IniFile::escapeKey("Brindlecote Software/Cleavix (Advanced)/Samplers/My Sampler; x=1,\"q\""),
              "Brindlecote%20Software\\Cleavix%20%28Advanced%29\\Samplers\\My%20Sampler%3B%20x%3D1%2C%22q%22");
    EXPECT_EQ(IniFile::escapeKey("\xC3\x9Cn\xC3\xAF"), "%DCn%EF");
    EXPECT_EQ(IniFile::escapeKey("A_b-c.9"), "A_b-c.9");
    EXPECT_EQ(IniFile::escapeKey("\xE2\x82\xAC"), "%U20AC");
    EXPECT_EQ(IniFile::escapeKey("\xF0\x9F\x8E\xB9"), "%UD83C%UDFB9");
    for (const char* key : {"a b/c(d)", "\xC3\x9Cn\xC3\xAF", "\xE2\x82\xAC x", "\xF0\x9F\x8E\xB9!", "50%"}) {
        EXPECT_EQ(IniFile::unescapeKey(IniFile::escapeKey(key)), key);
    }
}

TEST(IniValues, BinaryValuesEscapedAsTheSettingsObjectDoes) {
    EXPECT_EQ(IniFile::escapeBytesValue({1, 2, 0, 0xFF}), "@ByteArray(\\x1\\x2\\0\\xff)");
    EXPECT_EQ(IniFile::escapeBytesValue({}), "@ByteArray()");
    EXPECT_EQ(IniFile::escapeBytesValue({'a', 'b', 'c'}), "@ByteArray(abc)");
    // A hex digit right after a hex escape is escaped too, or it would join the escape.
    EXPECT_EQ(IniFile::escapeBytesValue({0x01, 'a', '1', 'g'}), "@ByteArray(\\x1\\x61\\x31g)");
    EXPECT_EQ(IniFile::escapeBytesValue({0, '7'}), "@ByteArray(\\0\\x37)");
    EXPECT_EQ(IniFile::escapeBytesValue({'"', '\\', '\n', '\t'}), "@ByteArray(\\\"\\\\\\n\\t)");
    // ';', ',' and '=' make the value quoted.
    EXPECT_EQ(IniFile::escapeBytesValue({','}), "\"@ByteArray(,)\"");
    EXPECT_EQ(IniFile::escapeBytesValue({' '}), "@ByteArray( )");
}

TEST(IniValues, EveryByteSurvivesEscapeAndUnescape) {
    std::vector<uint8_t> all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(uint8_t(i));
    }
    for (int start = 0; start < 256; start += 16) {
        // Every pair of neighbours, in both orders.
        std::vector<uint8_t> value(all.begin() + start, all.begin() + start + 16);
        std::vector<uint8_t> reversed(value.rbegin(), value.rend());
        for (const auto& v : {value, reversed, all}) {
            bool latin1 = false;
            const auto parts = IniFile::unescapeValue(IniFile::escapeBytesValue(v), &latin1);
            ASSERT_EQ(parts.size(), 1u);
            EXPECT_TRUE(latin1);
            EXPECT_EQ(parts[0], "@ByteArray(" + std::string(v.begin(), v.end()) + ")");
        }
    }
}

TEST(IniValues, UnquotedCommasMakeAListAndBlanksAreTrimmed) {
    EXPECT_EQ(IniFile::unescapeValue("a, b ,c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(IniFile::unescapeValue("  hello  "), (std::vector<std::string>{"hello"}));
    EXPECT_EQ(IniFile::unescapeValue("\" x, y \""), (std::vector<std::string>{" x, y "}));
    EXPECT_EQ(IniFile::unescapeValue("\\101\\x42"), (std::vector<std::string>{"AB"}));
}

TEST_F(IniTest, MissingFileIsEmpty) {
    const auto file = IniFile::load(path);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->childKeys(kGroup).empty());
}

TEST_F(IniTest, ReadsKeysAndBinaryValuesTheSettingsObjectWrote) {
    write("[General]\ntoplevel=5\n\n[SOFTWARE]\n" +
          test::softwareLines({"1\\Config\\Units=2",
                               "Samplers\\My%20Sampler%3B%20x%3D1%2C%22q%22=@ByteArray(\\x1\\x2\\0\\xff)",
                               "Samplers\\empty=@ByteArray()", "Samplers\\str=hello", "Samplers\\list=a, b",
                               "Samplers\\%DCn%EF=@ByteArray(abc)", "Samplers\\Sub\\deeper=@ByteArray(x)"}));
    const auto file = IniFile::load(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->childKeys(kGroup),
              (std::vector<std::string>{"My Sampler; x=1,\"q\"", "empty", "list", "str", "\xC3\x9Cn\xC3\xAF"}));
    EXPECT_EQ(file->bytes(std::string(kGroup) + "/My Sampler; x=1,\"q\""), (std::vector<uint8_t>{1, 2, 0, 0xFF}));
    EXPECT_EQ(file->bytes(std::string(kGroup) + "/empty"), std::vector<uint8_t>{});
    EXPECT_FALSE(file->bytes(std::string(kGroup) + "/str")) << "a string is not binary";
    EXPECT_FALSE(file->bytes(std::string(kGroup) + "/list"));
    EXPECT_FALSE(file->bytes(std::string(kGroup) + "/missing"));
    EXPECT_EQ(file->text("toplevel"), "5");
    EXPECT_EQ(file->text("SOFTWARE/Brindlecote Software/Cleavix (Advanced)/1/Config/Units"), "2");
}

TEST_F(IniTest, WritingProfilesKeepsEveryOtherLine) {
    const std::string head =
        "; a comment\n[General]\ntoplevel=5\n\n[SOFTWARE]\n" + test::softwareLines({"1\\Config\\Units=2"});
    const std::string tail = "\n[Toolbars]\nfile=true\n";
    write(head + test::softwareLines({"Samplers\\old=@ByteArray(1)"}) + tail);
    auto file = IniFile::load(path);
    ASSERT_TRUE(file);
    file->setBytes(std::string(kGroup) + "/new one", {0, 1, 2});
    file->setBytes(std::string(kGroup) + "/old", {9});
    ASSERT_TRUE(file->save(path));
    EXPECT_EQ(readBack(), head +
                              test::softwareLines({"Samplers\\new%20one=@ByteArray(\\0\\x1\\x2)",
                                                   "Samplers\\old=@ByteArray(\\t)"}) +
                              tail);
    EXPECT_FALSE(fs::exists(path.string() + ".lock"));
    auto again = IniFile::load(path);
    again->remove(std::string(kGroup) + "/old");
    again->remove(std::string(kGroup) + "/new one");
    ASSERT_TRUE(again->save(path));
    EXPECT_EQ(readBack(), head + tail);
}

TEST_F(IniTest, NewFileGetsTheSection) {
    auto file = IniFile::load(path);
    file->setBytes(std::string(kGroup) + "/A", {'z'});
    ASSERT_TRUE(file->save(path));
    EXPECT_EQ(readBack(), "[SOFTWARE]\n" + test::softwareLines({"Samplers\\A=@ByteArray(z)"}));
}

TEST_F(IniTest, TheLastOfTwoEqualKeysWins) {
    write("[SOFTWARE]\n" + test::softwareLines({"Samplers\\A=@ByteArray(1)", "Samplers\\A=@ByteArray(2)"}));
    const auto file = IniFile::load(path);
    EXPECT_EQ(file->bytes(std::string(kGroup) + "/A"), (std::vector<uint8_t>{'2'}));
    EXPECT_EQ(file->childKeys(kGroup).size(), 1u);
}

TEST_F(IniTest, StaleLockIsTakenOverAndAHeldOneRefusesTheSave) {
    // A lock left by a process that is gone.
    std::ofstream(path.string() + ".lock") << "999999999\nsomeapp\nhost\n";
    auto file = IniFile::load(path);
    file->setBytes(std::string(kGroup) + "/A", {1});
    EXPECT_TRUE(file->save(path));
    // A lock held by a live process (this one) is waited for, then the save fails.
    std::ofstream(path.string() + ".lock") << ::getpid() << "\nsomeapp\nhost\n";
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(file->save(path, &error, std::chrono::milliseconds(200)));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    EXPECT_NE(error.find("lock"), std::string::npos);
    fs::remove(path.string() + ".lock");
}

TEST_F(IniTest, UnreadableFileIsAnError) {
    fs::create_directories(path); // a folder where the file should be
    std::string error;
    const auto file = IniFile::load(path, &error);
    // A folder opens but reads nothing on Linux; either way nothing is taken from it.
    if (file) {
        EXPECT_TRUE(file->childKeys(kGroup).empty());
        EXPECT_FALSE(file->save(path, &error));
    } else {
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
} // namespace cleavix::sampler::profiles
