#pragma once
// Strip Silence: the worker `Silence` finds the stretches of the range whose level stays under a
// threshold for long enough and removes them, so that the sounds between them join up.
#include "editing/Editor.h"
#include "jobs/JobFrame.h"
#include "sample/SampleFormat.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace cleavix::processing {

inline constexpr const char* kMsgStripNoFile = "Cannot create file to perform task;\r\nNot enough disk space?";
inline constexpr const char* kMsgStripBothChannels = "Process will be applied to both channels.\r\n\r\nContinue?";
inline constexpr int kMaxSilences = 16383;

struct Span {
    uint32_t start = 0;
    uint32_t end = 0; // exclusive
};

// The scan over [start, end): read(position, bytes, out) supplies the audio. Stops looking once
// kMaxSilences are found. stop() after each block ends the scan early (returns what it found).
std::vector<Span> findSilences(const std::function<void(uint32_t, size_t, uint8_t*)>& read, uint32_t start,
                               uint32_t end, uint16_t channels, int threshold, int gap,
                               const std::function<bool(uint32_t)>& blockDone = {});

struct StripOutcome {
    std::vector<Span> silences;
    uint32_t removed = 0;
    bool stopped = false;
};

class Silence final : public jobs::Job {
public:
    Silence(editing::Editor& editor, int threshold, int gap, StripOutcome& outcome)
        : editor_(editor), threshold_(threshold), gap_(gap), outcome_(outcome) {}
    void run(jobs::JobContext& context) override;

private:
    editing::Editor& editor_;
    int threshold_;
    int gap_;
    StripOutcome& outcome_;
};

} // namespace cleavix::processing
