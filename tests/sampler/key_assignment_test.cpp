// Laying a batch over the keyboard: white keys, intervals, clamping and batches that do not fit.
#include "sampler/KeyAssignment.h"

#include <gtest/gtest.h>

namespace cleavix::sampler {
namespace {

std::vector<int> roots(const std::vector<KeyRange>& keys) {
    std::vector<int> out;
    for (const auto& k : keys) {
        out.push_back(k.root);
    }
    return out;
}

TEST(KeyAssignment, BaseNoteFromNoteAndOctave) {
    EXPECT_EQ(baseNoteOf(1, 2), 48);  // C2, the default
    EXPECT_EQ(baseNoteOf(12, 2), 59); // B2
    EXPECT_EQ(baseNoteOf(1, -2), 0);
}

TEST(KeyAssignment, WhiteKeysFromC2RunUpTheWhiteKeys) {
    auto keys = assignKeys(8, 1, 2, 0, true);
    ASSERT_TRUE(keys);
    EXPECT_EQ(roots(*keys), (std::vector<int>{48, 50, 52, 53, 55, 57, 59, 60}));
    for (const auto& k : *keys) {
        EXPECT_EQ(k.low, k.root);
        EXPECT_EQ(k.high, k.root);
    }
    auto fifteen = assignKeysFromBase(15, 48, 0, true);
    ASSERT_TRUE(fifteen);
    EXPECT_EQ(fifteen->at(14).root, 72); // third octave starts on C again
}

TEST(KeyAssignment, IntervalSpreadsRootsAndSpansHalfEitherSide) {
    auto keys = assignKeysFromBase(3, 48, 2, false);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->at(0), (KeyRange{48, 47, 49}));
    EXPECT_EQ(keys->at(1), (KeyRange{51, 50, 52}));
    EXPECT_EQ(keys->at(2), (KeyRange{54, 53, 55}));
    auto adjacent = assignKeysFromBase(3, 60, 0, false);
    ASSERT_TRUE(adjacent);
    EXPECT_EQ(roots(*adjacent), (std::vector<int>{60, 61, 62}));
    EXPECT_EQ(adjacent->at(1).low, 61);
    EXPECT_EQ(adjacent->at(1).high, 61);
}

TEST(KeyAssignment, RangesAreClampedToTheKeyboard) {
    auto low = assignKeysFromBase(1, 0, 12, false);
    ASSERT_TRUE(low);
    EXPECT_EQ(low->at(0), (KeyRange{0, 0, 6}));
    auto high = assignKeysFromBase(1, 127, 12, false);
    ASSERT_TRUE(high);
    EXPECT_EQ(high->at(0), (KeyRange{127, 121, 127}));
}

TEST(KeyAssignment, BatchesThatDoNotFitAreRefused) {
    // 40 samples three keys apart from 48 would reach 165.
    EXPECT_FALSE(assignKeys(40, 1, 2, 2, false));
    EXPECT_TRUE(assignKeysFromBase(80, 48, 0, false));  // last root 127 fits exactly
    EXPECT_FALSE(assignKeysFromBase(81, 48, 0, false)); // 128 does not
    EXPECT_FALSE(assignKeysFromBase(50, 48, 0, true));  // white keys past 127
    EXPECT_FALSE(assignKeysFromBase(1, -1, 0, false));
    EXPECT_FALSE(assignKeysFromBase(-1, 48, 0, false));
    EXPECT_FALSE(assignKeysFromBase(2, 48, -1, false));
    EXPECT_FALSE(assignKeys(1, 0, 2, 0, false));
    EXPECT_FALSE(assignKeys(1, 13, 2, 0, false));
}

TEST(KeyAssignment, EmptyBatchFits) {
    auto keys = assignKeysFromBase(0, 48, 0, false);
    ASSERT_TRUE(keys);
    EXPECT_TRUE(keys->empty());
}

} // namespace
} // namespace cleavix::sampler
