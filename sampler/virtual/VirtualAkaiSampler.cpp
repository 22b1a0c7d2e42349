#include "sampler/virtual/VirtualAkaiSampler.h"

#include "sampler/scsi/ScsiCommands.h"
#include "sampler/virtual/StateFile.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace cleavix::sampler::scsi {

namespace {

constexpr uint8_t kModeCommand = 0x09;
constexpr uint8_t kSendCommand = 0x0C;
constexpr uint8_t kStatusCommand = 0x0D;
constexpr uint8_t kReceiveCommand = 0x0E;
constexpr uint8_t kDataFlag = 0x80;
constexpr size_t kHeaderMessage = 7 + 384 + 1;
constexpr size_t kKeygroupMessage = 8 + 384 + 1;

using Bytes = std::vector<uint8_t>;

// The sampler's own reading of a block: data byte i is the nibble pair at from + 2i.
uint8_t blockByte(const Bytes& message, size_t from, size_t i) {
    return static_cast<uint8_t>((message[from + 2 * i] & 0x0F) | ((message[from + 2 * i + 1] & 0x0F) << 4));
}

std::string blockName(const Bytes& message, size_t from, size_t first) {
    static const std::string set = "0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ#+-.";
    std::string name;
    for (size_t i = 0; i < 12; ++i) {
        const uint8_t index = blockByte(message, from, first + i);
        name.push_back(index < set.size() ? set[index] : ' ');
    }
    return name;
}

Bytes answerFrame(uint8_t function, const Bytes& body) {
    Bytes out(body.size() + 6, 0);
    out[0] = 0xF0;
    out[1] = 0x47;
    out[3] = function;
    out[4] = 0x48;
    std::copy(body.begin(), body.end(), out.begin() + 5);
    out.back() = 0xF7;
    return out;
}

void putNibbles(Bytes& out, size_t at, uint8_t value) {
    out[at] = value & 0x0F;
    out[at + 1] = static_cast<uint8_t>(value >> 4);
}

uint32_t groups7(const Bytes& m, size_t at, size_t count) {
    uint32_t v = 0;
    for (size_t i = count; i-- > 0;) {
        v = (v << 7) | (m[at + i] & 0x7F);
    }
    return v;
}


void writeString(std::ostream& out, const std::string& s) {
    const auto n = static_cast<uint32_t>(s.size());
    out.write(reinterpret_cast<const char*>(&n), 4);
    out.write(s.data(), n);
}

bool readString(std::istream& in, std::string& s) {
    uint32_t n = 0;
    if (!in.read(reinterpret_cast<char*>(&n), 4) || n > 1024) {
        return false;
    }
    s.resize(n);
    return bool(in.read(s.data(), n));
}

} // namespace

VirtualAkaiSampler::VirtualAkaiSampler() : VirtualAkaiSampler(virt::stateFileFromEnvironment("akai-s2000.state")) {}

VirtualAkaiSampler::VirtualAkaiSampler(std::string stateFile) : stateFile_(std::move(stateFile)) { load(); }

TargetAnswer VirtualAkaiSampler::execute(const TargetCommand& command) {
    std::lock_guard lock(mutex_);
    const uint8_t code = command.cdb[0];
    if (code == op::kInquiry) {
        TargetAnswer answer;
        answer.dataIn = buildInquiry(kProcessorDevice, "AKAI", "S2000", "1.00");
        return answer;
    }
    if (code == op::kTestUnitReady) {
        return {};
    }
    const bool vendor = code == kModeCommand || code == kSendCommand || code == kStatusCommand || code == kReceiveCommand;
    if (!vendor) {
        return TargetAnswer::checkCondition(sense_key::kIllegalRequest, 0x20);
    }
    if (faults_.checkConditionAt > 0 && --faults_.checkConditionAt == 0) {
        return TargetAnswer::checkCondition(sense_key::kHardwareError, 0x44);
    }
    if (code == kModeCommand) {
        modeOn_ = command.cdb[2] == 1 && command.cdb[3] == 1;
        if (!modeOn_) {
            incoming_.clear();
            pending_.clear();
            dataOut_.clear();
            takingData_ = false;
        }
        return {};
    }
    if (!modeOn_) {
        return TargetAnswer::checkCondition(sense_key::kIllegalRequest, 0x2C);
    }
    const bool data = (command.cdb[5] & kDataFlag) != 0;
    const uint32_t length = uint32_t(command.cdb[2]) << 16 | uint32_t(command.cdb[3]) << 8 | command.cdb[4];
    if (code == kSendCommand) {
        if (command.direction != Direction::Out || command.dataOut.size() != length) {
            return TargetAnswer::checkCondition(sense_key::kIllegalRequest, 0x24);
        }
        return sendCommand(command, data);
    }
    if (code == kStatusCommand) {
        return statusCommand(data);
    }
    return receiveCommand(length, data);
}

TargetAnswer VirtualAkaiSampler::sendCommand(const TargetCommand& command, bool data) {
    if (data) {
        if (!takingData_) {
            return TargetAnswer::checkCondition(sense_key::kIllegalRequest, 0x2C);
        }
        taking_.data.insert(taking_.data.end(), command.dataOut.begin(), command.dataOut.end());
        if (taking_.data.size() >= takingBytes_) {
            taking_.data.resize(takingBytes_);
            freeWords_ -= std::min(freeWords_, takingBytes_ / 2);
            if (takingNumber_ < samples_.size()) {
                samples_[takingNumber_] = std::move(taking_);
            } else {
                samples_.push_back(std::move(taking_));
            }
            taking_ = {};
            takingData_ = false;
            save();
        }
        return {};
    }
    if (!command.dataOut.empty() && command.dataOut.front() == 0xF0) {
        incoming_.clear();
    }
    incoming_.insert(incoming_.end(), command.dataOut.begin(), command.dataOut.end());
    if (!incoming_.empty() && incoming_.back() == 0xF7) {
        Bytes message;
        message.swap(incoming_);
        messages_.push_back(message);
        handleMessage(message);
    }
    return {};
}

TargetAnswer VirtualAkaiSampler::statusCommand(bool data) {
    uint32_t pending = static_cast<uint32_t>(data ? dataOut_.size() : pending_.size());
    if (!data && pending == 0 && faults_.pendingNeverZero && !lastAnswer_.empty()) {
        pending_ = lastAnswer_;
        pending = static_cast<uint32_t>(pending_.size());
    }
    if (faults_.absurdPending) {
        pending = 0xFFFFFF;
    }
    TargetAnswer answer;
    answer.dataIn = {uint8_t(pending >> 16), uint8_t(pending >> 8), uint8_t(pending), 0, 0, 0};
    return answer;
}

TargetAnswer VirtualAkaiSampler::receiveCommand(uint32_t length, bool data) {
    Bytes& source = data ? dataOut_ : pending_;
    size_t give = std::min<size_t>(length, source.size());
    if (data) {
        give -= std::min<size_t>(give, faults_.dataShortBy);
    } else if (faults_.shortAnswers) {
        give /= 2;
    }
    TargetAnswer answer;
    answer.dataIn.assign(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(give));
    // What was asked for is gone, whether it all came or not.
    source.erase(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(length, source.size())));
    if (!data && source.empty() && pendingIsWait_) {
        pendingIsWait_ = false;
        if (waitsLeft_ != 0) {
            if (waitsLeft_ > 0) {
                --waitsLeft_;
            }
            queueHandshake(0x7C);
        } else {
            queueHandshake(0x7F);
            takingData_ = true;
        }
    }
    return answer;
}

void VirtualAkaiSampler::queueHandshake(uint8_t status) {
    pending_ = {0xF0, 0x7E, 0x00, status, 0x00, 0xF7};
    pendingIsWait_ = status == 0x7C;
}

void VirtualAkaiSampler::handleMessage(const Bytes& m) {
    if (m.size() < 6 || m[1] != 0x47 || m[4] != 0x48) {
        return; // not for this sampler: no answer
    }
    switch (m[3]) {
    case 0x00: {
        Bytes body(14, 0);
        for (size_t i = 0; i < 4; ++i) {
            body[10 + i] = static_cast<uint8_t>((freeWords_ >> (7 * i)) & 0x7F);
        }
        pending_ = answerFrame(0x01, body);
        break;
    }
    case 0x02:
    case 0x04: {
        const auto count = static_cast<uint32_t>(m[3] == 0x02 ? programs_.size() : samples_.size());
        pending_ = answerFrame(static_cast<uint8_t>(m[3] + 1), {uint8_t(count & 0x7F), uint8_t((count >> 7) & 0x7F)});
        break;
    }
    case 0x0A: {
        if (m.size() < 8) {
            return;
        }
        const uint32_t n = groups7(m, 5, 2);
        if (n >= samples_.size()) {
            pending_ = {0xF0, 0x7E, 0x00, 0x7E, 0x00, 0xF7};
            break;
        }
        const Sample& s = samples_[n];
        // The header as this sampler answers a request for it: rate flag at 14, the name's nibble
        // pairs from 15, the length in words as nibble pairs from 59.
        Bytes a(kHeaderMessage, 0);
        a[0] = 0xF0;
        a[1] = 0x47;
        a[3] = 0x0B;
        a[4] = 0x48;
        a[5] = uint8_t(n & 0x7F);
        a[6] = uint8_t((n >> 7) & 0x7F);
        a[14] = s.rate;
        static const std::string set = "0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ#+-.";
        for (size_t i = 0; i < 12; ++i) {
            const char c = i < s.name.size() ? s.name[i] : ' ';
            const auto at = set.find(c);
            putNibbles(a, 15 + 2 * i, uint8_t(at == std::string::npos ? 10 : at));
        }
        const auto words = static_cast<uint32_t>(s.data.size() / 2);
        for (size_t i = 0; i < 4; ++i) {
            putNibbles(a, 59 + 2 * i, uint8_t(words >> (8 * i)));
        }
        a.back() = 0xF7;
        pending_ = std::move(a);
        break;
    }
    case 0x0C: {
        if (m.size() < 18) {
            return;
        }
        const uint32_t n = groups7(m, 5, 2);
        const uint32_t start = groups7(m, 7, 4);
        const uint32_t words = groups7(m, 11, 4);
        if (n < samples_.size()) {
            const Bytes& d = samples_[n].data;
            const size_t from = std::min<size_t>(size_t(start) * 2, d.size());
            const size_t to = std::min<size_t>(from + size_t(words) * 2, d.size());
            dataOut_.assign(d.begin() + static_cast<std::ptrdiff_t>(from), d.begin() + static_cast<std::ptrdiff_t>(to));
        }
        return;
    }
    case 0x0B: receiveSampleHeader(m); return;
    case 0x07: receiveProgram(m); break;
    case 0x09: receiveKeygroup(m); break;
    default: return;
    }
    lastAnswer_ = pending_;
}

void VirtualAkaiSampler::receiveSampleHeader(const Bytes& m) {
    if (m.size() != kHeaderMessage) {
        queueHandshake(0x7E);
        return;
    }
    Sample s;
    s.rate = blockByte(m, 7, 1);
    s.rootKey = blockByte(m, 7, 2);
    s.name = blockName(m, 7, 3);
    uint32_t words = 0;
    for (size_t i = 0; i < 4; ++i) {
        words |= uint32_t(blockByte(m, 7, 26 + i)) << (8 * i);
    }
    if (faults_.malformedHandshake) {
        pending_ = {0xF0, 0x7E, 0x00, 0x7F, 0xF7};
        return;
    }
    if (faults_.nakAfterHeader || words == 0 || words > freeWords_ || s.rate > 1) {
        queueHandshake(0x7E);
        return;
    }
    taking_ = std::move(s);
    takingBytes_ = words * 2;
    takingNumber_ = groups7(m, 5, 2);
    waitsLeft_ = faults_.waits;
    if (waitsLeft_ != 0) {
        if (waitsLeft_ > 0) {
            --waitsLeft_;
        }
        queueHandshake(0x7C);
    } else {
        queueHandshake(0x7F);
        takingData_ = true;
    }
}

void VirtualAkaiSampler::receiveProgram(const Bytes& m) {
    const bool ok = m.size() == kHeaderMessage && !faults_.refuseProgram;
    if (ok) {
        Program p;
        p.name = blockName(m, 7, 3);
        p.baseNote = blockByte(m, 7, 19);
        p.lastKey = blockByte(m, 7, 20);
        programs_.push_back(std::move(p));
        save();
    }
    pending_ = answerFrame(0x07, {uint8_t(ok ? 0 : 1)});
}

void VirtualAkaiSampler::receiveKeygroup(const Bytes& m) {
    const bool ok = m.size() == kKeygroupMessage && !programs_.empty() && !faults_.refuseKeygroup;
    if (ok) {
        Keygroup k;
        k.lowKey = blockByte(m, 8, 3);
        k.highKey = blockByte(m, 8, 4);
        k.sampleName = blockName(m, 8, 34);
        programs_.back().keygroups.push_back(std::move(k));
        save();
    }
    pending_ = answerFrame(0x09, {uint8_t(ok ? 0 : 1)});
}

void VirtualAkaiSampler::setFreeWords(uint32_t words) {
    std::lock_guard lock(mutex_);
    freeWords_ = words;
    save();
}

uint32_t VirtualAkaiSampler::freeWords() const {
    std::lock_guard lock(mutex_);
    return freeWords_;
}

void VirtualAkaiSampler::setFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

std::vector<VirtualAkaiSampler::Sample> VirtualAkaiSampler::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

std::vector<VirtualAkaiSampler::Program> VirtualAkaiSampler::programs() const {
    std::lock_guard lock(mutex_);
    return programs_;
}

void VirtualAkaiSampler::addSample(Sample sample) {
    std::lock_guard lock(mutex_);
    samples_.push_back(std::move(sample));
    save();
}

bool VirtualAkaiSampler::modeOn() const {
    std::lock_guard lock(mutex_);
    return modeOn_;
}

std::vector<std::vector<uint8_t>> VirtualAkaiSampler::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

// The state file: a tag line, the free memory, then samples and programs with their lengths.
void VirtualAkaiSampler::load() {
    if (stateFile_.empty()) {
        return;
    }
    std::ifstream in(stateFile_, std::ios::binary);
    std::string tag;
    if (!in || !std::getline(in, tag) || tag != "cleavix-akai-s2000 1") {
        return;
    }
    uint32_t free = 0;
    uint32_t count = 0;
    if (!in.read(reinterpret_cast<char*>(&free), 4) || !in.read(reinterpret_cast<char*>(&count), 4) || count > 4096) {
        return;
    }
    std::vector<Sample> samples(count);
    for (auto& s : samples) {
        uint32_t bytes = 0;
        if (!readString(in, s.name) || !in.read(reinterpret_cast<char*>(&s.rate), 1) ||
            !in.read(reinterpret_cast<char*>(&s.rootKey), 1) || !in.read(reinterpret_cast<char*>(&bytes), 4) ||
            bytes > (1u << 30)) {
            return;
        }
        s.data.resize(bytes);
        if (!in.read(reinterpret_cast<char*>(s.data.data()), bytes)) {
            return;
        }
    }
    if (!in.read(reinterpret_cast<char*>(&count), 4) || count > 4096) {
        return;
    }
    std::vector<Program> programs(count);
    for (auto& p : programs) {
        uint32_t groups = 0;
        if (!readString(in, p.name) || !in.read(reinterpret_cast<char*>(&p.baseNote), 1) ||
            !in.read(reinterpret_cast<char*>(&p.lastKey), 1) || !in.read(reinterpret_cast<char*>(&groups), 4) ||
            groups > 4096) {
            return;
        }
        p.keygroups.resize(groups);
        for (auto& k : p.keygroups) {
            if (!in.read(reinterpret_cast<char*>(&k.lowKey), 1) || !in.read(reinterpret_cast<char*>(&k.highKey), 1) ||
                !readString(in, k.sampleName)) {
                return;
            }
        }
    }
    freeWords_ = free;
    samples_ = std::move(samples);
    programs_ = std::move(programs);
}

void VirtualAkaiSampler::save() const {
    virt::saveStateFile(stateFile_, [this](std::ostream& out) {
        out << "cleavix-akai-s2000 1\n";
        auto count = static_cast<uint32_t>(samples_.size());
        out.write(reinterpret_cast<const char*>(&freeWords_), 4);
        out.write(reinterpret_cast<const char*>(&count), 4);
        for (const auto& s : samples_) {
            writeString(out, s.name);
            out.write(reinterpret_cast<const char*>(&s.rate), 1);
            out.write(reinterpret_cast<const char*>(&s.rootKey), 1);
            const auto bytes = static_cast<uint32_t>(s.data.size());
            out.write(reinterpret_cast<const char*>(&bytes), 4);
            out.write(reinterpret_cast<const char*>(s.data.data()), bytes);
        }
        count = static_cast<uint32_t>(programs_.size());
        out.write(reinterpret_cast<const char*>(&count), 4);
        for (const auto& p : programs_) {
            writeString(out, p.name);
            out.write(reinterpret_cast<const char*>(&p.baseNote), 1);
            out.write(reinterpret_cast<const char*>(&p.lastKey), 1);
            const auto groups = static_cast<uint32_t>(p.keygroups.size());
            out.write(reinterpret_cast<const char*>(&groups), 4);
            for (const auto& k : p.keygroups) {
                out.write(reinterpret_cast<const char*>(&k.lowKey), 1);
                out.write(reinterpret_cast<const char*>(&k.highKey), 1);
                writeString(out, k.sampleName);
            }
        }
    });
}

} // namespace cleavix::sampler::scsi
