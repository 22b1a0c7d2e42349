#pragma once
// The window's side of the transport: the session's player, its devices and the transport logic
// behind the "Play" toolbar, and the cursor timer that moves the play cursor. The window hands it what the
// view shows before each command and mirrors its button states afterwards; changed() says when.
#include "audio/Transport.h"
#include "jobs/Dispatcher.h"
#include "jobs/Prompter.h"
#include "sample/FileAndMemoryStream.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::session {
class Session;
}

namespace cleavix::ui {

// What the transport reads from the window: the engine's own view record.
using TransportInput = audio::TransportView;

enum class PlayButtonDown { None, PlaySelection, All, Loop, Selected };

class TransportControl final : public QObject {
    Q_OBJECT
public:
    explicit TransportControl(session::Session& session);
    ~TransportControl() override;

    // Output device names, from device -1 (the default device) upward; empty when there is none.
    std::vector<std::string> outputNames() const;
    std::vector<std::string> inputNames() const;

    void setStore(sample::TFileAndMemoryStream* store);
    void setDevice(int outputId);
    int device() const;
    void setInputDevice(int inputId);
    void setBuffers(int seconds, int count);
    // The loaded sample's format, for the output device.
    void setFormat(uint16_t channels, uint32_t sampleRate);
    // Opens the output device in the sample's format when it is closed; false when it cannot.
    bool openOutput();
    void closeOutput();
    bool outputOpen() const;
    // The store is owned by a worker: the player must not read it.
    void setStoreBusy(bool busy);

    // The transport commands.
    void playVisible(const TransportInput& in);  // PlaySelectionButtonClick
    void playLoop(const TransportInput& in);     // Button20Click
    void playSegment(const TransportInput& in);  // Button4Click
    void playAll(const TransportInput& in);      // Button3Click
    void stop();                                 // Button24Click
    void locatorDropped(const TransportInput& in);
    // The Tempo box changed (in.tempo): a running loop restarts at once at the new tempo.
    void tempoChanged(const TransportInput& in);
    // The view moved or zoomed: the cursor follows the new range, its timer's interval recomputed.
    void viewMoved(const TransportInput& in);

    // File auditions (the open dialog's "Auto Play"); false when the file could not be played.
    bool playFile(const std::string& path);
    // Called when playback ends; returns true when a dialog took the notice (its button back to "Play").
    std::function<bool()> openDialogPlayStopped;

    PlayButtonDown down() const;
    bool playing() const;
    // The play cursor's column in the waveform view, 0 when none is drawn.
    int cursorX() const;
    bool cursorVisible() const;

signals:
    void changed();
    void cursorMoved();

private:
    void sync();
    struct Impl;
    std::unique_ptr<Impl> impl_;
    QTimer timer_;
};

} // namespace cleavix::ui
