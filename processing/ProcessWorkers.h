#pragma once
// The in-place processes and the channel conversion. Each worker reads the edit state its command
// prepared (range, channel step, lead-in) and works through the store in blocks. Threads: each
// runs on the job frame's worker; a normalise that detects on the way has one helper thread (a
// sample::BlockAnalysis) that only reads the blocks it is handed and feeds the detector.
#include "editing/Editor.h"
#include "jobs/JobFrame.h"
#include "slicing/SliceSearch.h"

#include <cstdint>
#include <memory>
#include <string>

namespace cleavix::processing {

// Silence: the range becomes 0, after a 250-frame fade of the audio before it when the lead-in was taken.
class TSilenceThread final : public jobs::Job {
public:
    explicit TSilenceThread(editing::Editor& editor) : editor_(editor) {}
    void run(jobs::JobContext& context) override;

private:
    editing::Editor& editor_;
};

// Reverse: the range read back from its backup, written from its end backward.
class TReverseThread final : public jobs::Job {
public:
    explicit TReverseThread(editing::Editor& editor) : editor_(editor) {}
    void run(jobs::JobContext& context) override;

private:
    editing::Editor& editor_;
};

// Invert: v becomes -1 - v.
class TInvertThread final : public jobs::Job {
public:
    explicit TInvertThread(editing::Editor& editor) : editor_(editor) {}
    void run(jobs::JobContext& context) override;

private:
    editing::Editor& editor_;
};

struct NormaliseSettings {
    int percent = 100;
    bool dcCentre = true;
};

// The slice search's detection of a normalised whole sample, made from the blocks as the normalise
// writes them, for the search that follows (a re-cut) to take instead of reading the store again.
struct NormaliseDetection {
    std::shared_ptr<slicing::OnsetDetector> detector; // complete, or null
    uint64_t mark = 0; // the store's change mark it describes
};

// Normalise: optional D.C. removal, then the peak scaled to the percentage of full scale. With
// `detection` given, a normalise of the whole sample on both channels detects on the way (on a
// thread of its own beside the reading and writing).
class TNormThread final : public jobs::Job {
public:
    TNormThread(editing::Editor& editor, NormaliseSettings settings,
                std::shared_ptr<NormaliseDetection> detection = nullptr)
        : editor_(editor), settings_(settings), detection_(std::move(detection)) {}
    void run(jobs::JobContext& context) override;

private:
    editing::Editor& editor_;
    NormaliseSettings settings_;
    std::shared_ptr<NormaliseDetection> detection_;
};

// Quantise: v becomes q * (v div q) with q = 2^(16 - level).
class TQuantThread final : public jobs::Job {
public:
    TQuantThread(editing::Editor& editor, int level) : editor_(editor), level_(level) {}
    void run(jobs::JobContext& context) override;

private:
    editing::Editor& editor_;
    int level_;
};

// Convert Channels: mono to stereo (choice 0), stereo to mono (0 left, 1 right, 2 mix).
class TChannelThread final : public jobs::Job {
public:
    TChannelThread(editing::Editor& editor, int choice) : editor_(editor), choice_(choice) {}
    void run(jobs::JobContext& context) override;

private:
    editing::Editor& editor_;
    int choice_;
};

// The sample transforms themselves, for the workers and the tests.
int16_t invertSample(int16_t v);
int16_t quantiseSample(int16_t v, int level);
// trunc((v - offset) * gain), held to the 16-bit range.
int16_t normaliseSample(int16_t v, double offset, double gain);
// round((249 - i) / 249 * v), ties to even.
int16_t fadeSample(int16_t v, int i);
// quantiseSample by a shift: q * (v div q) with q = 2^shift, shift 0..16.
int16_t quantiseShifted(int16_t v, int shift);

} // namespace cleavix::processing
