#pragma once
// Where the main window opens: at the bounds the configuration kept from the last run while they
// lie on a screen; otherwise (the first start, or a screen that has gone) wide enough to show
// every toolbar row whole, centred on the primary screen.
//
// Threads: main thread only.
#include "ui/platform/Config.h"

#include <QRect>

class QMainWindow;

namespace cleavix::ui {

// The width the rows of the top toolbar area need to show every visible toolbar without its
// overflow button: the widest row.
int toolbarRowsWidth(const QMainWindow& window);

// Whether `bounds` (client area) shows enough of itself on some screen to be found and moved.
bool onSomeScreen(const QRect& bounds);

// The client-area bounds the window opens with.
QRect startBounds(const QMainWindow& window, const Config& config);

} // namespace cleavix::ui
