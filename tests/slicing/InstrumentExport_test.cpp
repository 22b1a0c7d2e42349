// The instrument exports: the slices' times and keys, the SFZ text, the MIDI file's bytes, the drum
// kit's XML, the target checks and atomic writes, and the whole command through the session.
#include "slicing/export/HydrogenKitWriter.h"
#include "slicing/export/InstrumentExport.h"
#include "slicing/export/MidiFileWriter.h"
#include "slicing/export/SfzWriter.h"
#include "slicing/export/SlicePlan.h"
#include "slicing/export/TargetFiles.h"

#include "support/FoldEngine.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <sys/stat.h>

namespace cleavix::slicing::instrument {
namespace {

using cleavix::test::TempDir;

sample::SampleFormat stereo(uint32_t frames) {
    sample::SampleFormat f;
    f.channels = 2;
    f.sampleRate = 44100;
    f.bitsPerSample = 16;
    f.bytesPerSecond = 44100 * 4;
    f.dataLength = frames * 4;
    return f;
}

// Four files at frames 0, 100, 250 and 400 of a 1000-frame stereo loop starting at frame 10.
std::vector<ExportFile> fourFiles(const std::string& folder) {
    std::vector<ExportFile> files;
    const uint32_t starts[] = {0, 100, 250, 400};
    int n = 0;
    for (uint32_t s : starts) {
        ExportFile f;
        f.name = folder + "/loop0" + std::to_string(++n) + ".wav";
        f.start = (10 + s) * 4;
        files.push_back(f);
    }
    return files;
}

TempoState oneBar() {
    TempoState t;
    t.bars = 1;
    t.tempo = 120;
    t.text = "120.000 BPM";
    return t;
}

// --- a small strict reader of the MIDI files written here ---
struct MidiEvent {
    uint64_t tick;
    std::vector<uint8_t> bytes; // status and data, or FF type data for meta events
};
struct ReadMidi {
    int format = -1;
    int tracks = 0;
    int division = 0;
    std::vector<MidiEvent> events;
};
uint64_t varLen(const std::vector<uint8_t>& b, size_t& at) {
    uint64_t v = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= b.size()) {
            throw std::runtime_error("truncated length");
        }
        const uint8_t c = b[at++];
        v = (v << 7) | (c & 0x7F);
        if ((c & 0x80) == 0) {
            return v;
        }
    }
    throw std::runtime_error("length over four bytes");
}
ReadMidi readMidi(const std::vector<uint8_t>& b) {
    ReadMidi m;
    auto be = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            v = (v << 8) | b.at(at + size_t(i));
        }
        return v;
    };
    if (b.size() < 22 || std::string(b.begin(), b.begin() + 4) != "MThd" || be(4, 4) != 6) {
        throw std::runtime_error("no header");
    }
    m.format = int(be(8, 2));
    m.tracks = int(be(10, 2));
    m.division = int(be(12, 2));
    if (std::string(b.begin() + 14, b.begin() + 18) != "MTrk" || be(18, 4) != b.size() - 22) {
        throw std::runtime_error("track length disagrees with the file");
    }
    size_t at = 22;
    uint64_t tick = 0;
    bool ended = false;
    while (at < b.size()) {
        if (ended) {
            throw std::runtime_error("events after the end of track");
        }
        tick += varLen(b, at);
        const uint8_t status = b.at(at++);
        MidiEvent e{tick, {status}};
        if (status == 0xFF) {
            e.bytes.push_back(b.at(at++));
            const uint64_t n = varLen(b, at);
            e.bytes.insert(e.bytes.end(), b.begin() + long(at), b.begin() + long(at + n));
            at += n;
            ended = e.bytes[1] == 0x2F;
        } else if ((status & 0xF0) == 0xC0) {
            e.bytes.push_back(b.at(at++));
        } else if (status >= 0x80 && status < 0xF0) {
            e.bytes.push_back(b.at(at++));
            e.bytes.push_back(b.at(at++));
        } else {
            throw std::runtime_error("running status or system event");
        }
        m.events.push_back(e);
    }
    if (!ended || at != b.size()) {
        throw std::runtime_error("no end of track");
    }
    return m;
}
std::vector<MidiEvent> ofStatus(const ReadMidi& m, uint8_t high) {
    std::vector<MidiEvent> out;
    for (const auto& e : m.events) {
        if ((e.bytes[0] & 0xF0) == high && e.bytes[0] != 0xFF) {
            out.push_back(e);
        }
    }
    return out;
}

TEST(SlicePlan, TimesFromTheLoopStartLengthsToTheNextAndKeysFromTheKeyMap) {
    const auto plan = planSlices(fourFiles("k"), 10 * 4, 1010 * 4, stereo(2000), {1, 2, 2, false});
    ASSERT_TRUE(plan.error.empty()) << plan.error;
    ASSERT_EQ(plan.slices.size(), 4u);
    EXPECT_EQ(plan.loopFrames, 1000u);
    const uint64_t offsets[] = {0, 100, 250, 400};
    const uint64_t lengths[] = {100, 150, 150, 600};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(plan.slices[i].offsetFrames, offsets[i]);
        EXPECT_EQ(plan.slices[i].frames, lengths[i]);
        // The same keys as the batch transfer's assignment: roots 48, 51, 54, 57, one key either side.
        EXPECT_EQ(plan.slices[i].keys, (sampler::KeyRange{int(48 + 3 * i), int(47 + 3 * i), int(49 + 3 * i)}));
    }
    EXPECT_EQ(keyName(48), "C2");
    EXPECT_EQ(keyName(61), "C#3");
    EXPECT_EQ(keyName(0), "C-2");
}

TEST(SlicePlan, MoreSlicesThanKeysIsNamedAndEmptyLoopsHaveNoSlices) {
    const auto high = planSlices(fourFiles("k"), 40, 4040, stereo(2000), {1, 8, 12, false});
    EXPECT_NE(high.error.find("4 slices need more keys than the keyboard has from C8"), std::string::npos)
        << high.error;
    const auto empty = planSlices(fourFiles("k"), 400, 400, stereo(2000), {});
    EXPECT_TRUE(empty.slices.empty());
    EXPECT_FALSE(empty.error.empty());
}

// A strict SFZ reader for what the writer may produce: comments, <group> and <region> headers,
// opcode=value pairs with sample= last and running to the end of the line.
std::vector<std::map<std::string, std::string>> parseSfz(const std::string& text, std::string& groupLoopMode) {
    std::vector<std::map<std::string, std::string>> regions;
    std::istringstream in(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (line.empty() || line.rfind("//", 0) == 0) {
            continue;
        }
        if (line == "<group>") {
            inGroup = true;
            continue;
        }
        if (inGroup && line.rfind("loop_mode=", 0) == 0) {
            groupLoopMode = line.substr(10);
            continue;
        }
        if (line.rfind("<region> ", 0) != 0) {
            throw std::runtime_error("unexpected line: " + line);
        }
        std::map<std::string, std::string> region;
        std::string rest = line.substr(9);
        while (!rest.empty()) {
            const size_t eq = rest.find('=');
            if (eq == std::string::npos) {
                throw std::runtime_error("opcode without value: " + rest);
            }
            const std::string key = rest.substr(0, eq);
            if (key == "sample") {
                region[key] = rest.substr(eq + 1);
                break;
            }
            const size_t space = rest.find(' ', eq);
            region[key] = rest.substr(eq + 1, space == std::string::npos ? std::string::npos : space - eq - 1);
            rest = space == std::string::npos ? "" : rest.substr(space + 1);
        }
        regions.push_back(region);
    }
    return regions;
}

TEST(SfzWriter, OneOneShotRegionPerSliceWithRelativeSamplesAndTheKeyMapKeys) {
    TempDir dir;
    ::mkdir(dir.file("slices").c_str(), 0777);
    ::mkdir(dir.file("inst").c_str(), 0777);
    const auto plan = planSlices(fourFiles(dir.file("slices")), 40, 4040, stereo(2000), {3, 1, 0, false});
    const SfzText beside = sfzText(plan, "Kit\nOne", dir.file("slices/loop.sfz"));
    ASSERT_TRUE(beside.error.empty()) << beside.error;
    EXPECT_EQ(beside.text.rfind("// Kit One\n", 0), 0u); // the name stays one comment line
    std::string groupMode;
    const auto regions = parseSfz(beside.text, groupMode);
    EXPECT_EQ(groupMode, "one_shot");
    ASSERT_EQ(regions.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const std::string key = std::to_string(38 + i); // D1 = 38
        EXPECT_EQ(regions[i].at("lokey"), key);
        EXPECT_EQ(regions[i].at("hikey"), key);
        EXPECT_EQ(regions[i].at("pitch_keycenter"), key);
        EXPECT_EQ(regions[i].at("loop_mode"), "one_shot");
        EXPECT_EQ(regions[i].at("sample"), "loop0" + std::to_string(i + 1) + ".wav");
    }
    const SfzText elsewhere = sfzText(plan, "Kit", dir.file("inst/loop.sfz"));
    EXPECT_EQ(parseSfz(elsewhere.text, groupMode).at(2).at("sample"), "../slices/loop03.wav");
}

TEST(SfzWriter, RefusesSampleNamesAnSfzReaderWouldMisread) {
    TempDir dir;
    for (const std::string bad : {"a=b", "a<b", " lead", "back\\slash"}) {
        auto files = fourFiles(dir.path());
        files[1].name = dir.file(bad + ".wav");
        const auto plan = planSlices(files, 40, 4040, stereo(2000), {});
        const SfzText sfz = sfzText(plan, "x", dir.file("x.sfz"));
        EXPECT_TRUE(sfz.text.empty()) << bad;
        EXPECT_NE(sfz.error.find("cannot name its samples"), std::string::npos) << bad;
    }
    const auto tooMany = planSlices(fourFiles(dir.path()), 40, 4040, stereo(2000), {1, 8, 12, false});
    EXPECT_FALSE(sfzText(tooMany, "x", dir.file("x.sfz")).error.empty());
}

TEST(MidiFileWriter, NotesAtEachSliceHeldToTheNextWithTheLoopTempo) {
    const auto plan = planSlices(fourFiles("k"), 40, 4040, stereo(2000), {});
    Options options;
    options.name = "Track";
    const MidiFile midi = midiFile(plan, oneBar(), options);
    ASSERT_TRUE(midi.error.empty()) << midi.error;
    const ReadMidi m = readMidi(midi.bytes);
    EXPECT_EQ(m.format, 0);
    EXPECT_EQ(m.tracks, 1);
    EXPECT_EQ(m.division, 480);
    // The name, a 4/4 signature and the tempo of 1000 frames at 44100 Hz over 4 quarters.
    EXPECT_EQ(m.events[0].bytes, (std::vector<uint8_t>{0xFF, 0x03, 'T', 'r', 'a', 'c', 'k'}));
    EXPECT_EQ(m.events[1].bytes, (std::vector<uint8_t>{0xFF, 0x58, 4, 2, 24, 8}));
    const uint32_t micros = uint32_t(std::llround(1000.0 / 44100 * 1e6 / 4));
    EXPECT_EQ(m.events[2].bytes,
              (std::vector<uint8_t>{0xFF, 0x51, uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)}));
    const auto ons = ofStatus(m, 0x90);
    const auto offs = ofStatus(m, 0x80);
    ASSERT_EQ(ons.size(), 4u);
    ASSERT_EQ(offs.size(), 4u);
    const uint64_t ticks[] = {0, 192, 480, 768, 1920}; // shares of 1920 ticks: 0, .1, .25, .4
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ons[i].tick, ticks[i]);
        EXPECT_EQ(ons[i].bytes[1], 48 + i);
        EXPECT_EQ(offs[i].tick, ticks[i + 1]);
        EXPECT_EQ(offs[i].bytes[1], 48 + i);
    }
    EXPECT_EQ(m.events.back().tick, 1920u);
}

TEST(MidiFileWriter, ReversedBaseNoteOnlyAndTheFilterOption) {
    const auto plan = planSlices(fourFiles("k"), 40, 4040, stereo(2000), {});
    Options reversed;
    reversed.reverseNotes = true;
    const auto ons = ofStatus(readMidi(midiFile(plan, oneBar(), reversed).bytes), 0x90);
    ASSERT_EQ(ons.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ons[i].bytes[1], 51 - i); // from the last key down
    }

    Options base;
    base.baseNoteOnly = true;
    base.keys = {10, 1, 0, false}; // A1 = 45
    const ReadMidi m = readMidi(midiFile(plan, oneBar(), base).bytes);
    const auto programs = ofStatus(m, 0xC0);
    const auto baseOns = ofStatus(m, 0x90);
    ASSERT_EQ(programs.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(programs[i].bytes[1], i);
        EXPECT_EQ(baseOns[i].bytes[1], 45);
        EXPECT_EQ(programs[i].tick, baseOns[i].tick);
    }
    // On one key the note-off of a slice comes before the next note-on at the same tick.
    for (size_t i = 1; i < m.events.size(); ++i) {
        if ((m.events[i].bytes[0] & 0xF0) == 0x80 && m.events[i].tick == m.events[i - 1].tick) {
            EXPECT_NE(m.events[i - 1].bytes[0] & 0xF0, 0x90) << "a note ended as it began, at event " << i;
        }
    }
    EXPECT_EQ(ofStatus(m, 0x80).size(), 4u);

    Options filter;
    filter.soundFontFilter = true;
    const auto controls = ofStatus(readMidi(midiFile(plan, oneBar(), filter).bytes), 0xB0);
    ASSERT_EQ(controls.size(), 4u);
    EXPECT_EQ(controls[0].bytes, (std::vector<uint8_t>{0xB0, 99, 120}));
    EXPECT_EQ(controls[1].bytes, (std::vector<uint8_t>{0xB0, 98, 8}));
    EXPECT_EQ(controls[2].bytes, (std::vector<uint8_t>{0xB0, 6, 64}));
    EXPECT_EQ(controls[3].bytes, (std::vector<uint8_t>{0xB0, 38, 0}));
}

TEST(MidiFileWriter, RefusesNoTempoTooManyProgramsAndTooManyKeys) {
    const auto plan = planSlices(fourFiles("k"), 40, 4040, stereo(2000), {});
    const MidiFile none = midiFile(plan, TempoState{}, {});
    EXPECT_TRUE(none.bytes.empty());
    EXPECT_EQ(none.error, kMsgMidiNoTempo);

    std::vector<ExportFile> many;
    for (int i = 0; i < 129; ++i) {
        ExportFile f;
        f.name = "s" + std::to_string(i) + ".wav";
        f.start = uint32_t(i) * 40;
        many.push_back(f);
    }
    const auto manyPlan = planSlices(many, 0, 129 * 40, stereo(200000), {});
    EXPECT_FALSE(manyPlan.error.empty()); // 129 slices from C2 run off the keyboard
    Options base;
    base.baseNoteOnly = true;
    EXPECT_NE(midiFile(manyPlan, oneBar(), base).error.find("128 programs"), std::string::npos);
    EXPECT_NE(midiFile(manyPlan, oneBar(), {}).error.find("more keys"), std::string::npos);
    many.pop_back();
    const auto fits = planSlices(many, 0, 128 * 40, stereo(200000), {1, -2, 0, false});
    EXPECT_TRUE(midiFile(fits, oneBar(), base).error.empty());
}

TEST(HydrogenKitWriter, OneInstrumentPerSliceEscapedAndUtf8Only) {
    auto files = fourFiles("/x/slices");
    files[2].name = "/x/slices/a&b<c>.wav";
    const auto plan = planSlices(files, 40, 4040, stereo(2000), {});
    const std::string xml = drumkitXml(plan, "R&B \"kit\"\n");
    EXPECT_NE(xml.find("<name>R&amp;B &quot;kit&quot; </name>"), std::string::npos);
    EXPECT_NE(xml.find("<filename>a&amp;b&lt;c&gt;.wav</filename>"), std::string::npos);
    EXPECT_NE(xml.find("<midiOutNote>50</midiOutNote>"), std::string::npos);
    size_t count = 0;
    for (size_t at = xml.find("<instrument>"); at != std::string::npos; at = xml.find("<instrument>", at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(kitFileNames(plan, "/kit")[2], "/kit/a&b<c>.wav");
    EXPECT_TRUE(kitProblem(plan).empty());
    files[1].name = "/x/bad\xff.wav";
    EXPECT_NE(kitProblem(planSlices(files, 40, 4040, stereo(2000), {})).find("UTF-8"), std::string::npos);
    // Well-formed bytes that XML still cannot hold: a surrogate, an overlong slash, U+FFFF.
    for (const char* bad : {"/x/\xed\xa0\x80.wav", "/x/\xc0\xaf.wav", "/x/\xef\xbf\xbf.wav", "/x/cut\xe2\x82"}) {
        files[1].name = bad;
        EXPECT_FALSE(kitProblem(planSlices(files, 40, 4040, stereo(2000), {})).empty()) << bad;
    }
    files[1].name = "/x/\xc3\xa9\xe9\xbc\x93\xf0\x9f\xa5\x81.wav"; // é, a CJK drum, U+1F941
    EXPECT_TRUE(kitProblem(planSlices(files, 40, 4040, stereo(2000), {})).empty());
}

TEST(HydrogenKitWriter, HoldsTheFieldsHydrogensSchemaRequiresInItsOrder) {
    const auto plan = planSlices(fourFiles("/x/slices"), 40, 4040, stereo(2000), {});
    const std::string xml = drumkitXml(plan, "Kit");
    auto before = [&xml](const char* first, const char* second) {
        const size_t a = xml.find(first);
        return a != std::string::npos && xml.find(second, a) != std::string::npos;
    };
    EXPECT_TRUE(before("<license>", "<image></image>"));
    EXPECT_TRUE(before("<image></image>", "<imageLicense>"));
    EXPECT_TRUE(before("<imageLicense>", "<componentList>"));
    EXPECT_TRUE(before("<isMuted>", "<isSoloed>false</isSoloed>"));
    EXPECT_TRUE(before("<isSoloed>", "<pan_L>"));
    EXPECT_TRUE(before("<pan_R>", "<pitchOffset>0</pitchOffset>"));
    EXPECT_TRUE(before("<pitchOffset>", "<randomPitchFactor>"));
}

TEST(HydrogenKitWriter, AKitNameThatIsNotUtf8StaysReadable) {
    const auto plan = planSlices(fourFiles("/x/slices"), 40, 4040, stereo(2000), {});
    // Latin-1 "Caf\xe9" from a command line: the stray byte becomes U+FFFD.
    EXPECT_NE(drumkitXml(plan, "Caf\xe9 & \xc3\xa9").find("<name>Caf\xef\xbf\xbd &amp; \xc3\xa9</name>"),
              std::string::npos);
}

TEST(TargetFiles, RefusesBadNamesFoldersAndSpecialFiles) {
    TempDir dir;
    EXPECT_TRUE(targetProblem(dir.file("a.sfz"), ".sfz").empty());
    EXPECT_TRUE(targetProblem(dir.file("A.SFZ"), ".sfz").empty());
    EXPECT_NE(targetProblem(dir.file("a.txt"), ".sfz").find("must end in .sfz"), std::string::npos);
    EXPECT_NE(targetProblem(dir.file(".sfz"), ".sfz").find("must end in .sfz"), std::string::npos);
    EXPECT_NE(targetProblem(dir.file("a\nb.sfz"), ".sfz").find("control characters"), std::string::npos);
    EXPECT_NE(targetProblem(dir.file("none/a.sfz"), ".sfz").find("does not exist"), std::string::npos);
    EXPECT_NE(targetProblem(dir.path() + "/", ".sfz").find("names no file"), std::string::npos);
    ::mkdir(dir.file("d.sfz").c_str(), 0777);
    EXPECT_NE(targetProblem(dir.file("d.sfz"), ".sfz").find("is a folder"), std::string::npos);
    ASSERT_EQ(::mkfifo(dir.file("p.mid").c_str(), 0666), 0);
    EXPECT_NE(targetProblem(dir.file("p.mid"), ".mid").find("not a regular file"), std::string::npos);
    ASSERT_EQ(::symlink(dir.file("p.mid").c_str(), dir.file("null.mid").c_str()), 0); // a link to the pipe
    EXPECT_NE(targetProblem(dir.file("null.mid"), ".mid").find("not a regular file"), std::string::npos);
    EXPECT_NE(writeFileAtomically(dir.file("p.mid"), "x").find("not a regular file"), std::string::npos);
    EXPECT_NE(targetProblem("/proc/self/x.mid", ".mid").find("kernel folder"), std::string::npos);
    EXPECT_NE(targetProblem("/dev/x.mid", ".mid").find("kernel folder"), std::string::npos);

    EXPECT_TRUE(folderProblem(dir.file("kit")).empty());
    EXPECT_TRUE(folderProblem(dir.file("d.sfz/")).empty());
    EXPECT_NE(folderProblem(dir.file("p.mid")).find("not a folder"), std::string::npos);
    EXPECT_NE(folderProblem(dir.file("no/kit")).find("does not exist"), std::string::npos);
}

TEST(TargetFiles, WritesReplaceWholeAndKeepPermissions) {
    TempDir dir;
    const std::string path = dir.file("a.sfz");
    ASSERT_TRUE(writeFileAtomically(path, "first").empty());
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(writeFileAtomically(path, "second text").empty());
    const auto bytes = cleavix::test::readFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "second text");
    struct stat info {};
    ::stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"a.sfz"}); // no temporary file left
    EXPECT_FALSE(writeFileAtomically(dir.file("none/a.sfz"), "x").empty());
}

// --- the whole command through the session ---
struct LoopFixture : ::testing::Test {
    cleavix::test::SessionFixture fx;
    TempDir out;
    void SetUp() override {
        // Two seconds of stereo: one bar of 4/4 at 120 BPM, cut into 16ths.
        ASSERT_TRUE(fx.load(cleavix::test::writeWave(out.file("in.wav"), cleavix::test::testSignal(88200 * 2))));
        ::mkdir(out.file("s").c_str(), 0777);
    }
    void cut() {
        auto& slicer = fx.session->slicer();
        ASSERT_TRUE(slicer.setBarsAndBeats("1", "0"));
        ASSERT_TRUE(fx.runAndWait([&](std::function<void(bool)> done) {
            slicer.cutLoopTo(GridDivision::Sixteenths, std::move(done));
        }));
    }
    Request request() {
        Request r;
        r.slicesName = out.file("s/loop.wav");
        r.sfzFile = out.file("loop.sfz");
        r.midiFile = out.file("loop.mid");
        r.hydrogenDir = out.file("kit");
        return r;
    }
    bool run(const Request& r, Report& report, std::string* refused = nullptr) {
        bool finished = false;
        if (!fx.session->exportSlices(r,
                                      [&](const Report& got) {
                                          report = got;
                                          finished = true;
                                      },
                                      refused)) {
            return false;
        }
        fx.loop.runUntil([&] { return finished; });
        fx.waitIdle();
        return true;
    }
};

TEST_F(LoopFixture, WritesTheSlicesTheKitAndTheInstrumentFiles) {
    cut();
    Report report;
    ASSERT_TRUE(run(request(), report));
    EXPECT_TRUE(report.ok()) << (report.failed.empty() ? "" : report.failed.front());
    EXPECT_EQ(report.slices.written.size(), 16u);
    EXPECT_EQ(report.written, (std::vector<std::string>{out.file("kit/drumkit.xml"), out.file("loop.sfz"),
                                                        out.file("loop.mid")}));
    for (const auto& slice : report.slices.written) {
        const std::string copy = out.file("kit/" + baseOf(slice));
        EXPECT_EQ(cleavix::test::readFile(copy), cleavix::test::readFile(slice)) << copy;
    }
    const auto sfz = cleavix::test::readFile(out.file("loop.sfz"));
    std::string mode;
    const auto regions = parseSfz(std::string(sfz.begin(), sfz.end()), mode);
    ASSERT_EQ(regions.size(), 16u);
    EXPECT_EQ(regions[15].at("sample"), "s/loop16.wav");
    const ReadMidi m = readMidi(cleavix::test::readFile(out.file("loop.mid")));
    const auto ons = ofStatus(m, 0x90);
    ASSERT_EQ(ons.size(), 16u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(ons[i].tick, 120 * i) << i;
    }
    EXPECT_EQ(m.events[2].bytes, (std::vector<uint8_t>{0xFF, 0x51, 0x07, 0xA1, 0x20})); // 500000 us
}

TEST_F(LoopFixture, ARefusalWritesNothing) {
    Report report;
    std::string refused;
    // No tempo yet: bars and beats are unset.
    EXPECT_FALSE(run(request(), report, &refused));
    EXPECT_EQ(refused, kMsgMidiNoTempo);
    EXPECT_TRUE(out.entries() == (std::vector<std::string>{"in.wav", "s"}));

    cut();
    Request r = request();
    r.hydrogenDir = out.file("in.wav");
    EXPECT_FALSE(run(r, report, &refused));
    EXPECT_NE(refused.find("is not a folder"), std::string::npos) << refused;
    r = request();
    r.options.keys = {1, 8, 12, false};
    EXPECT_FALSE(run(r, report, &refused));
    EXPECT_NE(refused.find("16 slices need more keys"), std::string::npos) << refused;
    r = request();
    r.slicesName = out.file("missing/loop.wav");
    EXPECT_FALSE(run(r, report, &refused));
    EXPECT_NE(refused.find("does not exist"), std::string::npos) << refused;
    fx.session->slicer().channelMode().linked = false;
    EXPECT_FALSE(run(request(), report, &refused));
    EXPECT_NE(refused.find("one set of slices"), std::string::npos) << refused;
    EXPECT_TRUE(out.entries() == (std::vector<std::string>{"in.wav", "s"}));
    struct stat info {};
    EXPECT_NE(::stat(out.file("s/loop01.wav").c_str(), &info), 0);
}

TEST_F(LoopFixture, AKitThatFailsPartWaySaysWhatIsMissingAndTheRestIsWritten) {
    cut();
    ::mkdir(out.file("kit").c_str(), 0777);
    ::mkdir(out.file("kit/loop05.wav").c_str(), 0777); // a folder where a kit copy must go
    Report report;
    ASSERT_TRUE(run(request(), report));
    EXPECT_FALSE(report.ok());
    EXPECT_TRUE(report.slices.ok);
    ASSERT_EQ(report.failed.size(), 2u);
    EXPECT_EQ(report.failed[0].rfind(out.file("kit/loop05.wav") + ": ", 0), 0u) << report.failed[0];
    EXPECT_EQ(report.failed[1], out.file("kit/drumkit.xml") + ": not written, the kit's slice files are missing");
    EXPECT_EQ(report.written, (std::vector<std::string>{out.file("loop.sfz"), out.file("loop.mid")}));
    EXPECT_FALSE(cleavix::test::fileExists(out.file("kit/drumkit.xml")));
}

} // namespace
} // namespace cleavix::slicing::instrument
