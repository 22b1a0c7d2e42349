#pragma once
// What the output ports of every backend share: a queue of messages and a writer thread that
// hands each one to the backend's writeOut() (which returns once the message has left), then
// reports the completion of a block. Every block queued ends exactly once: written, failed, or
// dropped by close.
//
// Threads: sendShort/sendLong/drain from the owner's thread; writeOut() and the completion on
// the writer thread.
#include "sampler/midi/MidiBackend.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace cleavix::sampler::midi {

// An eventfd that wakes a poll loop to stop it.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    int fd() const { return fd_; }
    void raise() const;

private:
    int fd_;
};

class QueuedOutPort : public MidiOutPort {
public:
    int sendShort(uint8_t status, uint8_t data1, uint8_t data2) override;
    int sendLong(const uint8_t* data, size_t size) override;
    bool drain(std::chrono::milliseconds deadline) override;
    const std::string& lastError() const override { return error_; }

protected:
    // Writer thread: writes one message and waits until it has left; 0 or a negative code.
    virtual int writeOut(const std::vector<uint8_t>& bytes) = 0;
    // The text for a code writeOut returned.
    virtual std::string describe(int code) const { return midiErrorText(code); }

    void startWriter(MidiCompletion completed);
    // Stops the writer (raising stopSignal_ for a writer waiting in poll) and ends what is left.
    void stopWriter();
    bool stopping();
    StopSignal stopSignal_;
    std::string error_;

private:
    struct Block {
        std::vector<uint8_t> bytes;
        bool isLong = false;
    };
    int queue(const uint8_t* data, size_t size, bool isLong);
    void run();
    MidiCompletion completed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Block> queue_;
    bool stop_ = false;
    bool busy_ = false;
    std::thread thread_;
};

} // namespace cleavix::sampler::midi
