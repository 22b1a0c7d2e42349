// cleavix: the window.
//   cleavix [FILE [ostrel]]
//   cleavix --screenshot OUT.png [FILE] [--sensitivity PERCENT]
// The second form renders the window (with FILE loaded and searched for slice points, the slider
// at PERCENT when given) to a PNG and exits; it asks nothing and leaves the configuration as read.
#include "sample/WavParser.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/platform/QtDispatcher.h"
#include "ui/window/StartForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSlider>
#include <QThread>

#include <cmath>
#include <iostream>

namespace {

using cleavix::ui::TMainForm;

void usage() {
    std::cout << "Usage: cleavix [FILE [ostrel]]\n"
                 "       cleavix --screenshot OUT.png [FILE] [--sensitivity PERCENT]\n"
                 "       cleavix --help | --version\n"
                 "Opens FILE (a Wave or AIFF file) in the Cleavix window. With --screenshot, renders\n"
                 "the window to OUT.png and exits.\n";
}

// --help and --version answer without a display (over ssh, from a script): they make no GUI
// application, which would abort where no display can be opened. -1 when neither is asked.
int answerWithoutWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--version") {
            std::cout << "cleavix " << CLEAVIX_VERSION << "\n";
            return 0;
        }
        if (a == "--help" || a == "-h") {
            QCoreApplication core(argc, argv); // for the program's folder, where the guide is looked for
            usage();
            const QString guide = cleavix::ui::helpFile("index.html");
            if (guide.isEmpty()) {
                std::cout << "The user guide (HTML) is not installed.\n";
            } else {
                std::cout << "The user guide (HTML): " << guide.toStdString() << "\n";
            }
            return 0;
        }
    }
    return -1;
}

// Runs the event loop until `done` holds, or `seconds` have passed; false on timeout.
bool pumpUntil(const std::function<bool()>& done, int seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

int screenshot(TMainForm& window, const QString& out, const QString& file, int sensitivity) {
    window.resize(1000, 600);
    window.show();
    QApplication::processEvents();
    if (!file.isEmpty()) {
        const auto check = cleavix::sample::CheckSampleFile(file.toStdString());
        if (check.result != cleavix::sample::CheckLoadable) {
            std::cerr << "cleavix: cannot load " << file.toStdString() << "\n";
            return 1;
        }
        if (!window.loadFile(file)) {
            std::cerr << "cleavix: the load did not start\n";
            return 1;
        }
        auto& session = window.session();
        // The load completes, then the slice search runs; both behind the busy state.
        const bool settled = pumpUntil([&] { return session.loaded() && !session.busy(); }, 120) &&
                             pumpUntil([&] { return !session.busy(); }, 120);
        if (!settled || !session.loaded()) {
            std::cerr << "cleavix: the file did not load\n";
            return 1;
        }
        if (sensitivity >= 0) {
            window.sensitivitySlider()->setValue(int(std::lround(sensitivity / 100.0 * 65535)));
        }
    }
    QApplication::processEvents();
    const QImage picture = window.grab().toImage();
    if (picture.isNull() || !picture.save(out, "PNG")) {
        std::cerr << "cleavix: cannot write " << out.toStdString() << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (const int answered = answerWithoutWindow(argc, argv); answered >= 0) {
        return answered;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Cleavix");
    QApplication::setOrganizationName("Cleavix");
    QApplication::setApplicationVersion(CLEAVIX_VERSION);

    QStringList args = QApplication::arguments().mid(1);
    cleavix::ui::StartOptions options;
    QString shotFile;
    int sensitivity = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--screenshot" || a == "--sensitivity") {
            if (i + 1 >= args.size()) {
                usage();
                return 2;
            }
            if (a == "--screenshot") {
                options.screenshot = true;
                shotFile = args[++i];
            } else {
                bool ok = false;
                sensitivity = args[++i].toInt(&ok);
                if (!ok || sensitivity < 0 || sensitivity > 100) {
                    usage();
                    return 2;
                }
            }
            args.removeAt(i);
            args.removeAt(i - 1);
            i -= 2;
        }
    }
    if (!args.isEmpty()) {
        options.file = args.value(0);
    }
    options.ostrel = args.size() > 1 && args[1].compare("ostrel", Qt::CaseInsensitive) == 0;

    cleavix::ui::QtDispatcher dispatcher;
    TMainForm window(dispatcher, options);
    if (!window.started()) {
        return 1;
    }
    if (options.screenshot) {
        const int result = screenshot(window, shotFile, options.file, sensitivity);
        window.close();
        return result;
    }
    window.show();
    return QApplication::exec();
}
