#pragma once
// The process commands: Silence and Reverse (on the selection or on a segment), Invert,
// Normalise, Quantise, Adjust Sample Rate, Convert Channels and Strip Silence, with the settings
// their dialogs keep between uses. Each launches through the editor's frame and records its undo.
//
// Threads: main thread only, like the Editor (every command asserts it).
#include "editing/Editor.h"
#include "processing/ProcessWorkers.h"
#include "processing/StripSilence.h"

#include <string>

namespace cleavix::processing {

struct ProcessSettings {
    std::string normalisePercent = "100"; // as typed in the dialog
    bool recutAfterNormalise = true;      // "Re-cut sample"
    bool dcCentre = true;                 // "D.C. center"
    int quantiseLevel = 4;                // 0..8
    int stripThreshold = 1;               // 1..5000 ("THold")
    int stripGap = 10;                    // 10..15000 ("Gapp")
    int stripMode = 0;                    // 0 points at the joins, 1 keep old, 2 re-cut
};

class Processor {
public:
    explicit Processor(editing::Editor& editor) : editor_(editor) {}

    ProcessSettings settings;

    bool silence(editing::Done done = {});
    bool silenceSegment(int index, editing::Done done = {});
    bool reverse(editing::Done done = {});
    bool reverseSegment(int index, editing::Done done = {});
    bool invert(editing::Done done = {});
    // False when the percentage text is not a whole number (the dialog's OK stays disabled).
    bool normalise(editing::Done done = {});
    bool quantise(editing::Done done = {});
    // The rate dialog's text; false when it is not a whole number above 0.
    bool adjustRate(const std::string& text);
    // choice: stereo to mono 0 left, 1 right, 2 mix; mono to stereo 0.
    bool convertChannels(int choice, editing::Done done = {});
    // With the settings' threshold, gap and mode. On one channel of stereo it first warns through
    // the prompter that both channels are processed; Cancel refuses.
    bool stripSilence(editing::Done done = {});

private:
    enum class Kind { Silence, Reverse };
    bool inPlace(Kind kind, uint32_t start, uint32_t end, uint8_t step, uint8_t both, editing::Done done);
    bool selectionProcess(Kind kind, editing::Done done);
    bool segmentProcess(Kind kind, int index, editing::Done done);
    bool simpleProcess(std::unique_ptr<jobs::Job> job, jobs::ProcessMode mode, uint8_t code, const char* name,
                       editing::Done done);
    void completeInPlace(editing::Done done);

    editing::Editor& editor_;
};

} // namespace cleavix::processing
