// The window tests: every registered Qt Test object, run on the offscreen platform. With
// CLEAVIX_UI_TEST_CLASS set, only the test class of that name runs (ctest runs each class as its
// own test, so they run side by side and a failure names its class).
#include "ui/UiTestSupport.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace cleavix::uitest {

namespace {
std::vector<std::function<std::unique_ptr<QObject>()>>& registry() {
    static std::vector<std::function<std::unique_ptr<QObject>()>> tests;
    return tests;
}
} // namespace

void registerTest(std::function<std::unique_ptr<QObject>()> make) { registry().push_back(std::move(make)); }

} // namespace cleavix::uitest

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Qt keeps its file dialogs' history (the last folder visited) in the user's configuration:
    // the tests keep theirs apart, so neither leaks into the other.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setApplicationName("Cleavix");
    QApplication::setOrganizationName("Cleavix");
    const QByteArray only = qgetenv("CLEAVIX_UI_TEST_CLASS");
    int failed = 0;
    int ran = 0;
    for (const auto& make : cleavix::uitest::registry()) {
        auto test = make();
        if (!only.isEmpty() && only != test->metaObject()->className()) {
            continue;
        }
        ++ran;
        failed += QTest::qExec(test.get(), argc, argv);
    }
    if (ran == 0) {
        qCritical("no window test class named %s", only.constData());
        return 1;
    }
    return failed == 0 ? 0 : 1;
}
