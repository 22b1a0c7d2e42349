#pragma once
// tmainsave and tsaveas: write the whole sample to a file on the worker. Both leave the result in
// the job for the completion handler, which asks the error question on failure.
#include "jobs/JobFrame.h"
#include "sample/WavWriter.h"

#include <string>

namespace cleavix::session {

class Session;

// Writes the whole sample: both channels of a stereo sample as a stereo file, a mono one as mono.
class tmainsave : public jobs::Job {
public:
    tmainsave(Session& session, std::string fileName) : session_(session), fileName_(std::move(fileName)) {}
    void run(jobs::JobContext& context) override;
    const sample::WriteResult& result() const { return result_; }

private:
    Session& session_;
    std::string fileName_;
    sample::WriteResult result_;
};

// The same write, to the name chosen in the save dialog.
class tsaveas final : public tmainsave {
public:
    using tmainsave::tmainsave;
};

} // namespace cleavix::session
