#include "slicing/export/SlicePlan.h"

#include <algorithm>
#include <array>

namespace cleavix::slicing::instrument {

std::string keyName(int key) {
    static constexpr std::array<const char*, 12> kNames{"C", "C#", "D", "D#", "E", "F",
                                                        "F#", "G", "G#", "A", "A#", "B"};
    const int octave = key >= 0 ? key / 12 - 2 : (key - 11) / 12 - 2;
    const int note = ((key % 12) + 12) % 12;
    return std::string(kNames[size_t(note)]) + std::to_string(octave);
}

SlicePlan planSlices(const std::vector<ExportFile>& files, uint32_t left, uint32_t right,
                     const sample::SampleFormat& format, const KeyLayout& layout) {
    SlicePlan plan;
    plan.sampleRate = format.sampleRate;
    // A frame is 4 bytes of stereo and 2 of mono in the 16-bit store; one channel of a stereo
    // file starts on its own sample of a frame, which the division drops.
    const uint32_t frameBytes = format.channels == 2 ? 4 : 2;
    const uint32_t from = format.frameStart(left);
    const uint32_t to = format.frameStart(right);
    plan.loopFrames = to > from ? (to - from) / frameBytes : 0;
    if (files.empty() || plan.loopFrames == 0) {
        plan.error = "The loop holds no slices: set the locators around the part to export";
        return plan;
    }
    const auto keys = sampler::assignKeys(int(files.size()), layout.noteIndex, layout.octave, layout.interval,
                                          layout.whiteKeys);
    if (!keys) {
        const int base = sampler::baseNoteOf(layout.noteIndex, layout.octave);
        plan.error = std::to_string(files.size()) + " slices need more keys than the keyboard has from " +
                     keyName(base) + (layout.whiteKeys ? " on white keys" : " at interval " +
                                                                               std::to_string(layout.interval)) +
                     ": choose a lower base note, a smaller interval or fewer slices";
    }
    for (size_t i = 0; i < files.size(); ++i) {
        Slice slice;
        slice.file = files[i].name;
        const uint32_t start = files[i].start > from ? files[i].start - from : 0;
        slice.offsetFrames = std::min<uint64_t>(start / frameBytes, plan.loopFrames);
        if (keys) {
            slice.keys = (*keys)[i];
        }
        plan.slices.push_back(slice);
    }
    for (size_t i = 0; i < plan.slices.size(); ++i) {
        const uint64_t next = i + 1 < plan.slices.size() ? plan.slices[i + 1].offsetFrames : plan.loopFrames;
        plan.slices[i].frames = next > plan.slices[i].offsetFrames ? next - plan.slices[i].offsetFrames : 0;
    }
    return plan;
}

} // namespace cleavix::slicing::instrument
