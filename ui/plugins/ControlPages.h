#pragma once
// The generic control pages of the plug-in window: one tab per port group of the plug-in (or one
// "Controls" tab), a slider for a ranged control, a check box for a toggle and a combo box for an
// enumeration. Each widget is named "Control_" + the port's symbol.
//
// Threads: main thread only.
#include "plugins/PluginBridge.h"

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QTabWidget;
class QWidget;

namespace cleavix::ui {

// Slider positions per range for a control without whole steps.
inline constexpr int kSliderSteps = 1000;

class ControlPages final : public QObject {
    Q_OBJECT
public:
    // Fills `tabs` with the pages of `info` (an instance's: ranges already at the sample rate).
    ControlPages(const plugins::PluginInfo& info, QTabWidget& tabs);

    // The value a control's widget shows -> the control; called as the user moves it.
    std::function<void(const std::string& symbol, float value)> onChange;
    // Shows the values `valueOf` gives (after a preset), without calling onChange.
    void show(const std::function<float(const std::string&)>& valueOf);

private:
    struct Entry {
        plugins::PluginControl control;
        QWidget* widget = nullptr;
        QWidget* label = nullptr; // a slider's value readout
    };
    QWidget* makeWidget(Entry& entry, QWidget* page);
    void showValue(Entry& entry, float value);
    float sliderValue(const plugins::PluginControl& c, int position) const;
    int sliderPosition(const plugins::PluginControl& c, float value) const;

    std::vector<Entry> entries_;
    bool showing_ = false;
};

} // namespace cleavix::ui
