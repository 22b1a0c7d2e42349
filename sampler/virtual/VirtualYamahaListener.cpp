#include "sampler/virtual/VirtualYamahaListener.h"

namespace cleavix::sampler::virt {

namespace {

constexpr size_t kProgramHead = 10 + 16 + 4 + 32 + 92 + 32; // up to the first sample entry
constexpr size_t kEntry = 40;

int digitPair(const std::vector<uint8_t>& d, size_t at) {
    if (d[at] > 15 || d[at + 1] > 15) {
        return -1;
    }
    return d[at] * 16 + d[at + 1];
}

std::string digitName(const std::vector<uint8_t>& d, size_t at, size_t chars) {
    std::string out;
    for (size_t i = 0; i < chars; ++i) {
        const int c = digitPair(d, at + 2 * i);
        out.push_back(c < 0 ? '?' : char(c));
    }
    return out;
}

} // namespace

VirtualYamahaListener::VirtualYamahaListener(Model model) : model_(model) {}

void VirtualYamahaListener::fromHost(const uint8_t* data, size_t size) {
    std::lock_guard lock(mutex_);
    largestBlock_ = std::max(largestBlock_, size);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        if (b == 0xF0) {
            if (!pending_.empty()) {
                error("message cut off by a new one");
            }
            pending_ = {b};
        } else if (!pending_.empty()) {
            pending_.push_back(b);
            if (b == 0xF7) {
                message(pending_);
                pending_.clear();
            }
        }
    }
}

void VirtualYamahaListener::message(const Bytes& m) {
    for (size_t i = 1; i + 1 < m.size(); ++i) {
        if (m[i] & 0x80) {
            error("data byte with bit 7 set");
            return;
        }
    }
    if (m.size() < 5 || m[1] != 0x43) {
        error("not a Yamaha message");
        return;
    }
    if ((m[2] & 0xF0) == 0x10 && m[3] == 0x58) {
        if (m[4] == 0x00 && m.size() == 23 && m[21] == 0x10) {
            keys_.push_back({std::string(m.begin() + 5, m.begin() + 21)});
            return;
        }
        if (m[4] == 0x01 && m.size() == 14 && m[5] == 0x02 && !keys_.empty()) {
            const int key = digitPair(m, 11);
            if (key < 0 || key > 127) {
                error("key out of range");
                return;
            }
            auto& k = keys_.back();
            switch (m[6]) {
            case 0x06: k.root = key; return;
            case 0x0A: k.high = key; return;
            case 0x0B: k.low = key; return;
            default: break;
            }
        }
        error("unknown parameter message");
        return;
    }
    if ((m[2] & 0xF0) == 0x00 && m[3] == 0x7A) {
        bulk(m);
        return;
    }
    if (m[2] == 0x00 && m[3] == 0x5B) {
        exVoice(m);
        return;
    }
    error("unknown message");
}

void VirtualYamahaListener::bulk(const Bytes& m) {
    ++bulkMessages_;
    largestBulk_ = std::max(largestBulk_, m.size());
    if (m.size() < 8) {
        error("bulk too short");
        return;
    }
    const size_t count = size_t(m[4]) * 128 + m[5];
    if (count != m.size() - 8) {
        error("bulk count " + std::to_string(count) + " for " + std::to_string(m.size() - 8) + " data bytes");
        return;
    }
    uint8_t sum = 0;
    for (size_t i = 6; i < m.size() - 2; ++i) {
        sum ^= m[i];
    }
    if (sum != m[m.size() - 2]) {
        error("bulk checksum");
        return;
    }
    // How long messages may get: the A3000 closes one after the entry that passed 4096 bytes, the
    // others cut at 4095.
    const size_t limit = model_ == Model::A3000 ? 4096 + kEntry : 4095;
    if (m.size() - 2 > limit) {
        error("bulk message of " + std::to_string(m.size()) + " bytes");
    }
    programData_.insert(programData_.end(), m.begin() + 6, m.end() - 2);
    parseProgram();
}

void VirtualYamahaListener::parseProgram() {
    if (programData_.size() < kProgramHead) {
        return;
    }
    const Bytes& d = programData_;
    const std::string head(d.begin(), d.begin() + 5);
    if (head != "LM  0" || d[8] != 'S' || d[9] != 'B') {
        error("program bulk header");
        programData_.clear();
        return;
    }
    const int samples = digitPair(d, kProgramHead - 32);
    const size_t entries = samples < 7 ? 8 : size_t(samples);
    if (samples < 0 || d.size() < kProgramHead + entries * kEntry) {
        return; // more to come
    }
    Program p;
    p.name.assign(d.begin() + 10, d.begin() + 26);
    if (digitName(d, 30, 16) != p.name) {
        error("program name digits");
    }
    p.declaredSamples = samples;
    for (size_t e = 0; e < entries; ++e) {
        const size_t at = kProgramHead + e * kEntry;
        bool zero = true;
        for (size_t i = 0; i < kEntry; ++i) {
            zero = zero && d[at + i] == 0;
        }
        if (zero) {
            ++p.zeroEntries;
            continue;
        }
        p.sampleNames.push_back(digitName(d, at, 16));
        p.entryNumbers.push_back(digitPair(d, at + 37));
    }
    if (d.size() != kProgramHead + entries * kEntry) {
        error("bytes after the program");
    }
    programs_.push_back(std::move(p));
    programData_.clear();
}

void VirtualYamahaListener::exVoice(const Bytes& m) {
    constexpr size_t kPackedFrom = 9 + 13 + 12; // the voice template's fourth-last byte
    if (m.size() < kPackedFrom + 2) {
        error("voice bulk too short");
        return;
    }
    unsigned sum = 0;
    for (size_t i = 4; i < m.size() - 2; ++i) {
        sum += m[i];
    }
    if (((sum + m[m.size() - 2]) & 0x7F) != 0) {
        error("voice checksum");
        return;
    }
    Bytes plain(m.begin(), m.begin() + kPackedFrom);
    const size_t end = m.size() - 2;
    for (size_t at = kPackedFrom; at < end;) {
        const size_t group = std::min<size_t>(7, end - at - 1);
        if (end - at < 2) {
            error("voice packing");
            return;
        }
        const uint8_t high = m[at + group];
        for (size_t i = 0; i < group; ++i) {
            plain.push_back(uint8_t(m[at + i] | (((high >> i) & 1) << 7)));
        }
        at += group + 1;
    }
    ExVoice v;
    v.name = std::string(m.begin() + 9, m.begin() + 16) + std::string(m.begin() + 17, m.begin() + 22);
    if (m[16] != 0) {
        error("voice name");
    }
    v.declaredSamples = plain[22 + 2];
    const size_t keysAt = 22 + 16;
    if (plain.size() != keysAt + size_t(v.declaredSamples) * 3) {
        error("voice key banks");
        return;
    }
    for (size_t at = keysAt; at < plain.size(); at += 3) {
        v.keys.push_back({plain[at] * 256 + plain[at + 1], plain[at + 2]});
    }
    voices_.push_back(std::move(v));
}

std::vector<VirtualYamahaListener::Key> VirtualYamahaListener::keys() const {
    std::lock_guard lock(mutex_);
    return keys_;
}

std::vector<VirtualYamahaListener::Program> VirtualYamahaListener::programs() const {
    std::lock_guard lock(mutex_);
    return programs_;
}

std::vector<VirtualYamahaListener::ExVoice> VirtualYamahaListener::voices() const {
    std::lock_guard lock(mutex_);
    return voices_;
}

std::vector<std::string> VirtualYamahaListener::errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

size_t VirtualYamahaListener::bulkMessages() const {
    std::lock_guard lock(mutex_);
    return bulkMessages_;
}

size_t VirtualYamahaListener::largestBulk() const {
    std::lock_guard lock(mutex_);
    return largestBulk_;
}

size_t VirtualYamahaListener::largestBlock() const {
    std::lock_guard lock(mutex_);
    return largestBlock_;
}

} // namespace cleavix::sampler::virt
