// The Process menu's dialogs (Normalise, Quantise, Sample rate, Convert, Remove silence) and the
// enabling of their items, driven through the window on the offscreen platform with the demo loop.
#include "ui/UiTest.h"

#include "processing/StripSilence.h"
#include "ui/dialogs/ConvertForm.h"
#include "ui/dialogs/NormaliseForm.h"
#include "ui/dialogs/QuantiseForm.h"
#include "ui/dialogs/SampleRateForm.h"
#include "ui/dialogs/StripSilenceForm.h"
#include "ui/view/WaveBox.h"


#include <cmath>
#include <cstring>
#include <vector>

using uitest::openDemo;
using uitest::samples;
using uitest::expect;
using uitest::expectedTempo;
using uitest::tempoLabel;

namespace {

void closeWindow(Window& w) {
    ModalScript script;
    script.answer(QMessageBox::No); // the unsaved-changes question, when there is one
    w->close();
    uitest::waitFor([&] { return !w->isVisible(); }, 5000);
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void processMenuItemsAndEnabling();
    void normaliseDialog();
    void quantiseDialog();
    void sampleRateDialog();
    void convertChannelsDialog();
    void stripSilenceDialogAndItsRememberedSettings();
};

void DialogsTest::processMenuItemsAndEnabling() {
    Sandbox box;
    Window w;
    w->show();
    const char* items[] = {"Normalise1", "Quantise1", "AdjustSampleRate1", "ConvertChannels1", "StripSilence1",
                           "StripSilenceButton"};
    for (const char* name : items) {
        QVERIFY2(!w->action(name)->isEnabled(), name);
    }
    QVERIFY(!w->findChild<QToolButton*>("BarsUp")->isEnabled());
    auto* menu = w->findChild<QMenu*>("ProcessMenu");
    QStringList texts;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator() && a->menu() == nullptr) {
            texts << a->text();
        }
    }
    const QStringList head{"Silence", "Reverse", "&Invert", "&Normalise", "&Quantise", "&Adjust Sample Rate",
                           "&Convert Channels", "Strip Silence..."};
    QCOMPARE(texts.mid(0, head.size()), head);
    QCOMPARE(w->action("Normalise1")->statusTip(), QString("Normalise volume"));
    QCOMPARE(w->action("Quantise1")->statusTip(), QString("Reduce number of bits (and re-expand to 16)"));
    QCOMPARE(w->action("AdjustSampleRate1")->statusTip(), QString("Adjust the playback rate of the current sample"));
    QCOMPARE(w->action("ConvertChannels1")->statusTip(), QString("Convert between mono and stereo"));
    QCOMPARE(w->action("StripSilence1")->statusTip(), QString("Remove digital silence between samples"));
    QCOMPARE(w->action("StripSilenceButton")->toolTip(), QString("Strip silence"));
    QCOMPARE(w->action("StripSilenceButton")->statusTip(), QString("Remove silence from selected region"));
    QVERIFY(w->findChild<QToolBar*>("Panel2")->actions().contains(w->action("StripSilenceButton")));

    QVERIFY(uitest::openThroughMenu(*w.form, box.demoLoop()) && uitest::waitIdle(*w.form));
    for (const char* name : items) {
        QVERIFY2(w->action(name)->isEnabled(), name);
    }
    QVERIFY(w->findChild<QToolButton*>("BarsUp")->isEnabled());
    w->CloseFile();
    for (const char* name : items) {
        QVERIFY2(!w->action(name)->isEnabled(), name);
    }
    QCOMPARE(tempoLabel(*w.form), QString("0.000 BPM"));
}

void DialogsTest::normaliseDialog() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    auto& session = w->session();
    const auto before = samples(*w.form);

    // Cancel changes nothing.
    {
        ModalScript script;
        expect<ui::TNormForm>(script, [](ui::TNormForm* f) {
            f->reject();
            return true;
        });
        w->action("Normalise1")->trigger();
        QCOMPARE(script.pending(), 0);
    }
    QVERIFY(!session.busy());
    QVERIFY(samples(*w.form) == before);
    QCOMPARE(w->windowTitle(), QString("demo.wav - Cleavix"));

    // OK follows the field: enabled only for a whole number; 50 % with the D.C. offset removed.
    ModalScript script;
    QStringList seen;
    expect<ui::TNormForm>(script, [&](ui::TNormForm* f) {
        seen << f->windowTitle() << f->percentEdit()->text() << f->percentEdit()->toolTip()
             << QString::number(f->recutBox()->isChecked()) << QString::number(f->centreBox()->isChecked())
             << f->okButton()->toolTip();
        for (const char* bad : {"", "abc", "12.5", "50%", "1e3"}) {
            f->percentEdit()->setText(bad);
            if (f->okButton()->isEnabled()) {
                seen << QString("enabled for '%1'").arg(bad);
            }
        }
        f->percentEdit()->clear();
        QTest::keyClicks(f->percentEdit(), "50");
        if (!f->okButton()->isEnabled()) {
            seen << "disabled for 50";
        }
        f->recutBox()->setChecked(false);
        QTest::keyClick(f->percentEdit(), Qt::Key_Return); // Enter acts as OK
        return true;
    });
    w->action("Normalise1")->trigger();
    QCOMPARE(seen, (QStringList{"Normalise", "100", "Select % to quantise sample to", "1", "1", "Normalise sample"}));
    QCOMPARE(w->statusPanel(1), QString("Normalising..."));
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->statusPanel(1), QString("16 Bit / 44100 hz stereo"));

    // Every sample v became trunc((v - mean) x 0.5 x 32767 / peak), the peak taken about the mean.
    long double sum = 0;
    for (int16_t v : before) {
        sum += v;
    }
    const double offset = double(sum / before.size());
    double peak = 0;
    for (int16_t v : before) {
        peak = std::max(peak, std::fabs(v - offset));
    }
    const double gain = 0.5 * 32767.0 / peak;
    const auto after = samples(*w.form);
    QCOMPARE(after.size(), before.size());
    int largest = 0;
    for (size_t i = 0; i < after.size(); ++i) {
        const int expected = int(std::trunc((before[i] - offset) * gain));
        QVERIFY2(std::abs(after[i] - expected) <= 1, qPrintable(QString("sample %1").arg(i)));
        largest = std::max(largest, std::abs(int(after[i])));
    }
    QVERIFY(largest >= 16382 && largest <= 16384);
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));

    // Undo restores the audio.
    QVERIFY(w->action("Undo1")->isEnabled());
    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(samples(*w.form) == before);

    // The dialog opens with what was chosen last time.
    expect<ui::TNormForm>(script, [&](ui::TNormForm* f) {
        seen = {f->percentEdit()->text(), QString::number(f->recutBox()->isChecked()),
                QString::number(f->centreBox()->isChecked())};
        f->reject();
        return true;
    });
    w->action("Normalise1")->trigger();
    QCOMPARE(seen, (QStringList{"50", "0", "1"}));

    // "Re-cut sample" ticked: a fresh search replaces the grid points, and Undo takes the
    // normalising back with the points it replaced (hand-placed points are not lost).
    QVERIFY(w->session().slicer().setBarsAndBeats("2", "0"));
    w->action("CutLoop16ths1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    auto& candidates = session.slicer().candidates();
    auto allLocked = [&] {
        for (int k = 1; k <= candidates.count(); ++k) {
            if (candidates.at(k).locked == 0) {
                return false;
            }
        }
        return true;
    };
    QVERIFY(candidates.count() > 0 && allLocked());
    auto positions = [&] { return uitest::candidatePositions(*w.form); };
    const auto grid = positions();
    expect<ui::TNormForm>(script, [&](ui::TNormForm* f) {
        f->recutBox()->setChecked(true);
        f->accept();
        return true;
    });
    w->action("Normalise1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(samples(*w.form) != before);
    QVERIFY(candidates.count() > 0 && !allLocked());
    const auto recut = positions();
    const auto normalised = samples(*w.form);
    QCOMPARE(w->action("Undo1")->text(), QString("&Undo Normalise"));
    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(samples(*w.form) == before);
    QVERIFY(positions() == grid && allLocked());
    // Redo: the normalised audio and the re-cut points again.
    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(samples(*w.form) == normalised);
    QVERIFY(positions() == recut);

    // A stretch of nothing but silence has no peak to scale: the processing error, data unchanged.
    auto& editor = session.editor();
    editor.setupSelections(40000, 80000);
    w->action("Silence1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    editor.setupSelections(41200, 80000); // past the silence's fade-in
    const auto silent = samples(*w.form);
    expect<ui::TNormForm>(script, [&](ui::TNormForm* f) {
        f->accept();
        return true;
    });
    script.answer(QMessageBox::Ok);
    w->action("Normalise1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(uitest::settled(script, 5000));
    QVERIFY(script.texts.value(0).startsWith("A processing error has occured!"));
    QVERIFY(samples(*w.form) == silent);
}

void DialogsTest::quantiseDialog() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    // On a selection made with the mouse: only the selection is quantised.
    auto* view = w->waveView();
    const int y = view->height() / 2;
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(view->width() / 4, y));
    QTest::mouseMove(view, QPoint(view->width() / 3, y));
    QTest::mouseMove(view, QPoint(view->width() / 2, y));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width() / 2, y));
    auto& editor = w->session().editor();
    const uint32_t start = editor.selectionStart();
    const uint32_t end = editor.selectionEnd();
    QVERIFY(end > start);
    const auto before = samples(*w.form);

    ModalScript script;
    int opened = -1;
    QString caption;
    expect<ui::TBitForm>(script, [&](ui::TBitForm* f) {
        opened = f->levelSlider()->value();
        caption = f->windowTitle();
        if (f->levelSlider()->minimum() != 0 || f->levelSlider()->maximum() != 8) {
            caption = "wrong range";
        }
        f->levelSlider()->setValue(8);
        f->accept();
        return true;
    });
    w->action("Quantise1")->trigger();
    QCOMPARE(caption, QString("Quantise"));
    QCOMPARE(opened, 4);
    QCOMPARE(w->statusPanel(1), QString("Quantising..."));
    QVERIFY(uitest::waitIdle(*w.form));
    const auto after = samples(*w.form);
    for (size_t i = 0; i < after.size(); ++i) {
        const uint32_t at = uint32_t(i * 2);
        const int expected = at >= start && at < end ? 256 * (before[i] / 256) : before[i];
        QVERIFY2(after[i] == expected, qPrintable(QString("sample %1").arg(i)));
    }
    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QVERIFY(samples(*w.form) == before);

    // Remembered; Cancel leaves the level and the audio alone.
    expect<ui::TBitForm>(script, [&](ui::TBitForm* f) {
        opened = f->levelSlider()->value();
        f->levelSlider()->setValue(0);
        f->reject();
        return true;
    });
    w->action("Quantise1")->trigger();
    QCOMPARE(opened, 8);
    QVERIFY(!w->session().busy());
    QVERIFY(samples(*w.form) == before);
    QCOMPARE(w->session().processor().settings.quantiseLevel, 8);

    // With only the left channel chosen, the right samples stay as they were.
    w->action("RightChannel1")->trigger();
    expect<ui::TBitForm>(script, [&](ui::TBitForm* f) {
        f->accept();
        return true;
    });
    w->action("Quantise1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    const auto left = samples(*w.form);
    for (size_t i = 0; i < left.size(); ++i) {
        const uint32_t at = uint32_t(i * 2);
        const bool quantised = at >= start && at < end && i % 2 == 0;
        QVERIFY2(left[i] == (quantised ? 256 * (before[i] / 256) : before[i]), qPrintable(QString("sample %1").arg(i)));
    }
}

void DialogsTest::sampleRateDialog() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    QVERIFY(w->session().slicer().setBarsAndBeats("2", "0"));
    const QString tempoAt44100 = tempoLabel(*w.form);
    QCOMPARE(tempoAt44100, expectedTempo(*w.form, 2, 0));
    const auto before = samples(*w.form);

    ModalScript script;
    QStringList seen;
    expect<ui::TConRateForm>(script, [&](ui::TConRateForm* f) {
        QStringList entries;
        for (int i = 0; i < f->rateList()->count(); ++i) {
            entries << f->rateList()->itemText(i);
        }
        seen << f->windowTitle() << entries.join(",") << f->rateList()->currentText()
             << f->okButton()->toolTip();
        for (const char* bad : {"32k", "", "0", "-44100", "44100.5", "99999999999"}) {
            f->rateList()->setEditText(bad);
            if (f->okButton()->isEnabled()) {
                seen << QString("enabled for '%1'").arg(bad);
            }
        }
        f->rateList()->setEditText("32000");
        seen << QString::number(f->okButton()->isEnabled());
        f->rateList()->setCurrentIndex(2); // 22050
        f->okButton()->click();
        return true;
    });
    w->action("AdjustSampleRate1")->trigger();
    QCOMPARE(seen, (QStringList{"Sample rate", "48000,44100,22050,11025", "44100", "Convert sample rate", "1"}));
    QCOMPARE(w->session().format().sampleRate, 22050u);
    QCOMPARE(w->statusPanel(1), QString("16 Bit / 22050 hz stereo"));
    QVERIFY(samples(*w.form) == before); // not resampled
    QCOMPARE(w->windowTitle(), QString("demo.wav* - Cleavix"));
    // The same beats now last twice as long.
    QCOMPARE(tempoLabel(*w.form), expectedTempo(*w.form, 2, 0));
    QVERIFY(std::abs(tempoLabel(*w.form).split(' ').first().toDouble() * 2 -
                     tempoAt44100.split(' ').first().toDouble()) < 0.01);

    // A rate outside the list stands in the field as it is.
    expect<ui::TConRateForm>(script, [&](ui::TConRateForm* f) {
        seen = {f->rateList()->currentText()};
        f->rateList()->setEditText("32000");
        f->okButton()->click();
        return true;
    });
    w->action("AdjustSampleRate1")->trigger();
    QCOMPARE(seen.value(0), QString("22050"));
    QCOMPARE(w->session().format().sampleRate, 32000u);
    expect<ui::TConRateForm>(script, [&](ui::TConRateForm* f) {
        seen = {f->rateList()->currentText()};
        f->reject();
        return true;
    });
    w->action("AdjustSampleRate1")->trigger();
    QCOMPARE(seen.value(0), QString("32000"));
    QCOMPARE(w->session().format().sampleRate, 32000u);

    // Undo takes the rate back to the one before.
    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().sampleRate, 22050u);
    QCOMPARE(w->statusPanel(1), QString("16 Bit / 22050 hz stereo"));
}

void DialogsTest::convertChannelsDialog() {
    Sandbox box;
    Window w;
    QVERIFY(openDemo(*w.form, box));
    const auto stereo = samples(*w.form);
    QVERIFY(w->action("LeftChannel1")->isEnabled());

    // Cancel: nothing changes.
    ModalScript script;
    QStringList seen;
    expect<ui::TConvertForm>(script, [&](ui::TConvertForm* f) {
        f->reject();
        return true;
    });
    w->action("ConvertChannels1")->trigger();
    QVERIFY(!w->session().busy());
    QCOMPARE(w->session().format().channels, uint16_t(2));

    // To mono with the right channel.
    expect<ui::TConvertForm>(script, [&](ui::TConvertForm* f) {
        QStringList entries;
        for (int i = 0; i < f->list()->count(); ++i) {
            entries << f->list()->itemText(i);
        }
        seen << f->windowTitle() << entries.join(",") << f->list()->currentText();
        f->list()->setCurrentIndex(1);
        f->accept();
        return true;
    });
    w->action("ConvertChannels1")->trigger();
    QCOMPARE(w->statusPanel(1), QString("Converting..."));
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(seen, (QStringList{"Convert to mono", "Use Left Channel,Use Right Channel,Mix Channels", "Mix Channels"}));
    QCOMPARE(w->session().format().channels, uint16_t(1));
    QCOMPARE(w->statusPanel(1), QString("16 Bit / 44100 hz mono"));
    const auto mono = samples(*w.form);
    QCOMPARE(mono.size(), stereo.size() / 2);
    for (size_t i = 0; i < mono.size(); ++i) {
        QVERIFY2(mono[i] == stereo[2 * i + 1], qPrintable(QString("frame %1").arg(i)));
    }
    QVERIFY(!w->action("LeftChannel1")->isEnabled());
    QCOMPARE(w->view().start, 0u);
    QCOMPARE(w->view().end, w->session().format().dataLength);
    QCOMPARE(w->session().slicer().right(), w->session().format().dataLength);

    // And back to stereo: each mono sample in both channels.
    expect<ui::TConvertForm>(script, [&](ui::TConvertForm* f) {
        seen = {f->windowTitle(), f->list()->currentText(), QString::number(f->list()->count())};
        f->accept();
        return true;
    });
    w->action("ConvertChannels1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(seen, (QStringList{"Convert to stereo", "Mono to stereo", "1"}));
    QCOMPARE(w->session().format().channels, uint16_t(2));
    const auto doubled = samples(*w.form);
    QCOMPARE(doubled.size(), stereo.size());
    for (size_t i = 0; i < mono.size(); ++i) {
        QVERIFY(doubled[2 * i] == mono[i] && doubled[2 * i + 1] == mono[i]);
    }
    QVERIFY(w->action("LeftChannel1")->isEnabled());

    // Undo returns the mono sample.
    w->action("Undo1")->trigger();
    QVERIFY(uitest::waitIdle(*w.form));
    QCOMPARE(w->session().format().channels, uint16_t(1));
    QVERIFY(samples(*w.form) == mono);
}

void DialogsTest::stripSilenceDialogAndItsRememberedSettings() {
    Sandbox box;
    const QString demo = box.demoLoop();
    std::vector<int16_t> before;
    {
        Window w;
        w->show();
        QVERIFY(uitest::openThroughMenu(*w.form, demo) && uitest::waitIdle(*w.form));
        auto& editor = w->session().editor();
        // A stretch of digital silence in the middle of the loop.
        const uint32_t whole = w->session().format().dataLength;
        editor.setupSelections(whole / 8 / 4 * 4, whole / 4 / 4 * 4);
        w->action("Silence1")->trigger();
        QVERIFY(uitest::waitIdle(*w.form));
        editor.setupSelections(0, 0); // a cursor: the whole sample
        before = samples(*w.form);

        // Cancel keeps the sliders' values but changes nothing.
        ModalScript script;
        QStringList seen;
        expect<ui::TStripForm>(script, [&](ui::TStripForm* f) {
            QStringList modes;
            for (int i = 0; i < f->pointsList()->count(); ++i) {
                modes << f->pointsList()->itemText(i);
            }
            seen << f->windowTitle() << QString::number(f->thresholdSlider()->value())
                 << QString::number(f->gapSlider()->value()) << modes.join("|") << f->pointsList()->currentText()
                 << QString("%1-%2 %3-%4")
                        .arg(f->thresholdSlider()->minimum())
                        .arg(f->thresholdSlider()->maximum())
                        .arg(f->gapSlider()->minimum())
                        .arg(f->gapSlider()->maximum());
            f->thresholdSlider()->setValue(77);
            f->gapSlider()->setValue(1234);
            f->pointsList()->setCurrentIndex(1);
            f->reject();
            return true;
        });
        w->action("StripSilence1")->trigger();
        QCOMPARE(seen, (QStringList{"Remove silence", "20", "10000",
                                    "Set between 'stripped' samples|Keep old|Recut",
                                    "Set between 'stripped' samples", "1-5000 10-15000"}));
        QVERIFY(samples(*w.form) == before);

        // OK through the toolbar button: the points list starts over at its first mode.
        expect<ui::TStripForm>(script, [&](ui::TStripForm* f) {
            seen = {QString::number(f->thresholdSlider()->value()), QString::number(f->gapSlider()->value()),
                    QString::number(f->pointsList()->currentIndex())};
            f->thresholdSlider()->setValue(30);
            f->gapSlider()->setValue(500);
            f->accept();
            return true;
        });
        w->action("StripSilenceButton")->trigger();
        QCOMPARE(seen, (QStringList{"77", "1234", "0"}));
        QCOMPARE(w->statusPanel(1), QString("Removing silence..."));
        QVERIFY(uitest::waitIdle(*w.form));

        // The silences the engine's scan finds in the audio as it was are gone, the rest joined up.
        const std::vector<int16_t> copy = before;
        const auto spans = processing::findSilences(
            [&](uint32_t at, size_t bytes, uint8_t* out) {
                std::memcpy(out, reinterpret_cast<const uint8_t*>(copy.data()) + at, bytes);
            },
            0, uint32_t(copy.size() * 2), 2, 30, 500);
        QVERIFY(!spans.empty());
        std::vector<int16_t> expected;
        size_t from = 0;
        uint32_t removed = 0;
        for (const auto& s : spans) {
            expected.insert(expected.end(), copy.begin() + from, copy.begin() + s.start / 2);
            from = s.end / 2;
            removed += s.end - s.start;
        }
        expected.insert(expected.end(), copy.begin() + from, copy.end());
        QCOMPARE(w->session().format().dataLength, uint32_t(copy.size() * 2) - removed);
        QVERIFY(samples(*w.form) == expected);
        // A locked point at each join, the view and the loop over the whole, shorter sample.
        const auto& points = w->session().slicer().candidates();
        uint32_t before_ = 0;
        for (const auto& s : spans) {
            const uint32_t join = (s.start - before_) / 4 * 4;
            before_ += s.end - s.start;
            if (join == 0 || join >= w->session().format().dataLength) {
                continue;
            }
            bool found = false;
            for (int k = 1; k <= points.count(); ++k) {
                found = found || (points.at(k).position == join && points.at(k).locked != 0);
            }
            QVERIFY2(found, qPrintable(QString("no point at %1").arg(join)));
        }
        QCOMPARE(w->view().end, w->session().format().dataLength);
        QCOMPARE(w->session().slicer().right(), w->session().format().dataLength);

        // Undo brings the silence back.
        w->action("Undo1")->trigger();
        QVERIFY(uitest::waitIdle(*w.form));
        QVERIFY(samples(*w.form) == before);

        // With one channel of the stereo sample chosen, it asks first; Cancel leaves it alone.
        w->action("RightChannel1")->trigger();
        expect<ui::TStripForm>(script, [&](ui::TStripForm* f) {
            f->accept();
            return true;
        });
        script.answer(QMessageBox::Cancel);
        w->action("StripSilence1")->trigger();
        QVERIFY(uitest::settled(script, 5000));
        QVERIFY(script.texts.last().startsWith("Process will be applied to both channels."));
        QVERIFY(!w->session().busy());
        QVERIFY(samples(*w.form) == before);
        w->action("RightChannel1")->trigger();

        // The normalise settings last for this run only.
        w->session().processor().settings.normalisePercent = "75";
        closeWindow(w);
    }
    QCOMPARE(box.config("THold"), QString("30"));
    QCOMPARE(box.config("Gapp"), QString("500"));

    // A second run (the file named on its command line) opens the dialog where the first left it.
    ui::StartOptions options;
    options.file = demo;
    Window w(options);
    w->show();
    QVERIFY(uitest::waitLoaded(*w.form) && uitest::waitIdle(*w.form));
    ModalScript script;
    QStringList seen;
    expect<ui::TStripForm>(script, [&](ui::TStripForm* f) {
        seen = {QString::number(f->thresholdSlider()->value()), QString::number(f->gapSlider()->value())};
        f->reject();
        return true;
    });
    w->action("StripSilence1")->trigger();
    QCOMPARE(seen, (QStringList{"30", "500"}));
    expect<ui::TNormForm>(script, [&](ui::TNormForm* f) {
        seen = {f->percentEdit()->text()};
        f->reject();
        return true;
    });
    w->action("Normalise1")->trigger();
    QCOMPARE(seen, QStringList{"100"});
}

static uitest::Register<DialogsTest> registerDialogsTest;
#include "dialogs_test.moc"
