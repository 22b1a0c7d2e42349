#pragma once
// The wave-device layer: what the player, the recorder and the output driver need from a sound
// device, with the semantics they were written against.
//
//  - open with a PCM format, returning a result code (0 on success; the numbering of the
//    multimedia wave API, so messages such as "Error Opening Wave Output Device:#32" keep their
//    meaning) and keeping the last error as text;
//  - queue buffers (WaveHeader); every buffer queued comes back exactly once as a notice, in the
//    order it was queued;
//  - reset: synchronous. When it returns the device holds no buffer any more, every buffer it held
//    has been (or is about to be) noticed, and the position is 0;
//  - the position in bytes played since open or reset; per-channel volume applied in software.
//
// Threads. Every method is for one owning thread (the main thread for the player and recorder,
// the feeding worker for TAudioDriver). A backend may run a thread of its own; that thread only
// takes buffers already queued, never calls back into the owner except through the NoticeChannel,
// and never takes a lock the owner holds. A buffer belongs to the device from write()/addBuffer()
// until the device gives it back (its notice is sent, or reset()/close() returned): the owner may
// not touch its data meanwhile, except through replaceWaiting().
#include "jobs/Dispatcher.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::audio {

// Result codes.
enum WaveResult : int {
    kWaveOk = 0,
    kWaveError = 1,         // unspecified failure
    kWaveBadDeviceId = 2,   // no such device
    kWaveAllocated = 4,     // device busy
    kWaveInvalidHandle = 5, // device not open
    kWaveNoDriver = 6,
    kWaveNoMem = 7,
    kWaveInvalidParam = 11,
    kWaveBadFormat = 32,    // the device cannot play or record this format
    kWaveStillPlaying = 33, // the buffer is still with the device
    kWaveUnprepared = 34,   // the buffer was not prepared
};

// A PCM format record.
struct WaveFormat {
    uint16_t formatTag = 1;
    uint16_t channels = 2;
    uint32_t sampleRate = 44100;
    uint32_t avgBytesPerSec = 176400;
    uint16_t blockAlign = 4;
    uint16_t bitsPerSample = 16;
    uint16_t extraSize = 0;

    static WaveFormat pcm(uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample);
    uint32_t bytesPerSample() const { return (bitsPerSample + 7u) / 8u; }
};

// One buffer handed to a device.
struct WaveHeader {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;
    // Capture: bytes filled. Written by the device before it gives the buffer back.
    uint32_t bytesRecorded = 0;
    bool prepared = false;
    uintptr_t user = 0;

    // The device's side of the hand-over; owners leave these alone.
    // The data block while the buffer waits in the device's queue; null once the device took it.
    std::atomic<uint8_t*> waiting{nullptr};
    // Set from write/addBuffer until the device gave the buffer back.
    std::atomic<bool> inDevice{false};

    bool withDevice() const { return inDevice.load(std::memory_order_acquire); }
};

// How a device reports a buffer it gives back: the header and the bytes it played or recorded.
using WaveNotice = std::function<void(WaveHeader& header, uint32_t bytes)>;

// Carries notices from a device to its owner. A posted channel delivers them on the dispatcher's
// thread, in order; a direct channel calls the function on the device's own thread (which must
// then do no more than signal, as TAudioDriver's semaphore does). The owner disarms the channel
// before it goes away; notices still in the dispatcher's queue are then dropped.
class NoticeChannel {
public:
    static std::shared_ptr<NoticeChannel> posted(jobs::Dispatcher& dispatcher, WaveNotice notice);
    static std::shared_ptr<NoticeChannel> direct(WaveNotice notice);

    // Device side: hand a buffer back.
    void deliver(WaveHeader& header, uint32_t bytes);
    // Owner side (the dispatcher's thread for a posted channel).
    void disarm() { armed_ = false; }

    NoticeChannel(jobs::Dispatcher* dispatcher, WaveNotice notice, bool direct);

private:
    jobs::Dispatcher* dispatcher_;
    WaveNotice notice_;
    bool direct_;
    bool armed_ = true; // touched on the owner's thread only
    std::weak_ptr<NoticeChannel> self_;
};

// What a device list shows. Device -1 is the default device; 0 and up follow in system order.
struct WaveDeviceInfo {
    int id = -1;
    std::string name;        // the backend's name for it (an ALSA PCM name)
    std::string productName; // what the user sees, at most 32 characters
};

// Volume word: low 16 bits the left channel, high 16 bits the right; 0xFFFF is full level.
inline constexpr uint32_t kFullVolume = 0xFFFFFFFFu;

// Scales interleaved PCM in place by a volume word (mono uses the left level). Full volume leaves
// the bytes untouched.
void applyVolume(uint8_t* data, size_t bytes, const WaveFormat& format, uint32_t volume);

// Swaps the byte order of every sample in place (AIFF data is big-endian), and for 8-bit data
// turns AIFF's signed bytes into the unsigned bytes Wave and the devices use.
void toLittleEndianPcm(uint8_t* data, size_t bytes, uint16_t bitsPerSample);

// Common to every output backend: preparing, the software volume, swapping a waiting buffer.
class WaveOutDevice {
public:
    virtual ~WaveOutDevice() = default;

    virtual int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) = 0;
    // Gives every buffer back (noticed) and closes. Nothing happens when not open.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Queues a prepared buffer.
    virtual int write(WaveHeader& header) = 0;
    // Synchronous; see the top of this file.
    virtual int reset() = 0;
    // Bytes played since open or the last reset.
    virtual uint64_t position() const = 0;
    // Bytes handed on to the backend's own buffers (the start-up latency measure); the position
    // for backends without such buffers.
    virtual uint64_t bytesHandedOver() const { return position(); }
    const std::string& lastError() const { return lastError_; }
    const WaveFormat& format() const { return format_; }

    int prepare(WaveHeader& header);
    int unprepare(WaveHeader& header);
    int getVolume(uint32_t& volume) const;
    int setVolume(uint32_t volume);
    // Swaps the data block of a buffer that still waits in the queue (the device has not begun
    // to play it) for `block`. True when swapped: `block` then holds the previous data block and
    // header.data the new one. False when the device already took the buffer or does not hold it.
    static bool replaceWaiting(WaveHeader& header, uint8_t*& block);

protected:
    WaveFormat format_;
    std::string lastError_;
    std::atomic<uint32_t> volume_{kFullVolume};
};

class WaveInDevice {
public:
    virtual ~WaveInDevice() = default;
    virtual int open(const WaveFormat& format, std::shared_ptr<NoticeChannel> notices) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Queues a prepared buffer to be filled.
    virtual int addBuffer(WaveHeader& header) = 0;
    // Starts capturing into the queued buffers.
    virtual int start() = 0;
    // Synchronous: stops capturing; every buffer comes back, a partly filled one with its bytes.
    virtual int reset() = 0;
    const std::string& lastError() const { return lastError_; }
    const WaveFormat& format() const { return format_; }

    int prepare(WaveHeader& header);
    int unprepare(WaveHeader& header);

protected:
    WaveFormat format_;
    std::string lastError_;
};

// Where devices come from: the ALSA backend for the program, virtual devices for tests.
class WaveDeviceProvider {
public:
    virtual ~WaveDeviceProvider() = default;
    virtual std::vector<WaveDeviceInfo> outputs() = 0;
    virtual std::vector<WaveDeviceInfo> inputs() = 0;
    // A device object for a number; one for an unknown number fails to open with kWaveBadDeviceId.
    virtual std::unique_ptr<WaveOutDevice> createOutput(int id) = 0;
    virtual std::unique_ptr<WaveInDevice> createInput(int id) = 0;

    // Adds a device by its backend name (an ALSA PCM name such as "null") to both lists, or finds
    // it there; returns its number. A backend that takes no names gives its default device (-1).
    virtual int addDevice(const std::string& name);
    // The number of a device given as a number or as a name in the lists; a name not listed is
    // added. Nothing for a number that is not listed.
    std::optional<int> resolve(const std::string& numberOrName);
};

// The wave devices this build offers the program: ALSA's when it is built in, otherwise the
// virtual devices. Defined by whichever backend target the build links.
std::unique_ptr<WaveDeviceProvider> makeDefaultWaveDevices();

// The hand-over of a buffer, for backends.
namespace detail {
// Owner side of write/addBuffer: marks the header as the device's; fails with a code when it is
// not prepared or already with the device.
int handOver(WaveHeader& header);
// Device side: takes a queued buffer's data block.
uint8_t* take(WaveHeader& header);
// Device side: the buffer is the owner's again (before its notice is delivered).
inline void giveBack(WaveHeader& header) { header.inDevice.store(false, std::memory_order_release); }
} // namespace detail

// The product name of a device number in a list ("" when it is not there).
std::string productNameOf(const std::vector<WaveDeviceInfo>& devices, int id);

} // namespace cleavix::audio
