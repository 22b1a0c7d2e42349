#pragma once
// A sample dump set-up for tests: a main loop, the virtual ports (cable and emulated sampler),
// one TMidiInput and TMidiOutput on them and a TSDSDriver, with helpers that run a send or a
// receive to its end. Port 0 is the cable, port 1 the emulated sampler.
#include "jobs/MainLoop.h"
#include "sample/FileAndMemoryStream.h"
#include "sampler/midi/MidiIn.h"
#include "sampler/midi/MidiOut.h"
#include "sampler/sds/SdsDriver.h"
#include "sampler/virtual/MidiBackendList.h"
#include "slicing/WaveSmoother.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cleavix::test::sds {

inline constexpr uint8_t kCable = 0;
inline constexpr uint8_t kSampler = 1;

// Posts an empty call now and then, so runUntil() can look at its deadline.
class LoopTicker {
public:
    explicit LoopTicker(jobs::MainLoop& loop)
        : thread_([this, &loop] {
              while (!stop_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  loop.post([] {});
              }
          }) {}
    ~LoopTicker() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs the loop until `done` or the deadline; false on the deadline.
inline bool runUntil(jobs::MainLoop& loop, const std::function<bool()>& done,
                     std::chrono::seconds limit = std::chrono::seconds(60)) {
    LoopTicker ticker(loop);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    loop.runUntil([&] {
        timedOut = std::chrono::steady_clock::now() > deadline;
        return timedOut || done();
    });
    return !timedOut;
}

struct Rig {
    explicit Rig(const std::string& faults = "", const std::string& folder = "")
        : sampler(std::make_shared<sampler::virt::VirtualSdsSampler>(folder, faults)),
          ports(sampler::virt::makeVirtualMidiBackend(sampler)), input(loop, {ports}), output(loop, {ports}),
          driver(loop) {
        input.setCapacity(4096);
        driver.setMidiPorts(&input, &output);
        driver.setSampleSource(&smoother);
        driver.setStatusPanel([this](const std::string& text) { statuses.push_back(text); });
        driver.setCapture([this](char direction, const uint8_t* data, size_t size) {
            std::lock_guard lock(captureMutex);
            captured.push_back({direction, std::vector<uint8_t>(data, data + size)});
        });
    }

    void useProfile(uint8_t in, uint8_t out, bool openLoop = false, uint8_t channel = 1) {
        sampler::SamplerProfile profile;
        profile.midiInput = in;
        profile.midiOutput = out;
        profile.openLoop = openLoop ? 1 : 0;
        profile.midiChannel = channel;
        driver.setProfile(profile);
    }

    bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60)) {
        return sds::runUntil(loop, done, limit);
    }

    // Sends mono 16-bit samples from the store as sample `number`; returns once the send ended.
    sampler::sds::SdsSendReport send(const std::vector<int16_t>& samples, uint32_t rate, int32_t number = 0,
                                     int smooth = 0) {
        store.clear();
        store.writeAll(samples.data(), samples.size() * 2);
        driver.setSampleStore(&store);
        auto settings = smoother.settings();
        settings.level = smooth;
        smoother.configure(settings);
        sampler::SendSampleArgs args;
        args.sampleNumber = number;
        args.length = uint32_t(samples.size() * 2);
        args.sampleRate = rate;
        args.single = true;
        return runSend(args);
    }

    sampler::sds::SdsSendReport runSend(const sampler::SendSampleArgs& args) {
        bool ended = false;
        driver.setDoneEvent([&] { ended = true; });
        sampler::SendSampleArgs copy = args;
        if (copy.fromFile) {
            copy.next = [&] { ended = true; };
        }
        driver.clearError();
        driver.sendSample(copy);
        EXPECT_TRUE(runUntil([&] { return ended; })) << "the send never ended";
        return driver.lastSend();
    }

    // Starts a receive of sample `number` into `received`; `receiveEnd` holds its end once it came.
    void startReceive(int32_t number) {
        receiveEnd.reset();
        driver.setSampleStore(&received);
        driver.clearError();
        driver.receiveSample(number, [this](const sampler::ReceivedSample& r) { receiveEnd = r; });
    }

    sampler::ReceivedSample receive(int32_t number) {
        startReceive(number);
        EXPECT_TRUE(runUntil([&] { return receiveEnd.has_value(); })) << "the receive never ended";
        return receiveEnd.value_or(sampler::ReceivedSample{});
    }

    std::vector<int16_t> receivedSamples() const {
        std::vector<int16_t> out(size_t(received.size() / 2));
        received.readAt(0, out.data(), out.size() * 2);
        return out;
    }

    std::vector<std::vector<uint8_t>> sentMessages() {
        std::lock_guard lock(captureMutex);
        std::vector<std::vector<uint8_t>> out;
        for (const auto& [direction, bytes] : captured) {
            if (direction == '>') {
                out.push_back(bytes);
            }
        }
        return out;
    }

    jobs::MainLoop loop;
    std::shared_ptr<sampler::virt::VirtualSdsSampler> sampler;
    std::shared_ptr<sampler::midi::VirtualMidiBackend> ports;
    sampler::midi::TMidiInput input;
    sampler::midi::TMidiOutput output;
    slicing::TWaveSmoother smoother;
    sampler::sds::TSDSDriver driver;
    sample::TFileAndMemoryStream store;
    sample::TFileAndMemoryStream received;
    std::optional<sampler::ReceivedSample> receiveEnd;
    std::vector<std::string> statuses;
    std::mutex captureMutex;
    std::vector<std::pair<char, std::vector<uint8_t>>> captured;
};

} // namespace cleavix::test::sds
