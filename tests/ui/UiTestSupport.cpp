#include "ui/UiTestSupport.h"

#include "sample/DemoLoop.h"
#include "ui/dialogs/FileDialogs.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QThread>

#include <algorithm>

namespace cleavix::uitest {

Sandbox::Sandbox(Start start) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.filePath("config"));
    if (start == Start::Quiet) {
        QSettings settings(configFile(), QSettings::IniFormat);
        settings.beginGroup(ui::kConfigGroup);
        settings.setValue("showopendialog", "false");
    }
}

QString Sandbox::configFile() const { return dir_.filePath("config/Cleavix/Cleavix.ini"); }

QString Sandbox::config(const QString& name) const {
    QSettings s(configFile(), QSettings::IniFormat);
    s.beginGroup(ui::kConfigGroup);
    return s.value(name).toString();
}

void Sandbox::setConfig(const QString& name, const QString& value) const {
    QSettings s(configFile(), QSettings::IniFormat);
    s.beginGroup(ui::kConfigGroup);
    s.setValue(name, value);
}

QString Sandbox::demoLoop(const QString& name) const {
    const QString file = dir_.filePath(name);
    std::string error;
    if (!sample::writeDemoLoop(file.toStdString(), error)) {
        qFatal("cannot write the demo loop: %s", error.c_str());
    }
    return file;
}

ModalScript::ModalScript() {
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start(10);
}

ModalScript::~ModalScript() { timer_.stop(); }

void ModalScript::answer(QMessageBox::StandardButton button) {
    handle([this, button](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr) {
            return false;
        }
        texts << box->text();
        if (QAbstractButton* b = box->button(button)) {
            b->click();
            return true;
        }
        qWarning("message box without the scripted button: %s", qPrintable(box->text()));
        return false;
    });
}

void ModalScript::handle(std::function<bool(QWidget*)> handler) { handlers_.push_back(std::move(handler)); }

void ModalScript::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
        unhandled_ = nullptr;
        return;
    }
    if (!handlers_.empty() && handlers_.front()(modal)) {
        handlers_.erase(handlers_.begin());
        unhandled_ = nullptr;
        return;
    }
    // A window nobody scripted would wait for ever: close it so the test fails instead.
    if (modal != unhandled_) {
        unhandled_ = modal;
        since_.start();
    } else if (since_.elapsed() > 5000) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        qWarning("unscripted modal window %s \"%s\" %s", modal->metaObject()->className(),
                 qPrintable(modal->windowTitle()), box != nullptr ? qPrintable(box->text()) : "");
        unhandled_ = nullptr;
        QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    }
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

bool waitIdle(ui::TMainForm& window, int ms) {
    return waitFor([&] { return !window.session().busy(); }, ms);
}

bool waitLoaded(ui::TMainForm& window, int ms) {
    auto& s = window.session();
    return waitFor([&] { return s.loaded() && !s.busy(); }, ms) && waitFor([&] { return !s.busy(); }, ms);
}

Window::Window(ui::StartOptions options) {
    form = std::make_unique<ui::TMainForm>(dispatcher, options);
}

Window::~Window() {
    if (form) {
        form->hide();
    }
    form.reset();
}

bool Demo::open() { return openDemo(*w.form, box); }

bool Demo::openWithPoints() { return openDemoWithPoints(*w.form, box); }

std::vector<int16_t> samples(ui::TMainForm& window, uint32_t start, uint32_t end) {
    auto& store = window.session().store();
    end = std::min(end, store.dataLength());
    std::vector<int16_t> out((end - start) / 2);
    store.readSamples(start, out.data(), out.size());
    return out;
}

std::vector<uint32_t> candidatePositions(ui::TMainForm& window) {
    std::vector<uint32_t> out;
    const auto& list = window.session().slicer().candidates();
    for (int k = 1; k <= list.count(); ++k) {
        out.push_back(list.at(k).position);
    }
    return out;
}

bool settled(const ModalScript& script, int ms) {
    return waitFor([&] { return script.pending() == 0; }, ms);
}

bool run(ui::TMainForm& window, const char* action, const ModalScript& script, int ms) {
    window.action(action)->trigger();
    return settled(script, ms) && waitIdle(window, ms);
}

QStringList answering(QMessageBox::StandardButton button, const std::function<void()>& act, int ms) {
    ModalScript script;
    script.answer(button);
    act();
    return settled(script, ms) ? script.texts : QStringList{};
}

void acceptLater(QDialog* dialog) { QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection); }

void rejectLater(QDialog* dialog) { QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection); }

QStringList texts(const QList<QAction*>& actions) {
    QStringList out;
    for (const QAction* a : actions) {
        out << a->text();
    }
    return out;
}

QStringList texts(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) {
        out << box->itemText(i);
    }
    return out;
}

void switchAwayAndBack() {
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
}

QString writeWave(const QString& path, uint16_t channels, const std::vector<int16_t>& samples, uint32_t rate) {
    QByteArray bytes;
    auto le = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            bytes.append(char((v >> (8 * i)) & 0xff));
        }
    };
    const auto data = uint32_t(samples.size() * 2);
    bytes.append("RIFF");
    le(36 + data, 4);
    bytes.append("WAVEfmt ");
    le(16, 4), le(1, 2), le(channels, 2), le(rate, 4), le(rate * channels * 2, 4), le(channels * 2u, 2), le(16, 2);
    bytes.append("data");
    le(data, 4);
    for (int16_t s : samples) {
        le(uint16_t(s), 2);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

void answerSave(ModalScript& script, const QString& file, QString* prefill) {
    script.handle([=](QWidget* widget) {
        auto* dialog = qobject_cast<ui::TSaveForm*>(widget);
        if (dialog == nullptr) {
            return false;
        }
        if (prefill != nullptr && prefill->isNull()) {
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            *prefill = edit != nullptr ? edit->text() : QString("?");
        }
        if (file.isEmpty()) {
            rejectLater(dialog);
            return true;
        }
        return chooseFile(dialog, file);
    });
}

QString tempoLabel(ui::TMainForm& window) { return window.findChild<QLabel*>("TempoLabel")->text(); }

QString expectedTempo(ui::TMainForm& window, int bars, int beats) {
    const auto& f = window.session().format();
    const auto& slicer = window.session().slicer();
    const double seconds = double(slicer.right() - slicer.left()) / (f.channels * 2) / f.sampleRate;
    const double bpm = 60.0 / seconds * (bars * 4 + beats);
    return QString::asprintf("%4.3f BPM", bpm);
}

bool chooseFile(QFileDialog* dialog, const QString& file) {
    // The dialog's model fills in the background: wait until it has taken the name.
    if (dialog->selectedFiles().value(0) != file) {
        // Typed into the name box, as a user would (selectFile leaves a focused box alone).
        dialog->setDirectory(QFileInfo(file).absolutePath());
        if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
            edit->setText(QFileInfo(file).fileName());
        }
        return false;
    }
    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    return true;
}

void useNullOutput(ui::TMainForm& window) {
    auto& session = window.session();
    session.player().setDeviceID(session.devices().addDevice("null"));
}

bool openThroughMenu(ui::TMainForm& window, const QString& file) {
    ModalScript script;
    bool seen = false;
    script.handle([&](QWidget* w) {
        auto* dialog = qobject_cast<ui::TOdForm*>(w);
        if (dialog == nullptr) {
            return false;
        }
        seen = true;
        return chooseFile(dialog, file);
    });
    window.action("Open1")->trigger();
    return seen && waitLoaded(window);
}

bool openDemo(ui::TMainForm& window, const Sandbox& box) {
    window.show();
    useNullOutput(window);
    return openThroughMenu(window, box.demoLoop()) && waitIdle(window);
}

bool openDemoWithPoints(ui::TMainForm& window, const Sandbox& box) {
    if (!openDemo(window, box)) {
        return false;
    }
    window.sensitivitySlider()->setValue(65000);
    return window.session().slicer().slicePoints().count() >= 6;
}

} // namespace cleavix::uitest
