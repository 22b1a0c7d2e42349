#pragma once
// The plug-in processing worker: streams the range (the loop or the whole sample, one channel or
// both) from the store through the plug-in into a "CXDX" scratch stream, and only once the output
// is complete writes it over the range. A cancelled or failed run leaves the store as it was, and
// the undo file and record too: the undo copy is made once the output is complete.
//
// Threads: the worker thread runs run(); the chain belongs to it until it ends. The store, the
// undo file and the peak table are the worker's while the job frame is busy.
#include "editing/Editor.h"
#include "jobs/JobFrame.h"
#include "plugins/PluginChain.h"

#include <cstdint>
#include <memory>
#include <string>

namespace cleavix::plugins {

inline constexpr const char* kMsgPluginError = "A plugin error occurred!";
inline constexpr const char* kMsgProcessingFailed = "A processing error occurred!";

struct PluginJob {
    uint32_t start = 0;       // byte offset, frame-aligned
    uint32_t end = 0;         // exclusive
    int channel = 3;          // 1 left, 2 right (of stereo), 3 every channel
    bool wholeSample = false; // the channel count changes: the output becomes the sample
};

// What the worker leaves for its completion.
struct PluginOutcome {
    bool applied = false;
    bool stopped = false;
    std::string error;       // a message to show
    uint32_t dataLength = 0; // the data length afterwards
    uint16_t channels = 0;   // the channel count afterwards
    uint32_t newEnd = 0;     // end of the processed range afterwards
    uint32_t latency = 0;    // frames dropped from the start
};

class TPluginProcThread final : public jobs::Job {
public:
    TPluginProcThread(editing::Editor& editor, PluginChain& chain, PluginJob job, PluginOutcome& outcome)
        : editor_(editor), chain_(chain), job_(job), outcome_(outcome) {}
    void run(jobs::JobContext& context) override;

private:
    // Feeds the range through the plug-in into the scratch stream; false when stopped or failed.
    bool feed(editing::Pace& pace, sample::TFileAndMemoryStream& output, uint64_t& outBytes);
    // Writes the complete output over the range (or as the whole sample).
    void replace(editing::Pace& pace, sample::TFileAndMemoryStream& output, uint64_t outBytes);

    editing::Editor& editor_;
    PluginChain& chain_;
    PluginJob job_;
    PluginOutcome& outcome_;
};

} // namespace cleavix::plugins
