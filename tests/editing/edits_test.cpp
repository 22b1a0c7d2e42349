// Block routines, the clipboard image, and the clipboard edits with their undo and redo.
#include "EditTestKit.h"
#include "editing/Blocks.h"
#include "editing/ClipboardImage.h"
#include "support/FoldEngine.h"
#include "support/TestSupport.h"

#include <cstring>
#include <functional>
#include <memory>
#include <numeric>

namespace cleavix::test {
namespace {

using editing::ImageInfo;

// Asks the job frame to cancel once its progress first shows `mode` at `position` or later.
struct CancelAt {
    CancelAt(jobs::JobFrame& frame, jobs::ProcessMode mode, int64_t position)
        : hook([&frame, mode, position, this] {
              if (!done && frame.progress().mode() == mode && frame.progress().position() >= position) {
                  done = true;
                  frame.requestCancel();
              }
          }) {}
    bool done = false;
    ProgressHook hook;
};

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = uint8_t(i * 7 + i / 251);
    }
    return v;
}

// Moves 1.3 MB inside the stream by each shift and compares with memmove on the same bytes.
void expectMovesAsMemmove(const std::function<std::unique_ptr<sample::TFileAndMemoryStream>()>& makeStream,
                          std::initializer_list<int64_t> shifts) {
    for (const int64_t shift : shifts) {
        const size_t n = 1300000;
        auto bytes = pattern(n + 1600000);
        const auto s = makeStream();
        s->writeAll(bytes.data(), bytes.size());
        const uint64_t from = 800000;
        const uint64_t to = uint64_t(int64_t(from) + shift);
        editing::Pace pace;
        ASSERT_TRUE(editing::moveBlock(*s, from, to, n, pace, 0, 100));
        std::memmove(bytes.data() + to, bytes.data() + from, n);
        std::vector<uint8_t> got(bytes.size());
        s->readAt(0, got.data(), got.size());
        EXPECT_EQ(got, bytes) << "shift " << shift;
    }
}

TEST(Blocks, MoveBlockActsAsMemmoveAcrossChunksBothWays) {
    // Both directions cross several 512000-byte chunks with an overlap of a few bytes.
    expectMovesAsMemmove([] { return std::make_unique<sample::TFileAndMemoryStream>(); }, {3, -3, 700001, -700001});
}

TEST(Blocks, MoveBlockInAFileActsAsMemmoveWhetherTheKernelMovesOrNot) {
    // Distances under 64 KiB go through memory; longer ones are moved by the kernel in pieces no
    // longer than the distance, in the order that reads every byte before it is overwritten.
    TempDir dir;
    expectMovesAsMemmove(
        [&] {
            return std::make_unique<sample::TFileAndMemoryStream>(sample::TFileAndMemoryStream::fmCreate,
                                                                   dir.file("store"));
        },
        {3, -3, 70000, -70000, 700001, -700001});
}

TEST(Blocks, CopyBlocksBetweenFilesMovesExactlyCountWithSilencePastTheSourceEnd) {
    TempDir dir;
    const auto bytes = pattern(3000000);
    sample::TFileAndMemoryStream source(sample::TFileAndMemoryStream::fmCreate, dir.file("source"));
    source.writeAll(bytes.data(), bytes.size());
    sample::TFileAndMemoryStream target(sample::TFileAndMemoryStream::fmCreate, dir.file("target"));
    source.seek(1000);
    target.seek(5);
    editing::Pace pace;
    EXPECT_EQ(editing::copyBlocks(source, target, 3100000, pace, 0, 100), 3100000u);
    EXPECT_EQ(source.position(), 3000000);
    EXPECT_EQ(target.position(), 3100005);
    std::vector<uint8_t> expected(5, 0);
    expected.insert(expected.end(), bytes.begin() + 1000, bytes.end());
    expected.resize(3100005, 0);
    std::vector<uint8_t> got(size_t(target.size()));
    target.readAt(0, got.data(), got.size());
    EXPECT_EQ(got, expected);
}

TEST(Blocks, ReadBlocksStepTwoTakesOneChannel) {
    // 160000 bytes: three 65536-byte blocks
    const auto frames = stereoFrames(40000, [](int i) { return i; }, [](int i) { return -i; });
    sample::TFileAndMemoryStream s;
    s.writeAll(frames.data(), frames.size() * 2);
    s.seek(2); // the second channel
    std::vector<int16_t> out(40000);
    editing::Pace pace;
    EXPECT_EQ(editing::readBlocks(s, reinterpret_cast<uint8_t*>(out.data()), 160000, 2, pace, 0, 100), 80000u);
    for (int i = 0; i < 40000; ++i) {
        ASSERT_EQ(out[size_t(i)], int16_t(-i));
    }
}

TEST(ClipboardImage, HeaderIsTheFortySixByteWaveHeader) {
    const auto h = editing::imageHeader(2, 44100, 4000);
    ASSERT_EQ(h.size(), 46u);
    EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(std::string(h.begin() + 38, h.begin() + 42), "data");
    // Offset and value of each 32-bit and 16-bit field.
    for (const auto& [at, value] :
         {std::pair<size_t, uint32_t>{4, 4038}, {16, 18}, {24, 44100}, {28, 176400}, {42, 4000}}) {
        EXPECT_EQ(getLe32(h, at), value) << "at " << at;
    }
    for (const auto& [at, value] : {std::pair<size_t, uint16_t>{20, 1}, {22, 2}, {32, 4}, {34, 16}, {36, 0}}) {
        EXPECT_EQ(getLe16(h, at), value) << "at " << at;
    }
}

TEST(ClipboardImage, ReadingIsLenientButRefusesWhatItCannotPaste) {
    WaveSpec spec;
    spec.extraChunk = true;
    auto file = makeWave(spec, le16Bytes({1, 2, 3, 4}));
    ImageInfo info = editing::readImage(file);
    EXPECT_EQ(info.status, ImageInfo::Ok);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.dataSize, 8u);
    EXPECT_EQ(getLe16(file, uint32_t(info.dataOffset)), 1u);

    file[0] = 'X';
    EXPECT_EQ(editing::readImage(file).status, ImageInfo::NotWave);
    auto noData = editing::imageHeader(1, 8000, 2);
    noData[38] = 'x';
    EXPECT_EQ(editing::readImage(noData).status, ImageInfo::NotWave);
    spec.bits = 8;
    spec.extraChunk = false;
    EXPECT_EQ(editing::readImage(makeWave(spec, Bytes(8, 0x80))).status, ImageInfo::Not16Bit);
    // A size beyond the image is held to what is there.
    auto longClaim = editing::imageHeader(1, 8000, 1000);
    longClaim.push_back(1);
    longClaim.push_back(0);
    EXPECT_EQ(editing::readImage(longClaim).dataSize, 2u);
}

TEST(Clipboard, CopyWithOnlyACursorCopiesTheWholeSample) {
    EditBench b;
    const auto data = ramp(500);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.editor().setupSelections(300, 300);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().copy(std::move(d)); }));
    const auto image = b.editor().clipboardImage();
    ASSERT_EQ(image.size(), 46u + 1000u);
    EXPECT_EQ(le16Samples(Bytes(image.begin() + 46, image.end())), data);
}

TEST(Clipboard, CopyOfTheRightChannelGivesAMonoImageOfItsSamples) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(stereoFrames(1500, [](int i) { return i; }, [](int i) { return -i - 1; }), 2));
    b.editor().setProcessChannel(2);
    b.editor().setupSelections(400, 4400);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().copy(std::move(d)); }));
    const auto image = b.editor().clipboardImage();
    const ImageInfo info = editing::readImage(image);
    EXPECT_EQ(info.channels, 1);
    ASSERT_EQ(info.dataSize, 2000u);
    const auto got = le16Samples(Bytes(image.begin() + 46, image.end()));
    for (int f = 0; f < 1000; ++f) {
        ASSERT_EQ(got[size_t(f)], int16_t(-(100 + f) - 1));
    }
}

TEST(Cut, CutUndoRedoUndo) {
    EditBench b;
    const auto data = ramp(1000);
    ASSERT_TRUE(b.loadSamples(data, 1));
    ASSERT_TRUE(b.slicer().addPoint(1500));
    b.editor().setupSelections(200, 600);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    auto cut = data;
    cut.erase(cut.begin() + 100, cut.begin() + 300);
    EXPECT_EQ(b.samples(), cut);
    EXPECT_EQ(b.slicer().candidates().at(1).position, 1100u);
    EXPECT_EQ(b.editor().selectionList().size(), 3u); // a cursor at the cut
    EXPECT_EQ(b.editor().record().undoCode, 19);
    EXPECT_TRUE(b.s().modified());

    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
    EXPECT_EQ(b.editor().record().undoCode, 11);
    EXPECT_EQ(b.editor().undoCaption(), "&Redo");
    EXPECT_EQ(b.slicer().candidates().at(1).position, 1500u);
    EXPECT_FALSE(b.s().modified()) << "the file had no mark before the cut";

    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), cut);
    EXPECT_EQ(b.editor().undoCaption(), "&Undo");
    EXPECT_TRUE(b.s().modified());

    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(Cut, WholeRangeLeavesAnEmptySampleAndACursorAtZero) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(300), 2));
    b.editor().setupSelections(0, 600);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    EXPECT_EQ(b.s().format().dataLength, 0u);
    EXPECT_EQ(b.editor().selectionStart(), 0u);
    EXPECT_TRUE(b.editor().onlyCursor());
}

TEST(Cut, OneChannelOfStereoIsRefusedWithTheWarning) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(400), 2));
    b.editor().setProcessChannel(1);
    b.editor().setupSelections(0, 100);
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }));
    ASSERT_EQ(b.fx.prompter.asked.size(), 1u);
    EXPECT_EQ(b.fx.prompter.asked[0], editing::kMsgCutOneChannel);
    EXPECT_EQ(b.s().format().dataLength, 800u);
}

TEST(Crop, CropAndUndoBringBackHeadAndTail) {
    EditBench b;
    const auto data = ramp(500, -250);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.slicer().setLoop(100, 900);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().crop(std::move(d)); }));
    EXPECT_EQ(b.samples(), std::vector<int16_t>(data.begin() + 50, data.begin() + 450));
    EXPECT_EQ(b.slicer().left(), 0u);
    EXPECT_EQ(b.slicer().right(), 800u);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
    EXPECT_EQ(b.slicer().left(), 100u);
    EXPECT_EQ(b.slicer().right(), 900u);
    EXPECT_EQ(b.editor().record().undoCode, 21);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.s().format().dataLength, 800u);
}

TEST(Crop, FromTheStartSavesNoHead) {
    EditBench b;
    const auto data = ramp(500);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.slicer().setLoop(0, 600);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().crop(std::move(d)); }));
    // The undo file holds only the tail.
    EXPECT_EQ(b.s().undoFile()->size(), 400);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(Paste, LongerImageOverASelectionThenUndoAndRedo) {
    EditBench b;
    const auto data = ramp(3000);
    ASSERT_TRUE(b.loadSamples(data, 1));
    b.editor().setClipboardImage(clipImage(1, ramp(2000, -5000)));
    b.editor().setupSelections(1000, 2000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); }));
    auto pasted = data;
    pasted.erase(pasted.begin() + 500, pasted.begin() + 1000);
    const auto piece = ramp(2000, -5000);
    pasted.insert(pasted.begin() + 500, piece.begin(), piece.end());
    EXPECT_EQ(b.samples(), pasted);
    EXPECT_EQ(b.editor().selectionStart(), 1000u);
    EXPECT_EQ(b.editor().selectionEnd(), 5000u);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.s().format().dataLength, 6000u);
    EXPECT_EQ(b.samples(), data);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), pasted);
}

TEST(Paste, StereoImageMixedIntoMonoAndMonoIntoBothChannels) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(100, 9), 1));
    const auto frames = stereoFrames(500, [](int i) { return i % 2 ? -3 : 3; }, [](int) { return -4; });
    b.editor().setClipboardImage(clipImage(2, frames));
    b.editor().setupSelections(0, 0);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); }));
    const auto got = b.samples();
    ASSERT_EQ(got.size(), 600u); // 1000 bytes inserted
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[1], -3);
    EXPECT_EQ(got[500], 9);

    EditBench s;
    ASSERT_TRUE(s.loadSamples(ramp(200), 2));
    s.editor().setClipboardImage(clipImage(1, ramp(1000, 7)));
    s.editor().setupSelections(0, 0);
    ASSERT_TRUE(s.run([&](editing::Done d) { return s.editor().pasteKeep(2, std::move(d)); }));
    const auto st = s.samples();
    ASSERT_EQ(st.size(), 2200u); // 4000 bytes inserted
    for (size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(st[i * 2], int16_t(7 + i));
        ASSERT_EQ(st[i * 2 + 1], int16_t(7 + i));
    }
}

TEST(Paste, ShorterImageOverTheEndLeavesNothingAfterIt) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(1000), 1));
    b.editor().setClipboardImage(clipImage(1, std::vector<int16_t>(50, -1)));
    b.editor().setupSelections(1500, 2000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); }));
    EXPECT_EQ(b.s().format().dataLength, 1600u);
    EXPECT_EQ(b.samples().back(), -1);
    EXPECT_EQ(b.s().store().stream().size(), 1600);
}

TEST(Paste, MonoIntoOneChannelKeepsTheOtherOverTheWholeRange) {
    // 40000 frames replaced: far beyond one block of the image, the right channel stays.
    EditBench b;
    ASSERT_TRUE(b.loadSamples(stereoFrames(50000, [](int) { return 1; }, [](int i) { return i % 30000; }), 2));
    b.editor().setClipboardImage(clipImage(1, std::vector<int16_t>(40000, -2)));
    b.editor().setupSelections(0, 160000);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().pasteKeep(0, std::move(d)); }));
    const auto got = b.samples();
    for (int f = 0; f < 40000; ++f) {
        ASSERT_EQ(got[size_t(f) * 2], -2);
        ASSERT_EQ(got[size_t(f) * 2 + 1], int16_t(f % 30000)) << "frame " << f;
    }
}

TEST(Paste, EightBitImagesAreRefusedByEveryPaste) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(100), 2));
    WaveSpec spec;
    spec.bits = 8;
    b.editor().setClipboardImage(makeWave(spec, Bytes(400, 0x80)));
    ASSERT_TRUE(b.slicer().addPoint(40));
    b.slicer().rebuild();
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); }));
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.editor().pasteFindNew(2, std::move(d)); }));
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.editor().pasteIntoSegment(1, 2, std::move(d)); }));
    EXPECT_FALSE(b.run([&](editing::Done d) { return b.editor().pasteToNew(std::move(d)); }));
    EXPECT_EQ(b.fx.prompter.asked, std::vector<std::string>(4, editing::kMsgPasteNot16));
    EXPECT_EQ(b.samples(), ramp(100));
}

TEST(Paste, IntoSegmentOverwritesAndSilencesTheRest) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(std::vector<int16_t>(1000, 5), 1));
    ASSERT_TRUE(b.slicer().addPoint(400));
    ASSERT_TRUE(b.slicer().addPoint(1000));
    b.editor().setClipboardImage(clipImage(1, std::vector<int16_t>(50, -7)));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().pasteIntoSegment(1, 2, std::move(d)); }));
    const auto got = b.samples();
    EXPECT_EQ(got[199], 5);
    EXPECT_EQ(got[200], -7);
    EXPECT_EQ(got[249], -7);
    EXPECT_EQ(got[250], 0);
    EXPECT_EQ(got[499], 0);
    EXPECT_EQ(got[500], 5);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), std::vector<int16_t>(1000, 5));
}

TEST(Paste, ToNewTakesTheImageFormatAndUndoReturnsTheOldSample) {
    EditBench b;
    const auto data = ramp(600);
    ASSERT_TRUE(b.loadSamples(data, 2, 44100));
    b.editor().setClipboardImage(clipImage(1, ramp(100, 40), 22050));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().pasteToNew(std::move(d)); }));
    EXPECT_EQ(b.s().format().channels, 1);
    EXPECT_EQ(b.s().format().sampleRate, 22050u);
    EXPECT_EQ(b.samples(), ramp(100, 40));
    EXPECT_EQ(b.s().title(), "Untitled.wav* - Cleavix");
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.s().format().channels, 2);
    EXPECT_EQ(b.s().format().sampleRate, 44100u) << "the rate comes back with the sample";
    EXPECT_EQ(b.samples(), data);
}

TEST(PointUndo, AddMoveAndFlagsUndoAndRedo) {
    EditBench b;
    ASSERT_TRUE(b.loadSamples(ramp(1000), 1));
    ASSERT_TRUE(b.slicer().addPoint(301));
    const auto added = b.slicer().candidates().at(1);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.slicer().candidates().count(), 0);
    EXPECT_EQ(b.editor().undoCaption(), "&Redo");
    EXPECT_EQ(b.editor().record().undoCode, 15);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    ASSERT_EQ(b.slicer().candidates().count(), 1);
    EXPECT_EQ(b.slicer().candidates().at(1), added);

    ASSERT_TRUE(b.slicer().movePoint(1, 900));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.slicer().candidates().at(1).position, 300u);
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.slicer().candidates().at(1).position, 900u);

    ASSERT_TRUE(b.slicer().disablePoint(1));
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.slicer().candidates().at(1).enabled, 1);
    EXPECT_EQ(b.slicer().candidates().at(1).locked, 1);
    EXPECT_EQ(b.editor().record().undoCode, 6);
}

TEST(Undo, CancelDuringTheBackupLeavesTheDataAndOffersNoUndo) {
    EditBench b;
    // 48 MB: the backup takes many blocks, so the cancel, posted from the first progress of the
    // backup, reaches the worker while it still copies (with 12 MB an idle ASan run finished the
    // backup first once).
    const auto data = testSignal(24000000);
    ASSERT_TRUE(b.loadSamples(data, 2));
    CancelAt view(b.s().jobs(), jobs::ProcessMode::CreatingUndo, 1);
    b.s().jobs().progress().setView(&view.hook);
    b.editor().setupSelections(0, 48000000);
    b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); });
    b.s().jobs().progress().setView(nullptr);
    ASSERT_TRUE(view.done);
    EXPECT_TRUE(b.fx.prompter.asked.empty()) << "no question while the backup is made";
    EXPECT_EQ(b.s().format().dataLength, 48000000u);
    EXPECT_FALSE(b.editor().undoAvailable());
    EXPECT_EQ(b.samples(), data);
}

TEST(Undo, CancelAfterTheBackupAsksAndUndoStillRestores) {
    EditBench b;
    const auto data = testSignal(200000);
    ASSERT_TRUE(b.loadSamples(data, 1));
    // A 12 MB image: its copy into place takes many blocks after the backup is complete.
    auto img = editing::imageHeader(1, 44100, 12000000);
    img.resize(46 + 12000000, 0x11);
    b.editor().setClipboardImage(img);
    CancelAt view(b.s().jobs(), jobs::ProcessMode::Pasting, 50);
    b.s().jobs().progress().setView(&view.hook);
    b.fx.prompter.answers = {jobs::Answer::Yes};
    b.editor().setupSelections(1000, 3000);
    b.run([&](editing::Done d) { return b.editor().pasteKeep(2, std::move(d)); });
    b.s().jobs().progress().setView(nullptr);
    ASSERT_TRUE(view.done);
    ASSERT_EQ(b.fx.prompter.asked.size(), 1u);
    EXPECT_NE(b.fx.prompter.asked[0].find("impossible"), std::string::npos);
    // Stopped part way: the room was made, so the length is the pasted one and Undo can restore.
    EXPECT_EQ(b.s().format().dataLength, 400000u - 2000u + 12000000u);
    ASSERT_TRUE(b.editor().undoAvailable());
    ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().undo(std::move(d)); }));
    EXPECT_EQ(b.samples(), data);
}

TEST(WorkFiles, ScratchFileLivesOnlyWhileItsWorkerRunsAndNothingOutlivesTheSession) {
    TempDir keep;
    std::string workDir;
    {
        session::Settings settings;
        settings.enableUndo = false;
        EditBench b(settings);
        workDir = b.fx.work.path();
        ASSERT_TRUE(b.loadSamples(testSignal(3000000), 2));
        int seen = 0;
        ProgressHook view([&] { seen = std::max(seen, b.workFiles("CXRND")); });
        b.s().jobs().progress().setView(&view);
        b.editor().setupSelections(0, 0);
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.processor().reverse(std::move(d)); }));
        b.s().jobs().progress().setView(nullptr);
        EXPECT_EQ(seen, 1) << "the scratch copy exists while the reverse runs";
        EXPECT_EQ(b.workFiles("CXRND"), 0);
        ASSERT_TRUE(b.run([&](editing::Done d) { return b.editor().cut(std::move(d)); }) || true);
        EXPECT_EQ(b.workFiles("CXRND"), 0);
        // A session that ends while a worker runs still leaves nothing behind.
        b.editor().setupSelections(0, 0);
        ASSERT_TRUE(b.processor().reverse());
        b.fx.session.reset();
        EXPECT_TRUE(b.fx.work.entries().empty());
    }
}

} // namespace
} // namespace cleavix::test
