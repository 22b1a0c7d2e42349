// The session's command for the sharing of stereo slice points.
//
// Threads: main thread only.
#include "session/Session.h"

namespace cleavix::session {

bool Session::pointsShared() const { return slicer_->channelMode().linked; }

bool Session::setPointsShared(bool shared, std::function<void(bool)> done) {
    if (!loaded_ || busy() || format().channels != 2) {
        return false;
    }
    return slicer_->setShared(shared, [done = std::move(done)](const slicing::SearchOutcome& outcome) {
        if (done) {
            done(!outcome.aborted);
        }
    });
}

} // namespace cleavix::session
