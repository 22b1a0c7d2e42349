// The two sides of the drag-out test, each a process of its own on a real X display: a slice
// dragged out of the window's segment bar is dropped on another application's window, which
// receives it as a Wave file through the display server's drag and drop (XDND) alone.
//
//   drag_peer target OUT                 a plain window that takes file drops; prints "ready X Y"
//                                        (its centre on the screen), copies the first dropped file
//                                        to OUT, prints "dropped NAME" and ends
//   drag_peer source FILE X Y EXPECTED   opens FILE, shows its slice points, drags the segment
//                                        under the middle of the segment bar to X,Y and drops it
//                                        there; writes that segment's bytes as the store holds
//                                        them to EXPECTED, prints "dragged NAME", then keeps
//                                        serving the drop until its input closes
//
// The source's pointer is driven by mouse events handed to the application while the drag runs,
// as the display would deliver them; the drop target is none of ours. The exit status is 0 on
// success.
#include "ui/UiTestSupport.h"
#include "ui/view/WaveBox.h"
#include "slicing/SegmentExport.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSlider>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace cleavix;

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "drag_peer: %s\n", what);
    return 1;
}

class DropTarget final : public QWidget {
public:
    explicit DropTarget(QString out) : out_(std::move(out)) {
        setAcceptDrops(true);
        setWindowTitle("Drop target");
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls()) {
            event->acceptProposedAction();
        }
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        const auto urls = event->mimeData()->urls();
        if (urls.isEmpty() || !urls.first().isLocalFile()) {
            std::fprintf(stderr, "drag_peer: a drop without a file\n");
            QApplication::exit(1);
            return;
        }
        const QString file = urls.first().toLocalFile();
        event->acceptProposedAction();
        QFile::remove(out_);
        const bool copied = QFile::copy(file, out_);
        std::printf("dropped %s\n", qPrintable(QFileInfo(file).fileName()));
        std::fflush(stdout);
        QApplication::exit(copied ? 0 : 1);
    }

private:
    QString out_;
};

int targetSide(const QString& out) {
    DropTarget target(out);
    target.resize(300, 300);
    target.move(1100, 100);
    target.show();
    if (!QTest::qWaitForWindowExposed(&target, 10000)) {
        return fail("the drop target never showed");
    }
    const QPoint centre = target.mapToGlobal(target.rect().center());
    std::printf("ready %d %d\n", centre.x(), centre.y());
    std::fflush(stdout);
    QTimer::singleShot(60000, [] { QApplication::exit(2); });
    return QApplication::exec();
}

// A mouse event as the display would deliver it, at a place on the screen.
void deliver(QWindow* window, QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
    const QPointF local = window->mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

int sourceSide(uitest::Window& w, const char* file, QPoint drop, const QString& expected) {
    w->show();
    w->resize(900, 500);
    w->move(0, 0);
    if (!QTest::qWaitForWindowExposed(w.form.get(), 10000) || !w->loadFile(QString::fromLocal8Bit(file)) ||
        !uitest::waitLoaded(*w.form)) {
        return fail("the file did not load");
    }
    w->sensitivitySlider()->setValue(65000);
    auto& slicer = w->session().slicer();
    if (slicer.slicePoints().count() < 4) {
        return fail("too few slice points");
    }
    // The segment under the middle of the segment bar, as the bar finds it.
    ui::TWaveBox* bar = w->barView();
    const QPoint press(bar->width() / 2, 2);
    const int index = slicer.segmentAt(w->view().positionAt(press.x(), bar->width()));
    const auto& list = slicer.slicePoints();
    const uint32_t start = list.at(index).position;
    const uint32_t end = slicing::segmentEnd(list, index);
    std::vector<char> bytes(end - start);
    w->session().store().stream().readAt(start, bytes.data(), bytes.size());
    QFile out(expected);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())) {
        return fail("cannot write the expected bytes");
    }
    out.close();

    // While the drag runs its own loop, the pointer travels to the drop target and lets go there.
    QWindow* window = w->windowHandle();
    const QPoint from = bar->mapToGlobal(press);
    int step = 0;
    QTimer pointer;
    QObject::connect(&pointer, &QTimer::timeout, [&] {
        ++step;
        if (step <= 10) {
            deliver(window, QEvent::MouseMove, from + (drop - from) * step / 10, Qt::LeftButton);
        } else if (step <= 14) {
            deliver(window, QEvent::MouseMove, drop + QPoint(step - 10, 0), Qt::LeftButton); // the target answers
        } else {
            pointer.stop();
            deliver(window, QEvent::MouseButtonRelease, drop + QPoint(4, 0), Qt::NoButton);
        }
    });
    pointer.start(100);
    deliver(window, QEvent::MouseButtonPress, from, Qt::LeftButton);
    // The drag runs inside this move, until the drop.
    deliver(window, QEvent::MouseMove, from + QPoint(QApplication::startDragDistance() + 8, 0), Qt::LeftButton);
    if (step <= 14) {
        return fail("the drag did not start");
    }
    std::printf("dragged %s\n", qPrintable(QFileInfo(w->session().fileName().c_str()).completeBaseName()));
    std::fflush(stdout);
    // The target fetches the file's name from us after the drop: stay until the test says so.
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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString(argv[1]) : QString();
    if (mode == "target" && argc == 3) {
        return targetSide(QString::fromLocal8Bit(argv[2]));
    }
    if (mode == "source" && argc == 6) {
        uitest::Sandbox sandbox;
        uitest::Window w;
        return sourceSide(w, argv[2], QPoint(atoi(argv[3]), atoi(argv[4])), QString::fromLocal8Bit(argv[5]));
    }
    return fail("usage: drag_peer target OUT | source FILE X Y EXPECTED");
}
