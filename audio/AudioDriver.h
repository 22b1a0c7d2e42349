#pragma once
// The audio engine's chief header: the push-style output driver TAudioDriver with its buffer
// class CWaveBuffer, and (through the includes) the player and recorder, the transport, the
// meters and the wave-device layer.
//
// TAudioDriver threads. Write(), Abandon() and Reset() run on one feeding thread (the plug-in
// preview's worker). The device hands finished buffers back on its own thread through a direct
// NoticeChannel, which does nothing but release the counting semaphore; Write() waits on it, at
// most 500 ms a buffer.
#include "audio/MeterData.h"
#include "audio/Transport.h"
#include "audio/WabeAudio.h"
#include "audio/WaveDevice.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace cleavix::audio {

inline constexpr int kDriverBuffers = 6;

// A counting semaphore whose count never exceeds its maximum (a release beyond it is ignored).
class CountingSemaphore {
public:
    CountingSemaphore(int initial, int maximum) : count_(initial), maximum_(maximum) {}
    void release();
    // False when the wait timed out.
    bool acquireFor(int milliseconds);
    int count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int count_;
    int maximum_;
};

class CWaveBuffer {
public:
    CWaveBuffer(WaveOutDevice& device, uint32_t bytes);
    ~CWaveBuffer();
    CWaveBuffer(const CWaveBuffer&) = delete;
    CWaveBuffer& operator=(const CWaveBuffer&) = delete;

    WaveHeader header;
    uint32_t capacity() const { return capacity_; }
    uint32_t fill = 0;

private:
    WaveOutDevice& device_;
    std::unique_ptr<uint8_t[]> block_;
    uint32_t capacity_;
};

class TAudioDriver {
public:
    explicit TAudioDriver(WaveDeviceProvider& devices);
    ~TAudioDriver();
    TAudioDriver(const TAudioDriver&) = delete;
    TAudioDriver& operator=(const TAudioDriver&) = delete;

    // Returns the device's result code; the driver stays usable (writes are ignored) when it fails.
    int Open(int deviceId, uint16_t channels, uint32_t bufferBytes, uint16_t bits, uint32_t sampleRate);
    void Write(const uint8_t* data, size_t length);
    void Abandon();
    void Reset();

    bool isOpen() const { return open_; }
    const std::string& lastError() const { return lastError_; }
    int writeCount() const { return writeCount_; }
    int current() const { return current_; }
    // Bytes dropped because the device kept every buffer past the wait.
    uint64_t droppedBytes() const { return dropped_; }
    WaveOutDevice* device() { return device_.get(); }
    const CountingSemaphore& semaphore() const { return semaphore_; }

private:
    void close();

    WaveDeviceProvider& devices_;
    std::unique_ptr<WaveOutDevice> device_;
    std::array<std::unique_ptr<CWaveBuffer>, kDriverBuffers> buffers_;
    CountingSemaphore semaphore_{kDriverBuffers, kDriverBuffers};
    int current_ = 0;
    bool needFresh_ = true;
    bool open_ = false;
    WaveFormat format_;
    uint16_t channels_ = 2;
    uint32_t sampleRate_ = 44100;
    int writeCount_ = 0;
    uint64_t dropped_ = 0;
    std::string lastError_;
};

} // namespace cleavix::audio
