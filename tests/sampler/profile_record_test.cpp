// The 16-byte profile record: encoding, strict decoding and every corrupt form; the device types.
#include "sampler/profiles/DeviceTypes.h"
#include "sampler/profiles/ProfileRecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cleavix::sampler::profiles {
namespace {

SamplerProfile aProfile() {
    SamplerProfile p{.midiInput = 2, .midiOutput = 3, .scsiAdaptor = 1, .scsiDevice = 5, .sysexId = 16,
                     .midiChannel = 10, .openLoop = 1, .scsiInUse = 1, .midiOutInUse = 1, .deviceType = 7,
                     .sampleNumberOffset = -1024};
    return p;
}

std::vector<uint8_t> bytesOf(const SamplerProfile& p) {
    const auto bytes = encodeProfile(p);
    return {bytes.begin(), bytes.end()};
}

TEST(ProfileRecord, EncodesTheFieldsAtTheirOffsetsLittleEndian) {
    SamplerProfile p = aProfile();
    p.reserved = {0xAA, 0xBB};
    const auto bytes = bytesOf(p);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{2, 3, 1, 5, 16, 10, 1, 1, 1, 7, 0, 0, 0x00, 0xFC, 0xFF, 0xFF}))
        << "-1024 is 0xFFFFFC00; the reserved bytes are written as zero";
}

TEST(ProfileRecord, RoundTripsNegativeAndPositiveOffsets) {
    for (int offset : {-1024, -1, 0, 1, 1024}) {
        SamplerProfile p = aProfile();
        p.sampleNumberOffset = offset;
        const auto read = decodeProfile(bytesOf(p));
        ASSERT_TRUE(read.ok()) << offset << ": " << read.detail;
        EXPECT_EQ(read.profile->sampleNumberOffset, offset);
        EXPECT_EQ(read.profile->toBytes(), encodeProfile(p));
    }
}

TEST(ProfileRecord, FifteenAndSeventeenBytesAreCorrupt) {
    const auto bytes = encodeProfile(aProfile());
    uint8_t seventeen[17] = {};
    std::copy(bytes.begin(), bytes.end(), seventeen);
    const std::span<const uint8_t> values[] = {std::span<const uint8_t>(bytes.data(), 15),
                                               std::span<const uint8_t>(seventeen, 17), std::span<const uint8_t>()};
    for (const auto value : values) {
        const auto read = decodeProfile(value);
        EXPECT_FALSE(read.ok());
        EXPECT_EQ(read.error, ProfileError::WrongSize);
        EXPECT_FALSE(read.profile) << "never a record filled partly from the value";
    }
}

TEST(ProfileRecord, EveryFieldOutOfRangeIsCorrupt) {
    struct Case {
        size_t offset;
        uint8_t value;
        const char* field;
    };
    const Case cases[] = {
        {9, 9, "device type 9"},  {9, 8, "device type 8"},     {2, 8, "SCSI adaptor 8"}, {3, 7, "SCSI device 7"},
        {4, 0, "sysex ID 0"},     {4, 17, "sysex ID 17"},      {5, 0, "MIDI channel 0"}, {5, 17, "MIDI channel 17"},
        {6, 2, "open loop 2"},    {7, 2, "SCSI in use 2"},     {8, 255, "MIDI out in use 255"},
    };
    for (const auto& c : cases) {
        auto bytes = bytesOf(aProfile());
        bytes[c.offset] = c.value;
        const auto read = decodeProfile(bytes);
        EXPECT_EQ(read.error, ProfileError::OutOfRange) << c.field;
        EXPECT_EQ(read.detail, c.field);
        EXPECT_FALSE(read.profile);
    }
    for (int32_t offset : {-1025, 1025, INT32_MIN, INT32_MAX}) {
        SamplerProfile p = aProfile();
        p.sampleNumberOffset = offset;
        EXPECT_EQ(decodeProfile(bytesOf(p)).error, ProfileError::OutOfRange) << offset;
    }
}

TEST(ProfileRecord, ReservedBytesAreNotRead) {
    auto bytes = bytesOf(aProfile());
    bytes[10] = 0x12;
    bytes[11] = 0x34;
    const auto read = decodeProfile(bytes);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.profile->deviceType, 7);
}

TEST(ProfileRecord, ConfiguredMidiChannelIsClamped) {
    EXPECT_EQ(clampMidiChannel(0), 1);
    EXPECT_EQ(clampMidiChannel(-5), 1);
    EXPECT_EQ(clampMidiChannel(1), 1);
    EXPECT_EQ(clampMidiChannel(16), 16);
    EXPECT_EQ(clampMidiChannel(17), 16);
    EXPECT_EQ(clampMidiChannel(1LL << 40), 16);
}

TEST(DeviceTypes, EightTextsInOrder) {
    const std::vector<std::string> texts = {"Generic MIDI SDS",
                                            "Generic SCSI SMDI",
                                            "Yamaha A3000 SCSI (needs MIDI out)",
                                            "Yamaha EX SCSI (needs MIDI out)",
                                            "E-mu ESI and EOS (E4 / E64) SCSI",
                                            "Akai S2000 / S3000XL / S3200XL SCSI",
                                            "Yamaha A4000 SCSI (needs MIDI out)",
                                            "Yamaha A5000 SCSI (needs MIDI out)"};
    for (int i = 0; i < kDeviceTypeCount; ++i) {
        EXPECT_EQ(kDeviceTypes[size_t(i)].text, texts[size_t(i)]);
        EXPECT_EQ(kDeviceTypes[size_t(i)].index, i);
    }
    EXPECT_EQ(deviceType(8), nullptr);
    EXPECT_EQ(deviceType(-1), nullptr);
}

TEST(DeviceTypes, DriversAutoMapAndReceiveButton) {
    EXPECT_EQ(kDeviceTypes[0].driver, DriverKind::Sds);
    EXPECT_EQ(kDeviceTypes[5].driver, DriverKind::Akai);
    for (int i : {1, 2, 3, 4, 6, 7}) {
        EXPECT_EQ(kDeviceTypes[size_t(i)].driver, DriverKind::Smdi) << i;
    }
    for (int i = 0; i < kDeviceTypeCount; ++i) {
        EXPECT_EQ(autoMapOffered(i), i >= 2) << i;
        EXPECT_EQ(receiveButtonText(i), i == 0 ? "Wait For Send" : "List Samples");
    }
    EXPECT_FALSE(autoMapOffered(8));
}

TEST(DeviceTypes, EnablingFromTheTextAgreesWithTheTable) {
    for (const auto& type : kDeviceTypes) {
        const Enabling e = enablingFor(type.index);
        EXPECT_EQ(e.scsi, type.scsi) << type.text;
        EXPECT_EQ(e.midiIn, type.midiIn) << type.text;
        EXPECT_EQ(e.midiOut, type.midiOut) << type.text;
        EXPECT_EQ(e.channel, type.channel) << type.text;
        EXPECT_EQ(e.openLoopShown, type.index == 0) << type.text;
    }
    const Enabling none = enablingFor(9);
    EXPECT_FALSE(none.scsi || none.midiIn || none.midiOut || none.channel);
}

} // namespace
} // namespace cleavix::sampler::profiles
