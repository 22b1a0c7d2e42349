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

inline constexpr const char* kMsgInvalidRate = "This sample rate is invalid!";
inline constexpr const char* kMsgNoResampler =
    "Resampling is not available:\r\n\r\nthis program was built without libsoxr.";

// Whether `text` names a rate the sample can take: a whole number from 1 up to the largest whose
// bytes per second a Wave header holds. To resample, the rate must also lie within the
// converter's widest ratio of the current one.
bool rateTextValid(const std::string& text, uint16_t channels);
bool resampleRateValid(const std::string& text, uint32_t currentRate, uint16_t channels);

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
    // Resample the whole sample to the rate in `text`, keeping its pitch and length, with undo;
    // the slice points, the locators and the selection are scaled to the new rate. Refuses aloud
    // a rate that is not valid for the sample (kMsgInvalidRate), a result past the 32-bit
    // positions (kMsgTooLong) and a build without the converter; done(ok) after the worker.
    bool resample(const std::string& text, editing::Done done = {});
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
    // The start of an operation on the whole sample with its whole-sample undo (code 2): false,
    // after the processing error, when the backup's file cannot be made.
    bool beginWholeSample(uint32_t length, const std::string& undoName);

    editing::Editor& editor_;
};

} // namespace cleavix::processing
