#include "sampler/akai/AkaiCodec.h"

#include <algorithm>
#include <cctype>

namespace cleavix::sampler::akai {

namespace {

// Frame header bytes before the block's nibbles: F0 47 00 fn 48 and the number groups.
constexpr size_t kShortHeader = 7;

Bytes header(uint8_t functionCode) { return {kSysex, kAkaiId, kChannel, functionCode, kModel}; }

void append(Bytes& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// An Akai frame of at least `minimum` bytes ending in F7.
bool framed(std::span<const uint8_t> answer, size_t minimum) {
    return answer.size() >= minimum && answer.size() >= 6 && answer[0] == kSysex && answer[1] == kAkaiId &&
           answer[4] == kModel && answer.back() == kEndOfSysex;
}

// Header, then the block's nibbles, then F7, cut after the first 200 bytes.
SplitMessage splitBlock(Bytes head, const std::array<uint8_t, kBlockBytes>& block) {
    Bytes all = std::move(head);
    append(all, toNibbles(block));
    all.push_back(kEndOfSysex);
    SplitMessage message;
    message.first.assign(all.begin(), all.begin() + kFirstTransfer);
    message.second.assign(all.begin() + kFirstTransfer, all.end());
    return message;
}

} // namespace

Bytes frame(uint8_t functionCode, std::span<const uint8_t> body) {
    Bytes out = header(functionCode);
    append(out, body);
    out.push_back(kEndOfSysex);
    return out;
}

Bytes sevenBitGroups(uint32_t value, size_t groups) {
    Bytes out;
    for (size_t i = 0; i < groups; ++i) {
        out.push_back(static_cast<uint8_t>(value & 0x7F));
        value >>= 7;
    }
    return out;
}

uint32_t fromSevenBitGroups(std::span<const uint8_t> bytes, size_t groups) {
    uint32_t value = 0;
    for (size_t i = std::min(groups, bytes.size()); i-- > 0;) {
        value = (value << 7) | (bytes[i] & 0x7Fu);
    }
    return value;
}

Bytes toNibbles(std::span<const uint8_t> bytes) {
    Bytes out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(b & 0x0F);
        out.push_back(static_cast<uint8_t>(b >> 4));
    }
    return out;
}

Bytes fromNibbles(std::span<const uint8_t> nibbles) {
    Bytes out;
    out.reserve(nibbles.size() / 2);
    for (size_t i = 0; i + 1 < nibbles.size(); i += 2) {
        out.push_back(static_cast<uint8_t>((nibbles[i] & 0x0F) | ((nibbles[i + 1] & 0x0F) << 4)));
    }
    return out;
}

uint8_t akaiIndex(char c) {
    const auto u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (u >= '0' && u <= '9') {
        return static_cast<uint8_t>(u - '0');
    }
    if (u >= 'A' && u <= 'Z') {
        return static_cast<uint8_t>(11 + (u - 'A'));
    }
    switch (u) {
    case '#': return 37;
    case '+': return 38;
    case '-': return 39;
    case '.': return 40;
    default: return kBlank;
    }
}

std::array<uint8_t, kNameLength> akaiName(const std::string& name) {
    std::array<uint8_t, kNameLength> out{};
    out.fill(kBlank);
    for (size_t i = 0; i < kNameLength && i < name.size(); ++i) {
        out[i] = akaiIndex(name[i]);
    }
    return out;
}

std::string akaiText(std::span<const uint8_t> indices, bool trim) {
    static constexpr char kSet[] = "0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ#+-.";
    std::string out;
    for (uint8_t i : indices) {
        out.push_back(i < sizeof(kSet) - 1 ? kSet[i] : ' ');
    }
    if (trim) {
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
    }
    return out;
}

ParameterBlock& ParameterBlock::put(uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        data_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    return *this;
}

ParameterBlock& ParameterBlock::repeat(uint32_t value, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        put(value);
    }
    return *this;
}

ParameterBlock& ParameterBlock::name(const std::string& text) {
    const auto indices = akaiName(text);
    data_.insert(data_.end(), indices.begin(), indices.end());
    return *this;
}

std::array<uint8_t, kBlockBytes> ParameterBlock::bytes() const {
    std::array<uint8_t, kBlockBytes> out{};
    std::copy_n(data_.begin(), std::min(data_.size(), kBlockBytes), out.begin());
    return out;
}

Bytes freeMemoryRequest() { return frame(function::kFreeMemory); }
Bytes programCountRequest() { return frame(function::kProgramCount); }
Bytes sampleCountRequest() { return frame(function::kSampleCount); }

Bytes sampleHeaderRequest(uint32_t number) {
    return frame(function::kSampleHeaderRequest, sevenBitGroups(number, 2));
}

Bytes sampleDataRequest(uint32_t number, uint32_t startWords, uint32_t lengthWords) {
    Bytes body = sevenBitGroups(number, 2);
    append(body, sevenBitGroups(startWords, 4));
    append(body, sevenBitGroups(lengthWords, 4));
    body.push_back(0x01);
    body.push_back(0x00);
    return frame(function::kSampleDataRequest, body);
}

std::optional<uint8_t> rateByte(uint32_t sampleRate) {
    if (sampleRate == 22050) {
        return 0;
    }
    if (sampleRate == 44100) {
        return 1;
    }
    return std::nullopt;
}

std::array<uint8_t, kBlockBytes> sampleHeaderBlock(const std::string& name, uint8_t rate, uint8_t rootKey,
                                                   uint32_t lengthWords) {
    ParameterBlock block;
    block.put(3).put(rate).put(rootKey).name(name).put(128).repeat(0, 3).put(3).put(0, 2).put(0, 4);
    block.put(lengthWords, 4).put(0, 4).put(lengthWords - 1, 4);
    return block.bytes();
}

SplitMessage sampleHeaderMessage(uint32_t number, const std::array<uint8_t, kBlockBytes>& block) {
    Bytes head = header(function::kSampleHeader);
    append(head, sevenBitGroups(number, 2));
    return splitBlock(std::move(head), block);
}

SplitMessage programMessage(uint32_t programNumber, const std::string& programName, uint8_t baseNote,
                            uint8_t lastKey) {
    ParameterBlock block;
    block.put(1).put(0, 2).name(programName);
    for (uint32_t v : {0u, 0u, 31u, 1u}) {
        block.put(v);
    }
    block.put(baseNote).put(lastKey);
    for (uint32_t v : {0u, 255u, 99u, 0u, 80u, 20u, 0u, 0u, 1u, 99u, 0u, 0u, 50u, 0u, 0u, 30u, 0u, 0u, 2u, 0u, 0u, 1u}) {
        block.put(v);
    }
    block.repeat(0, 20).repeat(16, 3).put(0, 2);
    for (uint32_t v : {0u, 0u, 0u, 50u, 0u, 0u, 2u, 0u, 0u, 8u, 6u, 12u, 6u, 3u, 6u, 6u, 6u, 5u, 8u, 10u, 10u, 5u}) {
        block.put(v);
    }
    block.repeat(0, 8);

    SplitMessage message;
    message.first = header(function::kProgram);
    append(message.first, sevenBitGroups(programNumber, 2));
    const Bytes values = toNibbles(block.bytes());
    message.first.insert(message.first.end(), values.begin(), values.begin() + (kFirstTransfer - kShortHeader));
    // The second transfer is its own run of nibble pairs, not the rest of the first's values.
    ParameterBlock tail;
    tail.put(0).put(0).put(5).put(8).put(14);
    const Bytes tailNibbles = toNibbles(tail.bytes());
    message.second.assign(tailNibbles.begin(), tailNibbles.begin() + 191);
    message.second.push_back(kEndOfSysex);
    return message;
}

std::array<uint8_t, kBlockBytes> keygroupBlock(uint8_t lowKey, uint8_t highKey, const std::string& sampleName) {
    ParameterBlock block;
    block.put(2).put(0, 2).put(lowKey).put(highKey).put(0, 2).put(99);
    block.repeat(0, 5).repeat(99, 3).repeat(0, 5).repeat(99, 3).repeat(0, 4);
    block.put(19).put(0).put(1).repeat(0, 3).name(sampleName).put(0).put(127).put(0, 2).repeat(0, 4);
    block.put(127).put(127).put(0, 2).repeat(10, 12).repeat(0, 8).repeat(255, 4).repeat(10, 12).repeat(0, 2);
    // Second half.
    block.repeat(0, 6).repeat(255, 4).repeat(10, 12).repeat(0, 8).repeat(255, 4).repeat(0, 10);
    for (int i = 0; i < 4; ++i) {
        block.put(0, 2);
    }
    block.put(0).put(0).put(50).repeat(0, 5).put(9).put(50).put(99).put(0).put(255).repeat(0, 7);
    block.put(1).put(1).repeat(0, 7).put(99).put(0).put(0).put(99).put(99).put(99).put(0).put(99).put(45);
    block.repeat(0, 5).put(25);
    return block.bytes();
}

SplitMessage keygroupMessage(uint32_t index, uint8_t lowKey, uint8_t highKey, const std::string& sampleName) {
    Bytes head = header(function::kKeygroup);
    append(head, sevenBitGroups(255, 2));
    head.push_back(static_cast<uint8_t>(index & 0x7F));
    return splitBlock(std::move(head), keygroupBlock(lowKey, highKey, sampleName));
}

std::optional<uint32_t> parseFreeMemory(std::span<const uint8_t> answer) {
    if (!framed(answer, 20)) {
        return std::nullopt;
    }
    return fromSevenBitGroups(answer.subspan(15, 4), 4);
}

std::optional<uint32_t> parseCount(std::span<const uint8_t> answer) {
    if (!framed(answer, 8)) {
        return std::nullopt;
    }
    return fromSevenBitGroups(answer.subspan(5, 2), 2);
}

std::optional<SampleHeader> parseSampleHeader(std::span<const uint8_t> answer) {
    if (!framed(answer, kHeaderAnswerMinimum)) {
        return std::nullopt;
    }
    SampleHeader h;
    h.sampleRate = answer[14] != 0 ? 44100 : 22050;
    h.name = akaiText(fromNibbles(answer.subspan(15, 24)), true);
    const Bytes length = fromNibbles(answer.subspan(59, 8));
    h.lengthWords = uint32_t(length[0]) | uint32_t(length[1]) << 8 | uint32_t(length[2]) << 16 |
                    uint32_t(length[3]) << 24;
    return h;
}

std::optional<uint8_t> parseHandshake(std::span<const uint8_t> answer) {
    if (answer.size() != 6 || answer[0] != kSysex || answer[1] != 0x7E || answer[5] != kEndOfSysex) {
        return std::nullopt;
    }
    return answer[3];
}

std::optional<bool> parseWriteResult(std::span<const uint8_t> answer) {
    if (!framed(answer, 7)) {
        return std::nullopt;
    }
    return answer[5] != 1;
}

std::optional<uint32_t> parsePendingLength(std::span<const uint8_t> status) {
    if (status.size() < 3) {
        return std::nullopt;
    }
    return uint32_t(status[0]) << 16 | uint32_t(status[1]) << 8 | status[2];
}

} // namespace cleavix::sampler::akai
