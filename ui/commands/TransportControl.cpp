#include "ui/commands/TransportControl.h"

#include "audio/WaveDevice.h"
#include "audio/Transport.h"
#include "audio/WabeAudio.h"
#include "session/Session.h"

#include <algorithm>

namespace cleavix::ui {

// The session's own devices, player and transport: one player in the program, which every long
// operation stops and keeps off the store.
struct TransportControl::Impl {
    explicit Impl(session::Session& session)
        : devices(session.devices()), player(session.player()), transport(session.transport()) {}
    audio::WaveDeviceProvider& devices;
    audio::twabeAudio& player;
    audio::TTransport& transport;

    void take(const TransportInput& in) {
        transport.view = in;
        transport.view.bitsPerSample = 16; // the store always holds 16-bit audio
    }
};

TransportControl::TransportControl(session::Session& session) : impl_(std::make_unique<Impl>(session)) {
    impl_->transport.openOutput = [this] { openOutput(); };
    impl_->transport.openDialogPlayStopped = [this] { return openDialogPlayStopped && openDialogPlayStopped(); };
    // The player's notices arrive on the main thread; each may end a play or start a pending one.
    auto ran = impl_->player.OnWaveoutput;
    impl_->player.OnWaveoutput = [this, ran](audio::twabeAudio& player) {
        if (ran) {
            ran(player);
        }
        sync();
    };
    connect(&timer_, &QTimer::timeout, this, [this] {
        impl_->transport.SuperTimer1Timer();
        emit cursorMoved();
    });
}

TransportControl::~TransportControl() {
    timer_.stop();
    impl_->transport.Button24Click();
    impl_->player.CloseOutput();
}

std::vector<std::string> TransportControl::outputNames() const {
    std::vector<std::string> names;
    for (const auto& d : impl_->devices.outputs()) {
        names.push_back(d.name);
    }
    return names;
}

std::vector<std::string> TransportControl::inputNames() const {
    std::vector<std::string> names;
    for (const auto& d : impl_->devices.inputs()) {
        names.push_back(d.name);
    }
    return names;
}

void TransportControl::setStore(sample::TFileAndMemoryStream* store) { impl_->player.setStore(store); }
void TransportControl::setDevice(int outputId) { impl_->player.setDeviceID(outputId); }
int TransportControl::device() const { return impl_->player.DeviceID(); }
void TransportControl::setInputDevice(int inputId) { impl_->player.setInputDeviceID(inputId); }
void TransportControl::setBuffers(int seconds, int count) {
    impl_->player.BufferSize = static_cast<uint8_t>(std::clamp(seconds, 1, 10));
    impl_->player.BufferCount = static_cast<uint8_t>(std::clamp(count, 1, 10));
}
void TransportControl::setFormat(uint16_t channels, uint32_t sampleRate) {
    impl_->player.Channels = static_cast<uint8_t>(channels);
    impl_->player.BitsPerSample = 16;
    impl_->player.SampleRate = sampleRate;
}
bool TransportControl::openOutput() {
    if (!impl_->player.IsOpen()) {
        impl_->player.OpenOutput();
    }
    return impl_->player.IsOpen();
}
void TransportControl::closeOutput() {
    stop();
    impl_->player.CloseOutput();
}
bool TransportControl::outputOpen() const { return impl_->player.IsOpen(); }
void TransportControl::setStoreBusy(bool busy) { impl_->player.StoreBusy = busy; }

void TransportControl::playVisible(const TransportInput& in) {
    impl_->take(in);
    impl_->transport.PlaySelectionButtonClick();
    sync();
}
void TransportControl::playLoop(const TransportInput& in) {
    impl_->take(in);
    impl_->transport.Button20Click();
    sync();
}
void TransportControl::playSegment(const TransportInput& in) {
    impl_->take(in);
    impl_->transport.Button4Click();
    sync();
}
void TransportControl::playAll(const TransportInput& in) {
    impl_->take(in);
    impl_->transport.Button3Click();
    sync();
}
void TransportControl::stop() {
    // A play waiting for the running one to drain is called off too: Stop means silence.
    impl_->transport.pendingAction = nullptr;
    impl_->transport.Button24Click();
    sync();
}
void TransportControl::locatorDropped(const TransportInput& in) {
    impl_->take(in);
    impl_->transport.LocatorDropped();
    sync();
}

void TransportControl::tempoChanged(const TransportInput& in) {
    impl_->take(in);
    impl_->transport.TempoChanged();
    sync();
}

void TransportControl::viewMoved(const TransportInput& in) {
    impl_->take(in);
    impl_->transport.ViewMoved();
    sync();
}

bool TransportControl::playFile(const std::string& path) {
    impl_->transport.Button24Click();
    impl_->player.CloseOutput();
    const int result = impl_->player.PlayFile(path);
    sync();
    return result == 0;
}

PlayButtonDown TransportControl::down() const {
    switch (impl_->transport.down) {
    case audio::PlayButton::PlaySelectionButton:
        return PlayButtonDown::PlaySelection;
    case audio::PlayButton::Button3:
        return PlayButtonDown::All;
    case audio::PlayButton::Button20:
        return PlayButtonDown::Loop;
    case audio::PlayButton::Button4:
        return PlayButtonDown::Selected;
    case audio::PlayButton::None:
        break;
    }
    return PlayButtonDown::None;
}
bool TransportControl::playing() const { return impl_->player.state().Playing; }
int TransportControl::cursorX() const { return impl_->transport.CursorX; }
bool TransportControl::cursorVisible() const { return impl_->transport.cursorDrawn; }

void TransportControl::sync() {
    const auto& t = impl_->transport;
    if (t.timerEnabled) {
        timer_.start(std::max(1, t.timerIntervalMs));
    } else {
        timer_.stop();
    }
    emit changed();
    emit cursorMoved();
}


} // namespace cleavix::ui
