#pragma once
// The demo loop: two bars of kick, snare and hats at 120 BPM, 44100 Hz, 16-bit stereo,
// synthesised here so every feature has something real to open without shipping anyone else's
// audio. Every eighth note starts a hit (hats on all of them, kicks and snares on some), so its
// attacks are known exactly.
#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::sample {

struct DemoLoopInfo {
    uint32_t sampleRate = 44100;
    uint16_t channels = 2;
    uint32_t frames = 0;
    double tempo = 120.0;
    int bars = 2;
    int beats = 8;
    std::vector<uint32_t> onsetFrames; // the first frame of every hit, in order
};

DemoLoopInfo demoLoopInfo();
// Writes the loop as a Wave or AIFF file (by the name). Returns false with `error` set on failure.
bool writeDemoLoop(const std::string& fileName, std::string& error);

} // namespace cleavix::sample
