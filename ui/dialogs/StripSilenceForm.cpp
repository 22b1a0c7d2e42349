#include "ui/dialogs/StripSilenceForm.h"

#include "ui/dialogs/AboutForm.h"
#include "ui/dialogs/FormButtons.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace cleavix::ui {

namespace {

// A slider with its caption, "Min" and "Max" at its ends and the value it stands at.
QSlider* addSlider(QGridLayout* grid, int row, const QString& caption, const char* name, int low, int high,
                   int value) {
    QWidget* parent = grid->parentWidget();
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(low, high);
    slider->setPageStep(std::max(1, (high - low) / 20));
    slider->setValue(std::clamp(value, low, high));
    slider->setMinimumWidth(220);
    auto* shown = new QLabel(QString::number(slider->value()), parent);
    shown->setObjectName(QString(name) + "Value");
    shown->setMinimumWidth(shown->fontMetrics().horizontalAdvance("00000"));
    shown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QObject::connect(slider, &QSlider::valueChanged, shown, [shown](int v) { shown->setText(QString::number(v)); });
    grid->addWidget(new QLabel(caption, parent), row, 0);
    grid->addWidget(new QLabel("Min", parent), row, 1);
    grid->addWidget(slider, row, 2);
    grid->addWidget(new QLabel("Max", parent), row, 3);
    grid->addWidget(shown, row, 4);
    return slider;
}

} // namespace

TStripForm::TStripForm(int threshold, int gap, QWidget* parent) : QDialog(parent) {
    setObjectName("TStripForm");
    setWindowTitle("Remove silence");
    auto* group = new QGroupBox("Settings:", this);
    auto* grid = new QGridLayout(group);
    threshold_ = addSlider(grid, 0, "Threshold:", "ThresholdSlider", 1, 5000, threshold);
    gap_ = addSlider(grid, 1, "Gap:", "GapSlider", 10, 15000, gap);
    points_ = new QComboBox(group);
    points_->setObjectName("PointsList");
    points_->addItems({"Set between 'stripped' samples", "Keep old", "Recut"});
    points_->setCurrentIndex(0);
    grid->addWidget(new QLabel("Points:", group), 2, 0);
    grid->addWidget(points_, 2, 1, 1, 4);

    auto* buttons = okCancelButtons(*this, {}, QDialogButtonBox::Help);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] { showHelpPage(this, "window.html", "strip-silence"); });
    auto* column = new QVBoxLayout(this);
    column->addWidget(group);
    column->addWidget(buttons);
    fitTitle(*this);
}

int TStripForm::threshold() const { return threshold_->value(); }
int TStripForm::gap() const { return gap_->value(); }
int TStripForm::pointsMode() const { return points_->currentIndex(); }

} // namespace cleavix::ui
