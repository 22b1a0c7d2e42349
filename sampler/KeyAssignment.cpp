#include "sampler/KeyAssignment.h"

#include <algorithm>
#include <array>

namespace cleavix::sampler {

int baseNoteOf(int noteIndex, int octave) { return (octave + 2) * 12 + noteIndex - 1; }

std::optional<std::vector<KeyRange>> assignKeysFromBase(int count, int baseNote, int interval,
                                                        bool whiteKeys) {
    if (count < 0 || interval < 0) {
        return std::nullopt;
    }
    // Semitones above C of the white keys C D E F G A B.
    static constexpr std::array<int, 7> kWhite{0, 2, 4, 5, 7, 9, 11};
    std::vector<KeyRange> keys;
    keys.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        KeyRange range;
        if (whiteKeys) {
            range.root = baseNote + (i / 7) * 12 + kWhite[static_cast<size_t>(i % 7)];
            range.low = range.root;
            range.high = range.root;
        } else {
            range.root = baseNote + i * (interval + 1);
            range.low = range.root - interval / 2;
            range.high = range.root + interval / 2;
        }
        if (range.root < 0 || range.root > 127) {
            return std::nullopt;
        }
        range.low = std::clamp(range.low, 0, 127);
        range.high = std::clamp(range.high, 0, 127);
        keys.push_back(range);
    }
    return keys;
}

std::optional<std::vector<KeyRange>> assignKeys(int count, int noteIndex, int octave, int interval,
                                                bool whiteKeys) {
    if (noteIndex < 1 || noteIndex > 12) {
        return std::nullopt;
    }
    return assignKeysFromBase(count, baseNoteOf(noteIndex, octave), interval, whiteKeys);
}

} // namespace cleavix::sampler
