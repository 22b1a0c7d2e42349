#pragma once
// The prompter: message boxes with fixed texts and buttons, and the few questions that need a
// dialog's answer (a file name to save under). The window implements it with real dialogs; the
// command-line tool answers from its options. Called on the main thread only.
#include <cstdint>
#include <optional>
#include <string>

namespace cleavix::jobs {

enum class MessageKind { Error, Warning, Information, Confirmation };
enum class Buttons { Ok, OkCancel, YesNo, YesCancel, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

// What the save dialog hands back: the chosen name and the bit depth picked in its format list.
struct SaveTarget {
    std::string fileName;
    uint8_t saveBits = 16;
};

class Prompter {
public:
    virtual ~Prompter() = default;
    // A message box. caption may be empty (the program's name is used).
    virtual Answer ask(MessageKind kind, const std::string& text, const std::string& caption,
                       Buttons buttons) = 0;
    // The save dialog ("Save Waveform As"), prefilled with a name and the current bit depth.
    // Returns nothing when the user cancels.
    virtual std::optional<SaveTarget> chooseSaveTarget(const std::string& suggestedName,
                                                       uint8_t saveBits) = 0;
};

} // namespace cleavix::jobs
