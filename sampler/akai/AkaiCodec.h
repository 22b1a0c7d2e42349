#pragma once
// The Akai S2000 family's system-exclusive messages as data: the frame, 7-bit number groups, the
// nibble codec, the Akai character set, the requests, the parameter blocks (sample header,
// program, keygroup) split into the two transfers they are sent in, and the answers read back.
// Pure functions, no threads. Answers are checked for length and framing before any fixed offset
// is read.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cleavix::sampler::akai {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kSysex = 0xF0;
inline constexpr uint8_t kAkaiId = 0x47;
inline constexpr uint8_t kChannel = 0x00;
inline constexpr uint8_t kModel = 0x48;
inline constexpr uint8_t kEndOfSysex = 0xF7;

namespace function {
inline constexpr uint8_t kFreeMemory = 0x00;
inline constexpr uint8_t kProgramCount = 0x02;
inline constexpr uint8_t kSampleCount = 0x04;
inline constexpr uint8_t kProgram = 0x07;
inline constexpr uint8_t kKeygroup = 0x09;
inline constexpr uint8_t kSampleHeaderRequest = 0x0A;
inline constexpr uint8_t kSampleHeader = 0x0B;
inline constexpr uint8_t kSampleDataRequest = 0x0C;
} // namespace function

// Handshake status bytes after a sample header (F0 7E c s p F7).
namespace handshake {
inline constexpr uint8_t kWait = 0x7C;
inline constexpr uint8_t kNak = 0x7E;
inline constexpr uint8_t kAck = 0x7F;
} // namespace handshake

inline constexpr size_t kBlockBytes = 192;      // data bytes of a parameter block
inline constexpr size_t kFirstTransfer = 200;   // bytes of the first of a block's two transfers
inline constexpr size_t kNameLength = 12;
inline constexpr uint8_t kBlank = 10;           // the character-set index of a blank
inline constexpr size_t kDataChunk = 1024;      // bytes of sample data per command

// F0 47 00 function 48, body, F7.
Bytes frame(uint8_t functionCode, std::span<const uint8_t> body = {});

// `value` as `groups` 7-bit groups, least significant first.
Bytes sevenBitGroups(uint32_t value, size_t groups);
// The value of `groups` 7-bit groups at the start of `bytes` (which must hold them).
uint32_t fromSevenBitGroups(std::span<const uint8_t> bytes, size_t groups);

// Each byte as two bytes, low four bits first.
Bytes toNibbles(std::span<const uint8_t> bytes);
// Nibble pairs back to bytes; an odd trailing nibble is ignored. Only the low four bits of each
// nibble byte count.
Bytes fromNibbles(std::span<const uint8_t> nibbles);

// The character-set index of one character (upper-cased; outside the set: blank).
uint8_t akaiIndex(char c);
// A name as 12 indices: upper-cased, unknown characters blank, cut or padded with blanks.
std::array<uint8_t, kNameLength> akaiName(const std::string& name);
// Indices back to text (an index outside the set reads as a blank); trailing blanks removed when
// `trim`.
std::string akaiText(std::span<const uint8_t> indices, bool trim);

// A parameter block being filled: values in order, little-endian at their width.
class ParameterBlock {
public:
    ParameterBlock& put(uint32_t value, size_t width = 1);
    ParameterBlock& repeat(uint32_t value, size_t count);
    ParameterBlock& name(const std::string& text);
    // The 192 data bytes, zeros after the last value put (values beyond 192 are dropped).
    std::array<uint8_t, kBlockBytes> bytes() const;
    size_t size() const { return data_.size(); }

private:
    Bytes data_;
};

// A message sent as two transfers of the send command.
struct SplitMessage {
    Bytes first;
    Bytes second;
};

// Requests.
Bytes freeMemoryRequest();
Bytes programCountRequest();
Bytes sampleCountRequest();
Bytes sampleHeaderRequest(uint32_t number);
Bytes sampleDataRequest(uint32_t number, uint32_t startWords, uint32_t lengthWords);

// The rate byte of a sample header: 0 for 22050 Hz, 1 for 44100 Hz; none for other rates.
std::optional<uint8_t> rateByte(uint32_t sampleRate);

// The sample header sent before a sample's data (function 0B).
std::array<uint8_t, kBlockBytes> sampleHeaderBlock(const std::string& name, uint8_t rate, uint8_t rootKey,
                                                   uint32_t lengthWords);
SplitMessage sampleHeaderMessage(uint32_t number, const std::array<uint8_t, kBlockBytes>& block);

// The program of a key map (function 07): the first transfer carries the header and the first 193
// nibble bytes of the program's values, the second a fixed tail the sampler expects.
SplitMessage programMessage(uint32_t programNumber, const std::string& programName, uint8_t baseNote,
                            uint8_t lastKey);
// One keygroup of program 255, the one just written (function 09); `index` counts from 0.
SplitMessage keygroupMessage(uint32_t index, uint8_t lowKey, uint8_t highKey, const std::string& sampleName);
// The keygroup's 192 values, for the emulator's tests.
std::array<uint8_t, kBlockBytes> keygroupBlock(uint8_t lowKey, uint8_t highKey, const std::string& sampleName);

// Answers. Each checks the length and the frame (F0 47 00 .. 48 .. F7) before reading.
std::optional<uint32_t> parseFreeMemory(std::span<const uint8_t> answer);  // words
std::optional<uint32_t> parseCount(std::span<const uint8_t> answer);       // programs or samples

struct SampleHeader {
    std::string name; // trailing blanks removed
    uint32_t sampleRate = 22050;
    uint32_t lengthWords = 0;
    uint32_t bytes() const { return lengthWords * 2; }
};
// Rate flag at byte 14, name at the nibble pairs of bytes 15..38, length in words at the nibble
// pairs of bytes 59..66.
std::optional<SampleHeader> parseSampleHeader(std::span<const uint8_t> answer);
inline constexpr size_t kHeaderAnswerMinimum = 68; // through the length's nibbles and F7

// A handshake F0 7E c s p F7: its status byte s.
std::optional<uint8_t> parseHandshake(std::span<const uint8_t> answer);

// The answer to a program or keygroup: true when the sampler stored it (byte 5 not 1).
std::optional<bool> parseWriteResult(std::span<const uint8_t> answer);

// The pending length in a 6-byte status (bytes 0..2, most significant first).
std::optional<uint32_t> parsePendingLength(std::span<const uint8_t> status);

} // namespace cleavix::sampler::akai
