// The MIDI byte-stream parser: running status, real-time bytes, system-exclusive assembly and
// the damaged cases, fed whole and in every split.
#include "sampler/midi/MidiByteParser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace cleavix::sampler::midi;

namespace {

struct Collect final : MidiInputSink {
    struct Message {
        uint32_t packed = 0;
        std::vector<uint8_t> sysex;
        bool damaged = false;
        bool operator==(const Message&) const = default;
    };
    void shortMessage(uint32_t, uint32_t packed) override { got.push_back({packed, {}, false}); }
    void sysex(uint32_t, const uint8_t* data, size_t size, bool damaged) override {
        got.push_back({0, std::vector<uint8_t>(data, data + size), damaged});
    }
    std::vector<Message> got;
};

std::vector<Collect::Message> parse(const std::vector<uint8_t>& bytes, size_t limit = 64) {
    MidiByteParser parser(limit);
    Collect sink;
    parser.feed(bytes.data(), bytes.size(), 0, sink);
    return sink.got;
}

Collect::Message shortOf(uint32_t packed) { return {packed, {}, false}; }
Collect::Message sysexOf(std::vector<uint8_t> bytes, bool damaged = false) { return {0, std::move(bytes), damaged}; }

} // namespace

TEST(MidiParser, ChannelMessagesAndRunningStatus) {
    const auto got = parse({0x90, 0x3C, 0x64, 0x3E, 0x50, 0xC1, 0x05, 0x06, 0x80, 0x3C, 0x00});
    const std::vector<Collect::Message> expected = {shortOf(0x643C90), shortOf(0x503E90), shortOf(0x05C1),
                                                    shortOf(0x06C1), shortOf(0x003C80)};
    EXPECT_EQ(got, expected);
}

TEST(MidiParser, ClockAndActiveSensingVanishEvenInsideSysex) {
    const auto got = parse({0xF8, 0xF0, 0x7E, 0xF8, 0x00, 0xFE, 0x7F, 0xF7, 0xFE, 0xFA});
    const std::vector<Collect::Message> expected = {sysexOf({0xF0, 0x7E, 0x00, 0x7F, 0xF7}), shortOf(0xFA)};
    EXPECT_EQ(got, expected);
}

TEST(MidiParser, RealTimeInsideAChannelMessageLeavesItWhole) {
    const auto got = parse({0x90, 0x3C, 0xFC, 0x64});
    const std::vector<Collect::Message> expected = {shortOf(0xFC), shortOf(0x643C90)};
    EXPECT_EQ(got, expected);
}

TEST(MidiParser, StatusByteCutsSysexWhichIsFlagged) {
    const auto got = parse({0xF0, 0x7E, 0x01, 0x90, 0x3C, 0x64});
    const std::vector<Collect::Message> expected = {sysexOf({0xF0, 0x7E, 0x01}, true), shortOf(0x643C90)};
    EXPECT_EQ(got, expected);
    const auto twice = parse({0xF0, 0x01, 0xF0, 0x02, 0xF7});
    const std::vector<Collect::Message> expected2 = {sysexOf({0xF0, 0x01}, true), sysexOf({0xF0, 0x02, 0xF7})};
    EXPECT_EQ(twice, expected2);
}

TEST(MidiParser, OverlongSysexIsFlaggedAndKeepsItsStart) {
    std::vector<uint8_t> bytes = {0xF0};
    for (int i = 0; i < 20; ++i) {
        bytes.push_back(uint8_t(i));
    }
    bytes.push_back(0xF7);
    const auto got = parse(bytes, 8);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].damaged);
    EXPECT_EQ(got[0].sysex, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8));
    // Exactly at the limit is whole.
    const auto fits = parse({0xF0, 1, 2, 3, 4, 5, 6, 0xF7}, 8);
    ASSERT_EQ(fits.size(), 1u);
    EXPECT_FALSE(fits[0].damaged);
}

TEST(MidiParser, StrayDataAndEndBytesAreDropped) {
    EXPECT_TRUE(parse({0x01, 0x02, 0xF7, 0x7F}).empty());
    // System common ends running status.
    const auto got = parse({0x90, 0x3C, 0x64, 0xF3, 0x05, 0x3C, 0x64});
    const std::vector<Collect::Message> expected = {shortOf(0x643C90), shortOf(0x05F3)};
    EXPECT_EQ(got, expected);
}

TEST(MidiParser, AnySplitGivesTheSameMessages) {
    const std::vector<uint8_t> stream = {0xF0, 0x7E, 0x00, 0x02, 0x05, 0x11, 0xF8, 0x22, 0xF7, 0x90, 0x3C,
                                         0x64, 0x3D, 0x00, 0xF0, 0x43, 0xFE, 0x10, 0xF7, 0xB0, 0x07, 0x7F};
    const auto whole = parse(stream);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        MidiByteParser parser(64);
        Collect sink;
        parser.feed(stream.data(), cut, 0, sink);
        parser.feed(stream.data() + cut, stream.size() - cut, 0, sink);
        EXPECT_EQ(sink.got, whole) << "cut at " << cut;
    }
}

TEST(MidiParser, FuzzedStreamsKeepTheRules) {
    std::mt19937 random(5);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes(size_t(random() % 200));
        for (auto& b : bytes) {
            b = uint8_t(random());
        }
        MidiByteParser parser(32);
        Collect sink;
        parser.feed(bytes.data(), bytes.size(), 0, sink);
        for (const auto& m : sink.got) {
            if (m.sysex.empty()) {
                const uint8_t status = uint8_t(m.packed);
                ASSERT_GE(status, 0x80);
                ASSERT_NE(status, 0xF8);
                ASSERT_NE(status, 0xFE);
                ASSERT_NE(status, 0xF0);
                ASSERT_NE(status, 0xF7);
            } else {
                ASSERT_LE(m.sysex.size(), 32u);
                ASSERT_EQ(m.sysex[0], 0xF0);
                for (size_t i = 1; i < m.sysex.size(); ++i) {
                    ASSERT_TRUE(m.sysex[i] < 0x80 || (m.sysex[i] == 0xF7 && i + 1 == m.sysex.size()));
                }
                if (!m.damaged) {
                    ASSERT_EQ(m.sysex.back(), 0xF7);
                }
            }
        }
    }
}
