#include "slicing/SliceSearch.h"

#include "SliceFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace cleavix::slicing {
namespace {

using test::addFloor;
using test::addHit;
using test::makeStore;
using test::point;

// A burst that the detector always takes as an onset: +-20000 alternating (its pre-emphasised
// value stays inside 16 bits).
void addBurst(std::vector<int16_t>& s, uint16_t channels, int channel, int64_t frame, int frames) {
    for (int i = 0; i < frames; ++i) {
        s[size_t((frame + i) * channels + channel)] = int16_t(i % 2 == 0 ? 20000 : -20000);
    }
}

SearchOutcome search(const sample::SampleStore& store, CandidateList& list, bool linked = true, int width = 1000) {
    SearchFlags flags;
    flags.searchRequest = true;
    SearchOptions options;
    options.linked = linked;
    options.viewWidth = width;
    return runSliceSearch(store, list, flags, options);
}

TEST(SliceSearch, WindowsScaleWithTheRateButDetectionBlocksDoNot) {
    EXPECT_EQ(scaledWindow(240, 22050), 120);
    EXPECT_EQ(scaledWindow(20, 22050), 10);
    EXPECT_EQ(scaledWindow(192, 22050), 96);
    EXPECT_EQ(scaledWindow(300, 22050), 150);
    EXPECT_EQ(scaledWindow(240, 44100), 240);
    EXPECT_EQ(scaledWindow(300, 48000), 327); // 326.53 rounds to 327
    EXPECT_GE(scaledWindow(20, 100), 1);      // never an empty window
    // At 22050 Hz a 308-frame sample still has exactly one 205-frame detection block.
    std::vector<int16_t> s(308, 0);
    addBurst(s, 1, 0, 100, 105);
    CandidateList list;
    bool limited = false;
    ASSERT_TRUE(detectOnsets(*makeStore(s, 1, 22050), list, {}, limited));
    EXPECT_EQ(list.count(), 1);
}

TEST(SliceSearch, ThreeHundredSevenFramesHaveNoBlockAndThreeHundredEightHaveOne) {
    for (int frames : {307, 308}) {
        std::vector<int16_t> s(size_t(frames), 0);
        addBurst(s, 1, 0, 100, 105);
        CandidateList list;
        bool limited = false;
        ASSERT_TRUE(detectOnsets(*makeStore(s, 1), list, {}, limited));
        EXPECT_EQ(list.count(), frames == 307 ? 0 : 1) << frames;
        if (list.count() == 1) {
            // (205 * 1 * 2 + 10) * 1 - 50 bytes
            EXPECT_EQ(list.at(1).position, 370u);
            EXPECT_EQ(list.at(1).channel, 1);
            EXPECT_EQ(list.at(1).enabled, 1);
        }
    }
}

TEST(SliceSearch, SilenceYieldsOnlyTheMarkers) {
    const std::vector<int16_t> s(44100 * 2, 0);
    auto store = makeStore(s, 2);
    CandidateList list;
    const SearchOutcome outcome = search(*store, list);
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.at(0).position, 0u);
    EXPECT_EQ(list.endMarker().position, store->dataLength());
    SlicePointList points;
    for (int slider : {0, 32768, 65535}) {
        points.rebuild(list, thresholdForSlider(slider), store->dataLength());
        EXPECT_EQ(points.count(), 0);
        EXPECT_EQ(points.endMarker().position, store->dataLength());
    }
}

TEST(SliceSearch, AHitInTheSecondChannelOnlyKeepsItsChannelUntilTheLinkedMerge) {
    std::vector<int16_t> s(44100 * 2, 0);
    addHit(s, 2, 1, 20000, 20000);
    auto store = makeStore(s, 2);
    CandidateList unlinked;
    search(*store, unlinked, false);
    ASSERT_GE(unlinked.count(), 1);
    for (int k = 1; k <= unlinked.count(); ++k) {
        EXPECT_EQ(unlinked.at(k).channel, 1);
        EXPECT_EQ(unlinked.at(k).position % 4, 2u);
    }
    const uint32_t frame = unlinked.at(1).position / 4;
    EXPECT_LE(frame, 20000u);
    EXPECT_GE(frame, 20000u - 220u);

    CandidateList linked;
    search(*store, linked, true);
    ASSERT_EQ(linked.count(), 1);
    EXPECT_EQ(linked.at(1).channel, 1);
    EXPECT_EQ(linked.at(1).position, unlinked.at(1).position - 2);
}

TEST(SliceSearch, MoreThan8192OnsetsGiveExactly8192CandidatesAndSayItStopped) {
    // A burst every fifth block: the history falls back between them, so each is an onset.
    const int64_t spacing = 5 * kFindSize;
    const int64_t hits = 8300;
    std::vector<int16_t> s(size_t(spacing * (hits + 2)), 0);
    for (int64_t h = 0; h < hits; ++h) {
        addBurst(s, 1, 0, spacing * (h + 1), 100);
    }
    CandidateList list;
    bool limited = false;
    ASSERT_TRUE(detectOnsets(*makeStore(s, 1), list, {}, limited));
    EXPECT_EQ(list.count(), kMaxPoints);
    EXPECT_TRUE(limited);
    CandidateList fewer;
    s.resize(size_t(spacing * 100));
    ASSERT_TRUE(detectOnsets(*makeStore(s, 1), fewer, {}, limited));
    EXPECT_FALSE(limited);
    EXPECT_EQ(fewer.count(), 99); // the 99 bursts that lie in detection blocks
}

TEST(SliceSearch, AClickAfterSilenceGetsTheHighestStrength) {
    // Silence, then a full-scale click: level 65535 and pre-level 0 give 65534, never 65535.
    std::vector<int16_t> s(10000, 0);
    s[3000] = 32767;
    s[3001] = -32768;
    auto store = makeStore(s, 1);
    CandidateList list;
    list.append(point(2 * 2990, 0));
    list.setMarkers(store->dataLength());
    ASSERT_TRUE(segmentLevels(*store, list, {}));
    EXPECT_EQ(list.at(1).strength, 65535);
    ASSERT_TRUE(strengths(*store, list, {}));
    EXPECT_EQ(list.at(1).strength, 65534);
    SlicePointList points;
    points.rebuild(list, thresholdForSlider(0), store->dataLength());
    EXPECT_EQ(points.count(), 0);
    points.rebuild(list, thresholdForSlider(1), store->dataLength());
    EXPECT_EQ(points.count(), 1);
}

TEST(SliceSearch, TwoPointsAtOnePlaceGetLevelZeroTakenAsOne) {
    std::vector<int16_t> s(10000, 0);
    s[5000] = 30000;
    auto store = makeStore(s, 1);
    CandidateList list;
    list.append(point(2 * 4000, 0));
    list.append(point(2 * 4000, 0));
    list.setMarkers(store->dataLength());
    ASSERT_TRUE(segmentLevels(*store, list, {}));
    EXPECT_EQ(list.at(1).strength, 0);
    EXPECT_EQ(list.at(2).strength, 30000);
    ASSERT_TRUE(strengths(*store, list, {}));
    // (1 - 0) / 2 * 65535 = 32767.5, ties to even.
    EXPECT_EQ(list.at(1).strength, 32768);
    EXPECT_LE(list.at(2).strength, 65534);
}

TEST(SliceSearch, LouderAudioBeforeThePointGivesANegativeStrength) {
    std::vector<int16_t> s(10000, 0);
    for (int i = 3000; i < 4000; ++i) {
        s[size_t(i)] = int16_t(i % 2 ? 20000 : -20000);
    }
    s[4500] = 100;
    auto store = makeStore(s, 1);
    CandidateList list;
    list.append(point(2 * 4300, 0));
    list.setMarkers(store->dataLength());
    ASSERT_TRUE(segmentLevels(*store, list, {}));
    ASSERT_TRUE(strengths(*store, list, {}));
    EXPECT_LT(list.at(1).strength, 0);
    SlicePointList points;
    points.rebuild(list, thresholdForSlider(65535), store->dataLength());
    EXPECT_EQ(points.count(), 0); // shown only when locked
    list.at(1).locked = 1;
    points.rebuild(list, thresholdForSlider(65535), store->dataLength());
    EXPECT_EQ(points.count(), 1);
}

TEST(SliceSearch, SnapWalksTowardTheQuieterSideAndStaysWhenNeitherFalls) {
    // Mono, candidate at frame 1000: window 850..1149, c = 150, frames c-1 = 999, c-2 = 998, c = 1000.
    const auto snapOf = [](std::vector<std::pair<int, int16_t>> values) {
        std::vector<int16_t> s(3000, 5000);
        for (auto [f, v] : values) {
            s[size_t(f)] = v;
        }
        auto store = makeStore(s, 1);
        SlicePoint p = point(2000, 0, false);
        snapToQuiet(*store, p);
        return int(p.position / 2);
    };
    // Neither neighbour is quieter than frame 999: the candidate stays.
    EXPECT_EQ(snapOf({{999, 100}}), 1000);
    // Backwards: 998, 997, 996 fall or hold, 995 is louder; the last taken is 996.
    EXPECT_EQ(snapOf({{999, 100}, {998, 50}, {997, -50}, {996, 10}}), 996);
    // Forwards: 1000 and 1001 are quieter.
    EXPECT_EQ(snapOf({{999, 100}, {1000, 60}, {1001, -20}}), 1001);
    // Both fall: toward the smaller; a tie goes backwards.
    EXPECT_EQ(snapOf({{999, 100}, {998, 70}, {1000, 30}}), 1000);
    EXPECT_EQ(snapOf({{999, 100}, {998, 30}, {1000, -30}}), 998);
}

TEST(SliceSearch, DescentFollowsFallingMagnitudesWithGrowingSteps) {
    // Magnitudes fall toward the start; the looks are 0, 1, 2, 3 ... frames behind the last one
    // taken, each a 4-frame maximum.
    std::vector<int16_t> s(4000, 0);
    for (int f = 0; f < 4000; ++f) {
        s[size_t(f)] = int16_t(f < 500 ? 8000 : f < 2000 ? -f : 8000);
    }
    auto store = makeStore(s, 1);
    SlicePoint p = point(2 * 1000, 0, false);
    backwardDescent(*store, p);
    // Accepted looks: 1000, 999, 997, 994, ... 1000 - k(k+1)/2; the first that reaches the loud
    // part before frame 500 is refused: k = 31 gives 504.
    EXPECT_EQ(p.position / 2, 504u);
    // With nothing loud before it, the descent runs down to the sample's first frame.
    std::vector<int16_t> ramp(4000);
    std::iota(ramp.begin(), ramp.end(), int16_t(0));
    auto rampStore = makeStore(ramp, 1);
    SlicePoint r = point(2 * 1000, 0, false);
    backwardDescent(*rampStore, r);
    EXPECT_EQ(r.position, 0u);
    // Forward: louder right away, the point stays.
    SlicePoint q = point(2 * 1000, 0, false);
    forwardDescent(*store, q);
    EXPECT_EQ(q.position, 2000u);
}

TEST(SliceSearch, NoPassMovesAPointPastTheEndOrIntoTheOtherChannel) {
    // Stereo, loud first channel, quiet second; candidates near both ends.
    std::vector<int16_t> s(2 * 2000, 0);
    for (int f = 0; f < 2000; ++f) {
        s[size_t(2 * f)] = int16_t(f % 2 ? 9000 : -9000);
        s[size_t(2 * f + 1)] = int16_t(3000 - f);
    }
    auto store = makeStore(s, 2);
    for (uint32_t frame : {5u, 60u, 1990u, 1999u}) {
        SlicePoint p = point(frame * 4 + 2, 0, false);
        quietWindow(*store, p);
        EXPECT_EQ(p.position % 4, 2u) << frame;
        backwardDescent(*store, p);
        forwardDescent(*store, p);
        quietPair(*store, p);
        snapToQuiet(*store, p);
        EXPECT_EQ(p.position % 4, 2u) << frame;
        EXPECT_LT(p.position, store->dataLength()) << frame;
    }
}


// A header may claim any rate up to 4294967295 Hz; the refinement windows grow with the rate, past
// the length of the sample at absurd ones. Every point must still stay inside the sample, in its
// own channel, whether the passes run in the search or one by one.
TEST(SliceSearch, PointsStayInsideTheSampleAtAnyRate) {
    using Pass = void (*)(const sample::SampleStore&, SlicePoint&);
    const Pass passes[] = {quietWindow, backwardDescent, forwardDescent, quietPair, snapToQuiet};
    for (uint32_t rate : {1u, 4000u, 192000u, 50000000u, 4000000000u, 4294967295u}) {
        for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
            for (int64_t frames : {308, 1000, 20000}) {
                const auto where = [&] {
                    return ::testing::Message() << rate << " Hz, " << channels << " channels, " << frames << " frames";
                };
                std::vector<int16_t> s(size_t(frames * channels), 0);
                addFloor(s, 30);
                for (int c = 0; c < channels; ++c) {
                    addBurst(s, channels, c, 100, 105); // an onset in the first detection block
                    for (int64_t f = frames / 4; f < frames; f += frames / 4) {
                        addHit(s, channels, c, f + 37 * c, 15000);
                    }
                }
                auto store = makeStore(s, channels, rate);
                const uint32_t end = store->dataLength();
                for (bool linked : {false, true}) {
                    CandidateList list;
                    search(*store, list, linked);
                    EXPECT_GE(list.count(), 1) << where();
                    for (int k = 1; k <= list.count(); ++k) {
                        EXPECT_LT(list.at(k).position, end) << where() << ", linked " << linked << ", point " << k;
                    }
                }
                const uint32_t frameBytes = 2u * channels;
                for (uint32_t frame : {0u, 3u, uint32_t(frames / 2), uint32_t(frames - 2), uint32_t(frames - 1)}) {
                    for (int c = 0; c < channels; ++c) {
                        const SlicePoint start = point(frame * frameBytes + 2u * uint32_t(c), 0, false, false,
                                                      uint8_t(channels == 2 && c == 0 ? 2 : 1));
                        SlicePoint chained = start;
                        for (Pass pass : passes) {
                            SlicePoint alone = start;
                            pass(*store, alone);
                            pass(*store, chained);
                            for (const SlicePoint& p : {alone, chained}) {
                                EXPECT_LT(p.position, end) << where() << ", frame " << frame << ", channel " << c;
                                EXPECT_EQ(p.position % frameBytes, 2u * uint32_t(c)) << where() << ", frame " << frame;
                            }
                        }
                    }
                }
            }
        }
    }
}
TEST(SliceSearch, EveryHitGetsOnePointJustBeforeItsAttack) {
    for (uint32_t rate : {44100u, 22050u}) {
        for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
            const int64_t frames = int64_t(rate) * 3;
            std::vector<int16_t> s(size_t(frames * channels));
            addFloor(s, 40);
            std::vector<int64_t> hits;
            for (int i = 0; i < 10; ++i) {
                // Uneven spacing, so hits fall anywhere in a detection block.
                hits.push_back(int64_t(rate) / 10 + i * int64_t(rate) / 4 + i * 37);
            }
            for (int64_t h : hits) {
                for (int c = 0; c < channels; ++c) {
                    addHit(s, channels, c, h, 16000 + 1000 * c, rate);
                }
            }
            auto store = makeStore(s, channels, rate);
            CandidateList list;
            search(*store, list, true);
            SlicePointList points;
            const int64_t tolerance = int64_t(rate) * 5 / 1000;
            if (rate == 44100) {
                // At a sensitivity of 100 % each hit has exactly one point, up to 5 ms before it.
                points.rebuild(list, thresholdForSlider(sliderForPercent(100)), store->dataLength());
                ASSERT_EQ(points.count(), int(hits.size())) << channels << " channels";
                for (size_t i = 0; i < hits.size(); ++i) {
                    const int64_t frame = points.at(int(i) + 1).position / (2 * channels);
                    EXPECT_LE(frame, hits[i]) << "hit " << i;
                    EXPECT_GE(frame, hits[i] - tolerance) << "hit " << i;
                }
            } else {
                // At 22050 Hz the refinement windows shrink while the 205-frame detection block
                // does not, so a hit early in its block keeps its point up to 5 ms after the attack.
                ASSERT_EQ(list.count(), int(hits.size())) << channels << " channels";
                for (size_t i = 0; i < hits.size(); ++i) {
                    const int64_t frame = list.at(int(i) + 1).position / (2 * channels);
                    EXPECT_LE(frame, hits[i] + tolerance) << "hit " << i;
                    EXPECT_GE(frame, hits[i] - tolerance) << "hit " << i;
                }
            }
        }
    }
}

TEST(SliceSearch, LinkedMergeDropsPointsCloserThanOnePixel) {
    CandidateList list;
    for (uint32_t at : {4000u, 4002u, 4100u, 9000u, 9402u}) {
        list.append(point(at, 0, true, false, uint8_t(at % 4 == 2 ? 1 : 2)));
    }
    // 100000 bytes over 1000 pixels, stereo: 400 bytes.
    linkedMerge(list, 100000, 2, 1000);
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.at(1).position, 4000u);
    EXPECT_EQ(list.at(2).position, 9000u);
    EXPECT_EQ(list.at(3).position, 9400u); // 9402 - 9000 = 402 > 400, on its frame start
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(list.at(k).channel, 1);
    }
    EXPECT_EQ(list.endMarker().position, 100000u);
}

TEST(SliceSearch, LinkedMergeThinsARunOfCloseHitsInsteadOfDroppingThemAll) {
    // Hits 300 bytes apart with a merge distance of 400: a long file seen whole at a coarse width.
    CandidateList list;
    for (uint32_t at = 1000; at <= 2500; at += 300) {
        list.append(point(at, 0, true, false, 2));
    }
    linkedMerge(list, 100000, 2, 1000);
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.at(1).position, 1000u);
    EXPECT_EQ(list.at(2).position, 1600u);
    EXPECT_EQ(list.at(3).position, 2200u);
}

TEST(SliceSearch, AbortStopsAtTheNextReportAndKeepsWhatWasFound) {
    std::vector<int16_t> s(44100, 0);
    addHit(s, 1, 0, 10000, 20000);
    addHit(s, 1, 0, 30000, 20000);
    auto store = makeStore(s, 1);
    CandidateList list;
    SearchFlags flags;
    flags.searchRequest = true;
    int reports = 0;
    SearchProgress progress;
    progress.report = [&](int percent) {
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
        ++reports;
    };
    progress.stop = [&] { return reports > 150; };
    const SearchOutcome outcome = runSliceSearch(*store, list, flags, {}, progress);
    EXPECT_TRUE(outcome.aborted);
    EXPECT_FALSE(flags.searchRequest);
    EXPECT_EQ(reports, 151);
}

TEST(SliceSearch, NoRequestMeansNoSearch) {
    std::vector<int16_t> s(44100, 0);
    addHit(s, 1, 0, 10000, 20000);
    auto store = makeStore(s, 1);
    CandidateList list;
    SearchFlags flags;
    const SearchOutcome outcome = runSliceSearch(*store, list, flags, {});
    EXPECT_FALSE(outcome.ran);
    EXPECT_EQ(list.count(), 0);
}

TEST(SliceSearch, SensitivityArithmetic) {
    EXPECT_EQ(thresholdForSlider(0), 65534);
    EXPECT_EQ(thresholdForSlider(65535), -1);
    EXPECT_EQ(sliderForPercent(100), 65535);
    EXPECT_EQ(sliderForPercent(50), 32768); // 32767.5 ties to even
    EXPECT_EQ(percentForThreshold(65536), 0);
    EXPECT_EQ(percentForThreshold(-1), 100);
}

} // namespace
} // namespace cleavix::slicing
