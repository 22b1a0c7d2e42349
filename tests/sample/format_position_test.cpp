#include "sample/Extended80.h"
#include "sample/FormatPosition.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace cleavix::sample;
using cleavix::test::extendedBytes;

namespace {

uint32_t stereoBytes(double seconds, uint32_t rate) { return static_cast<uint32_t>(seconds * rate) * 4; }

} // namespace

TEST(FormatPosition, EveryUnitOfSixtyOneAndAHalfSeconds) {
    const uint32_t position = stereoBytes(61.5, 44100);
    EXPECT_EQ(FormatPosition(position, UnitsTime, 16, 44100, 2), "00:01:01:500");
    EXPECT_EQ(FormatPosition(position, UnitsSamples, 16, 44100, 2), "2712150");
    EXPECT_EQ(FormatPosition(position, UnitsSeconds, 16, 44100, 2), "61.50000");
    EXPECT_EQ(FormatPosition(position, UnitsBytes, 16, 44100, 2), std::to_string(position));
}

TEST(FormatPosition, TimePadsFieldsAndCarriesRoundedMilliseconds) {
    EXPECT_EQ(FormatPosition(stereoBytes(1.005, 48000), UnitsTime, 16, 48000, 2), "00:00:01:005");
    // 1.9996 s: the milliseconds round to 1000 and carry into the seconds.
    EXPECT_EQ(FormatPosition(19996 * 4, UnitsTime, 16, 10000, 2), "00:00:02:000");
    // 59.9999 s carries through the minutes; an hour and more.
    EXPECT_EQ(FormatPosition(599999 * 2, UnitsTime, 16, 10000, 1), "00:01:00:000");
    EXPECT_EQ(FormatPosition(3723 * 1000 * 2, UnitsTime, 16, 1000, 1), "01:02:03:000");
    EXPECT_EQ(FormatPosition(0, UnitsTime, 16, 44100, 2), "00:00:00:000");
}

TEST(FormatPosition, OtherUnitsAndDegenerateFormatsGiveBytes) {
    EXPECT_EQ(FormatPosition(1234, 3, 16, 44100, 2), "1234");
    EXPECT_EQ(FormatPosition(1234, 0, 16, 44100, 2), "1234");
    EXPECT_EQ(FormatPosition(1234, UnitsTime, 16, 0, 2), "1234");
    EXPECT_EQ(FormatPosition(1234, UnitsSamples, 16, 44100, 0), "1234");
    // Mono frames are 2 bytes; the samples form truncates.
    EXPECT_EQ(FormatPosition(7, UnitsSamples, 16, 44100, 1), "3");
    EXPECT_EQ(FormatPosition(4294967295u, UnitsBytes, 16, 44100, 2), "4294967295");
}

TEST(Extended80, RatesReadAsTheMachineEncodesThem) {
    EXPECT_EQ(extended80ToRate(extendedBytes(44100).data()), 44100u);
    EXPECT_EQ(extended80ToRate(extendedBytes(22254.5454L).data()), 22255u);
    EXPECT_EQ(extended80ToRate(extendedBytes(8000.5L).data()), 8000u);  // tie to even
    EXPECT_EQ(extended80ToRate(extendedBytes(8001.5L).data()), 8002u);  // tie to even
    EXPECT_EQ(extended80ToRate(extendedBytes(1).data()), 1u);
    EXPECT_EQ(extended80ToRate(extendedBytes(0).data()), 0u);
    EXPECT_EQ(extended80ToRate(extendedBytes(-44100).data()), 0u);
    EXPECT_EQ(extended80ToRate(extendedBytes(1e12L).data()), 0u); // beyond 32 bits: refused as 0
}

TEST(Extended80, WrittenRatesMatchTheMachineEncoding) {
    for (uint32_t rate : {1u, 8000u, 11025u, 22050u, 44100u, 48000u, 96000u, 192000u, 4294967295u}) {
        uint8_t bytes[10];
        rateToExtended80(rate, bytes);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 10), extendedBytes(rate)) << rate;
        EXPECT_EQ(extended80ToRate(bytes), rate);
    }
}
