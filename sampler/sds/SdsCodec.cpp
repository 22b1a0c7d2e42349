#include "sampler/sds/SdsCodec.h"

#include <algorithm>
#include <cmath>

namespace cleavix::sampler::sds {

namespace {

void put7(uint8_t* out, uint32_t value, int groups) {
    for (int i = 0; i < groups; ++i) {
        out[i] = uint8_t((value >> (7 * i)) & 0x7F);
    }
}

uint32_t get7(const uint8_t* in, int groups) {
    uint32_t value = 0;
    for (int i = 0; i < groups; ++i) {
        value |= uint32_t(in[i] & 0x7F) << (7 * i);
    }
    return value;
}

bool sevenBit(const uint8_t* data, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (data[i] & 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

Header encodeHeader(const DumpHeader& h) {
    Header out{};
    out[0] = 0xF0;
    out[1] = 0x7E;
    out[2] = h.channel & 0x7F;
    out[3] = kSubHeader;
    put7(&out[4], h.sampleNumber, 2);
    out[6] = h.bits & 0x7F;
    put7(&out[7], h.periodNs, 3);
    put7(&out[10], h.lengthWords, 3);
    put7(&out[13], h.loopStart, 3);
    put7(&out[16], h.loopEnd, 3);
    out[19] = h.loopType & 0x7F;
    out[20] = 0xF7;
    return out;
}

std::optional<DumpHeader> decodeHeader(const uint8_t* data, size_t size) {
    if (size != kHeaderBytes || data[0] != 0xF0 || data[1] != 0x7E || data[3] != kSubHeader || data[20] != 0xF7 ||
        !sevenBit(data, 1, 20)) {
        return std::nullopt;
    }
    DumpHeader h;
    h.channel = data[2];
    h.sampleNumber = get7(&data[4], 2);
    h.bits = data[6];
    h.periodNs = get7(&data[7], 3);
    h.lengthWords = get7(&data[10], 3);
    h.loopStart = get7(&data[13], 3);
    h.loopEnd = get7(&data[16], 3);
    h.loopType = data[19];
    return h;
}

uint32_t periodForRate(uint32_t rate) {
    return rate == 0 ? 0 : uint32_t(std::nearbyint(1e9 / double(rate)));
}

uint32_t rateForPeriod(uint32_t periodNs) {
    return periodNs == 0 ? 0 : uint32_t(std::nearbyint(1e9 / double(periodNs)));
}

std::string checkSampleNumber(int64_t sampleNumber) {
    if (sampleNumber < 0 || sampleNumber > int64_t(kMaxSampleNumber)) {
        return "Sample number " + std::to_string(sampleNumber) + " is out of range (0 to 16383)";
    }
    return {};
}

std::string checkSendable(uint32_t rate, uint64_t lengthWords, int64_t sampleNumber) {
    if (rate == 0) {
        return "Sample rate 0 cannot be sent";
    }
    const uint32_t period = periodForRate(rate);
    if (period == 0 || period > kMax21Bits) {
        return "Sample rate " + std::to_string(rate) + " Hz cannot be sent: its period of " + std::to_string(period) +
               " ns does not fit a sample dump header";
    }
    if (lengthWords > kMax21Bits) {
        return "Sample too long for a sample dump: " + std::to_string(lengthWords) + " words (at most 2097151)";
    }
    return checkSampleNumber(sampleNumber);
}

void encodeSample(int16_t value, uint8_t* out3) {
    const auto u = uint16_t(int32_t(value) + 0x8000);
    out3[0] = uint8_t((u >> 9) & 0x7F);
    out3[1] = uint8_t((u >> 2) & 0x7F);
    out3[2] = uint8_t((u & 3) << 5);
}

int16_t decodeSample(const uint8_t* in3) {
    const uint32_t u = (uint32_t(in3[0] & 0x7F) << 9) | (uint32_t(in3[1] & 0x7F) << 2) | (uint32_t(in3[2] & 0x7F) >> 5);
    return int16_t(int32_t(u) - 0x8000);
}

uint8_t packetChecksumOfSamples(const uint8_t* packet, size_t samples) {
    uint8_t sum = uint8_t(0x7E ^ packet[2] ^ kSubPacket ^ packet[4]);
    const size_t bytes = std::min(samples, kWordsPerPacket) * 3;
    for (size_t i = 0; i < bytes; ++i) {
        sum ^= packet[5 + i];
    }
    return sum & 0x7F;
}

uint8_t packetChecksum(const uint8_t* packet) { return packetChecksumOfSamples(packet, kWordsPerPacket); }

Packet encodePacket(uint8_t channel, uint8_t number, const int16_t* samples, size_t count) {
    Packet out{};
    out[0] = 0xF0;
    out[1] = 0x7E;
    out[2] = channel & 0x7F;
    out[3] = kSubPacket;
    out[4] = number & 0x7F;
    const size_t n = std::min(count, kWordsPerPacket);
    for (size_t i = 0; i < n; ++i) {
        encodeSample(samples[i], &out[5 + 3 * i]);
    }
    out[125] = packetChecksum(out.data());
    out[126] = 0xF7;
    return out;
}

PacketView checkPacket(const uint8_t* data, size_t size, size_t samples) {
    PacketView view;
    if (size != kPacketBytes) {
        view.fault = PacketFault::Length;
        return view;
    }
    if (data[0] != 0xF0 || data[1] != 0x7E || data[3] != kSubPacket) {
        view.fault = PacketFault::NoStart;
        return view;
    }
    if (data[126] != 0xF7) {
        view.fault = PacketFault::NoEnd;
        return view;
    }
    if (!sevenBit(data, 1, 126)) {
        view.fault = PacketFault::NotSevenBit;
        return view;
    }
    view.channel = data[2];
    view.number = data[4];
    if (data[125] != packetChecksum(data) && data[125] != packetChecksumOfSamples(data, samples)) {
        view.fault = PacketFault::Checksum;
    }
    return view;
}

const char* packetFaultText(PacketFault fault) {
    switch (fault) {
    case PacketFault::None: return "";
    case PacketFault::Length: return "wrong length";
    case PacketFault::NoStart: return "not a data packet";
    case PacketFault::NoEnd: return "no end byte";
    case PacketFault::NotSevenBit: return "data byte over 7 bits";
    case PacketFault::Checksum: return "bad checksum";
    }
    return "";
}

std::array<uint8_t, kRequestBytes> encodeRequest(uint8_t channel, uint32_t sampleNumber) {
    std::array<uint8_t, kRequestBytes> out{0xF0, 0x7E, uint8_t(channel & 0x7F), kSubRequest, 0, 0, 0xF7};
    put7(&out[4], sampleNumber, 2);
    return out;
}

std::array<uint8_t, kHandshakeBytes> encodeHandshake(uint8_t sub, uint8_t channel, uint8_t packet) {
    return {0xF0, 0x7E, uint8_t(channel & 0x7F), sub, uint8_t(packet & 0x7F), 0xF7};
}

std::optional<Handshake> decodeHandshake(const uint8_t* data, size_t size) {
    if (size != kHandshakeBytes || data[0] != 0xF0 || data[1] != 0x7E || data[5] != 0xF7 || !sevenBit(data, 1, 5)) {
        return std::nullopt;
    }
    const uint8_t sub = data[3];
    if (sub != kSubAck && sub != kSubNak && sub != kSubWait && sub != kSubCancel) {
        return std::nullopt;
    }
    return Handshake{sub, data[2], data[4]};
}

std::string hexLine(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i) {
            line += ' ';
        }
        line += digits[data[i] >> 4];
        line += digits[data[i] & 15];
    }
    return line;
}

} // namespace cleavix::sampler::sds
