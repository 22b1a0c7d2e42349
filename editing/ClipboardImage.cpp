#include "editing/ClipboardImage.h"

#include <algorithm>
#include <cstring>

namespace cleavix::editing {

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void putId(std::vector<uint8_t>& b, const char* id) { b.insert(b.end(), id, id + 4); }

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t get16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// Index just past the first occurrence of id at or after `from`, or 0 when it is not there.
size_t find(const std::vector<uint8_t>& b, size_t from, const char* id) {
    for (size_t i = from; i + 4 <= b.size(); ++i) {
        if (std::memcmp(b.data() + i, id, 4) == 0) {
            return i + 4;
        }
    }
    return 0;
}

int16_t word(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }
void setWord(uint8_t* p, int16_t v) {
    p[0] = uint8_t(uint16_t(v));
    p[1] = uint8_t(uint16_t(v) >> 8);
}

} // namespace

std::vector<uint8_t> imageHeader(uint16_t channels, uint32_t sampleRate, uint32_t dataSize) {
    std::vector<uint8_t> h;
    h.reserve(kImageHeaderBytes);
    putId(h, "RIFF");
    put32(h, dataSize + 38);
    putId(h, "WAVE");
    putId(h, "fmt ");
    put32(h, 18);
    put16(h, 1);
    put16(h, channels);
    put32(h, sampleRate);
    put32(h, sampleRate * channels * 2u);
    put16(h, channels * 2u);
    put16(h, 16);
    put16(h, 0);
    putId(h, "data");
    put32(h, dataSize);
    return h;
}

ImageInfo readImage(const std::vector<uint8_t>& image) {
    ImageInfo info;
    if (image.size() < 4 || std::memcmp(image.data(), "RIFF", 4) != 0) {
        return info;
    }
    const size_t fmt = find(image, 4, "fmt ");
    // chunk size, tag, channels, rate, bytes per second, block align, bits
    if (fmt == 0 || fmt + 20 > image.size()) {
        return info;
    }
    info.channels = get16(image, fmt + 6);
    info.sampleRate = get32(image, fmt + 8);
    info.bits = get16(image, fmt + 18);
    const size_t data = find(image, fmt + 20, "data");
    if (data == 0 || data + 4 > image.size()) {
        return info;
    }
    if (info.channels != 1 && info.channels != 2) {
        return info; // nothing this editor could paste
    }
    info.dataOffset = data + 4;
    // A size claiming more than the image holds would paste bytes that are not there.
    info.dataSize = uint32_t(std::min<uint64_t>(get32(image, data), image.size() - info.dataOffset));
    // Whole frames only: half a stereo frame pasted would swap the channels of all that follows.
    info.dataSize -= info.dataSize % (info.channels * 2u);
    info.status = info.bits == 16 ? ImageInfo::Ok : ImageInfo::Not16Bit;
    return info;
}

size_t imageUnit(int type) { return (type >= 4 && type <= 6) ? 2 : (type == 0 ? 2 : 4); }

uint64_t convertedBytes(int type, uint64_t imageBytes) {
    const uint64_t units = imageBytes / imageUnit(type);
    switch (type) {
    case 0:
        return units * 2;
    case 1:
    case 2:
    case 3:
        return units * 2;
    case 4:
    case 5:
    case 6:
        return units * 4;
    default:
        return units * 4; // 7..9: one word written into each frame
    }
}

size_t convertBlock(int type, const uint8_t* in, size_t inBytes, uint8_t* out) {
    const size_t unit = imageUnit(type);
    const size_t units = inBytes / unit;
    switch (type) {
    case 0:
        std::memcpy(out, in, units * 2);
        return units * 2;
    case 1:
    case 2:
    case 3:
        for (size_t i = 0; i < units; ++i) {
            const int l = word(in + i * 4);
            const int r = word(in + i * 4 + 2);
            setWord(out + i * 2, int16_t(type == 1 ? l : type == 2 ? r : (l + r) / 2));
        }
        return units * 2;
    case 4:
    case 5:
    case 6:
        for (size_t i = 0; i < units; ++i) {
            const int16_t m = word(in + i * 2);
            if (type != 5) {
                setWord(out + i * 4, m);
            }
            if (type != 4) {
                setWord(out + i * 4 + 2, m);
            }
        }
        return units * 4;
    default:
        for (size_t i = 0; i < units; ++i) {
            const int l = word(in + i * 4);
            const int r = word(in + i * 4 + 2);
            setWord(out + i * 4, int16_t(type == 7 ? l : type == 8 ? r : (l + r) / 2));
        }
        return units * 4;
    }
}

} // namespace cleavix::editing
