#include "slicing/SliceSearch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <vector>

// Built with -ffp-contract=off: the detection and the strengths are evaluated in double precision
// in the order written, so the same file gives the same points whatever the compiler fuses.

namespace cleavix::slicing {

namespace {

// Round half to even for |v| < 2^51 without a library call: adding and removing 1.5 * 2^52 leaves
// the value rounded by the FPU's default mode (nearest, ties to even).
inline double roundEven(double v) {
    constexpr double magic = 6755399441055744.0;
    return (v + magic) - magic;
}

struct Geometry {
    int64_t dataLength;
    int64_t blockAlign; // bytes per frame
    uint16_t channels;
};

Geometry geometryOf(const sample::SampleStore& store) {
    const auto& f = store.format();
    return {int64_t(f.dataLength), int64_t(f.blockAlign()), f.channels};
}

// The byte of the candidate's channel within its frame: 2 for a second-channel stereo point.
int64_t channelOffset(const Geometry& g, const SlicePoint& p) {
    return (g.channels == 2 && p.channel == kCodeSecondOrMono) ? 2 : 0;
}

// A window that would start before the sample starts at the candidate's channel's first sample.
int64_t windowStart(const Geometry& g, const SlicePoint& p, int64_t framesBefore) {
    const int64_t start = int64_t(p.position) - framesBefore * g.blockAlign;
    return std::max(start, channelOffset(g, p));
}

// Reads `frames` samples of one channel starting at byte `start` (zeros outside the data).
class ChannelReader {
public:
    ChannelReader(const sample::SampleStore& store, const Geometry& g) : store_(store), g_(g) {}
    const int16_t* read(int64_t start, size_t frames) {
        raw_.resize(frames * g_.channels);
        store_.readSamples(start, raw_.data(), raw_.size());
        if (g_.channels == 1) {
            return raw_.data();
        }
        samples_.resize(frames);
        for (size_t i = 0; i < frames; ++i) {
            samples_[i] = raw_[i * g_.channels];
        }
        return samples_.data();
    }

private:
    const sample::SampleStore& store_;
    Geometry g_;
    std::vector<int16_t> raw_;
    std::vector<int16_t> samples_;
};

int magnitude(int s) { return s < 0 ? -s : s; }

// The largest magnitude of 4 frames at `start`.
int lookMagnitude(ChannelReader& reader, int64_t start) {
    const int16_t* s = reader.read(start, 4);
    int k = 0;
    for (int i = 0; i < 4; ++i) {
        k = std::max(k, magnitude(s[i]));
    }
    return k;
}

bool tick(const SearchProgress& progress, int percent) {
    if (progress.report) {
        progress.report(percent);
    }
    return progress.stop && progress.stop();
}

int roundToInt(double v) { return static_cast<int>(std::nearbyint(v)); }

} // namespace

int scaledWindow(int frames, uint32_t sampleRate) {
    if (sampleRate == 0) {
        return frames;
    }
    const double scaled = std::nearbyint(double(frames) / (44100.0 / double(sampleRate)));
    return std::max(1, static_cast<int>(std::min(scaled, 1.0e6)));
}

int sliderForPercent(double percent) { return roundToInt(percent / 100.0 * 65535.0); }

int percentForThreshold(int64_t threshold) { return roundToInt(double(65535 - threshold) / 65535.0 * 100.0); }

namespace {

// The envelope followers of one detection block.
struct Envelope {
    double positive = 0.0;
    double negative = 0.0;
    int positivePeak = 0;
    int negativePeak = 0;
    int previous = 0;

    void feed(int x) {
        // Kept as a signed 16-bit value: a result outside the range wraps around.
        const int y = static_cast<int16_t>(static_cast<int32_t>(roundEven(double(x) - kPreEmphasis * double(previous))));
        previous = x;
        const double up = double(y) * oprec + positive * nprec;
        const double down = double(y) * oprec + negative * nprec;
        // Selected through masks rather than branches: whether a sample rises above the envelope
        // is as good as random, and mispredicted branches would dominate the pass.
        const uint64_t rises = 0 - uint64_t(y > positive);
        const uint64_t falls = 0 - uint64_t(y < negative);
        positivePeak ^= (positivePeak ^ y) & int(rises);
        negativePeak ^= (negativePeak ^ y) & int(falls);
        positive = select(rises, up, positive);
        negative = select(falls, down, negative);
    }

    static double select(uint64_t mask, double a, double b) {
        return std::bit_cast<double>((std::bit_cast<uint64_t>(a) & mask) | (std::bit_cast<uint64_t>(b) & ~mask));
    }
};

} // namespace

void blockRanges(const int16_t* samples, size_t stride, int previousSample, int count, double* ranges,
                 int* peakRanges) {
    // Every block starts its envelopes at 0, so blocks are independent: four are followed side by
    // side, which keeps the floating-point unit busy instead of waiting on one envelope's chain.
    const auto start = [&](int b) {
        Envelope e;
        e.previous = b == 0 ? previousSample : int(samples[(size_t(b) * kFindSize - 1) * stride]);
        return e;
    };
    const auto finish = [&](int b, const Envelope& e) {
        ranges[b] = e.positive - e.negative;
        peakRanges[b] = e.positivePeak - e.negativePeak;
    };
    int b = 0;
    for (; b + 4 <= count; b += 4) {
        Envelope e0 = start(b);
        Envelope e1 = start(b + 1);
        Envelope e2 = start(b + 2);
        Envelope e3 = start(b + 3);
        const int16_t* s0 = samples + size_t(b) * kFindSize * stride;
        const size_t apart = size_t(kFindSize) * stride;
        for (int i = 0; i < kFindSize; ++i) {
            const size_t at = size_t(i) * stride;
            e0.feed(s0[at]);
            e1.feed(s0[at + apart]);
            e2.feed(s0[at + 2 * apart]);
            e3.feed(s0[at + 3 * apart]);
        }
        finish(b, e0);
        finish(b + 1, e1);
        finish(b + 2, e2);
        finish(b + 3, e3);
    }
    for (; b < count; ++b) {
        Envelope e = start(b);
        const int16_t* s = samples + size_t(b) * kFindSize * stride;
        for (int i = 0; i < kFindSize; ++i) {
            e.feed(s[size_t(i) * stride]);
        }
        finish(b, e);
    }
}

bool detectStep(DetectorState& state, double range, double& value, double& history) {
    history = range * sndl + state.previousValue * sndp + state.previousHistory * sndp2;
    value = range * lfac + history * pfac;
    return value - history > 0.0;
}

bool detectOnsets(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress,
                  bool& limitReached) {
    const Geometry g = geometryOf(store);
    list.setCount(0);
    limitReached = false;
    const uint32_t dataLength = uint32_t(g.dataLength);
    int64_t q = g.dataLength / g.channels / kFindSize;
    if (g.dataLength / kFindSize >= 1) {
        q -= 1;
    }
    const int64_t blocks = q / 2;
    if (blocks <= 0) {
        return true;
    }
    // Blocks are read a few dozen at a time: the memory stays fixed, the system calls few.
    constexpr int64_t kBlocksPerRead = 32;
    // One sample more in front of the chunk: the pre-emphasis of its first block needs it.
    std::vector<int16_t> chunk(size_t((kBlocksPerRead * kFindSize + 1) * g.channels));
    double ranges[kBlocksPerRead];
    int peakRanges[kBlocksPerRead];

    for (int p = 1; p <= g.channels; ++p) {
        DetectorState state;
        const int64_t passStart = (g.channels == 1 || p == 2) ? 0 : 2;
        for (int64_t first = 1; first <= blocks; first += kBlocksPerRead) {
            const int64_t count = std::min(kBlocksPerRead, blocks - first + 1);
            const int64_t readAt = passStart + (first - 1) * kFindSize * g.blockAlign;
            store.readSamples(readAt, chunk.data() + g.channels, size_t(count * kFindSize * g.channels));
            blockRanges(chunk.data() + g.channels, g.channels, state.previousSample, int(count), ranges, peakRanges);
            state.previousSample = chunk[size_t(count * kFindSize * g.channels)];
            for (int64_t b = 0; b < count; ++b) {
                const int64_t u = first + b;
                const int64_t position = passStart + u * kFindSize * g.blockAlign;
                const int percent = g.channels == 1
                                        ? roundToInt(double(position) / double(dataLength) * 80.0)
                                        : roundToInt(double(position) / double(dataLength) * 40.0) + 40 * (p - 1);
                if (tick(progress, percent)) {
                    return false;
                }
                double value = 0.0;
                double history = 0.0;
                if (detectStep(state, ranges[b], value, history)) {
                    if (list.full()) {
                        limitReached = true;
                    } else {
                        int64_t at = (int64_t(kFindSize) * u * 2 + 10) * g.channels + 2 * (p - 1) - 50;
                        if (g.channels == 2) {
                            at = (at & ~int64_t(3)) + (p == 1 ? 2 : 0);
                        }
                        SlicePoint point;
                        point.position = uint32_t(at);
                        point.channel = uint8_t(p);
                        point.enabled = 1;
                        point.strength = peakRanges[b];
                        list.append(point);
                        value = 65536.0;
                        history = 65536.0;
                    }
                }
                state.previousValue = value;
                state.previousHistory = history;
            }
        }
    }
    return true;
}

void quietWindow(const sample::SampleStore& store, SlicePoint& point) {
    const Geometry g = geometryOf(store);
    const uint32_t rate = store.format().sampleRate;
    const int W = scaledWindow(kQuietSubWindow, rate);
    const int B = scaledWindow(kQuietWindow, rate);
    const int n = B / W;
    ChannelReader reader(store, g);
    const int64_t start = windowStart(g, point, B);
    const int16_t* s = reader.read(start, size_t(B));
    int minimum = 32767;
    int64_t offset = B;
    for (int w = n; w >= 1; --w) {
        int peak = -129;
        for (int j = 1; j <= W; ++j) {
            peak = std::max(peak, int(s[w * j - 1]));
        }
        if (peak < minimum && minimum > 384) {
            minimum = peak;
            offset = int64_t(W) * (w - 1);
        }
    }
    point.position = uint32_t(start + offset * g.blockAlign);
}

void backwardDescent(const sample::SampleStore& store, SlicePoint& point) {
    const Geometry g = geometryOf(store);
    ChannelReader reader(store, g);
    const int64_t lowest = channelOffset(g, point);
    int64_t position = point.position;
    int minimum = 65535;
    for (int64_t step = 0;; step += 2) {
        const int64_t at = std::max(position - step * g.channels, lowest);
        const int k = lookMagnitude(reader, at);
        if (k >= minimum) {
            break;
        }
        position = at;
        minimum = k;
        if (at + 4 * g.blockAlign <= 0) {
            break;
        }
    }
    point.position = uint32_t(position);
}

void forwardDescent(const sample::SampleStore& store, SlicePoint& point) {
    const Geometry g = geometryOf(store);
    ChannelReader reader(store, g);
    int64_t position = point.position;
    int minimum = 65535;
    for (int64_t step = 0;; step += 2) {
        const int64_t at = position + step * g.channels;
        // A point stays inside the sample.
        if (at >= g.dataLength) {
            break;
        }
        const int k = lookMagnitude(reader, at);
        if (k >= minimum) {
            break;
        }
        position = at;
        minimum = k;
        if (at + 4 * g.blockAlign >= g.dataLength) {
            break;
        }
    }
    point.position = uint32_t(position);
}

void quietPair(const sample::SampleStore& store, SlicePoint& point) {
    const Geometry g = geometryOf(store);
    const int B = scaledWindow(kQuietPairWindow, store.format().sampleRate);
    ChannelReader reader(store, g);
    const int64_t start = windowStart(g, point, B);
    const int16_t* s = reader.read(start, size_t(B));
    int minimum = 256;
    int64_t offset = B;
    for (int j = B / 2; j >= 1; --j) {
        const int a = s[j - 1] / 256; // whole division: toward zero
        const int b = s[2 * j - 1] / 256;
        const int larger = std::max({-129, a, b});
        const int smaller = std::min({129, a, b});
        const int n = std::abs(smaller) + std::abs(larger);
        if (n < minimum && minimum > 3) {
            minimum = n;
            offset = 2 * int64_t(j) - 2;
        }
    }
    point.position = uint32_t(start + offset * g.blockAlign);
}

void snapToQuiet(const sample::SampleStore& store, SlicePoint& point) {
    const Geometry g = geometryOf(store);
    const int B = scaledWindow(kSnapWindow, store.format().sampleRate);
    ChannelReader reader(store, g);
    const int64_t start = windowStart(g, point, B / 2);
    // Frames at or past the end of the data lie outside the window: a point never snaps beyond it.
    int64_t frames = B;
    const int64_t room = g.dataLength - 2 - start;
    frames = room < 0 ? 0 : std::min<int64_t>(frames, room / g.blockAlign + 1);
    const int16_t* s = reader.read(start, size_t(std::max<int64_t>(frames, 1)));
    const int64_t c = (int64_t(point.position) - start) / g.blockAlign;
    const auto mag = [&](int64_t f) { return magnitude(s[f]); };
    const auto inside = [&](int64_t f) { return f >= 0 && f < frames; };
    if (!inside(c - 1)) {
        return;
    }
    const int first = mag(c - 1);
    const bool back = inside(c - 2) && mag(c - 2) < first;
    const bool forth = inside(c) && mag(c) < first;
    if (!back && !forth) {
        return;
    }
    const int64_t direction = (back && (!forth || mag(c - 2) <= mag(c))) ? -1 : 1;
    int smallest = first;
    int64_t taken = -1;
    for (int64_t f = direction < 0 ? c - 2 : c; inside(f) && mag(f) <= smallest; f += direction) {
        smallest = mag(f);
        taken = f;
    }
    point.position = uint32_t(start + taken * g.blockAlign);
}

bool segmentLevels(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    const Geometry g = geometryOf(store);
    const int n = list.count();
    // The next point of the same channel, found from the end backwards.
    std::array<int, 3> nextOfCode{n + 1, n + 1, n + 1};
    std::vector<int> next(size_t(n + 1), n + 1);
    for (int u = n; u >= 1; --u) {
        const uint8_t code = std::min<uint8_t>(list.at(u).channel, 2);
        next[size_t(u)] = nextOfCode[code];
        nextOfCode[code] = u;
    }
    ChannelReader reader(store, g);
    const int64_t chunkFrames = 16384 / g.blockAlign;
    for (int u = 1; u <= n; ++u) {
        if (tick(progress, roundToInt(double(u) / double(n) * 5.0) + 90)) {
            return false;
        }
        SlicePoint& point = list.at(u);
        const int64_t end = list.at(next[size_t(u)]).position;
        const int64_t frames = std::max<int64_t>(0, (end - int64_t(point.position)) / g.blockAlign);
        int64_t at = windowStart(g, point, 50);
        int largest = -100000;
        int smallest = 100000;
        for (int64_t left = frames; left > 0;) {
            const int64_t take = std::min(left, chunkFrames);
            const int16_t* s = reader.read(at, size_t(take));
            for (int64_t i = 0; i < take; ++i) {
                largest = std::max(largest, int(s[i]));
                smallest = std::min(smallest, int(s[i]));
            }
            at += take * g.blockAlign;
            left -= take;
        }
        // A segment without frames (two points at one place) has level 0.
        point.strength = frames == 0 ? 0 : largest - smallest;
    }
    return true;
}

bool strengths(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    const Geometry g = geometryOf(store);
    const int n = list.count();
    ChannelReader reader(store, g);
    for (int u = 1; u <= n; ++u) {
        if (tick(progress, roundToInt(double(u) / double(n) * 5.0) + 95)) {
            return false;
        }
        SlicePoint& point = list.at(u);
        const int16_t* s = reader.read(windowStart(g, point, 500), 501);
        int largest = -100000;
        int smallest = 100000;
        for (int i = 0; i < 500; ++i) {
            largest = std::max(largest, int(s[i]));
            smallest = std::min(smallest, int(s[i]));
        }
        const int64_t preLevel = int64_t(largest) - smallest;
        const int64_t level = point.strength == 0 ? 1 : point.strength;
        point.strength = roundToInt(double(level - preLevel) / double(level + 1) * 65535.0);
    }
    return true;
}

void linkedMerge(CandidateList& list, uint32_t dataLength, uint16_t channels, int viewWidth) {
    const double distance = double(dataLength) / double(std::max(1, viewWidth)) * double(channels) * 2.0;
    // Distances are measured from the last entry kept (its position before frame alignment), not
    // from the last entry seen: measured from every entry, a run of hits closer together than the
    // distance -- any busy loop in a long file, seen whole -- would wipe itself out entirely.
    double before = 0.0;
    int kept = 0;
    const int n = list.count();
    for (int k = 1; k <= n; ++k) {
        SlicePoint point = list.at(k);
        const double position = double(point.position);
        if (position - before > distance) {
            point.channel = kCodeSecondOrMono;
            point.position = channels == 2 ? (point.position & ~3u) : (point.position & ~1u);
            list.at(++kept) = point;
            before = position;
        }
    }
    list.setCount(kept);
    list.sortByPosition();
    list.setMarkers(dataLength);
}

SearchOutcome runSliceSearch(const sample::SampleStore& store, CandidateList& list, SearchFlags& flags,
                             const SearchOptions& options, const SearchProgress& progress) {
    SearchOutcome outcome;
    const uint32_t dataLength = store.dataLength();
    const auto finish = [&] {
        flags.searchRequest = false;
        if (options.linked && store.format().channels == 2 && !outcome.aborted) {
            linkedMerge(list, dataLength, store.format().channels, options.viewWidth);
            outcome.merged = true;
        }
        return outcome;
    };
    if (!flags.searchRequest) {
        return finish();
    }
    outcome.ran = true;
    if (!flags.refineOnly) {
        if (!detectOnsets(store, list, progress, outcome.limitReached)) {
            outcome.aborted = true;
            list.setMarkers(dataLength);
            return finish();
        }
    }
    flags.refineOnly = false;
    const int n = list.count();
    if (n == 0) {
        list.setMarkers(dataLength);
        return finish();
    }
    for (int k = 1; k <= n; ++k) {
        if (tick(progress, roundToInt(double(k) / double(n) * 8.0) + 80)) {
            outcome.aborted = true;
            list.setMarkers(dataLength);
            return finish();
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
        if (tick(progress, roundToInt(double(k) / double(n) * 2.0) + 88)) {
            outcome.aborted = true;
            list.setMarkers(dataLength);
            return finish();
        }
        quietPair(store, list.at(k));
    }
    for (int k = 1; k <= n; ++k) {
        snapToQuiet(store, list.at(k));
    }
    list.sortByPosition();
    list.setMarkers(dataLength);
    if (tick(progress, 90) || !segmentLevels(store, list, progress) || !strengths(store, list, progress)) {
        outcome.aborted = true;
    }
    return finish();
}

void tpseek::run(jobs::JobContext& context) {
    SearchProgress progress;
    progress.report = [&](int percent) { context.setProgress(percent); };
    progress.stop = [&] { return context.stopRequested(); };
    outcome_ = runSliceSearch(store_, list_, flags_, options_, progress);
}

} // namespace cleavix::slicing
