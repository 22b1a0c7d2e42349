// The Sample rate dialog's two choices through the window on the offscreen platform with the demo
// loop: reassign keeps every byte, resample converts the sample behind the progress window with
// the points and locators scaled, Undo gives it back, and the last choice is remembered.
#include "ui/UiTest.h"

#include "processing/RateConverter.h"
#include "processing/Resample.h"
#include "ui/dialogs/SampleRateForm.h"
#include "ui/platform/Config.h"

#include <QRadioButton>

#include <vector>

namespace {

// The next Sample rate dialog: `act` looks at it and closes it.
void expectRateForm(ModalScript& script, std::function<void(ui::TConRateForm*)> act) {
    uitest::expect<ui::TConRateForm>(script, [act = std::move(act)](ui::TConRateForm* form) {
        act(form);
        return true;
    });
}

} // namespace

class ResampleTest : public QObject {
    Q_OBJECT
private slots:
    void resampleChoiceConvertsScalesAndUndoes();
    void theChoiceDecidesWhichRatesAreValid();
};

void ResampleTest::resampleChoiceConvertsScalesAndUndoes() {
    Sandbox box;
    {
        Window w;
        QVERIFY(uitest::openDemoWithPoints(*w.form, box));
        auto& session = w->session();
        const std::vector<int16_t> before = uitest::samples(*w.form);
        ModalScript script;
        QStringList seen;

        // Reassign (the choice at first): the same bytes at another rate.
        expectRateForm(script, [&](ui::TConRateForm* f) {
            seen << QString::number(f->reassignButton()->isChecked()) << f->resampleButton()->text();
            f->rateList()->setEditText("32000");
            f->okButton()->click();
        });
        w->action("AdjustSampleRate1")->trigger();
        QVERIFY(uitest::waitIdle(*w.form));
        QCOMPARE(seen, (QStringList{"1", "Re&sample (keeps pitch and length)"}));
        QCOMPARE(session.format().sampleRate, 32000u);
        QVERIFY(uitest::samples(*w.form) == before);

        const auto format = session.format();
        const uint32_t left = format.frameStart(format.dataLength / 5);
        session.slicer().setLoop(left, format.dataLength);
        // What the points and locators become, worked out from the list as it is now.
        processing::ResamplePlan plan;
        plan.fromRate = format.sampleRate;
        plan.toRate = 22050;
        plan.channels = format.channels;
        plan.frames = format.frames();
        plan.newFrames = processing::resampledFrames(plan.frames, plan.fromRate, plan.toRate);
        slicing::CandidateList expected = session.slicer().candidates();
        processing::scalePoints(expected, plan);
        std::vector<uint32_t> expectedPoints;
        for (int k = 1; k <= expected.count(); ++k) {
            expectedPoints.push_back(expected.at(k).position);
        }
        QVERIFY(expectedPoints.size() >= 6);
        const std::vector<uint32_t> pointsBefore = uitest::candidatePositions(*w.form);

        expectRateForm(script, [&](ui::TConRateForm* f) {
            f->resampleButton()->setChecked(true);
            f->rateList()->setCurrentIndex(2); // 22050
            seen = {QString::number(f->okButton()->isEnabled())};
            f->okButton()->click();
        });
        w->action("AdjustSampleRate1")->trigger();
        QVERIFY(uitest::waitIdle(*w.form));
        QCOMPARE(seen, QStringList{"1"});
        QCOMPARE(session.format().sampleRate, 22050u);
        QCOMPARE(uint64_t(session.format().frames()), plan.newFrames);
        QVERIFY(uitest::samples(*w.form) != before);
        QCOMPARE(w->statusPanel(1), QString("16 Bit / 22050 hz stereo"));
        QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
        QVERIFY(uitest::candidatePositions(*w.form) == expectedPoints);
        QCOMPARE(session.slicer().left(), processing::scaleEdge(left, plan));
        QCOMPARE(session.slicer().right(), session.format().dataLength);
        QCOMPARE(w->view().end, session.format().dataLength);
        QVERIFY(w->action("Undo1")->isEnabled());

        w->action("Undo1")->trigger();
        QVERIFY(uitest::waitIdle(*w.form));
        QCOMPARE(session.format().sampleRate, 32000u);
        QVERIFY(uitest::samples(*w.form) == before);
        QVERIFY(uitest::candidatePositions(*w.form) == pointsBefore);
        QCOMPARE(session.slicer().left(), left);

        // The dialog opens on the choice made last; Cancel changes nothing.
        expectRateForm(script, [&](ui::TConRateForm* f) {
            seen = {QString::number(f->resampleButton()->isChecked())};
            f->reject();
        });
        w->action("AdjustSampleRate1")->trigger();
        QCOMPARE(seen, QStringList{"1"});
        QCOMPARE(session.format().sampleRate, 32000u);

        ModalScript closing;
        closing.answer(QMessageBox::No); // the unsaved-changes question
        w->close();
        uitest::waitFor([&] { return !w->isVisible(); }, 5000);
    }
    // Kept in the configuration, and the next window's dialog starts from it.
    QCOMPARE(box.config("ResampleRate"), QString("true"));
    Window again;
    QVERIFY(uitest::openDemo(*again.form, box));
    ModalScript script;
    QStringList seen;
    expectRateForm(script, [&](ui::TConRateForm* f) {
        seen = {QString::number(f->resampleButton()->isChecked())};
        f->reject();
    });
    again->action("AdjustSampleRate1")->trigger();
    QCOMPARE(seen, QStringList{"1"});
}

void ResampleTest::theChoiceDecidesWhichRatesAreValid() {
    Sandbox box;
    Window w;
    QVERIFY(uitest::openDemo(*w.form, box));
    // At 8000 Hz the converter's widest ratio (65536) ends at 524288000 Hz, below the largest
    // rate a stereo Wave header holds (1073741823): between the two only reassigning is possible.
    QVERIFY(w->session().processor().adjustRate("8000"));
    ModalScript script;
    QStringList seen;
    expectRateForm(script, [&](ui::TConRateForm* f) {
        f->resampleButton()->setChecked(true);
        for (const char* text : {"32k", "0", "1073741824", "96000", "524288000", "600000000"}) {
            f->rateList()->setEditText(text);
            seen << QString("%1:%2").arg(text).arg(f->okButton()->isEnabled());
        }
        f->reassignButton()->setChecked(true); // the same text, now valid
        seen << QString("reassign:%1").arg(f->okButton()->isEnabled());
        f->resampleButton()->setChecked(true);
        seen << QString("resample:%1").arg(f->okButton()->isEnabled());
        f->reject();
    });
    w->action("AdjustSampleRate1")->trigger();
    QCOMPARE(seen, (QStringList{"32k:0", "0:0", "1073741824:0", "96000:1", "524288000:1", "600000000:0",
                                "reassign:1", "resample:0"}));
    QCOMPARE(w->session().format().sampleRate, 8000u);
}

static uitest::Register<ResampleTest> registerResampleTest;
#include "resample_test.moc"
