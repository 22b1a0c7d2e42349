#include "slicing/export/MidiFileWriter.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace cleavix::slicing::instrument {

namespace {

constexpr uint8_t kVelocity = 100;
constexpr uint64_t kMaxDelta = 0x0FFFFFFF; // the largest variable-length quantity

void putVarLen(std::vector<uint8_t>& out, uint64_t value) {
    uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value != 0 && n < 4);
    while (n > 0) {
        --n;
        out.push_back(uint8_t(groups[n] | (n > 0 ? 0x80 : 0)));
    }
}

void putBe32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

// Quarter notes in the loop: its beats in units of the signature's beat, as quarters.
long double loopQuarters(const TempoState& tempo) {
    const long double beats = (long double)tempo.bars * tempo.beatsPerBar + tempo.beats;
    return beats * 4.0L / (tempo.beatUnit == 0 ? 4 : tempo.beatUnit);
}

struct Event {
    uint64_t tick;
    int order; // at one tick: note-offs, then programs, then note-ons
    std::vector<uint8_t> bytes;
};

} // namespace

MidiTimes midiTimes(const SlicePlan& plan, const TempoState& tempo) {
    MidiTimes times;
    const long double ticks = loopQuarters(tempo) * kTicksPerQuarter;
    times.loopTicks = uint64_t(std::llround(ticks));
    for (const Slice& slice : plan.slices) {
        const long double share = plan.loopFrames == 0 ? 0.0L : (long double)slice.offsetFrames / plan.loopFrames;
        times.noteTicks.push_back(std::min<uint64_t>(uint64_t(std::llround(share * ticks)), times.loopTicks));
    }
    return times;
}

MidiFile midiFile(const SlicePlan& plan, const TempoState& tempo, const Options& options) {
    MidiFile out;
    if (plan.slices.empty() || (!plan.error.empty() && !options.baseNoteOnly)) {
        out.error = plan.error.empty() ? "There are no slices" : plan.error;
        return out;
    }
    if (tempo.bars == 0 && tempo.beats == 0) {
        out.error = kMsgMidiNoTempo;
        return out;
    }
    const long double quarters = loopQuarters(tempo);
    const long double seconds = plan.sampleRate == 0 ? 0.0L : (long double)plan.loopFrames / plan.sampleRate;
    const long double microsPerQuarter = quarters > 0 ? seconds * 1e6L / quarters : 0.0L;
    if (!(microsPerQuarter >= 1.0L) || microsPerQuarter > 0xFFFFFFL) {
        out.error = "The loop's tempo (" + tempo.text + ") is slower than a MIDI file can hold (3.58 BPM at "
                    "the least): check its bars and beats";
        return out;
    }
    const MidiTimes times = midiTimes(plan, tempo);
    if (times.loopTicks > kMaxDelta) {
        out.error = "The loop is too many bars long for a MIDI file";
        return out;
    }
    const size_t count = plan.slices.size();
    if (options.baseNoteOnly && count > 128) {
        out.error = std::to_string(count) + " slices need more than the 128 programs \"Use base note only\" gives them";
        return out;
    }
    const int baseNote = sampler::baseNoteOf(options.keys.noteIndex, options.keys.octave);
    if (options.baseNoteOnly && (baseNote < 0 || baseNote > 127)) {
        out.error = "The base note " + keyName(baseNote) + " is outside the keyboard";
        return out;
    }

    std::vector<Event> events;
    for (size_t i = 0; i < count; ++i) {
        // Reversed, the notes in time order walk the keys from the last slice's down.
        const size_t keyOf = options.reverseNotes ? count - 1 - i : i;
        const uint8_t key = uint8_t(options.baseNoteOnly ? baseNote : plan.slices[keyOf].keys.root);
        const uint64_t on = times.noteTicks[i];
        const uint64_t off = i + 1 < count ? std::max(on, times.noteTicks[i + 1]) : times.loopTicks;
        if (options.baseNoteOnly) {
            events.push_back({on, 1, {0xC0, uint8_t(keyOf)}});
        }
        events.push_back({on, 2, {0x90, key, kVelocity}});
        events.push_back({off, 0, {0x80, key, 0}});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return std::tie(a.tick, a.order) < std::tie(b.tick, b.order); });

    std::vector<uint8_t> track;
    // Track name: the bank name, line breaks and all, as the text it is.
    std::string name = options.name.substr(0, 255);
    track.push_back(0);
    track.insert(track.end(), {0xFF, 0x03});
    putVarLen(track, name.size());
    track.insert(track.end(), name.begin(), name.end());
    // Time signature, when the beat is a power of two (the only beats a MIDI file can name).
    const unsigned unit = tempo.beatUnit == 0 ? 4 : tempo.beatUnit;
    if ((unit & (unit - 1)) == 0 && tempo.beatsPerBar > 0) {
        uint8_t power = 0;
        while ((1u << power) < unit) {
            ++power;
        }
        track.insert(track.end(), {0x00, 0xFF, 0x58, 0x04, tempo.beatsPerBar, power, 24, 8});
    }
    const uint32_t micros = uint32_t(std::llround(microsPerQuarter));
    track.insert(track.end(), {0x00, 0xFF, 0x51, 0x03, uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)});
    if (options.soundFontFilter) {
        // SoundFont 2.01 NRPN 120/8, the initial filter cutoff, at its centre (no offset): the
        // synthesiser's filter is then under the file's data-entry control.
        track.insert(track.end(), {0x00, 0xB0, 99, 120, 0x00, 0xB0, 98, 8, 0x00, 0xB0, 6, 64, 0x00, 0xB0, 38, 0});
    }
    uint64_t now = 0;
    for (const Event& event : events) {
        putVarLen(track, event.tick - now);
        now = event.tick;
        track.insert(track.end(), event.bytes.begin(), event.bytes.end());
    }
    putVarLen(track, times.loopTicks > now ? times.loopTicks - now : 0);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});

    std::vector<uint8_t>& bytes = out.bytes;
    bytes.insert(bytes.end(), {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1});
    bytes.push_back(uint8_t(kTicksPerQuarter >> 8));
    bytes.push_back(uint8_t(kTicksPerQuarter & 0xFF));
    bytes.insert(bytes.end(), {'M', 'T', 'r', 'k'});
    putBe32(bytes, uint32_t(track.size()));
    bytes.insert(bytes.end(), track.begin(), track.end());
    return out;
}

} // namespace cleavix::slicing::instrument
