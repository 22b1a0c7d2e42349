#pragma once
// ttload: the load worker. Resets the previous sample's state on the main thread, copies the
// file's sound data into the store on the worker (building the peak table and the slice point
// search's detection on the way), then sets the new sample's state up on the main thread and hands
// the detection to the slicer.
#include "jobs/JobFrame.h"

#include <functional>
#include <string>

namespace cleavix::session {

class Session;

class ttload final : public jobs::Job {
public:
    ttload(Session& session, std::string fileName) : session_(session), fileName_(std::move(fileName)) {}
    void run(jobs::JobContext& context) override;

    bool aborted() const { return aborted_; }
    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }

private:
    Session& session_;
    std::string fileName_;
    bool aborted_ = false;
    bool failed_ = false;
    std::string error_;
};

} // namespace cleavix::session
