#include "sampler/smdi/SmdiCodec.h"

#include <algorithm>
#include <cmath>

namespace cleavix::sampler::smdi {
namespace {

constexpr uint8_t kTag[4] = {'S', 'M', 'D', 'I'};

// The data of an answer within both the bytes transferred and the message's own length.
std::optional<std::span<const uint8_t>> dataOf(std::span<const uint8_t> answer, uint16_t messageId) {
    auto header = parseHeader(answer);
    if (!header || header->id != messageId) {
        return std::nullopt;
    }
    if (answer.size() - kHeaderBytes < header->length) {
        return std::nullopt;
    }
    return answer.subspan(kHeaderBytes, header->length);
}

} // namespace

void putBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

uint32_t getBigEndian(std::span<const uint8_t> bytes, size_t offset, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes[offset + static_cast<size_t>(i)];
    }
    return value;
}

std::vector<uint8_t> message(uint16_t messageId, uint16_t subId, std::span<const uint8_t> data) {
    std::vector<uint8_t> out(std::begin(kTag), std::end(kTag));
    out.reserve(kHeaderBytes + data.size());
    putBigEndian(out, messageId, 2);
    putBigEndian(out, subId, 2);
    putBigEndian(out, static_cast<uint32_t>(std::min<size_t>(data.size(), kMaxLength24)), 3);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> masterIdentify() { return message(id::kIdentify, 0); }
std::vector<uint8_t> ack() { return message(id::kAck, 0); }
std::vector<uint8_t> abortProcedure() { return message(id::kAbortProcedure, 0); }

std::vector<uint8_t> sendNextPacket(uint32_t packetNumber) {
    std::vector<uint8_t> data;
    putBigEndian(data, packetNumber, 3);
    return message(id::kSendNextPacket, 0, data);
}

std::vector<uint8_t> dataPacket(uint32_t packetNumber, std::span<const uint8_t> data) {
    std::vector<uint8_t> body;
    body.reserve(3 + data.size());
    putBigEndian(body, packetNumber, 3);
    body.insert(body.end(), data.begin(), data.end());
    return message(id::kDataPacket, 0, body);
}

std::vector<uint8_t> sampleHeaderRequest(uint32_t sampleNumber) {
    std::vector<uint8_t> data;
    putBigEndian(data, sampleNumber, 3);
    return message(id::kSampleHeaderRequest, 0, data);
}

std::vector<uint8_t> beginSampleTransfer(uint32_t sampleNumber, uint32_t packetLength) {
    std::vector<uint8_t> data;
    putBigEndian(data, sampleNumber, 3);
    putBigEndian(data, packetLength, 3);
    return message(id::kBeginSampleTransfer, 0, data);
}

uint32_t periodOfRate(uint32_t rate) {
    return rate == 0 ? 0 : static_cast<uint32_t>(std::llround(1e9 / rate));
}

uint32_t rateOfPeriod(uint32_t periodNs) {
    return periodNs == 0 ? 0 : static_cast<uint32_t>(std::llround(1e9 / periodNs));
}

std::vector<uint8_t> sampleHeader(const SampleHeader& header) {
    std::vector<uint8_t> data;
    const uint32_t length = header.keys ? kKeyRangeHeaderLength : kPlainHeaderLength;
    data.reserve(length);
    putBigEndian(data, header.number, 3);
    data.push_back(header.bits);
    data.push_back(header.channels);
    putBigEndian(data, header.periodNs, 3);
    putBigEndian(data, header.lengthWords, 4);
    putBigEndian(data, header.loopStart, 4);
    putBigEndian(data, header.loopEnd, 4);
    data.push_back(header.loopControl);
    putBigEndian(data, header.pitch, 2);
    putBigEndian(data, header.pitchFraction, 2);
    if (header.keys) {
        data.push_back(header.keys->root);
        data.push_back(header.keys->low);
        data.push_back(header.keys->high);
    }
    const size_t nameBytes = std::min(header.name.size(), kMaxNameBytes);
    data.push_back(static_cast<uint8_t>(nameBytes));
    data.insert(data.end(), header.name.begin(), header.name.begin() + static_cast<std::ptrdiff_t>(nameBytes));
    data.resize(length, 0);
    return message(id::kSampleHeader, header.keys ? 1 : 0, data);
}

bool hasTag(std::span<const uint8_t> answer) {
    return answer.size() >= 4 && std::equal(std::begin(kTag), std::end(kTag), answer.begin());
}

std::optional<MessageHeader> parseHeader(std::span<const uint8_t> answer) {
    if (answer.size() < kHeaderBytes || !hasTag(answer)) {
        return std::nullopt;
    }
    return MessageHeader{static_cast<uint16_t>(getBigEndian(answer, 4, 2)),
                         static_cast<uint16_t>(getBigEndian(answer, 6, 2)), getBigEndian(answer, 8, 3)};
}

bool isMessage(std::span<const uint8_t> answer, uint16_t messageId, uint16_t subId) {
    auto header = parseHeader(answer);
    return header && header->id == messageId && header->subId == subId;
}

bool isMessage(std::span<const uint8_t> answer, uint16_t messageId) {
    auto header = parseHeader(answer);
    return header && header->id == messageId;
}

std::optional<uint32_t> parseSendNextPacket(std::span<const uint8_t> answer) {
    auto data = dataOf(answer, id::kSendNextPacket);
    if (!data || data->size() < 3) {
        return std::nullopt;
    }
    return getBigEndian(*data, 0, 3);
}

std::optional<BeginTransferAck> parseBeginTransferAck(std::span<const uint8_t> answer) {
    if (!isMessage(answer, id::kBeginSampleTransfer, 1)) {
        return std::nullopt;
    }
    auto data = dataOf(answer, id::kBeginSampleTransfer);
    if (!data || data->size() < 6) {
        return std::nullopt;
    }
    return BeginTransferAck{getBigEndian(*data, 0, 3), getBigEndian(*data, 3, 3)};
}

std::optional<DataPacketView> parseDataPacket(std::span<const uint8_t> answer) {
    auto data = dataOf(answer, id::kDataPacket);
    if (!data || data->size() < 3) {
        return std::nullopt;
    }
    return DataPacketView{getBigEndian(*data, 0, 3), data->subspan(3)};
}

std::optional<SampleHeader> parseSampleHeader(std::span<const uint8_t> answer) {
    auto header = parseHeader(answer);
    if (!header || header->id != id::kSampleHeader || header->subId > 1) {
        return std::nullopt;
    }
    auto data = dataOf(answer, id::kSampleHeader);
    const bool keyed = header->subId == 1;
    const size_t nameLengthAt = keyed ? 28 : 25; // offsets within the data
    if (!data || data->size() <= nameLengthAt) {
        return std::nullopt;
    }
    const auto& d = *data;
    SampleHeader out;
    out.number = getBigEndian(d, 0, 3);
    out.bits = d[3];
    out.channels = d[4];
    out.periodNs = getBigEndian(d, 5, 3);
    out.lengthWords = getBigEndian(d, 8, 4);
    out.loopStart = getBigEndian(d, 12, 4);
    out.loopEnd = getBigEndian(d, 16, 4);
    out.loopControl = d[20];
    out.pitch = static_cast<uint16_t>(getBigEndian(d, 21, 2));
    out.pitchFraction = static_cast<uint16_t>(getBigEndian(d, 23, 2));
    if (keyed) {
        out.keys = KeyRangeBytes{d[25], d[26], d[27]};
    }
    const size_t nameLength = d[nameLengthAt];
    if (d.size() - nameLengthAt - 1 < nameLength) {
        return std::nullopt;
    }
    out.name.assign(d.begin() + static_cast<std::ptrdiff_t>(nameLengthAt + 1),
                    d.begin() + static_cast<std::ptrdiff_t>(nameLengthAt + 1 + nameLength));
    return out;
}

std::string checkReceivedHeader(const SampleHeader& header) {
    if (header.periodNs == 0) {
        return "sample period 0";
    }
    if (header.bits != 16) {
        return "bits per word " + std::to_string(header.bits) + " (only 16 are taken)";
    }
    if (header.channels == 0 || header.channels > 2) {
        return "channels " + std::to_string(header.channels);
    }
    if (uint64_t(header.lengthWords) * header.channels * 2 > 0xFFFFFFFFull) {
        return "sample size beyond 32 bits";
    }
    return {};
}

std::string sizeText(uint32_t totalWords) {
    if (totalWords > 1023) {
        return std::to_string(uint64_t(totalWords / 1024) * 2) + "kb";
    }
    return std::to_string(uint64_t(totalWords) * 2) + " bytes";
}

} // namespace cleavix::sampler::smdi
