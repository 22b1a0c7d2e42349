// Loop at the Play toolbar's tempo on the offscreen platform over a virtual output the test plays:
// "Own" loops the region itself; a tempo typed into the Tempo box while the loop plays restarts it
// at that tempo, every byte the rendering's and the second pass the first; the cursor shows the
// original's frame; Stop ends it; with no bars and beats the tempo is refused with the reason.
#include "ui/UiTest.h"
#include "ui/VirtualDevices.h"
#include "ui/window/StartForm.h"

#include "audio/AudioTestHelpers.h"
#include "session/TempoPlayback.h"
#include "ui/commands/TransportControl.h"

#include <QDoubleSpinBox>
#include <QMessageBox>

#include <cmath>

namespace {

struct VirtualOutput {
    VirtualOutput() : w(uitest::virtualDeviceOptions(provider)) {}
    // Plays `bytes` more on the virtual output, letting the window take each notice.
    bool play(uint64_t bytes) {
        return uitest::waitFor([&] {
            audio::VirtualWaveOut* out = provider->lastOutput;
            if (out == nullptr) {
                return false;
            }
            bytes -= out->advance(bytes);
            return bytes == 0;
        }, 10000);
    }
    std::vector<uint8_t> playedSince(size_t from) const {
        const auto& all = provider->lastOutput->played();
        return {all.begin() + long(from), all.end()};
    }
    size_t playedSize() const { return provider->lastOutput ? provider->lastOutput->played().size() : 0; }

    Sandbox box;
    audio::VirtualDeviceProvider* provider = nullptr;
    Window w;
};

std::vector<uint8_t> times(const std::vector<uint8_t>& pass, size_t n) {
    return audio::test::repeated(pass, 0, pass.size(), n);
}

} // namespace

class TempoLoopTest : public QObject {
    Q_OBJECT
private slots:
    void loopFollowsTheTempoBox();
    void aLoopWithoutATempoIsRefused();
};

void TempoLoopTest::loopFollowsTheTempoBox() {
    VirtualOutput v;
    v.w->show();
    QVERIFY(uitest::openThroughMenu(*v.w.form, v.box.demoLoop()) && uitest::waitIdle(*v.w.form));
    v.w->sensitivitySlider()->setValue(65000);
    auto& session = v.w->session();
    auto& slicer = session.slicer();
    QVERIFY(slicer.slicePoints().count() >= 6);
    QVERIFY(slicer.setBarsAndBeats("2", "0")); // the demo: two bars at 120 BPM
    QCOMPARE(double(slicer.tempo().tempo), 120.0);
    session.player().BufferSize = 1;
    session.player().BufferCount = 2;
    auto* tempoBox = v.w->findChild<QDoubleSpinBox*>("TempoBox");
    auto* loopButton = v.w->findChild<QToolButton*>("Button20");
    auto* stopButton = v.w->findChild<QToolButton*>("Button24");
    QVERIFY(tempoBox != nullptr && loopButton != nullptr && stopButton != nullptr);
    QCOMPARE(tempoBox->text(), QString("Own"));

    // Own: the region itself, pass after pass.
    loopButton->click();
    QVERIFY(uitest::waitFor([&] { return session.player().state().Playing; }));
    QVERIFY(session.transport().rendered() == nullptr);
    const uint32_t left = slicer.left() & ~3u;
    std::vector<uint8_t> region(slicer.right() - left);
    session.store().stream().readAt(left, region.data(), region.size());
    QVERIFY(v.play(region.size() * 2));
    QVERIFY(v.playedSince(0) == times(region, 2));

    // Half the tempo, typed while the loop plays: it restarts at once, twice as long.
    tempoBox->setValue(60.0);
    QVERIFY(uitest::waitFor([&] { return session.transport().rendered() != nullptr; }));
    QVERIFY(v.w->transport()->down() == ui::PlayButtonDown::Loop);
    auto* rendering = dynamic_cast<const session::TempoPlaySource*>(session.transport().rendered());
    QVERIFY(rendering != nullptr);
    const uint64_t length = rendering->length();
    QVERIFY2(std::llabs(int64_t(length) - int64_t(region.size()) * 2) <= 8, qPrintable(QString::number(length)));
    auto fresh = session.loopAtTempo(slicer.left(), slicer.right(), 60.0);
    QVERIFY(fresh != nullptr);
    std::vector<uint8_t> pass(length);
    fresh->readAt(0, pass.data(), pass.size());
    const size_t before = v.playedSize();
    QVERIFY(v.play(length * 2));
    QVERIFY(v.playedSince(before) == times(pass, 2));

    // The cursor: 1000 frames into the third slice of this pass, its own frame 1000 after its start.
    const auto& plan = rendering->plan();
    QVERIFY(plan.slices.size() >= 3);
    const auto& third = plan.slices[2];
    QVERIFY(third.playFrames > 1000);
    QVERIFY(v.play((third.outFrame + 1000) * 4));
    QVERIFY(uitest::waitFor([&] { return v.w->transport()->cursorVisible(); }));
    session.transport().SuperTimer1Timer();
    const auto& view = session.transport().view;
    const double total = view.totalLength;
    const double shown = double(view.viewEnd - view.viewStart);
    const double at = double((third.sourceFrame + 1000) * 4);
    const int column = int(std::nearbyint((at / total * view.viewWidth - view.viewStart / total * view.viewWidth) *
                                          (total / shown)));
    QCOMPARE(session.transport().CursorX, column);

    stopButton->click();
    QVERIFY(uitest::waitFor([&] { return !session.player().state().Playing; }));
    QVERIFY(session.transport().rendered() == nullptr);
    QVERIFY(v.w->transport()->down() == ui::PlayButtonDown::None);
    const size_t stopped = v.playedSize();
    v.provider->lastOutput->advance(40000);
    QCOMPARE(v.playedSize(), stopped);
}

void TempoLoopTest::aLoopWithoutATempoIsRefused() {
    VirtualOutput v;
    v.w->show();
    QVERIFY(uitest::openThroughMenu(*v.w.form, v.box.demoLoop()) && uitest::waitIdle(*v.w.form));
    auto& session = v.w->session();
    QVERIFY(session.slicer().setBarsAndBeats("0", "0"));
    v.w->findChild<QDoubleSpinBox*>("TempoBox")->setValue(100.0);
    ModalScript script;
    script.answer(QMessageBox::Ok);
    v.w->findChild<QToolButton*>("Button20")->click();
    QVERIFY(uitest::settled(script));
    QCOMPARE(script.texts.size(), 1);
    QVERIFY2(script.texts[0].contains("no tempo"), qPrintable(script.texts[0]));
    QVERIFY(!session.player().state().Playing);
    QVERIFY(v.w->transport()->down() == ui::PlayButtonDown::None);
}

static uitest::Register<TempoLoopTest> registerTempoLoopTest;

#include "tempo_loop_test.moc"
