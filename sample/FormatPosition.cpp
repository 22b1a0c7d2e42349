#include "sample/FormatPosition.h"

#include <cmath>
#include <cstdio>

namespace cleavix::sample {

namespace {

std::string padded(unsigned long long value, int width) {
    std::string text = std::to_string(value);
    while (static_cast<int>(text.size()) < width) {
        text.insert(text.begin(), '0');
    }
    return text;
}

} // namespace

std::string FormatPosition(uint32_t position, int units, uint16_t bitsPerSample, uint32_t sampleRate,
                           uint16_t channels) {
    const unsigned bytesPerFrame = (bitsPerSample / 8u) * channels;
    if (units != UnitsSeconds && units != UnitsSamples && units != UnitsTime) {
        return std::to_string(position);
    }
    if (bytesPerFrame == 0) {
        return std::to_string(position);
    }
    if (units == UnitsSamples) {
        return std::to_string(position / bytesPerFrame);
    }
    if (sampleRate == 0) {
        return std::to_string(position);
    }
    const long double seconds = static_cast<long double>(position) / sampleRate / bytesPerFrame;
    if (units == UnitsSeconds) {
        char text[64];
        std::snprintf(text, sizeof text, "%.5Lf", seconds);
        return text;
    }
    // Time: hh:mm:ss:mmm. Milliseconds that round up to 1000 carry into the seconds.
    unsigned long long whole = static_cast<unsigned long long>(seconds);
    long double fraction = seconds - static_cast<long double>(whole);
    unsigned long long millis = static_cast<unsigned long long>(std::nearbyint(fraction * 1000.0L));
    if (millis >= 1000) {
        millis -= 1000;
        ++whole;
    }
    return padded(whole / 3600, 2) + ":" + padded((whole % 3600) / 60, 2) + ":" + padded((whole % 3600) % 60, 2) +
           ":" + padded(millis, 3);
}

} // namespace cleavix::sample
