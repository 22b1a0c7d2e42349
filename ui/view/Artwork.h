#pragma once
// The program's own pictures, drawn in code: the slice-point icons of the waveform view, the tool
// cursors, the toolbar glyphs and the application icon.
#include <QCursor>
#include <QIcon>
#include <QImage>

namespace cleavix::ui::art {

// The slice point icons: a sample point (Image1), a locked point (Image2), a disabled point (Image3).
QImage sampleIcon();
QImage lockIcon();
QImage disabledIcon();

// Tool cursors 1 to 9: 1 add, 2 enable/disable, 3 lock/unlock, 4 zoom, 5 silence/reverse,
// 6 copy/paste, 7 save segment, 8 over a point under the lock tool, 9 over a point under the
// enable tool. Anything else gives the arrow.
QCursor toolCursor(int number);
// The tools toolbar's pictures: the arrow of cursor `number` with its badge (0: the plain arrow).
QIcon toolIcon(int number);

enum class Glyph {
    Open, Save, SaveSegments, Play, Stop, Loop, Selected, PlayAll, ZoomIn, ZoomOut, Zoom11, ZoomSegment,
    ShowSampleIcons, ShowLockIcons, ShowDisabledIcons, ControlPanel, LockAll, UnlockAll, Help
};
QIcon glyph(Glyph which);

// The application icon (also installed as data/cleavix.svg, drawn the same way).
QIcon applicationIcon();

} // namespace cleavix::ui::art
