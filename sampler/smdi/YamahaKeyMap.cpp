#include "sampler/smdi/YamahaKeyMap.h"

#include <algorithm>

namespace cleavix::sampler::smdi::yamaha {

namespace {

// Our program template: number of samples, bank, volume, pan, transpose, fine tune, pitch-bend
// range, portamento, key shift, velocity limit, output, effect send, mono/poly, MIDI receive on,
// reserved, reserved. Each value goes out as two hexadecimal digits.
constexpr uint8_t kProgramTemplate[] = {0x00, 0x00, 0x7F, 0x40, 0x00, 0x00, 0x02, 0x00,
                                        0x00, 0x7F, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
constexpr size_t kProgramCountAt = 0;

// Our EX voice template: element mode, element count, number of key banks, volume, pan, tune,
// transpose, centre key, pitch-bend range, velocity limit, output, effect send, filter, filter
// resonance, envelope, reserved.
constexpr uint8_t kExTemplate[] = {0x00, 0x01, 0x00, 0x7F, 0x40, 0x00, 0x00, 0x3C,
                                   0x02, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr size_t kExCountAt = 2;

const uint8_t kBulkHeader[] = {0x4C, 0x4D, 0x20, 0x20, 0x30};
const uint8_t kBulkTail[] = {0x53, 0x42};
constexpr size_t kMessageStart = 6; // F0 43 0n 7A and the two count bytes

Bytes modelDigits(Model model) {
    switch (model) {
    case Model::A3000: return {0x32, 0x37, 0x38};
    case Model::A4000: return {0x34, 0x37, 0x34};
    default: return {0x34, 0x37, 0x35};
    }
}

// One bulk message around `data`: the count in two 7-bit groups, the exclusive-or checksum.
Bytes closeBulk(uint8_t device, const Bytes& data) {
    Bytes m = {0xF0, 0x43, uint8_t(device & 0x0F), 0x7A, uint8_t((data.size() >> 7) & 0x7F),
               uint8_t(data.size() & 0x7F)};
    m.insert(m.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : data) {
        sum ^= b;
    }
    m.push_back(sum & 0x7F);
    m.push_back(0xF7);
    return m;
}

} // namespace

bool isYamaha(uint8_t deviceType) { return deviceType == 2 || deviceType == 3 || deviceType == 6 || deviceType == 7; }

uint8_t deviceNumber(uint8_t sysexId) { return uint8_t(sysexId & 0x0F); }

std::string foldName(const std::string& name, size_t width) {
    std::string out;
    for (char c : name) {
        if (out.size() == width) {
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        out.push_back(u >= 0x20 && u < 0x7F ? c : ' ');
    }
    out.resize(width, ' ');
    return out;
}

void putDigits(Bytes& out, uint8_t value) {
    out.push_back(uint8_t(value >> 4));
    out.push_back(uint8_t(value & 0x0F));
}

Bytes nameMessage(uint8_t device, const std::string& name) {
    Bytes m = {0xF0, 0x43, uint8_t(0x10 | (device & 0x0F)), 0x58, 0x00};
    const std::string folded = foldName(name, kNameWidth);
    m.insert(m.end(), folded.begin(), folded.end());
    m.push_back(0x10);
    m.push_back(0xF7);
    return m;
}

Bytes keyMessage(uint8_t device, KeyParameter which, uint8_t key) {
    Bytes m = {0xF0, 0x43, uint8_t(0x10 | (device & 0x0F)), 0x58, 0x01, 0x02, uint8_t(which), 0, 0, 0, 0};
    putDigits(m, uint8_t(std::min<int>(key, 127)));
    m.push_back(0xF7);
    return m;
}

Bytes programData(Model model, const std::string& programName, const std::vector<std::string>& sampleNames,
                  size_t* entriesAt) {
    Bytes d(std::begin(kBulkHeader), std::end(kBulkHeader));
    const Bytes digits = modelDigits(model);
    d.insert(d.end(), digits.begin(), digits.end());
    d.insert(d.end(), std::begin(kBulkTail), std::end(kBulkTail));
    const std::string name = foldName(programName, kNameWidth);
    d.insert(d.end(), name.begin(), name.end());
    d.insert(d.end(), {0x01, 0x01, 0x06, 0x01});
    for (char c : name) {
        putDigits(d, uint8_t(c));
    }
    d.insert(d.end(), 92, 0);
    for (size_t i = 0; i < std::size(kProgramTemplate); ++i) {
        putDigits(d, i == kProgramCountAt ? uint8_t(std::min<size_t>(sampleNames.size(), 0xFF)) : kProgramTemplate[i]);
    }
    if (entriesAt) {
        *entriesAt = d.size();
    }
    int entry = 0x72;
    for (const auto& sample : sampleNames) {
        for (char c : foldName(sample, kNameWidth)) {
            putDigits(d, uint8_t(c));
        }
        d.insert(d.end(), {0x00, 0x09, 0x01, 0x07, 0x03});
        putDigits(d, uint8_t(entry));
        d.push_back(0x00);
        entry += 3;
        if (entry > 255) {
            entry -= 255;
        }
    }
    if (sampleNames.size() < 7) {
        d.insert(d.end(), (8 - sampleNames.size()) * kEntryBytes, 0);
    }
    return d;
}

std::vector<Bytes> programBulk(Model model, uint8_t device, const std::string& programName,
                               const std::vector<std::string>& sampleNames) {
    size_t entriesAt = 0;
    const Bytes data = programData(model, programName, sampleNames, &entriesAt);
    std::vector<Bytes> messages;
    if (model == Model::A3000) {
        // Whole entries per message: closed as soon as an entry took it past the limit.
        Bytes part(data.begin(), data.begin() + std::ptrdiff_t(entriesAt));
        for (size_t at = entriesAt; at < data.size(); at += kEntryBytes) {
            part.insert(part.end(), data.begin() + std::ptrdiff_t(at),
                        data.begin() + std::ptrdiff_t(std::min(at + kEntryBytes, data.size())));
            if (kMessageStart + part.size() > kA3000Limit) {
                messages.push_back(closeBulk(device, part));
                part.clear();
            }
        }
        if (!part.empty() || messages.empty()) {
            messages.push_back(closeBulk(device, part));
        }
        return messages;
    }
    const size_t perMessage = kA4000Limit - kMessageStart;
    for (size_t at = 0; at < data.size(); at += perMessage) {
        const size_t end = std::min(at + perMessage, data.size());
        messages.push_back(closeBulk(device, Bytes(data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(end))));
    }
    return messages;
}

std::vector<Bytes> outputBlocks(Model model, const std::vector<Bytes>& messages) {
    if (model != Model::A3000) {
        return messages;
    }
    std::vector<Bytes> blocks;
    for (const auto& m : messages) {
        for (size_t at = 0; at < m.size(); at += kA3000Piece) {
            blocks.emplace_back(m.begin() + std::ptrdiff_t(at),
                                m.begin() + std::ptrdiff_t(std::min(at + kA3000Piece, m.size())));
        }
    }
    return blocks;
}

void packSevenBit(Bytes& bytes, size_t from) {
    size_t at = from;
    while (at < bytes.size()) {
        const size_t group = std::min<size_t>(7, bytes.size() - at);
        uint8_t high = 0;
        for (size_t i = 0; i < group; ++i) {
            high |= uint8_t(((bytes[at + i] >> 7) & 1) << i);
            bytes[at + i] &= 0x7F;
        }
        bytes.insert(bytes.begin() + std::ptrdiff_t(at + group), high);
        at += group + 1;
    }
}

size_t exTemplateBytes() { return std::size(kExTemplate); }

Bytes exVoiceBulk(const std::string& programName, const std::vector<ExKey>& keys) {
    Bytes m = {0xF0, 0x43, 0x00, 0x5B, 0x02, 0x10, 0x40, 0x00, 0x00};
    const std::string name = foldName(programName, kExNameWidth);
    m.insert(m.end(), name.begin(), name.begin() + 7);
    m.push_back(0x00);
    m.insert(m.end(), name.begin() + 7, name.end());
    const size_t templateAt = m.size();
    for (size_t i = 0; i < std::size(kExTemplate); ++i) {
        m.push_back(i == kExCountAt ? uint8_t(std::min<size_t>(keys.size(), 0x7F)) : kExTemplate[i]);
    }
    for (const auto& key : keys) {
        m.push_back(uint8_t(key.sampleNumber >> 8));
        m.push_back(uint8_t(key.sampleNumber & 0xFF));
        m.push_back(uint8_t(std::min<int>(key.key, 127)));
    }
    packSevenBit(m, templateAt + std::size(kExTemplate) - 4);
    unsigned sum = 0;
    for (size_t i = 4; i < m.size(); ++i) {
        sum += m[i];
    }
    m.push_back(uint8_t((0u - sum) & 0x7F));
    m.push_back(0xF7);
    return m;
}

} // namespace cleavix::sampler::smdi::yamaha
