// The window as a new user first meets it: the size and place it opens at without stored bounds,
// the open dialog the first start offers, and the Select tool's two selections ("ToolDefault" and
// the Ctrl key held down).
#include "ui/UiTest.h"

#include "ui/dialogs/FileDialogs.h"
#include "ui/view/MouseTools.h"
#include "ui/view/WaveBox.h"

#include <QDoubleSpinBox>
#include <QScreen>

namespace {

// The toolbars of the top area whose items do not all fit: their overflow button shows.
QStringList foldedToolbars(const ui::TMainForm& w) {
    QStringList folded;
    for (QToolBar* bar : w.findChildren<QToolBar*>()) {
        if (w.toolBarArea(bar) != Qt::TopToolBarArea || !bar->isVisible()) {
            continue;
        }
        auto* more = bar->findChild<QToolButton*>("qt_toolbar_ext_button");
        if (more != nullptr && more->isVisible()) {
            folded << bar->objectName();
        }
    }
    return folded;
}

QPoint screenCentre() { return QGuiApplication::primaryScreen()->availableGeometry().center(); }

} // namespace

class FirstStartTest : public QObject {
    Q_OBJECT
private slots:
    void firstStartShowsEveryToolbarCentredAndOffersAFile();
    void storedBoundsWinAfterwards();
    void boundsOffEveryScreenAreNotUsed();
    void regionDefaultClicksAnInsertionPointAndCtrlTheSegment();
    void ctrlHeldDownChoosesTheOtherSelection();
};

void FirstStartTest::firstStartShowsEveryToolbarCentredAndOffersAFile() {
    Sandbox box(Sandbox::Start::Fresh);
    ModalScript script;
    bool offered = false;
    uitest::expect<ui::TOdForm>(script, [&](ui::TOdForm* dialog) {
        offered = true;
        dialog->reject();
        return true;
    });
    Window w;
    QVERIFY(!w->config().boundsStored);
    w->show();
    // "Show open dialog on startup" is on by default, and the first start honours it.
    QVERIFY(uitest::waitFor([&] { return offered; }, 10000));
    QTest::qWait(50);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(w->width() > 640, qPrintable(QString::number(w->width())));
    QVERIFY(area.contains(w->geometry()));
    // Centred on the screen (the frame may add a few pixels on one side).
    QVERIFY2((w->geometry().center() - screenCentre()).manhattanLength() <= 40,
             qPrintable(QString("%1,%2").arg(w->geometry().center().x()).arg(w->geometry().center().y())));
    if (area.width() >= 1280) {
        // Every toolbar whole: none folds into its overflow button, and the tempo box shows.
        QCOMPARE(foldedToolbars(*w.form), QStringList());
        QVERIFY(w->findChild<QDoubleSpinBox*>("TempoBox")->isVisible());
    } else {
        // A small screen: as wide as it is, the frame included.
        QVERIFY2(w->width() >= area.width() - 40, qPrintable(QString::number(w->width())));
    }
}

void FirstStartTest::storedBoundsWinAfterwards() {
    Sandbox box;
    {
        Window w;
        w->show();
        QTest::qWait(20);
        w->resize(900, 560);
        w->move(30, 40);
        QTest::qWait(20);
        w->close();
        QVERIFY(uitest::waitFor([&] { return !w->isVisible(); }));
    }
    Window w;
    QVERIFY(w->config().boundsStored);
    w->show();
    QTest::qWait(20);
    QCOMPARE(w->size(), QSize(900, 560));
    QCOMPARE(w->pos(), QPoint(30, 40));
}

void FirstStartTest::boundsOffEveryScreenAreNotUsed() {
    Sandbox box;
    { Window w; } // every value written
    box.setConfig("Left", "20000");
    box.setConfig("Top", "15000");
    box.setConfig("Width", "700");
    box.setConfig("Height", "500");
    Window w;
    QVERIFY(w->config().boundsStored);
    w->show();
    QTest::qWait(20);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(area.contains(w->geometry()));
    QVERIFY((w->geometry().center() - screenCentre()).manhattanLength() <= 40);
}

void FirstStartTest::regionDefaultClicksAnInsertionPointAndCtrlTheSegment() {
    Sandbox box;
    { Window w; }
    box.setConfig("ToolDefault", "1");
    Window w;
    QCOMPARE(w->config().toolDefault, 1);
    QVERIFY(uitest::openDemoWithPoints(*w.form, box));
    ui::TWaveBox* view = w->waveView();
    auto& editor = w->session().editor();
    const QPoint at(view->width() / 3, view->height() / 2);
    // The Select tool shows what a click makes: the text cursor for an insertion point.
    QCOMPARE(w->mouseTools()->tool(), int(ui::MouseTools::Select));
    QCOMPARE(view->cursor().shape(), Qt::IBeamCursor);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    QCOMPARE(editor.selectionList().size(), size_t(3)); // a cursor, not a range
    QCOMPARE(w->session().slicer().selectedIndex, -1);
    // Ctrl held: the arrow, and a click selects the segment under the mouse.
    QTest::keyPress(w.form.get(), Qt::Key_Control);
    QVERIFY(w->mouseTools()->ctrlDown());
    QCOMPARE(view->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, at);
    QCOMPARE(editor.selectionList().size(), size_t(4));
    QVERIFY(w->session().slicer().selectedIndex >= 0);
    QTest::keyRelease(w.form.get(), Qt::Key_Control);
    QVERIFY(!w->mouseTools()->ctrlDown());
    QCOMPARE(view->cursor().shape(), Qt::IBeamCursor);
    // A drag from the insertion point selects a free range.
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(view->width() / 5, at.y()));
    QTest::mouseMove(view, QPoint(view->width() / 4, at.y()));
    QTest::mouseMove(view, QPoint(view->width() / 2, at.y()));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width() / 2, at.y()));
    QCOMPARE(editor.selectionList().size(), size_t(4));
    QVERIFY(editor.selectionEnd() - editor.selectionStart() > w->session().format().dataLength / 5);
}

void FirstStartTest::ctrlHeldDownChoosesTheOtherSelection() {
    Sandbox box;
    Window w;
    QCOMPARE(w->config().toolDefault, 0);
    QVERIFY(uitest::openDemoWithPoints(*w.form, box));
    ui::TWaveBox* view = w->waveView();
    auto& editor = w->session().editor();
    const QPoint at(view->width() / 3, view->height() / 2);
    QCOMPARE(view->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    QCOMPARE(editor.selectionList().size(), size_t(4)); // the segment
    // The key's own down and up count, whatever the click itself reports.
    QTest::keyPress(w.form.get(), Qt::Key_Control);
    QCOMPARE(view->cursor().shape(), Qt::IBeamCursor);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    QCOMPARE(editor.selectionList().size(), size_t(3));
    QTest::keyRelease(w.form.get(), Qt::Key_Control);
    QCOMPARE(view->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    QCOMPARE(editor.selectionList().size(), size_t(4));
    // A Ctrl let go while another window had the keyboard does not stay held: let go there, or
    // with the window no longer active.
    QTest::keyPress(w.form.get(), Qt::Key_Control);
    QVERIFY(w->mouseTools()->ctrlDown());
    QWidget other;
    QTest::keyRelease(&other, Qt::Key_Control);
    QVERIFY(!w->mouseTools()->ctrlDown());
    QCOMPARE(view->cursor().shape(), Qt::ArrowCursor);
    QTest::keyPress(&other, Qt::Key_Control); // held over another window: not ours
    QVERIFY(!w->mouseTools()->ctrlDown());
    QTest::keyPress(w.form.get(), Qt::Key_Control);
    QVERIFY(w->mouseTools()->ctrlDown());
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(w.form.get(), &deactivate);
    QVERIFY(!w->mouseTools()->ctrlDown());
}

#include "firststart_test.moc"

static cleavix::uitest::Register<FirstStartTest> registerFirstStart;
