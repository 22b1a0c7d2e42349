#include "sampler/virtual/SdsFaults.h"

#include <stdexcept>
#include <vector>

namespace cleavix::sampler::virt {

namespace {

int number(const std::string& text, const std::string& item) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) {
        throw std::invalid_argument("fault '" + item + "': '" + text + "' is not a number");
    }
    return std::stoi(text);
}

int packet(const std::string& text, const std::string& item) {
    return text == "header" ? kHeader : number(text, item);
}

// "K@MS" -> (K, MS); "K" -> (K, fallback); "K@never" -> (K, -1).
std::pair<int, int> packetAndTime(const std::string& text, const std::string& item, int fallback) {
    const auto at = text.find('@');
    if (at == std::string::npos) {
        return {packet(text, item), fallback};
    }
    const std::string ms = text.substr(at + 1);
    return {packet(text.substr(0, at), item), ms == "never" ? -1 : number(ms, item)};
}

} // namespace

SdsFaults parseSdsFaults(const std::string& list) {
    SdsFaults faults;
    size_t from = 0;
    while (from <= list.size()) {
        size_t comma = list.find(',', from);
        if (comma == std::string::npos) {
            comma = list.size();
        }
        const std::string item = list.substr(from, comma - from);
        from = comma + 1;
        if (item.empty()) {
            continue;
        }
        const auto colon = item.find(':');
        const std::string name = item.substr(0, colon);
        const std::string value = colon == std::string::npos ? "" : item.substr(colon + 1);
        if (name == "nak") {
            if (value == "all") {
                faults.nakAll = true;
            } else {
                const auto x = value.find('x');
                faults.nak[packet(value.substr(0, x), item)] = x == std::string::npos ? 1 : number(value.substr(x + 1), item);
            }
        } else if (name == "wait") {
            const auto [k, ms] = packetAndTime(value, item, 1000);
            faults.wait[k] = ms;
        } else if (name == "lateack") {
            const auto [k, ms] = packetAndTime(value, item, 7000);
            faults.lateAck[k] = ms;
        } else if (name == "cancel") {
            faults.cancel = packet(value, item);
        } else if (name == "silence" && value.empty()) {
            faults.silence = true;
        } else if (name == "dupack") {
            faults.dupAck = packet(value, item);
        } else if (name == "wrongack") {
            faults.wrongAck = packet(value, item);
        } else if (name == "badsum") {
            faults.badSum = packet(value, item);
        } else if (name == "repeat") {
            faults.repeat = packet(value, item);
        } else if (name == "skip") {
            faults.skip = packet(value, item);
        } else if (name == "short") {
            faults.shortPacket = packet(value, item);
        } else if (name == "nof7") {
            faults.noF7 = packet(value, item);
        } else if (name == "garbage" && value.empty()) {
            faults.garbage = true;
        } else if (name == "filler" && value.empty()) {
            faults.filler = true;
        } else if (name == "extra" && value.empty()) {
            faults.extra = true;
        } else if (name == "bits") {
            faults.bits = number(value, item);
        } else if (name == "period0" && value.empty()) {
            faults.period0 = true;
        } else if (name == "length0" && value.empty()) {
            faults.length0 = true;
        } else if (name == "channel") {
            faults.channel = number(value, item) & 0x7F;
        } else if (name == "realtime" && value.empty()) {
            faults.realTime = true;
        } else {
            throw std::invalid_argument("unknown fault '" + item + "'");
        }
    }
    return faults;
}

} // namespace cleavix::sampler::virt
