#pragma once
// The MIDI side of an emulated Yamaha sampler (A3000, EX, A4000, A5000): an endpoint on the
// virtual MIDI ports that takes the key-map messages a host writes after an SMDI transfer, checks
// them as the sampler would (framing, counts, checksums, 7-bit data, how long messages are split)
// and records the map they build. Written from the sampler's side with its own parsing.
//
// Threads: fromHost() runs on the output's writer thread; the accessors may be called from any
// thread. One lock guards all state.
#include "sampler/midi/VirtualMidi.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace cleavix::sampler::virt {

class VirtualYamahaListener final : public midi::VirtualMidiEndpoint {
public:
    enum class Model { A3000, Ex, A4000, A5000 };

    struct Key {
        std::string name; // 16 characters as sent
        int root = -1, high = -1, low = -1;
    };
    struct Program {
        std::string name;
        int declaredSamples = 0;
        std::vector<std::string> sampleNames; // non-empty entries in order
        std::vector<int> entryNumbers;
        int zeroEntries = 0;
    };
    struct ExVoice {
        std::string name;
        int declaredSamples = 0;
        std::vector<std::pair<int, int>> keys; // sample number, key
    };

    explicit VirtualYamahaListener(Model model);

    std::string key() const override { return "yamaha"; }
    std::string name() const override { return "Cleavix virtual Yamaha sampler"; }
    void fromHost(const uint8_t* data, size_t size) override;

    std::vector<Key> keys() const;
    std::vector<Program> programs() const;
    std::vector<ExVoice> voices() const;
    // What broke the rules, in order; empty when every message was good.
    std::vector<std::string> errors() const;
    size_t bulkMessages() const;
    size_t largestBulk() const; // bytes of the longest bulk message
    size_t largestBlock() const; // bytes of the longest block the port handed over

private:
    using Bytes = std::vector<uint8_t>;
    void message(const Bytes& m);
    void bulk(const Bytes& m);
    void exVoice(const Bytes& m);
    void parseProgram();
    void error(const std::string& text) { errors_.push_back(text); }

    const Model model_;
    mutable std::mutex mutex_;
    Bytes pending_;     // bytes of a message still arriving in pieces
    Bytes programData_; // bulk data gathered across messages
    std::vector<Key> keys_;
    std::vector<Program> programs_;
    std::vector<ExVoice> voices_;
    std::vector<std::string> errors_;
    size_t bulkMessages_ = 0;
    size_t largestBulk_ = 0;
    size_t largestBlock_ = 0;
};

} // namespace cleavix::sampler::virt
