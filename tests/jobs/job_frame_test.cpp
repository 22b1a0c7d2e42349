// The job frame: one worker at a time, progress and completion on the main thread, cancel by mode.
#include "jobs/JobFrame.h"
#include "jobs/MainLoop.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace cleavix::jobs;
using cleavix::test::ScriptedPrompter;

namespace {

struct Frame {
    MainLoop loop;
    ScriptedPrompter prompter;
    JobFrame frame{loop, prompter};
    void wait() {
        frame.waitIdle([this] { loop.runOne(); });
    }
};

} // namespace

TEST(JobFrame, OneJobAtATimeWithCompletionOnTheMainThread) {
    Frame f;
    std::atomic<bool> release{false};
    std::thread::id completionThread;
    bool completed = false;
    ASSERT_TRUE(f.frame.start(std::make_unique<FunctionJob>([&](JobContext&) {
                                  while (!release) {
                                      std::this_thread::yield();
                                  }
                              }),
                              ProcessMode::Normalising, [&] {
                                  completionThread = std::this_thread::get_id();
                                  completed = true;
                                  EXPECT_FALSE(f.frame.busy());
                              }));
    EXPECT_TRUE(f.frame.busy());
    EXPECT_TRUE(f.frame.progress().visible());
    EXPECT_EQ(f.frame.progress().caption(), "Normalising...");
    EXPECT_FALSE(f.frame.start(std::make_unique<FunctionJob>([](JobContext&) {}), ProcessMode::Saving, {}));
    release = true;
    f.wait();
    EXPECT_TRUE(completed);
    EXPECT_EQ(completionThread, std::this_thread::get_id());
    EXPECT_FALSE(f.frame.progress().visible());
}

TEST(JobFrame, ProgressModeAndSynchronisedCalls) {
    Frame f;
    std::vector<int> seen;
    int onMain = 0;
    f.frame.start(std::make_unique<FunctionJob>([&](JobContext& context) {
                      context.setMode(ProcessMode::Reversing);
                      for (int i = 0; i <= 4; ++i) {
                          context.setProgress(i, 4, 0, 100);
                      }
                      EXPECT_TRUE(context.call([&] { onMain = f.frame.progress().position() >= 0 ? 1 : 2; }));
                  }),
                  ProcessMode::CreatingUndo, [] {});
    EXPECT_EQ(f.frame.progress().caption(), "Creating undo file...");
    while (f.frame.running()) {
        f.loop.runOne();
        seen.push_back(f.frame.progress().position());
        if (f.frame.progress().visible()) {
            EXPECT_TRUE(f.frame.progress().mode() == ProcessMode::CreatingUndo ||
                        f.frame.progress().mode() == ProcessMode::Reversing);
        }
    }
    EXPECT_EQ(onMain, 1);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 100), seen.end());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(JobFrame, FileCounterReachesTheWindowAndStartsOverWithTheNextJob) {
    Frame f;
    std::vector<std::pair<int, int>> seen;
    f.frame.start(std::make_unique<FunctionJob>([](JobContext& context) {
                      for (int i = 1; i <= 3; ++i) {
                          context.setFiles(i, 3);
                      }
                  }),
                  ProcessMode::Saving, [] {});
    EXPECT_EQ(f.frame.progress().fileCount(), 0);
    while (f.frame.running()) {
        f.loop.runOne();
        const auto& p = f.frame.progress();
        if (p.visible() && p.fileCount() > 0 &&
            (seen.empty() || seen.back() != std::pair{p.fileNumber(), p.fileCount()})) {
            seen.emplace_back(p.fileNumber(), p.fileCount());
        }
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    f.frame.start(std::make_unique<FunctionJob>([](JobContext&) {}), ProcessMode::Saving, [] {});
    EXPECT_EQ(f.frame.progress().fileCount(), 0);
    f.wait();
}

TEST(JobFrame, CancelOfAPlainProcessStopsWithoutAsking) {
    Frame f;
    std::atomic<int> blocks{0};
    f.frame.start(std::make_unique<FunctionJob>([&](JobContext& context) {
                      while (!context.stopRequested()) {
                          ++blocks;
                          std::this_thread::sleep_for(std::chrono::milliseconds(1));
                      }
                  }),
                  ProcessMode::Quantising, [] {});
    f.frame.requestCancel();
    f.wait();
    EXPECT_TRUE(f.prompter.asked.empty());
}

TEST(JobFrame, CancelOfAnEditAsksOnlyOnceTheBackupIsComplete) {
    Frame f;
    std::atomic<bool> backupDone{false};
    std::atomic<bool> finishedNormally{false};
    f.frame.start(std::make_unique<FunctionJob>([&](JobContext& context) {
                      // "Creating undo file...": cancel is ignored until the backup is complete.
                      while (!backupDone) {
                          if (context.stopRequested()) {
                              return;
                          }
                          std::this_thread::yield();
                      }
                      context.frame().setUndoReady(true);
                      for (int i = 0; i < 200; ++i) {
                          if (context.stopRequested()) {
                              return;
                          }
                          std::this_thread::sleep_for(std::chrono::milliseconds(1));
                      }
                      finishedNormally = true;
                  }),
                  ProcessMode::Cutting, [] {});
    f.frame.requestCancel(); // before the backup: no question, nothing cancelled
    EXPECT_TRUE(f.prompter.asked.empty());
    EXPECT_FALSE(f.frame.cancelRequested());
    backupDone = true;
    while (!f.frame.undoReady()) {
        std::this_thread::yield();
    }
    f.prompter.answers.push_back(Answer::No); // asked, and the user lets it finish
    f.frame.requestCancel();
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_NE(f.prompter.asked[0].find("impossible"), std::string::npos);
    f.wait();
    EXPECT_TRUE(finishedNormally);
}

TEST(JobFrame, CancelOfACopyAlwaysAsks) {
    Frame f;
    f.frame.start(std::make_unique<FunctionJob>([&](JobContext& context) {
                      while (!context.stopRequested()) {
                          std::this_thread::sleep_for(std::chrono::milliseconds(1));
                      }
                  }),
                  ProcessMode::Copying, [] {});
    f.prompter.answers.push_back(Answer::Yes);
    f.frame.requestCancel();
    ASSERT_EQ(f.prompter.asked.size(), 1u);
    EXPECT_NE(f.prompter.asked[0].find("clipboard"), std::string::npos);
    f.wait();
    EXPECT_FALSE(f.frame.busy());
}

TEST(JobFrame, AWorkerThatThrowsStillCompletes) {
    Frame f;
    bool completed = false;
    f.frame.start(std::make_unique<FunctionJob>([](JobContext&) { throw std::runtime_error("boom"); }),
                  ProcessMode::Converting, [&] { completed = true; });
    f.wait();
    EXPECT_TRUE(completed);
}

TEST(JobFrame, DestroyingTheFrameMidJobStopsTheWorker) {
    MainLoop loop;
    ScriptedPrompter prompter;
    std::atomic<bool> stopped{false};
    {
        JobFrame frame(loop, prompter);
        frame.start(std::make_unique<FunctionJob>([&](JobContext& context) {
                        while (!context.stopRequested()) {
                            std::this_thread::yield();
                        }
                        stopped = true;
                    }),
                    ProcessMode::Normalising, [] { FAIL() << "no completion after shutdown"; });
    }
    EXPECT_TRUE(stopped);
    loop.runPending(); // the posted completion finds the frame gone and does nothing
}

TEST(ProgressModel, CaptionsAndTwoLevelPosition) {
    EXPECT_EQ(processModeCaption(ProcessMode::CreatingPeaks), "Creating peak file...");
    EXPECT_EQ(processModeCaption(ProcessMode::Saving), "Saving...");
    EXPECT_EQ(processModeCaption(ProcessMode::CreatingMixman), "Creating Mixman data...");
    ProgressModel model;
    model.show(ProcessMode::Saving);
    EXPECT_FALSE(model.cancelVisible());
    model.setStages(4);
    model.setStagePosition(3, 1, 2); // (2/4 + 1/4 * 1/2) * 100 = 62.5 -> 62 (ties to even)
    EXPECT_EQ(model.position(), 62);
    model.setStagePosition(4, 10, 10);
    EXPECT_EQ(model.position(), 100);
    EXPECT_EQ(progressIn(1, 3, 10, 40), 20);
    EXPECT_EQ(progressIn(0, 0, 10, 40), 40);
}
