#include "sampler/midi/MidiBackend.h"

#include <cstring>

namespace cleavix::sampler::midi {

namespace {

std::vector<MidiDeviceInfo> list(const MidiBackends& backends, bool inputs) {
    std::vector<MidiDeviceInfo> out;
    for (size_t b = 0; b < backends.size(); ++b) {
        if (!backends[b]) {
            continue;
        }
        for (const auto& port : inputs ? backends[b]->inputs() : backends[b]->outputs()) {
            out.push_back({int(out.size()), port.name, backends[b]->kind(), port.key, b});
        }
    }
    return out;
}

} // namespace

std::vector<MidiDeviceInfo> listMidiInputs(const MidiBackends& backends) { return list(backends, true); }
std::vector<MidiDeviceInfo> listMidiOutputs(const MidiBackends& backends) { return list(backends, false); }

std::string midiErrorText(int code) {
    const int number = code < 0 ? -code : code;
    // errno numbers have texts; anything else (or an unknown number) has none.
    if (number > 0 && number < 134) {
        char buffer[128];
        const char* text = strerror_r(number, buffer, sizeof buffer);
        if (text != nullptr && std::strncmp(text, "Unknown error", 13) != 0) {
            return text;
        }
    }
    return "Specified error number is out of range";
}

} // namespace cleavix::sampler::midi
