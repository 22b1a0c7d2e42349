// The mouse tools that work on whole segments, and the waveform view's keys and menus, driven with
// real mouse and key events on the offscreen platform: the Silence/reverse, Copy/paste and Save
// segment tools, Space, the Ctrl keys, Select All and Select Loop, the popup menu and the old right
// mouse menu, and the play cursor across view changes.
#include "ui/ToolsTestSupport.h"

#include "ui/commands/EditCommands.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/view/MouseTools.h"
#include "ui/dialogs/SensitivityForm.h"

#include <QClipboard>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace cleavix::uitest::tools;

namespace {

using uitest::waitIdle;

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

class SegmentToolsTest : public QObject {
    Q_OBJECT
private slots:
    void silenceAndReverseTool();
    void copyAndPasteSegmentTool();
    void saveSegmentTool();
    void keysSpaceCtrlAndSelections();
    void popupMenuAndOldRightMouseMenu();
    void viewChangesKeepThePlayCursorInStep();
};

void SegmentToolsTest::silenceAndReverseTool() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    const auto& list = w->session().slicer().slicePoints();
    const uint32_t start = list.at(4).position;
    const uint32_t end = list.at(5).position;
    const auto before = uitest::samples(*w.form, start, end);
    QVERIFY(std::any_of(before.begin(), before.end(), [](int16_t s) { return s != 0; }));
    key(*w.form, Qt::Key_7);
    const QPoint at = insideSegment(*w.form, 4);

    click(*w.form, at);
    QVERIFY(waitIdle(*w.form));
    QVERIFY(!w->session().player().state().Playing); // this tool auditions nothing on a click
    const auto silent = uitest::samples(*w.form, start, end);
    QVERIFY(std::all_of(silent.begin(), silent.end(), [](int16_t s) { return s == 0; }));
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QVERIFY(undo(*w.form));
    QVERIFY(uitest::samples(*w.form, start, end) == before);

    click(*w.form, at, Qt::RightButton);
    QVERIFY(waitIdle(*w.form));
    const auto reversed = uitest::samples(*w.form, start, end);
    const size_t frames = before.size() / 2;
    for (size_t f = 0; f < frames; f += 313) {
        QCOMPARE(reversed[2 * f], before[2 * (frames - 1 - f)]);
        QCOMPARE(reversed[2 * f + 1], before[2 * (frames - 1 - f) + 1]);
    }
    QVERIFY(undo(*w.form));
    QVERIFY(uitest::samples(*w.form, start, end) == before);
}

void SegmentToolsTest::copyAndPasteSegmentTool() {
    Sandbox box;
    Window w;
    QVERIFY(openGrid(*w.form, box));
    const auto& list = w->session().slicer().slicePoints();
    const uint32_t from = list.at(2).position;
    const uint32_t fromEnd = list.at(3).position;
    const uint32_t into = list.at(5).position;
    const uint32_t intoEnd = list.at(6).position;
    const auto source = uitest::samples(*w.form, from, fromEnd);
    const auto target = uitest::samples(*w.form, into, intoEnd);
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
    const auto pasted = uitest::samples(*w.form, into, intoEnd);
    const size_t n = std::min(source.size(), pasted.size());
    QVERIFY(std::equal(source.begin(), source.begin() + long(n), pasted.begin()));
    QVERIFY(std::all_of(pasted.begin() + long(n), pasted.end(), [](int16_t s) { return s == 0; }));
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QVERIFY(undo(*w.form));
    QVERIFY(uitest::samples(*w.form, into, intoEnd) == target);

    // With text on the clipboard the right button pastes nothing.
    QGuiApplication::clipboard()->setText("RIFF");
    click(*w.form, insideSegment(*w.form, 5), Qt::RightButton);
    QVERIFY(waitIdle(*w.form));
    QVERIFY(uitest::samples(*w.form, into, intoEnd) == target);
}

void SegmentToolsTest::saveSegmentTool() {
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
    uitest::expect<ui::TSaveForm>(script, [&](ui::TSaveForm* dialog) {
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

void SegmentToolsTest::keysSpaceCtrlAndSelections() {
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
    // The segment Return played may still sound on a device that plays in real time, and the
    // edit keys are off while anything plays: stop it first.
    w->transportButton("Button24")->click();
    QVERIFY(uitest::waitFor([&] { return !w->transport()->playing(); }, 5000));
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

void SegmentToolsTest::popupMenuAndOldRightMouseMenu() {
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
    const auto silent = uitest::samples(*w.form, start, end);
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

void SegmentToolsTest::viewChangesKeepThePlayCursorInStep() {
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

static uitest::Register<SegmentToolsTest> registerSegmentToolsTest;

#include "segment_tools_test.moc"
