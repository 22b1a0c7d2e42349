// SMDI messages byte for byte, and the answer parsers against short, truncated and bit-flipped
// answers.
#include "sampler/smdi/SmdiCodec.h"
#include "support/FoldSampler.h"

#include <gtest/gtest.h>

#include <random>

namespace cleavix::sampler::smdi {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

TEST(SmdiCodec, FixedMessagesAreTagIdsAndLength) {
    EXPECT_EQ(masterIdentify(), bytes({'S', 'M', 'D', 'I', 0x00, 0x01, 0x00, 0x00, 0, 0, 0}));
    EXPECT_EQ(ack(), bytes({'S', 'M', 'D', 'I', 0x01, 0x00, 0x00, 0x00, 0, 0, 0}));
    EXPECT_EQ(abortProcedure(), bytes({'S', 'M', 'D', 'I', 0x01, 0x05, 0x00, 0x00, 0, 0, 0}));
    EXPECT_EQ(sendNextPacket(0x012345),
              bytes({'S', 'M', 'D', 'I', 0x01, 0x03, 0, 0, 0, 0, 3, 0x01, 0x23, 0x45}));
    EXPECT_EQ(sampleHeaderRequest(256), bytes({'S', 'M', 'D', 'I', 0x01, 0x20, 0, 0, 0, 0, 3, 0, 1, 0}));
    EXPECT_EQ(beginSampleTransfer(7, 0x4000),
              bytes({'S', 'M', 'D', 'I', 0x01, 0x22, 0, 0, 0, 0, 6, 0, 0, 7, 0x00, 0x40, 0x00}));
}

TEST(SmdiCodec, DataPacketCarriesNumberThenData) {
    const Bytes data{1, 2, 3, 4};
    EXPECT_EQ(dataPacket(2, data), bytes({'S', 'M', 'D', 'I', 0x01, 0x10, 0, 0, 0, 0, 7, 0, 0, 2, 1, 2, 3, 4}));
    Bytes big(0x20000, 0xAB);
    auto packet = dataPacket(1, big);
    ASSERT_EQ(packet.size(), 14u + 0x20000);
    EXPECT_EQ(getBigEndian(packet, 8, 3), 0x20003u);
}

TEST(SmdiCodec, BigEndianHelpersRoundTrip) {
    Bytes out;
    putBigEndian(out, 0xA1B2C3D4, 4);
    putBigEndian(out, 0xFFEEDD, 3);
    EXPECT_EQ(out, bytes({0xA1, 0xB2, 0xC3, 0xD4, 0xFF, 0xEE, 0xDD}));
    EXPECT_EQ(getBigEndian(out, 0, 4), 0xA1B2C3D4u);
    EXPECT_EQ(getBigEndian(out, 4, 3), 0xFFEEDDu);
}

TEST(SmdiCodec, PlainSampleHeaderLayout) {
    SampleHeader h;
    h.number = 3;
    h.bits = 16;
    h.channels = 2;
    h.periodNs = periodOfRate(44100);
    h.lengthWords = 1000;
    h.loopEnd = 999;
    h.name = "Kick";
    auto m = sampleHeader(h);
    ASSERT_EQ(m.size(), 292u);
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 11), bytes({'S', 'M', 'D', 'I', 0x01, 0x21, 0, 0, 0, 0x01, 0x19}));
    // {offset, width, value}; the period is round(1e9 / 44100).
    const std::tuple<size_t, size_t, uint32_t> fields[] = {{11, 3, 3},   {16, 3, 22676}, {19, 4, 1000}, {23, 4, 0},
                                                           {27, 4, 999}, {32, 2, 0x41},  {34, 2, 0}};
    for (const auto& [at, width, value] : fields) {
        EXPECT_EQ(getBigEndian(m, at, width), value) << "field at " << at;
    }
    test::expectBytesAt(m, {{14, 16}, {15, 2}, {31, 0x7F}, {36, 4}, {41, 0}, {m.size() - 1, 0}});
    EXPECT_EQ(std::string(m.begin() + 37, m.begin() + 41), "Kick");
}

TEST(SmdiCodec, KeyRangeSampleHeaderLayout) {
    SampleHeader h;
    h.keys = KeyRangeBytes{60, 58, 62};
    h.name = std::string(300, 'x'); // cut to 255
    auto m = sampleHeader(h);
    ASSERT_EQ(m.size(), 295u);
    EXPECT_EQ(getBigEndian(m, 6, 2), 1u);
    EXPECT_EQ(getBigEndian(m, 8, 3), 284u);
    test::expectBytesAt(m, {{36, 60}, {37, 58}, {38, 62}, {39, 255}});
    auto back = parseSampleHeader(m);
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->keys);
    EXPECT_EQ(back->keys->root, 60);
    EXPECT_EQ(back->name, std::string(255, 'x'));
}

TEST(SmdiCodec, RatesAndPeriodsRound) {
    EXPECT_EQ(periodOfRate(44100), 22676u);
    EXPECT_EQ(rateOfPeriod(22676), 44099u); // rounded, not cut to 44000
    EXPECT_EQ(rateOfPeriod(periodOfRate(22050)), 22050u);
    EXPECT_EQ(rateOfPeriod(0), 0u);
    EXPECT_EQ(periodOfRate(0), 0u);
}

TEST(SmdiCodec, HeaderParsingNeedsTagAndElevenBytes) {
    EXPECT_FALSE(parseHeader(bytes({'S', 'M', 'D', 'I', 0, 1, 0, 1, 0, 0})));
    EXPECT_FALSE(parseHeader(bytes({'S', 'M', 'D', 'X', 0, 1, 0, 1, 0, 0, 0})));
    auto h = parseHeader(bytes({'S', 'M', 'D', 'I', 0, 1, 0, 1, 0, 0, 0}));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->id, id::kIdentify);
    EXPECT_EQ(h->subId, 1);
    EXPECT_TRUE(hasTag(bytes({'S', 'M', 'D', 'I'})));
    EXPECT_FALSE(hasTag(bytes({'S', 'M', 'D'})));
    EXPECT_TRUE(isMessage(bytes({'S', 'M', 'D', 'I', 0, 2, 0, 7, 0, 0, 0}), id::kMessageReject));
}

TEST(SmdiCodec, AnswerParsersReadOnlyWhatCame) {
    auto snp = message(id::kSendNextPacket, 0, bytes({0, 1, 2}));
    EXPECT_EQ(parseSendNextPacket(snp), 0x102u);
    EXPECT_FALSE(parseSendNextPacket(std::span(snp).first(13)));
    auto ackBst = message(id::kBeginSampleTransfer, 1, bytes({0, 0, 5, 0, 0x80, 0}));
    auto parsed = parseBeginTransferAck(ackBst);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sampleNumber, 5u);
    EXPECT_EQ(parsed->packetLength, 0x8000u);
    EXPECT_FALSE(parseBeginTransferAck(std::span(ackBst).first(16)));
    EXPECT_FALSE(parseBeginTransferAck(beginSampleTransfer(5, 0x8000))); // sub 0 is the request
    // A Data Packet claiming more data than was moved is refused.
    auto packet = dataPacket(4, Bytes(100, 7));
    auto view = parseDataPacket(packet);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->packetNumber, 4u);
    EXPECT_EQ(view->data.size(), 100u);
    EXPECT_FALSE(parseDataPacket(std::span(packet).first(packet.size() - 1)));
}

TEST(SmdiCodec, SampleHeaderNameMustLieWithinTheAnswer) {
    SampleHeader h;
    h.name = "Snare";
    auto m = sampleHeader(h);
    // 37 header bytes, then the name; a cut through the name is refused, one after it taken.
    auto cut = Bytes(m.begin(), m.begin() + 40);
    cut[9] = 0;
    cut[10] = 29; // length says 29 data bytes: the name runs past them
    EXPECT_FALSE(parseSampleHeader(cut));
    auto whole = Bytes(m.begin(), m.begin() + 42);
    whole[9] = 0;
    whole[10] = 31;
    auto parsed = parseSampleHeader(whole);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, "Snare");
    EXPECT_FALSE(parseSampleHeader(std::span(m).first(200))); // fewer bytes than the length says
}

TEST(SmdiCodec, ReceivedHeaderChecks) {
    SampleHeader h;
    h.periodNs = 22676;
    h.lengthWords = 100;
    EXPECT_EQ(checkReceivedHeader(h), "");
    auto bad = h;
    bad.periodNs = 0;
    EXPECT_NE(checkReceivedHeader(bad), "");
    bad = h;
    bad.bits = 8;
    EXPECT_NE(checkReceivedHeader(bad), "");
    bad = h;
    bad.channels = 0;
    EXPECT_NE(checkReceivedHeader(bad), "");
    bad.channels = 3;
    EXPECT_NE(checkReceivedHeader(bad), "");
    bad = h;
    bad.channels = 2;
    bad.lengthWords = 0x40000000; // 2^30 words * 2 channels * 2 bytes
    EXPECT_NE(checkReceivedHeader(bad), "");
}

TEST(SmdiCodec, SizeTexts) {
    EXPECT_EQ(sizeText(1000), "2000 bytes");
    EXPECT_EQ(sizeText(1023), "2046 bytes");
    EXPECT_EQ(sizeText(1024), "2kb");
    EXPECT_EQ(sizeText(0xFFFFFFFF), std::to_string(uint64_t(0xFFFFFFFF / 1024) * 2) + "kb");
}

TEST(SmdiCodec, ParsersSurviveTruncatedAndFlippedAnswers) {
    SampleHeader h;
    h.name = "Fuzz";
    h.keys = KeyRangeBytes{1, 2, 3};
    const std::vector<Bytes> answers{sampleHeader(h), message(id::kBeginSampleTransfer, 1, bytes({0, 0, 1, 0, 0x40, 0})),
                                     dataPacket(9, Bytes(64, 3)), sendNextPacket(3),
                                     message(id::kIdentify, 1)};
    std::mt19937 random(15);
    int parsedSome = 0;
    for (const auto& answer : answers) {
        for (size_t cut = 0; cut <= answer.size(); ++cut) {
            std::span<const uint8_t> part(answer.data(), cut);
            parsedSome += parseSampleHeader(part).has_value() + parseBeginTransferAck(part).has_value() +
                          parseDataPacket(part).has_value() + parseSendNextPacket(part).has_value() +
                          parseHeader(part).has_value();
        }
        for (int round = 0; round < 500; ++round) {
            Bytes flipped = answer;
            for (int flips = 0; flips < 3; ++flips) {
                flipped[random() % flipped.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
            }
            const size_t cut = random() % (flipped.size() + 1);
            std::span<const uint8_t> part(flipped.data(), cut);
            if (auto s = parseSampleHeader(part)) {
                EXPECT_LE(s->name.size() + 37, part.size());
            }
            if (auto d = parseDataPacket(part)) {
                EXPECT_LE(d->data.size() + 14, part.size());
                EXPECT_GE(d->data.data(), part.data());
            }
            (void)parseBeginTransferAck(part);
            (void)parseSendNextPacket(part);
        }
    }
    EXPECT_GT(parsedSome, 0); // whole answers parse
}

} // namespace
} // namespace cleavix::sampler::smdi
