#pragma once
// The slices of the loop as the instrument exports see them: each numbered slice file with its
// time from the loop's start, its length up to the next slice and the keys the key map gives it
// (the same assignment the batch transfer uses). Pure functions; no threads.
#include "sample/SampleFormat.h"
#include "sampler/KeyAssignment.h"
#include "slicing/SegmentExport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::slicing::instrument {

// The key-map settings that lay the slices over the keyboard.
struct KeyLayout {
    int noteIndex = 1; // 1 = C .. 12 = B
    int octave = 2;    // shown octave: C2 is key 48
    int interval = 0;  // keys between roots
    bool whiteKeys = false;
};

// What the exports take from the key-map dialog and the preferences.
struct Options {
    std::string name = "Vantrel"; // "Bank / Track Name": the instrument's and kit's name, the MIDI track name
    KeyLayout keys;
    bool reverseNotes = false;    // the MIDI file plays the slices from the last key down
    bool baseNoteOnly = false;    // the MIDI file plays every slice on the base note, one program each
    bool soundFontFilter = false; // the MIDI file opens the SoundFont filter cutoff for control
};

struct Slice {
    std::string file;          // the slice file
    uint64_t offsetFrames = 0; // from the loop's start
    uint64_t frames = 0;       // up to the next slice (the last: up to the loop's end)
    sampler::KeyRange keys;
};

struct SlicePlan {
    std::vector<Slice> slices;
    uint64_t loopFrames = 0;
    uint32_t sampleRate = 44100;
    // Why the slices cannot be laid over the keys (their keys are then 0), or why there are none.
    std::string error;
};

// The key name of a MIDI key: 48 -> "C2", 61 -> "C#3" (C2 = 48 as the key-map dialog shows it).
std::string keyName(int key);

// The slices of a plan of numbered files (one channel set: the files of planSegmentsInLoop for
// mono, linked stereo or one channel of unlinked stereo) over the loop [left, right).
SlicePlan planSlices(const std::vector<ExportFile>& files, uint32_t left, uint32_t right,
                     const sample::SampleFormat& format, const KeyLayout& keys);

} // namespace cleavix::slicing::instrument
