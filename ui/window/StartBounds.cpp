#include "ui/window/StartBounds.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QStyle>
#include <QToolBar>

#include <algorithm>
#include <map>

namespace cleavix::ui {

namespace {

// A window must show at least this much of itself on a screen to count as on it.
constexpr int kVisibleEdge = 48;
// The default height of the configuration, kept as the least the first start opens with.
constexpr int kFirstHeight = 480;
// Room left for the window manager's frame and title bar, which are not known before the window
// is shown, when the window is as large as the screen allows.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 48;

} // namespace

int toolbarRowsWidth(const QMainWindow& window) {
    // Toolbars of one row share their y once laid out; before the window is shown they are not,
    // so rows are told apart by the breaks instead.
    std::map<int, int> rows;
    int row = 0;
    const auto bars = window.findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly);
    for (QToolBar* bar : bars) {
        if (window.toolBarArea(bar) != Qt::TopToolBarArea) {
            continue;
        }
        if (window.toolBarBreak(bar)) {
            ++row;
        }
        if (bar->isHidden() && bar->testAttribute(Qt::WA_WState_ExplicitShowHide)) {
            continue;
        }
        // The handle, the margins and the spacing between bars come on top of the items.
        const int extra = bar->style()->pixelMetric(QStyle::PM_ToolBarHandleExtent, nullptr, bar) +
                          2 * bar->style()->pixelMetric(QStyle::PM_ToolBarItemMargin, nullptr, bar) +
                          2 * bar->style()->pixelMetric(QStyle::PM_ToolBarFrameWidth, nullptr, bar) + 8;
        rows[row] += bar->sizeHint().width() + extra;
    }
    int widest = 0;
    for (const auto& [index, width] : rows) {
        widest = std::max(widest, width);
    }
    return widest;
}

bool onSomeScreen(const QRect& bounds) {
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&](const QScreen* screen) {
        const QRect seen = screen->availableGeometry().intersected(bounds);
        return seen.width() >= kVisibleEdge && seen.height() >= kVisibleEdge;
    });
}

QRect startBounds(const QMainWindow& window, const Config& config) {
    const QRect stored(config.left, config.top, std::max(config.width, 1), std::max(config.height, 1));
    if (config.boundsStored && onSomeScreen(stored)) {
        return stored;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int margins = window.contentsMargins().left() + window.contentsMargins().right() + 16;
    const int width = std::min(std::max(toolbarRowsWidth(window) + margins, config.width), area.width() - kFrameWidth);
    const int height = std::min(std::max(kFirstHeight, area.height() * 2 / 3), area.height() - kFrameHeight);
    return QRect(area.x() + (area.width() - width) / 2, area.y() + (area.height() - height) / 2, width, height);
}

} // namespace cleavix::ui
