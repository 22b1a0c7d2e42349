#pragma once
// Shared by the audio tests: a prompter that remembers what it was asked to show, waiting for
// notices from a device thread, recognisable audio, and stores in memory.
#include "audio/AudioDriver.h"
#include "audio/VirtualWaveDevice.h"
#include "jobs/MainLoop.h"
#include "sample/FileAndMemoryStream.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace cleavix::audio::test {

struct Shown {
    jobs::MessageKind kind;
    std::string text;
    std::string caption;
};

class RecordingPrompter final : public jobs::Prompter {
public:
    jobs::Answer ask(jobs::MessageKind kind, const std::string& text, const std::string& caption,
                     jobs::Buttons) override {
        shown.push_back({kind, text, caption});
        return jobs::Answer::Ok;
    }
    std::optional<jobs::SaveTarget> chooseSaveTarget(const std::string&, uint8_t) override { return std::nullopt; }
    std::vector<Shown> shown;
};

// Runs the main loop's queue until `done` holds; false after `timeoutMs` without it.
inline bool pumpUntil(jobs::MainLoop& loop, const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        loop.runPending();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// `bytes` bytes of 16-bit audio in which no two nearby samples are equal, so a gap, an overlap
// or a shifted copy shows up in a byte comparison.
inline std::vector<uint8_t> patternBytes(size_t bytes, uint32_t seed = 1) {
    std::vector<uint8_t> out(bytes);
    uint32_t state = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < bytes; ++i) {
        state = state * 1664525u + 1013904223u;
        out[i] = static_cast<uint8_t>(state >> 24);
    }
    return out;
}

// Moves the virtual device's clock `bytes` further, delivering the notices as buffers end, until
// that much has played or nothing is left queued.
inline void playThrough(VirtualWaveOut& device, jobs::MainLoop& loop, uint64_t bytes) {
    for (;;) {
        const uint64_t n = device.advance(bytes);
        bytes -= n;
        loop.runPending();
        if (bytes == 0 || (n == 0 && device.queued() == 0)) {
            return;
        }
    }
}

inline std::unique_ptr<sample::TFileAndMemoryStream> memoryStore(const std::vector<uint8_t>& bytes) {
    auto store = std::make_unique<sample::TFileAndMemoryStream>();
    store->writeAll(bytes.data(), bytes.size());
    return store;
}

inline std::vector<uint8_t> repeated(const std::vector<uint8_t>& all, size_t start, size_t length, size_t times) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < times; ++i) {
        out.insert(out.end(), all.begin() + static_cast<long>(start), all.begin() + static_cast<long>(start + length));
    }
    return out;
}

inline std::vector<uint8_t> memoryOf(const sample::TFileAndMemoryStream& stream) { return stream.memory(); }

} // namespace cleavix::audio::test
