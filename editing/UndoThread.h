#pragma once
// TUndoThread: puts the recorded state back and turns the record into the one that re-applies the
// operation, so the same command alternates between Undo and Redo.
#include "editing/Editor.h"
#include "jobs/JobFrame.h"

#include <cstdint>

namespace cleavix::editing {

// What the undo worker leaves for its completion to apply on the main thread.
struct UndoOutcome {
    uint8_t code = 0;           // the code the undo started from
    uint32_t dataLength = 0;    // the data length afterwards
    uint16_t channels = 0;      // the channel count afterwards
    uint32_t rate = 0;          // the sample rate afterwards
    bool relink = false;        // the points' sharing changes to `linked`
    bool linked = true;
    bool restoredData = false;
};

class TUndoThread final : public jobs::Job {
public:
    TUndoThread(Editor& editor, UndoOutcome& outcome) : editor_(editor), outcome_(outcome) {}
    void run(jobs::JobContext& context) override;

private:
    void restoreData(sample::TFileAndMemoryStream& redo, Pace& pace);
    void restorePoints();

    Editor& editor_;
    UndoOutcome& outcome_;
};

// Point-only codes: the record touches the candidate list alone.
bool isPointCode(uint8_t code);

} // namespace cleavix::editing
