#include "session/TransferRules.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace cleavix::session {

namespace pf = sampler::profiles;

std::optional<RegionPlan> planRegion(const sample::SampleFormat& format, uint32_t left, uint32_t right,
                                     bool bothChannels, int channel, std::string* why) {
    auto refuse = [why]() -> std::optional<RegionPlan> {
        if (why != nullptr) {
            *why = kMsgRegionTooShort;
        }
        return std::nullopt;
    };
    right = std::min(right, format.dataLength);
    if (right <= left) {
        return refuse();
    }
    RegionPlan plan;
    int64_t length = 0;
    if (format.channels != 2) {
        plan.start = left & ~1u;
        length = int64_t(right) - plan.start;
        length -= length % 2;
    } else {
        const uint32_t frame = left & ~3u;
        const int64_t channelBytes = (int64_t(right) - frame) / 8 * 4;
        if (bothChannels) {
            plan.start = frame;
            length = channelBytes;
            plan.channelsToSend = 2;
            plan.keepStereo = true;
        } else {
            plan.start = frame + (channel == 2 ? 2u : 0u);
            length = channelBytes - 2;
        }
    }
    if (length < 2) {
        return refuse();
    }
    plan.length = uint32_t(length);
    return plan;
}

int32_t maxSampleNumber(pf::DriverKind kind) {
    switch (kind) {
    case pf::DriverKind::Sds:
        return 16383;
    case pf::DriverKind::Smdi:
        return 0xFFFFFF;
    case pf::DriverKind::Akai:
        return 16383;
    }
    return 0;
}

std::string checkSampleNumber(int32_t number, pf::DriverKind kind) {
    const int32_t top = maxSampleNumber(kind);
    if (number < 0 || number > top) {
        return "Sample number " + std::to_string(number) + " is out of range (0 to " + std::to_string(top) +
               "); check the position and the profile's offset";
    }
    return {};
}

std::string regionSampleName(const std::string& fileName) {
    std::string name = std::filesystem::path(fileName).filename().string();
    const auto dot = name.find('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string batchSampleName(const std::string& path, size_t limit) {
    std::string name = std::filesystem::path(path).filename().string();
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.resize(dot);
    }
    if (limit > 0 && name.size() > limit) {
        name.resize(limit);
    }
    return name;
}

size_t nameLimitFor(int deviceType) {
    if (deviceType == 2) {
        return 12;
    }
    if (deviceType == 5) {
        return 9;
    }
    return 0;
}

std::string sanitiseReceivedName(const std::string& name) {
    std::string out;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) {
            continue;
        }
        out.push_back(c);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "Untitled";
    }
    out = out.substr(first, out.find_last_not_of(' ') - first + 1);
    // "." and ".." would name folders, not files.
    if (out.find_first_not_of('.') == std::string::npos) {
        return "Untitled";
    }
    return out;
}

uint32_t roundSampleRate(uint32_t rate) {
    const auto rounded = uint32_t(std::nearbyint(double(rate) / 10.0)) * 10u;
    return rounded >= 44000 && rounded <= 44200 ? 44100u : rounded;
}

} // namespace cleavix::session
