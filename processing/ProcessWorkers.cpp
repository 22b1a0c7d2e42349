#include "processing/ProcessWorkers.h"

#include "editing/Blocks.h"
#include "editing/EditWorkers.h"
#include "sample/BlockAnalysis.h"
#include "sample/IoBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cleavix::processing {

using editing::Pace;

int16_t invertSample(int16_t v) { return int16_t(-1 - int(v)); }

int16_t quantiseSample(int16_t v, int level) {
    const int q = 1 << (16 - std::clamp(level, 0, 16));
    return int16_t(q * (int(v) / q));
}

int16_t normaliseSample(int16_t v, double offset, double gain) {
    // Above 100 % the result may leave the 16-bit range: it is held at full scale rather than
    // wrapping round to the opposite sign.
    const double scaled = std::trunc((double(v) - offset) * gain);
    return int16_t(std::clamp(scaled, -32768.0, 32767.0));
}

int16_t fadeSample(int16_t v, int i) { return int16_t(std::nearbyint(double(v) * (249 - i) / 249.0)); }

int16_t quantiseShifted(int16_t v, int shift) {
    // Division by 2^shift rounding toward zero, as int division does: negative values are
    // raised by 2^shift - 1 before the arithmetic shift.
    const int q = 1 << shift;
    const int x = v;
    return int16_t(((x + ((x >> 31) & (q - 1))) >> shift) * q);
}

namespace {

// Above this many samples the normalise looks its results up in a table of all 65536 inputs.
constexpr uint64_t kTableAfter = 65536;

int16_t wordAt(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }
void setWordAt(uint8_t* p, int16_t v) {
    p[0] = uint8_t(uint16_t(v));
    p[1] = uint8_t(uint16_t(v) >> 8);
}

// Which words of a range a process touches: every word, or one word of each frame.
struct Words {
    size_t step = 1;  // in words
    size_t first = 0; // word offset within a step
    bool takes(size_t wordIndex) const { return wordIndex % step == first; }
    // The first word a process takes in a block whose first word has index `at`, as an offset into the block.
    size_t firstIn(size_t at) const { return (first + step - at % step) % step; }
};

// For Invert, Normalise and Quantise: the range is whole frames; one channel picks its word.
Words channelWords(const editing::Editor& editor) {
    const auto& e = editor.edit();
    if (editor.store().format().channels == 2 && e.processChannel != 3) {
        return {2, size_t(e.processChannel == 1 ? 0 : 1)};
    }
    return {1, 0};
}

uint32_t clampedEnd(editing::Editor& editor) {
    return std::min(editor.edit().opEnd, editor.store().dataLength());
}

// Reads [start + done, start + done + n) into the block; what lies past the store reads as silence.
void readBlock(const sample::TFileAndMemoryStream& data, uint64_t at, int16_t* block, size_t n) {
    const size_t got = data.readAt(at, block, n);
    if (got < n) {
        std::memset(reinterpret_cast<uint8_t*>(block) + got, 0, n - got);
    }
}

// The peak table a process of the whole sample builds from the blocks it writes, in order from
// the store's first byte, rather than read the store once more after. A table that finds no room
// on the disk is given up and built after, as after any process.
class PeaksOnTheWay {
public:
    explicit PeaksOnTheWay(editing::Editor& editor)
        : editor_(editor), channels_(editor.store().format().channels), dataLength_(editor.store().dataLength()) {
        editing::beginPeaksOnTheWay(editor, channels_);
    }
    // The next written bytes of the store.
    void add(const int16_t* block, size_t bytes) {
        if (failed_) {
            return;
        }
        try {
            editor_.peaks().addBlocks(block, bytes);
        } catch (const sample::StreamError&) {
            failed_ = true; // no room for the table: the audio goes on, the table is rebuilt after
        }
    }
    // A write of the store failed: the table half built describes the store as it is again.
    void writeFailed(Pace& pace) {
        try {
            editing::dropPeaksAside(editor_);
            editing::rebuildPeaksOnly(editor_, pace, dataLength_, channels_, true);
        } catch (...) {
        }
    }
    // Every byte written: true when the table is whole. Otherwise the disk had no room for it
    // beside the one set aside: that one goes and the caller's finish() builds the table as it
    // would have been.
    bool end(Pace& pace) {
        if (!failed_) {
            try {
                editing::endPeaksOnTheWay(editor_, pace, dataLength_);
                return true;
            } catch (const sample::StreamError&) {
            }
        }
        editing::dropPeaksAside(editor_);
        return false;
    }

private:
    editing::Editor& editor_;
    uint16_t channels_;
    uint32_t dataLength_;
    bool failed_ = false;
};

// Reads, changes and writes back the words `words` picks of [start, end) in blocks; fn maps one
// sample to its new value. With `analysis` (block at most its slot size) the blocks go through its
// slots and on to it once written; with `peaks` they are added to the table as they are written.
// Returns false when stopped.
template <class Fn>
bool transform(editing::Editor& editor, Pace& pace, uint32_t start, uint32_t end, size_t block, int from, int to,
               const Words& words, Fn fn, sample::BlockAnalysis* analysis = nullptr,
               PeaksOnTheWay* peaks = nullptr) {
    auto& data = editor.store().stream();
    const uint64_t total = end > start ? end - start : 0;
    sample::IoBuffer<int16_t> buffer(analysis != nullptr ? 0 : size_t(std::min<uint64_t>(block, total) + 1) / 2);
    int16_t* slot = nullptr;
    size_t inSlot = 0; // bytes of the slot filled
    for (uint64_t done = 0; done < total;) {
        const size_t n = size_t(std::min<uint64_t>(block, total - done));
        if (analysis != nullptr && slot == nullptr) {
            slot = analysis->freeSlot();
            inSlot = 0;
        }
        int16_t* w = analysis != nullptr ? slot + inSlot / 2 : buffer.data();
        readBlock(data, start + done, w, n);
        const size_t count = n / 2;
        if (words.step == 1) {
            for (size_t k = 0; k < count; ++k) {
                w[k] = fn(w[k]);
            }
        } else {
            for (size_t k = words.firstIn(size_t(done / 2)); k < count; k += words.step) {
                w[k] = fn(w[k]);
            }
        }
        data.writeAllAt(start + done, w, n);
        if (peaks != nullptr) {
            peaks->add(w, n); // while the block is fresh in the cache
        }
        done += n;
        if (analysis != nullptr) {
            inSlot += n;
            if (inSlot + block > sample::BlockAnalysis::kSlotBytes || done == total) {
                analysis->hand(inSlot);
                slot = nullptr;
            }
        }
        pace.report(double(done), double(total), from, to);
        if (done < total && pace.stopped()) {
            return false;
        }
    }
    return true;
}

// Builds the peak table and feeds the detection from the blocks a transform has written, on the
// thread of its block analysis, which reads them anyway for the detection. A table with no room
// on the disk is given up, as on the transform's own thread.
class TableAndDetectionFeed final : public sample::LoadObserver {
public:
    TableAndDetectionFeed(PeaksOnTheWay& peaks, slicing::OnsetDetector& detector) : peaks_(peaks), detector_(detector) {}
    void begin(const sample::SampleFormat&) override {}
    void addSamples(const int16_t* samples, size_t count) override {
        peaks_.add(samples, count * 2);
        detector_.feed(samples, count);
    }

private:
    PeaksOnTheWay& peaks_;
    slicing::OnsetDetector& detector_;
};

// A transform of the whole sample, every word, that builds the peak table from the blocks it
// writes rather than read the store once more after, and with `detector` makes the detection of
// what it writes too (both on a helper thread). Returns false when stopped; `tableBuilt` tells
// whether the table is whole (else finish() builds it, as after any transform).
template <class Fn>
bool transformWhole(editing::Editor& editor, Pace& pace, int from, int to, Fn fn, slicing::OnsetDetector* detector,
                    bool& tableBuilt) {
    tableBuilt = false;
    const uint32_t dataLength = editor.store().dataLength();
    PeaksOnTheWay peaks(editor);
    // Without a detection the blocks need no ring: one buffer, kept in the cache, does.
    std::optional<TableAndDetectionFeed> feed;
    std::optional<sample::BlockAnalysis> analysis;
    if (detector != nullptr) {
        feed.emplace(peaks, *detector);
        analysis.emplace(&*feed, dataLength);
    }
    bool complete = false;
    try {
        complete = transform(editor, pace, 0, dataLength, 32768, from, to, Words{}, fn,
                             analysis ? &*analysis : nullptr, analysis ? nullptr : &peaks);
        if (complete && analysis) {
            analysis->finish();
        }
    } catch (...) {
        analysis.reset(); // its thread is done with the table from here
        peaks.writeFailed(pace);
        throw;
    }
    analysis.reset();
    if (!complete) {
        return false;
    }
    tableBuilt = peaks.end(pace);
    return true;
}

// Whether a process over [start, end) of `words` covers every word of the sample.
bool wholeSample(const editing::Editor& editor, uint32_t start, uint32_t end, const Words& words) {
    return words.step == 1 && start == 0 && end == editor.store().dataLength();
}

// What the normalise needs to know of the samples it changes: their extremes, sum and count.
struct Levels {
    int lowest = 32767;
    int highest = -32768;
    int64_t sum = 0; // exact: 2^31 samples of at most 2^15 stay far below 2^63
    uint64_t count = 0;
};

#if defined(__SSE2__)
// The extremes and sum of the first count - count % 8 samples, 8 at a time, folded into lowest,
// highest and sum; returns how many samples it took. At most 32768 samples: each 32-bit lane of
// the sum then holds at most 8192 of them, well inside its range.
size_t levelsOfEights(const int16_t* w, size_t count, int& lowest, int& highest, int64_t& sum) {
    const size_t whole = count - count % 8;
    if (whole == 0) {
        return 0;
    }
    const __m128i ones = _mm_set1_epi16(1);
    __m128i lo = _mm_set1_epi16(int16_t(std::max(lowest, -32768)));
    __m128i hi = _mm_set1_epi16(int16_t(std::min(highest, 32767)));
    __m128i total = _mm_setzero_si128();
    for (size_t k = 0; k < whole; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k));
        lo = _mm_min_epi16(lo, v);
        hi = _mm_max_epi16(hi, v);
        total = _mm_add_epi32(total, _mm_madd_epi16(v, ones)); // pairs of samples, as 32-bit sums
    }
    alignas(16) int16_t l[8];
    alignas(16) int16_t h[8];
    alignas(16) int32_t t[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(t), total);
    for (int j = 0; j < 8; ++j) {
        lowest = std::min<int>(lowest, l[j]);
        highest = std::max<int>(highest, h[j]);
    }
    sum += int64_t(t[0]) + t[1] + t[2] + t[3];
    return whole;
}
#endif

// One pass over the samples `words` picks of [start, end), in blocks. False when stopped.
bool measure(editing::Editor& editor, Pace& pace, uint32_t start, uint32_t end, const Words& words, int from, int to,
             Levels& levels) {
    auto& data = editor.store().stream();
    const uint64_t total = end > start ? end - start : 0;
    constexpr size_t kBlock = 32768;
    sample::IoBuffer<int16_t> buffer(size_t(std::min<uint64_t>(kBlock, total) + 1) / 2);
    for (uint64_t done = 0; done < total;) {
        const size_t n = size_t(std::min<uint64_t>(kBlock, total - done));
        const int16_t* w = buffer.data();
        readBlock(data, start + done, buffer.data(), n);
        const size_t count = n / 2;
        int lowest = levels.lowest;
        int highest = levels.highest;
        int64_t sum = 0;
        size_t taken = 0;
        size_t k = words.firstIn(size_t(done / 2));
#if defined(__SSE2__)
        if (words.step == 1) {
            k = levelsOfEights(w, count, lowest, highest, sum);
            taken = k;
        }
#endif
        for (; k < count; k += words.step) {
            const int v = w[k];
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
            sum += v;
            ++taken;
        }
        levels.lowest = lowest;
        levels.highest = highest;
        levels.sum += sum;
        levels.count += taken;
        done += n;
        pace.report(double(done), double(total), from, to);
        if (done < total && pace.stopped()) {
            return false;
        }
    }
    return true;
}

// The m units of `in` into `out` in reverse order; of each unit the first Keep bytes (a size the
// compiler knows, so each copy is one move).
template <size_t Unit, size_t Keep>
void reverseUnits(const uint8_t* in, uint8_t* out, size_t m) {
    for (size_t j = 0; j < m; ++j) {
        std::memcpy(out + (m - 1 - j) * Unit, in + j * Unit, Keep);
    }
}

void finish(editing::Editor& editor, Pace& pace, bool stopped) {
    editing::rebuildPeaksAfter(editor, pace, editor.store().dataLength(), editor.store().format().channels, stopped);
}

} // namespace

void TSilenceThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    const uint32_t end = clampedEnd(editor_);
    if (!editing::makeBackup(editor_, context, pace, e.opStart, end - e.opStart, jobs::ProcessMode::Silencing,
                             false)) {
        finish(editor_, pace, true);
        return;
    }
    e.applied = true;
    const uint16_t channels = editor_.store().format().channels;
    const Words words{e.channelStep, 0};
    uint32_t zeroFrom = e.opStart;
    if (e.fadeLeadIn) {
        // The 250 frames before the range fade out, so the silence does not start with a click.
        const uint32_t fadeBytes = 500u * channels;
        auto& data = editor_.store().stream();
        std::vector<uint8_t> fade(fadeBytes, 0);
        data.readAt(e.opStart, fade.data(), fadeBytes);
        const size_t perFrame = channels; // words per frame
        for (size_t w = 0; w < fadeBytes / 2; ++w) {
            if (words.takes(w) || e.channelStep == 1) {
                setWordAt(fade.data() + w * 2, fadeSample(wordAt(fade.data() + w * 2), int(w / perFrame)));
            }
        }
        data.writeAllAt(e.opStart, fade.data(), fadeBytes);
        zeroFrom = e.opStart + fadeBytes;
    }
    const bool complete =
        transform(editor_, pace, zeroFrom, end, editing::kCopyBlock, 0, 100, words, [](int16_t) { return int16_t(0); });
    finish(editor_, pace, !complete);
}

void TReverseThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    const uint32_t dataLength = editor_.store().dataLength();
    const uint32_t end = clampedEnd(editor_);
    if (!editing::makeBackup(editor_, context, pace, e.opStart, end - e.opStart, jobs::ProcessMode::Reversing, true)) {
        finish(editor_, pace, true);
        return;
    }
    e.applied = true;
    sample::TFileAndMemoryStream& backup = *editor_.backupStream();
    auto& data = editor_.store().stream();
    const uint16_t channels = editor_.store().format().channels;
    // unit: the bytes that move as one piece; keep: the bytes of a unit the reverse writes.
    const size_t unit = channels == 2 ? 4 : 2;
    const size_t keep = e.channelStep == 2 ? 2 : unit;
    // One channel of stereo: the range runs 2 bytes into the frame at each end, and its last
    // frame's word lies at opEnd - 4.
    const uint64_t units = (uint64_t(e.opEnd - e.opStart) + (e.channelStep == 2 ? 2 : 0)) / unit;
    const size_t blockUnits = editing::kCopyBlock / unit;
    sample::IoBuffer<uint8_t> in(size_t(std::min<uint64_t>(blockUnits, units)) * unit);
    sample::IoBuffer<uint8_t> out(in.size());
    // The store is written from its start on, so a reverse of the whole sample builds the peak
    // table from the blocks it writes rather than read the store once more after.
    const bool whole = keep == unit && e.opStart == 0 && e.opEnd == dataLength && dataLength % unit == 0;
    std::optional<PeaksOnTheWay> peaks;
    if (whole) {
        peaks.emplace(editor_);
    }
    bool stopped = false;
    for (uint64_t done = 0; done < units;) {
        const size_t m = size_t(std::min<uint64_t>(blockUnits, units - done));
        const size_t bytes = m * unit;
        // Target units [done, done + m) come from source units [units - done - m, units - done),
        // in reverse.
        const size_t got = backup.readAt((units - done - m) * unit, in.data(), bytes);
        std::memset(in.data() + got, 0, bytes - got);
        const uint64_t at = e.opStart + done * unit;
        if (keep < unit) {
            // One channel: the other channel's words stay as the store has them.
            const size_t there = data.readAt(at, out.data(), bytes);
            std::memset(out.data() + there, 0, bytes - there);
        }
        if (unit == 4 && keep == 4) {
            reverseUnits<4, 4>(in.data(), out.data(), m);
        } else if (unit == 4) {
            reverseUnits<4, 2>(in.data(), out.data(), m);
        } else {
            reverseUnits<2, 2>(in.data(), out.data(), m);
        }
        const size_t writable = size_t(std::min<uint64_t>(m * unit, at < dataLength ? dataLength - at : 0));
        try {
            data.writeAllAt(at, out.data(), writable);
        } catch (...) {
            if (peaks) {
                peaks->writeFailed(pace);
            }
            throw;
        }
        if (peaks) {
            peaks->add(reinterpret_cast<const int16_t*>(out.data()), writable);
        }
        done += m;
        pace.report(double(done), double(units), 10, 90);
        if (done < units && pace.stopped()) {
            stopped = true;
            break;
        }
    }
    if (peaks && !stopped && peaks->end(pace)) {
        return;
    }
    finish(editor_, pace, stopped);
}

void TInvertThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    const uint32_t end = clampedEnd(editor_);
    if (!editing::makeBackup(editor_, context, pace, e.opStart, end - e.opStart, jobs::ProcessMode::Inverting, false)) {
        finish(editor_, pace, true);
        return;
    }
    e.applied = true;
    const Words words = channelWords(editor_);
    const auto invert = [](int16_t v) { return invertSample(v); };
    bool tableBuilt = false;
    const bool complete = wholeSample(editor_, e.opStart, end, words)
                              ? transformWhole(editor_, pace, 10, 100, invert, nullptr, tableBuilt)
                              : transform(editor_, pace, e.opStart, end, editing::kCopyBlock, 10, 90, words, invert);
    if (!tableBuilt) {
        finish(editor_, pace, !complete);
    }
}

void TNormThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    const uint32_t end = clampedEnd(editor_);
    e.scratchLength = end - e.opStart;
    if (!editing::makeBackup(editor_, context, pace, e.opStart, end - e.opStart, jobs::ProcessMode::Normalising,
                             false)) {
        finish(editor_, pace, true);
        return;
    }
    const Words words = channelWords(editor_);
    // One pass finds the mean and the extremes. The peak distance from the mean lies at one of
    // the extremes: v - offset rounds monotonically in v, so no sample between them is farther.
    // Of the whole sample the peak table's build has learnt them already, unless the store has
    // changed since.
    Levels levels;
    const auto& store = editor_.store();
    const auto known =
        wholeSample(editor_, e.opStart, end, words) ? editor_.peaks().totals(store.stream(), store.format()) : std::nullopt;
    if (known) {
        levels = {known->lowest, known->highest, known->sum, known->count};
    } else if (!measure(editor_, pace, e.opStart, end, words, settings_.dcCentre ? 0 : 30, 60, levels)) {
        finish(editor_, pace, true);
        return;
    }
    double offset = 0;
    if (settings_.dcCentre && levels.count > 0) {
        // The mean as a long double sum of the samples gave it (that sum was exact too).
        offset = double(static_cast<long double>(levels.sum) / levels.count);
    }
    double peak = -1000000.0;
    if (levels.count > 0) {
        peak = std::max(std::fabs(double(levels.lowest) - offset), std::fabs(double(levels.highest) - offset));
    }
    if (!(peak > 0)) {
        // Nothing but the offset in the range: there is no gain that would normalise it.
        context.call([this] { editor_.reportLater(editing::kMsgProcessingError); });
        e.refused = true;
        finish(editor_, pace, false);
        return;
    }
    e.applied = true;
    const double gain = settings_.percent / 100.0 * 32767.0 / peak;
    // Every input value's result once, looked up after: the same doubles, far fewer of them.
    std::vector<int16_t> table;
    const bool tabled = levels.count > kTableAfter;
    if (tabled) {
        table.resize(65536);
        for (int v = -32768; v <= 32767; ++v) {
            table[size_t(v + 32768)] = normaliseSample(int16_t(v), offset, gain);
        }
    }
    const int16_t* results = table.data();
    auto& data = editor_.store().stream();
    const uint32_t dataLength = editor_.store().dataLength();
    // A normalise of the whole sample builds the peak table from the blocks it writes rather than
    // read the store once more after; and the search after it (a re-cut) would read all of it again
    // for its detection, which is made on the way too.
    const bool whole = tabled && wholeSample(editor_, e.opStart, end, words);
    bool complete = false;
    if (whole) {
        const uint16_t channels = editor_.store().format().channels;
        auto detector = detection_ ? std::make_shared<slicing::OnsetDetector>(channels, dataLength) : nullptr;
        bool tableBuilt = false;
        complete = transformWhole(editor_, pace, 60, 100, [results](int16_t v) { return results[v + 32768]; },
                                  detector.get(), tableBuilt);
        if (complete && detector) {
            detection_->detector = std::move(detector);
            detection_->mark = data.changes();
        }
        if (tableBuilt) {
            return;
        }
    } else {
        complete = tabled ? transform(editor_, pace, e.opStart, end, 32768, 60, 90, words,
                                      [results](int16_t v) { return results[v + 32768]; })
                          : transform(editor_, pace, e.opStart, end, 32768, 60, 90, words,
                                      [offset, gain](int16_t v) { return normaliseSample(v, offset, gain); });
    }
    finish(editor_, pace, !complete);
}

void TQuantThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    const uint32_t end = clampedEnd(editor_);
    e.scratchLength = end - e.opStart;
    if (!editing::makeBackup(editor_, context, pace, e.opStart, end - e.opStart, jobs::ProcessMode::Quantising,
                             false)) {
        finish(editor_, pace, true);
        return;
    }
    e.applied = true;
    const Words words = channelWords(editor_);
    const int shift = 16 - std::clamp(level_, 0, 16);
    const auto quantise = [shift](int16_t v) { return quantiseShifted(v, shift); };
    bool tableBuilt = false;
    const bool complete = wholeSample(editor_, e.opStart, end, words)
                              ? transformWhole(editor_, pace, 0, 100, quantise, nullptr, tableBuilt)
                              : transform(editor_, pace, e.opStart, end, 32768, 0, 90, words, quantise);
    if (!tableBuilt) {
        finish(editor_, pace, !complete);
    }
}

void TChannelThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    auto& e = editor_.edit();
    auto& data = editor_.store().stream();
    const uint32_t length = editor_.store().dataLength();
    const uint16_t channels = editor_.store().format().channels;
    e.scratchLength = length;
    if (editor_.undoEnabled()) {
        if (!editing::makeBackup(editor_, context, pace, 0, length, jobs::ProcessMode::Converting, false)) {
            finish(editor_, pace, true);
            return;
        }
    }
    e.applied = true;
    // Once the data starts to change its layout, the conversion runs to its end: half a
    // conversion is neither a mono nor a stereo sample.
    Pace firm = pace.firm();
    constexpr uint32_t kBlock = 256000;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    if (channels == 1) {
        data.setSize(int64_t(length) * 2);
        // From the end backward, so nothing unread is overwritten.
        for (uint32_t remaining = length; remaining > 0;) {
            const uint32_t n = std::min(kBlock, remaining);
            const uint32_t at = remaining - n;
            in.assign(n, 0);
            data.readAt(at, in.data(), n);
            out.resize(size_t(n) * 2);
            for (size_t i = 0; i + 1 < n; i += 2) {
                std::memcpy(out.data() + i * 2, in.data() + i, 2);
                std::memcpy(out.data() + i * 2 + 2, in.data() + i, 2);
            }
            data.writeAllAt(uint64_t(at) * 2, out.data(), size_t(n) * 2);
            remaining = at;
            firm.report(double(length - remaining), double(length), 0, 90);
        }
        e.scratchLength = length * 2;
    } else {
        const uint32_t half = length / 2;
        for (uint32_t done = 0; done < half;) {
            const uint32_t n = std::min(kBlock, half - done);
            in.assign(size_t(n) * 2, 0);
            data.readAt(uint64_t(done) * 2, in.data(), size_t(n) * 2);
            out.resize(n);
            for (size_t i = 0; i + 1 < n; i += 2) {
                const int l = wordAt(in.data() + i * 2);
                const int r = wordAt(in.data() + i * 2 + 2);
                setWordAt(out.data() + i, int16_t(choice_ == 0 ? l : choice_ == 1 ? r : l / 2 + r / 2));
            }
            data.writeAllAt(done, out.data(), n);
            done += n;
            firm.report(double(done), double(half), 0, 90);
        }
        data.setSize(half);
        e.scratchLength = half;
    }
    editing::rebuildPeaksAfter(editor_, pace, e.scratchLength, channels == 1 ? 2 : 1, false);
}

} // namespace cleavix::processing
