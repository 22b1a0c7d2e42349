#include "FuzzTarget.h"
#include "editing/ClipboardImage.h"

#include <cmath>
#include <fstream>
#include <vector>

namespace cleavix::fuzz {

namespace {

// A wave image (the clipboard's header is a plain Wave header) of a few decaying hits.
std::vector<uint8_t> waveOf(uint16_t channels, uint32_t frames) {
    std::vector<uint8_t> bytes = editing::imageHeader(channels, 44100, frames * channels * 2u);
    for (uint32_t i = 0; i < frames; ++i) {
        const double envelope = std::exp(-double(i % 500) / 80.0);
        const auto value = int16_t(std::lround(20000.0 * envelope * std::sin(double(i) * 0.3)));
        for (uint16_t c = 0; c < channels; ++c) {
            bytes.push_back(uint8_t(value & 0xFF));
            bytes.push_back(uint8_t((value >> 8) & 0xFF));
        }
    }
    return bytes;
}

void write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

void writeFuzzFixtures(const std::string& dir) {
    write(dir + "/a.wav", waveOf(2, 2000));
    write(dir + "/c.wav", waveOf(1, 300));
}

} // namespace cleavix::fuzz
