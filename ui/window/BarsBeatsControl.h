#pragma once
// The bars and beats labels on the Play toolbar, each with an up-down control, beside the tempo
// label. Clicking up or down changes the count by one (0 to 32767) and recomputes the tempo; a
// double click on either label or on the tempo label opens "Change bars and beats" with the focus
// on the field clicked. refresh() shows the slicer's bars, beats and tempo; the window calls it
// whenever the tempo may have changed (the slicer reports every computation).
#include "session/Session.h"

#include <QObject>

class QLabel;
class QToolBar;
class QToolButton;

namespace cleavix::ui {

class TBarsBeatsControl final : public QObject {
    Q_OBJECT
public:
    // Puts the controls on `bar` ahead of `tempoLabel`, which is already on it.
    TBarsBeatsControl(session::Session& session, QToolBar& bar, QLabel& tempoLabel);

    void refresh();
    // The up-down controls: +1 or -1 on the bars or the beats.
    void step(bool bars, int delta);
    // Opens the dialog with the focus on the bars (or the beats) field.
    void openDialog(bool beatsField);

    QLabel* barsLabel() const { return barsLabel_; }
    QLabel* beatsLabel() const { return beatsLabel_; }
    QToolButton* upButton(bool bars) const { return bars ? barsUp_ : beatsUp_; }
    QToolButton* downButton(bool bars) const { return bars ? barsDown_ : beatsDown_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool usable() const;
    void apply(int bars, int beats);

    session::Session& session_;
    QLabel& tempoLabel_;
    QLabel* barsLabel_ = nullptr;
    QLabel* beatsLabel_ = nullptr;
    QToolButton* barsUp_ = nullptr;
    QToolButton* barsDown_ = nullptr;
    QToolButton* beatsUp_ = nullptr;
    QToolButton* beatsDown_ = nullptr;
};

} // namespace cleavix::ui
