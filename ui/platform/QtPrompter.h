#pragma once
// The engine's prompter as Qt message boxes with the fixed texts and buttons, and the save dialog
// form for the questions that need a file name.
#include "jobs/Prompter.h"

#include <QString>

#include <functional>

class QWidget;

namespace cleavix::ui {

class QtPrompter final : public jobs::Prompter {
public:
    jobs::Answer ask(jobs::MessageKind kind, const std::string& text, const std::string& caption,
                     jobs::Buttons buttons) override;
    std::optional<jobs::SaveTarget> chooseSaveTarget(const std::string& suggestedName, uint8_t saveBits) override;

    // The window the boxes belong to (may be null).
    void setParent(QWidget* parent) { parent_ = parent; }
    // The save dialog; set by the main window, which owns the dialog form and its folders.
    std::function<std::optional<jobs::SaveTarget>(const std::string&, uint8_t)> saveDialog;

private:
    QWidget* parent_ = nullptr;
};

// "\r\n" as the line breaks Qt shows.
QString messageText(const std::string& text);

} // namespace cleavix::ui
