// The main window's views: bar layout, locators, painting, zoom and the transport's view record.
#include "ui/window/StartForm.h"
#include "ui/window/MainFormParts.h"
#include "sample/FormatPosition.h"
#include "sample/WavParser.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/window/BarsBeatsControl.h"
#include "ui/view/Artwork.h"
#include "ui/view/BarMouse.h"
#include "ui/dialogs/CXWizard.h"
#include "ui/dialogs/FileDialogs.h"
#include "ui/dialogs/OptionsForm.h"
#include "ui/commands/EditCommands.h"
#include "ui/view/MouseTools.h"
#include "ui/commands/ProcessCommands.h"
#include "ui/commands/ExportCommands.h"
#include "ui/dialogs/ProcessForm.h"
#include "ui/dialogs/SensitivityForm.h"
#include "ui/view/WaveBox.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <sys/stat.h>

namespace cleavix::ui {

using namespace mainform;

// Views

void TMainForm::layoutBars() {
    const bool segment = config_.showSegmentBar;
    const bool region = config_.showRegionBar;
    int height = 0;
    if (segment && region) {
        height = 17;
        splitRow_ = 9;
    } else if (segment) {
        height = 9;
        splitRow_ = 9;
    } else if (region) {
        height = 9;
        splitRow_ = 1;
    } else {
        height = 0;
        splitRow_ = 1;
    }
    paintbox2_->setFixedHeight(height);
    paintbox2_->setVisible(height > 0);
    const bool separate = session_->loaded() && session_->format().channels == 2 && !session_->slicer().linked();
    paintbox3_->setVisible(separate && segment);
    paintbox2_->update();
}

void TMainForm::placeLocators() {
    if (button19_ == nullptr || paintbox1_ == nullptr) {
        return;
    }
    const bool loaded = session_->loaded();
    const uint32_t length = view_.length();
    if (!loaded || length == 0) {
        button19_->hide();
        button21_->hide();
        return;
    }
    const auto& slicer = session_->slicer();
    const int W = paintbox1_->width();
    const int left = waveLeftInLocatorStrip();
    auto pixel = [&](uint32_t position) {
        return int(std::lround((double(position) - view_.start) / length * W)) + left;
    };
    const uint32_t L = slicer.left();
    const uint32_t R = slicer.right();
    button19_->setVisible(L >= view_.start && L <= view_.end);
    button19_->move(pixel(L), 0);
    button21_->setVisible(R >= view_.start && R <= view_.end);
    button21_->move(pixel(R) - button21_->width(), 0);
}

void TMainForm::redrawWave(bool dirty) {
    if (dirty) {
        renderer_.markDirty();
    }
    if (paintbox1_ != nullptr) {
        paintbox1_->update();
        paintbox2_->update();
        paintbox3_->update();
    }
}

void TMainForm::viewChanged() {
    transport_->viewMoved(transportInput());
    panels_[3]->setText(zoomText(view_.zoom));
    placeLocators();
    updateEnabling();
    redrawWave(true);
}

void TMainForm::paintWave(TWaveBox& box, QPainter& painter) {
    renderer_.setSize(box.width(), box.height());
    const bool busy = session_->busy();
    WaveInput in;
    in.store = &session_->store();
    in.peaks = &session_->peaks();
    in.summary = &summary_;
    in.loaded = session_->loaded() && !busy;
    in.viewStart = view_.start;
    in.viewEnd = view_.end;
    in.colours = config_.colours;
    in.buttonFace = palette().color(QPalette::Button);
    in.channelOn[0] = session_->selection().leftTicked();
    in.channelOn[1] = session_->selection().rightTicked();
    const auto& slicer = session_->slicer();
    if (slicer.selectedIndex >= 0 && slicer.selectionEnd > slicer.selectionStart) {
        in.hasSelection = true;
        in.selectionStart = slicer.selectionStart;
        in.selectionEnd = slicer.selectionEnd;
    }
    if (busy) {
        // A worker owns the store: show the last picture, or the empty view.
        if (renderer_.cleanImage().isNull()) {
            painter.fillRect(box.rect(), in.buttonFace);
        } else {
            painter.drawImage(0, 0, renderer_.cleanImage());
        }
        return;
    }
    if (in.loaded && session_->peaks().entries() > 0 && !summary_.matches(session_->peaks())) {
        summary_.build(session_->peaks());
    }
    renderer_.renderWaveform(in);
    static const QImage sample = art::sampleIcon();
    static const QImage lock = art::lockIcon();
    static const QImage disabled = art::disabledIcon();
    OverlayInput overlay;
    overlay.points = &slicer.slicePoints();
    overlay.candidates = &slicer.candidates();
    overlay.linked = slicer.linked();
    overlay.showIcon = config_.showIcon;
    overlay.showLock = config_.showLock;
    overlay.showEnable = config_.showEnable;
    overlay.sampleIcon = &sample;
    overlay.lockIcon = &lock;
    overlay.disabledIcon = &disabled;
    renderer_.composeView(in, overlay);
    painter.drawImage(0, 0, renderer_.cleanImage());
    edits_->paintSelection(box, painter);
    tools_->paintOverlay(box, painter);
    // The play cursor: an inverted column over the clean image.
    if (transport_->cursorVisible()) {
        const int x = transport_->cursorX();
        if (x > 0 && x < box.width() - 1) {
            painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter.setPen(Qt::white);
            painter.drawLine(x, 1, x, box.height() - 2);
        }
    }
}

void TMainForm::paintBars(TWaveBox& box, QPainter& painter) {
    const int W = box.width();
    const int H = box.height();
    const auto& c = config_.colours;
    const bool loaded = session_->loaded() && !session_->busy();
    const uint32_t length = view_.length();
    auto column = [&](double position) { return int(std::lround((position - view_.start) / length * W)); };
    if (config_.showSegmentBar) {
        painter.fillRect(0, 0, W, splitRow_, c[ColSegmentBar]);
        const auto& slicer = session_->slicer();
        const bool secondBar = !slicer.linked() && slicer.selectedIndex >= 0 &&
                               slicer.slicePoints().at(slicer.selectedIndex).channel == slicing::kCodeSecondOrMono &&
                               session_->format().channels == 2;
        if (loaded && length > 0 && slicer.selectedIndex >= 0 && !secondBar &&
            slicer.selectionEnd > slicer.selectionStart) {
            const int x0 = std::clamp(column(slicer.selectionStart), 0, W);
            const int x1 = std::clamp(column(slicer.selectionEnd), 0, W);
            painter.fillRect(x0, 0, std::max(1, x1 - x0), splitRow_, c[ColSelectedSegment]);
        }
    }
    if (config_.showRegionBar) {
        const int top = std::max(0, splitRow_ - 1);
        painter.fillRect(0, top, W, H - top, c[ColRegionBar]);
        const uint32_t total = session_->format().dataLength;
        if (loaded && total > 0) {
            const int x0 = int(double(view_.start) / total * W);
            const int x1 = int(double(view_.end) / total * W);
            painter.fillRect(x0, top, std::max(1, x1 - x0), H - top, c[ColRegion]);
        }
    }
}

void TMainForm::paintSegmentBar2(TWaveBox& box, QPainter& painter) {
    const auto& c = config_.colours;
    painter.fillRect(box.rect(), c[ColSegmentBar]);
    const auto& slicer = session_->slicer();
    const uint32_t length = view_.length();
    if (!session_->loaded() || session_->busy() || length == 0 || slicer.selectedIndex < 0) {
        return;
    }
    if (slicer.slicePoints().at(slicer.selectedIndex).channel != slicing::kCodeSecondOrMono) {
        return;
    }
    const int W = box.width();
    const int x0 = std::clamp(int((double(slicer.selectionStart) - view_.start) / length * W), 0, W);
    const int x1 = std::clamp(int((double(slicer.selectionEnd) - view_.start) / length * W), 0, W);
    painter.fillRect(x0, 0, std::max(1, x1 - x0), box.height(), c[ColSelectedSegment]);
}

void TMainForm::zoomToSegmentAt(uint32_t position) {
    auto& slicer = session_->slicer();
    const auto& list = slicer.slicePoints();
    if (list.count() == 0) {
        return; // no slice points, no segments to zoom to
    }
    zoomToSegmentIndex(session_->selection().segmentAt(position));
}

void TMainForm::zoomToSegmentIndex(int index) {
    const auto& list = session_->slicer().slicePoints();
    view_.zoomTo(list.at(index).position, slicing::segmentEnd(list, index), session_->format().dataLength);
    session_->selection().selectSegment(index);
    viewChanged();
}

uint32_t TMainForm::zoomCentre() const {
    // The sample under the mouse when it is over the view, else the middle of the view.
    const QPoint local = paintbox1_->mapFromGlobal(QCursor::pos());
    if (paintbox1_->rect().contains(local)) {
        return view_.positionAt(local.x(), paintbox1_->width());
    }
    return view_.start + view_.length() / 2;
}

void TMainForm::zoom(const std::function<void(uint32_t centre, uint32_t total, uint32_t frameBytes)>& change) {
    if (!session_->loaded() || session_->busy()) {
        return;
    }
    change(zoomCentre(), session_->format().dataLength, session_->format().blockAlign());
    viewChanged();
}

void TMainForm::ZoomIn() {
    zoom([this](uint32_t centre, uint32_t total, uint32_t frameBytes) { view_.zoomIn(centre, total, frameBytes); });
}

void TMainForm::ZoomOut() {
    zoom([this](uint32_t centre, uint32_t total, uint32_t frameBytes) { view_.zoomOut(centre, total, frameBytes); });
}

void TMainForm::Zoom11() {
    zoom([this](uint32_t, uint32_t total, uint32_t) { view_.whole(total); });
}

void TMainForm::ZoomToSegment() {
    if (!session_->loaded() || session_->busy()) {
        return;
    }
    // The selected segment, not whatever lies under the pointer where the button was clicked;
    // without one, the segment in the middle of the view.
    const auto& slicer = session_->slicer();
    if (slicer.slicePoints().count() == 0) {
        return;
    }
    const int selected = slicer.selectedIndex;
    if (selected >= 0 && selected <= slicer.slicePoints().count()) {
        zoomToSegmentIndex(selected);
        return;
    }
    zoomToSegmentAt(view_.start + view_.length() / 2);
}

void TMainForm::showPosition(int x) {
    lastMouseX_ = x;
    if (!session_->loaded() || x < 0) {
        panels_[2]->clear();
        return;
    }
    const auto& f = session_->format();
    const uint32_t position = f.frameStart(view_.positionAt(x, paintbox1_->width()));
    panels_[2]->setText("s: " + QString::fromStdString(sample::FormatPosition(position, config_.units, f.bitsPerSample,
                                                                             f.sampleRate, f.channels)));
}

TransportInput TMainForm::transportInput() const {
    TransportInput in;
    const auto& f = session_->format();
    const auto& slicer = session_->slicer();
    in.loaded = session_->loaded();
    in.channels = f.channels;
    in.sampleRate = f.sampleRate;
    in.totalLength = f.dataLength;
    in.viewStart = view_.start;
    in.viewEnd = view_.end;
    in.viewWidth = paintbox1_->width();
    in.locatorL = slicer.left();
    in.locatorR = slicer.right();
    in.segmentStart = slicer.selectionStart;
    in.segmentEnd = slicer.selectionEnd;
    in.linkedChannels = slicer.linked();
    in.leftTicked = session_->selection().leftTicked();
    in.rightTicked = session_->selection().rightTicked();
    in.processChannel = session_->editor().processChannel();
    in.segmentInLeft = slicer.selectedIndex < 0 ||
                       slicer.slicePoints().at(slicer.selectedIndex).channel == slicing::kCodeFirst;
    in.tempo = renderTempo_ != nullptr ? renderTempo_->value() : 0.0; // 0: "Own"
    return in;
}

} // namespace cleavix::ui
