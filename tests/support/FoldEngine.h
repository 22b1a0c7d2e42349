#pragma once
// Small builders and probes shared by the slicing, editing, session and cli tests: sample files,
// scripts and clipboard images made in one call, stereo frames from two channel functions, a
// source read to its end, a progress view that calls back, and a session's stored bytes.
#include "editing/ClipboardImage.h"
#include "jobs/ProgressModel.h"
#include "sample/SampleSource.h"
#include "session/RecordTake.h"
#include "session/Session.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cleavix::test {

// Writes 16-bit samples (interleaved when stereo) as a Wave file; returns its path.
inline std::string writeWave(const std::string& path, const std::vector<int16_t>& samples, uint16_t channels = 2,
                             uint32_t rate = 44100) {
    WaveSpec format;
    format.channels = channels;
    format.sampleRate = rate;
    writeFile(path, makeWave(format, le16Bytes(samples)));
    return path;
}

// Writes text (a script, a configuration) to a file; returns its path.
inline std::string writeText(const std::string& path, const std::string& text) {
    writeFile(path, Bytes(text.begin(), text.end()));
    return path;
}

// A clipboard image of 16-bit samples.
inline Bytes clipImage(uint16_t channels, const std::vector<int16_t>& samples, uint32_t rate = 44100) {
    auto img = editing::imageHeader(channels, rate, uint32_t(samples.size() * 2));
    const auto body = le16Bytes(samples);
    img.insert(img.end(), body.begin(), body.end());
    return img;
}

// `frames` stereo frames whose samples are left(i) and right(i).
template <typename Left, typename Right>
std::vector<int16_t> stereoFrames(size_t frames, Left left, Right right) {
    std::vector<int16_t> s;
    s.reserve(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        s.push_back(int16_t(left(int(i))));
        s.push_back(int16_t(right(int(i))));
    }
    return s;
}

// Everything a source delivers, read in pieces of at most `block` samples.
inline std::vector<int16_t> drainSource(sample::SampleSource& source, size_t block) {
    std::vector<int16_t> out(source.outputBytes() / 2);
    size_t got = 0;
    while (got < out.size()) {
        const size_t n = source.read(out.data() + got, std::min(block, out.size() - got));
        if (n == 0) {
            break;
        }
        got += n;
    }
    out.resize(got);
    return out;
}

// A progress view that calls `changed` at every change of the model it is set on.
struct ProgressHook final : jobs::ProgressView {
    explicit ProgressHook(std::function<void()> onChange) : changed(std::move(onChange)) {}
    void progressShown() override {}
    void progressHidden() override {}
    void progressChanged() override { changed(); }
    std::function<void()> changed;
};

// The bytes of the session's sample as stored.
inline Bytes storeBytes(session::Session& s) {
    Bytes out(s.format().dataLength);
    s.store().stream().readAt(0, out.data(), out.size());
    return out;
}

// Keeps a take as the session's new sample and waits for it; false when refused or failed.
inline bool keepTake(SessionFixture& f, std::shared_ptr<session::RecordTake> take) {
    return f.runAndWait([&](std::function<void(bool)> done) {
        if (!f.session->keepRecording(std::move(take), done)) {
            done(false);
        }
    });
}

} // namespace cleavix::test
