#include "sampler/virtual/VirtualSmdiSampler.h"

#include "sampler/scsi/ScsiCommands.h"
#include "sampler/virtual/StateFile.h"

#include <algorithm>
#include <fstream>

namespace cleavix::sampler::scsi {
namespace {

// The sampler's own reading and writing of SMDI framing.
constexpr uint16_t kIdentify = 0x0001, kReject = 0x0002, kAck = 0x0100, kWait = 0x0102,
                   kNextPacket = 0x0103, kEnd = 0x0104, kAbort = 0x0105, kData = 0x0110,
                   kHeaderRequest = 0x0120, kHeader = 0x0121, kBegin = 0x0122;

uint32_t be(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        v = (v << 8) | b[at + size_t(i)];
    }
    return v;
}

void put(std::vector<uint8_t>& b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
        b.push_back(uint8_t(v >> (8 * i)));
    }
}

std::vector<uint8_t> frame(uint16_t id, uint16_t sub, const std::vector<uint8_t>& data = {}) {
    std::vector<uint8_t> m{'S', 'M', 'D', 'I'};
    put(m, id, 2);
    put(m, sub, 2);
    put(m, uint32_t(data.size()), 3);
    m.insert(m.end(), data.begin(), data.end());
    return m;
}

std::vector<uint8_t> number3(uint32_t n) {
    std::vector<uint8_t> d;
    put(d, n, 3);
    return d;
}

template <class T>
void writeRaw(std::ostream& out, const T& value) {
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T>
bool readRaw(std::istream& in, T& value) {
    return bool(in.read(reinterpret_cast<char*>(&value), sizeof value));
}

constexpr const char* kStateTag = "cleavix-smdi-sampler 1";

} // namespace

VirtualSmdiSampler::VirtualSmdiSampler(Flavour flavour) : flavour_(flavour) {}

VirtualSmdiSampler::VirtualSmdiSampler(Flavour flavour, std::string stateFile)
    : flavour_(flavour), stateFile_(std::move(stateFile)) {
    load();
}

std::shared_ptr<VirtualSmdiSampler> VirtualSmdiSampler::fromEnvironment(Flavour flavour) {
    return std::make_shared<VirtualSmdiSampler>(
        flavour, virt::stateFileFromEnvironment(flavour == Flavour::Emu ? "smdi-emu.state" : "smdi-generic.state"));
}

// The state file: a tag line, the number of samples, then each with its number, name, format,
// keys and data.
void VirtualSmdiSampler::load() {
    if (stateFile_.empty()) {
        return;
    }
    std::ifstream in(stateFile_, std::ios::binary);
    std::string tag;
    uint32_t count = 0;
    if (!in || !std::getline(in, tag) || tag != kStateTag || !readRaw(in, count) || count > 1025) {
        return;
    }
    std::map<uint32_t, Sample> samples;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t number = 0, nameBytes = 0, dataBytes = 0;
        Sample s;
        uint8_t keys[4] = {};
        if (!readRaw(in, number) || !readRaw(in, nameBytes) || nameBytes > 255) {
            return;
        }
        s.name.resize(nameBytes);
        if (!in.read(s.name.data(), nameBytes) || !readRaw(in, s.bits) || !readRaw(in, s.channels) ||
            !readRaw(in, s.periodNs) || !in.read(reinterpret_cast<char*>(keys), 4) || !readRaw(in, dataBytes) ||
            dataBytes > (1u << 28)) {
            return;
        }
        if (keys[0]) {
            s.rootKey = keys[1];
            s.lowKey = keys[2];
            s.highKey = keys[3];
        }
        s.data.resize(dataBytes);
        if (!in.read(reinterpret_cast<char*>(s.data.data()), dataBytes)) {
            return;
        }
        samples[number] = std::move(s);
    }
    samples_ = std::move(samples);
}

void VirtualSmdiSampler::save() const {
    virt::saveStateFile(stateFile_, [this](std::ostream& out) {
        out << kStateTag << "\n";
        writeRaw(out, uint32_t(samples_.size()));
        for (const auto& [number, s] : samples_) {
            writeRaw(out, number);
            writeRaw(out, uint32_t(s.name.size()));
            out.write(s.name.data(), std::streamsize(s.name.size()));
            writeRaw(out, s.bits);
            writeRaw(out, s.channels);
            writeRaw(out, s.periodNs);
            const uint8_t keys[4] = {uint8_t(s.rootKey ? 1 : 0), s.rootKey.value_or(0), s.lowKey.value_or(0),
                                     s.highKey.value_or(0)};
            out.write(reinterpret_cast<const char*>(keys), 4);
            writeRaw(out, uint32_t(s.data.size()));
            out.write(reinterpret_cast<const char*>(s.data.data()), std::streamsize(s.data.size()));
        }
    });
}

void VirtualSmdiSampler::setFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

void VirtualSmdiSampler::putSample(uint32_t number, Sample sample) {
    std::lock_guard lock(mutex_);
    samples_[number] = std::move(sample);
    save();
}

std::map<uint32_t, VirtualSmdiSampler::Sample> VirtualSmdiSampler::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

std::vector<uint16_t> VirtualSmdiSampler::messagesSeen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

std::vector<uint32_t> VirtualSmdiSampler::packetsReceived() const {
    std::lock_guard lock(mutex_);
    return packets_;
}

int VirtualSmdiSampler::testUnitReadies() const {
    std::lock_guard lock(mutex_);
    return testUnitReadies_;
}

void VirtualSmdiSampler::reset() {
    procedure_ = Procedure::Idle;
    incoming_ = {};
    packetsThisProcedure_ = 0;
    nextPacket_ = 0;
}

TargetAnswer VirtualSmdiSampler::execute(const TargetCommand& command) {
    std::lock_guard lock(mutex_);
    TargetAnswer answer;
    switch (command.cdb[0]) {
    case op::kInquiry:
        answer.dataIn = flavour_ == Flavour::Emu
                            ? buildInquiry(kProcessorDevice, "E-MU SYS", "E4XT ULTRA", "4.70")
                            : buildInquiry(kProcessorDevice, "CLEAVIX", "SMDI SAMPLER", "1.0");
        return answer;
    case op::kTestUnitReady:
        ++testUnitReadies_;
        if (faults_.failPolls) {
            return TargetAnswer::checkCondition(sense_key::kHardwareError, 0x44);
        }
        if (busyLeft_ > 0) {
            --busyLeft_;
            answer.status = target_status::kBusy;
        }
        return answer;
    case op::kSend: {
        std::vector<uint8_t> message(command.dataOut.begin(), command.dataOut.end());
        outbox_ = handle(message);
        if (faults_.waits > 0 && !outbox_.empty()) {
            --faults_.waits;
            held_ = std::move(outbox_);
            outbox_ = frame(kWait, 0);
            busyLeft_ = faults_.busyPolls;
        }
        return answer;
    }
    case op::kReceive: {
        answer.dataIn = std::move(outbox_);
        outbox_.clear();
        if (!held_.empty()) {
            if (answer.dataIn.empty()) {
                answer.dataIn = std::move(held_);
                held_.clear();
            } else {
                outbox_ = std::move(held_); // the Wait goes now, the real answer at the next RECEIVE
                held_.clear();
            }
        }
        if (faults_.unknownAnswer && answer.dataIn.size() >= 8) {
            faults_.unknownAnswer = false;
            answer.dataIn[4] = 0x77;
            answer.dataIn[5] = 0x77;
        }
        if (faults_.dropTag && !answer.dataIn.empty()) {
            faults_.dropTag = false;
            answer.dataIn[0] = 'X';
        }
        if (faults_.shortAnswer && !answer.dataIn.empty()) {
            answer.dataIn.resize(std::min<size_t>(answer.dataIn.size(), *faults_.shortAnswer));
            faults_.shortAnswer.reset();
        }
        return answer;
    }
    default:
        return TargetAnswer::checkCondition(sense_key::kIllegalRequest, 0x20);
    }
}

std::vector<uint8_t> VirtualSmdiSampler::handle(const std::vector<uint8_t>& m) {
    if (m.size() < 11 || m[0] != 'S' || m[1] != 'M' || m[2] != 'D' || m[3] != 'I') {
        return frame(kReject, 0);
    }
    const auto id = uint16_t(be(m, 4, 2));
    const auto sub = uint16_t(be(m, 6, 2));
    const uint32_t length = be(m, 8, 3);
    seen_.push_back(id);
    if (m.size() - 11 < length) {
        return frame(kReject, 0);
    }
    const std::vector<uint8_t> data(m.begin() + 11, m.begin() + 11 + std::ptrdiff_t(length));
    switch (id) {
    case kIdentify:
        if (faults_.notSmdi) {
            return {'N', 'O', 'P', 'E', 0, 0, 0, 0, 0, 0, 0};
        }
        return frame(kIdentify, 1);
    case kAck:
        return {};
    case kAbort:
        reset();
        return frame(kAck, 0);
    case kHeaderRequest: {
        if (data.size() < 3) {
            return frame(kReject, 0);
        }
        const uint32_t n = be(data, 0, 3);
        auto it = samples_.find(n);
        if (it == samples_.end()) {
            return frame(kReject, 0);
        }
        return headerOf(n, it->second);
    }
    case kHeader:
        return onSampleHeader(sub, data);
    case kBegin:
        return onBeginTransfer(data);
    case kData:
        return onDataPacket(data);
    case kNextPacket:
        return onSendNextPacket(data);
    default:
        return frame(kReject, 0);
    }
}

std::vector<uint8_t> VirtualSmdiSampler::headerOf(uint32_t number, const Sample& s) const {
    std::vector<uint8_t> d;
    put(d, number, 3);
    d.push_back(s.bits);
    d.push_back(s.channels);
    put(d, s.periodNs, 3);
    const uint32_t words = faults_.claimedWords.value_or(s.channels ? s.words() / s.channels : 0);
    put(d, words, 4);
    put(d, 0, 4);
    put(d, words ? words - 1 : 0, 4);
    d.push_back(0x7F);
    put(d, 0x41, 2);
    put(d, 0, 2);
    const size_t n = std::min<size_t>(s.name.size(), 255);
    d.push_back(uint8_t(n));
    d.insert(d.end(), s.name.begin(), s.name.begin() + std::ptrdiff_t(n));
    d.resize(281, 0);
    return frame(kHeader, 0, d);
}

std::vector<uint8_t> VirtualSmdiSampler::onSampleHeader(uint16_t sub, const std::vector<uint8_t>& d) {
    const size_t nameAt = sub == 1 ? 28 : 25;
    if (faults_.rejectHeaders || sub > 1 || d.size() <= nameAt || d.size() - nameAt - 1 < d[nameAt]) {
        return frame(kReject, 0);
    }
    reset();
    number_ = be(d, 0, 3);
    incoming_.bits = d[3];
    incoming_.channels = d[4];
    incoming_.periodNs = be(d, 5, 3);
    const uint32_t words = be(d, 8, 4);
    if (sub == 1 && flavour_ == Flavour::Emu) {
        incoming_.rootKey = d[25];
        incoming_.lowKey = d[26];
        incoming_.highKey = d[27];
    }
    incoming_.name.assign(d.begin() + std::ptrdiff_t(nameAt + 1), d.begin() + std::ptrdiff_t(nameAt + 1 + d[nameAt]));
    if (incoming_.channels == 0 || incoming_.channels > 2 || uint64_t(words) * incoming_.channels > 0x8000000) {
        return frame(kReject, 0);
    }
    expectedWords_ = words * incoming_.channels;
    procedure_ = Procedure::HeaderTaken;
    std::vector<uint8_t> ack;
    put(ack, number_, 3);
    put(ack, faults_.packetLength.value_or(ownPacketLength()), 3);
    return frame(kBegin, 1, ack);
}

std::vector<uint8_t> VirtualSmdiSampler::onBeginTransfer(const std::vector<uint8_t>& d) {
    if (d.size() < 6) {
        return frame(kReject, 0);
    }
    const uint32_t number = be(d, 0, 3);
    const uint32_t asked = be(d, 3, 3);
    if (procedure_ == Procedure::HeaderTaken && number == number_) {
        // The host sends: take its packet length and ask for the first packet.
        // A sampler told to negotiate a length of its own takes what the host then names, 0 too.
        if (!faults_.packetLength && (asked == 0 || asked % 2 != 0)) {
            reset();
            return frame(kReject, 0);
        }
        packetLength_ = asked;
        incoming_.data.assign(size_t(expectedWords_) * 2, 0);
        procedure_ = Procedure::Receiving;
        nextPacket_ = 0;
        return frame(kNextPacket, 0, number3(0));
    }
    auto it = samples_.find(number);
    if (it == samples_.end()) {
        return frame(kReject, 0);
    }
    reset();
    procedure_ = Procedure::Sending;
    number_ = number;
    packetLength_ = faults_.packetLength.value_or(std::min(asked, ownPacketLength()));
    std::vector<uint8_t> ack;
    put(ack, number, 3);
    put(ack, packetLength_, 3);
    return frame(kBegin, 1, ack);
}

std::vector<uint8_t> VirtualSmdiSampler::onDataPacket(const std::vector<uint8_t>& d) {
    if (procedure_ != Procedure::Receiving || d.size() < 3) {
        return frame(kReject, 0);
    }
    const uint32_t packet = be(d, 0, 3);
    packets_.push_back(packet);
    if (packet != nextPacket_) {
        reset();
        return frame(kAbort, 0);
    }
    const uint64_t at = uint64_t(packet) * packetLength_;
    const size_t bytes = d.size() - 3;
    if (at + bytes > incoming_.data.size() || bytes > packetLength_) {
        reset();
        return frame(kAbort, 0);
    }
    std::copy(d.begin() + 3, d.end(), incoming_.data.begin() + std::ptrdiff_t(at));
    ++packetsThisProcedure_;
    if (faults_.abortAfterPackets && packetsThisProcedure_ >= *faults_.abortAfterPackets) {
        faults_.abortAfterPackets.reset();
        reset();
        return frame(kAbort, 0);
    }
    if (at + bytes == incoming_.data.size() && faults_.askPastEnd) {
        faults_.askPastEnd = false;
        nextPacket_ = packet + 1;
        return frame(kNextPacket, 0, number3(nextPacket_));
    }
    if (at + bytes == incoming_.data.size()) {
        samples_[number_] = std::move(incoming_);
        reset();
        save();
        return frame(kEnd, 0);
    }
    if (faults_.repeatSendNextPacket > 0) {
        --faults_.repeatSendNextPacket;
        return frame(kNextPacket, 0, number3(packet)); // the same one again
    }
    if (faults_.skipSendNextPacket) {
        faults_.skipSendNextPacket = false;
        return frame(kNextPacket, 0, number3(packet + 2));
    }
    nextPacket_ = packet + 1;
    return frame(kNextPacket, 0, number3(nextPacket_));
}

std::vector<uint8_t> VirtualSmdiSampler::onSendNextPacket(const std::vector<uint8_t>& d) {
    auto it = samples_.find(number_);
    if (procedure_ != Procedure::Sending || d.size() < 3 || it == samples_.end() || packetLength_ == 0) {
        return frame(kReject, 0);
    }
    const uint32_t packet = be(d, 0, 3);
    const auto& data = it->second.data;
    const uint64_t at = uint64_t(packet) * packetLength_;
    if (at >= data.size()) {
        return frame(kReject, 0);
    }
    ++packetsThisProcedure_;
    if (faults_.abortAfterPackets && packetsThisProcedure_ > *faults_.abortAfterPackets) {
        faults_.abortAfterPackets.reset();
        reset();
        return frame(kAbort, 0);
    }
    size_t bytes = size_t(std::min<uint64_t>(packetLength_, data.size() - at));
    if (faults_.shortDataPacket && bytes > 2) {
        faults_.shortDataPacket = false;
        bytes -= 2;
    }
    std::vector<uint8_t> body;
    put(body, faults_.wrongDataPacketNumber ? packet + 7 : packet, 3);
    body.insert(body.end(), data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + bytes));
    return frame(kData, 0, body);
}

} // namespace cleavix::sampler::scsi
