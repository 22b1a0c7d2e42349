#pragma once
// Paced virtual wave devices: the devices a build without a sound-card backend offers the program.
// Nothing is heard or captured, but time runs as on a card: an output device gives each buffer
// back once it would have been played at the format's rate, an input device fills its buffers
// with silence at that rate. So playback ends, the play cursor moves and a recording grows, as with
// ALSA's "null" PCM.
//
// Threads. Each open device runs one thread of its own (the "pacing thread"). The owner's thread
// queues buffers and asks for reset and close under the device's own short lock; the pacing thread
// takes the buffers in order, waits on the clock, and hands each back through the NoticeChannel.
// It never calls into the owner otherwise, never reads the buffers' audio and never sees the
// sample store. reset() and close() wait until the pacing thread has given every buffer back.
#include "audio/WaveDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace cleavix::audio {

// What the pacing thread of either direction shares with the owner.
class PacedLink {
public:
    // Starts the thread; `body` calls serve(), which returns once stop() asks.
    void start(std::function<void()> body);
    // Owner: stops the thread and waits for it.
    void stop();
    bool running() const { return thread_.joinable(); }
    // Owner: hands a buffer over (its data taken at once when `takeNow`: a capture buffer is never
    // swapped) and wakes the thread; a result code.
    int queue(WaveHeader& header, bool takeNow);
    // Owner: asks for a reset and waits until the thread carried it out.
    int reset();
    // Owner: wakes the thread (a capture that was started).
    void wake();

    // Pacing thread: the loop of either direction, with the lock held except while waiting. On a
    // quit or a reset `returnAll` gives every buffer back; otherwise `step` does the direction's
    // work and may wait with waitUntil().
    void serve(const std::function<void(std::chrono::steady_clock::time_point)>& returnAll,
               const std::function<void(std::unique_lock<std::mutex>&, std::chrono::steady_clock::time_point)>& step);
    std::deque<WaveHeader*>& buffers() { return queue_; }
    // Sleeps until `until` (or for good when it is not set) or until the owner asks for something.
    void waitUntil(std::unique_lock<std::mutex>& lock, const std::chrono::steady_clock::time_point* until);

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable acknowledged_;
    std::deque<WaveHeader*> queue_;
    uint32_t resetRequest_ = 0;
    uint32_t resetDone_ = 0;
    bool quit_ = false;
    bool pending_ = false; // something was asked since the thread last looked
    std::thread thread_;
};

class PacedWaveOut final : public WaveOutDevice {
public:
    explicit PacedWaveOut(int refuseWith = kWaveOk) : refuseWith_(refuseWith) {}
    ~PacedWaveOut() override { close(); }

    int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) override;
    void close() override;
    bool isOpen() const override { return link_.running(); }
    int write(WaveHeader& header) override;
    int reset() override;
    uint64_t position() const override;

private:
    void run();
    // Pacing thread: every buffer back, the one playing with the bytes played of it.
    void returnAll(std::chrono::steady_clock::time_point now);
    uint32_t playedOfHead(std::chrono::steady_clock::time_point now);

    int refuseWith_;
    PacedLink link_;
    std::shared_ptr<NoticeChannel> notices_;
    // Published by the pacing thread for position(): whole buffers played, and the one playing.
    std::atomic<uint64_t> doneBytes_{0};
    std::atomic<int64_t> headStartNs_{-1};
    std::atomic<uint32_t> headBytes_{0};

    // Pacing thread only.
    bool headPlaying_ = false;
    std::chrono::steady_clock::time_point headStart_;
};

class PacedWaveIn final : public WaveInDevice {
public:
    explicit PacedWaveIn(int refuseWith = kWaveOk) : refuseWith_(refuseWith) {}
    ~PacedWaveIn() override { close(); }

    int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) override;
    void close() override;
    bool isOpen() const override { return link_.running(); }
    int addBuffer(WaveHeader& header) override;
    int start() override;
    int reset() override;

private:
    void run();
    void returnAll(std::chrono::steady_clock::time_point now);
    // Fills the head buffer's first `bytes` bytes with silence and gives it back.
    void giveBackHead(uint32_t bytes);

    int refuseWith_;
    PacedLink link_;
    std::shared_ptr<NoticeChannel> notices_;
    std::atomic<bool> startRequested_{false};

    // Pacing thread only.
    bool capturing_ = false;
    std::chrono::steady_clock::time_point headStart_;
};

// Lists one default device (-1) and one more (0) in each direction, as the test devices do, and
// makes paced devices for them.
class PacedDeviceProvider final : public WaveDeviceProvider {
public:
    std::vector<WaveDeviceInfo> outputs() override;
    std::vector<WaveDeviceInfo> inputs() override;
    std::unique_ptr<WaveOutDevice> createOutput(int id) override;
    std::unique_ptr<WaveInDevice> createInput(int id) override;
};

} // namespace cleavix::audio
