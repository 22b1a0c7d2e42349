// Stereo slice points shared by both channels ("L + R") or each channel's own ("L / R"), switched
// from the View menu and the View toolbar, with undo; and the Undo item naming what it undoes.
#include "ui/UiTest.h"

#include "ui/commands/ChannelPoints.h"
#include "ui/commands/EditCommands.h"
#include "ui/view/MouseTools.h"
#include "ui/view/WaveBox.h"

#include <set>

namespace {

// The positions and channel codes of the candidates.
std::vector<std::pair<uint32_t, uint8_t>> candidatePoints(const slicing::Slicer& slicer) {
    std::vector<std::pair<uint32_t, uint8_t>> out;
    const auto& c = slicer.candidates();
    for (int i = 1; i <= c.count(); ++i) {
        out.emplace_back(c.at(i).position, c.at(i).channel);
    }
    return out;
}

std::set<uint8_t> channelCodes(const slicing::Slicer& slicer) {
    std::set<uint8_t> codes;
    for (const auto& [position, code] : candidatePoints(slicer)) {
        codes.insert(code);
    }
    return codes;
}

QString undoText(ui::TMainForm& w) {
    w.editCommands()->updateEnabling();
    return w.action("Undo1")->text();
}

bool trigger(ui::TMainForm& w, const char* name) {
    w.action(name)->trigger();
    return uitest::waitIdle(w);
}

} // namespace

class PointSharingTest : public QObject {
    Q_OBJECT
private slots:
    void separatePointsFromTheViewMenuAndBackWithUndo();
    void toolbarButtonNamesTheModeAndSwitchesIt();
    void undoItemNamesWhatItUndoes();
};

void PointSharingTest::separatePointsFromTheViewMenuAndBackWithUndo() {
    Sandbox box;
    Window w;
    QAction* separate = w->action("SeparatePoints1");
    QVERIFY(separate != nullptr);
    QVERIFY(!separate->isEnabled()); // no sample
    // In the View menu, right after the channel items.
    auto* view = w->findChild<QMenu*>("ViewMenu");
    const auto items = view->actions();
    QCOMPARE(items.indexOf(separate), items.indexOf(w->action("RightChannel1")) + 1);

    QVERIFY(uitest::openDemoWithPoints(*w.form, box));
    auto& slicer = w->session().slicer();
    QVERIFY(separate->isEnabled());
    QVERIFY(!separate->isChecked());
    QVERIFY(slicer.linked());
    const auto shared = candidatePoints(slicer);
    QVERIFY(channelCodes(slicer) == std::set<uint8_t>{slicing::kCodeSecondOrMono});
    QVERIFY(w->segmentBar2()->isHidden());

    // Separate: searched afresh, each channel with points of its own, the second segment bar shown.
    QVERIFY(trigger(*w.form, "SeparatePoints1"));
    QVERIFY(!slicer.linked());
    QVERIFY(separate->isChecked());
    QVERIFY(channelCodes(slicer).count(slicing::kCodeFirst) == 1);
    QVERIFY(channelCodes(slicer).count(slicing::kCodeSecondOrMono) == 1);
    QVERIFY(!w->segmentBar2()->isHidden());
    QCOMPARE(undoText(*w.form), QString("&Undo Separate Channel Points"));
    const auto own = candidatePoints(slicer);
    // The mode is a point edit: the sample itself is unchanged.
    QVERIFY(!w->session().modified());

    // Undo: the shared points exactly as they were, with their mode.
    QVERIFY(trigger(*w.form, "Undo1"));
    QVERIFY(slicer.linked());
    QVERIFY(!separate->isChecked());
    QVERIFY(candidatePoints(slicer) == shared);
    QVERIFY(w->segmentBar2()->isHidden());
    QCOMPARE(undoText(*w.form), QString("&Redo Separate Channel Points"));
    // Redo: the separate points again.
    QVERIFY(trigger(*w.form, "Undo1"));
    QVERIFY(!slicer.linked());
    QVERIFY(candidatePoints(slicer) == own);
    QVERIFY(!w->segmentBar2()->isHidden());
}

void PointSharingTest::toolbarButtonNamesTheModeAndSwitchesIt() {
    Sandbox box;
    Window w;
    auto* button = w->findChild<QToolButton*>("PointsButton");
    QVERIFY(button != nullptr);
    QVERIFY(!button->isEnabled());
    QVERIFY(uitest::openDemoWithPoints(*w.form, box));
    // Wide enough for every toolbar: the button is on the View toolbar itself, not in its overflow.
    w->resize(1800, 600);
    QTest::qWait(20);
    QVERIFY(button->isEnabled());
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QString("L + R"));
    const int wide = button->width();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(!w->session().slicer().linked());
    QCOMPARE(button->text(), QString("L / R"));
    QCOMPARE(button->width(), wide); // the toolbar keeps its size
    QVERIFY(w->action("SeparatePoints1")->isChecked());
    // A click in the upper half now selects a segment of the first channel.
    ui::TWaveBox* wave = w->waveView();
    QTest::mouseClick(wave, Qt::LeftButton, {}, QPoint(wave->width() / 2, wave->height() / 4));
    const auto& slicer = w->session().slicer();
    QVERIFY(slicer.selectedIndex >= 0);
    QVERIFY(slicer.selectedIndex == 0 || slicer.slicePoints().at(slicer.selectedIndex).channel == slicing::kCodeFirst);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(w->session().slicer().linked());
    QCOMPARE(button->text(), QString("L + R"));
    QCOMPARE(undoText(*w.form), QString("&Undo Share Channel Points"));
}

void PointSharingTest::undoItemNamesWhatItUndoes() {
    Sandbox box;
    Window w;
    QVERIFY(uitest::openDemoWithPoints(*w.form, box));
    auto& s = w->session();
    const uint32_t length = s.format().dataLength;
    w->mouseTools()->selectRange(length / 8, length / 4);
    QVERIFY(trigger(*w.form, "Cut1"));
    QCOMPARE(undoText(*w.form), QString("&Undo Cut"));
    QVERIFY(trigger(*w.form, "Undo1"));
    QCOMPARE(undoText(*w.form), QString("&Redo Cut"));
    QCOMPARE(s.format().dataLength, length);
    w->mouseTools()->selectRange(length / 8, length / 4);
    QVERIFY(trigger(*w.form, "Invert1"));
    QCOMPARE(undoText(*w.form), QString("&Undo Invert"));
    // A point added with the mouse is named too.
    w->mouseTools()->chooseTool(ui::MouseTools::Add);
    ui::TWaveBox* wave = w->waveView();
    QTest::mouseClick(wave, Qt::LeftButton, {}, QPoint(wave->width() * 3 / 7, wave->height() / 2));
    QCOMPARE(undoText(*w.form), QString("&Undo Add Point"));
    QVERIFY(trigger(*w.form, "Undo1"));
    QCOMPARE(undoText(*w.form), QString("&Redo Add Point"));
    // The command-line tool's state shows the same name.
    QCOMPARE(s.editor().record().undoName, std::string("Add Point"));
}

#include "pointsharing_test.moc"

static cleavix::uitest::Register<PointSharingTest> registerPointSharing;
