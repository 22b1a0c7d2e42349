#include "sample/PeakTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace cleavix::sample;

namespace {

std::unique_ptr<PeakTable> memoryTable(uint32_t blockBytes) {
    return std::make_unique<PeakTable>(std::make_unique<TFileAndMemoryStream>(), blockBytes);
}

TFileAndMemoryStream storeOf(const std::vector<int16_t>& samples) {
    TFileAndMemoryStream store;
    store.writeAll(samples.data(), samples.size() * 2);
    return store;
}

SampleFormat stereoFormatOf(const std::vector<int16_t>& samples) {
    SampleFormat format;
    format.channels = 2;
    format.dataLength = uint32_t(samples.size() * 2);
    return format;
}

} // namespace

TEST(PeakTable, BlockSizeSetting) {
    EXPECT_EQ(peakBlockBytesFromSetting(100), 128u);
    EXPECT_EQ(peakBlockBytesFromSetting(0), 128u);
    EXPECT_EQ(peakBlockBytesFromSetting(-64), 128u);
    EXPECT_EQ(peakBlockBytesFromSetting(192), 192u);
    EXPECT_EQ(peakBlockBytesFromSetting(64), 64u);
    EXPECT_EQ(peakBlockBytesFromSetting(512), 512u);
}

TEST(PeakTable, MonoBlockGivesOneWordStereoTwo) {
    std::vector<int16_t> samples(64, 0); // 128 bytes
    samples[3] = 1000;
    samples[40] = -500;
    {
        TFileAndMemoryStream store = storeOf(samples);
        SampleFormat format;
        format.channels = 1;
        format.dataLength = 128;
        auto table = memoryTable(128);
        rebuildPeaks(store, format, *table);
        ASSERT_EQ(table->entries(), 1u);
        EXPECT_EQ(table->peak(0, 0).max, 1000);
        EXPECT_EQ(table->peak(0, 0).min, -500);
    }
    {
        TFileAndMemoryStream store = storeOf(samples);
        SampleFormat format;
        format.channels = 2;
        format.dataLength = 128;
        auto table = memoryTable(128);
        rebuildPeaks(store, format, *table);
        ASSERT_EQ(table->entries(), 1u);
        int32_t words[3] = {};
        EXPECT_EQ(table->readWords(0, words, 3), 2u);
        // Sample 3 is the second channel, sample 40 the first.
        EXPECT_EQ(table->peak(0, 0).max, 0);
        EXPECT_EQ(table->peak(0, 0).min, -500);
        EXPECT_EQ(table->peak(0, 1).max, 1000);
        EXPECT_EQ(table->peak(0, 1).min, 0);
    }
}

TEST(PeakTable, EachStereoWordHoldsItsOwnChannelOverEverySample) {
    // Left rises to 3000 on an odd frame, right falls to -7000 on an even frame: a stepping that
    // mixes channels or skips half the frames would miss one of them.
    std::vector<int16_t> samples(2 * 96, 0);
    for (size_t frame = 0; frame < 96; ++frame) {
        samples[frame * 2] = int16_t(10 + frame);         // left: small positive ramp
        samples[frame * 2 + 1] = int16_t(-20 - int(frame)); // right: small negative ramp
    }
    samples[2 * 33] = 3000;   // left, odd frame, block 1 (32 frames a block)
    samples[2 * 34 + 1] = -7000; // right, even frame, block 1
    TFileAndMemoryStream store = storeOf(samples);
    SampleFormat format;
    format.channels = 2;
    format.dataLength = uint32_t(samples.size() * 2);
    auto table = memoryTable(128);
    rebuildPeaks(store, format, *table);
    ASSERT_EQ(table->entries(), 3u);
    EXPECT_EQ(table->peak(0, 0).max, 10 + 31);
    EXPECT_EQ(table->peak(0, 0).min, 10);
    EXPECT_EQ(table->peak(0, 1).max, -20);
    EXPECT_EQ(table->peak(0, 1).min, -20 - 31);
    EXPECT_EQ(table->peak(1, 0).max, 3000);
    EXPECT_EQ(table->peak(1, 0).min, 10 + 32);
    EXPECT_EQ(table->peak(1, 1).max, -20 - 32);
    EXPECT_EQ(table->peak(1, 1).min, -7000);
    EXPECT_EQ(table->peak(2, 0).max, 10 + 95);
}

TEST(PeakTable, NegativeMinimumBorrowsFromTheUpperHalf) {
    TFileAndMemoryStream store = storeOf({100, -3});
    SampleFormat format;
    format.channels = 1;
    format.dataLength = 4;
    auto table = memoryTable(128);
    rebuildPeaks(store, format, *table);
    int32_t word = 0;
    ASSERT_EQ(table->readWords(0, &word, 1), 1u);
    EXPECT_EQ(word, 100 * 65536 - 3);
    EXPECT_EQ(word >> 16, 99); // the high half reads as max - 1
    EXPECT_EQ(unpackPeak(word).max, 100); // decoded exactly
    EXPECT_EQ(unpackPeak(packPeak(-32768, -32768)).max, -32768);
    EXPECT_EQ(unpackPeak(packPeak(-32768, -32768)).min, -32768);
    EXPECT_EQ(unpackPeak(packPeak(32767, 32767)).max, 32767);
    EXPECT_EQ(unpackPeak(word).min, -3);
}

TEST(PeakTable, ShortLastBlockAndEmptyStore) {
    const auto samples = cleavix::test::testSignal(100);
    TFileAndMemoryStream store = storeOf(samples);
    SampleFormat format;
    format.channels = 1;
    format.dataLength = 200;
    auto table = memoryTable(128);
    rebuildPeaks(store, format, *table);
    // 200 bytes: one block of 128 and a last block of the 72 bytes left.
    ASSERT_EQ(table->entries(), 2u);
    EXPECT_EQ(table->peak(1, 0).max, *std::max_element(samples.begin() + 64, samples.end()));
    EXPECT_EQ(table->peak(1, 0).min, *std::min_element(samples.begin() + 64, samples.end()));

    format.dataLength = 0;
    rebuildPeaks(store, format, *table);
    EXPECT_EQ(table->entries(), 0u);
}

TEST(PeakTable, StreamingBuildMatchesRebuildWhateverTheChunks) {
    // A 192-byte block does not divide the rebuild's chunks; feeding odd chunk sizes must give the
    // same table as one pass, with every entry covering exactly 192 bytes.
    const auto samples = cleavix::test::testSignal(2 * 70001, 7);
    TFileAndMemoryStream store = storeOf(samples);
    const SampleFormat format = stereoFormatOf(samples);
    auto whole = memoryTable(192);
    rebuildPeaks(store, format, *whole);
    auto pieces = memoryTable(192);
    pieces->beginBuild(2);
    size_t at = 0;
    size_t chunk = 4;
    while (at < samples.size()) {
        const size_t n = std::min(chunk, samples.size() - at);
        pieces->addBlocks(samples.data() + at, n * 2);
        at += n;
        chunk = chunk * 3 % 5000 + 2; // even sample counts: whole frames
    }
    pieces->endBuild();
    ASSERT_EQ(whole->entries(), pieces->entries());
    EXPECT_EQ(whole->entries(), (samples.size() * 2 + 191) / 192);
    std::vector<int32_t> a(whole->entries() * 2);
    std::vector<int32_t> b(a.size());
    whole->readWords(0, a.data(), a.size());
    pieces->readWords(0, b.data(), b.size());
    EXPECT_EQ(a, b);
    // Spot-check an entry against the samples themselves.
    const size_t entry = 1234;
    int16_t maxLeft = -32768;
    for (size_t i = entry * 96; i < entry * 96 + 96; i += 2) {
        maxLeft = std::max(maxLeft, samples[i]);
    }
    EXPECT_EQ(whole->peak(entry, 0).max, maxLeft);
}

TEST(PeakTable, EveryBlockHoldsEachChannelsExtremesWhateverTheBlockSize) {
    // Full-scale noise with the extremes placed on the first and last sample of blocks, fed whole,
    // in the load's 64 KiB blocks, and in pieces that start blocks off their boundaries.
    auto samples = cleavix::test::testSignal(2 * 50003, 11);
    for (size_t i = 0; i < samples.size(); i += 997) {
        samples[i] = int16_t(i % 2 == 0 ? -32768 : 32767);
    }
    for (uint32_t blockBytes : {64u, 128u, 192u, 256u, 512u, 1024u, 4096u}) {
        for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
            const size_t perBlock = blockBytes / 2;
            const size_t entries = (samples.size() + perBlock - 1) / perBlock;
            for (size_t piece : {samples.size(), size_t(32768), size_t(perBlock + 2), size_t(6)}) {
                auto table = memoryTable(blockBytes);
                table->beginBuild(channels);
                for (size_t at = 0; at < samples.size(); at += piece) {
                    table->addBlocks(samples.data() + at, std::min(piece, samples.size() - at) * 2);
                }
                table->endBuild();
                ASSERT_EQ(table->entries(), entries);
                for (size_t e = 0; e < entries; ++e) {
                    for (uint16_t c = 0; c < channels; ++c) {
                        int16_t high = -32768;
                        int16_t low = 32767;
                        for (size_t i = e * perBlock + c; i < std::min(samples.size(), (e + 1) * perBlock);
                             i += channels) {
                            high = std::max(high, samples[i]);
                            low = std::min(low, samples[i]);
                        }
                        const PeakWord word = table->peak(e, c);
                        ASSERT_EQ(word.max, high) << blockBytes << " " << channels << " " << piece << " " << e;
                        ASSERT_EQ(word.min, low) << blockBytes << " " << channels << " " << piece << " " << e;
                    }
                }
            }
        }
    }
}

TEST(PeakTable, ItDescribesTheStoreOnlyAfterAWholeBuildAndUntilTheStoreChanges) {
    const auto samples = cleavix::test::testSignal(2 * 5000, 3);
    TFileAndMemoryStream store = storeOf(samples);
    const SampleFormat format = stereoFormatOf(samples);
    auto table = memoryTable(128);
    EXPECT_FALSE(table->describes(store, format));
    rebuildPeaks(store, format, *table);
    EXPECT_TRUE(table->describes(store, format));
    // Another store with the same bytes is not the one it was built from.
    TFileAndMemoryStream twin = storeOf(samples);
    EXPECT_FALSE(table->describes(twin, format));
    // Another length or channel count is not what it was built for.
    SampleFormat mono = format;
    mono.channels = 1;
    EXPECT_FALSE(table->describes(store, mono));
    SampleFormat shorter = format;
    shorter.dataLength -= 256;
    EXPECT_FALSE(table->describes(store, shorter));
    shorter.dataLength = format.dataLength - 4; // as many entries, fewer bytes
    EXPECT_FALSE(table->describes(store, shorter));
    // A write to the store, a new block size or a reset ends it.
    store.writeAllAt(0, samples.data(), 2);
    EXPECT_FALSE(table->describes(store, format));
    rebuildPeaks(store, format, *table);
    table->setBlockBytes(256);
    EXPECT_FALSE(table->describes(store, format));
    rebuildPeaks(store, format, *table);
    table->reset();
    EXPECT_FALSE(table->describes(store, format));
    // A rebuild stopped part way covers part of the store only.
    BlockProgress progress;
    progress.stop = [] { return true; };
    rebuildPeaks(store, format, *table, progress);
    EXPECT_FALSE(table->describes(store, format));
}

namespace {

std::vector<int32_t> wordsOf(const PeakTable& table) {
    std::vector<int32_t> words(size_t(table.entries()) * table.channels());
    EXPECT_EQ(table.readWords(0, words.data(), words.size()), words.size());
    return words;
}

} // namespace

TEST(PeakTable, ATableSetAsideComesBackOnlyForItsMarkAndAFittingFormat) {
    auto samples = cleavix::test::testSignal(2 * 30001, 3);
    TFileAndMemoryStream store = storeOf(samples);
    const SampleFormat format = stereoFormatOf(samples);
    auto table = memoryTable(128);
    rebuildPeaks(store, format, *table);
    const auto before = wordsOf(*table);
    const uint64_t mark = store.changes();
    // Without a spare nothing goes aside.
    EXPECT_FALSE(table->setAside(mark));
    table->setSpareBacking(std::make_unique<TFileAndMemoryStream>());
    EXPECT_FALSE(table->setAside(mark + 12345)) << "built from another mark";
    ASSERT_TRUE(table->setAside(mark));
    EXPECT_EQ(table->entries(), 0u);
    EXPECT_FALSE(table->describes(store, format));

    // The store changes (an edit), its table is built; then the bytes go back (its undo).
    const std::vector<int16_t> loud(64, 30000);
    store.writeAllAt(4000, loud.data(), loud.size() * 2);
    rebuildPeaks(store, format, *table);
    const auto edited = wordsOf(*table);
    const uint64_t editedMark = store.changes();
    store.writeAllAt(4000, samples.data() + 2000, loud.size() * 2);
    SampleFormat mono = format;
    mono.channels = 1;
    EXPECT_FALSE(table->bringBack(mark, store, mono));
    SampleFormat shorter = format;
    shorter.dataLength -= 128;
    EXPECT_FALSE(table->bringBack(mark, store, shorter));
    EXPECT_FALSE(table->bringBack(editedMark, store, format)) << "nothing was set aside at that mark";
    ASSERT_TRUE(table->bringBack(mark, store, format));
    EXPECT_TRUE(table->describes(store, format));
    EXPECT_EQ(wordsOf(*table), before);
    // The edited table went aside in its turn, with its own mark.
    const auto backAgain = store.changes();
    store.writeAllAt(4000, loud.data(), loud.size() * 2);
    ASSERT_TRUE(table->bringBack(editedMark, store, format));
    EXPECT_EQ(wordsOf(*table), edited);
    // And back once more (a redo of the undo): the table of the restored bytes, marked then.
    store.writeAllAt(4000, samples.data() + 2000, loud.size() * 2);
    ASSERT_TRUE(table->bringBack(backAgain, store, format));
    EXPECT_EQ(wordsOf(*table), before);

    // Forgotten (as a load forgets it): nothing comes back.
    table->forgetSpare();
    EXPECT_FALSE(table->bringBack(mark, store, format));
}

TEST(PeakTable, ARebuildKeepingTheUnchangedStartEqualsAWholeRebuild) {
    for (const uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        auto samples = cleavix::test::testSignal(2 * 40001, 9);
        TFileAndMemoryStream store = storeOf(samples);
        SampleFormat format = stereoFormatOf(samples);
        format.channels = channels;
        auto table = memoryTable(192);
        table->setSpareBacking(std::make_unique<TFileAndMemoryStream>());
        rebuildPeaks(store, format, *table);
        for (const uint64_t unchanged : {uint64_t(0), uint64_t(191), uint64_t(192), uint64_t(50000), uint64_t(160004),
                                         uint64_t(format.dataLength), uint64_t(format.dataLength) + 999}) {
            ASSERT_TRUE(table->setAside(store.changes()));
            // A cut at `unchanged` (the store shortened there by 100 bytes, not a whole block).
            std::vector<int16_t> cut = samples;
            const size_t at = std::min<size_t>(unchanged / 2, cut.size());
            cut.erase(cut.begin() + long(at), cut.begin() + long(std::min(cut.size(), at + 50)));
            store.setSize(0);
            store.writeAllAt(0, cut.data(), cut.size() * 2);
            SampleFormat cutFormat = format;
            cutFormat.dataLength = uint32_t(cut.size() * 2);
            rebuildPeaks(store, cutFormat, *table, {}, unchanged);
            EXPECT_TRUE(table->describes(store, cutFormat));
            auto whole = memoryTable(192);
            rebuildPeaks(store, cutFormat, *whole);
            EXPECT_EQ(wordsOf(*table), wordsOf(*whole)) << channels << " channels, " << unchanged << " bytes kept";
            // Back to the samples for the next round, with a table of them.
            store.setSize(0);
            store.writeAllAt(0, samples.data(), samples.size() * 2);
            rebuildPeaks(store, format, *table);
        }
    }
}

namespace {

SampleTotals totalsOf(const std::vector<int16_t>& samples) {
    SampleTotals t;
    for (const int16_t v : samples) {
        t.lowest = std::min<int>(t.lowest, v);
        t.highest = std::max<int>(t.highest, v);
        t.sum += v;
    }
    t.count = samples.size();
    return t;
}

void expectTotals(const std::optional<SampleTotals>& got, const SampleTotals& want, const std::string& what) {
    ASSERT_TRUE(got.has_value()) << what;
    EXPECT_EQ(got->lowest, want.lowest) << what;
    EXPECT_EQ(got->highest, want.highest) << what;
    EXPECT_EQ(got->sum, want.sum) << what;
    EXPECT_EQ(got->count, want.count) << what;
}

} // namespace

// The normalise takes the whole sample's extremes and sum from the table's build: they must be
// exact whatever the chunks and block size, and offered only while they hold for the store.
TEST(PeakTable, TheTotalsOfAWholeBuildAreExactAndKeptOnlyWhileTheyHold) {
    for (const uint32_t blockBytes : {128u, 192u}) {
        for (const size_t count : {size_t(4), size_t(2 * 70001), size_t(2 * 300000)}) {
            auto samples = cleavix::test::testSignal(count, 11);
            samples[count / 3] = -32768; // the extremes inside a block the vector path takes
            samples[count / 2 + 1] = 32767;
            TFileAndMemoryStream store = storeOf(samples);
            const SampleFormat format = stereoFormatOf(samples);
            const SampleTotals want = totalsOf(samples);
            const std::string what = std::to_string(blockBytes) + " " + std::to_string(count);
            auto table = memoryTable(blockBytes);
            EXPECT_FALSE(table->totals(store, format)) << "nothing built";
            rebuildPeaks(store, format, *table);
            expectTotals(table->totals(store, format), want, what + " rebuilt");

            // Fed in uneven chunks, as the load and the normalise feed it.
            auto pieces = memoryTable(blockBytes);
            pieces->beginBuild(2);
            for (size_t at = 0, chunk = 6; at < samples.size(); chunk = chunk * 7 % 9000 + 2) {
                const size_t n = std::min(chunk, samples.size() - at);
                pieces->addBlocks(samples.data() + at, n * 2);
                at += n;
            }
            pieces->endBuild();
            EXPECT_FALSE(pieces->totals(store, format)) << "not marked with the store yet";
            pieces->builtFrom(store, format.dataLength);
            expectTotals(pieces->totals(store, format), want, what + " fed");

            // Another format, or a changed store: none.
            SampleFormat mono = format;
            mono.channels = 1;
            EXPECT_FALSE(pieces->totals(store, mono));
            const int16_t one = 5;
            store.writeAllAt(0, &one, 2);
            EXPECT_FALSE(pieces->totals(store, format)) << what;
        }
    }

    // A build that keeps entries of the table set aside has not seen their samples; the table
    // brought back by an undo brings its own totals.
    const auto samples = cleavix::test::testSignal(2 * 40000, 5);
    TFileAndMemoryStream store = storeOf(samples);
    const SampleFormat format = stereoFormatOf(samples);
    auto table = memoryTable(128);
    table->setSpareBacking(std::make_unique<TFileAndMemoryStream>());
    rebuildPeaks(store, format, *table);
    const uint64_t mark = store.changes();
    ASSERT_TRUE(table->setAside(mark));
    auto edited = samples;
    std::fill(edited.begin() + 60000, edited.begin() + 60064, int16_t(-31000));
    store.writeAllAt(120000, edited.data() + 60000, 128);
    rebuildPeaks(store, format, *table, {}, 120000);
    EXPECT_TRUE(table->describes(store, format));
    EXPECT_FALSE(table->totals(store, format)) << "the kept start was not fed";
    store.writeAllAt(120000, samples.data() + 60000, 128); // the undo
    ASSERT_TRUE(table->bringBack(mark, store, format));
    expectTotals(table->totals(store, format), totalsOf(samples), "brought back");
    // A half sample fed: the totals no longer match.
    table->beginBuild(2);
    table->addBlocks(samples.data(), 3);
    table->endBuild();
    SampleFormat tiny = format;
    tiny.dataLength = 3;
    table->builtFrom(store, 3);
    EXPECT_FALSE(table->totals(store, tiny));
}
