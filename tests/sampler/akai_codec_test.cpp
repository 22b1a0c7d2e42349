#include "sampler/akai/AkaiCodec.h"
#include "support/FoldSampler.h"

#include <gtest/gtest.h>

#include <random>

namespace cleavix::sampler::akai {
namespace {

TEST(AkaiCodec, FramesAndRequestsAreTheLiteralBytes) {
    EXPECT_EQ(freeMemoryRequest(), (Bytes{0xF0, 0x47, 0x00, 0x00, 0x48, 0xF7}));
    EXPECT_EQ(programCountRequest(), (Bytes{0xF0, 0x47, 0x00, 0x02, 0x48, 0xF7}));
    EXPECT_EQ(sampleCountRequest(), (Bytes{0xF0, 0x47, 0x00, 0x04, 0x48, 0xF7}));
    EXPECT_EQ(sampleHeaderRequest(200), (Bytes{0xF0, 0x47, 0x00, 0x0A, 0x48, 0x48, 0x01, 0xF7}));
    EXPECT_EQ(sampleDataRequest(3, 0, 0x12345),
              (Bytes{0xF0, 0x47, 0x00, 0x0C, 0x48, 0x03, 0x00, 0, 0, 0, 0, 0x45, 0x46, 0x04, 0x00, 0x01, 0x00, 0xF7}));
}

TEST(AkaiCodec, SevenBitGroupsLeastSignificantFirst) {
    EXPECT_EQ(sevenBitGroups(0x3FFF, 2), (Bytes{0x7F, 0x7F}));
    EXPECT_EQ(sevenBitGroups(128, 2), (Bytes{0x00, 0x01}));
    const Bytes four = sevenBitGroups(0x0FFFFFFF, 4);
    EXPECT_EQ(fromSevenBitGroups(four, 4), 0x0FFFFFFFu);
    EXPECT_EQ(fromSevenBitGroups(Bytes{0x05, 0x01}, 2), 133u);
    // The top bit of a group carries nothing.
    EXPECT_EQ(fromSevenBitGroups(Bytes{0x85, 0x81}, 2), 133u);
}

TEST(AkaiCodec, NibblesLowFirstAndBack) {
    EXPECT_EQ(toNibbles(Bytes{0xAB, 0x01, 0xF0}), (Bytes{0x0B, 0x0A, 0x01, 0x00, 0x00, 0x0F}));
    EXPECT_EQ(fromNibbles(Bytes{0x0B, 0x0A, 0x01, 0x00, 0x07}), (Bytes{0xAB, 0x01}));
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[size_t(i)] = uint8_t(i);
    }
    EXPECT_EQ(fromNibbles(toNibbles(all)), all);
}

TEST(AkaiCodec, CharacterSet) {
    const std::pair<char, int> indices[] = {{'0', 0},  {'9', 9},  {' ', 10}, {'A', 11},  {'z', 36},   {'#', 37},
                                            {'+', 38}, {'-', 39}, {'.', 40}, {'\'', 10}, {'\xE9', 10}};
    for (const auto& [c, index] : indices) {
        EXPECT_EQ(akaiIndex(c), index) << "character " << int(uint8_t(c));
    }
    // Lower case and an apostrophe: upper case, the apostrophe a blank, padded to 12.
    const auto name = akaiName("don't");
    EXPECT_EQ(akaiText(name, false), "DON T       ");
    EXPECT_EQ(akaiText(name, true), "DON T");
    EXPECT_EQ(akaiText(akaiName("a-very-long-sample.wav"), false), "A-VERY-LONG-");
    EXPECT_EQ(akaiText(Bytes{11, 200, 12}, false), "A B");
}

TEST(AkaiCodec, SampleHeaderBlockAndSplit) {
    const auto block = sampleHeaderBlock("kick", 1, 60, 1250);
    test::expectBytesAt(block, {{0, 3}, {1, 1}, {2, 60}, {15, 128}, {19, 3}, {26, 1250 & 0xFF}, {27, 1250 >> 8},
                                {34, 1249 & 0xFF}, {38, 0}});
    EXPECT_EQ(akaiText(std::span(block).subspan(3, 12), true), "KICK");
    const auto message = sampleHeaderMessage(130, block);
    ASSERT_EQ(message.first.size(), 200u);
    ASSERT_EQ(message.second.size(), 192u);
    EXPECT_EQ(Bytes(message.first.begin(), message.first.begin() + 7),
              (Bytes{0xF0, 0x47, 0x00, 0x0B, 0x48, 0x02, 0x01}));
    test::expectBytesAt(message.first, {{7, 3}, {8, 0}});
    EXPECT_EQ(message.second.back(), 0xF7);
    Bytes nibbles(message.first.begin() + 7, message.first.end());
    nibbles.insert(nibbles.end(), message.second.begin(), message.second.end() - 1);
    const Bytes back = fromNibbles(nibbles);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), block.begin(), block.end()));
    EXPECT_EQ(rateByte(22050), std::optional<uint8_t>(0));
    EXPECT_EQ(rateByte(44100), std::optional<uint8_t>(1));
    EXPECT_FALSE(rateByte(48000));
}

TEST(AkaiCodec, ProgramIsSentAsWritten) {
    const auto message = programMessage(4, "piano", 48, 72);
    ASSERT_EQ(message.first.size(), 200u);
    ASSERT_EQ(message.second.size(), 192u);
    EXPECT_EQ(Bytes(message.first.begin(), message.first.begin() + 7),
              (Bytes{0xF0, 0x47, 0x00, 0x07, 0x48, 0x04, 0x00}));
    const Bytes values = fromNibbles(Bytes(message.first.begin() + 7, message.first.end()));
    ASSERT_EQ(values.size(), 96u); // 193 nibbles: the odd one is the low half of value 96
    test::expectBytesAt(values, {{0, 1}, {17, 31}, {18, 1}, {19, 48}, {20, 72}, {22, 255}, {63, 16}, {89, 5}});
    EXPECT_EQ(akaiText(std::span(values).subspan(3, 12), true), "PIANO");
    // The fixed tail: 0, 0, 5, 8, 14 as nibble pairs, zeros, F7.
    EXPECT_EQ(Bytes(message.second.begin(), message.second.begin() + 10),
              (Bytes{0, 0, 0, 0, 5, 0, 8, 0, 14, 0}));
    EXPECT_TRUE(std::all_of(message.second.begin() + 10, message.second.end() - 1, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(message.second.back(), 0xF7);
}

TEST(AkaiCodec, KeygroupBlockFillsAllItsValues) {
    const auto block = keygroupBlock(59, 61, "bass001");
    // The last value lands on the block's last byte.
    test::expectBytesAt(block, {{0, 2}, {3, 59}, {4, 61}, {7, 99}, {28, 19}, {47, 127}, {191, 25}});
    EXPECT_EQ(akaiText(std::span(block).subspan(34, 12), true), "BASS001");
    const auto message = keygroupMessage(3, 59, 61, "bass001");
    ASSERT_EQ(message.first.size(), 200u);
    ASSERT_EQ(message.second.size(), 193u);
    EXPECT_EQ(Bytes(message.first.begin(), message.first.begin() + 8),
              (Bytes{0xF0, 0x47, 0x00, 0x09, 0x48, 0x7F, 0x01, 0x03}));
    EXPECT_EQ(message.second[191], 0x01); // high nibble of 25
    EXPECT_EQ(message.second.back(), 0xF7);
}

Bytes headerAnswer(uint8_t rateFlag, const std::string& name, uint32_t words) {
    Bytes a(7 + 384 + 1, 0);
    a[0] = 0xF0;
    a[1] = 0x47;
    a[3] = 0x0B;
    a[4] = 0x48;
    a[14] = rateFlag;
    const auto n = toNibbles(akaiName(name));
    std::copy(n.begin(), n.end(), a.begin() + 15);
    const uint8_t le[4] = {uint8_t(words), uint8_t(words >> 8), uint8_t(words >> 16), uint8_t(words >> 24)};
    const auto w = toNibbles(le);
    std::copy(w.begin(), w.end(), a.begin() + 59);
    a.back() = 0xF7;
    return a;
}

TEST(AkaiCodec, ReceivedHeader) {
    auto h = parseSampleHeader(headerAnswer(1, "snare", 70000));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->name, "SNARE");
    EXPECT_EQ(h->sampleRate, 44100u);
    EXPECT_EQ(h->lengthWords, 70000u);
    EXPECT_EQ(h->bytes(), 140000u);
    h = parseSampleHeader(headerAnswer(0, "x", 1));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->sampleRate, 22050u);
    // Too short for the length's nibbles, or not an Akai frame.
    Bytes cut = headerAnswer(0, "x", 1);
    cut.resize(60);
    cut.back() = 0xF7;
    EXPECT_FALSE(parseSampleHeader(cut));
    Bytes wrong = headerAnswer(0, "x", 1);
    wrong[1] = 0x43;
    EXPECT_FALSE(parseSampleHeader(wrong));
    wrong = headerAnswer(0, "x", 1);
    wrong.back() = 0x00;
    EXPECT_FALSE(parseSampleHeader(wrong));
}

TEST(AkaiCodec, SmallAnswers) {
    Bytes memory = {0xF0, 0x47, 0, 0x01, 0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x01, 0, 0, 0xF7};
    EXPECT_EQ(parseFreeMemory(memory), std::optional<uint32_t>(0x90));
    memory.resize(19);
    EXPECT_FALSE(parseFreeMemory(memory));
    EXPECT_EQ(parseCount(Bytes{0xF0, 0x47, 0, 5, 0x48, 0x02, 0x01, 0xF7}), std::optional<uint32_t>(130));
    EXPECT_FALSE(parseCount(Bytes{0xF0, 0x47, 0, 5, 0x48, 0x02, 0xF7}));
    EXPECT_EQ(parseHandshake(Bytes{0xF0, 0x7E, 0, 0x7F, 0, 0xF7}), std::optional<uint8_t>(0x7F));
    EXPECT_FALSE(parseHandshake(Bytes{0xF0, 0x7E, 0, 0x7F, 0}));
    EXPECT_FALSE(parseHandshake(Bytes{0xF0, 0x47, 0, 0x7F, 0, 0xF7}));
    EXPECT_EQ(parseWriteResult(Bytes{0xF0, 0x47, 0, 7, 0x48, 0, 0xF7}), std::optional<bool>(true));
    EXPECT_EQ(parseWriteResult(Bytes{0xF0, 0x47, 0, 7, 0x48, 1, 0xF7}), std::optional<bool>(false));
    EXPECT_FALSE(parseWriteResult(Bytes{0xF0, 0x47, 0, 7, 0x48, 1}));
    EXPECT_EQ(parsePendingLength(Bytes{0x01, 0x02, 0x03, 0, 0, 0}), std::optional<uint32_t>(0x010203));
    EXPECT_FALSE(parsePendingLength(Bytes{0x01, 0x02}));
}

TEST(AkaiCodec, ParsersSurviveRandomAnswers) {
    std::mt19937 random(16);
    for (int round = 0; round < 20000; ++round) {
        Bytes answer(random() % 420);
        for (auto& b : answer) {
            b = uint8_t(random());
        }
        if (!answer.empty() && round % 2 == 0) {
            answer[0] = 0xF0;
            if (answer.size() > 4) {
                answer[1] = 0x47;
                answer[4] = 0x48;
            }
            answer.back() = 0xF7;
        }
        const auto header = parseSampleHeader(answer);
        if (header) {
            EXPECT_GE(answer.size(), kHeaderAnswerMinimum);
            EXPECT_LE(header->name.size(), kNameLength);
        }
        if (parseFreeMemory(answer)) {
            EXPECT_GE(answer.size(), 20u);
        }
        (void)parseCount(answer);
        (void)parseHandshake(answer);
        (void)parseWriteResult(answer);
        (void)parsePendingLength(answer);
    }
}

} // namespace
} // namespace cleavix::sampler::akai
