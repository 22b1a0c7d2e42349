#pragma once
// Key maps for the Yamaha samplers as MIDI system-exclusive bytes: SMDI moves samples but has no
// message for a key map, so after a transfer the A3000, A4000 and A5000 get a name and three key
// parameters per sample and a program bulk, and the EX gets one voice bulk. The templates of
// constant parameter values are our own tables; they have not been checked against real hardware.
// Pure functions, no threads.
#include <cstdint>
#include <string>
#include <vector>

namespace cleavix::sampler::smdi::yamaha {

using Bytes = std::vector<uint8_t>;

enum class Model : uint8_t { A3000 = 2, Ex = 3, A4000 = 6, A5000 = 7 };
bool isYamaha(uint8_t deviceType);

inline constexpr size_t kNameWidth = 16;
inline constexpr size_t kExNameWidth = 12;
inline constexpr size_t kEntryBytes = 40;
inline constexpr size_t kA3000Limit = 4096; // a message is closed once an entry took it past this
inline constexpr size_t kA4000Limit = 4095; // a message is cut after this many bytes
inline constexpr size_t kA3000Piece = 16;   // the A3000 takes its bulk in pieces of this size

// The name as the sampler takes it: bytes outside printable ASCII become blanks, then cut or
// padded with blanks to `width`.
std::string foldName(const std::string& name, size_t width);
// A byte as two bytes holding its hexadecimal digits, high digit first.
void putDigits(Bytes& out, uint8_t value);

// F0 43 1n 58 00, the 16-character name, 10 F7 (n: the device number).
Bytes nameMessage(uint8_t device, const std::string& name);
// F0 43 1n 58 01 02 k 00 00 00 00, the key in two digits, F7; k = 06 root, 0A high, 0B low.
enum class KeyParameter : uint8_t { Root = 0x06, High = 0x0A, Low = 0x0B };
Bytes keyMessage(uint8_t device, KeyParameter which, uint8_t key);

// The device number Yamaha's messages carry (0..15) for a profile's sysex ID (1..16).
uint8_t deviceNumber(uint8_t sysexId);

// The data of one program bulk before splitting: the header, the program name twice, the program
// template and one 40-byte entry per sample name (each already folded to 16 characters), zero
// entries up to 8 when fewer than 7 samples are mapped. `entriesAt` receives where the entries
// start, for the A3000's splitting.
Bytes programData(Model model, const std::string& programName, const std::vector<std::string>& sampleNames,
                  size_t* entriesAt = nullptr);
// The program bulk as complete messages (F0 43 0n 7A count data checksum F7), split as the model
// takes it.
std::vector<Bytes> programBulk(Model model, uint8_t device, const std::string& programName,
                               const std::vector<std::string>& sampleNames);
// How the A3000's messages go out: pieces of 16 bytes, the last holding the rest. Other models
// take each message whole.
std::vector<Bytes> outputBlocks(Model model, const std::vector<Bytes>& messages);

// Makes bytes [from, end) 7-bit in groups of 7: each group's bit 7s, the first byte's in bit 0,
// go into one byte inserted after the group; the final, shorter group is packed too.
void packSevenBit(Bytes& bytes, size_t from);

// The EX voice bulk: F0 43 00 5B 02 10 40 00 00, the name (12 characters, a 00 after the
// seventh), the voice template, a key-bank record per sample (sample number high and low byte,
// the root key), packed from the template's fourth-last byte on, then (-sum) & 0x7F over the
// bytes from the fifth on, and F7.
struct ExKey {
    uint16_t sampleNumber = 0;
    uint8_t key = 0;
};
Bytes exVoiceBulk(const std::string& programName, const std::vector<ExKey>& keys);

// The voice template's length, for tests that find the packed region.
size_t exTemplateBytes();

} // namespace cleavix::sampler::smdi::yamaha
