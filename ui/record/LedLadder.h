#pragma once
// TLedLadder: a row or column of LEDs showing a level between Min and Max. The LEDs below the
// level are lit; the top tenth shows red, the tenth below it orange, the rest green, each in a
// dark shade while unlit. The colours are values of the control, given as "$00BBGGRR" texts like
// the configuration's colours.
//
// Threads: main thread only, like every widget. Levels measured elsewhere reach it through the
// owner's timer on the main thread.
#include <QColor>
#include <QWidget>

namespace cleavix::ui {

struct LedColours {
    QColor red, orange, green;          // lit
    QColor darkRed, brown, darkGreen;   // unlit
    static LedColours defaults();
};

class TLedLadder final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(Qt::Orientation Orientation READ Orientation WRITE setOrientation)
    Q_PROPERTY(int LedCount READ LedCount WRITE setLedCount)
    Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE setCtl3D)
    Q_PROPERTY(int Spacing READ Spacing WRITE setSpacing)
    Q_PROPERTY(int Min READ Min WRITE setMin)
    Q_PROPERTY(int Max READ Max WRITE setMax)
    Q_PROPERTY(int Position READ Position WRITE setPosition)
    Q_PROPERTY(bool BorderSingle READ BorderSingle WRITE setBorderSingle)
public:
    explicit TLedLadder(QWidget* parent = nullptr);

    Qt::Orientation Orientation() const { return orientation_; }
    int LedCount() const { return ledCount_; }
    bool Ctl3D() const { return ctl3d_; }
    int Spacing() const { return spacing_; }
    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    bool BorderSingle() const { return borderSingle_; }
    const LedColours& colours() const { return colours_; }

    // Every setter repaints.
    void setOrientation(Qt::Orientation orientation);
    void setLedCount(int count); // at least 1
    void setCtl3D(bool on);
    void setSpacing(int pixels);
    void setMin(int value);
    void setMax(int value);
    void setPosition(int value);
    void setBorderSingle(bool on);
    void setColours(const LedColours& colours);

    // How many LEDs the position lights: none when Max is not above Min, all of them at Max.
    int litCount() const;
    // The colour LED `index` (from 0, at the bottom or the left) shows now.
    QColor ledColour(int index) const;

    QSize sizeHint() const override { return {30, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changed();

    Qt::Orientation orientation_ = Qt::Vertical;
    int ledCount_ = 10;
    bool ctl3d_ = true;
    int spacing_ = 2;
    int min_ = 0;
    int max_ = 10;
    int position_ = 0;
    bool borderSingle_ = true;
    LedColours colours_ = LedColours::defaults();
};

} // namespace cleavix::ui
