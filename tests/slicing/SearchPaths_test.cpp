// The fast paths of the slice point search against plain ones written here from the description:
// the vectorised detection (every instruction set, mono and stereo, odd block counts, wrapping
// and rounding ties), the single read of both stereo channels with the candidate limit, the
// refinement that runs all steps per candidate on one read, and the segment levels read in large
// pieces -- with and without an abort at every kind of progress report.
#include "slicing/SliceSearch.h"

#include "sample/PeakTable.h"

#include "SliceFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace cleavix::slicing {
namespace {

using test::makeStore;

// ---- A plain detection ----

// y = round(x - 0.63 * previous) (ties to even), wrapped to 16 bits.
int emphasised(int x, int previous) {
    return int16_t(int32_t(std::nearbyint(double(x) - kPreEmphasis * double(previous))));
}

struct PlainBlock {
    double range = 0.0;
    int peakRange = 0;
};

// One block of `kFindSize` samples s[0], s[stride], ...; `before` is the sample before it.
PlainBlock followBlock(const int16_t* s, size_t stride, int before) {
    double positive = 0.0;
    double negative = 0.0;
    int positivePeak = 0;
    int negativePeak = 0;
    int previous = before;
    for (int i = 0; i < kFindSize; ++i) {
        const int x = s[size_t(i) * stride];
        const int y = emphasised(x, previous);
        previous = x;
        if (y > positive) {
            positivePeak = y;
            positive = double(y) * oprec + positive * nprec;
        }
        if (y < negative) {
            negativePeak = y;
            negative = double(y) * oprec + negative * nprec;
        }
    }
    return {positive - negative, positivePeak - negativePeak};
}

// Detection one pass after the other, reporting before every block; `reports` counts the reports
// and the detection stops (returning false) at report number stopAt.
bool plainDetection(const std::vector<int16_t>& s, uint16_t channels, CandidateList& list, bool& limitReached,
                    int64_t stopAt = -1) {
    list.setCount(0);
    limitReached = false;
    const int64_t dataLength = int64_t(s.size()) * 2;
    int64_t q = dataLength / channels / kFindSize;
    if (dataLength / kFindSize >= 1) {
        q -= 1;
    }
    const int64_t blocks = q / 2;
    int64_t reports = 0;
    for (int p = 1; p <= channels; ++p) {
        const size_t sampleOfFrame = channels == 2 && p == 1 ? 1 : 0;
        double previousValue = 32768.0;
        double previousHistory = 49152.0;
        for (int64_t u = 1; u <= blocks; ++u) {
            if (++reports == stopAt) {
                return false;
            }
            const size_t first = size_t((u - 1) * kFindSize) * channels + sampleOfFrame;
            const int before = u == 1 ? 0 : s[first - channels];
            const PlainBlock block = followBlock(&s[first], channels, before);
            double history = block.range * sndl + previousValue * sndp + previousHistory * sndp2;
            double value = block.range * lfac + history * pfac;
            if (value - history > 0.0) {
                if (list.full()) {
                    limitReached = true;
                } else {
                    int64_t at = (int64_t(kFindSize) * u * 2 + 10) * channels + 2 * (p - 1) - 50;
                    if (channels == 2) {
                        at = (at & ~int64_t(3)) + (p == 1 ? 2 : 0);
                    }
                    SlicePoint point;
                    point.position = uint32_t(at);
                    point.channel = uint8_t(p);
                    point.enabled = 1;
                    point.strength = block.peakRange;
                    list.append(point);
                    value = 65536.0;
                    history = 65536.0;
                }
            }
            previousValue = value;
            previousHistory = history;
        }
    }
    return true;
}

void expectSameCandidates(const CandidateList& a, const CandidateList& b, const char* what) {
    ASSERT_EQ(a.count(), b.count()) << what;
    for (int k = 1; k <= a.count(); ++k) {
        EXPECT_EQ(a.at(k).position, b.at(k).position) << what << " candidate " << k;
        EXPECT_EQ(a.at(k).strength, b.at(k).strength) << what << " candidate " << k;
        EXPECT_EQ(a.at(k).channel, b.at(k).channel) << what << " candidate " << k;
        EXPECT_EQ(a.at(k).enabled, b.at(k).enabled) << what << " candidate " << k;
        EXPECT_EQ(a.at(k).locked, b.at(k).locked) << what << " candidate " << k;
    }
}

// ---- Signals ----

struct Random {
    uint32_t x;
    uint32_t next() {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    }
    int between(int low, int high) { return low + int(next() % uint32_t(high - low + 1)); }
};

enum class Kind { FullScale, Quiet, Bursts, Ramps, Ties };

// `frames` frames of `channels` interleaved samples of one kind.
std::vector<int16_t> signal(Kind kind, int64_t frames, uint16_t channels, uint32_t seed) {
    Random r{seed};
    std::vector<int16_t> s(size_t(frames * channels), 0);
    for (int64_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            int v = 0;
            switch (kind) {
            case Kind::FullScale: // swings that overflow the pre-emphasis and wrap
                v = r.between(0, 3) == 0 ? (r.between(0, 1) ? 32767 : -32768) : r.between(-32768, 32767);
                break;
            case Kind::Quiet:
                v = r.between(-40, 40);
                break;
            case Kind::Bursts: // silence with decaying bursts, different in each channel
                if ((f + 97 * c) % 700 < 120) {
                    v = int(r.between(-20000, 20000) * std::exp(-double((f + 97 * c) % 700) / 40.0));
                }
                break;
            case Kind::Ramps:
                v = int((f * (c + 3) * 37) % 65536) - 32768;
                break;
            case Kind::Ties: // previous = 50 (mod 100) makes 0.63 * previous end in .5
                v = (f % 2 == 0) ? 50 + 100 * r.between(-300, 300) : r.between(-32768, 32767);
                break;
            }
            s[size_t(f * channels + c)] = int16_t(v);
        }
    }
    return s;
}

constexpr Kind kKinds[] = {Kind::FullScale, Kind::Quiet, Kind::Bursts, Kind::Ramps, Kind::Ties};
constexpr DetectionPath kPaths[] = {DetectionPath::Best, DetectionPath::Avx2, DetectionPath::Baseline,
                                    DetectionPath::Scalar};

// ---- Detection ----

TEST(SearchPaths, EveryDetectionPathFollowsBlocksExactlyAsOneAtATime) {
    uint32_t seed = 1;
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        for (Kind kind : kKinds) {
            // Block counts around the lanes of one call, odd ones, and a few hundred.
            for (int count : {1, 3, 4, 5, 7, 8, 9, 12, 13, 17, 31, 257}) {
                const std::vector<int16_t> s = signal(kind, int64_t(count) * kFindSize, channels, seed++);
                int previous[2];
                for (int c = 0; c < channels; ++c) {
                    previous[c] = Random{seed++}.between(-32768, 32767);
                }
                std::vector<PlainBlock> expected[2];
                for (int c = 0; c < channels; ++c) {
                    for (int b = 0; b < count; ++b) {
                        const size_t first = size_t(b) * kFindSize * channels + size_t(c);
                        const int before = b == 0 ? previous[c] : s[first - channels];
                        expected[c].push_back(followBlock(&s[first], channels, before));
                    }
                }
                for (DetectionPath path : kPaths) {
                    std::vector<double> ranges[2];
                    std::vector<int> peaks[2];
                    double* rangesOf[2] = {nullptr, nullptr};
                    int* peaksOf[2] = {nullptr, nullptr};
                    for (int c = 0; c < channels; ++c) {
                        ranges[c].assign(size_t(count), -1.0);
                        peaks[c].assign(size_t(count), -1);
                        rangesOf[c] = ranges[c].data();
                        peaksOf[c] = peaks[c].data();
                    }
                    blockRanges(s.data(), channels, previous, count, rangesOf, peaksOf, path);
                    for (int c = 0; c < channels; ++c) {
                        for (int b = 0; b < count; ++b) {
                            // Bit for bit, not merely close.
                            const double want = expected[c][size_t(b)].range;
                            const double got = ranges[c][size_t(b)];
                            EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0)
                                << "path " << int(path) << " channels " << channels << " kind " << int(kind)
                                << " count " << count << " channel " << c << " block " << b << ": " << got
                                << " instead of " << want;
                            EXPECT_EQ(peaks[c][size_t(b)], expected[c][size_t(b)].peakRange)
                                << "path " << int(path) << " channels " << channels << " kind " << int(kind)
                                << " count " << count << " channel " << c << " block " << b;
                        }
                    }
                }
            }
        }
    }
}

TEST(SearchPaths, PreEmphasisWrapsAndRoundsTiesToEvenInEveryPath) {
    // x - 0.63 * previous: 32767 + 0.63 rounds to 32768 and wraps to -32768; -32768 - 0.63 wraps
    // to 32767; 0.5 ties (previous 50, 150, -50) go to the even neighbour.
    const int16_t pattern[] = {-1, 32767, 1, -32768, 50, 0, 150, 1, -50, -7, 32767, -32768, 32767, -32768};
    std::vector<int16_t> s(size_t(3 * kFindSize));
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = pattern[i % std::size(pattern)];
    }
    const int previous[1] = {-32768};
    for (DetectionPath path : kPaths) {
        double ranges[3];
        int peaks[3];
        double* rangesOf[1] = {ranges};
        int* peaksOf[1] = {peaks};
        blockRanges(s.data(), 1, previous, 3, rangesOf, peaksOf, path);
        for (int b = 0; b < 3; ++b) {
            const PlainBlock want = followBlock(&s[size_t(b) * kFindSize], 1,
                                                b == 0 ? previous[0] : s[size_t(b) * kFindSize - 1]);
            EXPECT_EQ(ranges[b], want.range) << int(path) << " block " << b;
            EXPECT_EQ(peaks[b], want.peakRange) << int(path) << " block " << b;
        }
    }
    // The pattern does reach the wrap: -32768 - 0.63 * 1 is -32769 before it.
    EXPECT_EQ(emphasised(-32768, 1), 32767);
    EXPECT_EQ(emphasised(32767, -1), -32768);
    EXPECT_EQ(emphasised(0, 50), -32);  // -31.5 to even
    EXPECT_EQ(emphasised(1, 150), -94); // -93.5 to even
}

TEST(SearchPaths, DetectionMatchesOnePassAfterTheOtherOnRandomSamples) {
    uint32_t seed = 100;
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        for (Kind kind : kKinds) {
            // Lengths that leave partial reads, a tail shorter than a block and odd byte counts of
            // blocks per read.
            for (int64_t frames :
                 {int64_t(307), int64_t(308), int64_t(1000), int64_t(70001), int64_t(210 * 1024 + 77)}) {
                const std::vector<int16_t> s = signal(kind, frames, channels, seed++);
                CandidateList fast;
                CandidateList plain;
                bool fastLimited = true;
                bool plainLimited = true;
                ASSERT_TRUE(detectOnsets(*makeStore(s, channels), fast, {}, fastLimited));
                ASSERT_TRUE(plainDetection(s, channels, plain, plainLimited));
                expectSameCandidates(fast, plain, "detection");
                EXPECT_EQ(fastLimited, plainLimited);
            }
        }
    }
}

// Stereo with many onsets in both channels: the second sample's pass finds `firstPass` of them
// (when the limit allows) and the first sample's pass `secondPass`.
std::vector<int16_t> manyOnsets(int64_t firstPass, int64_t secondPass) {
    // A burst every other block in each channel, so that each is an onset.
    const int64_t spacing = 2 * kFindSize;
    const int64_t frames = spacing * (std::max(firstPass, secondPass) + 3);
    std::vector<int16_t> s(size_t(frames * 2), 0);
    const auto burst = [&](int channel, int64_t frame) {
        for (int i = 0; i < 60; ++i) {
            s[size_t((frame + i) * 2 + channel)] = int16_t(i % 2 == 0 ? 20000 : -20000);
        }
    };
    for (int64_t h = 0; h < firstPass; ++h) {
        burst(1, spacing * (h + 1) + 50);
    }
    for (int64_t h = 0; h < secondPass; ++h) {
        burst(0, spacing * (h + 1) + 120);
    }
    return s;
}

TEST(SearchPaths, SecondStereoPassStopsAtTheLimitAsIfRunAfterTheFirst) {
    // Room left for part of the second pass, for none of it, and for all of it.
    for (const auto& [firstPass, secondPass] : {std::pair<int64_t, int64_t>{6000, 3000},
                                                {8300, 40},
                                                {8192, 1},
                                                {8191, 1},
                                                {8191, 2},
                                                {100, 200},
                                                {0, 8192},
                                                {0, 8193},
                                                {1, 8192}}) {
        const std::vector<int16_t> s = manyOnsets(firstPass, secondPass);
        CandidateList fast;
        CandidateList plain;
        bool fastLimited = false;
        bool plainLimited = false;
        ASSERT_TRUE(detectOnsets(*makeStore(s, 2), fast, {}, fastLimited));
        ASSERT_TRUE(plainDetection(s, 2, plain, plainLimited));
        expectSameCandidates(fast, plain, "limit");
        EXPECT_EQ(fastLimited, plainLimited) << firstPass << " + " << secondPass;
        EXPECT_EQ(plainLimited, firstPass + secondPass > kMaxPoints) << firstPass << " + " << secondPass;
    }
}

// An unlinked search requested of the store: the whole search, or the refinement, levels and
// strengths of the candidates in the list; with onsets detected before or a peak table when given.
SearchOutcome unlinkedSearch(const sample::SampleStore& store, CandidateList& list, bool refineOnly = false,
                             std::shared_ptr<const OnsetDetector> detected = nullptr,
                             const sample::PeakTable* peaks = nullptr, const SearchProgress& progress = {}) {
    SearchFlags flags;
    flags.searchRequest = true;
    flags.refineOnly = refineOnly;
    SearchOptions options;
    options.linked = false;
    options.detected = std::move(detected);
    options.peaks = peaks;
    return runSliceSearch(store, list, flags, options, progress);
}

// Progress that keeps every percentage reported and asks to stop at report number stopAt.
struct StopAtReport {
    explicit StopAtReport(int64_t at) : stopAt(at) {
        progress.report = [this](int percent) {
            ++reports;
            percents.push_back(percent);
        };
        progress.stop = [this] { return reports == stopAt; };
    }
    StopAtReport(const StopAtReport&) = delete;
    StopAtReport& operator=(const StopAtReport&) = delete;
    int64_t stopAt;
    int64_t reports = 0;
    std::vector<int> percents;
    SearchProgress progress;
};

TEST(SearchPaths, AnAbortedDetectionLeavesWhatOnePassAfterTheOtherLeaves) {
    const std::vector<int16_t> s = manyOnsets(6000, 3000);
    auto store = makeStore(s, 2);
    CandidateList all;
    bool limited = false;
    ASSERT_TRUE(plainDetection(s, 2, all, limited));
    int64_t blocks = 0;
    {
        int64_t q = int64_t(store->dataLength()) / 2 / kFindSize - 1;
        blocks = q / 2;
    }
    // Reports in the first pass, at the start of the second, where the second runs out of room,
    // and at its last block.
    for (int64_t stopAt : {int64_t(1), int64_t(2), blocks / 3, blocks, blocks + 1, blocks + 2,
                           blocks + blocks / 3, blocks + 4400, blocks + 4500, 2 * blocks}) {
        CandidateList fast;
        CandidateList plain;
        bool fastLimited = false;
        bool plainLimited = false;
        StopAtReport stop(stopAt);
        const auto& percents = stop.percents;
        EXPECT_FALSE(detectOnsets(*store, fast, stop.progress, fastLimited)) << stopAt;
        EXPECT_EQ(stop.reports, stopAt);
        EXPECT_FALSE(plainDetection(s, 2, plain, plainLimited, stopAt)) << stopAt;
        expectSameCandidates(fast, plain, "abort");
        EXPECT_EQ(fastLimited, plainLimited) << stopAt;
        // The reports climb to 40 in the first pass and on to 80 in the second.
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << stopAt;
        EXPECT_LE(percents.back(), stopAt > blocks ? 80 : 40) << stopAt;
    }
}

// ---- Detection fed as the load passes the blocks ----

// A detector fed `s` in pieces of the given sizes, taken in turn.
OnsetDetector fedInPieces(const std::vector<int16_t>& s, uint16_t channels, const std::vector<size_t>& pieces) {
    OnsetDetector detector(channels, uint32_t(s.size() * 2));
    size_t at = 0;
    for (size_t k = 0; at < s.size(); ++k) {
        const size_t n = std::min(pieces[k % pieces.size()], s.size() - at);
        detector.feed(s.data() + at, n);
        at += n;
    }
    return detector;
}

const std::vector<std::vector<size_t>> kPieces = {
    {1}, {7, 410, 409, 1}, {65536 / 2}, {410 * 256}, {3, 100000}, {131072, 5}};

TEST(SearchPaths, DetectionFedInAnyPiecesFindsWhatTheStoreDetectionFinds) {
    uint32_t seed = 300;
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        for (Kind kind : kKinds) {
            for (int64_t frames : {int64_t(307), int64_t(308), int64_t(70001), int64_t(210 * 1024 + 77)}) {
                const std::vector<int16_t> s = signal(kind, frames, channels, seed++);
                CandidateList plain;
                bool plainLimited = true;
                ASSERT_TRUE(plainDetection(s, channels, plain, plainLimited));
                for (const auto& pieces : kPieces) {
                    const OnsetDetector detector = fedInPieces(s, channels, pieces);
                    EXPECT_TRUE(detector.complete());
                    CandidateList fed;
                    const bool limited = detector.appendTo(fed, detector.blocks() + 1, detector.blocks() + 1);
                    expectSameCandidates(fed, plain, "fed");
                    EXPECT_EQ(limited, plainLimited);
                }
            }
        }
    }
    // A detector that has not seen every block is not complete.
    const std::vector<int16_t> s = signal(Kind::Bursts, 5000, 2, 1);
    OnsetDetector part(2, uint32_t(s.size() * 2));
    part.feed(s.data(), s.size() / 2);
    EXPECT_FALSE(part.complete());
}

TEST(SearchPaths, DetectionFedInPiecesKeepsTheLimitOfEachPass) {
    for (const auto& [firstPass, secondPass] :
         {std::pair<int64_t, int64_t>{8300, 40}, {8191, 2}, {0, 8193}, {6000, 3000}}) {
        const std::vector<int16_t> s = manyOnsets(firstPass, secondPass);
        CandidateList plain;
        bool plainLimited = false;
        ASSERT_TRUE(plainDetection(s, 2, plain, plainLimited));
        const OnsetDetector detector = fedInPieces(s, 2, {65536 / 2, 999});
        CandidateList fed;
        EXPECT_EQ(detector.appendTo(fed, detector.blocks() + 1, detector.blocks() + 1), plainLimited);
        expectSameCandidates(fed, plain, "fed limit");
    }
}

TEST(SearchPaths, ASearchTakesTheOnsetsOfADetectionDoneBeforeAndIgnoresOneOfOtherAudio) {
    uint32_t seed = 700;
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        for (Kind kind : {Kind::Bursts, Kind::FullScale}) {
            const std::vector<int16_t> s = signal(kind, 150001, channels, seed++);
            auto store = makeStore(s, channels);
            const auto search = [&](std::shared_ptr<const OnsetDetector> detected) {
                CandidateList list;
                EXPECT_FALSE(unlinkedSearch(*store, list, false, std::move(detected)).aborted);
                return list;
            };
            const CandidateList fromStore = search(nullptr);
            ASSERT_GT(fromStore.count(), 0);
            expectSameCandidates(search(std::make_shared<OnsetDetector>(fedInPieces(s, channels, {4096}))), fromStore,
                                 "detected before");
            // Another length, the other channel count, or a detection not fed to its end: the
            // search reads the store instead.
            const std::vector<int16_t> other = signal(Kind::Quiet, 150000, channels, seed++);
            expectSameCandidates(search(std::make_shared<OnsetDetector>(fedInPieces(other, channels, {4096}))),
                                 fromStore, "other length");
            auto otherChannels = std::make_shared<OnsetDetector>(uint16_t(3 - channels), store->dataLength());
            expectSameCandidates(search(otherChannels), fromStore, "other channels");
            auto unfinished = std::make_shared<OnsetDetector>(channels, store->dataLength());
            unfinished->feed(s.data(), s.size() / 3);
            expectSameCandidates(search(unfinished), fromStore, "unfinished");
        }
    }
}

TEST(SearchPaths, AnAbortWhileTakingOnsetsLeavesTheOnsetsOfTheBlocksReportedSoFar) {
    const std::vector<int16_t> s = manyOnsets(6000, 3000);
    auto store = makeStore(s, 2);
    auto detector = std::make_shared<OnsetDetector>(fedInPieces(s, 2, {32768}));
    CandidateList all;
    detector->appendTo(all, detector->blocks() + 1, detector->blocks() + 1);
    // Reports come as the percentage moves: 41 in the first pass (0 to 40), 40 more in the second.
    int previousCount = -1;
    for (int stopAt : {1, 2, 20, 41, 42, 60, 81}) {
        CandidateList list;
        StopAtReport stop(stopAt);
        const auto& percents = stop.percents;
        EXPECT_TRUE(unlinkedSearch(*store, list, false, detector, nullptr, stop.progress).aborted) << stopAt;
        EXPECT_EQ(stop.reports, stopAt);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << stopAt;
        EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()), percents.end()) << stopAt;
        // What was appended by then, in the order of the whole detection: a beginning of it,
        // longer the later the abort, and within the first pass only first-pass candidates.
        ASSERT_LE(list.count(), all.count());
        for (int k = 1; k <= list.count(); ++k) {
            EXPECT_EQ(list.at(k).position, all.at(k).position) << stopAt << " " << k;
            EXPECT_EQ(list.at(k).strength, all.at(k).strength) << stopAt << " " << k;
            if (percents.back() <= 40) {
                EXPECT_EQ(list.at(k).channel, 1) << stopAt;
            }
        }
        EXPECT_GE(list.count(), previousCount) << stopAt;
        previousCount = list.count();
    }
    EXPECT_GT(previousCount, 6000); // the last abort came in the second pass
}

// ---- Refinement, levels and strengths ----

// Refinement, levels and strengths in their plainest form: each pass over every candidate, through
// the functions that read the store afresh for every look; a report before every candidate of the
// quiet window, the quiet pair, the levels and the strengths, and one before the levels, stopping
// at report number stopAt. Returns false when stopped.
bool plainRefinement(const sample::SampleStore& store, CandidateList& list, int64_t stopAt = -1) {
    int64_t reports = 0;
    const auto report = [&] { return ++reports == stopAt; };
    const int n = list.count();
    const auto stop = [&] {
        list.setMarkers(store.dataLength());
        return false;
    };
    for (int k = 1; k <= n; ++k) {
        if (report()) {
            return stop();
        }
        quietWindow(store, list.at(k));
    }
    for (int k = 1; k <= n; ++k) {
        backwardDescent(store, list.at(k));
    }
    for (int k = 1; k <= n; ++k) {
        forwardDescent(store, list.at(k));
    }
    for (int k = 1; k <= n; ++k) {
        if (report()) {
            return stop();
        }
        quietPair(store, list.at(k));
    }
    for (int k = 1; k <= n; ++k) {
        snapToQuiet(store, list.at(k));
    }
    list.sortByPosition();
    list.setMarkers(store.dataLength());
    if (report()) {
        return false;
    }
    // Segment levels and strengths one candidate at a time, each from its own small read.
    const uint16_t channels = store.format().channels;
    const int64_t blockAlign = int64_t(channels) * 2;
    const auto sampleAt = [&](int64_t position) {
        int16_t v = 0;
        store.readSamples(position, &v, 1);
        return int(v);
    };
    const auto windowStart = [&](const SlicePoint& p, int64_t framesBefore) {
        const int64_t offset = channels == 2 && p.channel == kCodeSecondOrMono ? 2 : 0;
        return std::max(int64_t(p.position) - framesBefore * blockAlign, offset);
    };
    // Largest minus smallest of `frames` samples of one channel from `at`.
    const auto swing = [&](int64_t at, int64_t frames) {
        int largest = -100000;
        int smallest = 100000;
        for (int64_t f = 0; f < frames; ++f) {
            largest = std::max(largest, sampleAt(at + f * blockAlign));
            smallest = std::min(smallest, sampleAt(at + f * blockAlign));
        }
        return int64_t(largest) - smallest;
    };
    std::vector<int32_t> levels(size_t(n) + 1);
    for (int u = 1; u <= n; ++u) {
        if (report()) {
            return false;
        }
        SlicePoint& point = list.at(u);
        const uint8_t code = std::min<uint8_t>(point.channel, 2);
        int next = u + 1;
        while (next <= n && std::min<uint8_t>(list.at(next).channel, 2) != code) {
            ++next;
        }
        const int64_t end = list.at(next).position;
        const int64_t frames = std::max<int64_t>(0, (end - int64_t(point.position)) / blockAlign);
        point.strength = frames == 0 ? 0 : int32_t(swing(windowStart(point, 50), frames));
    }
    for (int u = 1; u <= n; ++u) {
        if (report()) {
            return false;
        }
        SlicePoint& point = list.at(u);
        const int64_t before = swing(windowStart(point, 500), 500);
        const int64_t level = point.strength == 0 ? 1 : point.strength;
        point.strength = int32_t(std::nearbyint(double(level - before) / double(level + 1) * 65535.0));
    }
    return true;
}

// Candidates anywhere: at the very start and end, on top of each other, far apart and close
// together, in both channels.
void placeCandidates(CandidateList& list, uint32_t dataLength, uint16_t channels, uint32_t seed) {
    Random r{seed};
    list.setCount(0);
    const uint32_t frames = dataLength / (2u * channels);
    std::vector<uint32_t> at = {0, 1, 2, 3, frames / 2, frames / 2, frames - 1, frames - 2, frames - 300};
    for (int k = 0; k < 60; ++k) {
        at.push_back(uint32_t(r.between(0, int(frames) - 1)));
    }
    for (int k = 0; k < 10; ++k) {
        at.push_back((at.back() + uint32_t(r.between(1, 40))) % frames);
    }
    for (uint32_t frame : at) {
        SlicePoint p;
        p.channel = uint8_t(channels == 1 ? 1 : r.between(1, 2));
        p.position = frame * 2u * channels + (channels == 2 && p.channel == 1 ? 2u : 0u);
        p.enabled = 1;
        list.append(p);
    }
}

TEST(SearchPaths, RefinementOnOneReadPerCandidateMatchesThePassesRunOneAfterTheOther) {
    uint32_t seed = 500;
    for (uint32_t rate : {44100u, 22050u, 96000u}) {
        for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
            for (Kind kind : {Kind::Bursts, Kind::FullScale, Kind::Quiet}) {
                // Long enough that segments run past the stream window.
                const std::vector<int16_t> s = signal(kind, 200000 + seed % 7, channels, seed);
                auto store = makeStore(s, channels, rate);
                CandidateList fast;
                placeCandidates(fast, store->dataLength(), channels, seed++);
                CandidateList plain = fast;
                EXPECT_FALSE(unlinkedSearch(*store, fast, true).aborted);
                ASSERT_TRUE(plainRefinement(*store, plain));
                expectSameCandidates(fast, plain, "refinement");
            }
        }
    }
}

TEST(SearchPaths, SegmentLevelsTakenFromThePeakTableMatchTheSamples) {
    uint32_t seed = 1500;
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        for (Kind kind : {Kind::Bursts, Kind::FullScale, Kind::Quiet}) {
            for (uint32_t blockBytes : {64u, 128u, 192u, 512u, 4096u}) {
                // Lengths that leave a part block at the end, and a sample shorter than one block.
                for (int64_t frames : {int64_t(200001), int64_t(500)}) {
                    const std::vector<int16_t> s = signal(kind, frames, channels, seed);
                    auto store = makeStore(s, channels);
                    sample::PeakTable peaks(std::make_unique<sample::TFileAndMemoryStream>(), blockBytes);
                    sample::rebuildPeaks(store->stream(), store->format(), peaks);
                    ASSERT_TRUE(peaks.describes(store->stream(), store->format()));
                    CandidateList placed;
                    placeCandidates(placed, store->dataLength(), channels, seed++);
                    // A few points off their channel's places (as a point file may hold them).
                    placed.at(5).position |= 1u;
                    placed.at(9).position = (placed.at(9).position & ~3u) + 1;
                    const auto search = [&](const sample::PeakTable* table) {
                        CandidateList list = placed;
                        EXPECT_FALSE(unlinkedSearch(*store, list, true, nullptr, table).aborted);
                        return list;
                    };
                    expectSameCandidates(search(&peaks), search(nullptr), "levels from peaks");
                    // Once the samples change, the table no longer describes them and is left alone.
                    const std::vector<int16_t> other = signal(Kind::Ramps, frames, channels, seed++);
                    store->stream().writeAllAt(0, other.data(), other.size() * 2);
                    EXPECT_FALSE(peaks.describes(store->stream(), store->format()));
                    expectSameCandidates(search(&peaks), search(nullptr), "stale peaks");
                }
            }
        }
    }
}

TEST(SearchPaths, TheWholeSearchMatchesThePlainStepsOnRandomSamples) {
    uint32_t seed = 900;
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        for (Kind kind : kKinds) {
            const std::vector<int16_t> s = signal(kind, 150001, channels, seed++);
            auto store = makeStore(s, channels);
            CandidateList fast;
            unlinkedSearch(*store, fast);
            CandidateList plain;
            bool limited = false;
            ASSERT_TRUE(plainDetection(s, channels, plain, limited));
            if (plain.count() == 0) {
                plain.setMarkers(store->dataLength());
            } else {
                ASSERT_TRUE(plainRefinement(*store, plain));
            }
            expectSameCandidates(fast, plain, "search");
        }
    }
}

TEST(SearchPaths, AnAbortAtAnyReportOfTheRefinementLeavesWhatThePlainStepsLeave) {
    for (Kind kind : {Kind::Bursts, Kind::Quiet}) {
        const std::vector<int16_t> s = signal(kind, 120000, 2, 77);
        auto store = makeStore(s, 2);
        CandidateList placed;
        placeCandidates(placed, store->dataLength(), 2, 78);
        const int64_t n = placed.count();
        // Reports: n in the quiet window, n in the quiet pair, one before the levels, n in the
        // levels, n in the strengths.
        for (int64_t stopAt : {int64_t(1), int64_t(2), n / 2, n, n + 1, n + n / 2, 2 * n, 2 * n + 1,
                               2 * n + 2, 3 * n, 3 * n + 1, 3 * n + 2, 4 * n, 4 * n + 1}) {
            CandidateList fast = placed;
            CandidateList plain = placed;
            int64_t reports = 0;
            SearchProgress progress;
            progress.report = [&](int) { ++reports; };
            progress.stop = [&] { return reports == stopAt; };
            const SearchOutcome outcome = unlinkedSearch(*store, fast, true, nullptr, nullptr, progress);
            const bool finished = plainRefinement(*store, plain, stopAt);
            EXPECT_EQ(outcome.aborted, !finished) << stopAt;
            EXPECT_EQ(reports, std::min(stopAt, 4 * n + 1)) << stopAt;
            expectSameCandidates(fast, plain, "aborted refinement");
        }
    }
}

} // namespace
} // namespace cleavix::slicing
