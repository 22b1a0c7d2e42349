#pragma once
// The wire format of the MIDI Sample Dump Standard as pure functions: building and reading the
// Dump Header, Data Packets, the Dump Request and the handshake messages. No ports, no state.
//
// Numbers travel as 7-bit groups, least significant group first. A 16-bit value is sent in three
// bytes, left-justified: offset binary u = v + 0x8000 as (u >> 9) & 0x7F, (u >> 2) & 0x7F,
// (u & 3) << 5.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sampler::sds {

inline constexpr uint8_t kSubHeader = 0x01;
inline constexpr uint8_t kSubPacket = 0x02;
inline constexpr uint8_t kSubRequest = 0x03;
inline constexpr uint8_t kSubWait = 0x7C;
inline constexpr uint8_t kSubCancel = 0x7D;
inline constexpr uint8_t kSubNak = 0x7E;
inline constexpr uint8_t kSubAck = 0x7F;

inline constexpr size_t kHeaderBytes = 21;
inline constexpr size_t kPacketBytes = 127;
inline constexpr size_t kRequestBytes = 7;
inline constexpr size_t kHandshakeBytes = 6;
inline constexpr size_t kPacketDataBytes = 120;
inline constexpr size_t kWordsPerPacket = 40; // 16-bit words, three bytes each
inline constexpr uint32_t kMax21Bits = 0x1FFFFF;
inline constexpr uint32_t kMaxSampleNumber = 16383;
inline constexpr uint8_t kLoopOff = 0x7F;
inline constexpr uint8_t kLoopForward = 0x00;

struct DumpHeader {
    uint8_t channel = 0;        // 0..127
    uint32_t sampleNumber = 0;  // 0..16383
    uint8_t bits = 16;
    uint32_t periodNs = 0;      // 21 bits
    uint32_t lengthWords = 0;   // 21 bits
    uint32_t loopStart = 0;
    uint32_t loopEnd = 0;
    uint8_t loopType = kLoopOff;
};

using Header = std::array<uint8_t, kHeaderBytes>;
using Packet = std::array<uint8_t, kPacketBytes>;

// The values must already fit their fields (checkSendable says whether they do).
Header encodeHeader(const DumpHeader& header);
// A Dump Header: 21 bytes, F0 7E .. 01 .. F7, every byte between 7-bit. Nullopt otherwise.
std::optional<DumpHeader> decodeHeader(const uint8_t* data, size_t size);

// Sample period in nanoseconds for a rate, rounded to nearest (ties to even); 0 for rate 0.
uint32_t periodForRate(uint32_t rate);
// Frames per second for a period, rounded; 0 for period 0. Kept in 32 bits.
uint32_t rateForPeriod(uint32_t periodNs);

// Why a sample cannot be sent as a dump; empty when it can.
std::string checkSendable(uint32_t rate, uint64_t lengthWords, int64_t sampleNumber);
std::string checkSampleNumber(int64_t sampleNumber);

// A data packet holding `count` (at most 40) samples, the rest of its data filled with 0x00.
Packet encodePacket(uint8_t channel, uint8_t number, const int16_t* samples, size_t count);
// The standard's checksum: XOR of 0x7E, channel, 0x02, number and the 120 data bytes.
uint8_t packetChecksum(const uint8_t* packet);
// The reading that covers only the first `samples` samples' bytes (filler left out).
uint8_t packetChecksumOfSamples(const uint8_t* packet, size_t samples);

void encodeSample(int16_t value, uint8_t* out3);
int16_t decodeSample(const uint8_t* in3);

enum class PacketFault { None, Length, NoStart, NoEnd, NotSevenBit, Checksum };
struct PacketView {
    PacketFault fault = PacketFault::None;
    uint8_t channel = 0;
    uint8_t number = 0;
};
// Checks framing (127 bytes, F0 7E .. 02 .. F7, 7-bit body) and reads channel and number; the
// checksum is checked for `samples` samples, accepting the standard's reading over all 120 bytes
// or the samples-only one.
PacketView checkPacket(const uint8_t* data, size_t size, size_t samples);
const char* packetFaultText(PacketFault fault);

std::array<uint8_t, kRequestBytes> encodeRequest(uint8_t channel, uint32_t sampleNumber);

struct Handshake {
    uint8_t sub = 0;
    uint8_t channel = 0;
    uint8_t packet = 0;
};
std::array<uint8_t, kHandshakeBytes> encodeHandshake(uint8_t sub, uint8_t channel, uint8_t packet);
// ACK, NAK, WAIT or CANCEL (6 bytes, framed, 7-bit). Nullopt for anything else.
std::optional<Handshake> decodeHandshake(const uint8_t* data, size_t size);

// One message as a line of upper-case hex bytes separated by single spaces.
std::string hexLine(const uint8_t* data, size_t size);

} // namespace cleavix::sampler::sds
