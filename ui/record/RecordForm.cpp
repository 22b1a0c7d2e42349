#include "ui/record/RecordForm.h"

#include "jobs/Prompter.h"
#include "session/RecordTake.h"
#include "ui/record/LedLadder.h"
#include "ui/record/NewSampleForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace cleavix::ui {

using State = session::RecordTake::State;

namespace {

constexpr int kLadderLeds = 77;
constexpr int kTimerMs = 100;

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    // Enter must not start or stop a take by accident.
    b->setAutoDefault(false);
    return b;
}

QLabel* valueLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setMinimumWidth(120);
    return l;
}

} // namespace

TRecordForm::TRecordForm(session::RecordTake& take, int units, jobs::Prompter& prompter, QWidget* parent)
    : QDialog(parent), take_(&take), units_(units), prompter_(prompter), sampleType_(valueLabel(this, "SampleTypeLabel")),
      remaining_(valueLabel(this, "RemainingLabel")), recorded_(valueLabel(this, "RecordedLabel")),
      status_(valueLabel(this, "StatusLabel")), ladder_(new TLedLadder(this)), arm_(button(this, "ArmButton", "Arm")),
      record_(button(this, "RecordButton", "Record")), stop_(button(this, "StopButton", "Stop")),
      change_(button(this, "ChangeButton", "Change")), close_(button(this, "CloseButton", "Close")),
      monitor_(new QCheckBox("Monitor Input", this)), threshold_(new QCheckBox("Use Threshold", this)),
      timer_(new QTimer(this)) {
    setObjectName("TRecordForm");
    setWindowTitle("Record");
    ladder_->setObjectName("LedLadder1");
    ladder_->setOrientation(Qt::Horizontal);
    ladder_->setLedCount(kLadderLeds);
    ladder_->setSpacing(0);
    ladder_->setMin(0);
    ladder_->setMax(50);
    ladder_->setMinimumWidth(kLadderLeds * 5);
    ladder_->setFixedHeight(18);
    monitor_->setObjectName("MonitorCheckbox");
    monitor_->setChecked(true);
    threshold_->setObjectName("ThresholdCheckbox");
    // Recording starts when Record is pressed; a level threshold is not offered.
    threshold_->setEnabled(false);
    timer_->setObjectName("supertimer1");
    timer_->setInterval(kTimerMs);
    timer_->setTimerType(Qt::CoarseTimer);

    auto* grid = new QGridLayout;
    grid->addWidget(sampleType_, 0, 0, 1, 3);
    grid->addWidget(change_, 0, 3);
    grid->addWidget(new QLabel("Remaining:", this), 1, 0);
    grid->addWidget(remaining_, 1, 1);
    grid->addWidget(new QLabel("Recorded:", this), 2, 0);
    grid->addWidget(recorded_, 2, 1);
    grid->addWidget(new QLabel("Status:", this), 3, 0);
    grid->addWidget(status_, 3, 1);
    auto* ticks = new QHBoxLayout;
    ticks->addWidget(monitor_);
    ticks->addWidget(threshold_);
    ticks->addStretch();
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {arm_, record_, stop_}) {
        buttons->addWidget(b);
    }
    buttons->addStretch();
    buttons->addWidget(close_);
    auto* column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addWidget(ladder_);
    column->addLayout(ticks);
    column->addLayout(buttons);

    connect(timer_, &QTimer::timeout, this, [this] { supertimer1Timer(); });
    connect(change_, &QPushButton::clicked, this, [this] { ChangeButtonClick(); });
    connect(monitor_, &QCheckBox::clicked, this, [this] { MonitorCheckboxClick(); });
    connect(arm_, &QPushButton::clicked, this, [this] { ArmButtonClick(); });
    connect(record_, &QPushButton::clicked, this, [this] { RecordButtonClick(); });
    connect(stop_, &QPushButton::clicked, this, [this] { StopButtonClick(); });
    connect(close_, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
}

void TRecordForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TRecordForm::FormShow() {
    if (take_ == nullptr) {
        return;
    }
    UpdateSampleTypeLabel();
    showTimes();
    applyMonitor();
    showState();
    timer_->start();
}

void TRecordForm::UpdateSampleTypeLabel() {
    sampleType_->setText(QString("Sample Type: %1 Bit / %2 hz%3")
                             .arg(take_->bits())
                             .arg(take_->rate())
                             .arg(take_->channels() == 2 ? " stereo" : " mono"));
}

void TRecordForm::showTimes() {
    remaining_->setText(QString::fromStdString(take_->remainingText(units_)));
    recorded_->setText(QString::fromStdString(take_->recordedText(units_)));
}

void TRecordForm::applyMonitor() {
    ladder_->setPosition(0);
    if (!monitor_->isChecked()) {
        take_->setMonitor(false);
        return;
    }
    if (!take_->setMonitor(true)) {
        // No meter to show: monitoring is not offered.
        take_->setMonitor(false);
        monitor_->setChecked(false);
        monitor_->setEnabled(false);
        return;
    }
    ladder_->setMin(0);
    ladder_->setMax(take_->meter().Control(0).maximum());
}

void TRecordForm::showState() {
    const State state = take_->state();
    static const char* const texts[] = {" Waiting...", " Armed", " Recording"};
    status_->setText(texts[int(state)]);
    const bool waiting = state == State::Waiting;
    arm_->setEnabled(waiting);
    record_->setEnabled(state != State::Recording);
    close_->setEnabled(state != State::Recording);
    stop_->setEnabled(!waiting);
    // A new format would start the take afresh: once something is recorded the format stays.
    change_->setEnabled(waiting && take_->recordedBytes() == 0);
}

void TRecordForm::supertimer1Timer() {
    if (take_ == nullptr) {
        return;
    }
    const State before = take_->state();
    take_->tick();
    const bool meters = take_->monitoring() && monitor_->isEnabled() && monitor_->isChecked();
    ladder_->setPosition(meters ? take_->level() : 0);
    if (before != State::Waiting || take_->state() != State::Waiting) {
        showTimes();
    }
    if (take_->state() != before) {
        // The take stopped by itself: the working folder filled up or the device failed.
        showState();
    }
}

void TRecordForm::ChangeButtonClick() {
    if (take_ == nullptr || take_->state() != State::Waiting) {
        return;
    }
    TNewSampleForm form(prompter_, this);
    form.Init(16, take_->rate(), take_->channels());
    uint16_t bits = 16;
    uint32_t rate = take_->rate();
    uint16_t channels = take_->channels();
    if (!form.Run(bits, rate, channels) || take_ == nullptr) {
        return;
    }
    take_->setFormat(rate, channels);
    UpdateSampleTypeLabel();
    showTimes();
    showState();
}

void TRecordForm::MonitorCheckboxClick() {
    if (take_ != nullptr) {
        applyMonitor();
    }
}

void TRecordForm::ArmButtonClick() {
    if (take_ == nullptr) {
        return;
    }
    if (take_->state() == State::Waiting) {
        take_->arm();
    }
    showState();
}

void TRecordForm::RecordButtonClick() {
    if (take_ == nullptr) {
        return;
    }
    take_->record();
    showState();
    showTimes();
}

void TRecordForm::StopButtonClick() {
    if (take_ == nullptr) {
        return;
    }
    take_->stop();
    showState();
    showTimes();
}

void TRecordForm::CloseButtonClick() {
    if (take_ == nullptr) {
        return;
    }
    take_->stop();
    accepted_ = take_->recordedBytes() > 0;
    done(QDialog::Accepted);
}

void TRecordForm::reject() {
    if (take_ != nullptr) {
        take_->stop();
        showState();
        if (take_->recordedBytes() > 0 &&
            prompter_.ask(jobs::MessageKind::Warning, kMsgDiscardTake, "", jobs::Buttons::YesNo) != jobs::Answer::Yes) {
            return;
        }
    }
    QDialog::reject();
}

void TRecordForm::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TRecordForm::FormClose() {
    timer_->stop();
    if (take_ != nullptr) {
        take_->stop();
        take_->setMonitor(false);
        // The take belongs to the caller from here on.
        take_ = nullptr;
    }
}

} // namespace cleavix::ui
