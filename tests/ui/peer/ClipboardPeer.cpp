// One side of the two-process clipboard test: a real window in a process of its own, on a real X
// display, so that audio copied in one running Cleavix is pasted in another through the system
// clipboard and nothing else.
//
//   clipboard_peer copy FILE         opens FILE, copies the whole sample, prints "copied BYTES",
//                                    then keeps serving the clipboard until its input closes
//   clipboard_peer paste FILE OUT    opens FILE, pastes at its start (Paste And Keep), saves the
//                                    result as OUT (16-bit Wave) and prints "pasted LENGTH"
//
// Each run keeps its configuration in a folder of its own. The exit status is 0 on success.
#include "ui/commands/EditCommands.h"
#include "ui/UiTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

using namespace cleavix;

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "clipboard_peer: %s\n", what);
    return 1;
}

bool open(uitest::Window& w, const char* file) {
    w->show();
    return w->loadFile(QString::fromLocal8Bit(file)) && uitest::waitLoaded(*w.form);
}

int copySide(uitest::Window& w) {
    auto& s = w->session();
    s.editor().setupSelections(0, s.format().dataLength);
    w->editCommands()->copy();
    // Done when the image is on the system clipboard, not merely in the engine.
    if (!uitest::waitFor([] { return !ui::waveImageFrom(QGuiApplication::clipboard()->mimeData()).isEmpty(); })) {
        return fail("the copy never reached the clipboard");
    }
    const auto bytes = ui::waveImageFrom(QGuiApplication::clipboard()->mimeData()).size();
    std::printf("copied %lld\n", static_cast<long long>(bytes));
    std::fflush(stdout);
    // Selections are served by the owner's event loop: stay until the test closes our input.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [&input] {
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) <= 0 || c == '\n') {
            input.setEnabled(false);
            QApplication::quit();
        }
    });
    return QApplication::exec();
}

int pasteSide(uitest::Window& w, const char* out) {
    auto& s = w->session();
    const uint32_t before = s.format().dataLength;
    s.editor().setupSelections(0, 0);
    // The other process owns the clipboard; its image arrives through the display server.
    if (!uitest::waitFor([] { return !ui::waveImageFrom(QGuiApplication::clipboard()->mimeData()).isEmpty(); }, 10000)) {
        return fail("no wave image on the clipboard");
    }
    w->editCommands()->paste(false);
    if (!uitest::waitFor([&] { return !s.busy() && s.format().dataLength != before; })) {
        return fail("the paste did not change the sample");
    }
    bool saved = false;
    bool done = false;
    if (!s.saveTo(out, 16, [&](bool ok) {
            saved = ok;
            done = true;
        })) {
        return fail("the save did not start");
    }
    if (!uitest::waitFor([&] { return done; }) || !saved) {
        return fail("the save failed");
    }
    std::printf("pasted %u\n", s.format().dataLength);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString mode = argc > 2 ? QString(argv[1]) : QString();
    if (!((mode == "copy" && argc == 3) || (mode == "paste" && argc == 4))) {
        return fail("usage: clipboard_peer copy FILE | paste FILE OUT");
    }
    uitest::Sandbox sandbox;
    uitest::Window w;
    if (!open(w, argv[2])) {
        return fail("the file did not load");
    }
    return mode == "copy" ? copySide(w) : pasteSide(w, argv[3]);
}
