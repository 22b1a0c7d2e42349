#pragma once
// SMDI messages as bytes: every message starts "SMDI", a 16-bit message ID, a 16-bit sub-ID and a
// 24-bit length of the data that follows, all numbers most significant byte first. Builders for
// what the host sends and parsers for what a sampler answers; a parser reads only the bytes that
// were actually transferred and refuses an answer whose own length runs past them.
// Pure functions, no threads.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cleavix::sampler::smdi {

inline constexpr size_t kHeaderBytes = 11;
inline constexpr uint32_t kMaxLength24 = 0xFFFFFF;

namespace id {
inline constexpr uint16_t kIdentify = 0x0001;       // sub 0 master, sub 1 slave
inline constexpr uint16_t kMessageReject = 0x0002;
inline constexpr uint16_t kAck = 0x0100;
inline constexpr uint16_t kNak = 0x0101;
inline constexpr uint16_t kWait = 0x0102;
inline constexpr uint16_t kSendNextPacket = 0x0103;
inline constexpr uint16_t kEndOfProcedure = 0x0104;
inline constexpr uint16_t kAbortProcedure = 0x0105;
inline constexpr uint16_t kDataPacket = 0x0110;
inline constexpr uint16_t kSampleHeaderRequest = 0x0120;
inline constexpr uint16_t kSampleHeader = 0x0121;     // sub 1: the form with a key range
inline constexpr uint16_t kBeginSampleTransfer = 0x0122; // sub 1: its acknowledge
} // namespace id

struct MessageHeader {
    uint16_t id = 0;
    uint16_t subId = 0;
    uint32_t length = 0; // data bytes after the 11-byte header
};

// Big-endian numbers of 1..4 bytes.
void putBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes);
uint32_t getBigEndian(std::span<const uint8_t> bytes, size_t offset, int count);

std::vector<uint8_t> message(uint16_t messageId, uint16_t subId, std::span<const uint8_t> data = {});
std::vector<uint8_t> masterIdentify();
std::vector<uint8_t> ack();
std::vector<uint8_t> abortProcedure();
std::vector<uint8_t> sendNextPacket(uint32_t packetNumber);
std::vector<uint8_t> dataPacket(uint32_t packetNumber, std::span<const uint8_t> data);
std::vector<uint8_t> sampleHeaderRequest(uint32_t sampleNumber);
std::vector<uint8_t> beginSampleTransfer(uint32_t sampleNumber, uint32_t packetLength);

struct KeyRangeBytes {
    uint8_t root = 0;
    uint8_t low = 0;
    uint8_t high = 0;
};

struct SampleHeader {
    uint32_t number = 0;
    uint8_t bits = 16;
    uint8_t channels = 1;
    uint32_t periodNs = 0;   // 24 bits
    uint32_t lengthWords = 0; // per channel
    uint32_t loopStart = 0;
    uint32_t loopEnd = 0;
    uint8_t loopControl = 0x7F;
    uint16_t pitch = 0x0041;
    uint16_t pitchFraction = 0;
    std::optional<KeyRangeBytes> keys; // the key-range form
    std::string name;
};
inline constexpr uint32_t kPlainHeaderLength = 281;
inline constexpr uint32_t kKeyRangeHeaderLength = 284;
inline constexpr size_t kMaxNameBytes = 255;

// round(1e9 / rate) nanoseconds, 0 for rate 0.
uint32_t periodOfRate(uint32_t rate);
// round(1e9 / period); 0 for period 0.
uint32_t rateOfPeriod(uint32_t periodNs);

// The header as the host sends it: always the full 292 (295 with keys) bytes, name cut to 255.
std::vector<uint8_t> sampleHeader(const SampleHeader& header);

// The 11-byte header of an answer; nullopt when fewer than 11 bytes came or "SMDI" is missing.
std::optional<MessageHeader> parseHeader(std::span<const uint8_t> answer);
// Whether the answer begins with "SMDI" at all.
bool hasTag(std::span<const uint8_t> answer);
bool isMessage(std::span<const uint8_t> answer, uint16_t messageId, uint16_t subId);
bool isMessage(std::span<const uint8_t> answer, uint16_t messageId); // any sub-ID

// Send Next Packet: the packet number asked for.
std::optional<uint32_t> parseSendNextPacket(std::span<const uint8_t> answer);

struct BeginTransferAck {
    uint32_t sampleNumber = 0;
    uint32_t packetLength = 0;
};
std::optional<BeginTransferAck> parseBeginTransferAck(std::span<const uint8_t> answer);

struct DataPacketView {
    uint32_t packetNumber = 0;
    std::span<const uint8_t> data;
};
// A Data Packet whose declared data lies wholly within the bytes transferred.
std::optional<DataPacketView> parseDataPacket(std::span<const uint8_t> answer);

// A Sample Header (plain or key-range form) whose fields and name lie within the bytes
// transferred and the message's own length.
std::optional<SampleHeader> parseSampleHeader(std::span<const uint8_t> answer);

// Why a received header cannot be taken: period 0, bits other than 16, channels 0 or more than
// 2, or a byte count beyond 32 bits. Empty when it can.
std::string checkReceivedHeader(const SampleHeader& header);

// The listing's size text for w total words: (w div 1024 * 2) "kb" above 1023 words, else
// (w * 2) " bytes".
std::string sizeText(uint32_t totalWords);

} // namespace cleavix::sampler::smdi
