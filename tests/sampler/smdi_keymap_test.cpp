// Key maps: the Yamaha messages byte for byte against values worked out by hand, and whole maps
// of 1, 8 and 40 samples sent by the SMDI driver through a MIDI output to the emulated Yamaha
// sampler's listener, which checks them and records the map.
#include "SmdiRig.h"
#include "sampler/midi/MidiOut.h"
#include "sampler/midi/VirtualMidi.h"
#include "sampler/smdi/YamahaKeyMap.h"
#include "sampler/virtual/VirtualYamahaListener.h"
#include "support/FoldSampler.h"

namespace cleavix::sampler::smdi {
namespace {

using namespace testrig;
using yamaha::Bytes;
using yamaha::Model;
using Listener = virt::VirtualYamahaListener;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST(YamahaMessages, NameAndKeyParameters) {
    EXPECT_EQ(yamaha::nameMessage(0, "Kick"),
              cat({{0xF0, 0x43, 0x10, 0x58, 0x00}, text("Kick            "), {0x10, 0xF7}}));
    EXPECT_EQ(yamaha::keyMessage(1, yamaha::KeyParameter::Root, 60),
              (Bytes{0xF0, 0x43, 0x11, 0x58, 0x01, 0x02, 0x06, 0, 0, 0, 0, 0x03, 0x0C, 0xF7}));
    EXPECT_EQ(yamaha::keyMessage(15, yamaha::KeyParameter::High, 127),
              (Bytes{0xF0, 0x43, 0x1F, 0x58, 0x01, 0x02, 0x0A, 0, 0, 0, 0, 0x07, 0x0F, 0xF7}));
    EXPECT_EQ(yamaha::keyMessage(0, yamaha::KeyParameter::Low, 200).at(11), 0x07); // clamped to 127
    // Names fold to printable ASCII, then are cut or padded.
    EXPECT_EQ(yamaha::foldName("B\xc3\xa5\x01" "d", 6), "B   d ");
    EXPECT_EQ(yamaha::foldName("a very long sample name", 16), "a very long samp");
    EXPECT_EQ(yamaha::deviceNumber(1), 1);
    EXPECT_EQ(yamaha::deviceNumber(16), 0); // stays a device number, not another message type
}

TEST(YamahaMessages, SevenBitPackingTakesTheFinalShortGroupToo) {
    Bytes b = {0x81, 0x02, 0x83, 0x04, 0x05, 0x06, 0x87, 0x88, 0x09};
    yamaha::packSevenBit(b, 0);
    EXPECT_EQ(b, (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x45, 0x08, 0x09, 0x01}));
    Bytes head = {0xAA, 0x80};
    yamaha::packSevenBit(head, 1); // packing starts where it is told
    EXPECT_EQ(head, (Bytes{0xAA, 0x00, 0x01}));
}

TEST(YamahaMessages, ProgramDataLayout) {
    size_t entriesAt = 0;
    const Bytes d = yamaha::programData(Model::A3000, "Bank", {"S1"}, &entriesAt);
    EXPECT_EQ(entriesAt, 186u);
    ASSERT_EQ(d.size(), 186u + 8 * 40); // one sample and seven zero entries
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 10), (Bytes{0x4C, 0x4D, 0x20, 0x20, 0x30, 0x32, 0x37, 0x38, 0x53, 0x42}));
    EXPECT_EQ(Bytes(d.begin() + 10, d.begin() + 26), text("Bank            "));
    EXPECT_EQ(Bytes(d.begin() + 26, d.begin() + 34), (Bytes{0x01, 0x01, 0x06, 0x01, 0x04, 0x02, 0x06, 0x01}));
    // In digits: the last blank of the name (02 00), the number of samples (1) and the volume (7F).
    test::expectBytesAt(d, {{60, 0x02}, {61, 0x00}, {154, 0x00}, {155, 0x01}, {158, 0x07}, {159, 0x0F}});
    EXPECT_TRUE(std::all_of(d.begin() + 62, d.begin() + 154, [](uint8_t b) { return b == 0; }));
    // The entry: "S1" and blanks in digits, 00 09 01 07 03, entry number 72 in digits, 00.
    EXPECT_EQ(Bytes(d.begin() + 186, d.begin() + 190), (Bytes{0x05, 0x03, 0x03, 0x01}));
    EXPECT_EQ(Bytes(d.begin() + 218, d.begin() + 226), (Bytes{0x00, 0x09, 0x01, 0x07, 0x03, 0x07, 0x02, 0x00}));
    EXPECT_TRUE(std::all_of(d.begin() + 226, d.end(), [](uint8_t b) { return b == 0; }));

    test::expectBytesAt(yamaha::programData(Model::A4000, "", {"a"}), {{5, 0x34}, {7, 0x34}});
    EXPECT_EQ(yamaha::programData(Model::A5000, "", {"a"})[7], 0x35);
    // Seven samples get no zero entries, six get two.
    EXPECT_EQ(yamaha::programData(Model::A3000, "", std::vector<std::string>(7, "x")).size(), 186u + 7 * 40);
    EXPECT_EQ(yamaha::programData(Model::A3000, "", std::vector<std::string>(6, "x")).size(), 186u + 8 * 40);
    // Entry numbers grow by 3 from 72 and wrap by 255: the 48th is FF, the 49th 03.
    const Bytes many = yamaha::programData(Model::A3000, "", std::vector<std::string>(49, "x"));
    test::expectBytesAt(many, {{186 + 47 * 40 + 37, 0x0F}, {186 + 47 * 40 + 38, 0x0F}, {186 + 48 * 40 + 37, 0x00},
                               {186 + 48 * 40 + 38, 0x03}});
}

TEST(YamahaMessages, ProgramBulkFramingAndSplitting) {
    const auto one = yamaha::programBulk(Model::A5000, 2, "Bank", {"S1"});
    ASSERT_EQ(one.size(), 1u);
    const Bytes& m = one[0];
    ASSERT_EQ(m.size(), 6u + 506 + 2);
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 6), (Bytes{0xF0, 0x43, 0x02, 0x7A, 0x03, 0x7A})); // 506 = 3 x 128 + 122
    uint8_t sum = 0;
    for (size_t i = 6; i < m.size() - 2; ++i) {
        sum ^= m[i];
    }
    EXPECT_EQ(m[m.size() - 2], sum);
    EXPECT_EQ(m.back(), 0xF7);

    // The A4000 cuts after 4095 bytes: 98 samples make 4106 data bytes, 4089 and 17.
    const auto cut = yamaha::programBulk(Model::A4000, 0, "B", std::vector<std::string>(98, "x"));
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].size(), 4095u + 2);
    test::expectBytesAt(cut[0], {{4, 0x1F}, {5, 0x79}}); // 4089 = 31 x 128 + 121
    EXPECT_EQ(cut[1].size(), 6u + 17 + 2);
    EXPECT_EQ(Bytes(cut[1].begin(), cut[1].begin() + 4), (Bytes{0xF0, 0x43, 0x00, 0x7A}));

    // The A3000 closes a message after the entry that took it past 4096: 100 samples make 98 + 2.
    const auto a3000 = yamaha::programBulk(Model::A3000, 0, "B", std::vector<std::string>(100, "x"));
    ASSERT_EQ(a3000.size(), 2u);
    EXPECT_EQ(a3000[0].size(), 6u + 186 + 98 * 40 + 2);
    test::expectBytesAt(a3000[0], {{4, 0x20}, {5, 0x0A}}); // 4106 = 32 x 128 + 10
    EXPECT_EQ(a3000[1].size(), 6u + 80 + 2);
    EXPECT_EQ(yamaha::programBulk(Model::A3000, 0, "B", std::vector<std::string>(98, "x")).size(), 1u);
    // ... and goes out in pieces of 16 bytes.
    const auto pieces = yamaha::outputBlocks(Model::A3000, {a3000[0]});
    EXPECT_EQ(pieces.size(), 258u); // 4114 bytes
    EXPECT_EQ(pieces.back().size(), 2u);
    EXPECT_EQ(pieces.back().back(), 0xF7);
    EXPECT_EQ(yamaha::outputBlocks(Model::A4000, cut).size(), 2u);
}

TEST(YamahaMessages, ExVoiceBulk) {
    const Bytes m = yamaha::exVoiceBulk("Drums", {{0x0181, 60}, {0x0182, 62}});
    const Bytes expected = cat({{0xF0, 0x43, 0x00, 0x5B, 0x02, 0x10, 0x40, 0x00, 0x00},
                                text("Drums  "),
                                {0x00},
                                text("     "),
                                {0x00, 0x01, 0x02, 0x7F, 0x40, 0x00, 0x00, 0x3C, 0x02, 0x7F, 0x00, 0x00},
                                // packed from the template's fourth-last byte: 00 00 00 00 01 81 3C
                                // gives 00 00 00 00 01 01 3C 20; 01 82 3E gives 01 02 3E 02
                                {0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x3C, 0x20, 0x01, 0x02, 0x3E, 0x02},
                                {0x23, 0xF7}});
    EXPECT_EQ(m, expected);
    EXPECT_EQ(yamaha::exTemplateBytes(), 16u);
}

// The driver's key maps over the MIDI output to the emulated Yamaha sampler.
class SmdiKeyMap : public SmdiRig {
protected:
    void useModel(uint8_t type, Listener::Model model) {
        useFlavour(Flavour::Generic, type);
        listener = std::make_shared<Listener>(model);
        auto backend = std::make_shared<midi::VirtualMidiBackend>();
        backend->addEndpoint(listener);
        output = std::make_unique<midi::TMidiOutput>(loop, midi::MidiBackends{backend});
        driver.setMidiPorts(nullptr, output.get());
    }

    void holdNames(const std::vector<std::string>& names) {
        for (size_t i = 0; i < names.size(); ++i) {
            hold(uint32_t(i), {0, 0}, names[i]);
        }
    }

    static std::vector<std::string> names(size_t n, const std::string& stem) {
        std::vector<std::string> out;
        for (size_t i = 0; i < n; ++i) {
            const std::string number = std::to_string(i + 1);
            out.push_back(stem + std::string(3 - std::min<size_t>(3, number.size()), '0') + number);
        }
        return out;
    }

    std::shared_ptr<Listener> listener;
    std::unique_ptr<midi::TMidiOutput> output;
};

TEST_F(SmdiKeyMap, A3000MapsOneEightAndFortySamples) {
    for (size_t count : {1u, 8u, 40u}) {
        useModel(2, Listener::Model::A3000);
        // The sampler holds the names with a prefix of its own; they are found by "contains".
        std::vector<std::string> held;
        for (const auto& n : names(count, "hit")) {
            held.push_back("V1 " + n);
        }
        holdNames(held);
        driver.setNameList(names(count, "hit"));
        MapSamplesArgs a;
        a.programName = "Kit";
        a.baseNote = 36;
        const int span = count == 40 ? 1 : 2; // forty samples three keys apart would not fit
        a.keySpan = uint8_t(span);
        ASSERT_TRUE(map(a)) << driver.errorText();
        EXPECT_TRUE(listener->errors().empty()) << listener->errors().front();
        const auto keys = listener->keys();
        ASSERT_EQ(keys.size(), count);
        EXPECT_EQ(keys[0].name, yamaha::foldName("V1 hit001", 16));
        EXPECT_EQ(keys[0].root, 36);
        EXPECT_EQ(keys[0].low, 36 - span / 2);
        EXPECT_EQ(keys[0].high, 36 + span / 2);
        EXPECT_EQ(keys.back().root, int(36 + (count - 1) * size_t(span + 1)));
        const auto programs = listener->programs();
        ASSERT_EQ(programs.size(), 1u);
        EXPECT_EQ(programs[0].name, "Kit             ");
        EXPECT_EQ(programs[0].declaredSamples, int(count));
        ASSERT_EQ(programs[0].sampleNames.size(), count);
        EXPECT_EQ(programs[0].sampleNames.back(), yamaha::foldName(held.back(), 16));
        EXPECT_EQ(programs[0].entryNumbers[0], 0x72);
        EXPECT_EQ(programs[0].zeroEntries, count < 7 ? int(8 - count) : 0);
        // The name messages (23 bytes) are the longest blocks: the bulk went in pieces of 16.
        EXPECT_EQ(listener->largestBlock(), 23u);
        EXPECT_TRUE(sawStatus("Mapping samples..."));
    }
}

TEST_F(SmdiKeyMap, A4000AndA5000TakeWholeMessagesSplitAt4095) {
    useModel(6, Listener::Model::A4000);
    holdNames(names(110, "s"));
    driver.setNameList(names(110, "s"));
    MapSamplesArgs a;
    a.programName = "Long";
    a.baseNote = 0;
    a.keySpan = 0;
    ASSERT_TRUE(map(a)) << driver.errorText();
    EXPECT_TRUE(listener->errors().empty()) << listener->errors().front();
    EXPECT_EQ(listener->bulkMessages(), 2u);
    EXPECT_EQ(listener->largestBulk(), 4097u);
    ASSERT_EQ(listener->programs().size(), 1u);
    EXPECT_EQ(listener->programs()[0].sampleNames.size(), 110u);
    EXPECT_EQ(listener->keys()[109].root, 109);

    useModel(7, Listener::Model::A5000);
    holdNames(names(8, "s"));
    driver.setNameList(names(8, "s"));
    a.baseNote = 60;
    a.whiteKeysOnly = true;
    ASSERT_TRUE(map(a));
    const auto keys = listener->keys();
    ASSERT_EQ(keys.size(), 8u);
    EXPECT_EQ(keys[1].root, 62);
    EXPECT_EQ(keys[7].root, 72);
    EXPECT_EQ(driver.lastMapMessages().size(), 8u * 4 + 1);
}

TEST_F(SmdiKeyMap, TheSentNameIsMatchedExactlyBeforeByContaining) {
    useModel(2, Listener::Model::A3000);
    // "kick1" is contained in the later "kick10", but the exact (trimmed) name wins.
    holdNames({"kick1 ", "kick10", "snare"});
    driver.setNameList({"kick1", "snare"});
    MapSamplesArgs a;
    a.baseNote = 60;
    ASSERT_TRUE(map(a));
    const auto keys = listener->keys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].name, yamaha::foldName("kick1", 16));
    EXPECT_EQ(keys[1].name, yamaha::foldName("snare", 16));
}

TEST_F(SmdiKeyMap, ExMapsRootsFromTheFirstSampleNumber) {
    for (size_t count : {1u, 8u, 40u}) {
        useModel(3, Listener::Model::Ex);
        MapSamplesArgs a;
        a.programName = "Ex voice";
        a.baseNote = 40;
        a.keySpan = 1;
        a.sampleCount = uint8_t(count);
        a.baseSampleName = "loop.wav";
        a.firstSampleNumber = 250; // low bytes above 127 are packed
        ASSERT_TRUE(map(a)) << driver.errorText();
        EXPECT_TRUE(listener->errors().empty()) << listener->errors().front();
        const auto voices = listener->voices();
        ASSERT_EQ(voices.size(), 1u);
        EXPECT_EQ(voices[0].name, "Ex voice    ");
        ASSERT_EQ(voices[0].keys.size(), count);
        EXPECT_EQ(voices[0].keys[0], (std::pair<int, int>{250, 40}));
        EXPECT_EQ(voices[0].keys.back(), (std::pair<int, int>{int(250 + count - 1), int(40 + 2 * (count - 1))}));
        EXPECT_TRUE(device->messagesSeen().empty()); // nothing listed first
    }
}

TEST_F(SmdiKeyMap, BatchesThatDoNotFitAreRefusedBeforeAnythingIsSent) {
    useModel(7, Listener::Model::A5000);
    driver.setNameList(names(40, "s"));
    MapSamplesArgs a;
    a.baseNote = 100;
    a.keySpan = 2;
    EXPECT_FALSE(map(a));
    EXPECT_EQ(driver.errorText(), "The samples do not fit on the keyboard from this base note");
    EXPECT_TRUE(listener->keys().empty());
    EXPECT_EQ(listener->bulkMessages(), 0u);
}

TEST_F(SmdiKeyMap, AMidiFailureKeepsItsErrorAndText) {
    useModel(2, Listener::Model::A3000);
    holdNames({"a"});
    driver.setNameList({"a"});
    SamplerProfile profile;
    profile.deviceType = 2;
    profile.scsiDevice = kId;
    profile.midiOutput = 9; // no such output
    driver.setProfile(profile);
    MapSamplesArgs a;
    EXPECT_FALSE(map(a));
    EXPECT_EQ(driver.errorText().rfind(kKeymapError, 0), 0u) << driver.errorText();
    EXPECT_TRUE(listener->keys().empty());

    driver.setMidiPorts(nullptr, nullptr);
    EXPECT_FALSE(map(a));
    EXPECT_EQ(driver.errorText(), kKeymapError);
}

TEST_F(SmdiKeyMap, GenericAndEmuHaveNothingToMap) {
    useModel(1, Listener::Model::A3000);
    MapSamplesArgs a;
    a.sampleCount = 3;
    EXPECT_TRUE(map(a));
    EXPECT_TRUE(driver.lastMapMessages().empty());
    useModel(4, Listener::Model::A3000);
    EXPECT_TRUE(map(a));
    EXPECT_TRUE(listener->keys().empty());
}

} // namespace
} // namespace cleavix::sampler::smdi
