#include "ui/platform/QtPrompter.h"

#include <QMessageBox>

namespace cleavix::ui {

QString messageText(const std::string& text) {
    QString t = QString::fromStdString(text);
    t.replace("\r\n", "\n");
    return t;
}

jobs::Answer QtPrompter::ask(jobs::MessageKind kind, const std::string& text, const std::string& caption,
                             jobs::Buttons buttons) {
    QMessageBox box(parent_);
    box.setObjectName("CleavixMessage");
    box.setWindowTitle(caption.empty() ? QString("Cleavix") : QString::fromStdString(caption));
    box.setText(messageText(text));
    switch (kind) {
    case jobs::MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case jobs::MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case jobs::MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case jobs::MessageKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case jobs::Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case jobs::Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case jobs::Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case jobs::Buttons::YesCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
        break;
    case jobs::Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return jobs::Answer::Ok;
    case QMessageBox::Yes:
        return jobs::Answer::Yes;
    case QMessageBox::No:
        return jobs::Answer::No;
    default:
        // Closing the box counts as its most cautious button.
        return buttons == jobs::Buttons::Ok ? jobs::Answer::Ok
               : buttons == jobs::Buttons::YesNo ? jobs::Answer::No
                                                 : jobs::Answer::Cancel;
    }
}

std::optional<jobs::SaveTarget> QtPrompter::chooseSaveTarget(const std::string& suggestedName, uint8_t saveBits) {
    if (!saveDialog) {
        return std::nullopt;
    }
    return saveDialog(suggestedName, saveBits);
}

} // namespace cleavix::ui
