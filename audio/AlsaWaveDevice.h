#pragma once
// The ALSA backend of the wave-device layer (alsa-lib PCM API).
//
// Threading model. Each open device runs one thread of its own (the "ALSA thread"). The owner's
// thread queues buffers through a lock-free single-producer/single-consumer ring and wakes the
// ALSA thread through an eventfd; the ALSA thread alone calls alsa-lib for the open PCM, copies
// queued buffers into it (playback) or fills them from it (capture), and hands each buffer back
// through the NoticeChannel once it has been played or filled. reset() and close() are requests
// the ALSA thread carries out; the owner waits for them on an atomic, so the ALSA thread never
// waits on the owner and never takes a lock the owner holds. It never sees the sample store:
// only the bytes of buffers already queued.
//
// Device numbering: -1 is ALSA's "default" PCM, then the cards' PCMs (through the plug layer, so
// the card converts what it cannot take), then "null". Names added with addDevice() follow; any
// ALSA PCM name works there (for example "file:'/tmp/out.raw',raw").
#include "audio/SpscRing.h"
#include "audio/WaveDevice.h"

#include <deque>
#include <functional>
#include <optional>
#include <thread>

typedef struct _snd_pcm snd_pcm_t;

namespace cleavix::audio {

// What an open PCM shares with its ALSA thread: the PCM itself (the thread's alone once it
// runs), the queue of buffers, the wake-up event and the reset and quit requests.
class AlsaLink {
public:
    // Opens and configures the PCM and the wake-up event; a result code.
    int open(const std::string& name, bool capture, const WaveFormat& format, std::string& error,
             uint32_t* periodFrames = nullptr);
    void startThread(std::function<void()> body);
    // Owner: stops the thread (which gives every buffer back first) and closes the PCM.
    void close();
    bool isOpen() const { return pcm != nullptr; }
    // Owner: hands a buffer over and wakes the thread.
    int queue(WaveHeader& header);
    // Owner: asks for a reset and waits until the thread carried it out.
    int reset();
    void wake() const;

    // ALSA thread.
    void wait(bool forPcm, int timeoutMs);
    bool quitting() const { return quit_.load(std::memory_order_acquire); }
    // True when a reset waits; `which` is then passed to acknowledgeReset() once it is done.
    bool resetRequested(uint32_t& which) const;
    void acknowledgeReset(uint32_t which);
    std::optional<WaveHeader*> pop() { return queue_.pop(); }

    snd_pcm_t* pcm = nullptr;

private:
    int wakeFd_ = -1;
    std::thread thread_;
    SpscRing<WaveHeader*, 64> queue_;
    std::atomic<uint32_t> resetRequest_{0};
    std::atomic<uint32_t> resetDone_{0};
    std::atomic<bool> quit_{false};
};

class AlsaWaveOut final : public WaveOutDevice {
public:
    explicit AlsaWaveOut(std::string pcmName);
    ~AlsaWaveOut() override;

    int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) override;
    void close() override;
    bool isOpen() const override { return link_.isOpen(); }
    int write(WaveHeader& header) override;
    int reset() override;
    uint64_t position() const override;

    // Bytes handed to ALSA since open or reset (for measurements).
    uint64_t bytesHandedToAlsa() const;
    uint64_t bytesHandedOver() const override { return bytesHandedToAlsa(); }

private:
    struct Written {
        WaveHeader* header;
        uint64_t endFrame; // frames written once this buffer was wholly handed to ALSA
    };
    void run();
    void returnAll();
    void fail(const std::string& what, int error);
    void updatePlayed(bool mayStart);

    std::string pcmName_;
    AlsaLink link_;
    snd_pcm_t* pcm_ = nullptr; // link_.pcm, for the ALSA thread
    std::shared_ptr<NoticeChannel> notices_;
    // Published by the ALSA thread for position().
    std::atomic<uint64_t> playedFrames_{0};
    std::atomic<uint64_t> writtenFrames_{0};
    std::atomic<int64_t> playedStampNs_{0};
    std::atomic<bool> running_{false};

    // ALSA thread only.
    std::deque<Written> written_;
    WaveHeader* current_ = nullptr;
    uint8_t* currentData_ = nullptr;
    uint32_t currentOffset_ = 0;
    uint64_t framesWritten_ = 0;
    uint64_t framesPlayed_ = 0;
    bool failed_ = false;
    std::vector<uint8_t> scratch_;
};

class AlsaWaveIn final : public WaveInDevice {
public:
    explicit AlsaWaveIn(std::string pcmName);
    ~AlsaWaveIn() override;

    int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) override;
    void close() override;
    bool isOpen() const override { return link_.isOpen(); }
    int addBuffer(WaveHeader& header) override;
    int start() override;
    int reset() override;

private:
    void run();
    void returnAll();
    void fail(const std::string& what, int error);

    std::string pcmName_;
    AlsaLink link_;
    snd_pcm_t* pcm_ = nullptr; // link_.pcm, for the ALSA thread
    std::shared_ptr<NoticeChannel> notices_;
    std::atomic<bool> startRequested_{false};

    uint32_t periodFrames_ = 1;

    // ALSA thread only.
    WaveHeader* current_ = nullptr;
    uint32_t currentOffset_ = 0;
    bool started_ = false;
    bool failed_ = false;
};

class AlsaDeviceProvider final : public WaveDeviceProvider {
public:
    AlsaDeviceProvider();
    std::vector<WaveDeviceInfo> outputs() override;
    std::vector<WaveDeviceInfo> inputs() override;
    std::unique_ptr<WaveOutDevice> createOutput(int id) override;
    std::unique_ptr<WaveInDevice> createInput(int id) override;

    // Adds a PCM by its ALSA name to both lists (or finds it there); returns its number.
    int addDevice(const std::string& pcmName) override;

private:
    std::vector<WaveDeviceInfo> list(bool capture);
    std::string nameOf(int id, bool capture);
    std::vector<WaveDeviceInfo> added_;
};

// Maps an alsa-lib error from opening or configuring a PCM to a result code.
int waveResultFromAlsa(int alsaError, bool configuring);

} // namespace cleavix::audio
