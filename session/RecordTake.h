#pragma once
// A recording being made: the session's recorder writing into a working file of its own, the
// input level meter, and the free-space watch of the working folder. Nothing of the loaded sample
// changes while a take exists; Session::keepRecording() turns a take into the sample, and a take
// dropped without that leaves no trace (its file goes with it).
//
// Threads: main thread only. The recorder's buffers come back through the dispatcher, so a caller
// that waits for a take runs the main loop.
#include "audio/MeterData.h"
#include "jobs/Prompter.h"
#include "sample/FileAndMemoryStream.h"
#include "sample/SampleFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace cleavix::session {

class Session;

// The rates a take may have.
inline constexpr uint32_t kMinRecordRate = 4000;
inline constexpr uint32_t kMaxRecordRate = 192000;
// A take stops when less than this is left free in the working folder.
inline constexpr uint64_t kRecordReserveBytes = 65536;
inline constexpr const char* kMsgRecordDiskFull =
    "The working folder is nearly full: recording stopped.\r\nThe part recorded so far is kept.";

inline constexpr const char* kMsgRecordTooLong =
    "The take has reached the largest size a Wave file holds: recording stopped.\r\nThe part recorded so far is kept.";

class RecordTake {
public:
    enum class State { Waiting, Armed, Recording };

    // Made by Session::DoRecord(). Throws sample::StreamError when the take file cannot be made.
    explicit RecordTake(Session& session);
    ~RecordTake();
    RecordTake(const RecordTake&) = delete;
    RecordTake& operator=(const RecordTake&) = delete;

    State state() const { return state_; }
    uint32_t rate() const { return rate_; }
    uint16_t channels() const { return channels_; }
    static constexpr uint16_t bits() { return 16; }
    // A new format, while waiting and only for 1 or 2 channels at 4000..192000 Hz.
    bool setFormat(uint32_t rate, uint16_t channels);

    // Opens the input and its buffers (Armed); false, still waiting, when the input would not open.
    bool arm();
    // Starts recording, opening the input first unless armed; the bytes follow what was recorded
    // before in this take.
    bool record();
    // Back to waiting: recording stopped, the input closed, what was recorded kept.
    void stop();
    // The dialog's 100 ms step: notices a recorder that stopped by itself (a failed write) and
    // stops the take when the working folder runs out of room.
    void tick();
    // While waiting: keeps no more than the first `bytes` (whole frames) of the take.
    void trim(uint64_t bytes);
    // True once the take was stopped for want of room.
    bool stoppedForSpace() const { return stoppedForSpace_; }
    // True once the take was stopped at byteLimit.
    bool stoppedForLength() const { return stoppedForLength_; }
    // The most a take holds (whole frames of it): what a sample's data may be. Tests lower it.
    uint64_t byteLimit = sample::kMaxDataLength;

    // Whole frames recorded so far in this take.
    uint64_t recordedBytes() const;
    // Free bytes in the working folder.
    uint64_t freeBytes() const;
    // "Recorded:" and "Remaining:" as positions in the given units, counted in this take's format.
    std::string recordedText(int units) const;
    std::string remainingText(int units) const;

    // Input monitoring: the meter captures on its own while no recording runs. False when there
    // is no meter to show (the input would not open): the caller then offers no monitoring.
    bool setMonitor(bool on);
    bool monitoring() const { return meter_.Active(); }
    // The first channel's current peak, 0 to meterMaximum(); 0 while the meter is off.
    int32_t level();
    int32_t meterMaximum() const { return 32768; }
    audio::TMeterData& meter() { return meter_; }

    // Where the free space is read from; statvfs of the working folder unless a test sets it.
    std::function<uint64_t()> freeSpaceProbe;

    const sample::TFileAndMemoryStream& stream() const { return *file_; }

private:
    bool openInput();
    void finishRun();
    void giveBackStore();
    void restartMonitor();
    uint64_t frameLimit() const;

    Session& session_;
    std::unique_ptr<sample::TFileAndMemoryStream> file_;
    audio::TMeterData meter_;
    State state_ = State::Waiting;
    uint32_t rate_ = 44100;
    uint16_t channels_ = 1;
    uint64_t kept_ = 0;     // bytes of the runs finished so far
    bool running_ = false;  // the recorder was started in the current run
    bool stoppedForSpace_ = false;
    bool stoppedForLength_ = false;
};

} // namespace cleavix::session
