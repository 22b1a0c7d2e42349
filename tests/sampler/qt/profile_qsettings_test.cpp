// The profile file against the settings object the window uses (QSettings, INI format): what the
// command-line tool and the engine's writer store, QSettings reads, and the other way round.
#include "sampler/profiles/IniFile.h"
#include "sampler/profiles/ProfileStore.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>

namespace cleavix::sampler::profiles {
namespace {

using nlohmann::json;

QString qs(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::vector<uint8_t> bytesOf(const QByteArray& value) {
    return {value.begin(), value.end()};
}

TEST(ProfileQSettings, ProfilesTheToolStoresAreReadByQSettings) {
    test::TempDir dir;
    const std::string config = dir.file("Cleavix.ini");
    const std::vector<std::string> names = {"Akai S3000", "Ünï (E4); 50% = \"x\", y", "emoji \xF0\x9F\x8E\xB9", "A"};
    for (size_t i = 0; i < names.size(); ++i) {
        const auto r = test::runCli({"profiles", "store", names[i], "--type", std::to_string(i + 1), "--device",
                                     std::to_string(i), "--offset", std::to_string(-1024 + int(i) * 600), "--config",
                                     config});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    QSettings settings(qs(config), QSettings::IniFormat);
    settings.beginGroup(kSamplersGroup);
    QStringList expected;
    for (const auto& name : names) {
        expected << qs(name);
    }
    expected.sort();
    EXPECT_EQ(settings.childKeys(), expected);
    const ProfileStore store(config);
    for (const auto& name : names) {
        const QVariant value = settings.value(qs(name));
        ASSERT_EQ(value.typeId(), QMetaType::QByteArray) << name;
        const auto bytes = bytesOf(value.toByteArray());
        ASSERT_EQ(bytes.size(), 16u) << name;
        const auto read = decodeProfile(bytes);
        ASSERT_TRUE(read.ok()) << name << ": " << read.detail;
        EXPECT_EQ(read.profile->toBytes(), store.read(name).profile->toBytes());
    }
    EXPECT_EQ(decodeProfile(bytesOf(settings.value(qs(names[0])).toByteArray())).profile->sampleNumberOffset, -1024);
}

TEST(ProfileQSettings, ProfilesQSettingsStoresAreReadByTheToolAndKeptWithTheRest) {
    test::TempDir dir;
    const std::string config = dir.file("Cleavix.ini");
    std::mt19937 random(1234);
    std::vector<std::pair<std::string, std::array<uint8_t, 16>>> written;
    {
        QSettings settings(qs(config), QSettings::IniFormat);
        settings.beginGroup("SOFTWARE/Brindlecote Software/Cleavix (Advanced)/1/Config");
        settings.setValue("Units", "2");
        settings.setValue("PNo", "1");
        settings.endGroup();
        settings.beginGroup(kSamplersGroup);
        for (int i = 0; i < 40; ++i) {
            SamplerProfile p{.midiInput = uint8_t(random()), .midiOutput = uint8_t(random()),
                             .scsiAdaptor = uint8_t(random() % 8), .scsiDevice = uint8_t(random() % 7),
                             .sysexId = uint8_t(1 + random() % 16), .midiChannel = uint8_t(1 + random() % 16),
                             .openLoop = uint8_t(random() % 2), .scsiInUse = uint8_t(random() % 2),
                             .midiOutInUse = uint8_t(random() % 2), .deviceType = uint8_t(random() % 8),
                             .sampleNumberOffset = int32_t(random() % 2049) - 1024};
            const auto bytes = encodeProfile(p);
            const std::string name = "profile " + std::to_string(i) + (i % 3 ? " ; =" : "") + (i % 5 ? "" : " ü");
            settings.setValue(qs(name), QByteArray(reinterpret_cast<const char*>(bytes.data()), 16));
            written.emplace_back(name, bytes);
        }
        settings.setValue("too long", QByteArray(17, '\x01'));
        settings.setValue("a string", QString("hello"));
        settings.endGroup();
        settings.sync();
        ASSERT_EQ(settings.status(), QSettings::NoError);
    }
    const ProfileStore store(config);
    for (const auto& [name, bytes] : written) {
        const auto read = store.read(name);
        ASSERT_TRUE(read.ok()) << name << ": " << read.detail;
        EXPECT_EQ(read.profile->toBytes(), bytes) << name;
    }
    EXPECT_EQ(store.read("too long").error, ProfileError::WrongSize);
    EXPECT_EQ(store.read("a string").error, ProfileError::NotBinary);

    // The tool changes two profiles; QSettings still reads every other value as it was.
    ASSERT_EQ(test::runCli({"profiles", "delete", written[0].first, "--config", config}).status, 0);
    ASSERT_EQ(test::runCli({"profiles", "store", "added", "--type", "4", "--device", "2", "--config", config}).status, 0);
    QSettings again(qs(config), QSettings::IniFormat);
    EXPECT_EQ(again.value("SOFTWARE/Brindlecote Software/Cleavix (Advanced)/1/Config/Units").toString(), "2");
    EXPECT_EQ(again.value("SOFTWARE/Brindlecote Software/Cleavix (Advanced)/1/Config/PNo").toString(), "1");
    again.beginGroup(kSamplersGroup);
    EXPECT_FALSE(again.contains(qs(written[0].first)));
    for (size_t i = 1; i < written.size(); ++i) {
        const auto value = bytesOf(again.value(qs(written[i].first)).toByteArray());
        EXPECT_EQ(value, std::vector<uint8_t>(written[i].second.begin(), written[i].second.end())) << written[i].first;
    }
    const auto added = decodeProfile(bytesOf(again.value("added").toByteArray()));
    ASSERT_TRUE(added.ok());
    EXPECT_EQ(added.profile->deviceType, 4);
    EXPECT_EQ(added.profile->scsiDevice, 2);
    EXPECT_EQ(again.value("a string").toString(), "hello");
    EXPECT_EQ(again.childKeys().size(), written.size() + 2);
}

// Every byte value at every place, next to every kind of neighbour: both writers, both readers.
TEST(ProfileQSettings, ArbitraryBytesSurviveBothWays) {
    test::TempDir dir;
    const std::string ours = dir.file("ours.ini");
    const std::string theirs = dir.file("theirs.ini");
    std::vector<std::vector<uint8_t>> values;
    for (int first = 0; first < 256; ++first) {
        values.push_back({uint8_t(first), uint8_t((first * 7 + 3) & 0xFF), uint8_t(0), uint8_t(255 - first),
                          uint8_t('0' + first % 10), uint8_t('a' + first % 6), uint8_t(first)});
    }
    values.push_back({});
    values.push_back({' '});
    values.push_back({' ', 'x', ' '});
    values.push_back({',', ';', '='});
    auto file = IniFile::load(ours);
    ASSERT_TRUE(file);
    {
        QSettings settings(qs(theirs), QSettings::IniFormat);
        for (size_t i = 0; i < values.size(); ++i) {
            const std::string key = std::string(kSamplersGroup) + "/v" + std::to_string(i);
            file->setBytes(key, values[i]);
            settings.setValue(qs(key), QByteArray(reinterpret_cast<const char*>(values[i].data()),
                                                  static_cast<qsizetype>(values[i].size())));
        }
        settings.sync();
    }
    ASSERT_TRUE(file->save(ours));
    QSettings readOurs(qs(ours), QSettings::IniFormat);
    const auto readTheirs = IniFile::load(theirs);
    ASSERT_TRUE(readTheirs);
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string key = std::string(kSamplersGroup) + "/v" + std::to_string(i);
        const QVariant value = readOurs.value(qs(key));
        EXPECT_EQ(value.typeId(), QMetaType::QByteArray) << key;
        EXPECT_EQ(bytesOf(value.toByteArray()), values[i]) << key;
        EXPECT_EQ(readTheirs->bytes(key), values[i]) << key;
    }
}

} // namespace
} // namespace cleavix::sampler::profiles
