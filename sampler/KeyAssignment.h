#pragma once
// Laying a batch of samples over the keyboard: root, low and high key per sample from the base
// note, the interval and the white-key rule. Used by every driver that maps keys (SMDI key-range
// headers, Yamaha key maps, Akai keygroups) and by the batch dialog's range check.
// Pure functions; no threads.
#include <optional>
#include <vector>

namespace cleavix::sampler {

struct KeyRange {
    int root = 0;
    int low = 0;
    int high = 0;
    bool operator==(const KeyRange&) const = default;
};

// The base note of a note index (1 = C .. 12 = B) and a shown octave (C2 is 48).
int baseNoteOf(int noteIndex, int octave);

// Keys for `count` samples starting at `baseNote` with `interval` keys between roots (each sample
// spans interval div 2 keys either side). With white keys only every sample gets one white key,
// going up from the base note. Low and high keys are clamped to 0..127; nullopt when a root falls
// outside 0..127 (the samples do not fit), or count or interval is negative.
std::optional<std::vector<KeyRange>> assignKeysFromBase(int count, int baseNote, int interval,
                                                        bool whiteKeys);

// The same from a note index and octave as the key-map settings hold them.
std::optional<std::vector<KeyRange>> assignKeys(int count, int noteIndex, int octave, int interval,
                                                bool whiteKeys);

} // namespace cleavix::sampler
