// The mouse tools on the waveform view, driven with real mouse and key events on the offscreen
// platform: the tools toolbar and the digit keys, a click selecting and auditioning a segment,
// dragging slice points by their icons, the Add, Enable/disable, Lock/unlock, Zoom,
// Silence/reverse, Copy/paste and Save segment tools, Space, the Ctrl keys, Select All and Select
// Loop, the popup menu and the old right mouse menu.
#include "ui/UiTestSupport.h"

#include "ui/view/Artwork.h"
#include "ui/commands/EditCommands.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/view/MouseTools.h"
#include "ui/dialogs/SensitivityForm.h"
#include "ui/view/WaveBox.h"
#include "ui/view/WaveRenderer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace cleavix;
using cleavix::uitest::Sandbox;
using cleavix::uitest::Window;

namespace {

using uitest::waitIdle;

// Undo (or Redo) through the Edit menu's item, run to its completion.
bool undo(ui::TMainForm& w) {
    if (!w.action("Undo1")->isEnabled()) {
        return false;
    }
    w.action("Undo1")->trigger();
    return waitIdle(w);
}

// Shows the window, opens the demo loop through the File menu, and cuts it to a grid of locked
// eighths; the slider at its top shows every enabled point.
bool openGrid(ui::TMainForm& w, const Sandbox& box) {
    if (!uitest::openDemo(w, box) ||
        !w.session().slicer().setBarsAndBeats("1", "0")) {
        return false;
    }
    w.action("CutLoop8ths1")->trigger();
    if (!waitIdle(w)) {
        return false;
    }
    w.session().slicer().setSlider(65535);
    return w.session().slicer().slicePoints().count() >= 7;
}

ui::TWaveBox* view(ui::TMainForm& w) { return w.waveView(); }

int columnOf(ui::TMainForm& w, uint32_t position) {
    return ui::WaveRenderer::columnOf(position, w.view().start, w.view().length(), view(w)->width());
}

// The middle of a point's icon: right of its column, just above the bottom (linked stereo).
QPoint iconOf(ui::TMainForm& w, uint32_t position) {
    return QPoint(columnOf(w, position) + 5, view(w)->height() - 5);
}

// The middle of the segment starting at slice point `index`, at mid height.
QPoint insideSegment(ui::TMainForm& w, int index) {
    const auto& list = w.session().slicer().slicePoints();
    const uint32_t mid = (list.at(index).position + slicing::segmentEnd(list, index)) / 2;
    return QPoint(columnOf(w, mid), view(w)->height() / 2);
}

int candidateAt(ui::TMainForm& w, uint32_t position) {
    const auto& c = w.session().slicer().candidates();
    for (int k = 1; k <= c.count(); ++k) {
        if (c.at(k).position == position) {
            return k;
        }
    }
    return -1;
}

std::vector<int16_t> words(ui::TMainForm& w, uint32_t start, uint32_t end) {
    std::vector<int16_t> out((end - start) / 2);
    w.session().store().readSamples(start, out.data(), out.size());
    return out;
}

void key(ui::TMainForm& w, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(&w, k, modifiers);
}

void click(ui::TMainForm& w, QPoint at, Qt::MouseButton button = Qt::LeftButton,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mouseMove(view(w), at);
    QTest::mouseClick(view(w), button, modifiers, at);
}

bool sameCursor(const QCursor& a, const QCursor& b) {
    if (a.shape() != b.shape()) {
        return false;
    }
    return a.shape() != Qt::BitmapCursor || a.pixmap().toImage() == b.pixmap().toImage();
}

// The Wave file's data chunk size.
qint64 dataChunkSize(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray bytes = f.readAll();
    const auto at = bytes.indexOf("data", 12);
    if (at < 0 || at + 8 > bytes.size()) {
        return -1;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData() + at + 4);
    const qint64 size = qint64(p[0]) | qint64(p[1]) << 8 | qint64(p[2]) << 16 | qint64(p[3]) << 24;
    return at + 8 + size == bytes.size() ? size : -2;
}

} // namespace

class ToolsTest : public QObject {
    Q_OBJECT
private slots:
    void toolbarHintsAndDigitKeys();
    void clickSelectsAndPlaysTheSegment();
    void addToolPlacesARoundedAlignedPoint();
    void separateChannelsWorkByHalf();
    void dragAPointByItsIcon();
    void enableAndLockToolsToggleAPoint();
    void zoomToolAndShiftClick();
    void silenceAndReverseTool();
    void copyAndPasteSegmentTool();
    void saveSegmentTool();
    void keysSpaceCtrlAndSelections();
    void popupMenuAndOldRightMouseMenu();
    void viewChangesKeepThePlayCursorInStep();
};

void ToolsTest::toolbarHintsAndDigitKeys() {
    Sandbox box;
    Window w;
    // Without a sample the keys do nothing.
    w->show();
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Select));
    key(*w.form, Qt::Key_3);
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Select));

    QVERIFY(openGrid(*w.form, box));
    auto* bar = w->findChild<QToolBar*>("Panel1");
    QVERIFY(bar != nullptr);
    QStringList names;
    for (QAction* a : bar->actions()) {
        names << a->objectName();
    }
    QCOMPARE(names, QStringList({"SpeedButton1", "SpeedButton2", "SpeedButton3", "spdis", "bzoom", "ToolbarButton973",
                                 "breverse", "bcopy", "bsseg"}));
    QCOMPARE(w->action("bzoom")->toolTip(), QString("Zoom"));
    QCOMPARE(w->action("bzoom")->statusTip(), QString("Zoom tool (LMB zoom in, RMB zoom out)"));
    QCOMPARE(w->action("bcopy")->statusTip(),
             QString("Copy/paste segment tool (LMB copy segment, RMB paste segment; spc auditions)"));
    QCOMPARE(w->action("ToolbarButton973")->toolTip(), QString("Zoom 1:1"));

    // Each digit chooses its tool (exclusively) and the view shows the tool's cursor.
    const std::pair<Qt::Key, const char*> keys[] = {{Qt::Key_2, "SpeedButton2"}, {Qt::Key_3, "SpeedButton3"},
                                                    {Qt::Key_4, "spdis"},        {Qt::Key_5, "bzoom"},
                                                    {Qt::Key_7, "breverse"},     {Qt::Key_8, "bcopy"},
                                                    {Qt::Key_9, "bsseg"},        {Qt::Key_1, "SpeedButton1"}};
    const int cursors[] = {1, 2, 3, 4, 5, 6, 7, 0};
    for (size_t i = 0; i < std::size(keys); ++i) {
        key(*w.form, keys[i].first);
        QVERIFY2(w->action(keys[i].second)->isChecked(), keys[i].second);
        QCOMPARE(w->mouseTools()->tool(), int(keys[i].first - Qt::Key_0));
        int checked = 0;
        for (QAction* a : bar->actions()) {
            checked += a->isChecked() ? 1 : 0;
        }
        QCOMPARE(checked, 1);
        QVERIFY(sameCursor(view(*w.form)->cursor(), ui::art::toolCursor(cursors[i])));
    }
    // The toolbar's own buttons choose too.
    auto* zoomButton = bar->findChild<QToolButton*>("bzoom");
    QVERIFY(zoomButton != nullptr);
    zoomButton->click();
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Zoom));

    // "6" is Zoom 1:1, a command: the tool stays.
    w->action("ZoomIn1")->trigger();
    QVERIFY(w->view().zoom > 1.0);
    key(*w.form, Qt::Key_6);
    QCOMPARE(w->view().zoom, 1.0);
    QCOMPARE(w->view().end, w->session().format().dataLength);
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Zoom));

    // A digit typed into a text box stays there.
    auto* edit = new QLineEdit(bar);
    bar->addWidget(edit);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_3);
    QCOMPARE(edit->text(), QString("3"));
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Zoom));
}

void ToolsTest::clickSelectsAndPlaysTheSegment() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& slicer = w->session().slicer();
    auto& editor = w->session().editor();
    const auto& list = slicer.slicePoints();

    // A click inside the third segment selects it, makes it the selection, and plays it.
    click(*w.form, insideSegment(*w.form, 3));
    QCOMPARE(slicer.selectedIndex, 3);
    QCOMPARE(slicer.selectionStart, list.at(3).position);
    QCOMPARE(slicer.selectionEnd, list.at(4).position);
    QCOMPARE(editor.selectionList().size(), size_t(4));
    QCOMPARE(editor.selectionStart(), list.at(3).position);
    QCOMPARE(editor.selectionEnd(), list.at(4).position);
    QVERIFY(w->transportButton("button4")->isChecked());
    QVERIFY(w->session().player().state().Playing);
    // Cut waits while the segment plays, and comes back when it has played.
    QVERIFY(!w->action("Cut1")->isEnabled());
    QVERIFY(uitest::waitFor([&] { return w->action("Cut1")->isEnabled(); }, 10000));

    // Before the first point: the segment from the sample's start.
    click(*w.form, QPoint(1, view(*w.form)->height() / 2));
    QCOMPARE(slicer.selectedIndex, 0);
    QCOMPARE(slicer.selectionEnd, list.at(1).position);

    // A drag beyond the drag distance selects a free range of whole frames; a small wobble does not.
    auto* v = view(*w.form);
    const int y = v->height() / 2;
    const int x0 = v->width() / 5;
    const int x1 = v->width() * 2 / 5;
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(x0, y));
    QTest::mouseMove(v, QPoint(x0 + 1, y));
    QCOMPARE(editor.selectionStart(), slicer.selectionStart); // still the clicked segment
    QVERIFY(slicer.selectedIndex >= 0);
    QTest::mouseMove(v, QPoint(x1, y));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(x1, y));
    const uint32_t a = w->view().positionAt(x0, v->width()) & ~3u;
    const uint32_t b = w->view().positionAt(x1, v->width()) & ~3u;
    QCOMPARE(editor.selectionStart(), a);
    QCOMPARE(editor.selectionEnd(), b);
    QCOMPARE(slicer.selectedIndex, -1);
    QCOMPARE(slicer.selectionStart, a); // "Selected" plays the range
    QCOMPARE(slicer.selectionEnd, b);
    // The drag stopped the click's audition, so the range can be cut at once.
    QVERIFY(!w->session().player().state().Playing);
    QVERIFY(w->action("Cut1")->isEnabled());

    // Two quick clicks queue the second audition behind the first; Stop calls both off.
    click(*w.form, insideSegment(*w.form, 3));
    click(*w.form, insideSegment(*w.form, 5));
    QCOMPARE(slicer.selectedIndex, 5);
    w->transportButton("Button24")->click();
    QTest::qWait(300);
    QVERIFY(!w->session().player().state().Playing);
    QVERIFY(!w->transportButton("button4")->isChecked());

    // Ctrl-click: an insertion point, nothing played.
    click(*w.form, QPoint(x1, y), Qt::LeftButton, Qt::ControlModifier);
    QCOMPARE(editor.selectionList().size(), size_t(3));
    QCOMPARE(editor.selectionStart(), b);
    QVERIFY(!w->session().player().state().Playing);
    QVERIFY(!w->action("Cut1")->isEnabled());
}

void ToolsTest::addToolPlacesARoundedAlignedPoint() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& slicer = w->session().slicer();
    auto* v = view(*w.form);
    key(*w.form, Qt::Key_2);
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Add));

    const int before = slicer.candidates().count();
    const int x = v->width() * 3 / 10 + 1;
    const QPoint at(x, v->height() / 3);
    // The guide line follows the mouse: an inverted column at the mouse.
    QTest::mouseMove(v, at);
    const QImage plain = w->renderer().cleanImage();
    const QImage shown = v->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixel(x, 4) & 0xffffff, ~plain.pixel(x, 4) & 0xffffff);

    click(*w.form, at);
    QVERIFY(waitIdle(*w.form));
    QCOMPARE(slicer.candidates().count(), before + 1);
    const double exact = double(x) / v->width() * w->view().length() + w->view().start;
    const uint32_t expected = (uint32_t(std::nearbyint(exact / 2.0)) * 2) & ~3u; // linked stereo: a frame start
    const int k = candidateAt(*w.form, expected);
    QVERIFY2(k > 0, qPrintable(QString::number(expected)));
    QCOMPARE(int(slicer.candidates().at(k).locked), 1);
    QCOMPARE(int(slicer.candidates().at(k).enabled), 1);
    QCOMPARE(slicer.candidates().at(k).strength, 32640);

    // Undo takes it away, Redo brings it back.
    QVERIFY(w->action("Undo1")->isEnabled());
    QVERIFY(undo(*w.form));
    QCOMPARE(slicer.candidates().count(), before);
    QCOMPARE(candidateAt(*w.form, expected), -1);
    QVERIFY(undo(*w.form));
    QVERIFY(candidateAt(*w.form, expected) > 0);
}

void ToolsTest::separateChannelsWorkByHalf() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& slicer = w->session().slicer();
    slicer.channelMode().linked = false; // separate left and right points
    slicer.rebuild();
    auto* v = view(*w.form);
    const int H = v->height();
    auto rounded = [&](int x) {
        const double exact = double(x) / v->width() * w->view().length() + w->view().start;
        return uint32_t(std::nearbyint(exact / 2.0)) * 2;
    };

    // The Add tool: the upper half adds a first-channel point on a frame start, the lower half a
    // second-channel point 2 bytes into its frame.
    key(*w.form, Qt::Key_2);
    const int upperX = v->width() * 3 / 10 + 1;
    const int lowerX = v->width() * 11 / 20 + 3; // between two grid points
    click(*w.form, QPoint(upperX, H / 4));
    click(*w.form, QPoint(lowerX, H * 3 / 4));
    const uint32_t upper = rounded(upperX) & ~3u;
    const uint32_t lower = (rounded(lowerX) & ~3u) + 2;
    const int ku = candidateAt(*w.form, upper);
    const int kl = candidateAt(*w.form, lower);
    QVERIFY(ku > 0 && kl > 0);
    QCOMPARE(int(slicer.candidates().at(ku).channel), int(slicing::kCodeFirst));
    QCOMPARE(int(slicer.candidates().at(kl).channel), int(slicing::kCodeSecondOrMono));

    // The Select tool picks the segment of the half clicked: the first channel's runs from its
    // only point to the end; the second channel's to that channel's next point.
    key(*w.form, Qt::Key_1);
    click(*w.form, QPoint(upperX + 20, H / 4));
    QCOMPARE(slicer.selectionStart, upper);
    QCOMPARE(slicer.selectionEnd, w->session().format().dataLength);
    click(*w.form, QPoint(lowerX + 20, H * 3 / 4));
    QCOMPARE(slicer.selectionStart, lower);
    const auto& list = slicer.slicePoints();
    QCOMPARE(slicer.selectionEnd, slicing::segmentEnd(list, slicer.selectedIndex));
    QVERIFY(slicer.selectionEnd > lower && slicer.selectionEnd < w->session().format().dataLength);

    // The upper point's icon sits on the middle row: it is dragged from there.
    const QPoint icon(columnOf(*w.form, upper) + 5, H / 2 - 4);
    QTest::mouseMove(v, icon);
    QCOMPARE(v->cursor().shape(), Qt::SplitHCursor);
    QTest::mouseMove(v, QPoint(icon.x(), H - 4));
    QCOMPARE(v->cursor().shape(), Qt::ArrowCursor);
}

void ToolsTest::dragAPointByItsIcon() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& slicer = w->session().slicer();
    auto* v = view(*w.form);
    const uint32_t from = slicer.slicePoints().at(3).position;
    const QPoint icon = iconOf(*w.form, from);

    // Over the icon the split cursor shows; away from it the tool's cursor returns.
    QTest::mouseMove(v, icon);
    QCOMPARE(v->cursor().shape(), Qt::SplitHCursor);
    QTest::mouseMove(v, QPoint(icon.x(), v->height() / 3));
    QCOMPARE(v->cursor().shape(), Qt::ArrowCursor);

    // A click on the icon without moving leaves the point where it is (and selects nothing new).
    click(*w.form, icon);
    QVERIFY(candidateAt(*w.form, from) > 0);

    // Dragged 60 pixels to the right: the cut line follows, the point lands there at release.
    const int count = slicer.candidates().count();
    const int to = icon.x() + 60;
    QTest::mouseMove(v, icon);
    QTest::mousePress(v, Qt::LeftButton, {}, icon);
    QTest::mouseMove(v, QPoint(icon.x() + 30, icon.y()));
    QTest::mouseMove(v, QPoint(to, icon.y()));
    const QImage shown = v->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(QColor(shown.pixel(to, v->height() / 2)), w->config().colours[ui::ColCutLine]);
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(to, icon.y()));
    const double exact = double(to) / v->width() * w->view().length() + w->view().start;
    const uint32_t landed = (uint32_t(std::nearbyint(exact / 2.0)) * 2) & ~3u;
    QCOMPARE(candidateAt(*w.form, from), -1);
    const int k = candidateAt(*w.form, landed);
    QVERIFY(k > 0);
    QCOMPARE(int(slicer.candidates().at(k).locked), 1); // the other fields travel with it
    QCOMPARE(slicer.candidates().count(), count);

    // Undo puts it back; Redo moves it again.
    QVERIFY(undo(*w.form));
    QVERIFY(candidateAt(*w.form, from) > 0);
    QCOMPARE(candidateAt(*w.form, landed), -1);
    QVERIFY(undo(*w.form));
    QVERIFY(candidateAt(*w.form, landed) > 0);
}

void ToolsTest::enableAndLockToolsToggleAPoint() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& slicer = w->session().slicer();
    auto* v = view(*w.form);
    const uint32_t at = slicer.slicePoints().at(2).position;
    const int k = candidateAt(*w.form, at);
    QVERIFY(k > 0);
    const QPoint icon = iconOf(*w.form, at);

    // Lock/unlock: cursor 8 over the icon; a click unlocks the (grid-locked) point, another locks it.
    key(*w.form, Qt::Key_4);
    QTest::mouseMove(v, icon);
    QVERIFY(sameCursor(v->cursor(), ui::art::toolCursor(8)));
    click(*w.form, icon);
    QCOMPARE(int(slicer.candidates().at(k).locked), 0);
    QCOMPARE(int(slicer.candidates().at(k).enabled), 1);
    QCOMPARE(w->session().editor().record().undoCode, uint8_t(4));
    QVERIFY(!w->session().player().state().Playing); // a click on a point auditions nothing
    click(*w.form, icon);
    QCOMPARE(int(slicer.candidates().at(k).locked), 1);
    QCOMPARE(w->session().editor().record().undoCode, uint8_t(8));
    // Away from any icon the tool's own cursor shows, and a click there only auditions.
    QTest::mouseMove(v, QPoint(icon.x(), v->height() / 3));
    QVERIFY(sameCursor(v->cursor(), ui::art::toolCursor(3)));

    // Enable/disable: cursor 9; a click disables (and unlocks) the point, which leaves the slice
    // points and shows the disabled icon, where a second click enables it again.
    key(*w.form, Qt::Key_3);
    QTest::mouseMove(v, icon);
    QVERIFY(sameCursor(v->cursor(), ui::art::toolCursor(9)));
    const int shown = slicer.slicePoints().count();
    click(*w.form, icon);
    QCOMPARE(int(slicer.candidates().at(k).enabled), 0);
    QCOMPARE(int(slicer.candidates().at(k).locked), 0);
    QCOMPARE(slicer.slicePoints().count(), shown - 1);
    QCOMPARE(w->session().editor().record().undoCode, uint8_t(7));
    click(*w.form, icon);
    QCOMPARE(int(slicer.candidates().at(k).enabled), 1);
    QCOMPARE(slicer.slicePoints().count(), shown); // the slider at its top shows every enabled point
    // Undo disables it again.
    QVERIFY(undo(*w.form));
    QCOMPARE(int(slicer.candidates().at(k).enabled), 0);
}

void ToolsTest::zoomToolAndShiftClick() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto* v = view(*w.form);
    const uint32_t total = w->session().format().dataLength;
    key(*w.form, Qt::Key_5);
    const QPoint at(v->width() / 2, v->height() / 2);
    click(*w.form, at);
    QCOMPARE(w->view().zoom, 2.0);
    QCOMPARE(w->statusPanel(3), QString("x 2.0"));
    QVERIFY(!w->session().player().state().Playing); // the Zoom tool auditions nothing
    click(*w.form, at);
    QCOMPARE(w->view().zoom, 4.0);
    click(*w.form, at, Qt::RightButton);
    QCOMPARE(w->view().zoom, 2.0);
    click(*w.form, at, Qt::RightButton);
    QCOMPARE(w->view().zoom, 1.0);
    QCOMPARE(w->view().end, total);
    // Shift-click with the Zoom tool zooms once, by the tool.
    click(*w.form, at, Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(w->view().zoom, 2.0);
    click(*w.form, at, Qt::RightButton, Qt::ShiftModifier);
    QCOMPARE(w->view().zoom, 1.0);
    // With another tool Shift-click zooms (once) and does nothing else.
    key(*w.form, Qt::Key_2);
    const int points = w->session().slicer().candidates().count();
    click(*w.form, at, Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(w->view().zoom, 2.0);
    QCOMPARE(w->session().slicer().candidates().count(), points);
}

void ToolsTest::silenceAndReverseTool() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    const auto& list = w->session().slicer().slicePoints();
    const uint32_t start = list.at(4).position;
    const uint32_t end = list.at(5).position;
    const auto before = words(*w.form, start, end);
    QVERIFY(std::any_of(before.begin(), before.end(), [](int16_t s) { return s != 0; }));
    key(*w.form, Qt::Key_7);
    const QPoint at = insideSegment(*w.form, 4);

    click(*w.form, at);
    QVERIFY(waitIdle(*w.form));
    QVERIFY(!w->session().player().state().Playing); // this tool auditions nothing on a click
    const auto silent = words(*w.form, start, end);
    QVERIFY(std::all_of(silent.begin(), silent.end(), [](int16_t s) { return s == 0; }));
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QVERIFY(undo(*w.form));
    QVERIFY(words(*w.form, start, end) == before);

    click(*w.form, at, Qt::RightButton);
    QVERIFY(waitIdle(*w.form));
    const auto reversed = words(*w.form, start, end);
    const size_t frames = before.size() / 2;
    for (size_t f = 0; f < frames; f += 313) {
        QCOMPARE(reversed[2 * f], before[2 * (frames - 1 - f)]);
        QCOMPARE(reversed[2 * f + 1], before[2 * (frames - 1 - f) + 1]);
    }
    QVERIFY(undo(*w.form));
    QVERIFY(words(*w.form, start, end) == before);
}

void ToolsTest::copyAndPasteSegmentTool() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    const auto& list = w->session().slicer().slicePoints();
    const uint32_t from = list.at(2).position;
    const uint32_t fromEnd = list.at(3).position;
    const uint32_t into = list.at(5).position;
    const uint32_t intoEnd = list.at(6).position;
    const auto source = words(*w.form, from, fromEnd);
    const auto target = words(*w.form, into, intoEnd);
    QVERIFY(source != target);
    QGuiApplication::clipboard()->setText("nothing yet");
    key(*w.form, Qt::Key_8);

    // Left button: Copy Segment, onto the system clipboard as a Wave image.
    click(*w.form, insideSegment(*w.form, 2));
    QVERIFY(waitIdle(*w.form));
    const QByteArray image = ui::waveImageFrom(QGuiApplication::clipboard()->mimeData());
    QCOMPARE(image.size(), qsizetype(46 + (fromEnd - from)));
    QVERIFY(image.startsWith("RIFF"));
    QCOMPARE(QByteArray(image.constData() + 46, 64),
             QByteArray(reinterpret_cast<const char*>(source.data()), 64));
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix"));

    // Right button: Paste Into Segment overwrites the other segment, the length unchanged.
    const uint32_t whole = w->session().format().dataLength;
    click(*w.form, insideSegment(*w.form, 5), Qt::RightButton);
    QVERIFY(waitIdle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole);
    const auto pasted = words(*w.form, into, intoEnd);
    const size_t n = std::min(source.size(), pasted.size());
    QVERIFY(std::equal(source.begin(), source.begin() + long(n), pasted.begin()));
    QVERIFY(std::all_of(pasted.begin() + long(n), pasted.end(), [](int16_t s) { return s == 0; }));
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QVERIFY(undo(*w.form));
    QVERIFY(words(*w.form, into, intoEnd) == target);

    // With text on the clipboard the right button pastes nothing.
    QGuiApplication::clipboard()->setText("RIFF");
    click(*w.form, insideSegment(*w.form, 5), Qt::RightButton);
    QVERIFY(waitIdle(*w.form));
    QVERIFY(words(*w.form, into, intoEnd) == target);
}

void ToolsTest::saveSegmentTool() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    const auto& list = w->session().slicer().slicePoints();
    const uint32_t start = list.at(3).position;
    const uint32_t end = list.at(4).position;
    key(*w.form, Qt::Key_9);
    const QPoint at = insideSegment(*w.form, 3);

    // Left button: the segment is auditioned, nothing saved.
    click(*w.form, at);
    QVERIFY(w->session().player().state().Playing);
    QCOMPARE(w->session().slicer().selectedIndex, 3);

    // Right button: the save dialog, with no name offered, then the segment's file.
    const QString file = box.path("segment.wav");
    uitest::ModalScript script;
    QString offered = "unset";
    script.handle([&](QWidget* modal) {
        auto* dialog = qobject_cast<ui::TSaveForm*>(modal);
        if (dialog == nullptr) {
            return false;
        }
        if (offered == "unset") {
            offered = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        }
        return uitest::chooseFile(dialog, file);
    });
    click(*w.form, at, Qt::RightButton);
    QVERIFY(uitest::waitFor([&] { return script.pending() == 0 && !w->session().busy(); }));
    QVERIFY(uitest::waitFor([&] { return QFile::exists(file); }));
    QCOMPARE(offered, QString());
    QCOMPARE(dataChunkSize(file), qint64(end - start));
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix"));
}

void ToolsTest::keysSpaceCtrlAndSelections() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& slicer = w->session().slicer();
    auto& editor = w->session().editor();
    const auto& list = slicer.slicePoints();
    auto* v = view(*w.form);

    // Space: the segment under the mouse is selected and the visible part plays.
    QTest::mouseMove(v, insideSegment(*w.form, 5));
    key(*w.form, Qt::Key_Space);
    QCOMPARE(slicer.selectedIndex, 5);
    QVERIFY(w->transportButton("PlaySelectionButton")->isChecked());
    QVERIFY(!w->transportButton("button4")->isChecked());
    w->transportButton("Button24")->click();
    // Space reaches the window even while a toolbar button has the focus.
    w->transportButton("Button20")->setFocus();
    QTest::mouseMove(v, insideSegment(*w.form, 2));
    QTest::keyClick(w->transportButton("Button20"), Qt::Key_Space);
    QCOMPARE(slicer.selectedIndex, 2);
    QVERIFY(w->transportButton("PlaySelectionButton")->isChecked());
    QVERIFY(!w->transportButton("Button20")->isChecked());
    w->transportButton("Button24")->click();

    // "+" cycles through the segments of the loop, from L to R and back: from the last segment
    // before R (clicked) to the one at L, and on.
    slicer.setLoop(list.at(2).position, list.at(5).position);
    click(*w.form, insideSegment(*w.form, 4));
    QCOMPARE(slicer.selectedIndex, 4);
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) {
        key(*w.form, Qt::Key_Plus);
        order.push_back(slicer.selectedIndex);
    }
    QCOMPARE(order, std::vector<int>({2, 3, 4, 2, 3}));
    QVERIFY(w->transportButton("button4")->isChecked());
    key(*w.form, Qt::Key_Minus);
    QCOMPARE(slicer.selectedIndex, 2);
    key(*w.form, Qt::Key_Return);
    QVERIFY(w->transportButton("button4")->isChecked());

    // Ctrl+1 and Ctrl+2: the channel items (shortcuts of the active window).
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QVERIFY(w->action("LeftChannel1")->isChecked());
    key(*w.form, Qt::Key_1, Qt::ControlModifier);
    QVERIFY(!w->action("LeftChannel1")->isChecked());
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Select)); // not the digit key
    key(*w.form, Qt::Key_1, Qt::ControlModifier);
    QVERIFY(w->action("LeftChannel1")->isChecked());
    key(*w.form, Qt::Key_2, Qt::ControlModifier);
    QVERIFY(!w->action("RightChannel1")->isChecked());
    key(*w.form, Qt::Key_2, Qt::ControlModifier);
    QVERIFY(w->action("RightChannel1")->isChecked());

    // Ctrl+Y: the sensitivity dialog.
    {
        uitest::ModalScript script;
        bool seen = false;
        script.handle([&](QWidget* modal) {
            seen = qobject_cast<ui::TSensitivityForm*>(modal) != nullptr;
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return seen;
        });
        key(*w.form, Qt::Key_Y, Qt::ControlModifier);
        QVERIFY(seen);
    }

    // Select All (Ctrl+A) and Select Loop.
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    key(*w.form, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(editor.selectionStart(), 0u);
    QCOMPARE(editor.selectionEnd(), w->session().format().dataLength);
    QCOMPARE(editor.selectionList().size(), size_t(4));
    w->action("SelectLoop1")->trigger();
    QCOMPARE(editor.selectionStart(), slicer.left());
    QCOMPARE(editor.selectionEnd(), slicer.right());
    QCOMPARE(slicer.selectionStart, slicer.left());
    QCOMPARE(slicer.selectionEnd, slicer.right());
    auto* editMenu = w->findChild<QMenu*>("EditMenu");
    QVERIFY(editMenu->actions().contains(w->action("SelectAll1")));
    QVERIFY(editMenu->actions().contains(w->action("SelectLoop1")));

    // The desktop's keys: Ctrl+X cuts the loop, Ctrl+Z gives it back, Ctrl+C and Ctrl+V copy and
    // paste it, Delete clears.
    // The progress window takes the activation while it is up; a desktop gives it back to the
    // main window when it closes, the offscreen platform does not.
    auto settle = [&] {
        if (!waitIdle(*w.form)) {
            return false;
        }
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.form.get());
    };
    const uint32_t total = w->session().format().dataLength;
    const uint32_t loop = slicer.right() - slicer.left();
    key(*w.form, Qt::Key_X, Qt::ControlModifier);
    QVERIFY(settle());
    QCOMPARE(w->session().format().dataLength, total - loop);
    QVERIFY(w->action("Undo1")->isEnabled());
    key(*w.form, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(settle());
    QCOMPARE(w->session().format().dataLength, total);
    w->action("SelectLoop1")->trigger();
    key(*w.form, Qt::Key_C, Qt::ControlModifier);
    QVERIFY(settle());
    QTRY_VERIFY(w->action("PasteKeep1")->isEnabled());
    w->session().selection().selectRange(0, 400); // the paste replaces these 400 bytes
    key(*w.form, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(settle());
    QCOMPARE(w->session().format().dataLength, total - 400 + loop);
    key(*w.form, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(settle());
    QCOMPARE(w->session().format().dataLength, total);
    w->action("SelectLoop1")->trigger();
    key(*w.form, Qt::Key_Delete);
    QVERIFY(settle());
    QVERIFY(w->session().format().dataLength < total);
    key(*w.form, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(settle());
    QCOMPARE(w->session().format().dataLength, total);

    // While a worker runs, the keys do nothing.
    w->action("Reverse1")->trigger();
    QVERIFY(w->session().busy()); // until its completion runs on this thread
    key(*w.form, Qt::Key_5);
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Select));
    QVERIFY(waitIdle(*w.form));
}

void ToolsTest::popupMenuAndOldRightMouseMenu() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& slicer = w->session().slicer();
    auto* v = view(*w.form);
    QMenu* popup = w->mouseTools()->popupMenu();
    QCOMPARE(popup->objectName(), QString("PopupMenu1"));
    QStringList items;
    for (QAction* a : popup->actions()) {
        items << a->text();
    }
    QCOMPARE(items, QStringList({"Play Sample", "Save Segment", "Zoom In", "Zoom Out", "Zoom (1:1)",
                                 "Zoom To Segment", "Tools", "Edit"}));
    QCOMPARE(popup->actions()[6]->menu()->actions()[0]->text(), QString("Silence"));
    QCOMPARE(popup->actions()[6]->menu()->actions()[1]->text(), QString("Reverse"));
    QCOMPARE(popup->actions()[7]->menu()->actions()[0]->text(), QString("Copy Segment"));
    QCOMPARE(popup->actions()[7]->menu()->actions()[1]->text(), QString("Paste Into Segment"));

    // The Select tool's right button opens it on demand, at release, without an audition.
    const QPoint at = insideSegment(*w.form, 4);
    QTest::mouseMove(v, at);
    QTest::mousePress(v, Qt::RightButton, {}, at);
    QVERIFY(!popup->isVisible());
    QTest::mouseRelease(v, Qt::RightButton, {}, at);
    QVERIFY(popup->isVisible());
    QVERIFY(!w->session().player().state().Playing);
    QVERIFY(w->action("PlaySample1")->isEnabled());
    // Its items act on the segment where it was opened.
    w->action("PlaySample1")->trigger();
    popup->hide();
    QCOMPARE(slicer.selectedIndex, 4);
    QVERIFY(w->session().player().state().Playing);
    w->action("PopupZoomToSegment1")->trigger();
    QCOMPARE(w->view().start, slicer.slicePoints().at(4).position & ~3u);
    w->action("PopupZoom111")->trigger();
    QCOMPARE(w->view().zoom, 1.0);
    w->action("PopupZoomIn1")->trigger();
    QCOMPARE(w->view().zoom, 2.0);
    const uint32_t centre = (w->view().start + w->view().end) / 2;
    const uint32_t clicked = slicer.slicePoints().at(4).position;
    QVERIFY(std::abs(int64_t(centre) - int64_t((clicked + slicing::segmentEnd(slicer.slicePoints(), 4)) / 2)) <
            int64_t(w->view().length() / 50));
    w->action("PopupZoomOut1")->trigger();
    QCOMPARE(w->view().zoom, 1.0);
    const uint32_t start = slicer.slicePoints().at(4).position;
    const uint32_t end = slicer.slicePoints().at(5).position;
    w->action("SilenceSegment1")->trigger();
    QVERIFY(waitIdle(*w.form));
    const auto silent = words(*w.form, start, end);
    QVERIFY(std::all_of(silent.begin(), silent.end(), [](int16_t s) { return s == 0; }));

    // "Use old right mouse menu": four tools hidden, their keys ignored, and the right button opens
    // the menu at once.
    key(*w.form, Qt::Key_8);
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::CopyPaste));
    w->config().oldRMB = true;
    w->applyPreferences();
    for (const char* name : {"bzoom", "breverse", "bcopy", "bsseg"}) {
        QVERIFY2(!w->action(name)->isVisible(), name);
    }
    QVERIFY(w->action("SpeedButton2")->isVisible());
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Select));
    key(*w.form, Qt::Key_7);
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Select));
    QTest::mousePress(v, Qt::RightButton, {}, insideSegment(*w.form, 2));
    QVERIFY(popup->isVisible());
    QTest::mouseRelease(v, Qt::RightButton, {}, insideSegment(*w.form, 2));
    QVERIFY(popup->isVisible());
    w->action("PlaySample1")->trigger();
    popup->hide();
    QCOMPARE(slicer.selectedIndex, 2);
    // The option is kept: the next window starts with the tools hidden.
    QVERIFY(w->saveConfiguration());
    {
        Window next;
        QVERIFY(next->config().oldRMB);
        QVERIFY(!next->action("breverse")->isVisible());
        QVERIFY(next->action("SpeedButton3")->isVisible());
    }
    w->config().oldRMB = false;
    w->applyPreferences();
    QVERIFY(w->action("bcopy")->isVisible());

    // No sample: the items are off.
    w->transportButton("Button24")->click();
    w->session().setModified(false);
    w->action("Close1")->trigger();
    QVERIFY(!w->session().loaded());
    QVERIFY(!w->action("PlaySample1")->isEnabled());
    QVERIFY(!w->action("SelectAll1")->isEnabled());
}

void ToolsTest::viewChangesKeepThePlayCursorInStep() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    auto& transport = w->session().transport();
    w->transportButton("PlaySelectionButton")->click();
    QVERIFY(transport.timerEnabled);
    const int whole = transport.timerIntervalMs;
    // Zooming in with the tool: the cursor runs faster over a shorter view.
    key(*w.form, Qt::Key_5);
    const QPoint at(view(*w.form)->width() / 4, view(*w.form)->height() / 2);
    QTest::mouseClick(view(*w.form), Qt::LeftButton, {}, at);
    QTest::mouseClick(view(*w.form), Qt::LeftButton, {}, at);
    QCOMPARE(w->view().zoom, 4.0);
    QVERIFY(transport.timerIntervalMs < whole);
    QCOMPARE(transport.view.viewStart, uint64_t(w->view().start));
    // The wheel moves the view: the cursor's columns follow the new range.
    const QPointF p(at);
    QWheelEvent event(p, view(*w.form)->mapToGlobal(p), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view(*w.form), &event);
    QVERIFY(w->view().start > 0);
    QCOMPARE(transport.view.viewStart, uint64_t(w->view().start));
    QCOMPARE(transport.view.viewEnd, uint64_t(w->view().end));
    w->transportButton("Button24")->click();
}

static uitest::Register<ToolsTest> registerToolsTest;

#include "tools_test.moc"
