#include "sample/PeakTable.h"

#include "sample/IoBuffer.h"
#include "sample/PeakKernels.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cleavix::sample {

namespace {
constexpr size_t kPendingWords = 16384; // words gathered before one write to the table's file
} // namespace

uint32_t peakBlockBytesFromSetting(long long waveCacheSize) {
    if (waveCacheSize <= 0 || waveCacheSize % 64 != 0 || waveCacheSize > (1 << 20)) {
        return 128;
    }
    return static_cast<uint32_t>(waveCacheSize);
}

PeakTable::PeakTable(std::unique_ptr<TFileAndMemoryStream> backing, uint32_t peakBlockBytes)
    : backing_(std::move(backing)), blockBytes_(peakBlockBytes) {}

PeakTable::~PeakTable() { ReleaseWorkFile(spare_.backing); }

size_t PeakTable::readWords(uint64_t first, int32_t* out, size_t count) const {
    const uint64_t total = entries_ * channels_;
    if (first >= total) {
        return 0;
    }
    count = static_cast<size_t>(std::min<uint64_t>(count, total - first));
    const size_t bytes = backing_->readAt(first * 4, out, count * 4);
    return bytes / 4;
}

PeakWord PeakTable::peak(uint64_t entry, uint16_t channel) const {
    int32_t word = packPeak(-32768, 32767);
    readWords(entry * channels_ + channel, &word, 1);
    return unpackPeak(word);
}

bool PeakTable::describes(const TFileAndMemoryStream& store, const SampleFormat& format) const {
    return builtFrom_ != 0 && builtFrom_ == store.changes() && builtLength_ == format.dataLength &&
           channels_ == (format.channels == 2 ? 2 : 1) && blockBytes_ > 0 &&
           entries_ == (uint64_t(format.dataLength) + blockBytes_ - 1) / blockBytes_;
}

std::optional<SampleTotals> PeakTable::totals(const TFileAndMemoryStream& store, const SampleFormat& format) const {
    if (!fedWhole_ || !describes(store, format) || fed_.count * 2 != format.dataLength) {
        return std::nullopt;
    }
    return fed_;
}

void PeakTable::setSpareBacking(std::unique_ptr<TFileAndMemoryStream> backing) {
    spare_ = {};
    spare_.backing = std::move(backing);
}

void PeakTable::swapWithSpare() {
    std::swap(backing_, spare_.backing);
    std::swap(blockBytes_, spare_.blockBytes);
    std::swap(channels_, spare_.channels);
    std::swap(entries_, spare_.entries);
    std::swap(builtFrom_, spare_.builtFrom);
    std::swap(builtLength_, spare_.builtLength);
    std::swap(fed_, spare_.fed);
    std::swap(fedWhole_, spare_.fedWhole);
}

bool PeakTable::setAside(uint64_t mark) {
    if (!spare_.backing || mark == 0 || builtFrom_ != mark || inBlock_ != 0 || !pending_.empty()) {
        return false;
    }
    const uint32_t blockBytes = blockBytes_;
    swapWithSpare();
    blockBytes_ = blockBytes; // the new table is built at the current size
    reset();
    return true;
}

bool PeakTable::bringBack(uint64_t mark, const TFileAndMemoryStream& store, const SampleFormat& format) {
    const uint16_t channels = format.channels == 2 ? 2 : 1;
    if (!spare_.backing || mark == 0 || spare_.builtFrom != mark || spare_.blockBytes != blockBytes_ ||
        spare_.channels != channels || spare_.builtLength != format.dataLength || blockBytes_ == 0 ||
        spare_.entries != (uint64_t(format.dataLength) + blockBytes_ - 1) / blockBytes_ || inBlock_ != 0 ||
        !pending_.empty()) {
        return false;
    }
    swapWithSpare();
    builtFrom(store, format.dataLength);
    return true;
}

void PeakTable::forgetSpare() {
    spare_.builtFrom = 0;
    spare_.entries = 0;
    spare_.fedWhole = false;
    if (spare_.backing) {
        spare_.backing->clear();
    }
}

void PeakTable::reset() {
    builtFrom_ = 0;
    backing_->clear();
    entries_ = 0;
    pending_.clear();
    inBlock_ = 0;
    max_[0] = max_[1] = -32768;
    min_[0] = min_[1] = 32767;
    fed_ = {};
    fedWhole_ = false;
}

void PeakTable::beginBuild(uint16_t channels) {
    reset();
    channels_ = channels == 2 ? 2 : 1;
    pending_.reserve(kPendingWords);
    fedWhole_ = true;
}

uint64_t PeakTable::beginBuildKeeping(uint16_t channels, uint64_t entries) {
    beginBuild(channels);
    if (!spare_.backing || spare_.builtFrom == 0 || spare_.channels != channels_ || spare_.blockBytes != blockBytes_) {
        return 0;
    }
    entries = std::min(entries, spare_.entries);
    const uint64_t bytes = entries * channels_ * 4;
    uint64_t done = 0;
    const int64_t copied = bytes > 0 ? backing_->copyRangeFrom(*spare_.backing, 0, 0, size_t(bytes)) : 0;
    if (copied > 0) {
        done = uint64_t(copied);
    }
    // What the kernel did not copy goes through memory.
    IoBuffer<uint8_t> buffer(done < bytes ? size_t(std::min<uint64_t>(bytes - done, 1 << 20)) : 0);
    while (done < bytes) {
        const size_t want = size_t(std::min<uint64_t>(buffer.size(), bytes - done));
        const size_t got = spare_.backing->readAt(done, buffer.data(), want);
        if (got != want) {
            throw StreamError("The peak table set aside is shorter than its entries");
        }
        backing_->writeAllAt(done, buffer.data(), got);
        done += got;
    }
    entries_ = entries;
    fedWhole_ = entries == 0; // the kept entries' samples are not fed
    return entries;
}

namespace {

// The exact sum of `count` samples.
int64_t sumOf(const int16_t* samples, size_t count) {
    int64_t sum = 0;
    size_t k = 0;
#if defined(__SSE2__)
    // Pairs of samples summed into 32-bit lanes, each lane taking at most 2 * 32768 a round: 16384
    // rounds stay far inside its range before the lanes are widened.
    const __m128i ones = _mm_set1_epi16(1);
    while (k + 8 <= count) {
        const size_t rounds = std::min<size_t>(16384, (count - k) / 8);
        __m128i lanes = _mm_setzero_si128();
        for (size_t r = 0; r < rounds; ++r, k += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + k));
            lanes = _mm_add_epi32(lanes, _mm_madd_epi16(v, ones));
        }
        alignas(16) int32_t t[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(t), lanes);
        sum += int64_t(t[0]) + t[1] + t[2] + t[3];
    }
#endif
    for (; k < count; ++k) {
        sum += samples[k];
    }
    return sum;
}

} // namespace

void PeakTable::addBlocks(const int16_t* samples, size_t bytes) {
    // Blocks run on across calls, so every entry covers exactly blockBytes of the store (whatever
    // the caller's chunk size) and an entry's position is simply entry * blockBytes.
    const size_t samplesPerBlock = blockBytes_ / 2;
    const size_t total = bytes / 2;
    if (bytes % 2 != 0) {
        fedWhole_ = false; // half a sample: the totals no longer match the store's bytes
    }
    fed_.count += total;
    size_t i = 0;
    // Whole blocks from a block boundary (the load's and the rebuild's usual case) through the
    // kernel; the words are the same as the general loop's below.
    if (inBlock_ == 0 && samplesPerBlock % 32 == 0 && samplesPerBlock > 0) {
        static const WholeBlocksFunction wholeBlocks = bestWholeBlocks();
        BlockTotals seen;
        while (i + samplesPerBlock <= total) {
            // As many blocks as the pending words have room for, written in place.
            const size_t room = std::max<size_t>(1, (kPendingWords - std::min(kPendingWords, pending_.size())) / channels_);
            const size_t blocks = std::min(room, (total - i) / samplesPerBlock);
            const size_t at = pending_.size();
            pending_.resize(at + blocks * channels_);
            wholeBlocks(samples + i, blocks, samplesPerBlock, channels_, pending_.data() + at, seen);
            i += blocks * samplesPerBlock;
            entries_ += blocks;
            if (pending_.size() >= kPendingWords) {
                flushWords();
            }
        }
        fed_.lowest = std::min(fed_.lowest, seen.lowest);
        fed_.highest = std::max(fed_.highest, seen.highest);
        fed_.sum += seen.sum;
    }
    fed_.sum += sumOf(samples + i, total - i);
    while (i < total) {
        const size_t take = std::min(total - i, samplesPerBlock - inBlock_);
        const size_t end = i + take;
        if (channels_ == 2 && (inBlock_ % 2) == 0 && (take % 2) == 0) {
            // Whole frames (the usual case). Lane j of the accumulators sees the samples k with
            // k = j (mod 8), so even lanes hold left and odd lanes right: the loop runs in vector
            // registers without separating the channels first.
            constexpr size_t kLanes = 8;
            int16_t hi[kLanes];
            int16_t lo[kLanes];
            for (size_t j = 0; j < kLanes; ++j) {
                hi[j] = static_cast<int16_t>(max_[j & 1]);
                lo[j] = static_cast<int16_t>(min_[j & 1]);
            }
            size_t k = i;
            for (; k + kLanes <= end; k += kLanes) {
                for (size_t j = 0; j < kLanes; ++j) {
                    const int16_t v = samples[k + j];
                    hi[j] = v > hi[j] ? v : hi[j];
                    lo[j] = v < lo[j] ? v : lo[j];
                }
            }
            for (size_t j = 0; k < end; ++k, ++j) {
                const int16_t v = samples[k];
                hi[j] = v > hi[j] ? v : hi[j];
                lo[j] = v < lo[j] ? v : lo[j];
            }
            max_[0] = std::max(std::max(hi[0], hi[2]), std::max(hi[4], hi[6]));
            max_[1] = std::max(std::max(hi[1], hi[3]), std::max(hi[5], hi[7]));
            min_[0] = std::min(std::min(lo[0], lo[2]), std::min(lo[4], lo[6]));
            min_[1] = std::min(std::min(lo[1], lo[3]), std::min(lo[5], lo[7]));
        } else if (channels_ == 2) {
            // A block boundary inside a frame (callers feeding odd sample counts).
            for (size_t k = i; k < end; ++k) {
                const int c = static_cast<int>((inBlock_ + (k - i)) & 1);
                max_[c] = std::max<int32_t>(max_[c], samples[k]);
                min_[c] = std::min<int32_t>(min_[c], samples[k]);
            }
        } else {
            int32_t mx = max_[0], mn = min_[0];
            for (size_t k = i; k < end; ++k) {
                const int32_t v = samples[k];
                mx = v > mx ? v : mx;
                mn = v < mn ? v : mn;
            }
            max_[0] = mx;
            min_[0] = mn;
        }
        inBlock_ += take;
        i = end;
        if (inBlock_ == samplesPerBlock) {
            closeBlock();
        }
    }
}

void PeakTable::closeBlock() {
    pending_.push_back(packPeak(max_[0], min_[0]));
    fed_.lowest = std::min(fed_.lowest, min_[0]);
    fed_.highest = std::max(fed_.highest, max_[0]);
    if (channels_ == 2) {
        pending_.push_back(packPeak(max_[1], min_[1]));
        fed_.lowest = std::min(fed_.lowest, min_[1]);
        fed_.highest = std::max(fed_.highest, max_[1]);
    }
    ++entries_;
    inBlock_ = 0;
    max_[0] = max_[1] = -32768;
    min_[0] = min_[1] = 32767;
    if (pending_.size() >= kPendingWords) {
        flushWords();
    }
}

void PeakTable::flushWords() {
    if (pending_.empty()) {
        return;
    }
    backing_->seek(0, TFileAndMemoryStream::Origin::End);
    backing_->writeAll(pending_.data(), pending_.size() * 4);
    pending_.clear();
}

void PeakTable::endBuild() {
    if (inBlock_ > 0) {
        closeBlock(); // the last block is as long as what is left
    }
    flushWords();
}

void rebuildPeaks(const TFileAndMemoryStream& store, const SampleFormat& format, PeakTable& table,
                  const BlockProgress& progress, uint64_t keepBytes) {
    constexpr size_t kChunk = 131072;
    const uint64_t total = format.dataLength;
    const uint64_t keep = table.blockBytes() > 0 ? std::min<uint64_t>(keepBytes, total) / table.blockBytes() : 0;
    uint64_t done = table.beginBuildKeeping(format.channels, keep) * table.blockBytes();
    IoBuffer<int16_t> buffer(kChunk / 2);
    while (done < total) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, total - done));
        const size_t got = store.readAt(done, buffer.data(), want);
        if (got == 0) {
            break;
        }
        table.addBlocks(buffer.data(), got);
        done += got;
        if (progress.report) {
            progress.report(done, total);
        }
        if (progress.stop && progress.stop()) {
            table.endBuild();
            return; // a part of the store only
        }
    }
    table.endBuild();
    if (done == total) {
        table.builtFrom(store, total); // every byte of the audio was there
    }
}

} // namespace cleavix::sample
