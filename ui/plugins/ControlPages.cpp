#include "ui/plugins/ControlPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QTabWidget>

#include <algorithm>
#include <cmath>

namespace cleavix::ui {

namespace {

// Whole-step controls get a slider position per step while the span stays small.
bool stepped(const plugins::PluginControl& c) {
    return c.integer && c.maximum - c.minimum <= 10000.0f && c.maximum > c.minimum;
}

QString valueText(const plugins::PluginControl& c, float v) {
    return c.integer ? QString::number(std::lround(v)) : QString::number(double(v), 'g', 4);
}

} // namespace

ControlPages::ControlPages(const plugins::PluginInfo& info, QTabWidget& tabs) : QObject(&tabs) {
    // Sized once, so the widgets' addresses stay put while they are wired.
    entries_.reserve(info.controls.size());
    std::vector<std::string> built;
    for (const std::string& pageName : info.pages()) {
        // A group labelled "Controls" and the ungrouped controls share one page.
        if (std::find(built.begin(), built.end(), pageName) != built.end()) {
            continue;
        }
        built.push_back(pageName);
        auto* scroll = new QScrollArea(&tabs);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        auto* page = new QWidget(scroll);
        auto* form = new QFormLayout(page);
        for (const auto& c : info.controls) {
            const bool here = c.group.empty() ? pageName == "Controls" : c.group == pageName;
            if (!here) {
                continue;
            }
            Entry& entry = entries_.emplace_back();
            entry.control = c;
            QWidget* w = makeWidget(entry, page);
            form->addRow(QString::fromStdString(c.name) + ":", w);
            showValue(entry, c.defaultValue);
        }
        scroll->setWidget(page);
        tabs.addTab(scroll, QString::fromStdString(pageName));
    }
}

float ControlPages::sliderValue(const plugins::PluginControl& c, int position) const {
    if (stepped(c)) {
        return c.minimum + float(position);
    }
    return c.minimum + (c.maximum - c.minimum) * float(position) / float(kSliderSteps);
}

int ControlPages::sliderPosition(const plugins::PluginControl& c, float value) const {
    const float v = std::clamp(value, std::min(c.minimum, c.maximum), std::max(c.minimum, c.maximum));
    if (stepped(c)) {
        return int(std::lround(v - c.minimum));
    }
    if (c.maximum <= c.minimum) {
        return 0;
    }
    return int(std::lround((v - c.minimum) / (c.maximum - c.minimum) * float(kSliderSteps)));
}

QWidget* ControlPages::makeWidget(Entry& entry, QWidget* page) {
    const auto& c = entry.control;
    const QString name = "Control_" + QString::fromStdString(c.symbol);
    auto changed = [this, symbol = c.symbol](float value) {
        if (!showing_ && onChange) {
            onChange(symbol, value);
        }
    };
    if (!c.enumeration.empty()) {
        auto* box = new QComboBox(page);
        box->setObjectName(name);
        for (const auto& [value, label] : c.enumeration) {
            box->addItem(QString::fromStdString(label), double(value));
        }
        connect(box, &QComboBox::currentIndexChanged, this,
                [box, changed](int i) { changed(float(box->itemData(i).toDouble())); });
        entry.widget = box;
        return box;
    }
    if (c.toggle) {
        auto* box = new QCheckBox(page);
        box->setObjectName(name);
        connect(box, &QCheckBox::toggled, this, [changed, c](bool on) { changed(on ? c.maximum : c.minimum); });
        entry.widget = box;
        return box;
    }
    auto* row = new QWidget(page);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* slider = new QSlider(Qt::Horizontal, row);
    slider->setObjectName(name);
    slider->setRange(0, stepped(c) ? int(std::lround(c.maximum - c.minimum)) : kSliderSteps);
    slider->setMinimumWidth(200);
    auto* readout = new QLabel(row);
    readout->setObjectName(name + "_Value");
    readout->setMinimumWidth(QFontMetrics(readout->font()).horizontalAdvance("-00000.0"));
    layout->addWidget(slider, 1);
    layout->addWidget(readout);
    connect(slider, &QSlider::valueChanged, this, [this, readout, changed, c](int position) {
        const float v = sliderValue(c, position);
        readout->setText(valueText(c, v));
        changed(v);
    });
    entry.widget = slider;
    entry.label = readout;
    return row;
}

void ControlPages::showValue(Entry& entry, float value) {
    const auto& c = entry.control;
    showing_ = true;
    if (auto* box = qobject_cast<QComboBox*>(entry.widget)) {
        int best = 0;
        for (int i = 1; i < box->count(); ++i) {
            if (std::fabs(box->itemData(i).toDouble() - value) < std::fabs(box->itemData(best).toDouble() - value)) {
                best = i;
            }
        }
        box->setCurrentIndex(best);
    } else if (auto* check = qobject_cast<QCheckBox*>(entry.widget)) {
        check->setChecked(value > (c.minimum + c.maximum) / 2);
    } else if (auto* slider = qobject_cast<QSlider*>(entry.widget)) {
        slider->setValue(sliderPosition(c, value));
        static_cast<QLabel*>(entry.label)->setText(valueText(c, value));
    }
    showing_ = false;
}

void ControlPages::show(const std::function<float(const std::string&)>& valueOf) {
    for (auto& entry : entries_) {
        showValue(entry, valueOf(entry.control.symbol));
    }
}

} // namespace cleavix::ui
