// The window tests: every registered Qt Test object, run on the offscreen platform.
#include "ui/UiTestSupport.h"

#include <QApplication>
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
    QApplication app(argc, argv);
    QApplication::setApplicationName("Cleavix");
    QApplication::setOrganizationName("Cleavix");
    int failed = 0;
    for (const auto& make : cleavix::uitest::registry()) {
        auto test = make();
        failed += QTest::qExec(test.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
