// Edits on a full working folder: a command that runs out of space fails aloud and leaves the
// sample, its format, its points, the undo record and the modified mark exactly as they were.
// The stream's space limit stands in for the disk (it fails growth and new files, never writes
// over bytes a file already has, as a real disk does).
#include "EditPicture.h"
#include "EditTestKit.h"

#include "editing/ClipboardImage.h"
#include "sample/FileAndMemoryStream.h"
#include "support/FoldEngine.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace cleavix::test {
namespace {

bool errorShown(EditBench& b) {
    for (const auto& m : b.fx.prompter.asked) {
        if (m.find("processing error") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Runs the command with `space` bytes free (-1: no limit): it fails and leaves everything as it was.
void expectFailsAndChangesNothing(EditBench& b, int64_t space, const std::function<bool(editing::Done)>& command) {
    const Picture before = Picture::of(b);
    {
        FreeSpace limit(space);
        EXPECT_FALSE(b.run(command));
    }
    EXPECT_EQ(Picture::of(b).differs(before), "");
}

TEST(FullDisk, PasteThatFindsNoSpaceChangesNothingAndFails) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(3000), 1));
    // An earlier edit leaves a record that the failed paste must not lose.
    b.editor().setupSelections(100, 300);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().invert(std::move(d)); }));
    b.editor().setClipboardImage(clipImage(1, ramp(20000, -7000)));
    b.editor().setupSelections(2000, 2000);
    // Less than the 40000 bytes the paste adds.
    expectFailsAndChangesNothing(b, 10000, [&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); });
    EXPECT_TRUE(errorShown(b));
    // Undo still takes back the earlier edit.
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), ramp(3000));
}

TEST(FullDisk, PasteOverASelectionWithRoomForTheBackupOnly) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(3000), 1));
    b.editor().setClipboardImage(clipImage(1, ramp(20000, -7000)));
    b.editor().setupSelections(1000, 3000);
    // The 2000-byte backup fits, the growth does not.
    expectFailsAndChangesNothing(b, 2500, [&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); });
}

TEST(FullDisk, ConvertToStereoWithoutSpaceStaysMono) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(4000), 1));
    // The backup (8000) fits, doubling the store does not.
    expectFailsAndChangesNothing(b, 9000,
                                 [&](editing::Done d) { return b.processor().convertChannels(0, std::move(d)); });
    EXPECT_EQ(b.s().format().channels, 1);
}

TEST(FullDisk, BackupThatFindsNoSpaceKeepsThePreviousUndo) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(3000), 1));
    b.editor().setupSelections(0, 1000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().reverse(std::move(d)); }));
    b.editor().setupSelections(0, 0);
    expectFailsAndChangesNothing(b, 100, [&](editing::Done d) { return b.processor().reverse(std::move(d)); });
}

// A normalise that finds nothing but silence changes nothing, so the last edit stays undoable.
TEST(FullDisk, NormaliseOfSilenceKeepsThePreviousUndo) {
    EditBench b;
    std::vector<int16_t> audio = ramp(3000);
    std::fill(audio.begin() + 2000, audio.end(), int16_t(0));
    ASSERT_TRUE(b.loadSamples(audio, 1));
    b.editor().setupSelections(0, 1000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().reverse(std::move(d)); }));
    b.editor().setupSelections(4000, 6000);
    expectFailsAndChangesNothing(b, -1, [&](editing::Done d) { return b.processor().normalise(std::move(d)); });
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), audio);
}

// After a good edit, an Undo that runs out of space leaves the edit, Undo and the mark.
TEST(FullDisk, UndoThatCannotFinishKeepsTheEditAndTheUndo) {
    struct Case {
        const char* name;
        std::function<bool(EditBench&, editing::Done)> edit;
    };
    const std::vector<Case> cases = {
        {"reverse", [](EditBench& b, editing::Done d) { return b.processor().reverse(std::move(d)); }},
        {"normalise", [](EditBench& b, editing::Done d) { return b.processor().normalise(std::move(d)); }},
        {"invert", [](EditBench& b, editing::Done d) { return b.processor().invert(std::move(d)); }},
        {"silence", [](EditBench& b, editing::Done d) { return b.processor().silence(std::move(d)); }},
        {"quantise", [](EditBench& b, editing::Done d) { return b.processor().quantise(std::move(d)); }},
        {"strip silence", [](EditBench& b, editing::Done d) { return b.processor().stripSilence(std::move(d)); }},
        {"paste", [](EditBench& b, editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); }},
        {"paste into segment",
         [](EditBench& b, editing::Done d) { return b.editor().pasteIntoSegment(0, 2, std::move(d)); }},
        {"cut", [](EditBench& b, editing::Done d) { return b.editor().cut(std::move(d)); }},
        {"crop", [](EditBench& b, editing::Done d) { return b.editor().crop(std::move(d)); }},
        {"convert", [](EditBench& b, editing::Done d) { return b.processor().convertChannels(0, std::move(d)); }},
        {"paste to new", [](EditBench& b, editing::Done d) { return b.editor().pasteToNew(std::move(d)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EditBench b;
        std::vector<int16_t> audio = ramp(6000, -3000);
        for (size_t i = 2000; i < 3000; ++i) {
            audio[i] = 0; // a silence for strip silence to remove
        }
        ASSERT_TRUE(b.loadSamples(audio, 1));
        b.editor().setClipboardImage(clipImage(1, ramp(5000, 100)));
        b.editor().setupSelections(1000, 9000);
        b.slicer().setLoop(1000, 9000);
        ASSERT_TRUE(c.edit(b, {}) ? (b.fx.waitIdle(), true) : false);
        ASSERT_TRUE(b.editor().undoAvailable());
        ASSERT_NE(b.samples(), audio);
        expectFailsAndChangesNothing(b, 0, [&](editing::Done d) { return b.editor().undo(std::move(d)); });
        EXPECT_EQ(b.editor().undoCaption(), editing::kCaptionUndo);
        EXPECT_TRUE(b.s().modified());
        // With space again the same Undo works.
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
        EXPECT_EQ(b.samples(), audio);
        EXPECT_EQ(b.editor().undoCaption(), editing::kCaptionRedo);
    }
}

// Random edits, each on a disk with a random amount of space: every command either completes or
// leaves everything as it was, and the undo record always gives back the last completed edit.
TEST(FullDisk, RandomEditsOnADiskThatFillsUp) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        auto pick = [&](uint32_t n) { return n == 0 ? 0u : uint32_t(rng() % n); };
        EditBench b;
        const uint16_t channels = pick(2) ? 2 : 1;
        std::vector<int16_t> audio(channels * (500 + pick(3000)));
        for (auto& w : audio) {
            w = int16_t(int(pick(2)) == 0 ? 0 : int(pick(40001)) - 20000);
        }
        ASSERT_TRUE(b.loadSamples(audio, channels));
        const auto imageChannels = uint16_t(1 + pick(2)); // drawn first, as the compiler always did
        b.editor().setClipboardImage(clipImage(imageChannels, std::vector<int16_t>(pick(4000) + 2, 1234)));
        std::vector<int16_t> beforeLastEdit;
        bool haveEdit = false;
        int failures = 0;
        for (int step = 0; step < 40; ++step) {
            const uint32_t len = b.s().format().dataLength;
            const uint32_t a = pick(len + 1) & ~3u;
            const uint32_t z = pick(len + 1) & ~3u;
            b.editor().setupSelections(a, pick(3) == 0 ? a : z);
            b.slicer().setLoop(std::min(a, z), std::max(a, z));
            const int op = int(pick(14));
            const Picture before = Picture::of(b);
            auto command = [&](editing::Done d) -> bool {
                switch (op) {
                case 0: return b.editor().cut(std::move(d));
                case 1: return b.editor().copy(std::move(d));
                case 2: return b.editor().pasteKeep(int(pick(3)), std::move(d));
                case 3: return b.editor().crop(std::move(d));
                case 4: return b.processor().silence(std::move(d));
                case 5: return b.processor().reverse(std::move(d));
                case 6: return b.processor().invert(std::move(d));
                case 7: return b.processor().normalise(std::move(d));
                case 8: return b.processor().quantise(std::move(d));
                case 9: return b.processor().convertChannels(int(pick(3)), std::move(d));
                case 10: return b.processor().stripSilence(std::move(d));
                case 11: return b.editor().pasteToNew(std::move(d));
                case 12: {
                    // Never the rate it has: that resample changes nothing, and leaves no undo.
                    const std::vector<uint32_t> rates = {11025, 22050, 32000, 48000, 96000};
                    uint32_t rate = rates[pick(5)];
                    if (rate == b.s().format().sampleRate) {
                        rate = 44100;
                    }
                    return b.processor().resample(std::to_string(rate), std::move(d));
                }
                default: return b.editor().undo(std::move(d));
                }
            };
            bool ok = false;
            {
                // Mostly tight: between nothing and a little more than the sample.
                FreeSpace space(pick(4) == 0 ? -1 : int64_t(pick(len * 2 + 20000)));
                ok = b.run(command);
            }
            if (!ok) {
                ++failures;
                const std::string diff = Picture::of(b).differs(before);
                ASSERT_EQ(diff, "") << "step " << step << " op " << op;
                continue;
            }
            if (op != 1 && op != 13) {
                beforeLastEdit = before.samples;
                haveEdit = b.editor().undoAvailable();
            } else if (op == 13) {
                beforeLastEdit = before.samples;
            }
        }
        EXPECT_GT(failures, 0);
        if (haveEdit && b.editor().undoAvailable()) {
            ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
            EXPECT_EQ(b.samples(), beforeLastEdit);
        }
    }
}

} // namespace
} // namespace cleavix::test
