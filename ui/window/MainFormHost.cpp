// The main window as its command classes see it: the grouped refreshes, the status panels and
// the few widgets they read, behind MainWindowHost.
#include "ui/window/StartForm.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/view/WaveBox.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QToolButton>

namespace cleavix::ui {

int TMainForm::waveLeftInLocatorStrip() const { return paintbox1_->x() - locatorStrip_->x(); }

void TMainForm::playSelectedSegment() {
    if (button4_->isEnabled()) {
        button4_->click();
    }
}

double TMainForm::renderTempo() const { return renderTempo_ != nullptr ? renderTempo_->value() : 0.0; }

void TMainForm::sampleEdited() {
    slicesChanged();
    redrawWave(true);
    updateEnabling();
}

void TMainForm::showWholeSample() {
    view_.whole(session_->format().dataLength);
    layoutBars();
    viewChanged();
}

void TMainForm::showFileStatus(const QString& text) { statusChanged({}, text.toStdString()); }

void TMainForm::showHint(const QString& text) { panels_[0]->setText(text); }

void TMainForm::clearSaveFileName() { saveForm_->selectFile("*.wav"); }

} // namespace cleavix::ui
