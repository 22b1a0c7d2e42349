#pragma once
// Input level meters. Linux mixers offer no meter controls, so TMeterData offers one meter
// control whose level is computed from the captured input itself: the peak of each channel over
// the last 100 ms of audio, from 0 to the control's maximum (32768, full scale), which is the
// range the recording dialog's LED ladder is given.
//
// The audio comes from the recorder (twabeAudio::Meter) while it records, and otherwise, while
// the meters are active and a monitor input is set, from a capture of the meter's own.
//
// Threads: main thread only; the monitor capture's notices arrive through the dispatcher.
#include "audio/WaveDevice.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::audio {

class TMeterData;

class TMeterControl {
public:
    TMeterControl(TMeterData& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
    TMeterData& owner() const { return owner_; }
    const std::string& name() const { return name_; }
    int32_t minimum() const { return 0; }
    int32_t maximum() const { return 32768; }
    int line() const { return 0; }

private:
    TMeterData& owner_;
    std::string name_;
};

class TMeterData {
public:
    TMeterData() = default;
    ~TMeterData();
    TMeterData(const TMeterData&) = delete;
    TMeterData& operator=(const TMeterData&) = delete;

    bool Active() const { return active_; }
    // On: the meter control exists (and the monitor capture runs, when set); off: released.
    // False when switching on failed (the monitor input could not be opened).
    bool SetActive(bool on);
    std::function<void(TMeterData&)> OnLineChange;

    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TMeterControl& Control(int index) { return *controls_.at(static_cast<size_t>(index)); }
    // The current peak of each channel (mono: both the same). False, values untouched, for a
    // control that is not this meter's or while inactive.
    bool ReadLevel(const TMeterControl& control, int32_t& left, int32_t& right) const;

    // Captured 16-bit little-endian PCM.
    void feed(const uint8_t* data, size_t bytes, uint16_t channels, uint32_t sampleRate);

    // Where the meter captures from when the recorder does not: an input device of a provider.
    void setMonitorInput(jobs::Dispatcher& dispatcher, WaveDeviceProvider& devices, int inputId, uint16_t channels,
                         uint32_t sampleRate);
    bool monitoring() const { return monitor_ != nullptr; }
    // The recorder took the input, or gave it back.
    void suspendMonitor();
    void resumeMonitor();

private:
    struct Block {
        uint32_t frames;
        int32_t left;
        int32_t right;
    };
    bool startMonitor();
    void stopMonitor();
    void monitorNotice(WaveHeader& header, uint32_t bytes);

    bool active_ = false;
    std::vector<std::unique_ptr<TMeterControl>> controls_;
    std::deque<Block> window_;
    uint64_t windowFrames_ = 0;

    jobs::Dispatcher* dispatcher_ = nullptr;
    WaveDeviceProvider* devices_ = nullptr;
    int inputId_ = 0;
    uint16_t channels_ = 2;
    uint32_t sampleRate_ = 44100;
    bool suspended_ = false;
    std::shared_ptr<NoticeChannel> notices_;
    std::unique_ptr<WaveInDevice> monitor_;
    std::vector<std::vector<uint8_t>> monitorBlocks_;
    std::vector<std::unique_ptr<WaveHeader>> monitorHeaders_;
};

} // namespace cleavix::audio
