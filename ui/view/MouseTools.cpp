#include "ui/view/MouseTools.h"

#include "ui/view/Artwork.h"
#include "ui/commands/EditCommands.h"
#include "ui/commands/ExportCommands.h"
#include "ui/window/MainWindowHost.h"
#include "session/Session.h"
#include "ui/platform/Config.h"
#include "ui/view/ViewState.h"
#include "ui/view/WaveRenderer.h"
#include "ui/view/WaveBox.h"

#include "processing/Processor.h"
#include "slicing/Slicer.h"

#include <QMainWindow>
#include <QAbstractSpinBox>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace cleavix::ui {

namespace {

struct ToolInfo {
    int digit;
    const char* name;
    int cursor; // the tool cursor's number; 0 the arrow
    const char* hint;
};

// In the toolbar's order; Zoom 1:1 (digit 6) sits between Zoom and Silence/reverse.
constexpr ToolInfo kTools[] = {
    {MouseTools::Select, "SpeedButton1", 0, "Select|Select tool"},
    {MouseTools::Add, "SpeedButton2", 1, "Add|Add slice point tool"},
    {MouseTools::Enable, "SpeedButton3", 2, "Enable/disable|Enable/disable slice point tool"},
    {MouseTools::Lock, "spdis", 3, "Lock/unlock|Lock/unlock slice point tool"},
    {MouseTools::Zoom, "bzoom", 4, "Zoom|Zoom tool (LMB zoom in, RMB zoom out)"},
    {MouseTools::SilenceReverse, "breverse", 5,
     "Silence/reverse|Silence/reverse segment tool (LMB silence segment, RMB reverse segment, Space auditions)"},
    {MouseTools::CopyPaste, "bcopy", 6,
     "Copy/paste|Copy/paste segment tool (LMB copy segment, RMB paste segment; spc auditions)"},
    {MouseTools::SaveSegment, "bsseg", 7, "Save segment|Save segment tool (LMB audition, RMB save)"},
};

// The tools "Use old right mouse menu" hides: their right button belongs to the popup menu.
constexpr const char* kRightButtonTools[] = {"bzoom", "breverse", "bcopy", "bsseg"};

const ToolInfo* toolInfo(int digit) {
    for (const ToolInfo& t : kTools) {
        if (t.digit == digit) {
            return &t;
        }
    }
    return nullptr;
}

// Text boxes keep their keys: a digit typed into one is not a tool choice.
bool takesText(const QWidget* w) {
    if (qobject_cast<const QLineEdit*>(w) != nullptr || qobject_cast<const QAbstractSpinBox*>(w) != nullptr ||
        qobject_cast<const QTextEdit*>(w) != nullptr || qobject_cast<const QPlainTextEdit*>(w) != nullptr) {
        return true;
    }
    const auto* combo = qobject_cast<const QComboBox*>(w);
    return combo != nullptr && combo->isEditable();
}

} // namespace

MouseTools::MouseTools(MainWindowHost& form) : QObject(&form.mainWindow()), form_(form) {
    for (int i = 0; i < int(cursors_.size()); ++i) {
        cursors_[size_t(i)] = art::toolCursor(i);
    }
}

// ---------------------------------------------------------------------------------------------
// Actions, toolbar, menus

void MouseTools::buildActions() {
    group_ = new QActionGroup(this);
    group_->setExclusive(true);
    for (const ToolInfo& t : kTools) {
        const QString hint(t.hint);
        const auto bar = hint.indexOf('|');
        auto* a = new QAction(art::toolIcon(t.cursor), hint.left(bar), &form_.mainWindow());
        a->setObjectName(t.name);
        a->setToolTip(hint.left(bar));
        a->setStatusTip(hint.mid(bar + 1));
        a->setCheckable(true);
        a->setChecked(t.digit == Select);
        group_->addAction(a);
        connect(a, &QAction::toggled, this, [this, digit = t.digit](bool on) {
            if (!on) {
                return;
            }
            tool_ = digit;
            hover_ = Hover::None;
            guide_ = false; // armed: it follows the mouse from its next move
            setViewCursor();
            form_.showPointerPosition();
            form_.redrawWave(false);
        });
    }

    auto make = [this](const char* name, const QString& text, std::function<void()> fn) {
        auto* a = new QAction(text, &form_.mainWindow());
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, [fn = std::move(fn)] { fn(); });
        return a;
    };
    auto* all = make("SelectAll1", "Select All", [this] { selectAll(); });
    all->setShortcut(QKeySequence::SelectAll);
    all->setStatusTip("Select the whole sample");
    make("SelectLoop1", "Select Loop", [this] { selectLoop(); })->setStatusTip("Select the loop region from L to R");

    // The popup's items act on the segment under the mouse where the menu was opened.
    auto view = [this]() -> const TWaveBox& { return *form_.waveView(); };
    popup_ = new QMenu(&form_.mainWindow());
    popup_->setObjectName("PopupMenu1");
    popup_->addAction(make("PlaySample1", "Play Sample", [this, view] { selectAndPlay(segmentAt(view(), popupAt_)); }));
    popup_->addAction(make("SaveSegment1", "Save Segment", [this, view] { saveSegment(segmentAt(view(), popupAt_)); }));
    popup_->addAction(make("PopupZoomIn1", "Zoom In", [this, view] { zoomAt(view(), popupAt_.x(), true); }));
    popup_->addAction(make("PopupZoomOut1", "Zoom Out", [this, view] { zoomAt(view(), popupAt_.x(), false); }));
    popup_->addAction(make("PopupZoom111", "Zoom (1:1)", [this] { form_.Zoom11(); }));
    popup_->addAction(make("PopupZoomToSegment1", "Zoom To Segment", [this, view] {
        if (usable()) {
            form_.zoomToSegmentAt(positionAt(view(), popupAt_.x()));
        }
    }));
    QMenu* tools = popup_->addMenu("Tools");
    tools->setObjectName("PopupTools1");
    tools->addAction(make("SilenceSegment1", "Silence", [this, view] { silenceSegment(segmentAt(view(), popupAt_), false); }));
    tools->addAction(make("ReverseSegment1", "Reverse", [this, view] { silenceSegment(segmentAt(view(), popupAt_), true); }));
    QMenu* edit = popup_->addMenu("Edit");
    edit->setObjectName("PopupEdit1");
    edit->addAction(make("CopySegment1", "Copy Segment", [this, view] { copySegment(segmentAt(view(), popupAt_)); }));
    edit->addAction(make("PasteIntoSegment2", "Paste Into Segment",
                         [this, view] { pasteIntoSegment(segmentAt(view(), popupAt_)); }));

    // The window's keys are seen here before the focused control takes them.
    qApp->installEventFilter(this);
}

QToolBar* MouseTools::buildToolbar() {
    auto* bar = new QToolBar("Tools", &form_.mainWindow());
    bar->setObjectName("Panel1");
    for (const ToolInfo& t : kTools) {
        if (t.digit == SilenceReverse) {
            bar->addAction(form_.action("ToolbarButton973"));
        }
        QAction* a = form_.action(t.name);
        bar->addAction(a);
        bar->widgetForAction(a)->setObjectName(t.name);
    }
    applyPreferences();
    return bar;
}

void MouseTools::fillEditMenu(QMenu& edit) {
    QAction* before = form_.action("ShowSensitivity1");
    edit.insertAction(before, form_.action("SelectAll1"));
    edit.insertAction(before, form_.action("SelectLoop1"));
    edit.insertSeparator(before);
}

void MouseTools::applyPreferences() {
    const bool old = form_.config().oldRMB;
    for (const char* name : kRightButtonTools) {
        form_.action(name)->setVisible(!old);
    }
    if (old && toolInfo(tool_) != nullptr && !form_.action(toolInfo(tool_)->name)->isVisible()) {
        chooseTool(Select);
    }
    setViewCursor(); // "ToolDefault" may have changed what the Select tool's pointer shows
}

void MouseTools::updateEnabling() {
    const bool on = usable();
    for (const char* name : {"SelectAll1", "SelectLoop1", "PlaySample1", "SaveSegment1", "PopupZoom111",
                             "PopupZoomToSegment1", "SilenceSegment1", "ReverseSegment1", "CopySegment1"}) {
        form_.action(name)->setEnabled(on);
    }
    form_.action("PopupZoomIn1")->setEnabled(on && form_.viewState().zoomInEnabled);
    form_.action("PopupZoomOut1")->setEnabled(on && form_.viewState().zoomOutEnabled);
    form_.action("PasteIntoSegment2")->setEnabled(on && form_.editCommands()->clipboardHasWave());
    setViewCursor();
}

void MouseTools::chooseTool(int digit) {
    if (digit == 6) {
        form_.action("ToolbarButton973")->trigger();
        return;
    }
    const ToolInfo* t = toolInfo(digit);
    QAction* a = t != nullptr ? form_.action(t->name) : nullptr;
    if (a != nullptr && a->isVisible()) {
        a->setChecked(true);
    }
}

// ---------------------------------------------------------------------------------------------
// Geometry

bool MouseTools::usable() const { return form_.session().loaded() && !form_.session().busy(); }

bool MouseTools::separateChannels() const {
    return form_.session().format().channels == 2 && !form_.session().slicer().channelMode().linked;
}

int MouseTools::codeAt(const TWaveBox& box, int y) const {
    return separateChannels() && y < box.height() / 2 ? slicing::kCodeFirst : slicing::kCodeSecondOrMono;
}

uint32_t MouseTools::positionAt(const TWaveBox& box, int x) const {
    const auto& f = form_.session().format();
    const uint32_t position = form_.viewState().positionAt(std::clamp(x, 0, box.width()), box.width());
    return std::min(f.frameStart(position), f.dataLength);
}

uint32_t MouseTools::roundedPositionAt(const TWaveBox& box, int x) const {
    const auto& view = form_.viewState();
    const int W = std::max(1, box.width());
    const double at = double(std::clamp(x, 0, W)) / W * view.length() + view.start;
    const uint32_t total = form_.session().format().dataLength;
    const auto position = uint32_t(std::nearbyint(at / 2.0)) * 2; // ties to even
    return total < 2 ? 0 : std::min(position, (total - 1) & ~1u);
}

int MouseTools::segmentUnder(uint32_t position, uint8_t code) const {
    return form_.session().selection().segmentAt(position, separateChannels() ? code : 0);
}

int MouseTools::segmentAt(const TWaveBox& box, QPoint at) const {
    return segmentUnder(form_.viewState().positionAt(std::clamp(at.x(), 0, box.width()), box.width()),
                        uint8_t(codeAt(box, at.y())));
}

MouseTools::Hit MouseTools::iconAt(const TWaveBox& box, QPoint at) const {
    const auto& view = form_.viewState();
    const uint32_t length = view.length();
    if (!form_.session().loaded() || length == 0) {
        return {};
    }
    const auto& slicer = form_.session().slicer();
    const auto& candidates = slicer.candidates();
    const bool separate = separateChannels();
    const int W = box.width();
    const int H = box.height();
    static const int sampleHeight = art::sampleIcon().height();
    static const int lockHeight = art::lockIcon().height();
    static const int disabledHeight = art::disabledIcon().height();
    // The icon sits right of the point's column, its bottom at the bottom of the point's half.
    auto over = [&](const slicing::SlicePoint& p, int iconHeight) {
        if (p.position <= view.start || p.position >= view.end) {
            return false;
        }
        const int x = WaveRenderer::columnOf(p.position, view.start, length, W);
        const int bottom = H / (separate ? std::max<int>(p.channel, 1) : 1) - 1;
        return at.x() >= x && at.x() <= x + 15 && at.y() <= bottom && at.y() >= bottom - iconHeight;
    };
    auto hit = [&](int candidate) {
        const uint8_t channel = std::max<uint8_t>(candidates.at(candidate).channel, 1);
        return Hit{candidate, separate ? channel : slicing::kCodeSecondOrMono};
    };
    const auto& list = slicer.slicePoints();
    for (int i = list.count(); i >= 1; --i) { // the icon drawn last lies on top
        const auto& p = list.at(i);
        if (!over(p, p.locked != 0 && form_.config().showLock ? lockHeight : sampleHeight)) {
            continue;
        }
        for (int k = 1; k <= candidates.count(); ++k) {
            const auto& c = candidates.at(k);
            if (c.position == p.position && std::max<uint8_t>(c.channel, 1) == p.channel) {
                return hit(k);
            }
        }
    }
    // A disabled point shows its own icon and is not a slice point: only the Enable/disable tool
    // reaches it, to bring it back.
    if (tool_ == Enable && form_.config().showEnable) {
        for (int k = candidates.count(); k >= 1; --k) {
            const auto& c = candidates.at(k);
            if (c.enabled == 0 && c.locked == 0 && over(c, disabledHeight)) {
                return hit(k);
            }
        }
    }
    return {};
}

void MouseTools::updateHover(TWaveBox& box, QPoint at) {
    hoverHit_ = iconAt(box, at);
    Hover hover = Hover::None;
    if (hoverHit_.candidate >= 0) {
        hover = tool_ == Enable ? Hover::Enable : tool_ == Lock ? Hover::Lock : Hover::Split;
    }
    if (hover != hover_) {
        hover_ = hover;
        setViewCursor();
    }
}

void MouseTools::setViewCursor() {
    TWaveBox* view = form_.waveView();
    if (view == nullptr) {
        return;
    }
    switch (hover_) {
    case Hover::Split:
        view->setCursor(Qt::SplitHCursor);
        return;
    case Hover::Lock:
        view->setCursor(cursors_[8]);
        return;
    case Hover::Enable:
        view->setCursor(cursors_[9]);
        return;
    case Hover::None:
        break;
    }
    if (tool_ == Select && selectsRange()) {
        view->setCursor(Qt::IBeamCursor);
        return;
    }
    const ToolInfo* t = toolInfo(tool_);
    view->setCursor(cursors_[size_t(t != nullptr ? t->cursor : 0)]);
}

bool MouseTools::selectsRange(Qt::KeyboardModifiers modifiers) const {
    const bool ctrl = ctrlDown_ || (modifiers & Qt::ControlModifier);
    return (form_.config().toolDefault == 1) != ctrl;
}

void MouseTools::setCtrl(bool down) {
    if (ctrlDown_ == down) {
        return;
    }
    ctrlDown_ = down;
    if (hover_ == Hover::None) {
        setViewCursor();
    }
}

// ---------------------------------------------------------------------------------------------
// The mouse on the waveform

void MouseTools::mousePress(TWaveBox& box, QMouseEvent* event) {
    if (!usable()) {
        return;
    }
    const QPoint at = event->position().toPoint();
    const Qt::MouseButton button = event->button();
    if (button != Qt::LeftButton && button != Qt::RightButton) {
        return;
    }
    clearPress();
    mouse_ = at;
    guide_ = false;
    clickedCode_ = uint8_t(codeAt(box, at.y()));
    pressAt_ = at;
    updateHover(box, at);
    const auto modifiers = event->modifiers();
    if ((modifiers & Qt::ShiftModifier) && tool_ != Zoom) {
        // Shift-click: zoom in (left) or out (right) around the click, nothing else. With the Zoom
        // tool the tool itself zooms at release, once.
        zoomAt(box, at.x(), button == Qt::LeftButton);
        pressed_ = true;
        shiftZoomed_ = true;
        return;
    }
    if (button == Qt::RightButton && form_.config().oldRMB) {
        openPopup(box, at);
        return;
    }
    pressed_ = true;
    if (button == Qt::LeftButton && hover_ == Hover::Split) {
        dragging_ = true;
        dragHit_ = hoverHit_;
        dragFromX_ = WaveRenderer::columnOf(form_.session().slicer().candidates().at(dragHit_.candidate).position,
                                            form_.viewState().start, form_.viewState().length(), box.width());
        dragX_ = at.x();
        return;
    }
    if (tool_ == Select && button == Qt::LeftButton && selectsRange(modifiers)) {
        // An insertion point for the pastes instead of a segment; a drag from it selects a range.
        const uint32_t here = positionAt(box, at.x());
        selectRange(here, here);
        rangeArmed_ = true;
        return;
    }
    // With a tool that has no right-button action the right button opens the popup at release:
    // no audition for it.
    const bool popupAtRelease = button == Qt::RightButton && (tool_ == Select || tool_ == Add || tool_ == Enable ||
                                                              tool_ == Lock);
    const bool auditions = tool_ != Zoom && tool_ != SilenceReverse && hover_ != Hover::Lock &&
                           hover_ != Hover::Enable && !popupAtRelease;
    if (auditions) {
        selectAndPlay(segmentAt(box, at));
    }
    rangeArmed_ = tool_ == Select && button == Qt::LeftButton;
}

void MouseTools::mouseMove(TWaveBox& box, QMouseEvent* event) {
    if (!usable()) {
        return;
    }
    const QPoint at = event->position().toPoint();
    mouse_ = at;
    const bool beyondClick = (at - pressAt_).manhattanLength() >= QApplication::startDragDistance();
    if (dragging_) {
        moved_ = moved_ || beyondClick;
        dragX_ = std::clamp(at.x(), 0, box.width() - 1);
        box.update();
        return;
    }
    if (rangeArmed_ && (event->buttons() & Qt::LeftButton)) {
        if (!ranging_ && beyondClick) {
            // The click became a drag: its audition stops, and the range is free to cut.
            ranging_ = true;
            form_.transport()->stop();
        }
        if (ranging_) {
            const uint32_t anchor = positionAt(box, pressAt_.x());
            const uint32_t here = positionAt(box, at.x());
            selectRange(std::min(anchor, here), std::max(anchor, here));
            return;
        }
    }
    if (tool_ == Add) {
        guide_ = true;
        box.update();
    }
    if (!pressed_) {
        updateHover(box, at);
    }
}

void MouseTools::mouseRelease(TWaveBox& box, QMouseEvent* event) {
    if (!pressed_) {
        return;
    }
    const bool zoomed = shiftZoomed_;
    const bool pointMoved = dragging_ && moved_;
    const bool ranged = ranging_;
    const Hit dragged = dragHit_;
    clearPress();
    box.update();
    if (zoomed || !usable()) {
        return;
    }
    const QPoint at = event->position().toPoint();
    mouse_ = at;
    auto& slicer = form_.session().slicer();
    if (pointMoved) {
        slicer.movePoint(dragged.candidate, roundedPositionAt(box, at.x()));
        form_.updateEnabling();
        updateHover(box, at);
        return;
    }
    if (ranged) {
        return;
    }
    const bool left = event->button() == Qt::LeftButton;
    // The segment the press chose (and auditioned).
    const int segment = segmentUnder(positionAt(box, pressAt_.x()), clickedCode_);
    switch (tool_) {
    case CopyPaste:
        left ? copySegment(segment) : pasteIntoSegment(segment);
        return;
    case SilenceReverse:
        silenceSegment(segment, !left);
        return;
    case SaveSegment:
        if (!left) {
            saveSegment(segment);
        }
        return;
    case Zoom:
        zoomAt(box, at.x(), left);
        return;
    default:
        break;
    }
    if (!left) {
        openPopup(box, at);
        return;
    }
    const Hit hit = iconAt(box, at);
    if ((tool_ == Lock || tool_ == Enable) && hit.candidate >= 0) {
        togglePoint(hit, tool_ == Lock);
    } else if (tool_ == Add) {
        slicer.addPoint(roundedPositionAt(box, at.x()), clickedCode_ == slicing::kCodeFirst);
        form_.updateEnabling();
    }
    updateHover(box, at);
}

void MouseTools::clearPress() {
    pressed_ = false;
    shiftZoomed_ = false;
    rangeArmed_ = false;
    ranging_ = false;
    dragging_ = false;
    moved_ = false;
    dragHit_ = {};
}

void MouseTools::paintOverlay(TWaveBox& box, QPainter& painter) const {
    if (!usable()) {
        return;
    }
    const int H = box.height();
    const int M = H / 2;
    const bool separate = separateChannels();
    // The rows a line of channel code `code` covers: the whole height, or the point's half.
    auto rows = [&](uint8_t code) {
        if (!separate) {
            return std::pair{1, H - 2};
        }
        return code == slicing::kCodeFirst ? std::pair{1, M + 1} : std::pair{M, H - 2};
    };
    if (dragging_ && moved_) {
        const auto [top, bottom] = rows(dragHit_.code);
        // The point's own cut line goes: that column as the waveform alone shows it.
        const QImage& plain = form_.renderer().cachedImage();
        if (!plain.isNull() && dragFromX_ >= 0 && dragFromX_ < plain.width()) {
            painter.drawImage(QPoint(dragFromX_, top), plain, QRect(dragFromX_, top, 1, bottom - top + 1));
        }
        painter.setPen(form_.config().colours[ColCutLine]);
        painter.drawLine(dragX_, top, dragX_, bottom);
    } else if (guide_ && tool_ == Add && mouse_.x() >= 0 && mouse_.x() < box.width()) {
        const auto [top, bottom] = rows(uint8_t(codeAt(box, mouse_.y())));
        painter.save();
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(Qt::white);
        painter.drawLine(mouse_.x(), top, mouse_.x(), bottom);
        painter.restore();
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void MouseTools::selectRange(uint32_t start, uint32_t end) {
    if (!usable()) {
        return;
    }
    form_.session().selection().selectRange(start, end);
    form_.redrawWave(true);
    form_.updateEnabling();
}

void MouseTools::selectAll() { selectRange(0, form_.session().format().dataLength); }

void MouseTools::selectLoop() {
    const auto& slicer = form_.session().slicer();
    selectRange(slicer.left(), slicer.right());
}

bool MouseTools::chooseSegment(int index) {
    // What is highlighted is what the edit commands work on.
    if (!usable() || !form_.session().selection().selectSegment(index)) {
        return false;
    }
    form_.redrawWave(true);
    form_.updateEnabling();
    return true;
}

void MouseTools::selectAndPlay(int index) {
    if (chooseSegment(index)) {
        form_.transport()->playSegment(form_.transportInput());
    }
}

void MouseTools::zoomAt(const TWaveBox& box, int x, bool in) {
    const uint32_t centre = form_.viewState().positionAt(std::clamp(x, 0, box.width()), box.width());
    form_.zoom([this, centre, in](uint32_t, uint32_t total, uint32_t frameBytes) {
        if (in && form_.viewState().zoomInEnabled) {
            form_.viewState().zoomIn(centre, total, frameBytes);
        } else if (!in && form_.viewState().zoomOutEnabled) {
            form_.viewState().zoomOut(centre, total, frameBytes);
        }
    });
}

void MouseTools::copySegment(int index) {
    EditCommands& edits = *form_.editCommands();
    if (!edits.canEdit()) {
        return;
    }
    form_.transport()->stop();
    form_.session().editor().copySegment(index, [&edits](bool complete) {
        if (complete) {
            edits.toSystemClipboard();
        }
        edits.finished();
    });
}

void MouseTools::pasteIntoSegment(int index) {
    EditCommands& edits = *form_.editCommands();
    // Anything but a wave image on the clipboard: nothing to paste.
    if (!edits.canEdit() || !edits.takeClipboard()) {
        return;
    }
    const int choice = edits.askConversion(true);
    if (choice < 0) {
        return;
    }
    form_.transport()->stop();
    form_.session().editor().pasteIntoSegment(index, choice, [&edits](bool) { edits.finished(); });
}

void MouseTools::silenceSegment(int index, bool reverse) {
    EditCommands& edits = *form_.editCommands();
    if (!edits.canEdit()) {
        return;
    }
    form_.transport()->stop();
    auto& processor = form_.session().processor();
    auto done = [&edits](bool) { edits.finished(); };
    if (reverse) {
        processor.reverseSegment(index, done);
    } else {
        processor.silenceSegment(index, done);
    }
}

void MouseTools::saveSegment(int index) {
    if (usable()) {
        form_.exportCommands()->saveSegmentAt(index);
    }
}

void MouseTools::togglePoint(const Hit& hit, bool lock) {
    auto& slicer = form_.session().slicer();
    const auto& point = slicer.candidates().at(hit.candidate);
    const bool on = lock ? point.locked != 0 : point.enabled != 0;
    using Change = bool (slicing::Slicer::*)(int);
    const Change change = lock ? (on ? &slicing::Slicer::unlockPoint : &slicing::Slicer::lockPoint)
                               : (on ? &slicing::Slicer::disablePoint : &slicing::Slicer::enablePoint);
    (slicer.*change)(hit.candidate);
    form_.updateEnabling();
}

void MouseTools::openPopup(TWaveBox& box, QPoint at) {
    popupAt_ = at;
    updateEnabling();
    popup_->popup(box.mapToGlobal(at));
}

// ---------------------------------------------------------------------------------------------
// Keys

bool MouseTools::keyPress(QKeyEvent* event) {
    if (!usable()) {
        return false;
    }
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::NoModifier && key >= Qt::Key_1 && key <= Qt::Key_9) {
        chooseTool(key - Qt::Key_0);
        if (tool_ == Add && key == Qt::Key_2 && mouse_.x() >= 0) {
            guide_ = true; // at the mouse at once
            form_.waveView()->update();
        }
        return true;
    }
    if (modifiers == Qt::NoModifier && key == Qt::Key_Space) {
        spaceKey();
        return true;
    }
    if (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier) {
        return form_.editCommands()->keyPress(key);
    }
    return false;
}

void MouseTools::spaceKey() {
    // The segment under the mouse of the channel under it is selected; the visible part plays.
    if (mouse_.x() >= 0) {
        chooseSegment(segmentAt(*form_.waveView(), mouse_));
    }
    form_.transport()->playVisible(form_.transportInput());
}

bool MouseTools::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyRelease:
    case QEvent::KeyPress: {
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Control && !key->isAutoRepeat()) {
            // Held down over this window; let go anywhere (a menu or a dialog may have the keys).
            if (event->type() == QEvent::KeyRelease) {
                setCtrl(false);
            } else if (widget != nullptr && widget->window() == &form_.mainWindow()) {
                setCtrl(true);
            }
        }
        if (event->type() == QEvent::KeyRelease) {
            break;
        }
        if (widget != nullptr && widget->window() == &form_.mainWindow() && QApplication::activeModalWidget() == nullptr &&
            !takesText(widget) && keyPress(static_cast<QKeyEvent*>(event))) {
            return true;
        }
        break;
    }
    case QEvent::WindowDeactivate:
        // A Ctrl let go in another window never comes back here as a key up.
        if (watched == &form_.mainWindow()) {
            setCtrl(false);
        }
        break;
    case QEvent::Leave:
        if (watched == form_.waveView() && form_.waveView() != nullptr) {
            // The mouse left the view: no guide line, and Space plays without choosing a segment.
            mouse_ = QPoint(-1, -1);
            guide_ = false;
            form_.waveView()->update();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cleavix::ui
