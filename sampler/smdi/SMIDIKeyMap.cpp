// TSMIDIDriver's key maps: nothing for generic SMDI and E-mu (their keys travel in the key-range
// sample header); for the Yamaha models system-exclusive messages through the MIDI output, after
// listing the sampler's names (A3000, A4000, A5000) or at once (EX).
//
// Threads: main thread only, like the rest of the driver.
#include "sampler/midi/MidiOut.h"
#include "sampler/smdi/SMIDIDriver.h"
#include "sampler/smdi/YamahaKeyMap.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace cleavix::sampler::smdi {

namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

void TSMIDIDriver::mapSamples(const MapSamplesArgs& args) {
    begin(State::Mapping, [this, finished = args.finished] {
        if (finished) {
            finished();
        } else if (doneEvent_) {
            doneEvent_();
        }
    });
    if (state_ != State::Mapping) {
        return;
    }
    map_ = args;
    mapMessages_.clear();
    const uint8_t type = profile_.deviceType;
    if (!yamaha::isYamaha(type)) {
        soon([this] { finish(); });
        return;
    }
    if (type == uint8_t(yamaha::Model::Ex)) {
        soon([this] { buildMap(); });
        return;
    }
    // The sampler's own names first, so that each entry names a sample it holds.
    state_ = State::Listing;
    collecting_ = true;
    startListing();
}

std::vector<std::string> TSMIDIDriver::sentNames() const {
    if (!names_.empty()) {
        return names_;
    }
    std::vector<std::string> out;
    const std::string base = std::filesystem::path(map_.baseSampleName).stem().string();
    for (size_t i = 0; i < map_.sampleCount; ++i) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%03zu", (i + 1) % 1000);
        out.push_back(base + digits);
    }
    return out;
}

// The exact name first (blanks at either end ignored), then the last listed name containing it.
std::string TSMIDIDriver::samplerName(const std::string& sent) const {
    const std::string wanted = trimmed(sent);
    for (auto it = found_.rbegin(); it != found_.rend(); ++it) {
        if (trimmed(*it) == wanted) {
            return *it;
        }
    }
    if (!wanted.empty()) {
        for (auto it = found_.rbegin(); it != found_.rend(); ++it) {
            if (it->find(wanted) != std::string::npos) {
                return *it;
            }
        }
    }
    return sent;
}

void TSMIDIDriver::buildMap() {
    state_ = State::Mapping;
    collecting_ = false;
    const auto names = sentNames();
    if (names.empty()) {
        fail("There are no samples to map");
        return;
    }
    const auto keys = assignKeysFromBase(int(names.size()), map_.baseNote, map_.keySpan, map_.whiteKeysOnly);
    if (!keys) {
        fail("The samples do not fit on the keyboard from this base note");
        return;
    }
    const auto model = yamaha::Model(profile_.deviceType);
    const uint8_t device = yamaha::deviceNumber(profile_.sysexId);
    std::vector<std::vector<uint8_t>> blocks;
    if (model == yamaha::Model::Ex) {
        std::vector<yamaha::ExKey> exKeys;
        for (size_t i = 0; i < keys->size(); ++i) {
            exKeys.push_back({uint16_t(std::clamp<int64_t>(int64_t(map_.firstSampleNumber) + int64_t(i), 0, 0xFFFF)),
                              uint8_t((*keys)[i].root)});
        }
        mapMessages_.push_back(yamaha::exVoiceBulk(map_.programName, exKeys));
        blocks = mapMessages_;
    } else {
        std::vector<std::string> onSampler;
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string name = yamaha::foldName(samplerName(names[i]), yamaha::kNameWidth);
            onSampler.push_back(name);
            const auto& k = (*keys)[i];
            mapMessages_.push_back(yamaha::nameMessage(device, name));
            mapMessages_.push_back(yamaha::keyMessage(device, yamaha::KeyParameter::Root, uint8_t(k.root)));
            mapMessages_.push_back(yamaha::keyMessage(device, yamaha::KeyParameter::High, uint8_t(k.high)));
            mapMessages_.push_back(yamaha::keyMessage(device, yamaha::KeyParameter::Low, uint8_t(k.low)));
        }
        blocks = mapMessages_;
        const auto bulk = yamaha::programBulk(model, device, map_.programName, onSampler);
        mapMessages_.insert(mapMessages_.end(), bulk.begin(), bulk.end());
        const auto pieces = yamaha::outputBlocks(model, bulk);
        blocks.insert(blocks.end(), pieces.begin(), pieces.end());
    }

    if (!output_) {
        fail(kKeymapError);
        return;
    }
    status("Mapping samples...");
    try {
        const bool opened = !output_->isOpen();
        if (opened) {
            // The profile's own port or none: another port must not get the messages instead.
            if (profile_.midiOutput >= output_->devices().size()) {
                throw midi::EmidioutputError("MIDI output " + std::to_string(profile_.midiOutput) + " is not installed");
            }
            output_->setDeviceId(profile_.midiOutput);
            output_->openDevice();
        }
        for (const auto& block : blocks) {
            output_->sendLong(block.data(), block.size());
        }
        if (opened) {
            output_->closeDevice();
        }
    } catch (const std::exception& e) {
        if (output_->isOpen()) {
            output_->closeDevice(std::chrono::milliseconds(0));
        }
        fail(std::string(kKeymapError) + "\r\n" + e.what());
        return;
    }
    finish();
}

} // namespace cleavix::sampler::smdi
