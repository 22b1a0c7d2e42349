#pragma once
// tpseek: the slice point search. Detection streams the store in 205-frame blocks and appends a
// candidate at every onset; the refinement passes then move each candidate onto a quiet spot just
// before its attack and rate it with a strength from -65535 to 65534.
//
// Positions are byte offsets into the store. In stereo each channel is searched on its own: a
// candidate of the first channel sits on its frame start (code 2), one of the second channel two
// bytes later (code 1), and every pass reads the channel its candidate was found in. Windows that
// would start before the sample start at the candidate's own channel's first sample; samples
// beyond the data read as 0; no pass moves a point past the end of the sample.
//
// Threads: the run functions execute on the search worker; the candidate list, the store and the
// peak table are the worker's while it runs (the busy state keeps everything else away). The
// refinement and the segment levels split their candidates with one helper thread, which only
// reads the store and the table and writes entries of its own; the results are applied on the
// worker, in order.
#include "jobs/JobFrame.h"
#include "sample/PeakTable.h"
#include "sample/SampleStore.h"
#include "slicing/SlicePoint.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace cleavix::slicing {

inline constexpr int kFindSize = 205;
inline constexpr double kPreEmphasis = 0.63;
inline constexpr double oprec = 0.495;
inline constexpr double nprec = 0.5;
inline constexpr double sndl = 0.459;
inline constexpr double sndp = 0.4;
inline constexpr double sndp2 = 0.3;
inline constexpr double lfac = 0.5;
inline constexpr double pfac = 0.495;

// Refinement windows at 44100 Hz, scaled to the sample's rate.
inline constexpr int kQuietWindow = 240;
inline constexpr int kQuietSubWindow = 20;
inline constexpr int kQuietPairWindow = 192;
inline constexpr int kSnapWindow = 300;

// round(frames / (44100 / sampleRate)), ties to even; never below 1 so that a strange rate cannot
// empty a window (or divide by zero).
int scaledWindow(int frames, uint32_t sampleRate);

// The sensitivity threshold for a slider position (0..65535): 65535 - position - 1.
inline int64_t thresholdForSlider(int slider) { return 65535 - int64_t(slider) - 1; }
// The slider position for a percentage: round(percent / 100 * 65535).
int sliderForPercent(double percent);
// The label's percentage for a threshold: round((65535 - threshold) / 65535 * 100).
int percentForThreshold(int64_t threshold);

class OnsetDetector;

struct SearchFlags {
    bool searchRequest = false; // somebody wants a search
    bool refineOnly = false;    // the list holds placed points: skip detection, refine them
};

struct SearchOptions {
    bool linked = true;  // stereo "L + R": merge both channels' points after the search
    int viewWidth = 1000; // waveform view width in pixels; sets the linked merge's distance
    // The detection already done on the store as it stands (by the load), or null: the search then
    // takes its onsets instead of reading the store.
    std::shared_ptr<const OnsetDetector> detected;
    // The peak table, or null: while it describes the store, the segment levels take the
    // extremes of whole peak blocks from it instead of reading every sample.
    const sample::PeakTable* peaks = nullptr;
};

struct SearchProgress {
    std::function<void(int)> report; // 0..100
    std::function<bool()> stop;      // true once the user aborted
};

struct SearchOutcome {
    bool ran = false;          // the request flag was set, so the search did its work
    bool aborted = false;
    bool limitReached = false; // detection found onsets beyond the 8192-candidate limit
    bool merged = false;       // the linked merge ran
};

// The envelope followers of one channel's detection.
struct DetectorState {
    int previousSample = 0;
    double previousValue = 32768.0;
    double previousHistory = 49152.0;
};

// Which instructions blockRanges uses: the widest the processor has (AVX-512, else AVX2, where
// present), AVX2 at most, the x86-64 baseline (SSE2), or plain code one block after the other.
// All give the same results; tests compare them.
enum class DetectionPath { Best, Avx2, Baseline, Scalar };

// The envelope range (positive envelope - negative envelope) and the peak range (positive peak -
// negative peak) of `count` consecutive detection blocks of kFindSize frames, for every channel:
// samples holds count * kFindSize frames of `channels` (1 or 2) interleaved samples; channel c
// (sample c of each frame) gets ranges[c] and peakRanges[c], and previousSamples[c] is its sample
// before the first block (for the pre-emphasis). Blocks are followed several at a time, one per
// vector lane, each with exactly the arithmetic of a block on its own.
void blockRanges(const int16_t* samples, int channels, const int* previousSamples, int count, double* const* ranges,
                 int* const* peakRanges, DetectionPath path = DetectionPath::Best);
// The history of one block: whether it is an onset, with its value and history (the reset after
// an onset is the caller's).
bool detectStep(DetectorState& state, double range, double& value, double& history);

// Detection as a stream: fed a sample's store content in order from byte 0, in pieces of any size,
// it follows the detection of every channel and keeps the onsets found (at most kMaxPoints per
// channel, and where the first one beyond them lies). The load feeds one with the blocks it has in
// memory anyway, so that the search after it need not read the whole sample again; detectOnsets
// feeds one from the store.
class OnsetDetector {
public:
    OnsetDetector(uint16_t channels, uint32_t dataLength);
    // The next `count` samples (interleaved in stereo); what lies beyond the last block is ignored.
    void feed(const int16_t* samples, size_t count);

    uint16_t channels() const { return channels_; }
    uint32_t dataLength() const { return dataLength_; }
    // The number of detection blocks of each channel, and how many have been followed.
    int64_t blocks() const { return blocks_; }
    bool complete() const { return followed_ == blocks_; }
    // Appends the candidates that the first pass (p = 1) found in blocks before firstEnd, then
    // those of the second stereo pass in blocks before secondEnd, as far as the list has room:
    // the list one pass after the other leaves when stopped there. Returns whether an onset of
    // those blocks found no room.
    bool appendTo(CandidateList& list, int64_t firstEnd, int64_t secondEnd) const;

private:
    // The onsets of one pass: the first kMaxPoints, and the block of the one after them.
    struct PassOnsets {
        std::vector<std::pair<int64_t, SlicePoint>> found;
        int64_t blockBeyond = -1;
        bool appendTo(CandidateList& list, int64_t end) const;
    };
    static constexpr int kBlocksPerCall = 256;
    void follow(const int16_t* samples, int count);

    uint16_t channels_;
    uint32_t dataLength_;
    int64_t blocks_ = 0;
    int64_t followed_ = 0;
    DetectorState states_[2];
    PassOnsets passes_[2];
    std::vector<int16_t> partial_; // a block split between two feeds
    std::vector<double> ranges_[2];
    std::vector<int> peakRanges_[2];
};

// Detection from the store: fills the list from scratch (markers not set). Returns false when aborted.
bool detectOnsets(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress,
                  bool& limitReached);

// The refinement passes for one candidate, in the order the search runs them (exposed for tests):
// the quiet window, the descents backward and forward, the quiet pair, the snap to the quietest
// neighbour.
void quietWindow(const sample::SampleStore& store, SlicePoint& point);
void backwardDescent(const sample::SampleStore& store, SlicePoint& point);
void forwardDescent(const sample::SampleStore& store, SlicePoint& point);
void quietPair(const sample::SampleStore& store, SlicePoint& point);
void snapToQuiet(const sample::SampleStore& store, SlicePoint& point);

// The segment levels and the strengths over a sorted list with markers set. Return false when
// aborted.
bool segmentLevels(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress);
bool strengths(const sample::SampleStore& store, CandidateList& list, const SearchProgress& progress);

// The linked merge: keeps points further apart than dataLength / viewWidth * channels * 2 bytes,
// on their frame starts with code 1, and sets the markers again.
void linkedMerge(CandidateList& list, uint32_t dataLength, uint16_t channels, int viewWidth);

// The whole search: detection, refinement, sort, levels, strengths and the linked merge (the
// main-thread parts of the completion excepted).
SearchOutcome runSliceSearch(const sample::SampleStore& store, CandidateList& list, SearchFlags& flags,
                             const SearchOptions& options, const SearchProgress& progress = {});

// The worker of the search.
class tpseek final : public jobs::Job {
public:
    tpseek(const sample::SampleStore& store, CandidateList& list, SearchFlags& flags, SearchOptions options,
           SearchOutcome& outcome)
        : store_(store), list_(list), flags_(flags), options_(options), outcome_(outcome) {}
    void run(jobs::JobContext& context) override;

private:
    const sample::SampleStore& store_;
    CandidateList& list_;
    SearchFlags& flags_;
    SearchOptions options_;
    SearchOutcome& outcome_;
};

} // namespace cleavix::slicing
