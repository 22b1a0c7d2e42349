// The mouse tools that work on slice points, driven with real mouse and key events on the
// offscreen platform: the tools toolbar and the digit keys, a click selecting and auditioning a
// segment, the Add tool, separate stereo channels, dragging slice points by their icons, the
// Enable/disable and Lock/unlock tools, and the Zoom tool with Shift+click.
#include "ui/ToolsTestSupport.h"

#include "ui/view/Artwork.h"
#include "ui/view/MouseTools.h"

#include <cmath>
#include <vector>

using namespace cleavix::uitest::tools;

namespace {

using uitest::waitIdle;

// The middle of a point's icon: right of its column, just above the bottom (linked stereo).
QPoint iconOf(ui::TMainForm& w, uint32_t position) {
    return QPoint(columnOf(w, position) + 5, view(w)->height() - 5);
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

bool sameCursor(const QCursor& a, const QCursor& b) {
    if (a.shape() != b.shape()) {
        return false;
    }
    return a.shape() != Qt::BitmapCursor || a.pixmap().toImage() == b.pixmap().toImage();
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

static uitest::Register<ToolsTest> registerToolsTest;

#include "tools_test.moc"
