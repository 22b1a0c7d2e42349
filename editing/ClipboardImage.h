#pragma once
// The clipboard wave image: a 46-byte RIFF WAVE header followed by 16-bit PCM, the form in which
// audio goes to and comes from the system clipboard. The engine makes and reads the bytes; the
// window moves them to and from the system clipboard.
//
// The channel conversions of the paste commands also live here: how an image's samples become
// samples of the sample.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cleavix::editing {

inline constexpr size_t kImageHeaderBytes = 46;

inline constexpr const char* kMsgPasteNot16 = "Pasted sample must be 16 bit!";
inline constexpr const char* kMsgCopyNoMemory = "Error copying data to clipboard!\r\n\r\nInsufficient memory?";

// The header Copy writes.
std::vector<uint8_t> imageHeader(uint16_t channels, uint32_t sampleRate, uint32_t dataSize);

struct ImageInfo {
    enum Status { Ok, NotWave, Not16Bit } status = NotWave;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bits = 0;
    size_t dataOffset = 0;
    // The data size, limited to the bytes the image really holds after its header.
    uint32_t dataSize = 0;
};

// Reads an image leniently: "RIFF" first, then a byte-by-byte search for "fmt " and "data".
ImageInfo readImage(const std::vector<uint8_t>& image);

// Conversion types: 0 unchanged; 1..3 stereo to mono (left, right, mix); 4..6 mono to stereo
// (left, right, both); 7..9 stereo into one channel of stereo (left, right, mix).
// Output bytes for `imageBytes` image bytes.
uint64_t convertedBytes(int type, uint64_t imageBytes);
// Image bytes per whole input unit (a frame of the image) for a type: 4 for stereo images, 2 for mono.
size_t imageUnit(int type);
// Converts whole units of `in` into `out`. `out` holds, on entry, the audio the conversion keeps
// (the untouched channel for types 4, 5 and 7..9). Returns the output bytes written.
size_t convertBlock(int type, const uint8_t* in, size_t inBytes, uint8_t* out);

} // namespace cleavix::editing
