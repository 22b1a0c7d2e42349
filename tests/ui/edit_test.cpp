// The Edit and Process menus on the offscreen platform: selecting with the mouse on the waveform,
// Cut and Undo/Redo through the menu, Copy and the pastes through the real system clipboard
// (one window to another), and what the pastes do with anything but a wave image.
#include "ui/UiTest.h"

#include "ui/commands/EditCommands.h"
#include "ui/view/WaveBox.h"

#include <QWheelEvent>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>
#include <vector>

using uitest::openDemo;

namespace {

// Drags over the waveform view from column x0 to x1 with the left button.
void drag(ui::TWaveBox* view, int x0, int x1) {
    const int y = view->height() / 2;
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x0, y));
    QTest::mouseMove(view, QPoint((x0 + x1) / 2, y));
    QTest::mouseMove(view, QPoint(x1, y));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(x1, y));
}

// One bar, then the Cut Loop To item `item` run to its completion.
bool gridCut(ui::TMainForm& w, const char* item) {
    if (!w.session().slicer().setBarsAndBeats("1", "0")) {
        return false;
    }
    w.action(item)->trigger();
    return uitest::waitIdle(w);
}

} // namespace

class EditTest : public QObject {
    Q_OBJECT
private slots:
    void selectCutUndoRedoThroughTheMenu();
    void copyAndPasteThroughTheClipboard();
    void onlyWaveImagesPaste();
    void processItemsOnTheSelection();
    void cutLoopToSixteenths();
    void cropToTheLoopRegion();
    void plusAndMinusCycleThroughTheLoop();
    void cutComesBackWhenTheAuditionEnds();
    void oneChannelOfStereoCannotBeCut();
    void randomiseKeepingPointsAndUndo();
    void wheelMovesTheView();
    void shiftClickZooms();
};

void EditTest::selectCutUndoRedoThroughTheMenu() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto& editor = w->session().editor();
    const uint32_t whole = w->session().format().dataLength;
    QVERIFY(!w->action("Cut1")->isEnabled());
    QCOMPARE(w->action("Undo1")->text(), QString("&Undo"));
    QVERIFY(!w->action("Undo1")->isEnabled());

    // A Ctrl-click sets a cursor: nothing to cut yet.
    auto* view = w->waveView();
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, QPoint(view->width() / 3, view->height() / 2));
    QCOMPARE(editor.selectionList().size(), size_t(3));
    QVERIFY(!w->action("Cut1")->isEnabled());

    // A drag selects a range of whole frames inside the sample.
    drag(view, view->width() / 4, view->width() / 2);
    QCOMPARE(editor.selectionList().size(), size_t(4));
    const uint32_t start = editor.selectionStart();
    const uint32_t end = editor.selectionEnd();
    QVERIFY(end > start);
    QCOMPARE(start % 4, 0u);
    QCOMPARE(end % 4, 0u);
    QVERIFY(end - start > whole / 5 && end - start < whole / 3);
    QVERIFY(w->action("Cut1")->isEnabled());

    w->action("Cut1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole - (end - start));
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QCOMPARE(editor.selectionList().size(), size_t(3)); // a cursor where the range began
    QCOMPARE(editor.selectionStart(), start);
    QVERIFY(w->action("Undo1")->isEnabled());
    QCOMPARE(w->action("Undo1")->text(), QString("&Undo Cut")); // named after what it undoes

    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole);
    QCOMPARE(w->action("Undo1")->text(), QString("&Redo Cut"));
    QVERIFY(w->action("Undo1")->isEnabled());

    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole - (end - start));
    QCOMPARE(w->action("Undo1")->text(), QString("&Undo Cut"));
}

void EditTest::copyAndPasteThroughTheClipboard() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    const uint32_t whole = w->session().format().dataLength;
    auto& editor = w->session().editor();
    auto* view = w->waveView();

    QGuiApplication::clipboard()->setText("not audio");
    drag(view, view->width() / 8, view->width() / 4);
    const uint32_t length = editor.selectionEnd() - editor.selectionStart();
    QVERIFY(length > 0);
    w->action("Copy1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data != nullptr);
    for (const QString& type : ui::waveMimeTypes()) {
        QVERIFY2(data->hasFormat(type), qPrintable(type));
    }
    const QByteArray image = data->data("audio/x-wav");
    QCOMPARE(image.size(), qsizetype(46 + length));
    QVERIFY(image.startsWith("RIFF"));
    QCOMPARE(image.mid(8, 8), QByteArray("WAVEfmt "));
    QVERIFY(w->action("PasteKeep1")->isEnabled());
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix")); // copying changes nothing

    // Paste And Keep at a cursor inserts the image there; the cursor stays where it was.
    const int x = view->width() * 3 / 4;
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, QPoint(x, view->height() / 2));
    const uint32_t at = editor.selectionStart();
    w->action("PasteKeep1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole + length);
    QCOMPARE(editor.selectionList().size(), size_t(3));
    QCOMPARE(editor.selectionStart(), at);
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));

    // Another window takes the same clipboard: Paste To New makes the image its whole sample.
    Window other;
    other->show();
    QVERIFY(other->action("PasteToNew1")->isEnabled());
    other->action("PasteToNew1")->trigger();
    QVERIFY(uitest::waitFor([&] { return other->session().loaded() && !other->session().busy(); }));
    QCOMPARE(other->session().format().dataLength, length);
    QCOMPARE(other->session().format().channels, uint16_t(2));
    QCOMPARE(other->windowTitle(), QString("Untitled.wav* - Cleavix"));
    QCOMPARE(other->view().end, length);
}

void EditTest::onlyWaveImagesPaste() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    const uint32_t whole = w->session().format().dataLength;
    auto* view = w->waveView();
    drag(view, view->width() / 8, view->width() / 4);
    w->action("Copy1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    const QByteArray image = QGuiApplication::clipboard()->mimeData()->data("audio/x-wav");
    QVERIFY(image.size() > 46);

    // Text on the clipboard: the items are off and the command itself does nothing.
    QGuiApplication::clipboard()->setText("RIFF");
    QVERIFY(!w->action("PasteKeep1")->isEnabled());
    QVERIFY(!w->action("PasteFindNew1")->isEnabled());
    w->editCommands()->paste(false);
    QVERIFY(!w->session().busy());
    QCOMPARE(w->session().format().dataLength, whole);
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix"));

    // An alias of the Wave type alone is taken.
    auto* alias = new QMimeData;
    alias->setData("audio/vnd.wave", image);
    QGuiApplication::clipboard()->setMimeData(alias);
    QVERIFY(w->action("PasteFindNew1")->isEnabled());
    QCOMPARE(ui::waveImageFrom(QGuiApplication::clipboard()->mimeData()), image);
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, QPoint(view->width() / 2, view->height() / 2));
    QCOMPARE(w->session().editor().selectionList().size(), size_t(3));
    w->action("PasteFindNew1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole + uint32_t(image.size() - 46));
}

void EditTest::processItemsOnTheSelection() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto& session = w->session();
    auto& editor = session.editor();
    auto* view = w->waveView();
    drag(view, view->width() / 4, view->width() / 2);
    const uint32_t start = editor.selectionStart();
    const uint32_t end = editor.selectionEnd();
    const size_t words = (end - start) / 2;
    std::vector<int16_t> before(words);
    session.store().readSamples(start, before.data(), words);
    auto now = [&] {
        std::vector<int16_t> out(words);
        session.store().readSamples(start, out.data(), words);
        return out;
    };
    QVERIFY(std::any_of(before.begin(), before.end(), [](int16_t v) { return v != 0; }));
    // Runs a menu item to its completion and returns the range's words.
    auto run = [&](const char* item) {
        w->action(item)->trigger();
        return uitest::waitIdle(*w.form) ? now() : std::vector<int16_t>{};
    };

    // Reverse: the frames of the range in the opposite order.
    const auto reversed = run("Reverse1");
    QCOMPARE(reversed.size(), words);
    for (size_t frame = 0; frame < words / 2; frame += 997) {
        const size_t mirror = words / 2 - 1 - frame;
        QCOMPARE(reversed[2 * frame], before[2 * mirror]);
        QCOMPARE(reversed[2 * frame + 1], before[2 * mirror + 1]);
    }
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QVERIFY(run("Undo1") == before);

    // Silence: zeros over the range.
    const auto silent = run("Silence1");
    QCOMPARE(silent.size(), words);
    QVERIFY(std::all_of(silent.begin(), silent.end(), [](int16_t v) { return v == 0; }));
    QVERIFY(run("Undo1") == before);

    // Invert: every value v becomes -1 - v (the ones' complement).
    const auto inverted = run("Invert1");
    QCOMPARE(inverted.size(), words);
    for (size_t i = 0; i < words; i += 331) {
        QCOMPARE(int(inverted[i]), -1 - int(before[i]));
    }
}

void EditTest::cutLoopToSixteenths() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto& slicer = w->session().slicer();
    QVERIFY(gridCut(*w.form, "CutLoop16ths1"));
    const auto& c = slicer.candidates();
    // Sixteen divisions of one bar: the points between L and R, each enabled and locked.
    QVERIFY(c.count() >= 15 && c.count() <= 17);
    for (int i = 1; i <= c.count(); ++i) {
        QVERIFY(c.at(i).locked != 0);
        QVERIFY(c.at(i).enabled != 0);
    }
}

void EditTest::cropToTheLoopRegion() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto& session = w->session();
    const uint32_t whole = session.format().dataLength;
    QVERIFY(gridCut(*w.form, "CutLoop8ths1"));
    // L and R onto two of the grid points, then Crop keeps what lies between them.
    const auto& c = session.slicer().candidates();
    QVERIFY(c.count() > 4);
    const uint32_t l = c.at(2).position;
    const uint32_t r = c.at(4).position;
    session.slicer().setLoop(l, r);
    w->action("Crop1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(session.format().dataLength < whole);
    QCOMPARE(session.format().dataLength, (r & ~3u) - (l & ~3u));
    QCOMPARE(w->view().start, 0u);
    QCOMPARE(w->view().end, session.format().dataLength);
}

void EditTest::plusAndMinusCycleThroughTheLoop() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto& slicer = w->session().slicer();
    QVERIFY(gridCut(*w.form, "CutLoop8ths1"));
    const auto& list = slicer.slicePoints();
    QVERIFY(list.count() >= 7);
    // The loop region: from the second grid point to the sixth.
    slicer.setLoop(list.at(2).position, list.at(6).position);
    // Each key plays the segment; should the output still fail to open, its errors are answered.
    uitest::ModalScript script;
    for (int i = 0; i < 9; ++i) {
        script.answer(QMessageBox::Ok);
    }
    std::vector<uint32_t> starts;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(w.form.get(), Qt::Key_Plus);
        QVERIFY(uitest::waitIdle(*w.form));
        starts.push_back(slicer.selectionStart);
    }
    // L, the three points after it, then back to L (the segment ending at R was the last).
    const std::vector<uint32_t> forward{list.at(2).position, list.at(3).position, list.at(4).position,
                                        list.at(5).position, list.at(2).position, list.at(3).position};
    QVERIFY(starts == forward);
    // "-" from L wraps to the last segment before R, then steps back.
    QTest::keyClick(w.form.get(), Qt::Key_Minus); // from the 3rd point's segment to L's
    QCOMPARE(slicer.selectionStart, list.at(2).position);
    QTest::keyClick(w.form.get(), Qt::Key_Minus);
    QCOMPARE(slicer.selectionStart, list.at(5).position);
    QTest::keyClick(w.form.get(), Qt::Key_Underscore);
    QCOMPARE(slicer.selectionStart, list.at(4).position);
    QCOMPARE(slicer.selectionEnd, list.at(5).position);
}

// A click auditions its segment; Cut waits while it plays and comes back by itself when the
// audition ends, without the menu being opened.
void EditTest::cutComesBackWhenTheAuditionEnds() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    QVERIFY(gridCut(*w.form, "CutLoop16ths1"));
    auto& slicer = w->session().slicer();
    uitest::ModalScript script;
    script.answer(QMessageBox::Ok);
    QTest::keyClick(w.form.get(), Qt::Key_Plus);
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(slicer.selectedIndex >= 0);
    QVERIFY(w->transport()->playing());
    QVERIFY(!w->action("Cut1")->isEnabled());
    QVERIFY(uitest::waitFor([&] { return !w->transport()->playing(); }, 10000));
    QVERIFY(uitest::waitFor([&] { return w->action("Cut1")->isEnabled(); }, 2000));
    QVERIFY(w->action("CutButton")->isEnabled());
}

void EditTest::oneChannelOfStereoCannotBeCut() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    const uint32_t whole = w->session().format().dataLength;
    auto* view = w->waveView();
    drag(view, view->width() / 4, view->width() / 2);
    QVERIFY(w->action("Cut1")->isEnabled());
    QVERIFY(w->action("Crop1")->isEnabled());
    // Only the right channel chosen: Cut, Clear and Crop are off and the command does nothing.
    w->action("LeftChannel1")->trigger();
    QVERIFY(!w->action("LeftChannel1")->isChecked());
    QVERIFY(!w->action("Cut1")->isEnabled());
    QVERIFY(!w->action("Clear1")->isEnabled());
    QVERIFY(!w->action("Crop1")->isEnabled());
    QVERIFY(w->action("Copy1")->isEnabled());
    w->editCommands()->cut();
    QVERIFY(!w->session().busy());
    QCOMPARE(w->session().format().dataLength, whole);
    // The toolbar's Cut says why instead.
    QVERIFY(w->action("CutButton")->isEnabled());
    {
        uitest::ModalScript script;
        script.answer(QMessageBox::Ok);
        w->action("CutButton")->trigger();
        QCOMPARE(script.pending(), 0);
        QCOMPARE(script.texts.size(), 1);
        QVERIFY(script.texts[0].startsWith("You cannot cut data from a single channel in a stereo file!"));
    }
    QCOMPARE(w->session().format().dataLength, whole);
    // Copy then takes that channel alone: a mono image of half the bytes.
    const uint32_t length = w->session().editor().selectionEnd() - w->session().editor().selectionStart();
    w->action("Copy1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    const QByteArray image = QGuiApplication::clipboard()->mimeData()->data("audio/x-wav");
    QCOMPARE(image.size(), qsizetype(46 + length / 2));
    QCOMPARE(int(uint8_t(image[22])), 1);
    // Both channels again: Cut is back.
    w->action("LeftChannel1")->trigger();
    QVERIFY(w->action("Cut1")->isEnabled());
    // And the toolbar's Cut cuts.
    w->action("CutButton")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole - length);
}

void EditTest::randomiseKeepingPointsAndUndo() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto& session = w->session();
    QVERIFY(gridCut(*w.form, "CutLoop8ths1"));
    const uint32_t whole = session.format().dataLength;
    auto all = [&] {
        std::vector<int16_t> out(whole / 2);
        session.store().readSamples(0, out.data(), out.size());
        return out;
    };
    const auto before = all();
    session.slicer().setRandomSeed(7);
    w->action("RandomiseKeep1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(session.format().dataLength, whole);
    QVERIFY(all() != before);
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QVERIFY(w->action("Undo1")->isEnabled());
    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(all() == before);
}

void EditTest::wheelMovesTheView() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto* view = w->waveView();
    const uint32_t total = w->session().format().dataLength;
    w->action("ZoomIn1")->trigger();
    w->action("ZoomIn1")->trigger();
    const uint32_t length = w->view().length();
    QVERIFY(length < total / 2);
    auto turn = [&](int notches) {
        const QPointF at(view->width() / 2.0, view->height() / 2.0);
        QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &event);
    };
    const uint32_t step = 1000 * (length / uint32_t(view->width()));
    const uint32_t start = w->view().start;
    turn(1); // up: towards the end
    QCOMPARE(w->view().start, std::min(start + step, total - length) & ~3u);
    QCOMPARE(w->view().length(), length);
    const uint32_t moved = w->view().start;
    turn(-1); // down: back towards the start
    QCOMPARE(w->view().start, (moved > step ? moved - step : 0u) & ~3u);
    for (int i = 0; i < 1000 && w->view().start > 0; ++i) {
        turn(-1);
    }
    QCOMPARE(w->view().start, 0u);
    for (int i = 0; i < 1000 && w->view().end < total; ++i) {
        turn(1);
    }
    QVERIFY(w->view().end <= total);
    QVERIFY(total - w->view().end < 4);
}

void EditTest::shiftClickZooms() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto* view = w->waveView();
    const uint32_t total = w->session().format().dataLength;
    const auto selection = w->session().editor().selectionList();
    // Left: zoom in around the click, a quarter of the way in; the selection stays as it was.
    const int x = view->width() / 4;
    const uint32_t clicked = w->view().positionAt(x, view->width());
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(x, view->height() / 2));
    QVERIFY(w->view().length() < total);
    QVERIFY(w->view().start <= clicked && clicked < w->view().end);
    QVERIFY(w->session().editor().selectionList() == selection);
    // Right: out again to the whole sample.
    for (int i = 0; i < 10 && w->view().length() < total; ++i) {
        QTest::mouseClick(view, Qt::RightButton, Qt::ShiftModifier, QPoint(x, view->height() / 2));
    }
    QCOMPARE(w->view().start, 0u);
    QCOMPARE(w->view().end, total);
}

static uitest::Register<EditTest> registerEditTest;
#include "edit_test.moc"
