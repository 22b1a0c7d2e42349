// The sample dump wire format, byte by byte as the standard lays it out.
#include "sampler/sds/SdsCodec.h"
#include "support/FoldSampler.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace cleavix::sampler::sds;

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list) {
        out.push_back(uint8_t(b));
    }
    return out;
}

} // namespace

TEST(SdsCodec, DumpHeaderBytes) {
    DumpHeader h;
    h.channel = 0;
    h.sampleNumber = 300;           // 0x12C: groups 2C 02
    h.periodNs = 22676;             // 0x5894: groups 14 31 01
    h.lengthWords = 44100;          // 0xAC44: groups 44 58 02
    h.loopStart = 0;
    h.loopEnd = 44100;
    const Header out = encodeHeader(h);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end()),
              bytes({0xF0, 0x7E, 0x00, 0x01, 0x2C, 0x02, 0x10, 0x14, 0x31, 0x01, 0x44, 0x58, 0x02, 0x00, 0x00, 0x00,
                     0x44, 0x58, 0x02, 0x7F, 0xF7}));
    const auto back = decodeHeader(out.data(), out.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sampleNumber, 300u);
    EXPECT_EQ(back->periodNs, 22676u);
    EXPECT_EQ(back->lengthWords, 44100u);
    EXPECT_EQ(back->loopEnd, 44100u);
    EXPECT_EQ(back->loopType, kLoopOff);
}

TEST(SdsCodec, HeaderRefusesBadFraming) {
    DumpHeader h;
    h.lengthWords = 10;
    Header out = encodeHeader(h);
    EXPECT_FALSE(decodeHeader(out.data(), 20));
    Header noEnd = out;
    noEnd[20] = 0x00;
    EXPECT_FALSE(decodeHeader(noEnd.data(), noEnd.size()));
    Header high = out;
    high[9] = 0x80;
    EXPECT_FALSE(decodeHeader(high.data(), high.size()));
    Header packet = out;
    packet[3] = 0x02;
    EXPECT_FALSE(decodeHeader(packet.data(), packet.size()));
}

TEST(SdsCodec, SampleWordsAreLeftJustifiedOffsetBinary) {
    uint8_t b[3];
    encodeSample(-32768, b);
    EXPECT_EQ(bytes({b[0], b[1], b[2]}), bytes({0x00, 0x00, 0x00}));
    encodeSample(32767, b);
    EXPECT_EQ(bytes({b[0], b[1], b[2]}), bytes({0x7F, 0x7F, 0x60}));
    encodeSample(0, b); // u = 0x8000
    EXPECT_EQ(bytes({b[0], b[1], b[2]}), bytes({0x40, 0x00, 0x00}));
    encodeSample(1, b); // u = 0x8001: lowest two bits in bits 6-5 of the third byte
    EXPECT_EQ(bytes({b[0], b[1], b[2]}), bytes({0x40, 0x00, 0x20}));
    for (int v = -32768; v <= 32767; ++v) {
        encodeSample(int16_t(v), b);
        ASSERT_EQ(decodeSample(b), v);
        ASSERT_EQ(b[2] & 0x1F, 0);
    }
}

TEST(SdsCodec, PeriodAndRateStayIn32Bits) {
    EXPECT_EQ(periodForRate(44100), 22676u);
    EXPECT_EQ(rateForPeriod(22676), 44099u);
    EXPECT_EQ(periodForRate(96000), 10417u);
    EXPECT_EQ(rateForPeriod(10417), 95997u); // never folded into 16 bits (30461)
    EXPECT_EQ(periodForRate(0), 0u);
    EXPECT_EQ(rateForPeriod(0), 0u);
}

TEST(SdsCodec, SendableLimits) {
    EXPECT_EQ(checkSendable(44100, 2097151, 16383), "");
    EXPECT_NE(checkSendable(0, 10, 0), "");
    EXPECT_NE(checkSendable(400, 10, 0), "");        // period 2.5 ms: over 21 bits
    EXPECT_EQ(checkSendable(477, 10, 0), "");        // 2096436 ns still fits
    EXPECT_NE(checkSendable(3000000000u, 10, 0), ""); // period rounds to 0
    EXPECT_EQ(checkSendable(44100, 2097152, 0), "Sample too long for a sample dump: 2097152 words (at most 2097151)");
    EXPECT_EQ(checkSendable(44100, 10, 16384), "Sample number 16384 is out of range (0 to 16383)");
    EXPECT_EQ(checkSendable(44100, 10, -1), "Sample number -1 is out of range (0 to 16383)");
}

TEST(SdsCodec, DataPacketLayoutAndChecksum) {
    std::vector<int16_t> samples(40);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = int16_t(int(i) * 1000 - 20000);
    }
    const Packet p = encodePacket(2, 127, samples.data(), samples.size());
    cleavix::test::expectBytesAt(p, {{0, 0xF0}, {1, 0x7E}, {2, 0x02}, {3, 0x02}, {4, 0x7F}, {126, 0xF7}});
    uint8_t sum = 0x7E ^ 0x02 ^ 0x02 ^ 0x7F;
    for (size_t i = 5; i < 125; ++i) {
        sum ^= p[i];
    }
    EXPECT_EQ(p[125], sum & 0x7F);
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(decodeSample(&p[5 + 3 * i]), samples[i]);
    }
    EXPECT_EQ(checkPacket(p.data(), p.size(), 40).fault, PacketFault::None);
}

TEST(SdsCodec, LastPacketFillerIsZeroSoBothChecksumsAgree) {
    const int16_t one = 1234;
    const Packet p = encodePacket(0, 5, &one, 1);
    for (size_t i = 8; i < 125; ++i) {
        EXPECT_EQ(p[i], 0x00) << i;
    }
    EXPECT_EQ(packetChecksum(p.data()), packetChecksumOfSamples(p.data(), 1));
    // A sender with other filler: the standard's reading covers it, and that is accepted too.
    Packet other = p;
    other[50] = 0x33;
    other[125] = packetChecksum(other.data());
    EXPECT_EQ(checkPacket(other.data(), other.size(), 1).fault, PacketFault::None);
    // A filler-free sum with non-zero filler is accepted as the samples-only reading.
    other[125] = packetChecksumOfSamples(other.data(), 1);
    EXPECT_EQ(checkPacket(other.data(), other.size(), 1).fault, PacketFault::None);
    other[125] ^= 1;
    EXPECT_EQ(checkPacket(other.data(), other.size(), 1).fault, PacketFault::Checksum);
}

TEST(SdsCodec, PacketChecksCatchFraming) {
    const int16_t v[40] = {};
    const Packet p = encodePacket(0, 0, v, 40);
    EXPECT_EQ(checkPacket(p.data(), 126, 40).fault, PacketFault::Length);
    Packet noEnd = p;
    noEnd[126] = 0x00;
    EXPECT_EQ(checkPacket(noEnd.data(), noEnd.size(), 40).fault, PacketFault::NoEnd);
    Packet high = p;
    high[60] = 0x90;
    EXPECT_EQ(checkPacket(high.data(), high.size(), 40).fault, PacketFault::NotSevenBit);
    Packet flipped = p;
    flipped[60] ^= 0x01;
    EXPECT_EQ(checkPacket(flipped.data(), flipped.size(), 40).fault, PacketFault::Checksum);
}

TEST(SdsCodec, RequestAndHandshakes) {
    const auto request = encodeRequest(3, 16383);
    EXPECT_EQ(std::vector<uint8_t>(request.begin(), request.end()), bytes({0xF0, 0x7E, 0x03, 0x03, 0x7F, 0x7F, 0xF7}));
    const auto ack = encodeHandshake(kSubAck, 0, 5);
    EXPECT_EQ(std::vector<uint8_t>(ack.begin(), ack.end()), bytes({0xF0, 0x7E, 0x00, 0x7F, 0x05, 0xF7}));
    const auto nak = encodeHandshake(kSubNak, 1, 0x7F);
    EXPECT_EQ(std::vector<uint8_t>(nak.begin(), nak.end()), bytes({0xF0, 0x7E, 0x01, 0x7E, 0x7F, 0xF7}));
    const auto cancel = encodeHandshake(kSubCancel, 0, 2);
    EXPECT_EQ(std::vector<uint8_t>(cancel.begin(), cancel.end()), bytes({0xF0, 0x7E, 0x00, 0x7D, 0x02, 0xF7}));
    const auto wait = encodeHandshake(kSubWait, 0, 2);
    EXPECT_EQ(wait[3], 0x7C);
    const auto parsed = decodeHandshake(nak.data(), nak.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sub, kSubNak);
    EXPECT_EQ(parsed->channel, 1);
    EXPECT_EQ(parsed->packet, 0x7F);
    EXPECT_FALSE(decodeHandshake(request.data(), request.size()));
    const auto other = bytes({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}); // identity request, not a handshake
    EXPECT_FALSE(decodeHandshake(other.data(), other.size()));
}

TEST(SdsCodec, HexLines) {
    const auto ack = encodeHandshake(kSubAck, 0, 10);
    EXPECT_EQ(hexLine(ack.data(), ack.size()), "F0 7E 00 7F 0A F7");
    EXPECT_EQ(hexLine(nullptr, 0), "");
}

TEST(SdsCodec, FuzzedPacketsNeverReadOutside) {
    std::mt19937 random(7);
    std::vector<int16_t> v(40);
    for (auto& s : v) {
        s = int16_t(random());
    }
    const Packet good = encodePacket(0, 9, v.data(), v.size());
    int accepted = 0;
    for (int round = 0; round < 5000; ++round) {
        std::vector<uint8_t> m(good.begin(), good.end());
        m.resize(size_t(random() % 130));
        if (!m.empty()) {
            m[random() % m.size()] ^= uint8_t(1u << (random() % 8));
        }
        const PacketView view = checkPacket(m.data(), m.size(), 40);
        if (view.fault == PacketFault::None) {
            ++accepted;
            EXPECT_EQ(m.size(), kPacketBytes);
        }
        (void)decodeHeader(m.data(), m.size());
        (void)decodeHandshake(m.data(), m.size());
    }
    // A single flipped bit in a full packet is always caught (the checksum covers every data bit).
    EXPECT_EQ(accepted, 0);
}
