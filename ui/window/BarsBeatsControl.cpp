#include "ui/window/BarsBeatsControl.h"

#include "ui/dialogs/BarsBeatsForm.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace cleavix::ui {

namespace {

constexpr int kMaxCount = 32767;

QToolButton* arrow(QWidget* parent, const QString& name, Qt::ArrowType type, const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setArrowType(type);
    b->setAutoRaise(true);
    b->setAutoRepeat(true);
    b->setFixedSize(16, 11);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(hint);
    return b;
}

} // namespace

TBarsBeatsControl::TBarsBeatsControl(session::Session& session, QToolBar& bar, QLabel& tempoLabel)
    : QObject(&bar), session_(session), tempoLabel_(tempoLabel) {
    QAction* before = nullptr;
    for (QAction* a : bar.actions()) {
        if (bar.widgetForAction(a) == &tempoLabel) {
            before = a;
        }
    }
    // One group per count: caption, the label, and the up-down pair stacked beside it.
    auto group = [&](bool bars) {
        auto* box = new QWidget(&bar);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(4, 0, 2, 0);
        row->setSpacing(2);
        row->addWidget(new QLabel(bars ? "Bars" : "Beats", box));
        auto* label = new QLabel("0", box);
        label->setObjectName(bars ? "BarsLabel" : "BeatsLabel");
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance("000000"));
        label->setToolTip(bars ? "Bars in the loop (double click to type)" : "Beats beyond the bars (double click to type)");
        label->installEventFilter(this);
        row->addWidget(label);
        auto* arrows = new QVBoxLayout;
        arrows->setSpacing(0);
        auto* up = arrow(box, bars ? "BarsUp" : "BeatsUp", Qt::UpArrow, bars ? "One bar more" : "One beat more");
        auto* down = arrow(box, bars ? "BarsDown" : "BeatsDown", Qt::DownArrow, bars ? "One bar less" : "One beat less");
        arrows->addWidget(up);
        arrows->addWidget(down);
        row->addLayout(arrows);
        connect(up, &QToolButton::clicked, this, [this, bars] { step(bars, +1); });
        connect(down, &QToolButton::clicked, this, [this, bars] { step(bars, -1); });
        (bars ? barsLabel_ : beatsLabel_) = label;
        (bars ? barsUp_ : beatsUp_) = up;
        (bars ? barsDown_ : beatsDown_) = down;
        bar.insertWidget(before, box);
    };
    group(true);
    group(false);
    tempoLabel_.installEventFilter(this);
    tempoLabel_.setToolTip("Tempo of the loop (double click to set bars and beats)");
    refresh();
}

bool TBarsBeatsControl::usable() const { return session_.loaded() && !session_.busy(); }

void TBarsBeatsControl::refresh() {
    const bool loaded = session_.loaded();
    const auto& tempo = session_.slicer().tempo();
    barsLabel_->setText(QString::number(loaded ? tempo.bars : 0));
    beatsLabel_->setText(QString::number(loaded ? tempo.beats : 0));
    tempoLabel_.setText(loaded ? QString::fromStdString(tempo.text) : "0.000 BPM");
    for (QToolButton* b : {barsUp_, barsDown_, beatsUp_, beatsDown_}) {
        b->setEnabled(loaded);
    }
}

void TBarsBeatsControl::apply(int bars, int beats) {
    session_.slicer().setBarsAndBeats(std::to_string(bars), std::to_string(beats));
    refresh();
}

void TBarsBeatsControl::step(bool bars, int delta) {
    if (!usable()) {
        return;
    }
    const auto& tempo = session_.slicer().tempo();
    const int b = bars ? std::clamp(tempo.bars + delta, 0, kMaxCount) : tempo.bars;
    const int c = bars ? tempo.beats : std::clamp(tempo.beats + delta, 0, kMaxCount);
    apply(b, c);
}

void TBarsBeatsControl::openDialog(bool beatsField) {
    if (!usable()) {
        return;
    }
    const auto& tempo = session_.slicer().tempo();
    TBarsBeatsForm form(tempo.bars, tempo.beats, beatsField ? TBarsBeatsForm::Field::Beats : TBarsBeatsForm::Field::Bars,
                        tempoLabel_.window());
    form.exec();
    if (form.applied()) {
        apply(form.bars(), form.beats());
    }
}

bool TBarsBeatsControl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == barsLabel_ || watched == beatsLabel_ || watched == &tempoLabel_)) {
        openDialog(watched == beatsLabel_);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cleavix::ui
