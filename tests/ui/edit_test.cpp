// The Edit and Process menus on the offscreen platform: selecting with the mouse on the waveform,
// Cut and Undo/Redo through the menu, Copy and the pastes through the real system clipboard
// (one window to another), and what the pastes do with anything but a wave image.
#include "ui/UiTestSupport.h"

#include "ui/EditCommands.h"
#include "ui/WaveBox.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

using namespace cleavix;
using cleavix::uitest::Sandbox;
using cleavix::uitest::Window;

namespace {

bool idle(ui::TMainForm& w) {
    return uitest::waitFor([&] { return !w.session().busy(); });
}

// Drags over the waveform view from column x0 to x1 with the left button.
void drag(ui::TWaveBox* view, int x0, int x1) {
    const int y = view->height() / 2;
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x0, y));
    QTest::mouseMove(view, QPoint((x0 + x1) / 2, y));
    QTest::mouseMove(view, QPoint(x1, y));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(x1, y));
}

// Shows the window and opens the demo loop through the File menu.
bool openDemo(ui::TMainForm& w, const Sandbox& box) {
    w.show();
    return uitest::openThroughMenu(w, box.demoLoop()) && idle(w);
}

} // namespace

class EditTest : public QObject {
    Q_OBJECT
private slots:
    void selectCutUndoRedoThroughTheMenu();
    void copyAndPasteThroughTheClipboard();
    void onlyWaveImagesPaste();
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

    // A click sets a cursor: nothing to cut yet.
    auto* view = w->waveView();
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() / 3, view->height() / 2));
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
    QVERIFY(idle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole - (end - start));
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    QCOMPARE(editor.selectionList().size(), size_t(3)); // a cursor where the range began
    QCOMPARE(editor.selectionStart(), start);
    QVERIFY(w->action("Undo1")->isEnabled());
    QCOMPARE(w->action("Undo1")->text(), QString("&Undo"));

    w->action("Undo1")->trigger();
    QVERIFY(idle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole);
    QCOMPARE(w->action("Undo1")->text(), QString("&Redo"));
    QVERIFY(w->action("Undo1")->isEnabled());

    w->action("Undo1")->trigger();
    QVERIFY(idle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole - (end - start));
    QCOMPARE(w->action("Undo1")->text(), QString("&Undo"));
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
    QVERIFY(idle(*w.form));
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
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, view->height() / 2));
    const uint32_t at = editor.selectionStart();
    w->action("PasteKeep1")->trigger();
    QVERIFY(idle(*w.form));
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
    QVERIFY(idle(*w.form));
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
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() / 2, view->height() / 2));
    QCOMPARE(w->session().editor().selectionList().size(), size_t(3));
    w->action("PasteFindNew1")->trigger();
    QVERIFY(idle(*w.form));
    QCOMPARE(w->session().format().dataLength, whole + uint32_t(image.size() - 46));
}

static uitest::Register<EditTest> registerEditTest;
#include "edit_test.moc"
