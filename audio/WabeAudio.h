#pragma once
// twabeAudio: the player and recorder. Plays any byte range of the sample store once or looped
// without a gap, auditions a Wave or AIFF file from disk, and records from an input device into
// the store.
//
// Threads. Everything here runs on the main thread (the dispatcher's): the calls, and the device
// notices, which the wave devices post through the dispatcher. The devices' own threads only see
// buffers already filled here; the store is read (and, when recording, written) on the main
// thread only.
//
// Notice accounting. Every buffer written to the output device comes back exactly once, in order.
// Outstanding counts those that belong to the current play, StaleNotices those that belong to
// plays given up (a restart, a file audition stopped, a new play over an old one); stale notices
// arrive first and are swallowed. Playback ends (OnWaveoutput, once) with the notice that takes
// Outstanding to 0 when nothing is left to refill.
//
// A rendered play (PlayRendered) runs through the same buffers, refills and loop wrapping as a
// region of the store; only its bytes come from a PlaySource, read at offsets into the rendering.
#include "audio/PlaySource.h"
#include "audio/WaveDevice.h"
#include "jobs/Dispatcher.h"
#include "jobs/Prompter.h"
#include "sample/FileAndMemoryStream.h"
#include "sample/WavParser.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleavix::audio {

class TMeterData;

// Messages.
inline constexpr const char* kOutputOpenCaption = "Error Opening Wave Output Device:#";
inline constexpr const char* kInputOpenCaption = "Error opening wave input device:#";
inline constexpr const char* kOutputRateText =
    "Soundcard cannot cope with playback rate of sample;\r\nTry selecting the default device in options.";
inline constexpr const char* kInputRateText =
    "Soundcard cannot cope with sample rate;\r\nTry selecting the default device in options.";
inline constexpr const char* kMsgAddBuffer = "Error adding buffer!";
inline constexpr const char* kMsgAllocHeaders = "An error occured when allocating wave memory.";
inline constexpr const char* kMsgAllocBlocks = "An error occured while allocating wave memory!";
inline constexpr const char* kMsgPrepareRecord = "Error preparing record header.";
inline constexpr const char* kMsgStartRecord = "Error starting record!";
inline constexpr const char* kMsgStopRecord = "Error stopping record!";
inline constexpr const char* kMsgUnprepare = "An error occurred when unpreparing the wave headers";
inline constexpr const char* kMsgCloseInput = "An error occurred when closing the input device.";

inline constexpr int kSlotCount = 10;
inline constexpr uint32_t kRecordBlockBytes = 32768;

// The player's state, named as the engine documents it. Read-only outside twabeAudio.
struct PlayerState {
    uint32_t BuffersInUse = 0;
    uint32_t FillSlot = 0; // 1-based
    uint32_t DoneSlot = 0; // 1-based
    uint64_t RegionStart = 0;
    uint64_t RegionLength = 0;
    uint64_t ReadPosition = 0;
    uint64_t Consumed = 0;
    int32_t Outstanding = 0;
    int32_t StaleNotices = 0;
    bool WholeRegionQueued = false;
    bool LoopInBuffers = false;
    bool StreamingLoop = false;
    bool Playing = false;
    bool Started = false;
    bool FileMode = false;
    // Passes of a looped region queued so far in this play (see LoopLimit).
    uint64_t PassesQueued = 0;
};

struct RecorderState {
    bool RecordPrepared = false;
    bool Recording = false;
    bool InputOpen = false;
    uint64_t RecordedBytes = 0;
    uint32_t NextToQueue = 0;
    uint32_t NextToConsume = 0;
};

class twabeAudio {
public:
    twabeAudio(jobs::Dispatcher& dispatcher, WaveDeviceProvider& devices, jobs::Prompter* prompter = nullptr);
    ~twabeAudio();
    twabeAudio(const twabeAudio&) = delete;
    twabeAudio& operator=(const twabeAudio&) = delete;

    // Published properties.
    const std::string& ProductName() const { return productName_; }
    const std::string& InputProductName() const { return inputProductName_; }
    std::function<void(twabeAudio&)> OnWaveoutput; // playback ran dry
    std::function<void(twabeAudio&)> OnWaveInput;  // declared for symmetry; never fired
    int DeviceID() const { return deviceId_; }
    void setDeviceID(int id);
    int InputDeviceID() const { return inputDeviceId_; }
    void setInputDeviceID(int id);

    // Settings, set by the owner.
    uint8_t BufferSize = 4;  // seconds a buffer holds, 1 to 10
    uint8_t BufferCount = 6; // buffers queued at once, 1 to 10
    uint8_t Channels = 2;
    uint8_t BitsPerSample = 16;
    uint32_t SampleRate = 44100;
    // Set while a worker owns the store: refills then queue silence and leave the store alone.
    bool StoreBusy = false;
    // Set just before a stop that is followed at once by a new play: the stop's notices are then
    // swallowed instead of ending playback.
    bool RestartPending = false;
    // 0: a looped play repeats until stopped. Otherwise it ends, as a single play does, once the
    // region has been queued this many times in all.
    uint64_t LoopLimit = 0;
    uint8_t RecordChannels = 2;
    uint32_t RecordRate = 44100;
    uint8_t RecordRingSize = 4;
    // Fed with every recorded buffer, when set.
    TMeterData* Meter = nullptr;

    // The sample store, handed over once; the player reads it with positioned reads and the
    // recorder appends to it at its current position.
    void setStore(sample::TFileAndMemoryStream* store) { store_ = store; }

    // Operations.
    int OpenOutput();
    int OpenInput();
    void ReloadQueued();
    void CloseOutput();
    void CloseInput();
    void Stop();
    uint64_t GetPosition() const;
    void SetChannelVolume(int mode);
    bool StartRecord();
    int PlayFile(const std::string& path);
    void PlayRegion(uint64_t start, uint64_t length, bool loop);
    // Plays the whole of a rendering, once or looped without a gap (LoopLimit counts its passes);
    // positions are then offsets into the rendering. The player keeps the source until the next
    // play or stop.
    void PlayRendered(std::shared_ptr<PlaySource> source, bool loop);
    void StopRecord();

    bool IsOpen() const { return output_ && output_->isOpen(); }
    const PlayerState& state() const { return st_; }
    const RecorderState& recorder() const { return rec_; }
    // Bytes in one buffer for the current settings.
    uint64_t bufferBytes() const;
    uint32_t savedVolume() const { return savedVolume_; }
    const std::string& lastError() const { return lastError_; }
    // The final count of the last recording (kept by CloseInput).
    uint64_t lastRecordedBytes() const { return keptRecordedBytes_; }
    WaveOutDevice* outputDevice() { return output_.get(); }
    // The rendering being played; null for a play of the store or of a file.
    const PlaySource* rendered() const { return rendered_.get(); }
    WaveInDevice* inputDevice() { return input_.get(); }

private:
    struct Slot {
        std::unique_ptr<uint8_t[]> block;
        uint32_t allocated = 0;
        uint64_t storePosition = 0;
        uint64_t regionOffset = 0;
        WaveHeader header;
    };

    void outputNotice(WaveHeader& header, uint32_t bytes);
    void inputNotice(WaveHeader& header, uint32_t bytes);
    void finishPlayback();
    void startPlay(uint64_t start, uint64_t length, bool loop);
    uint32_t ringSize() const;
    uint32_t nextSlot(uint32_t slot) const { return slot % ringSize() + 1; }
    bool ensureBlock(Slot& slot, uint64_t bytes);
    // Reads source bytes (the store, or the auditioned file) at a position; zeros where there are
    // none, or while the store is busy.
    void readSource(uint64_t position, uint8_t* out, uint64_t count);
    // Fills `count` bytes cycling through the region from (position, consumed); updates both.
    void fillCyclic(uint8_t* out, uint64_t count, uint64_t& position, uint64_t& consumed, bool countPasses,
                    uint64_t* filled);
    uint64_t fillSlot(Slot& slot, uint64_t B);
    bool writeSlot(Slot& slot, uint32_t length);
    bool loopFinished() const { return LoopLimit != 0 && st_.PassesQueued >= LoopLimit; }
    void show(jobs::MessageKind kind, const std::string& text, const std::string& caption = {});
    bool queueRecordBuffer();
    void takeBackRecordBuffers(bool keepData);
    void appendRecorded(const WaveHeader& header, uint32_t bytes);

    jobs::Dispatcher& dispatcher_;
    WaveDeviceProvider& devices_;
    jobs::Prompter* prompter_;
    std::shared_ptr<NoticeChannel> outputNotices_;
    std::shared_ptr<NoticeChannel> inputNotices_;
    std::unique_ptr<WaveOutDevice> output_;
    std::unique_ptr<WaveInDevice> input_;
    sample::TFileAndMemoryStream* store_ = nullptr;
    std::string productName_;
    std::string inputProductName_;
    int deviceId_ = 0;
    int inputDeviceId_ = 0;
    uint32_t savedVolume_ = kFullVolume;
    std::string lastError_;

    PlayerState st_;
    std::array<Slot, kSlotCount> slots_;
    std::unique_ptr<uint8_t[]> spare_; // ReloadQueued reads into it, then swaps it in
    uint32_t spareSize_ = 0;
    uint64_t B_ = 0; // bytes per buffer of the current play

    std::shared_ptr<PlaySource> rendered_;

    // File audition.
    std::unique_ptr<sample::TWavParser> file_;
    bool fileAiff_ = false;

    RecorderState rec_;
    std::array<WaveHeader, kSlotCount> recordHeaders_;
    std::vector<std::unique_ptr<uint8_t[]>> recordBlocks_;
    uint32_t recordRing_ = 0;
    std::deque<uint32_t> recordInFlight_; // ring indices with the device, oldest first
    int32_t recordStale_ = 0;
    uint64_t keptRecordedBytes_ = 0;
};

} // namespace cleavix::audio
