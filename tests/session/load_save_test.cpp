// The session's file commands driven as the window drives them: loads through the job frame,
// saves with the error-and-retry flow, the unsaved-changes prompt, and the working files.
#include "sample/DemoLoop.h"
#include "sample/WavParser.h"
#include "sample/WavWriter.h"
#include "sample/WorkFiles.h"
#include "support/FoldEngine.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>

using namespace cleavix;
using namespace cleavix::test;

namespace {

std::string makeLoop(const TempDir& dir, const std::string& name, size_t frames = 4000) {
    const std::string path = dir.file(name);
    writeFile(path, makeWave({}, le16Bytes(testSignal(frames * 2))));
    return path;
}

std::vector<std::string> workFiles(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& n : dir.entries()) {
        if (sample::isWorkFileName(n)) {
            names.push_back(n);
        }
    }
    return names;
}

// A session and a folder for the sample files it opens and saves.
struct FileSession : ::testing::Test {
    TempDir files;
    SessionFixture f;
    const std::string loop = makeLoop(files, "loop.wav"); // not loaded yet
};
struct SessionLoad : FileSession {};
struct SessionSave : FileSession {};
struct SessionPeaks : FileSession {};
struct SessionAudio : FileSession {};
struct SessionStatus : FileSession {};
struct SessionModifiedMark : FileSession {};

} // namespace

TEST_F(SessionLoad, LoadSetsFormatTitleAndPeaks) {
    ASSERT_TRUE(f.load(loop));
    EXPECT_TRUE(f.session->loaded());
    EXPECT_FALSE(f.session->busy());
    EXPECT_EQ(f.session->format().dataLength, 16000u);
    EXPECT_EQ(f.session->format().channels, 2);
    EXPECT_EQ(f.session->title(), "loop.wav - Cleavix");
    EXPECT_EQ(f.session->formatText(), "16 Bit / 44100 hz stereo");
    EXPECT_EQ(f.session->peaks().entries(), (16000u + 127) / 128);
    f.session->setModified(true);
    EXPECT_EQ(f.session->title(), "loop.wav* - Cleavix");
}

TEST_F(SessionLoad, HostModeTitles) {
    session::Settings settings;
    settings.ostrelHost = true;
    SessionFixture host(settings);
    ASSERT_TRUE(host.load(loop));
    EXPECT_EQ(host.session->title(), "Editing Ostrel File - Cleavix");
    host.session->setModified(true);
    EXPECT_EQ(host.session->title(), "Editing Ostrel File* - Cleavix");
}

TEST_F(SessionLoad, RefusedFilesShowTheirMessagesAndStartNothing) {
    writeFile(files.file("junk.wav"), Bytes(100, 7));
    EXPECT_FALSE(f.load(files.file("junk.wav")));
    EXPECT_FALSE(f.load(files.file("missing.wav")));
    WaveSpec s24;
    s24.bits = 24;
    writeFile(files.file("24.wav"), makeWave(s24, Bytes(60, 1)));
    EXPECT_FALSE(f.load(files.file("24.wav")));
    ASSERT_EQ(f.prompter.asked.size(), 3u);
    EXPECT_EQ(f.prompter.asked[0], sample::kMsgUnableToLoad);
    EXPECT_EQ(f.prompter.asked[1], sample::kMsgUnrecognised);
    EXPECT_EQ(f.prompter.asked[2], sample::kMsgUnrecognised);
    EXPECT_FALSE(f.session->loaded());
    EXPECT_FALSE(f.session->busy());
}

TEST_F(SessionLoad, ANewLoadReplacesTheOldSampleAndRunsTheResetHooks) {
    int resets = 0;
    int loadedHooks = 0;
    f.session->addResetHook([&] { ++resets; });
    f.session->addLoadedHook([&] { ++loadedHooks; });
    ASSERT_TRUE(f.load(makeLoop(files, "a.wav", 1000)));
    ASSERT_TRUE(f.load(writeWave(files.file("b.wav"), testSignal(300), 1)));
    EXPECT_EQ(resets, 2);
    EXPECT_EQ(loadedHooks, 2);
    EXPECT_EQ(f.session->format().channels, 1);
    EXPECT_EQ(f.session->format().dataLength, 600u);
    EXPECT_EQ(f.session->title(), "b.wav - Cleavix");
}

TEST_F(SessionLoad, CancelDuringTheCopyLeavesNoSample) {
    const std::string path = makeLoop(files, "big.wav", 2000000); // 8 MB: many blocks
    bool finished = false;
    bool ok = true;
    ASSERT_TRUE(f.session->open(path, session::OpenOrigin::Menu, [&](bool loaded) {
        finished = true;
        ok = loaded;
    }));
    // Cancel as soon as the bar first moves: the load mode cancels without a question.
    f.loop.runUntil([&] { return finished || f.session->jobs().progress().position() > 0; });
    f.session->jobs().requestCancel();
    f.loop.runUntil([&] { return finished; });
    f.waitIdle();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(f.session->loaded());
    EXPECT_FALSE(f.session->busy());
    EXPECT_EQ(f.session->format().dataLength, 0u);
    EXPECT_TRUE(f.prompter.asked.empty());
}

TEST_F(SessionSave, SaveAsPrefillsTheNameAndAdoptsTheNewFile) {
    ASSERT_TRUE(f.load(loop));
    f.session->setModified(true);
    f.prompter.targets.push_back(jobs::SaveTarget{files.file("copy.aif"), 8});
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->saveAs(done); }));
    ASSERT_EQ(f.prompter.suggested.size(), 1u);
    EXPECT_EQ(f.prompter.suggested[0], "loop");
    EXPECT_EQ(f.session->fileName(), files.file("copy.aif"));
    EXPECT_FALSE(f.session->modified());
    EXPECT_EQ(f.session->title(), "copy.aif - Cleavix");
    EXPECT_EQ(f.session->format().saveBits, 8);
    const sample::SampleFileCheck check = sample::CheckSampleFile(files.file("copy.aif"));
    EXPECT_EQ(check.result, sample::CheckLoadable);
    EXPECT_EQ(check.info.container, sample::Container::Aiff);
    EXPECT_EQ(check.info.format.bitsPerSample, 8);
    EXPECT_EQ(check.info.dataLength, 8000u);
}

TEST_F(SessionSave, AFullDiskIsNotBlamedOnOpenFiles) {
    ASSERT_TRUE(f.load(loop));
    f.session->setModified(true);
    f.prompter.answers.push_back(jobs::Answer::No);
    bool saved = true;
    {
        const FileSizeLimit full(1000); // far below the sample, for this save alone
        saved = f.runAndWait([&](auto done) { f.session->saveTo(files.file("copy.wav"), 16, done); });
    }
    EXPECT_FALSE(saved);
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], sample::kMsgSaveNoSpace);
    EXPECT_TRUE(sample::isNoSpaceReason(f.session->lastSaveError())) << f.session->lastSaveError();
    EXPECT_TRUE(f.session->modified());
    EXPECT_FALSE(fileExists(files.file("copy.wav")));
}

TEST_F(SessionSave, FailedSaveAsksAndNoKeepsTheMark) {
    ASSERT_TRUE(f.load(loop));
    const Bytes original = readFile(loop);
    f.session->setModified(true);
    ::chmod(loop.c_str(), 0444);
    f.prompter.answers.push_back(jobs::Answer::No);
    EXPECT_FALSE(f.runAndWait([&](auto done) { f.session->save(done); }));
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], sample::kMsgSaveError);
    EXPECT_TRUE(f.session->lastSaveFailed());
    EXPECT_TRUE(f.session->modified());
    EXPECT_EQ(f.session->title(), "loop.wav* - Cleavix");
    EXPECT_EQ(f.session->fileName(), loop);
    EXPECT_EQ(readFile(loop), original);
}

TEST_F(SessionSave, FailedSaveRetriesUnderNewNamesUntilOneWorks) {
    ASSERT_TRUE(f.load(loop));
    f.session->setModified(true);
    ::chmod(loop.c_str(), 0444);
    // Yes: a new name, which fails too (no such folder); Yes again: a good one.
    f.prompter.answers = {jobs::Answer::Yes, jobs::Answer::Yes};
    f.prompter.targets.push_back(jobs::SaveTarget{files.file("nowhere/x.wav"), 16});
    f.prompter.targets.push_back(jobs::SaveTarget{files.file("second.wav"), 16});
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->save(done); }));
    EXPECT_EQ(f.prompter.asked.size(), 2u);
    EXPECT_EQ(f.session->fileName(), files.file("second.wav"));
    EXPECT_FALSE(f.session->modified());
    EXPECT_EQ(readFile(files.file("second.wav")).size(), 44u + 16000);
}

TEST_F(SessionSave, PromptToSaveRunsThePendingCommandOnlyWhenItShould) {
    ASSERT_TRUE(f.load(loop));
    int ran = 0;
    f.session->promptToSave([&] { ++ran; }); // unmodified: runs at once, no question
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(f.prompter.asked.empty());

    f.session->setModified(true);
    f.prompter.answers = {jobs::Answer::Cancel};
    f.session->promptToSave([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_EQ(f.prompter.asked[0], "Save changes to " + loop + "?");

    f.prompter.answers = {jobs::Answer::No};
    f.session->promptToSave([&] { ++ran; });
    EXPECT_EQ(ran, 2);
    EXPECT_TRUE(f.session->modified());

    // Yes: saves to the sample's own name, then runs the command.
    f.prompter.answers = {jobs::Answer::Yes};
    f.session->promptToSave([&] { ++ran; });
    f.waitIdle();
    EXPECT_EQ(ran, 3);
    EXPECT_FALSE(f.session->modified());
}

TEST(SessionFiles, WorkingFilesLiveAsLongAsTheSession) {
    TempDir files;
    const std::string path = makeLoop(files, "loop.wav");
    std::string workDir;
    {
        SessionFixture f;
        workDir = f.work.path();
        ASSERT_TRUE(f.load(path));
        EXPECT_EQ(workFiles(f.work).size(), 4u); // undo file, store, peak table, the table an undo brings back
        f.session.reset();
        EXPECT_TRUE(workFiles(f.work).empty());
    }
}

TEST(SessionFiles, AnUnusableTempPathFallsBackToTheSystemFolder) {
    jobs::MainLoop loop;
    ScriptedPrompter prompter;
    session::Settings settings;
    settings.tempPath = "/nonexistent/folder";
    session::Session s(loop, prompter, settings);
    EXPECT_NE(s.workingDirectory(), settings.tempPath);
    EXPECT_NE(s.undoFile(), nullptr);
}

TEST_F(SessionLoad, RecentEntriesRevertAndDrops) {
    WaveSpec s24;
    s24.bits = 24;
    writeFile(files.file("24.wav"), makeWave(s24, Bytes(60, 1)));
    EXPECT_FALSE(f.session->open(files.file("gone.wav"), session::OpenOrigin::Recent));
    EXPECT_FALSE(f.session->open(files.file("24.wav"), session::OpenOrigin::Recent));
    ASSERT_EQ(f.prompter.asked.size(), 2u);
    EXPECT_EQ(f.prompter.asked[0], sample::kMsgNotFound);
    EXPECT_EQ(f.prompter.asked[1], sample::kMsgIncorrectFormat);

    const std::string path = makeLoop(files, "loop.wav", 1000);
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->open(path, session::OpenOrigin::Recent, done); }));
    // Revert answered No keeps the edited sample; Yes reloads the file.
    f.session->setModified(true);
    f.prompter.answers = {jobs::Answer::No};
    EXPECT_FALSE(f.session->open(path, session::OpenOrigin::Revert));
    EXPECT_TRUE(f.session->modified());
    f.prompter.answers = {jobs::Answer::Yes};
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->open(path, session::OpenOrigin::Revert, done); }));
    EXPECT_FALSE(f.session->modified());
    EXPECT_EQ(f.prompter.asked.back(), "Are you sure you wish to revert to the original sample?");

    // A drop on a modified sample asks first; Cancel keeps everything.
    f.session->setModified(true);
    const std::string other = makeLoop(files, "other.wav", 500);
    f.prompter.answers = {jobs::Answer::Cancel};
    EXPECT_FALSE(f.session->open(other, session::OpenOrigin::Drop));
    EXPECT_EQ(f.session->fileName(), path);
    f.prompter.answers = {jobs::Answer::No};
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->open(other, session::OpenOrigin::Drop, done); }));
    EXPECT_EQ(f.session->fileName(), other);
    EXPECT_EQ(f.session->format().dataLength, 2000u);
}

// Records the listener's open events.
struct OpenEvents : session::SessionListener {
    std::vector<std::pair<std::string, session::OpenOrigin>> opened;
    int rebuilds = 0;
    void fileOpened(const std::string& fileName, session::OpenOrigin origin) override {
        opened.emplace_back(fileName, origin);
    }
    void peaksRebuilt() override { ++rebuilds; }
};

TEST_F(SessionLoad, EveryOpenNamesItsOriginAndOnlySuccessfulOnesAreReported) {
    OpenEvents events;
    f.session->setListener(&events);
    const std::string path = makeLoop(files, "loop.wav", 1000);
    EXPECT_FALSE(f.session->open(files.file("missing.wav"), session::OpenOrigin::Recent));
    EXPECT_EQ(f.prompter.asked.back(), sample::kMsgNotFound);
    writeFile(files.file("junk.wav"), Bytes(10, 7));
    EXPECT_FALSE(f.session->open(files.file("junk.wav"), session::OpenOrigin::Menu));
    EXPECT_TRUE(events.opened.empty());
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->open(path, session::OpenOrigin::CommandLine, done); }));
    f.prompter.answers = {jobs::Answer::Yes};
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->open(path, session::OpenOrigin::Revert, done); }));
    ASSERT_EQ(events.opened.size(), 2u);
    EXPECT_EQ(events.opened[0].first, path);
    EXPECT_EQ(events.opened[0].second, session::OpenOrigin::CommandLine);
    EXPECT_EQ(events.opened[1].second, session::OpenOrigin::Revert);
    f.session->setListener(nullptr);
}

TEST_F(SessionLoad, AnOutsideChangeIsAskedAboutOnceAndReloadsOnYes) {
    const std::string path = makeLoop(files, "loop.wav", 1000);
    ASSERT_TRUE(f.load(path));
    EXPECT_FALSE(f.session->checkOutsideChange()); // unchanged: no question
    const size_t asked = f.prompter.asked.size();
    // Another program rewrites the file with a longer loop.
    makeLoop(files, "loop.wav", 3000);
    struct timespec later[2] = {{0, UTIME_OMIT}, {0, 0}};
    later[1].tv_sec = ::time(nullptr) + 10;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    f.prompter.answers = {jobs::Answer::No};
    EXPECT_FALSE(f.session->checkOutsideChange());
    ASSERT_EQ(f.prompter.asked.size(), asked + 1);
    EXPECT_EQ(f.prompter.asked.back(), session::kMsgFileChanged);
    EXPECT_FALSE(f.session->checkOutsideChange()); // the same change is not asked about again
    EXPECT_EQ(f.prompter.asked.size(), asked + 1);
    later[1].tv_sec += 10;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    f.prompter.answers = {jobs::Answer::Yes};
    EXPECT_TRUE(f.session->checkOutsideChange());
    f.waitIdle();
    EXPECT_EQ(f.session->format().dataLength, 12000u);
    // Our own save is not an outside change.
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->saveTo(path, 16, done); }));
    EXPECT_FALSE(f.session->checkOutsideChange());
}

TEST_F(SessionPeaks, ANewBlockSizeRebuildsTheTableFromTheStore) {
    OpenEvents events;
    f.session->setListener(&events);
    ASSERT_TRUE(f.load(makeLoop(files, "loop.wav", 44100)));
    const uint32_t before = f.session->peaks().blockBytes();
    const uint32_t after = before * 2;
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->setPeakBlockSize(after, done); }));
    EXPECT_EQ(f.session->peaks().blockBytes(), after);
    EXPECT_EQ(events.rebuilds, 1);
    // The table matches one built afresh at that size.
    sample::PeakTable fresh(sample::createWorkFile(f.session->workingDirectory(), sample::kStorePrefix), after);
    sample::rebuildPeaks(f.session->store().stream(), f.session->format(), fresh);
    const auto& peaks = f.session->peaks();
    ASSERT_EQ(fresh.entries(), peaks.entries());
    const size_t words = size_t(fresh.entries()) * fresh.channels();
    std::vector<int32_t> want(words), got(words);
    ASSERT_EQ(fresh.readWords(0, want.data(), words), words);
    ASSERT_EQ(peaks.readWords(0, got.data(), words), words);
    EXPECT_EQ(want, got);
    EXPECT_TRUE(peaks.describes(f.session->store().stream(), f.session->format()));
    ::unlink(fresh.fileName().c_str());
    f.session->setListener(nullptr);
}

TEST_F(SessionAudio, ALongOperationStopsPlaybackAndKeepsThePlayerOffTheStore) {
    ASSERT_TRUE(f.load(makeLoop(files, "loop.wav", 44100)));
    auto& player = f.session->player();
    EXPECT_EQ(player.SampleRate, 44100u);
    EXPECT_EQ(player.Channels, 2);
    // alsa-lib's null PCM takes the audio without a sound card.
    player.setDeviceID(f.session->devices().addDevice("null"));
    ASSERT_EQ(player.OpenOutput(), 0);
    player.PlayRegion(0, f.session->format().dataLength, true);
    EXPECT_TRUE(player.state().Playing);
    bool sawBusy = false;
    f.session->jobs().onBusyChanged = [&, forward = f.session->jobs().onBusyChanged](bool busy) {
        forward(busy);
        if (busy) {
            sawBusy = true;
            EXPECT_TRUE(player.StoreBusy);
        }
    };
    ASSERT_TRUE(f.load(writeWave(files.file("mono.wav"), testSignal(1000), 1, 22050)));
    f.loop.runPending();
    EXPECT_TRUE(sawBusy);
    EXPECT_FALSE(player.StoreBusy);
    EXPECT_FALSE(player.state().Playing);
    EXPECT_EQ(player.SampleRate, 22050u);
    EXPECT_EQ(player.Channels, 1);
}

namespace {
struct StatusLog : session::SessionListener {
    std::vector<std::string> formatPanels;
    std::vector<std::string> filePanels;
    void statusChanged(const std::string& formatPanel, const std::string& filePanel) override {
        formatPanels.push_back(formatPanel);
        filePanels.push_back(filePanel);
    }
};
} // namespace

TEST_F(SessionStatus, ProcessesShowTheirTextAndTheFormatComesBack) {
    ASSERT_TRUE(f.load(makeLoop(files, "loop.wav", 2000)));
    StatusLog log;
    f.session->setListener(&log);
    f.session->processor().settings.quantiseLevel = 4;
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->processor().quantise(done); }));
    ASSERT_GE(log.filePanels.size(), 2u);
    EXPECT_EQ(log.filePanels.front(), "Quantising...");
    EXPECT_EQ(log.filePanels.back(), "");
    EXPECT_EQ(log.formatPanels.back(), "16 Bit / 44100 hz stereo");
    f.session->setListener(nullptr);
}

TEST(SessionPasteToNew, ThePastedSampleIsSetUpAsAFreshLoad) {
    TempDir files;
    session::Settings settings;
    settings.scanOnLoad = true;
    settings.setOneBar = true;
    SessionFixture f(settings);
    const std::string demo = files.file("demo.wav");
    std::string error;
    ASSERT_TRUE(sample::writeDemoLoop(demo, error)) << error;
    ASSERT_TRUE(f.load(demo));
    const int found = f.session->slicer().candidates().count();
    ASSERT_GT(found, 8);
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->editor().copy(done); }));
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->editor().pasteToNew(done); }));
    f.waitIdle();
    EXPECT_EQ(f.session->title(), "Untitled.wav* - Cleavix");
    EXPECT_EQ(f.session->slicer().candidates().count(), found); // searched again: the same audio
    EXPECT_EQ(f.session->slicer().right(), f.session->format().dataLength);
    EXPECT_EQ(f.session->slicer().tempo().bars, 1);
}

// The modified mark compares with what was last saved, across an undo and a redo.
TEST_F(SessionModifiedMark, AnUndoThatCrossesASaveMakesTheSampleModified) {
    ASSERT_TRUE(f.load(loop));
    auto& editor = f.session->editor();
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->processor().reverse(done); }));
    EXPECT_TRUE(f.session->modified());
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->save(done); }));
    EXPECT_FALSE(f.session->modified());
    // Undo goes back to the state before the save: it differs from the file.
    EXPECT_TRUE(f.runAndWait([&](auto done) { editor.undo(done); }));
    EXPECT_TRUE(f.session->modified());
    EXPECT_EQ(f.session->title(), "loop.wav* - Cleavix");
    // Redo returns to what was saved.
    EXPECT_TRUE(f.runAndWait([&](auto done) { editor.undo(done); }));
    EXPECT_FALSE(f.session->modified());
    // And without a save in between, an undo of the first edit still gives the unmodified file.
    TempDir files2;
    SessionFixture g;
    ASSERT_TRUE(g.load(makeLoop(files2, "other.wav")));
    EXPECT_TRUE(g.runAndWait([&](auto done) { g.session->processor().reverse(done); }));
    EXPECT_TRUE(g.runAndWait([&](auto done) { g.session->editor().undo(done); }));
    EXPECT_FALSE(g.session->modified());
}

// An untitled sample (Paste To New) has no file behind it: Save asks for a name, in the save
// dialog and in the unsaved-changes question alike, instead of writing "Untitled.wav" into the
// current folder.
TEST_F(SessionModifiedMark, SavingAnUntitledSampleAsksForAName) {
    ASSERT_TRUE(f.load(loop));
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->editor().copy(done); }));
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->editor().pasteToNew(done); }));
    f.waitIdle();
    ASSERT_EQ(f.session->title(), "Untitled.wav* - Cleavix");
    // Cancelled dialog: nothing written anywhere.
    EXPECT_FALSE(f.runAndWait([&](auto done) { f.session->save(done); }));
    ASSERT_EQ(f.prompter.suggested.size(), 1u);
    EXPECT_TRUE(f.session->modified());
    // A name given: the sample is saved there and from then on Save writes there directly.
    const std::string named = files.file("pasted.wav");
    f.prompter.targets.push_back(jobs::SaveTarget{named, 16});
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->save(done); }));
    EXPECT_TRUE(fileExists(named));
    EXPECT_FALSE(f.session->modified());
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->processor().reverse(done); }));
    EXPECT_TRUE(f.runAndWait([&](auto done) { f.session->save(done); }));
    EXPECT_EQ(f.prompter.suggested.size(), 2u); // no third dialog
}
