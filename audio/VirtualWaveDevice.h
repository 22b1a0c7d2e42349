#pragma once
// Virtual wave devices: no sound card, no thread. Time stands still until the test (or a demo)
// moves the clock with advance(); only then is audio "played" (collected in played()) or
// "captured" (feed()), and buffers come back through the NoticeChannel like a real device's.
// Everything runs on the owner's thread.
#include "audio/WaveDevice.h"

#include <deque>

namespace cleavix::audio {

class VirtualDeviceProvider;

class VirtualWaveOut final : public WaveOutDevice {
public:
    explicit VirtualWaveOut(int refuseWith = kWaveOk) : refuseWith_(refuseWith) {}
    ~VirtualWaveOut() override { close(); }

    int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) override;
    void close() override;
    bool isOpen() const override { return open_; }
    int write(WaveHeader& header) override;
    int reset() override;
    uint64_t position() const override { return position_; }

    // Plays `bytes` bytes (whole frames) of the queued buffers; returns how many it played.
    // Buffers that end are given back; a zero-length buffer at the head ends as soon as reached.
    uint64_t advance(uint64_t bytes);
    // Plays `ms` milliseconds' worth.
    uint64_t advanceMs(double ms);
    // Every byte played since the device object was made (across opens and resets).
    const std::vector<uint8_t>& played() const { return played_; }
    size_t queued() const { return queue_.size(); }
    int resets() const { return resets_; }

private:
    void giveBack(WaveHeader& header, uint32_t bytes);
    int refuseWith_;
    bool open_ = false;
    std::shared_ptr<NoticeChannel> notices_;
    std::deque<WaveHeader*> queue_;
    uint8_t* headData_ = nullptr; // data of the head buffer once it started playing
    uint32_t headOffset_ = 0;
    uint64_t position_ = 0;
    std::vector<uint8_t> played_;
    int resets_ = 0;
};

class VirtualWaveIn final : public WaveInDevice {
public:
    explicit VirtualWaveIn(int refuseWith = kWaveOk) : refuseWith_(refuseWith) {}
    ~VirtualWaveIn() override { close(); }

    int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) override;
    void close() override;
    bool isOpen() const override { return open_; }
    int addBuffer(WaveHeader& header) override;
    int start() override;
    int reset() override;

    // Captures bytes into the queued buffers while started; returns how many found room.
    size_t feed(const uint8_t* data, size_t bytes);
    bool started() const { return started_; }
    size_t queued() const { return queue_.size(); }

private:
    int refuseWith_;
    bool open_ = false;
    bool started_ = false;
    std::shared_ptr<NoticeChannel> notices_;
    std::deque<WaveHeader*> queue_;
    uint32_t headOffset_ = 0;
};

// Lists two virtual devices (-1 and 0) in each direction and remembers the objects it made.
class VirtualDeviceProvider final : public WaveDeviceProvider {
public:
    std::vector<WaveDeviceInfo> outputs() override;
    std::vector<WaveDeviceInfo> inputs() override;
    std::unique_ptr<WaveOutDevice> createOutput(int id) override;
    std::unique_ptr<WaveInDevice> createInput(int id) override;

    // The result code the next devices give when opened (0: they open).
    int refuseWith = kWaveOk;
    // The most recently made devices (owned by whoever asked for them).
    VirtualWaveOut* lastOutput = nullptr;
    VirtualWaveIn* lastInput = nullptr;
    int outputsMade = 0;
};

} // namespace cleavix::audio
