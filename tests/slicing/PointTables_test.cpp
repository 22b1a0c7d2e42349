#include "slicing/PointFile.h"
#include "slicing/SlicePoint.h"
#include "slicing/Tempo.h"

#include "SliceFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace cleavix::slicing {
namespace {

using slicing::test::formatOf;
using slicing::test::point;

TEST(PointTables, RebuildKeepsStrongEnabledAndEveryLockedPoint) {
    CandidateList c;
    c.append(point(100, 500));
    c.append(point(200, 50));
    c.append(point(300, 10, false, true)); // disabled but locked: still a slice point
    c.append(point(400, 900, false));      // disabled
    SlicePoint zero = point(500, 600);
    zero.channel = 0;
    c.append(zero);
    c.setMarkers(1000);
    SlicePointList list;
    list.rebuild(c, 100, 1000);
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.at(1).position, 100u);
    EXPECT_EQ(list.at(2).position, 300u);
    EXPECT_EQ(list.at(3).position, 500u);
    EXPECT_EQ(list.at(3).channel, 1); // code 0 taken as 1
    EXPECT_EQ(list.at(0).position, 0u);
    EXPECT_EQ(list.endMarker().position, 1000u);
    EXPECT_EQ(list.endMarker().channel, 1);
    // Threshold 65536 (just after a load): only locked points.
    list.rebuild(c, 65536, 1000);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.at(1).position, 300u);
}

TEST(PointTables, InsertAndRemoveKeepTheEndMarker) {
    PointTable t;
    t.append(point(100, 1));
    t.append(point(300, 1));
    t.setMarkers(1000);
    ASSERT_TRUE(t.insert(firstAfter(t, 200), point(200, 1)));
    ASSERT_EQ(t.count(), 3);
    EXPECT_EQ(t.at(2).position, 200u);
    EXPECT_EQ(t.endMarker().position, 1000u);
    t.remove(1);
    EXPECT_EQ(t.at(1).position, 200u);
    EXPECT_EQ(t.endMarker().position, 1000u);
    for (int i = t.count(); i < kMaxPoints; ++i) {
        ASSERT_TRUE(t.append(point(400, 1)));
    }
    EXPECT_TRUE(t.full());
    EXPECT_FALSE(t.append(point(500, 1)));
    EXPECT_FALSE(t.insert(1, point(1, 1)));
}

TEST(PointTables, CountsAndSegmentsInTheLoop) {
    CandidateList c;
    for (uint32_t at : {100u, 200u, 300u, 400u}) {
        c.append(point(at, 1000));
    }
    c.setMarkers(500);
    SlicePointList list;
    list.rebuild(c, 0, 500);
    EXPECT_EQ(CountPointsInLoop(list, 100, 400), 2);
    EXPECT_EQ(CountSegmentsInLoop(list, 100, 400, 1, 1, true), 3);
    EXPECT_EQ(CountSegmentsInLoop(list, 0, 500, 1, 1, true), 5);
    EXPECT_EQ(segmentEnd(list, 2), 300u);
    EXPECT_EQ(segmentEnd(list, 4), 500u);
    // Unlinked stereo: each channel counts its own points.
    CandidateList s;
    s.append(point(400, 1000, true, false, 2));
    s.append(point(802, 1000, true, false, 1));
    s.append(point(1200, 1000, true, false, 2));
    s.setMarkers(4000);
    list.rebuild(s, 0, 4000);
    EXPECT_EQ(CountSegmentsInLoop(list, 0, 4000, 2, 1, false), 3);
    EXPECT_EQ(CountSegmentsInLoop(list, 0, 4000, 2, 2, false), 2);
    EXPECT_EQ(segmentEnd(list, 1), 1200u);
    EXPECT_EQ(segmentEnd(list, 2), 4000u);
}

// Points at 1000, 2000 and 3000 in a sample of 4000 bytes.
SlicePointList threePoints() {
    CandidateList c;
    for (uint32_t at : {1000u, 2000u, 3000u}) {
        c.append(point(at, 1000));
    }
    c.setMarkers(4000);
    SlicePointList list;
    list.rebuild(c, 0, 4000);
    return list;
}

TEST(PointTables, ReleasedLocatorsSnapToTheNearerPointAndStayInOrder) {
    const SlicePointList list = threePoints();
    EXPECT_EQ(snapLocator(list, 1400, true, 4000), 1000u);
    EXPECT_EQ(snapLocator(list, 1600, true, 4000), 2000u);
    EXPECT_EQ(snapLocator(list, 1500, true, 4000), 2000u); // the midpoint goes up
    EXPECT_EQ(snapLocator(list, 3900, false, 0), 4000u);
    // L may not reach R, R may not fall to L.
    EXPECT_EQ(snapLocator(list, 2900, true, 3000), 2000u);
    EXPECT_EQ(snapLocator(list, 1100, false, 1000), 2000u);
}

TEST(PointTables, DroppedLocatorsTakeTheNearestAllowedPoint) {
    const SlicePointList list = threePoints();
    EXPECT_EQ(dropLocator(list, 1400, true, 4000), 1000u);
    EXPECT_EQ(dropLocator(list, 1600, true, 4000), 2000u);
    EXPECT_EQ(dropLocator(list, 1500, true, 4000), 1000u); // half-way: the earlier point
    EXPECT_EQ(dropLocator(list, 2500, false, 0), 2000u);
    // L before the first point goes onto it, not onto the sample start.
    EXPECT_EQ(dropLocator(list, 100, true, 4000), 1000u);
    // L dropped beyond R: the last point before R; never on R itself.
    EXPECT_EQ(dropLocator(list, 3900, true, 3000), 2000u);
    EXPECT_EQ(dropLocator(list, 3000, true, 3000), 2000u);
    // Compared as frames: a point in R's frame is not before R.
    EXPECT_EQ(dropLocator(list, 2000, true, 2002), 1000u);
    // R: the end marker counts, and R stays after L.
    EXPECT_EQ(dropLocator(list, 3900, false, 1000), 4000u);
    EXPECT_EQ(dropLocator(list, 9000, false, 1000), 4000u);
    EXPECT_EQ(dropLocator(list, 100, false, 2000), 3000u);
    EXPECT_EQ(dropLocator(list, 100, false, 3000), 4000u);

    // No slice points: L goes to the start, R to the end.
    CandidateList none;
    none.setMarkers(4000);
    SlicePointList empty;
    empty.rebuild(none, 0, 4000);
    EXPECT_EQ(dropLocator(empty, 3000, true, 4000), 0u);
    EXPECT_EQ(dropLocator(empty, 100, false, 0), 4000u);
}

TEST(PointFile, RoundTripKeepsSecondChannelOffsets) {
    cleavix::test::TempDir dir;
    CandidateList c;
    c.append(point(4000, 1234, true, false, 2));
    c.append(point(4002, -77, false, true, 1));
    c.append(point(9006, 65534, true, true, 1));
    c.setMarkers(20000);
    const std::string file = dir.file("points.clx");
    ASSERT_TRUE(savePointFile(c, file).ok);
    const cleavix::test::Bytes bytes = cleavix::test::readFile(file);
    ASSERT_EQ(bytes.size(), 98320u);
    EXPECT_EQ(cleavix::test::getLe32(bytes, 0), 3u);
    EXPECT_EQ(cleavix::test::getLe32(bytes, 4 + 12 * 2), 4002u); // entry 2's position
    EXPECT_EQ(bytes[4 + 12 * 2 + 9], 1);                 // its locked flag
    EXPECT_EQ(cleavix::test::getLe32(bytes, 4 + 12 * 4), 20000u); // the end marker

    CandidateList back;
    ASSERT_TRUE(loadPointFile(back, file, 20000).ok);
    ASSERT_EQ(back.count(), 3);
    for (int k = 0; k <= 4; ++k) {
        EXPECT_EQ(back.at(k), c.at(k)) << k;
    }
}

TEST(PointFile, ShorterSampleDropsPointsBeyondItsEnd) {
    cleavix::test::TempDir dir;
    CandidateList c;
    for (uint32_t at : {100u, 5000u, 9000u, 15000u}) {
        c.append(point(at, 1));
    }
    c.setMarkers(20000);
    const std::string file = dir.file("p.clx");
    ASSERT_TRUE(savePointFile(c, file).ok);
    CandidateList back;
    ASSERT_TRUE(loadPointFile(back, file, 9000).ok);
    EXPECT_EQ(back.count(), 3); // 9000 does not exceed the length
    EXPECT_EQ(back.endMarker().position, 9000u);
}

TEST(PointFile, DamagedFilesAreRefusedAndTheTableStaysAsItWas) {
    cleavix::test::TempDir dir;
    CandidateList c;
    c.append(point(100, 1));
    c.append(point(200, 1));
    c.setMarkers(1000);
    const std::string good = dir.file("good.clx");
    ASSERT_TRUE(savePointFile(c, good).ok);
    const cleavix::test::Bytes image = cleavix::test::readFile(good);

    CandidateList table;
    table.append(point(777, 5));
    table.setMarkers(5000);
    const auto expectRefused = [&](const cleavix::test::Bytes& bytes, const char* what) {
        const std::string file = dir.file("bad.clx");
        cleavix::test::writeFile(file, bytes);
        const PointFileResult r = loadPointFile(table, file, 5000);
        EXPECT_FALSE(r.ok) << what;
        EXPECT_EQ(r.error, kMsgBadPointFile) << what;
        EXPECT_EQ(table.count(), 1) << what;
        EXPECT_EQ(table.at(1).position, 777u) << what;
        EXPECT_EQ(table.endMarker().position, 5000u) << what;
    };
    expectRefused(cleavix::test::Bytes(image.begin(), image.end() - 1), "one byte short");
    expectRefused(cleavix::test::Bytes(), "empty");
    cleavix::test::Bytes tooMany = image;
    tooMany[0] = 0x01;
    tooMany[1] = 0x20; // 8193
    expectRefused(tooMany, "count beyond 8192");
    cleavix::test::Bytes disorder = image;
    disorder[4 + 12] = 0xFF; // point 1 now lies after point 2
    expectRefused(disorder, "out of order");
    EXPECT_FALSE(loadPointFile(table, dir.file("missing.clx"), 5000).ok);
    EXPECT_EQ(table.count(), 1);
}

TEST(Tempo, TwoSecondsOfStereoAsOneBarIs120Bpm) {
    TempoState t;
    t.bars = 1;
    ASSERT_TRUE(ComputeTempo(t, 0, 4 * 44100 * 2, 2, 44100));
    EXPECT_EQ(t.text, "120.000 BPM");
    EXPECT_NEAR(double(t.tempo), 120.0, 1e-12);
    t.bars = 0;
    t.beats = 3; // three beats in two seconds
    ASSERT_TRUE(ComputeTempo(t, 0, 4 * 44100 * 2, 2, 44100));
    EXPECT_EQ(t.text, "90.000 BPM");
    t.beatUnit = 8;
    ASSERT_TRUE(ComputeTempo(t, 0, 4 * 44100 * 2, 2, 44100));
    EXPECT_EQ(t.text, "45.000 BPM");
}

TEST(Tempo, NoBarsNoBeatsOrAnEmptyRegionKeepTheTempo) {
    TempoState t;
    t.text = "133.000 BPM";
    EXPECT_FALSE(ComputeTempo(t, 0, 1000, 2, 44100));
    EXPECT_EQ(t.text, "133.000 BPM");
    t.bars = 1;
    EXPECT_FALSE(ComputeTempo(t, 500, 500, 2, 44100));
    EXPECT_EQ(t.text, "133.000 BPM");
    int v = 0;
    EXPECT_TRUE(parseCount("12", v));
    EXPECT_EQ(v, 12);
    EXPECT_FALSE(parseCount("-1", v));
    EXPECT_FALSE(parseCount("1x", v));
    EXPECT_FALSE(parseCount("", v));
    EXPECT_FALSE(parseCount("32768", v));
}

TEST(Grid, OneBarOf16thsOnAMonoLoopHasSeventeenPositions) {
    sample::SampleFormat f = formatOf(1, 64000);
    CandidateList c;
    // L = 0: the first grid point (0 + 50) is not above 100 and is dropped; R = dataLength: the
    // last (64000 + 50) is not before dataLength - 2 either.
    ASSERT_TRUE(cutLoopToGrid(c, GridDivision::Sixteenths, 1, 0, 0, 64000, f, true, 3));
    ASSERT_EQ(c.count(), 15);
    for (int k = 1; k <= 15; ++k) {
        EXPECT_EQ(c.at(k).position, uint32_t(k * 4000 + 50)) << k;
        EXPECT_EQ(c.at(k).locked, 1);
        EXPECT_EQ(c.at(k).enabled, 1);
        EXPECT_EQ(c.at(k).channel, 1);
    }
    // A loop inside the sample keeps all 17.
    ASSERT_TRUE(cutLoopToGrid(c, GridDivision::Sixteenths, 1, 0, 1000, 33000, f, true, 3));
    ASSERT_EQ(c.count(), 17);
    EXPECT_EQ(c.at(1).position, 1050u);
    EXPECT_EQ(c.at(17).position, 33050u);
    EXPECT_EQ(c.endMarker().position, 64000u);
    // 8ths of 2 bars and 1 beat: N = 8 * 2 + 2 * 1 = 18 divisions, 19 positions.
    ASSERT_TRUE(cutLoopToGrid(c, GridDivision::Eighths, 2, 1, 1000, 37000, f, true, 3));
    EXPECT_EQ(c.count(), 19);
    ASSERT_TRUE(cutLoopToGrid(c, GridDivision::ThirtySeconds, 1, 0, 1000, 33000, f, true, 3));
    EXPECT_EQ(c.count(), 33);
}

TEST(Grid, UnlinkedStereoGridsCarryTheirChannelCodes) {
    sample::SampleFormat f = formatOf(2, 400000);
    CandidateList c;
    ASSERT_TRUE(cutLoopToGrid(c, GridDivision::Eighths, 1, 0, 4000, 324000, f, false, 3));
    ASSERT_EQ(c.count(), 18);
    for (int k = 1; k <= 18; k += 2) {
        EXPECT_EQ(c.at(k).channel, 2);
        EXPECT_EQ(c.at(k).position % 4, 0u);
        EXPECT_EQ(c.at(k + 1).channel, 1);
        EXPECT_EQ(c.at(k + 1).position % 4, 2u);
    }
    EXPECT_EQ(c.at(1).position, 4000u + 48);
    ASSERT_TRUE(cutLoopToGrid(c, GridDivision::Eighths, 1, 0, 4000, 324000, f, true, 3));
    EXPECT_EQ(c.count(), 9);
    EXPECT_EQ(c.at(1).channel, 1);
}

TEST(Grid, AGridLargerThanTheTableKeepsTheFirst8192) {
    sample::SampleFormat f = formatOf(1, 4000000000u);
    CandidateList c;
    EXPECT_FALSE(cutLoopToGrid(c, GridDivision::ThirtySeconds, 300, 0, 1000, 3000000000u, f, true, 3));
    EXPECT_EQ(c.count(), kMaxPoints);
}

} // namespace
} // namespace cleavix::slicing
