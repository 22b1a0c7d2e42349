#pragma once
// The peak table of a store whose tail an edit moves down (a cut, a crop), built from the bytes
// the move has already put in their final place, on a thread of its own. The move is the kernel
// copying pages; the table's build reads and scans them: side by side on two cores the edit takes
// about as long as the move alone instead of the move and the build one after the other.
//
// Threads: everything here is called on the edit's worker; the build (the store's reads, the
// table's scan and writes) runs on the helper between the constructor and waitForAll. The worker
// meanwhile touches neither the table nor the store's bytes below the mark it has handed over: the
// move writes only past it, and the store changes size only once waitForAll has returned.
#include "editing/Blocks.h"
#include "editing/Editor.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

namespace cleavix::editing {

class PeaksBehindAMove {
public:
    // Sets aside the table of the store as it was (as the edit's rebuild does), keeps its entries
    // inside the first unchangedBytes, and starts building the rest of a store newLength long.
    PeaksBehindAMove(Editor& editor, uint32_t newLength, uint16_t channels, uint32_t unchangedBytes);
    // Stops the build where it is when the edit did not get to finish (a failure).
    ~PeaksBehindAMove();
    PeaksBehindAMove(const PeaksBehindAMove&) = delete;
    PeaksBehindAMove& operator=(const PeaksBehindAMove&) = delete;

    // The store's first `bytes` bytes are as they will stay.
    void finalUpTo(uint64_t bytes);
    // Every byte is in place: waits until the build has read them all.
    void waitForAll();
    // Once the store has its new length: the table finished and marked as describing it. When the
    // disk had no room for it beside the one set aside, that one goes and the table is built again
    // in its place, as the edit's rebuild does.
    void finish(Pace& pace);

private:
    void build();
    void stopBuild();

    Editor& editor_;
    const uint32_t newLength_;
    const uint16_t channels_;
    bool aside_ = false;
    uint64_t built_ = 0; // the helper's until it is joined
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t final_ = 0;
    bool quit_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

} // namespace cleavix::editing
