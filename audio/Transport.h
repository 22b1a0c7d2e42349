#pragma once
// The transport's engine side: play the visible region, loop the locators, play the selected
// segment, stop, the pending action that starts a new play once the player ran dry, the channel
// made audible, and the play cursor's timer interval and column. The window mirrors the button
// states and runs the cursor timer; everything that decides what plays is here.
//
// Threads: main thread only (the player's notices arrive there). The cursor timer may tick on a
// thread of its own, but must call SuperTimer1Timer() on the main thread.
#include "audio/WabeAudio.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace cleavix::audio {

// What the window knows and the transport reads. Byte positions into the sample's audio.
struct TransportView {
    bool loaded = false;
    uint16_t channels = 2;
    uint16_t bitsPerSample = 16;
    uint32_t sampleRate = 44100;
    uint64_t totalLength = 0;
    uint64_t viewStart = 0;
    uint64_t viewEnd = 0;
    int viewWidth = 0; // waveform view width in pixels
    uint64_t locatorL = 0;
    uint64_t locatorR = 0;
    uint64_t segmentStart = 0;
    uint64_t segmentEnd = 0;
    // Channel state.
    bool linkedChannels = true; // "L + R"; false is separate mode ("L / R")
    bool leftTicked = true;     // "&Left Channel"
    bool rightTicked = true;    // "Right Channel"
    int processChannel = 3;     // 1 left, 2 right, 3 both
    bool segmentInLeft = true;  // separate mode: the selected segment's channel
    // The Play toolbar's "Tempo": beats per minute the loop plays at; 0 for the loop's own.
    double tempo = 0;
};

enum class PlayButton { None, PlaySelectionButton, Button3, Button20, Button4 };

// The player's SetChannelVolume mode for each command.
int channelModeForVisible(const TransportView& view);        // Button3Click
int channelModeForLoop(const TransportView& view);           // PlayLoop
int channelModeForPlaySelection(const TransportView& view);  // CallPlaySelection
int channelModeForSegment(const TransportView& view);        // PlaySelection
// TimerFactor for a ratio q.
int timerFactorFor(double q);

class TTransport {
public:
    explicit TTransport(twabeAudio& player);
    ~TTransport();

    TransportView view;

    // Commands.
    void PlaySelectionButtonClick();
    void CallPlaySelection();
    void Button3Click();
    void Button20Click();
    void PlayLoop();
    void Button4Click();
    void PlaySelection();
    void Button24Click();
    void waveAudio1Waveoutput();
    // A locator was dropped: restarts a running loop with the new locators at once.
    void LocatorDropped();
    // The tempo changed (view.tempo holds the new one): a running loop restarts at once from L at
    // the new tempo. Restarting, rather than switching at the next pass, because the player has
    // up to BufferCount buffers of the old tempo queued: the next pass as queued could be heard
    // many seconds after the change.
    void TempoChanged();
    // The cursor timer's tick.
    void SuperTimer1Timer();
    // The view moved or zoomed (view holds the new range): a running cursor keeps pace with it.
    void ViewMoved();

    // Window hooks: each returns true when it handled the end of playback (a dialog's play
    // button that read "Stop" and now reads "Play").
    std::function<bool()> openDialogPlayStopped;
    std::function<bool()> batchDialogPlayStopped;
    // Asked to open the output in the sample's format when it is closed.
    std::function<void()> openOutput;
    // Asked for the loop [L, R) (byte positions as the locators stand) at `tempo` beats per
    // minute. Null with `refused` empty: the loop plays from the store as it is (no hook, the
    // loop's own tempo). Null with `refused` set: nothing plays (the reason has been shown).
    std::function<std::shared_ptr<PlaySource>(uint64_t L, uint64_t R, double tempo, std::string& refused)>
        loopAtTempo;

    // State.
    uint64_t PlayStart = 0;
    uint64_t PlayLength = 0;
    int CursorX = 0;
    int LastCursorX = 0;
    int TimerFactor = 1;
    bool LoopPlaying = false;
    bool CursorRunning = false;
    std::function<void()> pendingAction;
    PlayButton down = PlayButton::None;
    bool playButtonsEnabled = false;
    bool timerEnabled = false;
    int timerIntervalMs = 5;
    bool cursorDrawn = false;
    // The rendering the running loop plays; null when it plays the store's bytes.
    const PlaySource* rendered() const { return rendered_.get(); }

private:
    void ensureOutput();
    void stopCursorTimer();
    void workOutInterval(bool loop);
    void playVisible(PlayButton button, bool fromPlaySelection);
    uint64_t viewLength() const;
    int columnOf(double position) const;
    void restartLoop();

    twabeAudio& player_;
    std::shared_ptr<PlaySource> rendered_;
};

} // namespace cleavix::audio
