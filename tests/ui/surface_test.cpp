// The window and `cleavix-cli run` are two faces of one command surface: the same commands in the
// same order leave the same sample, points and selection in both.
#include "ui/UiTest.h"
#include "ui/commands/ProcessCommands.h"
#include "ui/dialogs/NormaliseForm.h"

#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

#include <fstream>

using namespace cleavix::uitest;

namespace {

QByteArray storeBytes(session::Session& s) {
    QByteArray bytes(int(s.format().dataLength), 0);
    s.store().stream().readAt(0, bytes.data(), size_t(bytes.size()));
    return bytes;
}

// Runs a script through cleavix-cli; its standard output.
QByteArray runScript(const QString& scriptFile, const QString& workFolder, bool& ok) {
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("CLEAVIX_TEMP", workFolder);
    p.setProcessEnvironment(env);
    p.start(CLEAVIX_CLI, {"run", scriptFile});
    ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok) {
        qWarning("%s", p.readAllStandardError().constData());
    }
    return p.readAllStandardOutput();
}

} // namespace

class SurfaceTest : public QObject {
    Q_OBJECT
private slots:
    void windowAndScriptAgree();
};

void SurfaceTest::windowAndScriptAgree() {
    Sandbox box;
    const QString a = box.demoLoop("a.wav");
    const QString b = box.path("b.wav");
    {
        // A second file: the demo loop at 8 bits.
        QProcess p;
        p.start(CLEAVIX_CLI, {"save", a, b, "--bits", "8"});
        QVERIFY(p.waitForFinished(20000) && p.exitCode() == 0);
    }
    Window w;
    w->show();
    useNullOutput(*w.form);
    auto& s = w->session();

    // Menu opens of B then A, the Reopen entry of B, Revert answered Yes, a drop of A.
    QVERIFY(w->loadFile(b) && waitLoaded(*w.form));
    QVERIFY(w->loadFile(a) && waitLoaded(*w.form));
    QCOMPARE(w->config().recentFiles.value(1), QFileInfo(b).absoluteFilePath());
    w->openRecent(1);
    QVERIFY(waitLoaded(*w.form));
    QCOMPARE(QString::fromStdString(s.fileName()), QFileInfo(b).absoluteFilePath());
    {
        ModalScript script;
        script.answer(QMessageBox::Yes);
        w->RevertItemClick();
        QVERIFY(waitLoaded(*w.form));
        QCOMPARE(script.texts.value(0), QString(session::kMsgRevert));
    }
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(a)});
        const QPoint at(w->width() / 2, w->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.form.get(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.form.get(), &drop);
        QVERIFY(waitLoaded(*w.form));
        QCOMPARE(QString::fromStdString(s.fileName()), QFileInfo(a).absoluteFilePath());
    }
    w->sensitivitySlider()->setValue(52000); // enough points to step through
    // Normalise 100 % with the D.C. offset removed and "Re-cut sample" ticked.
    {
        ModalScript script;
        uitest::expect<ui::TNormForm>(script, [](ui::TNormForm* form) {
            form->percentEdit()->setText("100");
            form->recutBox()->setChecked(true);
            form->centreBox()->setChecked(true);
            uitest::acceptLater(form);
            return true;
        });
        w->action("Normalise1")->trigger();
        QVERIFY(waitIdle(*w.form));
        QCOMPARE(script.pending(), 0);
    }
    QVERIFY(s.slicer().slicePoints().count() > 2);
    // "+" twice, then Cut of what is highlighted.
    QTest::keyClick(w.form.get(), Qt::Key_Plus);
    QTest::keyClick(w.form.get(), Qt::Key_Plus);
    QVERIFY(waitIdle(*w.form));
    const int selected = s.slicer().selectedIndex;
    QVERIFY(selected >= 0);
    QCOMPARE(s.editor().selectionStart(), s.slicer().selectionStart);
    QCOMPARE(s.editor().selectionEnd(), s.slicer().selectionEnd);
    // Each step auditions its segment; Cut comes back when the audition has played.
    QVERIFY(waitFor([&] { return w->action("Cut1")->isEnabled(); }, 10000));
    const uint32_t before = s.format().dataLength;
    const uint32_t selectedStart = s.editor().selectionStart();
    const uint32_t selectedEnd = s.editor().selectionEnd();
    w->action("Cut1")->trigger();
    QVERIFY(waitIdle(*w.form));
    QCOMPARE(s.format().dataLength, before - (selectedEnd - selectedStart));

    // The same through the command-line tool.
    const QString script = box.path("same.txt");
    const QString dump = box.path("store.raw");
    {
        std::ofstream out(script.toStdString());
        out << "view-width " << s.slicer().viewWidth() << "\n"
            << "open " << b.toStdString() << "\nopen " << a.toStdString() << "\nrecent " << b.toStdString() << "\n"
            << "answer yes\nrevert\ndrop " << a.toStdString() << "\n"
            << "slider " << s.slicer().slider() << "\n"
            << "normalise 100\nstep next\nstep next\ncut\ndump-state\ndump-store " << dump.toStdString() << "\n";
    }
    QTemporaryDir work;
    bool ok = false;
    const QByteArray out = runScript(script, work.path(), ok);
    QVERIFY(ok);
    const QJsonObject state = QJsonDocument::fromJson(out).object();
    QVERIFY2(!state.isEmpty(), out.constData());
    QCOMPARE(uint32_t(state["dataLength"].toDouble()), s.format().dataLength);
    QCOMPARE(state["slicePointCount"].toInt(), s.slicer().slicePoints().count());
    std::vector<uint32_t> selection;
    for (const auto& v : state["selection"].toArray()) {
        selection.push_back(uint32_t(v.toDouble()));
    }
    QCOMPARE(selection, s.editor().selectionList());
    QCOMPARE(state["undoCaption"].toString().toStdString(), s.editor().undoCaption());
    QFile raw(dump);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll() == storeBytes(s));
}

static Register<SurfaceTest> registration;

#include "surface_test.moc"
