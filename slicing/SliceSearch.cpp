#include "slicing/SliceSearch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Built with -ffp-contract=off: the detection and the strengths are evaluated in double precision
// in the order written, so the same file gives the same points whatever the compiler fuses.

namespace cleavix::slicing {

namespace {

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

// The 16-bit sample at p, whatever its alignment (the store is little-endian, as is every machine
// this builds for).
inline int sampleAt(const uint8_t* p) {
    int16_t s;
    std::memcpy(&s, p, sizeof s);
    return s;
}

// Bytes [start, end) of the store held in memory, zeros outside the audio (as the store reads
// them). The buffer is allocated once: moving the window only reads.
class ByteWindow {
public:
    explicit ByteWindow(size_t capacity) : bytes_(capacity) {}
    size_t capacity() const { return bytes_.size(); }
    void fill(const sample::SampleStore& store, int64_t start, size_t size) {
        size = std::min(size, bytes_.size());
        store.readAudio(start, bytes_.data(), size);
        start_ = start;
        end_ = start + int64_t(size);
    }
    bool holds(int64_t from, int64_t to) const { return from >= start_ && to <= end_ && from < to; }
    int64_t end() const { return end_; }
    const uint8_t* at(int64_t position) const { return bytes_.data() + (position - start_); }

private:
    std::vector<uint8_t> bytes_;
    int64_t start_ = 0;
    int64_t end_ = 0;
};

// Reads `frames` samples of one channel starting at byte `start` (zeros outside the data): from
// the window around the current candidate when it holds them, else straight from the store.
class ChannelReader {
public:
    ChannelReader(const sample::SampleStore& store, const Geometry& g, size_t windowBytes = 0)
        : store_(store), g_(g), window_(windowBytes) {}
    // Reads the bytes [from, to) (at most the window's capacity) for the reads that follow.
    void readAround(int64_t from, int64_t to) { window_.fill(store_, from, size_t(to - from)); }
    const int16_t* read(int64_t start, size_t frames) {
        if (samples_.size() < frames) {
            samples_.resize(frames);
        }
        const int64_t last = start + int64_t(frames) * g_.blockAlign - g_.blockAlign + 2;
        if (window_.holds(start, last)) {
            const uint8_t* p = window_.at(start);
            for (size_t i = 0; i < frames; ++i) {
                samples_[i] = int16_t(sampleAt(p + i * size_t(g_.blockAlign)));
            }
            return samples_.data();
        }
        if (raw_.size() < frames * g_.channels) {
            raw_.resize(frames * g_.channels);
        }
        store_.readAudio(start, raw_.data(), frames * g_.channels * 2);
        for (size_t i = 0; i < frames; ++i) {
            samples_[i] = raw_[i * g_.channels];
        }
        return samples_.data();
    }

private:
    const sample::SampleStore& store_;
    Geometry g_;
    ByteWindow window_;
    std::vector<int16_t> raw_;
    std::vector<int16_t> samples_;
};

// Runs over one channel's samples in pieces held by a large window that moves through the store.
class StreamReader {
public:
    StreamReader(const sample::SampleStore& store, const Geometry& g, size_t windowBytes)
        : store_(store), g_(g), window_(windowBytes) {}
    // Where the next scan will start: a refill keeps it in the window when it lies not too far
    // behind (in stereo the next point's window starts inside this point's segment).
    void keepFrom(int64_t position) { keep_ = position; }
    // Calls piece(bytes, count) for consecutive pieces covering `frames` frames from byte `start`.
    template <class Piece>
    void scan(int64_t start, int64_t frames, Piece&& piece) {
        while (frames > 0) {
            if (!window_.holds(start, start + 2)) {
                const bool keep = keep_ < start && start - keep_ < int64_t(window_.capacity() / 2);
                window_.fill(store_, keep ? keep_ : start, window_.capacity());
            }
            const int64_t held = (window_.end() - start - 2) / g_.blockAlign + 1;
            const int64_t take = std::min(frames, held);
            piece(window_.at(start), size_t(take));
            start += take * g_.blockAlign;
            frames -= take;
        }
    }

private:
    const sample::SampleStore& store_;
    Geometry g_;
    ByteWindow window_;
    int64_t keep_ = INT64_MAX;
};

// The stream window of the segment levels: large reads, a fixed amount of memory.
constexpr size_t kStreamBytes = 256 * 1024;

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

// Detection follows eight blocks at once, one block (of one channel) per vector lane: eight
// blocks of a mono sample, or four blocks of both channels of a stereo one. Every block starts its
// envelopes at 0, so blocks are independent; each lane does exactly the arithmetic of its block
// on its own, in the same order, so following blocks side by side changes no result. Three
// kernels do this: AVX2 (four lanes to a register), SSE2 (two lanes, any x86-64 processor) and
// plain code, one block after the other (other processors).
//
// The kernels' interface: `blocks` points at the kLanes blocks (mono) or at the first frame of the
// kLanes / 2 blocks (stereo); lane l of a stereo call is block l % 4 of channel l / 4. `before`
// holds the sample before each lane's block; ranges and peakRanges receive each lane's results.
constexpr int kLanes = 8;
using FollowFunction = void (*)(const int16_t* const*, const int*, double*, int*);

// The blocks one call follows.
constexpr int blocksPerCall(int channels) { return kLanes / channels; }

// The vector kernels take the rounding and the 16-bit wrap of the pre-emphasis from the bits of
// r = (x - 0.63 * previous) + 1.5 * 2^52: r - 1.5 * 2^52 is the value rounded to a whole number k
// (ties to even), and the low 16 bits of r's pattern are k's low 16 bits, so setting them into
// 2^52 + 32768 (with the sign bit of the 16 flipped) gives int16(k) + 2^52 + 32768 exactly.
constexpr double kRoundingMagic = 6755399441055744.0; // 1.5 * 2^52
constexpr int64_t kLow16 = 0xFFFF;
constexpr int64_t kWrapBits = 0x4330000000008000; // 2^52 + 32768
constexpr double kWrapBias = 4503599627403264.0;  // 2^52 + 32768

typedef int16_t v16s __attribute__((vector_size(32)));

// The envelope followers of one block, one sample at a time.
struct Envelope {
    double positive = 0.0;
    double negative = 0.0;
    int positivePeak = 0;
    int negativePeak = 0;
    int previous = 0;

    void feed(int x) {
        const double rounded = (double(x) - kPreEmphasis * double(previous) + kRoundingMagic) - kRoundingMagic;
        // Kept as a signed 16-bit value: a result outside the range wraps around.
        const int y = static_cast<int16_t>(static_cast<int32_t>(rounded));
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
};

template <int kChannels>
void followScalar(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges) {
    constexpr int perChannel = blocksPerCall(kChannels);
    for (int l = 0; l < kLanes; ++l) {
        const int16_t* s = blocks[l % perChannel] + l / perChannel;
        Envelope e;
        e.previous = before[l];
        for (int i = 0; i < kFindSize; ++i) {
            e.feed(s[size_t(i) * kChannels]);
        }
        ranges[l] = e.positive - e.negative;
        peakRanges[l] = e.positivePeak - e.negativePeak;
    }
}

#if defined(__x86_64__)
// Rows to columns: afterwards r_k holds element k of the four rows.
inline __attribute__((always_inline)) void transpose(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
    const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
    const __m128i t1 = _mm_unpackhi_epi32(r0, r1);
    const __m128i t2 = _mm_unpacklo_epi32(r2, r3);
    const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
    r0 = _mm_unpacklo_epi64(t0, t2);
    r1 = _mm_unpackhi_epi64(t0, t2);
    r2 = _mm_unpacklo_epi64(t1, t3);
    r3 = _mm_unpackhi_epi64(t1, t3);
}

inline __attribute__((always_inline)) __m128i loadFour(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The low and the high 16 bits of each 32-bit value, sign-extended.
inline __attribute__((always_inline)) __m128i lowHalves(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }
inline __attribute__((always_inline)) __m128i highHalves(__m128i v) { return _mm_srai_epi32(v, 16); }

// Samples i to i + 3 of the eight lanes as 32-bit values, one column per sample: a[k] holds sample
// i + k of lanes 0 to 3, b[k] that of lanes 4 to 7.
template <int kChannels>
inline __attribute__((always_inline)) void loadColumns(const int16_t* const* blocks, int i, __m128i (&a)[4],
                                                       __m128i (&b)[4]) {
    if constexpr (kChannels == 1) {
        // Eight samples of blocks l and l + 4 in one load each would read past a block's end, so
        // four at a time, spread to 32 bits.
        const __m128i zero = _mm_setzero_si128();
        for (int l = 0; l < 4; ++l) {
            const __m128i sa = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[l] + i));
            const __m128i sb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blocks[l + 4] + i));
            a[l] = _mm_srai_epi32(_mm_unpacklo_epi16(zero, sa), 16);
            b[l] = _mm_srai_epi32(_mm_unpacklo_epi16(zero, sb), 16);
        }
        transpose(a[0], a[1], a[2], a[3]);
        transpose(b[0], b[1], b[2], b[3]);
    } else {
        // Four frames of each block: turned into columns whole, then split into the channels.
        __m128i f0 = loadFour(blocks[0] + 2 * i);
        __m128i f1 = loadFour(blocks[1] + 2 * i);
        __m128i f2 = loadFour(blocks[2] + 2 * i);
        __m128i f3 = loadFour(blocks[3] + 2 * i);
        transpose(f0, f1, f2, f3);
        a[0] = lowHalves(f0);
        a[1] = lowHalves(f1);
        a[2] = lowHalves(f2);
        a[3] = lowHalves(f3);
        b[0] = highHalves(f0);
        b[1] = highHalves(f1);
        b[2] = highHalves(f2);
        b[3] = highHalves(f3);
    }
}

// One sample (i) of the eight lanes, as loadColumns gives four.
template <int kChannels>
inline __attribute__((always_inline)) void loadColumn(const int16_t* const* blocks, int i, __m128i& a, __m128i& b) {
    if constexpr (kChannels == 1) {
        a = _mm_setr_epi32(blocks[0][i], blocks[1][i], blocks[2][i], blocks[3][i]);
        b = _mm_setr_epi32(blocks[4][i], blocks[5][i], blocks[6][i], blocks[7][i]);
    } else {
        const size_t at = size_t(i) * 2;
        a = _mm_setr_epi32(blocks[0][at], blocks[1][at], blocks[2][at], blocks[3][at]);
        b = _mm_setr_epi32(blocks[0][at + 1], blocks[1][at + 1], blocks[2][at + 1], blocks[3][at + 1]);
    }
}

// Calls column(i, a, b) for every sample i of the eight lanes, in order: a holds sample i of lanes
// 0 to 3, b that of lanes 4 to 7.
template <int kChannels, class Column>
inline __attribute__((always_inline)) void forEachColumn(const int16_t* const* blocks, Column&& column) {
    int i = 0;
    for (; i + 4 <= kFindSize; i += 4) {
        __m128i a[4];
        __m128i b[4];
        loadColumns<kChannels>(blocks, i, a, b);
        for (int k = 0; k < 4; ++k) {
            column(i + k, a[k], b[k]);
        }
    }
    for (; i < kFindSize; ++i) {
        __m128i a;
        __m128i b;
        loadColumn<kChannels>(blocks, i, a, b);
        column(i, a, b);
    }
}

// Two lanes to an SSE2 register.
struct Sse2Envelopes {
    __m128d positive;
    __m128d negative;
    __m128d positivePeak;
    __m128d negativePeak;
    __m128d previous;

    inline __attribute__((always_inline)) void start(const int* before) {
        positive = _mm_setzero_pd();
        negative = _mm_setzero_pd();
        positivePeak = _mm_setzero_pd();
        negativePeak = _mm_setzero_pd();
        previous = _mm_setr_pd(before[0], before[1]);
    }

    static inline __attribute__((always_inline)) __m128d select(__m128d mask, __m128d a, __m128d b) {
        return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
    }

    // The sample: the low two 32-bit values.
    inline __attribute__((always_inline)) void feed(__m128i sample) {
        const __m128d x = _mm_cvtepi32_pd(sample);
        const __m128d r =
            _mm_add_pd(_mm_sub_pd(x, _mm_mul_pd(_mm_set1_pd(kPreEmphasis), previous)), _mm_set1_pd(kRoundingMagic));
        previous = x;
        const __m128d bits = _mm_xor_pd(_mm_and_pd(r, _mm_castsi128_pd(_mm_set1_epi64x(kLow16))),
                                        _mm_castsi128_pd(_mm_set1_epi64x(kWrapBits)));
        const __m128d y = _mm_sub_pd(bits, _mm_set1_pd(kWrapBias));
        const __m128d weighted = _mm_mul_pd(y, _mm_set1_pd(oprec));
        const __m128d up = _mm_add_pd(weighted, _mm_mul_pd(positive, _mm_set1_pd(nprec)));
        const __m128d down = _mm_add_pd(weighted, _mm_mul_pd(negative, _mm_set1_pd(nprec)));
        const __m128d rises = _mm_cmpgt_pd(y, positive);
        const __m128d falls = _mm_cmplt_pd(y, negative);
        positivePeak = select(rises, y, positivePeak);
        negativePeak = select(falls, y, negativePeak);
        positive = select(rises, up, positive);
        negative = select(falls, down, negative);
    }

    void finish(double* ranges, int* peakRanges) const {
        alignas(16) double range[2];
        alignas(16) double high[2];
        alignas(16) double low[2];
        _mm_store_pd(range, _mm_sub_pd(positive, negative));
        _mm_store_pd(high, positivePeak);
        _mm_store_pd(low, negativePeak);
        for (int l = 0; l < 2; ++l) {
            ranges[l] = range[l];
            peakRanges[l] = int(high[l]) - int(low[l]);
        }
    }
};

template <int kChannels>
void followSse2(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges) {
    Sse2Envelopes e[4];
    for (int c = 0; c < 4; ++c) {
        e[c].start(before + 2 * c);
    }
    forEachColumn<kChannels>(blocks, [&](int, __m128i a, __m128i b) __attribute__((always_inline)) {
        e[0].feed(a);
        e[1].feed(_mm_unpackhi_epi64(a, a));
        e[2].feed(b);
        e[3].feed(_mm_unpackhi_epi64(b, b));
    });
    for (int c = 0; c < 4; ++c) {
        e[c].finish(ranges + 2 * c, peakRanges + 2 * c);
    }
}

// Four lanes to an AVX register. First the pre-emphasis of every sample of the eight lanes (no
// chain runs from one sample to the next there), then the envelope chains over the results: two
// groups of four lanes side by side, so that while one waits on its chain the other computes.
#pragma GCC push_options
#pragma GCC target("avx2")

typedef double v4d __attribute__((vector_size(32)));
typedef int64_t v4l __attribute__((vector_size(32)));

// The pre-emphasised samples y of four lanes from their samples x (32-bit values) and the samples
// before them.
inline __attribute__((always_inline)) __m256d emphasisedAvx2(__m128i sample, __m256d& previous) {
    const __m256d x = _mm256_cvtepi32_pd(sample);
    const __m256d r = _mm256_add_pd(_mm256_sub_pd(x, _mm256_mul_pd(_mm256_set1_pd(kPreEmphasis), previous)),
                                    _mm256_set1_pd(kRoundingMagic));
    previous = x;
    const __m256d bits = _mm256_xor_pd(_mm256_and_pd(r, _mm256_castsi256_pd(_mm256_set1_epi64x(kLow16))),
                                       _mm256_castsi256_pd(_mm256_set1_epi64x(kWrapBits)));
    return _mm256_sub_pd(bits, _mm256_set1_pd(kWrapBias));
}

// The envelope chains, in vector extensions: the compiler turns the conditionals into a compare
// and a blend each (the blend intrinsic would cost a further instruction with this compiler).
struct Avx2Envelopes {
    v4d positive;
    v4d negative;
    v4d positivePeak; // whole numbers, exact in a double
    v4d negativePeak;

    // (No member initialisers: the implicit constructor would be built without AVX.)
    inline __attribute__((always_inline)) void start() {
        positive = v4d{0.0, 0.0, 0.0, 0.0};
        negative = positive;
        positivePeak = positive;
        negativePeak = positive;
    }

    inline __attribute__((always_inline)) void feed(const double* sample) {
        v4d y;
        std::memcpy(&y, sample, sizeof y);
        constexpr v4d weightOfPeak = {oprec, oprec, oprec, oprec};
        constexpr v4d weightOfEnvelope = {nprec, nprec, nprec, nprec};
        const v4d weighted = y * weightOfPeak;
        const v4d up = weighted + positive * weightOfEnvelope;
        const v4d down = weighted + negative * weightOfEnvelope;
        const v4l rises = y > positive;
        const v4l falls = y < negative;
        positivePeak = rises ? y : positivePeak;
        negativePeak = falls ? y : negativePeak;
        positive = rises ? up : positive;
        negative = falls ? down : negative;
    }

    void finish(double* ranges, int* peakRanges) const {
        for (int l = 0; l < 4; ++l) {
            ranges[l] = positive[l] - negative[l];
            peakRanges[l] = int(positivePeak[l]) - int(negativePeak[l]);
        }
    }
};

template <int kChannels>
void followAvx2(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges) {
    alignas(32) double y[kFindSize][kLanes];
    __m256d previousA = _mm256_setr_pd(before[0], before[1], before[2], before[3]);
    __m256d previousB = _mm256_setr_pd(before[4], before[5], before[6], before[7]);
    forEachColumn<kChannels>(blocks, [&](int i, __m128i a, __m128i b) {
        _mm256_store_pd(y[i], emphasisedAvx2(a, previousA));
        _mm256_store_pd(y[i] + 4, emphasisedAvx2(b, previousB));
    });
    Avx2Envelopes ea;
    Avx2Envelopes eb;
    ea.start();
    eb.start();
    for (int i = 0; i < kFindSize; ++i) {
        ea.feed(y[i]);
        eb.feed(y[i] + 4);
    }
    ea.finish(ranges, peakRanges);
    eb.finish(ranges + 4, peakRanges + 4);
}

#pragma GCC pop_options
#endif

bool hasAvx2() {
#if defined(__x86_64__)
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

// The largest and smallest sample of one channel over `frames` frames at p (any alignment).
inline __attribute__((always_inline)) void minMaxBody(const uint8_t* p, size_t frames, size_t channels, int& largest,
                                                      int& smallest) {
    if (frames == 0) {
        return;
    }
    constexpr size_t width = sizeof(v16s) / sizeof(int16_t);
    const size_t elements = (frames - 1) * channels + 1;
    size_t i = 0;
    if (elements >= width) {
        // Every lane runs over all samples; lanes at the channel's places are kept (the width is
        // a multiple of the channel count, so lane l always holds the same channel).
        v16s high;
        std::memcpy(&high, p, sizeof high);
        v16s low = high;
        for (i = width; i + width <= elements; i += width) {
            v16s s;
            std::memcpy(&s, p + 2 * i, sizeof s);
            high = s > high ? s : high;
            low = s < low ? s : low;
        }
        for (size_t l = 0; l < width; l += channels) {
            largest = std::max(largest, int(high[l]));
            smallest = std::min(smallest, int(low[l]));
        }
    }
    for (; i < elements; i += channels) {
        const int s = sampleAt(p + 2 * i);
        largest = std::max(largest, s);
        smallest = std::min(smallest, s);
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void minMaxAvx2(const uint8_t* p, size_t frames, size_t channels, int& largest,
                                                int& smallest) {
    minMaxBody(p, frames, channels, largest, smallest);
}
#endif

void minMaxBaseline(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest) {
    minMaxBody(p, frames, channels, largest, smallest);
}

void minMax(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest) {
#if defined(__x86_64__)
    if (hasAvx2()) {
        minMaxAvx2(p, frames, channels, largest, smallest);
        return;
    }
#endif
    minMaxBaseline(p, frames, channels, largest, smallest);
}

} // namespace

void blockRanges(const int16_t* samples, int channels, const int* previousSamples, int count, double* const* ranges,
                 int* const* peakRanges, DetectionPath path) {
    const bool stereo = channels == 2;
    FollowFunction follow = stereo ? followScalar<2> : followScalar<1>;
#if defined(__x86_64__)
    if (path == DetectionPath::Best && hasAvx2()) {
        follow = stereo ? followAvx2<2> : followAvx2<1>;
    } else if (path != DetectionPath::Scalar) {
        follow = stereo ? followSse2<2> : followSse2<1>;
    }
#endif
    const int perCall = blocksPerCall(channels);
    // Lanes without a block follow silence; their results are thrown away.
    static const int16_t silence[2 * kFindSize] = {};
    for (int first = 0; first < count; first += perCall) {
        const int active = std::min(perCall, count - first);
        const int16_t* blocks[kLanes];
        int before[kLanes];
        for (int k = 0; k < perCall; ++k) {
            const int b = first + k;
            blocks[k] = k < active ? samples + size_t(b) * kFindSize * size_t(channels) : silence;
            for (int c = 0; c < channels; ++c) {
                before[c * perCall + k] =
                    k >= active ? 0 : b == 0 ? previousSamples[c] : blocks[k][c - channels];
            }
        }
        double r[kLanes];
        int p[kLanes];
        follow(blocks, before, r, p);
        for (int c = 0; c < channels; ++c) {
            std::copy_n(r + c * perCall, active, ranges[c] + first);
            std::copy_n(p + c * perCall, active, peakRanges[c] + first);
        }
    }
}

bool detectStep(DetectorState& state, double range, double& value, double& history) {
    history = range * sndl + state.previousValue * sndp + state.previousHistory * sndp2;
    value = range * lfac + history * pfac;
    return value - history > 0.0;
}

namespace {

// The position of the candidate that block u of pass p gives.
SlicePoint candidateOf(const Geometry& g, int p, int64_t u, int peakRange) {
    int64_t at = (int64_t(kFindSize) * u * 2 + 10) * g.channels + 2 * (p - 1) - 50;
    if (g.channels == 2) {
        at = (at & ~int64_t(3)) + (p == 1 ? 2 : 0);
    }
    SlicePoint point;
    point.position = uint32_t(at);
    point.channel = uint8_t(p);
    point.enabled = 1;
    point.strength = peakRange;
    return point;
}

int detectionPercent(const Geometry& g, int p, int64_t u) {
    const int64_t passStart = (g.channels == 1 || p == 2) ? 0 : 2;
    const int64_t position = passStart + u * kFindSize * g.blockAlign;
    const double dataLength = double(uint32_t(g.dataLength));
    return g.channels == 1 ? roundToInt(double(position) / dataLength * 80.0)
                           : roundToInt(double(position) / dataLength * 40.0) + 40 * (p - 1);
}

} // namespace

// Both passes follow their blocks on one pass over the data; the first pass (p = 1, the second
// sample of each frame in stereo) and the second keep their onsets apart, so that the list, the
// reports and where an abort leaves the list are those of one pass after the other. Until a list
// is full a pass's detection does not depend on it; from then on the first pass's onsets find no
// room and no longer reset its history, and for the second pass it only matters whether one more
// onset follows: so the first kMaxPoints onsets of each pass and the block of the one after them
// say everything.
OnsetDetector::OnsetDetector(uint16_t channels, uint32_t dataLength)
    : channels_(channels == 2 ? 2 : 1), dataLength_(dataLength) {
    int64_t q = int64_t(dataLength) / channels_ / kFindSize;
    if (int64_t(dataLength) / kFindSize >= 1) {
        q -= 1;
    }
    blocks_ = std::max<int64_t>(0, q / 2);
    for (int p = 0; p < channels_; ++p) {
        ranges_[p].resize(kBlocksPerCall);
        peakRanges_[p].resize(kBlocksPerCall);
    }
}

void OnsetDetector::feed(const int16_t* samples, size_t count) {
    const size_t blockSamples = size_t(kFindSize) * channels_;
    while (count > 0 && followed_ < blocks_) {
        if (!partial_.empty() || count < blockSamples) {
            // A block split between feeds is gathered first.
            const size_t take = std::min(count, blockSamples - partial_.size());
            partial_.insert(partial_.end(), samples, samples + take);
            samples += take;
            count -= take;
            if (partial_.size() == blockSamples) {
                follow(partial_.data(), 1);
                partial_.clear();
            }
            continue;
        }
        const int whole = int(std::min<int64_t>({int64_t(count / blockSamples), blocks_ - followed_, kBlocksPerCall}));
        follow(samples, whole);
        samples += size_t(whole) * blockSamples;
        count -= size_t(whole) * blockSamples;
    }
}

void OnsetDetector::follow(const int16_t* samples, int count) {
    const Geometry g{int64_t(dataLength_), int64_t(channels_) * 2, channels_};
    // Sample c of each frame belongs to pass p = channels - c (bytes 2 and 3 to p = 1 in stereo).
    int previous[2];
    double* rangesOf[2];
    int* peakRangesOf[2];
    const size_t samplesFollowed = size_t(count) * kFindSize * channels_;
    for (int c = 0; c < channels_; ++c) {
        const int p = channels_ - c;
        previous[c] = states_[p - 1].previousSample;
        rangesOf[c] = ranges_[p - 1].data();
        peakRangesOf[c] = peakRanges_[p - 1].data();
        states_[p - 1].previousSample = samples[samplesFollowed - channels_ + size_t(c)];
    }
    blockRanges(samples, channels_, previous, count, rangesOf, peakRangesOf);
    for (int p = 1; p <= channels_; ++p) {
        DetectorState& state = states_[p - 1];
        PassOnsets& pass = passes_[p - 1];
        for (int b = 0; b < count; ++b) {
            const int64_t u = followed_ + 1 + b;
            double value = 0.0;
            double history = 0.0;
            if (detectStep(state, ranges_[p - 1][size_t(b)], value, history)) {
                bool taken = true;
                if (pass.found.size() < size_t(kMaxPoints)) {
                    pass.found.emplace_back(u, candidateOf(g, p, u, peakRanges_[p - 1][size_t(b)]));
                } else {
                    if (pass.blockBeyond < 0) {
                        pass.blockBeyond = u;
                    }
                    // The first pass fills the list alone: beyond the limit its onsets are not
                    // taken. The second's are measured against the room the first left, so they
                    // count as taken here (see PassOnsets::appendTo).
                    taken = p == 2;
                }
                if (taken) {
                    value = 65536.0;
                    history = 65536.0;
                }
            }
            state.previousValue = value;
            state.previousHistory = history;
        }
    }
    followed_ += count;
}

bool OnsetDetector::PassOnsets::appendTo(CandidateList& list, int64_t end) const {
    const size_t room = size_t(kMaxPoints - list.count());
    size_t k = 0;
    for (; k < found.size() && found[k].first < end && k < room; ++k) {
        list.append(found[k].second);
    }
    if (k < found.size()) {
        return found[k].first < end;
    }
    return k == room && blockBeyond >= 0 && blockBeyond < end;
}

bool OnsetDetector::appendTo(CandidateList& list, int64_t firstEnd, int64_t secondEnd) const {
    bool limited = passes_[0].appendTo(list, firstEnd);
    if (channels_ == 2) {
        limited = passes_[1].appendTo(list, secondEnd) || limited;
    }
    return limited;
}

namespace {

// The reports of step 1 from the first block of the first pass on, once the onsets of the blocks
// are known; everyBlock: one before each block, else one whenever the percentage changes. On an
// abort the list holds what one pass after the other had appended by then.
bool reportDetection(const OnsetDetector& detector, int64_t from, int64_t to, bool everyBlock, CandidateList& list,
                     const SearchProgress& progress, bool& limitReached) {
    const Geometry g{int64_t(detector.dataLength()), int64_t(detector.channels()) * 2, detector.channels()};
    const int64_t blocks = detector.blocks();
    int last = -1;
    for (int64_t n = from; n < to; ++n) {
        const int p = n < blocks ? 1 : 2;
        const int64_t u = n < blocks ? n + 1 : n - blocks + 1;
        const int percent = detectionPercent(g, p, u);
        if (!everyBlock && percent == last) {
            continue;
        }
        last = percent;
        if (tick(progress, percent)) {
            limitReached = p == 1 ? detector.appendTo(list, u, 0) : detector.appendTo(list, blocks + 1, u);
            return false;
        }
    }
    return true;
}

// Step 1 from a detection done already.
bool takeOnsets(const OnsetDetector& detector, CandidateList& list, const SearchProgress& progress,
                bool& limitReached) {
    list.setCount(0);
    limitReached = false;
    const int64_t blocks = detector.blocks();
    if (!reportDetection(detector, 0, blocks * detector.channels(), false, list, progress, limitReached)) {
        return false;
    }
    limitReached = detector.appendTo(list, blocks + 1, blocks + 1);
    return true;
}

} // namespace

bool detectOnsets(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress,
                  bool& limitReached) {
    const Geometry g = geometryOf(store);
    list.setCount(0);
    limitReached = false;
    OnsetDetector detector(g.channels, uint32_t(g.dataLength));
    const int64_t blocks = detector.blocks();
    // Blocks are read a few hundred at a time (about 200 KiB in stereo), so the memory stays fixed
    // and the system calls few; the first pass reports before each block as its onsets become
    // known, the second pass after the first.
    constexpr int64_t kBlocksPerRead = 256;
    std::vector<int16_t> chunk(size_t(kBlocksPerRead * kFindSize * g.channels));
    for (int64_t first = 1; first <= blocks; first += kBlocksPerRead) {
        const int64_t count = std::min(kBlocksPerRead, blocks - first + 1);
        const int64_t samples = count * kFindSize * g.channels;
        store.readAudio((first - 1) * kFindSize * g.blockAlign, chunk.data(), size_t(samples) * 2);
        detector.feed(chunk.data(), size_t(samples));
        if (!reportDetection(detector, first - 1, first - 1 + count, true, list, progress, limitReached)) {
            return false;
        }
    }
    if (g.channels == 2 && !reportDetection(detector, blocks, 2 * blocks, true, list, progress, limitReached)) {
        return false;
    }
    limitReached = detector.appendTo(list, blocks + 1, blocks + 1);
    return true;
}

namespace {

// The refinement windows of a sample rate, in frames.
struct Windows {
    int quietSub;
    int quiet;
    int quietPair;
    int snap;
};

Windows windowsOf(uint32_t sampleRate) {
    return {scaledWindow(kQuietSubWindow, sampleRate), scaledWindow(kQuietWindow, sampleRate),
            scaledWindow(kQuietPairWindow, sampleRate), scaledWindow(kSnapWindow, sampleRate)};
}

void quietWindowWith(ChannelReader& reader, const Geometry& g, const Windows& w, SlicePoint& point) {
    const int W = w.quietSub;
    const int B = w.quiet;
    const int n = B / W;
    const int64_t start = windowStart(g, point, B);
    const int16_t* s = reader.read(start, size_t(B));
    int minimum = 32767;
    int64_t offset = B;
    for (int k = n; k >= 1; --k) {
        int peak = -129;
        for (int j = 1; j <= W; ++j) {
            peak = std::max(peak, int(s[k * j - 1]));
        }
        if (peak < minimum && minimum > 384) {
            minimum = peak;
            offset = int64_t(W) * (k - 1);
        }
    }
    point.position = uint32_t(start + offset * g.blockAlign);
}

void backwardDescentWith(ChannelReader& reader, const Geometry& g, const Windows&, SlicePoint& point) {
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

void forwardDescentWith(ChannelReader& reader, const Geometry& g, const Windows&, SlicePoint& point) {
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

void quietPairWith(ChannelReader& reader, const Geometry& g, const Windows& w, SlicePoint& point) {
    const int B = w.quietPair;
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

void snapWith(ChannelReader& reader, const Geometry& g, const Windows& w, SlicePoint& point) {
    const int B = w.snap;
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

// Runs work(from, to) over the candidates 1 to n in two parts split before `split`, the second on
// a thread of its own when there is a second processor and enough to do. Each part reads the
// store through readers of its own and writes only its own candidates' entries; the results are
// applied (with the reports) in order afterwards, so they are what one pass would give.
template <class Work>
void inTwo(int n, int split, Work&& work) {
    static const bool twoProcessors = std::thread::hardware_concurrency() > 1;
    constexpr int kWorthAThread = 64;
    if (!twoProcessors || n < kWorthAThread || split <= 1 || split > n) {
        work(1, n + 1);
        return;
    }
    auto second = std::async(std::launch::async, [&] { work(split, n + 1); });
    work(1, split);
    second.get();
}

// How far around a candidate the refinement reads at once, in frames: its passes rarely look
// further (a look outside goes to the store).
int64_t framesBeforeCandidate(const Windows& w) { return int64_t(w.quiet) + w.quietPair + 128; }
int64_t framesAfterCandidate(const Windows& w) { return int64_t(w.snap) / 2 + 128; }

// Steps 2 to 6. Each candidate's passes depend only on its own position, so they run one
// candidate at a time over one read of the store around it (in two halves side by side); the
// positions after each step are kept, so that the reports and an abort leave the list exactly as
// the steps run one after the other would have (steps 2 and 5 report progress and may stop).
// Returns false when aborted.
bool refineCandidates(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    const Geometry g = geometryOf(store);
    const Windows w = windowsOf(store.format().sampleRate);
    const int n = list.count();
    const int64_t before = framesBeforeCandidate(w) * g.blockAlign;
    const int64_t after = framesAfterCandidate(w) * g.blockAlign;
    std::vector<uint32_t> afterQuietWindow(size_t(n) + 1);
    std::vector<uint32_t> afterDescent(size_t(n) + 1);
    std::vector<uint32_t> afterQuietPair(size_t(n) + 1);
    std::vector<uint32_t> afterSnap(size_t(n) + 1);
    inTwo(n, n / 2 + 1, [&](int from, int to) {
        ChannelReader reader(store, g, size_t(before + after));
        for (int k = from; k < to; ++k) {
            SlicePoint point = list.at(k);
            reader.readAround(int64_t(point.position) - before, int64_t(point.position) + after);
            quietWindowWith(reader, g, w, point);
            afterQuietWindow[size_t(k)] = point.position;
            backwardDescentWith(reader, g, w, point);
            forwardDescentWith(reader, g, w, point);
            afterDescent[size_t(k)] = point.position;
            quietPairWith(reader, g, w, point);
            afterQuietPair[size_t(k)] = point.position;
            snapWith(reader, g, w, point);
            afterSnap[size_t(k)] = point.position;
        }
    });
    for (int k = 1; k <= n; ++k) {
        if (tick(progress, roundToInt(double(k) / double(n) * 8.0) + 80)) {
            for (int j = 1; j < k; ++j) {
                list.at(j).position = afterQuietWindow[size_t(j)];
            }
            return false;
        }
    }
    for (int k = 1; k <= n; ++k) {
        if (tick(progress, roundToInt(double(k) / double(n) * 2.0) + 88)) {
            for (int j = 1; j <= n; ++j) {
                list.at(j).position = j < k ? afterQuietPair[size_t(j)] : afterDescent[size_t(j)];
            }
            return false;
        }
    }
    for (int k = 1; k <= n; ++k) {
        list.at(k).position = afterSnap[size_t(k)];
    }
    return true;
}

// The largest minus the smallest sample of `frames` frames of one channel from byte `start`
// (zeros outside the data), through the stream window; 0 for no frames.
int64_t levelOf(StreamReader& reader, const Geometry& g, int64_t start, int64_t frames) {
    int largest = -100000;
    int smallest = 100000;
    reader.scan(start, frames, [&](const uint8_t* bytes, size_t count) {
        minMax(bytes, count, size_t(g.channels), largest, smallest);
    });
    return frames <= 0 ? 0 : int64_t(largest) - smallest;
}

// The pre-level of step 9: the level of the 500 frames before the point.
int64_t preLevelOf(StreamReader& reader, const Geometry& g, const SlicePoint& point) {
    return levelOf(reader, g, windowStart(g, point, 500), 500);
}

// The largest and smallest sample seen so far.
struct Extremes {
    int largest = -100000;
    int smallest = 100000;
    void add(const Extremes& other) {
        largest = std::max(largest, other.largest);
        smallest = std::min(smallest, other.smallest);
    }
};

// `frames` samples of one channel from byte `start`, one per frame.
struct Stretch {
    int64_t start = 0;
    int64_t frames = 0;
};

// A segment's level from the peak table: the table's whole entries [firstEntry, endEntry) in the
// middle, the frames before and after them (head and tail) from the store. Without a whole entry
// (or for samples off the channels' places) the head is the whole segment.
struct LevelParts {
    int64_t frames = 0; // of the whole segment
    Stretch head;
    Stretch tail;
    int64_t firstEntry = 0;
    int64_t endEntry = 0;
    int channel = 0;
};

LevelParts partsOf(const Geometry& g, int64_t blockBytes, int64_t wholeEntries, int64_t start, int64_t frames) {
    LevelParts parts;
    parts.frames = frames;
    parts.head = {start, frames};
    if (frames <= 0 || start % 2 != 0) {
        return parts;
    }
    const int64_t framesPerEntry = blockBytes / g.blockAlign;
    const int64_t first = start / g.blockAlign; // the frame of the first sample
    const int64_t e0 = (first + framesPerEntry - 1) / framesPerEntry;
    const int64_t e1 = std::min((first + frames) / framesPerEntry, wholeEntries);
    if (e0 >= e1) {
        return parts;
    }
    parts.channel = int(start % g.blockAlign) / 2;
    parts.head = {start, e0 * framesPerEntry - first};
    parts.firstEntry = e0;
    parts.endEntry = e1;
    parts.tail = {start + (e1 * framesPerEntry - first) * g.blockAlign, first + frames - e1 * framesPerEntry};
    return parts;
}

// Reads the peak table forward in large pieces.
class PeakWindow {
public:
    explicit PeakWindow(const sample::PeakTable& table) : table_(table), words_(16384) {}
    void add(int64_t firstEntry, int64_t endEntry, int channel, Extremes& e) {
        const uint64_t perEntry = table_.channels();
        for (uint64_t entry = uint64_t(firstEntry); entry < uint64_t(endEntry);) {
            const uint64_t word = entry * perEntry + uint64_t(channel);
            if (word < first_ || word >= first_ + held_) {
                first_ = entry * perEntry;
                held_ = table_.readWords(first_, words_.data(), words_.size());
            }
            const uint64_t stop = std::min(uint64_t(endEntry), (first_ + held_) / perEntry);
            if (stop <= entry) {
                throw sample::StreamError("The peak table ends before the sample");
            }
            for (; entry < stop; ++entry) {
                const sample::PeakWord w = sample::unpackPeak(words_[size_t(entry * perEntry + uint64_t(channel) - first_)]);
                e.largest = std::max(e.largest, int(w.max));
                e.smallest = std::min(e.smallest, int(w.min));
            }
        }
    }

private:
    const sample::PeakTable& table_;
    std::vector<int32_t> words_;
    uint64_t first_ = 0;
    uint64_t held_ = 0;
};

// The samples of one thread's part of step 8: a small window around each point (its pre-level,
// the head of its segment and the tail of the segment before it in its channel lie there), a
// second one for the odd stretch elsewhere, the stream reader for long stretches off the table.
class LevelReaders {
public:
    LevelReaders(const sample::SampleStore& store, const Geometry& g, size_t windowBytes)
        : store_(store), g_(g), near_(windowBytes), other_(windowBytes) {}
    void readAround(int64_t from, int64_t to) { near_.fill(store_, from, size_t(to - from)); }
    void add(const Stretch& s, Extremes& e) {
        if (s.frames <= 0) {
            return;
        }
        const int64_t last = s.start + (s.frames - 1) * g_.blockAlign + 2;
        const auto take = [&](const uint8_t* bytes, size_t count) {
            minMax(bytes, count, size_t(g_.channels), e.largest, e.smallest);
        };
        if (near_.holds(s.start, last)) {
            take(near_.at(s.start), size_t(s.frames));
        } else if (last - s.start <= int64_t(other_.capacity())) {
            other_.fill(store_, s.start, size_t(last - s.start));
            take(other_.at(s.start), size_t(s.frames));
        } else {
            if (!stream_) {
                stream_ = std::make_unique<StreamReader>(store_, g_, kStreamBytes);
            }
            stream_->scan(s.start, s.frames, take);
        }
    }

private:
    const sample::SampleStore& store_;
    Geometry g_;
    ByteWindow near_;
    ByteWindow other_;
    std::unique_ptr<StreamReader> stream_;
};

// Step 8 through the peak table, which describes the store: levelOfPoint[u] for every point, and
// with preLevels the pre-levels of step 9 from the same reads.
void levelsFromPeaks(const sample::SampleStore& store, const sample::PeakTable& peaks, const CandidateList& list,
                     const std::vector<int>& next, int split, std::vector<int32_t>& levelOfPoint,
                     std::vector<int64_t>* preLevels) {
    const Geometry g = geometryOf(store);
    const int n = list.count();
    const int64_t blockBytes = peaks.blockBytes();
    const int64_t wholeEntries = g.dataLength / blockBytes;
    std::vector<LevelParts> parts(size_t(n) + 1);
    std::vector<int> previous(size_t(n) + 2, 0); // the point whose segment ends where u's begins
    for (int u = 1; u <= n; ++u) {
        const SlicePoint& point = list.at(u);
        const int64_t frames =
            std::max<int64_t>(0, (int64_t(list.at(next[size_t(u)]).position) - int64_t(point.position)) / g.blockAlign);
        parts[size_t(u)] = partsOf(g, blockBytes, wholeEntries, windowStart(g, point, 50), frames);
        previous[size_t(next[size_t(u)])] = u;
    }
    std::vector<Extremes> middle(size_t(n) + 1); // head and entries
    std::vector<Extremes> tails(size_t(n) + 1);
    const int64_t margin = blockBytes + 2 * g.blockAlign;
    inTwo(n, split, [&](int from, int to) {
        LevelReaders readers(store, g, size_t(500 * g.blockAlign + 4 * margin));
        PeakWindow window(peaks);
        for (int u = from; u < to; ++u) {
            const SlicePoint& point = list.at(u);
            const LevelParts& own = parts[size_t(u)];
            const Stretch pre{windowStart(g, point, 500), 500};
            const int64_t head = own.head.start + std::min<int64_t>(own.head.frames, 2 * blockBytes / g.blockAlign) *
                                                      g.blockAlign;
            readers.readAround(std::min(pre.start, own.head.start) - margin,
                               std::max(pre.start + 500 * g.blockAlign, head) + margin);
            if (preLevels != nullptr) {
                Extremes e;
                readers.add(pre, e);
                (*preLevels)[size_t(u)] = int64_t(e.largest) - e.smallest;
            }
            Extremes& e = middle[size_t(u)];
            readers.add(own.head, e);
            if (own.endEntry > own.firstEntry) {
                window.add(own.firstEntry, own.endEntry, own.channel, e);
            }
            // Every tail is taken once: by the point after it in its channel, or by its own point
            // when its segment runs to the end marker.
            if (const int before = previous[size_t(u)]; before != 0) {
                readers.add(parts[size_t(before)].tail, tails[size_t(before)]);
            }
            if (next[size_t(u)] == n + 1) {
                readers.add(own.tail, tails[size_t(u)]);
            }
        }
    });
    for (int u = 1; u <= n; ++u) {
        Extremes e = middle[size_t(u)];
        e.add(tails[size_t(u)]);
        // A segment without frames (two points at one place) has level 0.
        levelOfPoint[size_t(u)] = parts[size_t(u)].frames <= 0 ? 0 : e.largest - e.smallest;
    }
}

// Step 8, and with preLevels the pre-levels of step 9 on the same reads (the 500 frames before a
// point come just before its segment): through the peak table when it describes the store, else
// through a large window streaming over the segments. Returns false when aborted.
bool levels(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress,
            std::vector<int64_t>* preLevels, const sample::PeakTable* peaks = nullptr) {
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
    // Split where the sample is halved, so that both halves read about as much.
    int split = 1;
    while (split <= n && int64_t(list.at(split).position) < g.dataLength / 2) {
        ++split;
    }
    std::vector<int32_t> levelOfPoint(size_t(n) + 1);
    if (peaks != nullptr && peaks->describes(store.stream(), store.format()) && peaks->blockBytes() > 0 &&
        peaks->blockBytes() % uint32_t(g.blockAlign) == 0) {
        levelsFromPeaks(store, *peaks, list, next, split, levelOfPoint, preLevels);
    } else {
        inTwo(n, split, [&](int from, int to) {
            StreamReader reader(store, g, kStreamBytes);
            for (int u = from; u < to; ++u) {
                const SlicePoint& point = list.at(u);
                if (preLevels != nullptr) {
                    (*preLevels)[size_t(u)] = preLevelOf(reader, g, point);
                }
                const int64_t end = list.at(next[size_t(u)]).position;
                const int64_t frames = std::max<int64_t>(0, (end - int64_t(point.position)) / g.blockAlign);
                reader.keepFrom(u < n ? windowStart(g, list.at(u + 1), 500) : INT64_MAX);
                // A segment without frames (two points at one place) has level 0.
                levelOfPoint[size_t(u)] = int32_t(levelOf(reader, g, windowStart(g, point, 50), frames));
            }
        });
    }
    for (int u = 1; u <= n; ++u) {
        if (tick(progress, roundToInt(double(u) / double(n) * 5.0) + 90)) {
            return false;
        }
        list.at(u).strength = levelOfPoint[size_t(u)];
    }
    return true;
}

// Step 9 from the pre-levels. Returns false when aborted.
bool applyStrengths(CandidateList& list, const std::vector<int64_t>& preLevels, const SearchProgress& progress) {
    const int n = list.count();
    for (int u = 1; u <= n; ++u) {
        if (tick(progress, roundToInt(double(u) / double(n) * 5.0) + 95)) {
            return false;
        }
        SlicePoint& point = list.at(u);
        const int64_t level = point.strength == 0 ? 1 : point.strength;
        point.strength = roundToInt(double(level - preLevels[size_t(u)]) / double(level + 1) * 65535.0);
    }
    return true;
}

} // namespace

namespace {

// One refinement step for one candidate on its own, every look read from the store.
using Step = void (*)(ChannelReader&, const Geometry&, const Windows&, SlicePoint&);
void alone(const sample::SampleStore& store, SlicePoint& point, Step step) {
    const Geometry g = geometryOf(store);
    ChannelReader reader(store, g);
    step(reader, g, windowsOf(store.format().sampleRate), point);
}

} // namespace

void quietWindow(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, quietWindowWith); }
void backwardDescent(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, backwardDescentWith); }
void forwardDescent(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, forwardDescentWith); }
void quietPair(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, quietPairWith); }
void snapToQuiet(const sample::SampleStore& store, SlicePoint& point) { alone(store, point, snapWith); }

bool segmentLevels(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    return levels(store, list, progress, nullptr);
}

bool strengths(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress) {
    const Geometry g = geometryOf(store);
    const int n = list.count();
    std::vector<int64_t> preLevels(size_t(n) + 1);
    StreamReader reader(store, g, kStreamBytes);
    for (int u = 1; u <= n; ++u) {
        preLevels[size_t(u)] = preLevelOf(reader, g, list.at(u));
    }
    return applyStrengths(list, preLevels, progress);
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
        const OnsetDetector* detected = options.detected.get();
        const bool fits = detected != nullptr && detected->complete() &&
                          detected->channels() == store.format().channels && detected->dataLength() == dataLength;
        if (!(fits ? takeOnsets(*detected, list, progress, outcome.limitReached)
                   : detectOnsets(store, list, progress, outcome.limitReached))) {
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
    if (!refineCandidates(store, list, progress)) {
        outcome.aborted = true;
        list.setMarkers(dataLength);
        return finish();
    }
    list.sortByPosition();
    list.setMarkers(dataLength);
    std::vector<int64_t> preLevels(size_t(n) + 1);
    if (tick(progress, 90) || !levels(store, list, progress, &preLevels, options.peaks) ||
        !applyStrengths(list, preLevels, progress)) {
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
