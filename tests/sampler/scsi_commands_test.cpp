// SCSI commands as data: CDBs, sense, INQUIRY answers (trusting nothing a device sends) and the
// listing lines.
#include "sampler/scsi/ScsiCommands.h"

#include <gtest/gtest.h>

namespace cleavix::sampler::scsi {
namespace {

TEST(ScsiCdb, SixByteCdbCarriesTheLengthMostSignificantByteFirst) {
    EXPECT_EQ(*makeCdb(op::kSend, 0x012345), (Cdb{0x0A, 0, 0x01, 0x23, 0x45, 0}));
    EXPECT_EQ(*makeCdb(op::kReceive, 14), (Cdb{0x08, 0, 0, 0, 14, 0}));
    EXPECT_EQ(*makeCdb(op::kReceive, kMaxTransfer24), (Cdb{0x08, 0, 0xFF, 0xFF, 0xFF, 0}));
    EXPECT_FALSE(makeCdb(op::kSend, kMaxTransfer24 + 1)) << "a length past 24 bits is refused, not cut";
    EXPECT_EQ(inquiryCdb(), (Cdb{0x12, 0, 0, 0, 96, 0}));
    EXPECT_EQ(testUnitReadyCdb(), (Cdb{0, 0, 0, 0, 0, 0}));
}

TEST(ScsiSense, FixedAndDescriptorFormatsGiveTheKey) {
    const Sense fixed = fixedSense(sense_key::kMediumError, 0x11, 0x02);
    EXPECT_EQ(fixed[0], 0x70);
    EXPECT_EQ(fixed[7], 6);
    EXPECT_EQ(senseKeyOf(fixed, 14), sense_key::kMediumError);
    EXPECT_FALSE(senseKeyOf(fixed, 2)) << "too few bytes came";
    Sense descriptor{};
    descriptor[0] = 0x72;
    descriptor[1] = sense_key::kUnitAttention;
    EXPECT_EQ(senseKeyOf(descriptor, 8), sense_key::kUnitAttention);
    Sense junk{};
    junk[0] = 0x12;
    EXPECT_FALSE(senseKeyOf(junk, 14));
}

TEST(ScsiInquiry, BuildsAndReadsTheStandardAnswer) {
    const auto answer = buildInquiry(3, "YAMAHA", "A5000", "1.10");
    ASSERT_EQ(answer.size(), 96u);
    EXPECT_EQ(answer[0], 3);
    EXPECT_EQ(answer[4], 91);
    const auto data = parseInquiry(answer);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->vendor, "YAMAHA");
    EXPECT_EQ(data->product, "A5000");
    EXPECT_EQ(data->revision, "1.10");
    EXPECT_EQ(deviceLine(3, data), "ID:3 YAMAHA A5000 1.10 (*)");
}

TEST(ScsiInquiry, ReadsNoFurtherThanTheBytesMovedOrTheAdditionalLength) {
    EXPECT_FALSE(parseInquiry({}));
    const std::vector<uint8_t> one = {0x00};
    const auto typeOnly = parseInquiry(one);
    ASSERT_TRUE(typeOnly);
    EXPECT_EQ(typeOnly->peripheralType, 0);
    EXPECT_EQ(typeOnly->vendor, "");
    // The device says it filled only 6 bytes past byte 4: the vendor stops after three.
    auto answer = buildInquiry(0, "VENDORXY", "PRODUCT", "REV1");
    answer[4] = 6;
    const auto cut = parseInquiry(answer);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->vendor, "VEN");
    EXPECT_EQ(cut->product, "");
}

TEST(ScsiInquiry, NoDeviceQualifierAndUnprintableBytes) {
    auto answer = buildInquiry(0, "X", "Y", "Z");
    answer[0] = 0x7F; // qualifier 3: nothing at this LUN
    EXPECT_FALSE(parseInquiry(answer));
    answer = buildInquiry(5, "AB", "CD", "EF");
    answer[9] = 0x07;
    answer[10] = 0xC3;
    const auto data = parseInquiry(answer);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->vendor, "A") << "control and non-ASCII bytes become blanks, trailing ones trimmed";
    EXPECT_EQ(deviceLine(1, data), "ID:1 A CD EF");
}

TEST(ScsiLines, AdaptorAndAbsentDeviceLines) {
    Adaptor adaptor{.index = 1, .identifier = "usb-storage"};
    EXPECT_EQ(adaptorLine(adaptor), "ID:1 usb-storage");
    EXPECT_EQ(deviceLine(6, std::nullopt), "ID:6 No Device Found");
}

TEST(ScsiFailure, DescriptionsNameWhatWentWrong) {
    Completion c;
    c.completed = true;
    EXPECT_EQ(describeFailure(c), "");
    c.completed = false;
    c.timedOut = true;
    EXPECT_EQ(describeFailure(c), "no answer within the time-out");
    c.timedOut = false;
    c.systemError = EACCES;
    EXPECT_NE(describeFailure(c).find("Permission denied"), std::string::npos);
    c.systemError = 0;
    c.hostStatus = host_status::kNoConnect;
    EXPECT_EQ(describeFailure(c), "host adaptor status 0x01 (no device)");
    c.hostStatus = host_status::kOk;
    c.targetStatus = target_status::kBusy;
    EXPECT_EQ(describeFailure(c), "target busy");
}

} // namespace
} // namespace cleavix::sampler::scsi
