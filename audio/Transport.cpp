#include "audio/Transport.h"

#include <cmath>

namespace cleavix::audio {

namespace {

bool bothChannelsAudible(const TransportView& view) {
    return view.channels == 1 || (view.leftTicked && view.rightTicked);
}

} // namespace

int channelModeForVisible(const TransportView& view) {
    if (bothChannelsAudible(view)) {
        return 3;
    }
    return view.processChannel == 1 ? 2 : 1;
}

int channelModeForLoop(const TransportView& view) {
    if (bothChannelsAudible(view)) {
        return 3;
    }
    return view.leftTicked ? 2 : 1;
}

int channelModeForPlaySelection(const TransportView& view) {
    if (view.channels == 1 || view.processChannel == 3) {
        return 3;
    }
    return view.processChannel == 1 ? 2 : 1;
}

int channelModeForSegment(const TransportView& view) {
    if (view.channels == 1 || view.linkedChannels) {
        return 3;
    }
    return view.segmentInLeft ? 2 : 1;
}

int timerFactorFor(double q) {
    if (q <= 0.1) {
        return 1;
    }
    if (q <= 0.4) {
        return 2;
    }
    if (q <= 0.8) {
        return 4;
    }
    if (q <= 1.4) {
        return 8;
    }
    if (q <= 2) {
        return 16;
    }
    return 32;
}

TTransport::TTransport(twabeAudio& player) : player_(player) {
    player_.OnWaveoutput = [this](twabeAudio&) { waveAudio1Waveoutput(); };
}

TTransport::~TTransport() { player_.OnWaveoutput = nullptr; }

uint64_t TTransport::viewLength() const { return view.viewEnd > view.viewStart ? view.viewEnd - view.viewStart : 0; }

void TTransport::ensureOutput() {
    if (!player_.IsOpen() && openOutput) {
        openOutput();
    }
}

void TTransport::stopCursorTimer() {
    if (timerEnabled || CursorRunning) {
        timerEnabled = false;
        LoopPlaying = false;
        CursorRunning = false;
        timerIntervalMs = 5;
    }
}

void TTransport::workOutInterval(bool loop) {
    const double V = static_cast<double>(viewLength());
    const double r = view.sampleRate;
    const double b = view.bitsPerSample;
    const double c = view.channels;
    const double frames = loop ? V / (b / c / 8.0) : V / (b / 8.0);
    const double q = frames > 0 ? r / frames : 1e9;
    TimerFactor = timerFactorFor(q);
    double interval = 5;
    if (r > 0 && view.viewWidth > 0) {
        interval = std::nearbyint(V / r / view.viewWidth * 1000.0 * TimerFactor);
    }
    // A timer needs a period; a zero interval would spin.
    timerIntervalMs = std::max(1, static_cast<int>(interval));
}

int TTransport::columnOf(double position) const {
    const double total = static_cast<double>(view.totalLength);
    const double length = static_cast<double>(viewLength());
    if (total <= 0 || length <= 0) {
        return 0;
    }
    const double W = view.viewWidth;
    return static_cast<int>(
        std::nearbyint((position / total * W - static_cast<double>(view.viewStart) / total * W) * (total / length)));
}

void TTransport::PlaySelectionButtonClick() {
    if (player_.state().Playing) {
        pendingAction = [this] { CallPlaySelection(); };
        player_.Stop();
        return;
    }
    CallPlaySelection();
}

void TTransport::Button3Click() { playVisible(PlayButton::Button3, false); }

void TTransport::CallPlaySelection() { playVisible(PlayButton::PlaySelectionButton, true); }

void TTransport::playVisible(PlayButton button, bool fromPlaySelection) {
    ensureOutput();
    down = button;
    player_.SetChannelVolume(fromPlaySelection ? channelModeForPlaySelection(view) : channelModeForVisible(view));
    if (!player_.IsOpen() || down != button || LoopPlaying) {
        Button24Click();
        return;
    }
    stopCursorTimer();
    rendered_.reset();
    const bool wholeSample = view.viewStart >= view.viewEnd;
    PlayLength = wholeSample ? view.totalLength : view.viewEnd - view.viewStart;
    PlayStart = wholeSample ? 0 : view.viewStart;
    workOutInterval(false);
    cursorDrawn = false;
    timerEnabled = true;
    CursorRunning = true;
    CursorX = 0;
    player_.PlayRegion(PlayStart, PlayLength, false);
}

void TTransport::Button20Click() {
    if (player_.state().Playing) {
        pendingAction = [this] { PlayLoop(); };
        player_.Stop();
        return;
    }
    PlayLoop();
}

void TTransport::PlayLoop() {
    down = PlayButton::Button20;
    uint64_t L = view.locatorL;
    uint64_t R = view.locatorR;
    if (view.channels == 2) {
        L &= ~uint64_t(3);
        R &= ~uint64_t(3);
    }
    player_.SetChannelVolume(channelModeForLoop(view));
    ensureOutput();
    if (down != PlayButton::Button20 || !player_.IsOpen() || R <= L) {
        // An empty region (L and R met) has nothing to loop.
        Button24Click();
        return;
    }
    std::shared_ptr<PlaySource> rendering;
    if (view.tempo > 0 && loopAtTempo) {
        std::string refused;
        rendering = loopAtTempo(view.locatorL, view.locatorR, view.tempo, refused);
        if (!rendering && !refused.empty()) {
            Button24Click();
            return;
        }
    }
    stopCursorTimer();
    rendered_ = rendering;
    PlayLength = rendering ? rendering->length() : R - L;
    workOutInterval(true);
    cursorDrawn = false;
    PlayStart = view.locatorL;
    CursorX = columnOf(static_cast<double>(view.locatorL));
    LoopPlaying = true;
    timerEnabled = true;
    CursorRunning = true;
    if (rendering) {
        player_.PlayRendered(std::move(rendering), true);
    } else {
        player_.PlayRegion(L, R - L, true);
    }
}

void TTransport::Button4Click() {
    if (player_.state().Playing) {
        pendingAction = [this] { PlaySelection(); };
        player_.Stop();
        return;
    }
    PlaySelection();
}

void TTransport::PlaySelection() {
    ensureOutput();
    if (player_.IsOpen()) {
        player_.Stop();
    }
    timerEnabled = false;
    playButtonsEnabled = true;
    down = PlayButton::None;
    LoopPlaying = false;
    rendered_.reset();
    CursorRunning = false;
    timerIntervalMs = 5;
    player_.SetChannelVolume(channelModeForSegment(view));
    uint64_t start = view.segmentStart;
    uint64_t end = view.segmentEnd;
    if (view.channels == 2) {
        start &= ~uint64_t(3);
        end &= ~uint64_t(3);
    }
    down = PlayButton::Button4;
    player_.PlayRegion(start, end > start ? end - start : 0, false);
}

void TTransport::Button24Click() {
    player_.RestartPending = false;
    timerIntervalMs = 1;
    if (player_.recorder().InputOpen) {
        player_.StopRecord();
        player_.CloseInput();
    }
    if (player_.IsOpen()) {
        player_.Stop();
    }
    timerEnabled = false;
    CursorRunning = false;
    if (view.loaded) {
        playButtonsEnabled = true;
    }
    down = PlayButton::None;
    LoopPlaying = false;
    rendered_.reset();
    cursorDrawn = false;
    CursorX = 0;
}

void TTransport::waveAudio1Waveoutput() {
    if (pendingAction) {
        auto action = std::move(pendingAction);
        pendingAction = nullptr;
        action();
        return;
    }
    if (openDialogPlayStopped && openDialogPlayStopped()) {
        return;
    }
    if (batchDialogPlayStopped && batchDialogPlayStopped()) {
        return;
    }
    Button24Click();
}

void TTransport::LocatorDropped() { restartLoop(); }

void TTransport::TempoChanged() { restartLoop(); }

void TTransport::restartLoop() {
    if (!LoopPlaying) {
        return;
    }
    player_.RestartPending = true;
    player_.Stop();
    // The flag covers this one stop: a later stop must end playback as usual.
    player_.RestartPending = false;
    Button20Click();
}

void TTransport::ViewMoved() {
    if (timerEnabled) {
        workOutInterval(LoopPlaying);
    }
}

void TTransport::SuperTimer1Timer() {
    if (!timerEnabled) {
        return;
    }
    cursorDrawn = false;
    const uint64_t p = player_.GetPosition();
    uint64_t position = PlayStart;
    if (PlayLength > 0) {
        // A rendering maps its offset back to the store byte of the slice that sounds.
        position = rendered_ ? rendered_->storePosition(p % PlayLength) : PlayStart + p % PlayLength;
    }
    CursorX = columnOf(static_cast<double>(position));
    if (CursorX != 0 && p != 0) {
        LastCursorX = CursorX;
        cursorDrawn = true;
    }
}

} // namespace cleavix::audio
