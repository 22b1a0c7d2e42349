#include "slicing/Tempo.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace cleavix::slicing {

std::string tempoText(long double tempo) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%4.3Lf BPM", tempo);
    return buffer;
}

bool parseCount(const std::string& text, int& value) {
    int parsed = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
    if (text.empty() || ec != std::errc() || ptr != end || parsed < 0 || parsed > 32767) {
        return false;
    }
    value = parsed;
    return true;
}

bool ComputeTempo(TempoState& state, uint32_t left, uint32_t right, uint16_t channels, uint32_t sampleRate) {
    if (state.bars == 0 && state.beats == 0) {
        return false;
    }
    if (right <= left || sampleRate == 0 || channels == 0 || state.beatUnit == 0) {
        return false;
    }
    const long double totalBeats = (long double)state.beats + (long double)state.bars * state.beatsPerBar;
    const long double seconds = (long double)(right - left) / (long double)(channels * 2) / (long double)sampleRate;
    state.tempo = (4.0L / (long double)state.beatUnit) * 60.0L / seconds * totalBeats;
    state.text = tempoText(state.tempo);
    return true;
}

int divisionsPerBar(GridDivision division) { return static_cast<int>(division); }

int divisionsPerBeat(GridDivision division) { return static_cast<int>(division) / 4; }

std::vector<int> gridChannels(uint16_t channels, bool linked, int channelSelection) {
    if (channels != 2 || linked) {
        return {1};
    }
    if (channelSelection == 1 || channelSelection == 2) {
        return {channelSelection};
    }
    return {1, 2};
}

bool cutLoopToGrid(CandidateList& list, GridDivision division, int bars, int beats, uint32_t left, uint32_t right,
                   const sample::SampleFormat& format, bool linked, int channelSelection) {
    list.setCount(0);
    list.at(0) = SlicePoint{};
    list.at(0).channel = kCodeSecondOrMono;
    const int64_t n = int64_t(divisionsPerBar(division)) * bars + int64_t(divisionsPerBeat(division)) * beats;
    const int64_t frameBytes = format.blockAlign();
    const int64_t dataLength = format.dataLength;
    bool complete = true;
    for (int64_t k = 0; k <= n && n > 0; ++k) {
        for (int s : gridChannels(format.channels, linked, channelSelection)) {
            int64_t b = left;
            int64_t c = right;
            if (format.channels == 2) {
                b = int64_t(left & ~3u) + 2 * s - 4;
                c = int64_t(right & ~3u) + 2 * s - 2;
            }
            int64_t offset = static_cast<int64_t>(std::nearbyint(double(k) / double(n) * double(c - b)));
            offset -= offset % frameBytes;
            if (b + 50 * format.channels + offset > 100 && b + 50 * format.channels + offset < dataLength - 2) {
                SlicePoint point;
                point.position = uint32_t(b + 50 + offset);
                point.enabled = 1;
                point.locked = 1;
                point.channel = uint8_t((format.channels == 2 && !linked) ? 3 - s : s);
                if (!list.append(point)) {
                    complete = false;
                }
            }
        }
    }
    list.setMarkers(format.dataLength);
    return complete;
}

} // namespace cleavix::slicing
