// The peak table after edits and their undos: whether the undo brings back the table set aside by
// the edit or builds it again, it must equal a table built afresh from the store.
#include "EditPicture.h"
#include "EditTestKit.h"
#include "editing/ClipboardImage.h"
#include "sample/PeakTable.h"
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::test {
namespace {

// Samples that differ from block to block, so that a table shifted or stale by one block shows.
std::vector<int16_t> wobble(size_t count, int seed) {
    std::vector<int16_t> v(count);
    uint32_t x = 2463534242u + uint32_t(seed);
    for (size_t i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const int envelope = int((i / 97) % 23) * 1300;
        v[i] = int16_t(int(x % 2001) - 1000 + ((i / 61) % 2 == 0 ? envelope : -envelope));
    }
    return v;
}

// The session's table word for word against one built now from the store, and marked as
// describing it.
void expectFreshTable(EditBench& b, const std::string& step) {
    const auto& peaks = b.s().peaks();
    sample::PeakTable fresh(std::make_unique<sample::TFileAndMemoryStream>(), peaks.blockBytes());
    sample::rebuildPeaks(b.s().store().stream(), b.s().format(), fresh);
    EXPECT_TRUE(peaks.describes(b.s().store().stream(), b.s().format())) << step;
    ASSERT_EQ(peaks.channels(), fresh.channels()) << step;
    ASSERT_EQ(peaks.entries(), fresh.entries()) << step;
    const size_t words = size_t(fresh.entries()) * fresh.channels();
    std::vector<int32_t> want(words + 1, 7), got(words + 1, 7);
    ASSERT_EQ(fresh.readWords(0, want.data(), words), words) << step;
    ASSERT_EQ(peaks.readWords(0, got.data(), words + 1), words) << step << ": no words beyond the last entry";
    EXPECT_EQ(got, want) << step;
}

bool undo(EditBench& b) {
    return b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); });
}

// Runs the command, then its undo and its redo, with a fresh table after each.
void expectFreshThroughUndoAndRedo(EditBench& b, const std::string& name,
                                   const std::function<bool(editing::Done)>& command) {
    ASSERT_TRUE(b.run(command)) << name;
    expectFreshTable(b, name);
    ASSERT_TRUE(undo(b)) << name;
    expectFreshTable(b, name + " undone");
    ASSERT_TRUE(undo(b)) << name;
    expectFreshTable(b, name + " redone");
}

void setImage(EditBench& b, uint16_t channels, const std::vector<int16_t>& samples) {
    b.editor().setClipboardImage(clipImage(channels, samples));
}

} // namespace

TEST(UndoPeaks, CutUndoRedoBringsBackTheTableSetAsideInsteadOfRebuildingIt) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(wobble(2 * 30000, 1), 2));
    expectFreshTable(b, "load");
    const std::string loadedTable = b.s().peaks().fileName();
    // From the start, by a length that is no whole number of peak blocks: every entry after the
    // cut changes.
    b.editor().setupSelections(0, 4 * 1003);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    expectFreshTable(b, "cut");
    const std::string cutTable = b.s().peaks().fileName();
    EXPECT_NE(cutTable, loadedTable) << "the cut builds its table beside the one set aside";
    ASSERT_TRUE(undo(b));
    expectFreshTable(b, "undo");
    EXPECT_EQ(b.s().peaks().fileName(), loadedTable) << "the undo brings back the loaded table";
    ASSERT_TRUE(undo(b));
    expectFreshTable(b, "redo");
    EXPECT_EQ(b.s().peaks().fileName(), cutTable) << "the redo brings back the cut's table";
    ASSERT_TRUE(undo(b));
    expectFreshTable(b, "undo again");
    EXPECT_EQ(b.s().peaks().fileName(), loadedTable);
}

TEST(UndoPeaks, EveryEditAndProcessLeavesAFreshTableThroughUndoAndRedo) {
    for (const uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        SCOPED_TRACE(channels == 1 ? "mono" : "stereo");
        EditBench b;
        const uint32_t frame = channels * 2u;
        ASSERT_TRUE(b.loadSamples(wobble(size_t(channels) * 20000, channels), channels));
        const auto step = [&](const std::string& name, const std::function<bool(editing::Done)>& command) {
            expectFreshThroughUndoAndRedo(b, name, command);
        };
        b.editor().setupSelections(frame * 3001, frame * 4500);
        step("mid cut", [&](editing::Done d) { return b.editor().cut(std::move(d)); });
        setImage(b, channels, wobble(size_t(channels) * 777, 9));
        b.editor().setupSelections(frame * 100, frame * 130);
        step("longer paste", [&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); });
        setImage(b, channels, wobble(size_t(channels) * 5, 4));
        b.editor().setupSelections(frame * 9000, frame * 11000);
        step("shorter paste", [&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); });
        b.slicer().setLoop(frame * 777, frame * 15001);
        step("crop", [&](editing::Done d) { return b.editor().crop(std::move(d)); });
        b.editor().setupSelections(frame * 10, frame * 3000);
        b.processor().settings.normalisePercent = "100";
        step("normalise", [&](editing::Done d) { return b.processor().normalise(std::move(d)); });
        b.editor().setupSelections(frame * 5, frame * 12000);
        step("reverse", [&](editing::Done d) { return b.processor().reverse(std::move(d)); });
        // Undo, a new edit, then its undo: the first record's table must not come back.
        b.editor().setupSelections(0, frame * 50);
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
        ASSERT_TRUE(undo(b));
        b.editor().setupSelections(frame * 2, frame * 3);
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().invert(std::move(d)); }));
        expectFreshTable(b, "invert after an undo");
        ASSERT_TRUE(undo(b));
        expectFreshTable(b, "invert undone");
    }
}

TEST(UndoPeaks, AStoreChangedWithoutARecordIsReadAgainByTheUndo) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(wobble(2 * 20000, 3), 2));
    b.editor().setupSelections(4 * 100, 4 * 333);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    // Bytes the undo moves but does not put back: as a process that made no record of its own
    // would leave them.
    const std::vector<int16_t> loud(400, 32000);
    b.s().store().stream().writeAllAt(4 * 15000, loud.data(), loud.size() * 2);
    ASSERT_TRUE(undo(b));
    expectFreshTable(b, "undo after an unrecorded change");
}

TEST(UndoPeaks, ANewBlockSizeBetweenTheEditAndItsUndoBuildsTheTableAtThatSize) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(wobble(2 * 20000, 5), 2));
    b.editor().setupSelections(0, 4 * 1000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    const uint32_t size = b.s().peaks().blockBytes() * 2;
    ASSERT_TRUE(b.fx.runAndWait([&](auto done) { b.s().setPeakBlockSize(size, done); }));
    ASSERT_TRUE(undo(b));
    EXPECT_EQ(b.s().peaks().blockBytes(), size);
    expectFreshTable(b, "undo at the new size");
    ASSERT_TRUE(undo(b));
    expectFreshTable(b, "redo at the new size");
}

TEST(UndoPeaks, WithUndoOffNothingIsSetAside) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(wobble(2 * 20000, 6), 2));
    b.editor().setUndoEnabled(false);
    const std::string table = b.s().peaks().fileName();
    b.editor().setupSelections(4 * 10, 4 * 5000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    EXPECT_EQ(b.s().peaks().fileName(), table);
    expectFreshTable(b, "cut without undo");
}

TEST(UndoPeaks, ALoadForgetsTheTableSetAside) {
    EditBench b;
    const auto first = wobble(2 * 20000, 7);
    ASSERT_TRUE(b.loadSamples(first, 2));
    b.editor().setupSelections(0, 4 * 1000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    // The same audio again: the set-aside table would fit it, but belongs to no record now.
    ASSERT_TRUE(b.loadSamples(first, 2));
    expectFreshTable(b, "second load");
    EXPECT_FALSE(b.editor().undoAvailable());
    b.editor().setupSelections(4 * 7, 4 * 900);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    ASSERT_TRUE(undo(b));
    expectFreshTable(b, "undo after the second load");
}

} // namespace cleavix::test

namespace cleavix::test {

// A reverse, a normalise, an invert and a quantise of the whole sample build the table from the blocks they write, and
// the normalise takes the sample's extremes and sum from the table's build instead of measuring
// them: its result must be the one the measuring pass gives.
TEST(UndoPeaks, WholeSampleReverseAndNormaliseBuildTheTableOnTheWay) {
    for (const uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        SCOPED_TRACE(channels == 1 ? "mono" : "stereo");
        auto samples = wobble(size_t(70001) * channels, 11 + channels);
        for (auto& v : samples) {
            v = int16_t(v / 3 + 2100); // an offset for the mean to take away, and room to grow
        }
        const auto normalised = [&](bool tableFirst) {
            EditBench b;
            EXPECT_TRUE(b.loadSamples(samples, channels));
            const uint32_t length = b.s().format().dataLength;
            b.editor().setupSelections(0, length);
            expectFreshThroughUndoAndRedo(b, "reverse",
                                          [&](editing::Done d) { return b.processor().reverse(std::move(d)); });
            if (!tableFirst) {
                // A new block size: the table's build knows nothing of the totals from here on
                // until it is rebuilt, so the normalise measures.
                const uint32_t size = b.s().peaks().blockBytes() * 2;
                EXPECT_TRUE(b.fx.runAndWait([&](auto done) { b.s().setPeakBlockSize(size, done); }));
                b.s().peaks().setBlockBytes(size); // and not rebuilt: no totals
            }
            b.processor().settings.normalisePercent = "100";
            b.editor().setupSelections(0, length);
            EXPECT_TRUE(b.run([&](editing::Done d) { return b.processor().normalise(std::move(d)); }));
            if (tableFirst) {
                expectFreshTable(b, "normalise");
            }
            std::vector<uint8_t> store(length);
            EXPECT_EQ(b.s().store().stream().readAt(0, store.data(), length), length);
            EXPECT_TRUE(undo(b));
            if (tableFirst) {
                expectFreshTable(b, "normalise undone");
                // Invert and quantise of the whole sample build it on the way too.
                const auto whole = [&](const std::string& name, const std::function<bool(editing::Done)>& command) {
                    b.editor().setupSelections(0, length);
                    expectFreshThroughUndoAndRedo(b, name, command);
                };
                whole("invert", [&](editing::Done d) { return b.processor().invert(std::move(d)); });
                b.processor().settings.quantiseLevel = 3;
                whole("quantise", [&](editing::Done d) { return b.processor().quantise(std::move(d)); });
            }
            return store;
        };
        const auto fromTotals = normalised(true);
        const auto measured = normalised(false);
        EXPECT_TRUE(fromTotals == measured);
        EXPECT_NE(std::vector<uint8_t>(fromTotals.begin(), fromTotals.begin() + 64),
                  std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(samples.data()),
                                       reinterpret_cast<const uint8_t*>(samples.data()) + 64))
            << "the normalise changed the samples";
    }
}

} // namespace cleavix::test

namespace cleavix::test {

// A whole-sample process that finds room for its backup but not for the new peak table beside
// the one set aside (built on the helper thread for a normalise that re-cuts) still completes:
// the table set aside goes and the table is built from the store. At every amount of space
// around that size the process either completes with a fresh table or changes nothing.
TEST(UndoPeaks, NoRoomForTheTableBuiltOnTheWayStillLeavesAFreshTable) {
    const auto samples = wobble(2 * 400001, 21); // a table longer than one write of its words
    const uint64_t storeBytes = samples.size() * 2;
    const uint64_t tableBytes = (storeBytes + 127) / 128 * 8;
    struct Case {
        const char* name;
        std::function<bool(EditBench&, editing::Done)> run;
    };
    const std::vector<Case> cases{
        {"normalise", [](EditBench& b, editing::Done d) { return b.processor().normalise(std::move(d)); }},
        {"reverse", [](EditBench& b, editing::Done d) { return b.processor().reverse(std::move(d)); }},
        {"invert", [](EditBench& b, editing::Done d) { return b.processor().invert(std::move(d)); }},
    };
    for (const auto& c : cases) {
        int completed = 0;
        for (uint64_t spare = 0; spare <= tableBytes + 4096; spare += tableBytes / 7) {
            SCOPED_TRACE(std::string(c.name) + " with " + std::to_string(spare) + " bytes beyond the backup");
            EditBench b;
            ASSERT_TRUE(b.loadSamples(samples, 2));
            b.processor().settings.normalisePercent = "100";
            b.processor().settings.recutAfterNormalise = true;
            b.editor().setupSelections(0, uint32_t(storeBytes));
            const Picture before = Picture::of(b);
            bool ok = false;
            {
                FreeSpace limit(int64_t(storeBytes + spare));
                ok = b.run([&](editing::Done d) { return c.run(b, std::move(d)); });
            }
            if (ok) {
                ++completed;
                expectFreshTable(b, "completed");
                EXPECT_NE(b.samples(), samples);
            } else {
                EXPECT_EQ(Picture::of(b).differs(before), "");
            }
        }
        EXPECT_GT(completed, 0) << c.name;
    }
}

} // namespace cleavix::test

namespace cleavix::test {

// A cut and a crop build the table behind the tail as it moves down, on a thread of their own,
// from the bytes already in place: on a sample many move chunks long, cut at its start, in its
// middle by a length that is no whole number of blocks, and just before its end, and cropped, the
// table must equal one built afresh, in mono and stereo, through undo and redo, and whatever room
// the disk has for the edit (each run either completes with a fresh table or changes nothing).
TEST(UndoPeaks, ACutOrCropOfALongSampleBuildsItsTableBehindTheMove) {
    for (const uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        SCOPED_TRACE(channels == 1 ? "mono" : "stereo");
        EditBench b;
        const uint32_t frame = channels * 2u;
        const size_t frames = 1100003; // several 512000-byte move chunks in mono already
        ASSERT_TRUE(b.loadSamples(wobble(channels * frames, 30 + channels), channels));
        const auto step = [&](const std::string& name, uint32_t from, uint32_t to, bool crop) {
            b.editor().setupSelections(frame * from, frame * to);
            if (crop) {
                b.slicer().setLoop(frame * from, frame * to);
            }
            expectFreshThroughUndoAndRedo(b, name, [&](editing::Done d) {
                return crop ? b.editor().crop(std::move(d)) : b.editor().cut(std::move(d));
            });
            ASSERT_TRUE(undo(b)) << name << ": back to the whole sample";
        };
        step("cut at the start", 0, 44100, false);
        step("cut in the middle", 333333, 333333 + 4 * 1003 + 1, false);
        step("cut before the end", uint32_t(frames - 5000), uint32_t(frames - 3), false);
        step("crop", 70001, 900017, true);
    }

    const auto samples = wobble(2 * 700001, 41);
    const uint64_t storeBytes = samples.size() * 2;
    const uint64_t tableBytes = (storeBytes + 127) / 128 * 8;
    const uint32_t cutFrom = 4 * 1001;
    const uint32_t cutTo = 4 * 60017;
    int completed = 0;
    int refused = 0;
    for (uint64_t spare = 0; spare <= cutTo - cutFrom + 2 * tableBytes; spare += 16384) {
        SCOPED_TRACE("cut with " + std::to_string(spare) + " bytes of disk space");
        EditBench b;
        ASSERT_TRUE(b.loadSamples(samples, 2));
        b.editor().setupSelections(cutFrom, cutTo);
        const Picture before = Picture::of(b);
        bool ok = false;
        {
            FreeSpace limit{int64_t(spare)};
            ok = b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); });
        }
        if (ok) {
            ++completed;
            expectFreshTable(b, "completed");
            ASSERT_TRUE(undo(b));
            expectFreshTable(b, "undone");
            EXPECT_EQ(b.samples(), samples);
        } else {
            ++refused;
            EXPECT_EQ(Picture::of(b).differs(before), "");
        }
    }
    EXPECT_GT(completed, 1);
    EXPECT_GT(refused, 1);
}

} // namespace cleavix::test
