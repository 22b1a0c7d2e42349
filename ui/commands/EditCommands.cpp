#include "ui/commands/EditCommands.h"

#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"
#include "ui/view/ViewState.h"
#include "ui/view/WaveBox.h"

#include "processing/Processor.h"
#include "slicing/Slicer.h"

#include <QMainWindow>
#include <QAction>
#include <QButtonGroup>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QRadioButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace cleavix::ui {

QStringList waveMimeTypes() { return {"audio/x-wav", "audio/wav", "audio/vnd.wave"}; }

QByteArray waveImageFrom(const QMimeData* data) {
    if (data == nullptr) {
        return {};
    }
    for (const QString& type : waveMimeTypes()) {
        if (data->hasFormat(type)) {
            return data->data(type);
        }
    }
    return {};
}

EditCommands::EditCommands(MainWindowHost& form) : QObject(&form.mainWindow()), form_(form) {}

void EditCommands::buildActions() {
    auto make = [this](const char* name, const QString& text, const QString& hint, std::function<void()> fn) {
        auto* a = new QAction(text, &form_.mainWindow());
        a->setObjectName(name);
        if (!hint.isEmpty()) {
            a->setStatusTip(hint);
            a->setToolTip(hint);
        }
        connect(a, &QAction::triggered, this, [fn = std::move(fn)] { fn(); });
        return a;
    };
    // The desktop's standard keys, where the program's own keys leave them free.
    make("Undo1", "&Undo", {}, [this] { undo(); })->setShortcut(QKeySequence::Undo);
    make("Cut1", "Cut", "Cut selected region", [this] { cut(); })->setShortcut(QKeySequence::Cut);
    make("Clear1", "Clear", {}, [this] { cut(); })->setShortcut(QKeySequence::Delete);
    make("Copy1", "&Copy", {}, [this] { copy(); })->setShortcut(QKeySequence::Copy);
    make("PasteKeep1", "Paste And &Keep", {}, [this] { paste(false); })->setShortcut(QKeySequence::Paste);
    make("PasteFindNew1", "Paste And Find &New", {}, [this] { paste(true); });
    make("PasteToNew1", "Paste To New", {}, [this] { pasteToNew(); });
    make("Crop1", "Crop", "Crop selected region", [this] { crop(); });

    auto& session = form_.session();
    auto process = [this, &session](bool (processing::Processor::*run)(editing::Done)) {
        return [this, &session, run] {
            if (!canEdit()) {
                return;
            }
            (session.processor().*run)([this](bool) { finished(); });
        };
    };
    auto button = [&](const char* name, const QString& text, const char* theme, const QString& hint,
                      std::function<void()> fn) {
        QAction* a = make(name, text, {}, std::move(fn));
        a->setIcon(QIcon::fromTheme(theme));
        const auto bar = hint.indexOf('|');
        a->setToolTip(hint.left(bar));
        a->setStatusTip(hint.mid(bar + 1));
    };
    button("CutButton", "Cut", "edit-cut", "Cut|Cut selected region", [this] { cutButton(); });
    button("CopyButton", "Copy", "edit-copy", "Copy|Copy selected region", [this] { copy(); });
    button("PasteButton", "Paste", "edit-paste", "Paste|Paste to selected region", [this] { paste(false); });
    button("CropButton", "Crop", "transform-crop", "Crop|Crop selected region", [this] { crop(); });

    make("Silence1", "Silence", "Silence the selected region", process(&processing::Processor::silence));
    make("Reverse1", "Reverse", "Reverse the selected region", process(&processing::Processor::reverse));
    make("Invert1", "&Invert", "Invert sample", process(&processing::Processor::invert));

    auto grid = [this, &session](slicing::GridDivision division) {
        return [this, &session, division] {
            if (!canEdit()) {
                return;
            }
            session.slicer().cutLoopTo(division, [this](bool) { finished(); });
        };
    };
    make("CutLoop8ths1", "8ths", {}, grid(slicing::GridDivision::Eighths));
    make("CutLoop16ths1", "16ths", {}, grid(slicing::GridDivision::Sixteenths));
    make("CutLoop32nds1", "32nds", {}, grid(slicing::GridDivision::ThirtySeconds));
    make("Recut1", "Re-cut", "Re-cut the sample as first loaded", [this, &session] {
        if (canEdit()) {
            session.slicer().recut([this](const slicing::SearchOutcome&) { finished(); });
        }
    });
    auto randomise = [this, &session](bool keep) {
        return [this, &session, keep] {
            if (canEdit()) {
                session.editor().randomise(keep, [this](bool) { finished(); });
            }
        };
    };
    make("Randomise1", "R&andomise", {}, randomise(false));
    make("RandomiseKeep1", "Ran&domise and keep points", {}, randomise(true));

    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { updateEnabling(); });
}

void EditCommands::fillEditMenu(QMenu& edit) {
    QAction* first = edit.actions().isEmpty() ? nullptr : edit.actions().first();
    const QList<QAction*> head{form_.action("Undo1"),   nullptr,
                               form_.action("Cut1"),    form_.action("Clear1"),
                               form_.action("Copy1"),   form_.action("PasteKeep1"),
                               form_.action("PasteFindNew1"), form_.action("PasteToNew1"),
                               form_.action("Crop1"),   nullptr};
    for (QAction* a : head) {
        if (a == nullptr) {
            edit.insertSeparator(first);
        } else {
            edit.insertAction(first, a);
        }
    }
    connect(&edit, &QMenu::aboutToShow, this, [this] { updateEnabling(); });
    // The channel choice decides whether Cut and Crop may run.
    for (const char* name : {"LeftChannel1", "RightChannel1"}) {
        connect(form_.action(name), &QAction::toggled, this, [this] { updateEnabling(); });
    }
}

void EditCommands::fillEditToolbar(QToolBar& bar) {
    QAction* first = bar.actions().isEmpty() ? nullptr : bar.actions().first();
    for (const char* name : {"CutButton", "CopyButton", "PasteButton", "CropButton"}) {
        bar.insertAction(first, form_.action(name));
    }
    bar.insertSeparator(first);
}

void EditCommands::fillProcessMenu(QMenu& process) {
    process.addAction(form_.action("Silence1"));
    process.addAction(form_.action("Reverse1"));
    process.addAction(form_.action("Invert1"));
    process.addSeparator();
    auto* cutLoop = process.addMenu("Cut Loop To");
    cutLoop->setObjectName("CutLoopTo1");
    cutLoop->addAction(form_.action("CutLoop8ths1"));
    cutLoop->addAction(form_.action("CutLoop16ths1"));
    cutLoop->addAction(form_.action("CutLoop32nds1"));
    process.addAction(form_.action("Recut1"));
    process.addAction(form_.action("Randomise1"));
    process.addAction(form_.action("RandomiseKeep1"));
    connect(&process, &QMenu::aboutToShow, this, [this] { updateEnabling(); });
}

bool EditCommands::canEdit() const {
    auto& session = form_.session();
    return session.loaded() && !session.busy();
}

bool EditCommands::bothChannelsOrMono() const {
    return form_.session().format().channels == 1 || form_.session().editor().processChannel() == 3;
}

bool EditCommands::clipboardHasWave() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr) {
        return false;
    }
    const QStringList formats = data->formats();
    const QStringList types = waveMimeTypes();
    return std::any_of(types.begin(), types.end(), [&](const QString& type) { return formats.contains(type); });
}

void EditCommands::updateEnabling() {
    auto& session = form_.session();
    auto& editor = session.editor();
    const bool loaded = session.loaded();
    const bool idle = !session.busy();
    const bool playing = form_.transport() != nullptr && form_.transport()->playing();
    QAction* undo = form_.action("Undo1");
    undo->setText(QString::fromStdString(editor.undoItemText()));
    undo->setEnabled(idle && editor.undoAvailable());
    const bool cut = loaded && idle && !playing && !editor.onlyCursor() && bothChannelsOrMono();
    form_.action("Cut1")->setEnabled(cut);
    form_.action("Clear1")->setEnabled(cut);
    // The button stays on for one channel of stereo, to say why it does not cut.
    form_.action("CutButton")->setEnabled(loaded && idle && !playing && !editor.onlyCursor());
    form_.action("Copy1")->setEnabled(loaded && idle);
    form_.action("CopyButton")->setEnabled(loaded && idle);
    const bool paste = loaded && idle && !playing && clipboardHasWave();
    form_.action("PasteKeep1")->setEnabled(paste);
    form_.action("PasteFindNew1")->setEnabled(paste);
    form_.action("PasteButton")->setEnabled(paste);
    form_.action("PasteToNew1")->setEnabled(idle);
    form_.action("Crop1")->setEnabled(loaded && idle && bothChannelsOrMono());
    form_.action("CropButton")->setEnabled(loaded && idle && bothChannelsOrMono());
    for (const char* name : {"Silence1", "Reverse1", "Invert1", "CutLoop8ths1", "CutLoop16ths1", "CutLoop32nds1",
                             "Recut1", "Randomise1", "RandomiseKeep1"}) {
        form_.action(name)->setEnabled(loaded && idle);
    }
}


void EditCommands::finished() { form_.sampleEdited(); }

void EditCommands::undo() {
    if (!canEdit()) {
        return;
    }
    form_.session().editor().undo([this](bool) { finished(); });
}

void EditCommands::cut() {
    // The menu items do nothing on one channel of a stereo sample.
    if (!canEdit() || form_.session().editor().onlyCursor() || !bothChannelsOrMono()) {
        return;
    }
    form_.transport()->stop();
    form_.session().editor().cut([this](bool) { finished(); });
}

void EditCommands::cutButton() {
    if (canEdit() && !form_.session().editor().onlyCursor() && !bothChannelsOrMono()) {
        form_.message(jobs::MessageKind::Warning, editing::kMsgCutOneChannel);
        return;
    }
    cut();
}

void EditCommands::copy() {
    if (!canEdit()) {
        return;
    }
    form_.transport()->stop();
    auto& editor = form_.session().editor();
    editor.copy([this](bool complete) {
        if (complete) {
            toSystemClipboard();
        }
        finished();
    });
}

void EditCommands::toSystemClipboard() {
    const std::vector<uint8_t> image = form_.session().editor().clipboardImage();
    const QByteArray bytes(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()));
    auto* data = new QMimeData;
    for (const QString& type : waveMimeTypes()) {
        data->setData(type, bytes);
    }
    QGuiApplication::clipboard()->setMimeData(data);
}

bool EditCommands::takeClipboard() {
    const QByteArray bytes = waveImageFrom(QGuiApplication::clipboard()->mimeData());
    if (bytes.isEmpty()) {
        return false;
    }
    form_.session().editor().setClipboardImage(
        std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(bytes.constData()),
                             reinterpret_cast<const uint8_t*>(bytes.constData()) + bytes.size()));
    return true;
}

int EditCommands::askConversion(bool intoSegment) {
    const editing::PasteQuestion question = form_.session().editor().pasteQuestion(intoSegment);
    if (question == editing::PasteQuestion::None) {
        return 2;
    }
    const bool toMono = question == editing::PasteQuestion::StereoToMono;
    QDialog dialog(&form_.mainWindow());
    dialog.setObjectName("TConvertForm");
    dialog.setWindowTitle(toMono ? "Paste (Stereo to Mono):" : "Paste (Mono to Stereo):");
    auto* layout = new QVBoxLayout(&dialog);
    auto* box = new QGroupBox(toMono ? "Select Source:" : "Select Destination:", &dialog);
    auto* boxLayout = new QVBoxLayout(box);
    auto* group = new QButtonGroup(&dialog);
    const QStringList items{"Use Left Channel", "Use Right Channel", toMono ? "Mix Channels" : "Use Both Channels"};
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], box);
        group->addButton(radio, i);
        boxLayout->addWidget(radio);
    }
    group->button(2)->setChecked(true);
    layout->addWidget(box);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return dialog.exec() == QDialog::Accepted ? group->checkedId() : -1;
}

void EditCommands::paste(bool findNew) {
    if (!canEdit() || (form_.transport() != nullptr && form_.transport()->playing())) {
        return;
    }
    // Anything but a wave image on the clipboard: the paste does nothing.
    if (!takeClipboard()) {
        return;
    }
    const int choice = askConversion(false);
    if (choice < 0) {
        return;
    }
    auto& editor = form_.session().editor();
    auto done = [this](bool) { finished(); };
    if (findNew) {
        editor.pasteFindNew(choice, done);
    } else {
        editor.pasteKeep(choice, done);
    }
}

void EditCommands::pasteToNew() {
    if (form_.session().busy() || waveImageFrom(QGuiApplication::clipboard()->mimeData()).isEmpty()) {
        return;
    }
    form_.session().promptToSave([this] {
        if (!takeClipboard()) {
            return;
        }
        form_.transport()->stop();
        form_.expectNewSample();
        form_.session().editor().pasteToNew([this](bool) {
            form_.session().selection().resetChannels();
            form_.sampleChanged();
            finished();
        });
    });
}

void EditCommands::crop() {
    if (!canEdit() || !bothChannelsOrMono()) {
        return;
    }
    form_.transport()->stop();
    form_.session().editor().crop([this](bool) {
        form_.viewState().whole(form_.session().format().dataLength);
        finished();
    });
}

// ---------------------------------------------------------------------------------------------
// Segment keys

bool EditCommands::keyPress(int key) {
    if (!canEdit()) {
        return false;
    }
    switch (key) {
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        stepSegment(-1);
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        stepSegment(1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        playSelectedSegment();
        return true;
    default:
        return false;
    }
}

void EditCommands::stepSegment(int direction) {
    // The engine moves the one selection, so Cut works on what is highlighted.
    if (form_.session().selection().step(direction) < 0) {
        return;
    }
    form_.redrawWave(false);
    form_.updateEnabling();
    playSelectedSegment();
}

void EditCommands::playSelectedSegment() {
    form_.playSelectedSegment();
}

// ---------------------------------------------------------------------------------------------
// The wheel

void EditCommands::wheel(TWaveBox& box, QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (!canEdit() || steps == 0 || box.width() <= 0) {
        return;
    }
    auto& view = form_.viewState();
    const auto& f = form_.session().format();
    const int64_t length = view.length();
    const int64_t step = 1000 * (length / box.width());
    const int64_t latest = int64_t(f.dataLength) - length;
    int64_t start = std::clamp<int64_t>(int64_t(view.start) + steps * step, 0, std::max<int64_t>(latest, 0));
    if (f.channels == 2) {
        start &= ~int64_t(3);
    }
    view.start = uint32_t(start);
    view.end = uint32_t(start + length);
    form_.viewChanged();
}

void EditCommands::paintSelection(TWaveBox& box, QPainter& painter) const {
    auto& session = form_.session();
    const auto& list = session.editor().selectionList();
    if (!session.loaded() || list.size() < 3 || form_.viewState().length() == 0) {
        return;
    }
    const auto& view = form_.viewState();
    const int W = box.width();
    auto column = [&](uint32_t position) {
        return int((int64_t(position) - int64_t(view.start)) * W / int64_t(view.length()));
    };
    const auto& colours = form_.config().colours;
    if (list.size() < 4) {
        const int x = column(list[1]);
        if (x >= 0 && x < W) {
            painter.setPen(colours[ColSelectedBG]);
            painter.drawLine(x, 0, x, box.height() - 1);
        }
        return;
    }
    const int x0 = std::clamp(column(list[1]), 0, W);
    const int x1 = std::clamp(column(list[2]), 0, W);
    if (x1 > x0) {
        QColor fill = colours[ColSelectedWave];
        fill.setAlpha(96);
        painter.fillRect(x0, 0, x1 - x0, box.height(), fill);
    }
}

} // namespace cleavix::ui
