// Playback from the window on the virtual audio device, whose clock only the test moves: a
// locator dropped while the loop plays restarts the loop with its new region.
#include "ui/UiTest.h"
#include "ui/VirtualDevices.h"

#include "audio/VirtualWaveDevice.h"
#include "ui/commands/TransportControl.h"
#include "ui/view/WaveBox.h"

namespace {

// A window whose session plays into a virtual output the test advances.
struct VirtualPlayback {
    VirtualPlayback() : w(uitest::virtualDeviceOptions(provider)) {}
    audio::VirtualWaveOut* out() const { return provider->lastOutput; }
    // Plays `bytes` bytes, letting the window refill the buffers the device gives back.
    bool play(uint64_t bytes) {
        return uitest::waitFor([&] {
            if (out() != nullptr && out()->isOpen()) {
                bytes -= out()->advance(bytes);
            }
            return bytes == 0;
        }, 10000);
    }
    std::vector<uint8_t> storeBytes(uint32_t from, uint32_t count) {
        std::vector<uint8_t> bytes(count);
        w->session().store().stream().readAt(from, bytes.data(), count);
        return bytes;
    }
    std::vector<uint8_t> playedSince(size_t from) const {
        const auto& played = out()->played();
        return std::vector<uint8_t>(played.begin() + long(from), played.end());
    }

    Sandbox box;
    audio::VirtualDeviceProvider* provider = nullptr;
    Window w;
};

} // namespace

class PlaybackTest : public QObject {
    Q_OBJECT
private slots:
    void droppedLocatorRestartsThePlayingLoop();
};

void PlaybackTest::droppedLocatorRestartsThePlayingLoop() {
    VirtualPlayback p;
    auto& w = p.w;
    w->show();
    QVERIFY(uitest::openThroughMenu(*w.form, p.box.demoLoop()));
    w->sensitivitySlider()->setValue(65000);
    auto& slicer = w->session().slicer();
    QVERIFY(slicer.slicePoints().count() >= 6);
    QCOMPARE(slicer.left(), 0u);
    const uint32_t right = slicer.right();

    w->transportButton("Button20")->click();
    QVERIFY(w->transport()->down() == ui::PlayButtonDown::Loop);
    QVERIFY(p.out() != nullptr);
    QVERIFY(p.play(16000));
    QVERIFY(p.out()->played() == p.storeBytes(0, 16000)); // the loop from L = 0
    const int resets = p.out()->resets();

    // L dragged to the middle of the view and dropped there: it snaps onto a slice point.
    QPushButton* L = w->locatorL();
    const int dx = w->waveView()->width() / 2;
    QTest::mousePress(L, Qt::LeftButton, {}, QPoint(4, 4));
    QTest::mouseMove(L, QPoint(4 + dx, 4));
    QTest::mouseRelease(L, Qt::LeftButton, {}, QPoint(4, 4)); // the button has moved with the mouse
    const uint32_t left = slicer.left();
    QVERIFY2(left > 0 && left < right, qPrintable(QString::number(left)));
    bool onPoint = false;
    for (int i = 1; i <= slicer.slicePoints().count(); ++i) {
        onPoint = onPoint || slicer.slicePoints().at(i).position == left;
    }
    QVERIFY(onPoint);

    // The loop goes on, restarted from the new L: what plays next is the audio from there.
    QVERIFY(w->transport()->down() == ui::PlayButtonDown::Loop);
    QVERIFY(p.out()->resets() > resets);
    const size_t before = p.out()->played().size();
    const uint32_t next = std::min<uint32_t>(12000, (right - left) & ~3u);
    QVERIFY(p.play(next));
    QVERIFY(p.playedSince(before) == p.storeBytes(left, next));

    w->transportButton("Button24")->click();
    QVERIFY(w->transport()->down() == ui::PlayButtonDown::None);
}

#include "playback_test.moc"

static cleavix::uitest::Register<PlaybackTest> registerPlayback;
