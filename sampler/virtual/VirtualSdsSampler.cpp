#include "sampler/virtual/VirtualSdsSampler.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace cleavix::sampler::virt {

namespace {

constexpr uint8_t kAck = 0x7F, kNak = 0x7E, kWait = 0x7C, kCancel = 0x7D;
constexpr size_t kWords = 40;

uint32_t groups(const std::vector<uint8_t>& m, size_t at, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) {
        v |= uint32_t(m[at + size_t(i)] & 0x7F) << (7 * i);
    }
    return v;
}

void putGroups(std::vector<uint8_t>& m, uint32_t v, int count) {
    for (int i = 0; i < count; ++i) {
        m.push_back(uint8_t((v >> (7 * i)) & 0x7F));
    }
}

// The sampler's own reading of a 16-bit word: three bytes, top bit first.
int16_t word(const uint8_t* b) {
    const int u = ((b[0] & 0x7F) << 9) | ((b[1] & 0x7F) << 2) | ((b[2] >> 5) & 3);
    return int16_t(u - 32768);
}

void putWord(uint8_t* b, int16_t v) {
    const int u = int(v) + 32768;
    b[0] = uint8_t(u >> 9);
    b[1] = uint8_t((u >> 2) & 0x7F);
    b[2] = uint8_t((u & 3) << 5);
}

uint8_t sumOf(const std::vector<uint8_t>& m) {
    uint8_t sum = 0;
    for (size_t i = 1; i < 125; ++i) {
        sum ^= m[i];
    }
    return sum & 0x7F;
}

void putLe(std::ofstream& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.put(char((v >> (8 * i)) & 0xFF));
    }
}

uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v |= uint32_t(b[at + size_t(i)]) << (8 * i);
    }
    return v;
}

} // namespace

VirtualSdsSampler::VirtualSdsSampler(std::string folder, const std::string& faults)
    : folder_(std::move(folder)), faults_(parseSdsFaults(faults)) {
    worker_ = std::thread([this] { run(); });
}

VirtualSdsSampler::~VirtualSdsSampler() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

std::shared_ptr<VirtualSdsSampler> VirtualSdsSampler::fromEnvironment() {
    const char* folder = std::getenv("CLEAVIX_VIRTUAL_SAMPLERS");
    const char* faults = std::getenv("CLEAVIX_VIRTUAL_FAULTS");
    return std::make_shared<VirtualSdsSampler>(folder ? folder : "", faults ? faults : "");
}

void VirtualSdsSampler::setFaults(const std::string& list) {
    SdsFaults parsed = parseSdsFaults(list);
    std::lock_guard lock(mutex_);
    faults_ = std::move(parsed);
}

void VirtualSdsSampler::fromHost(const uint8_t* data, size_t size) {
    {
        std::lock_guard lock(mutex_);
        inbox_.insert(inbox_.end(), data, data + size);
    }
    wake_.notify_all();
}

std::optional<StoredSample> VirtualSdsSampler::sample(uint32_t number) const {
    {
        std::lock_guard lock(mutex_);
        if (auto found = store_.find(number); found != store_.end()) {
            return found->second;
        }
    }
    return load(number);
}

void VirtualSdsSampler::putSample(uint32_t number, const StoredSample& sample) {
    {
        std::lock_guard lock(mutex_);
        store_[number] = sample;
    }
    persist(number, sample);
}

SdsSamplerStats VirtualSdsSampler::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

// ---- the line ----

void VirtualSdsSampler::takeBytes() {
    std::vector<uint8_t> bytes;
    {
        std::lock_guard lock(mutex_);
        bytes.swap(inbox_);
    }
    for (uint8_t b : bytes) {
        if (b >= 0xF8) {
            continue;
        }
        if (b == 0xF0) {
            partial_.assign(1, b);
            inSysex_ = true;
        } else if (!inSysex_) {
            continue;
        } else if (b == 0xF7) {
            partial_.push_back(b);
            messages_.push_back(std::move(partial_));
            partial_.clear();
            inSysex_ = false;
        } else if (b >= 0x80) {
            partial_.clear();
            inSysex_ = false;
        } else if (partial_.size() < 1024) {
            partial_.push_back(b);
        }
    }
}

std::optional<VirtualSdsSampler::Message> VirtualSdsSampler::nextMessage(Clock::time_point until) {
    while (true) {
        takeBytes();
        flushScheduled();
        if (!messages_.empty()) {
            Message m = std::move(messages_.front());
            messages_.pop_front();
            return m;
        }
        std::unique_lock lock(mutex_);
        if (stop_) {
            return std::nullopt;
        }
        auto deadline = until;
        if (!scheduled_.empty() && scheduled_.begin()->first < deadline) {
            deadline = scheduled_.begin()->first;
        }
        if (Clock::now() >= until) {
            return std::nullopt;
        }
        wake_.wait_until(lock, deadline, [this] { return stop_ || !inbox_.empty(); });
    }
}

void VirtualSdsSampler::send(Message message) {
    bool realTime = false;
    {
        std::lock_guard lock(mutex_);
        realTime = faults_.realTime;
    }
    if (realTime && message.size() > 4) {
        message.insert(message.begin() + 3, 0xF8);
        message.insert(message.begin() + std::ptrdiff_t(message.size() / 2), 0xFE);
    }
    toHost(message.data(), message.size());
}

void VirtualSdsSampler::sendAt(Clock::time_point when, Message message) { scheduled_.emplace(when, std::move(message)); }

void VirtualSdsSampler::flushScheduled() {
    const auto now = Clock::now();
    while (!scheduled_.empty() && scheduled_.begin()->first <= now) {
        send(scheduled_.begin()->second);
        scheduled_.erase(scheduled_.begin());
    }
}

VirtualSdsSampler::Message VirtualSdsSampler::handshake(uint8_t sub, uint8_t channel, uint8_t number) const {
    return {0xF0, 0x7E, channel, sub, uint8_t(number & 0x7F), 0xF7};
}

void VirtualSdsSampler::run() {
    while (true) {
        auto message = nextMessage(Clock::now() + std::chrono::milliseconds(200));
        {
            std::lock_guard lock(mutex_);
            if (stop_) {
                return;
            }
        }
        if (message) {
            handle(*message);
        }
    }
}

// ---- taking a dump ----

void VirtualSdsSampler::handle(const Message& m) {
    if (m.size() < 5 || m[1] != 0x7E) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (faults_.silence) {
            return;
        }
    }
    switch (m[3]) {
    case 0x01: handleHeader(m); break;
    case 0x02: handlePacket(m); break;
    case 0x03:
        if (m.size() == 7) {
            sendDump(groups(m, 4, 2), m[2]);
        }
        break;
    case kCancel: {
        receiving_.reset();
        std::lock_guard lock(mutex_);
        ++stats_.cancelsReceived;
        break;
    }
    default: break;
    }
}

// Faults that answer instead of taking the message. True when the message is refused.
bool VirtualSdsSampler::refuse(int k, uint8_t channel, uint8_t number) {
    std::unique_lock lock(mutex_);
    if (faults_.nakAll || (faults_.nak.count(k) && faults_.nak[k] != 0)) {
        if (!faults_.nakAll && faults_.nak[k] > 0) {
            --faults_.nak[k];
        }
        ++stats_.naks;
        lock.unlock();
        send(handshake(kNak, channel, number));
        return true;
    }
    if (faults_.cancel && *faults_.cancel == k) {
        ++stats_.cancels;
        lock.unlock();
        receiving_.reset();
        send(handshake(kCancel, channel, number));
        return true;
    }
    return false;
}

void VirtualSdsSampler::answer(int k, uint8_t channel, uint8_t number) {
    std::unique_lock lock(mutex_);
    const auto now = Clock::now();
    if (auto wait = faults_.wait.find(k); wait != faults_.wait.end()) {
        const int ms = wait->second;
        faults_.wait.erase(wait);
        ++stats_.waits;
        lock.unlock();
        send(handshake(kWait, channel, number));
        if (ms >= 0) {
            sendAt(now + std::chrono::milliseconds(ms), handshake(kAck, channel, number));
        }
        return;
    }
    if (auto late = faults_.lateAck.find(k); late != faults_.lateAck.end()) {
        const int ms = late->second;
        faults_.lateAck.erase(late);
        lock.unlock();
        sendAt(now + std::chrono::milliseconds(ms), handshake(kAck, channel, number));
        return;
    }
    ++stats_.acks;
    const bool wrong = faults_.wrongAck && *faults_.wrongAck == k;
    const bool twice = faults_.dupAck && *faults_.dupAck == k;
    lock.unlock();
    send(handshake(kAck, channel, wrong ? uint8_t(number + 1) : number));
    if (twice) {
        send(handshake(kAck, channel, number));
    }
}

void VirtualSdsSampler::handleHeader(const Message& m) {
    if (m.size() != 21) {
        return;
    }
    if (refuse(kHeader, m[2], 0)) {
        return;
    }
    Receiving r;
    r.number = groups(m, 4, 2);
    r.sample.bits = m[6];
    r.sample.periodNs = groups(m, 7, 3);
    r.length = groups(m, 10, 3);
    r.sample.loopStart = groups(m, 13, 3);
    r.sample.loopEnd = groups(m, 16, 3);
    r.sample.loopType = m[19];
    r.sample.samples.reserve(r.length);
    receiving_ = std::move(r);
    answer(kHeader, m[2], 0);
}

void VirtualSdsSampler::handlePacket(const Message& m) {
    if (!receiving_) {
        return;
    }
    const uint8_t channel = m[2];
    const uint8_t number = m[4];
    if (m.size() != 127 || m[125] != sumOf(m)) {
        std::lock_guard lock(mutex_);
        ++stats_.naks;
        send(handshake(kNak, channel, number));
        return;
    }
    Receiving& r = *receiving_;
    if (r.index > 0 && number == uint8_t((r.expected + 127) & 0x7F)) {
        send(handshake(kAck, channel, number)); // a repeat: already taken
        return;
    }
    if (number != r.expected) {
        std::lock_guard lock(mutex_);
        ++stats_.naks;
        send(handshake(kNak, channel, number));
        return;
    }
    const int k = int(r.index);
    if (refuse(k, channel, number)) {
        return;
    }
    const size_t left = r.length - r.sample.samples.size();
    for (size_t i = 0; i < std::min(left, kWords); ++i) {
        r.sample.samples.push_back(word(&m[5 + 3 * i]));
    }
    ++r.index;
    r.expected = uint8_t((r.expected + 1) & 0x7F);
    const bool complete = r.sample.samples.size() >= r.length;
    if (complete) {
        const uint32_t n = r.number;
        StoredSample done = std::move(r.sample);
        receiving_.reset();
        {
            std::lock_guard lock(mutex_);
            store_[n] = done;
            ++stats_.dumpsStored;
        }
        persist(n, done);
    }
    answer(k, channel, number);
}

// ---- sending a dump ----

VirtualSdsSampler::Reply VirtualSdsSampler::awaitReply(std::chrono::milliseconds timeout, uint8_t number) {
    const auto until = Clock::now() + timeout;
    while (auto m = nextMessage(until)) {
        if (m->size() != 6 || (*m)[1] != 0x7E) {
            continue;
        }
        const uint8_t sub = (*m)[3];
        if (sub == kCancel) {
            std::lock_guard lock(mutex_);
            ++stats_.cancelsReceived;
            return Reply::Cancel;
        }
        if (sub == kWait) {
            return Reply::Wait;
        }
        if ((*m)[4] != number) {
            continue;
        }
        if (sub == kAck) {
            return Reply::Ack;
        }
        if (sub == kNak) {
            return Reply::Nak;
        }
    }
    return Reply::None;
}

void VirtualSdsSampler::sendDump(uint32_t number, uint8_t requestChannel) {
    const auto stored = sample(number);
    if (!stored) {
        return; // nothing under that number: a sampler says nothing
    }
    SdsFaults f;
    {
        std::lock_guard lock(mutex_);
        f = faults_;
        ++stats_.dumpsSent;
    }
    const uint8_t channel = f.channel ? uint8_t(*f.channel) : requestChannel;
    const auto length = uint32_t(stored->samples.size());
    Message header{0xF0, 0x7E, channel, 0x01};
    putGroups(header, number, 2);
    header.push_back(uint8_t(f.bits ? *f.bits : 16));
    putGroups(header, f.period0 ? 0 : stored->periodNs, 3);
    putGroups(header, f.length0 ? 0 : length, 3);
    putGroups(header, stored->loopStart, 3);
    putGroups(header, stored->loopEnd, 3);
    header.push_back(stored->loopType);
    header.push_back(0xF7);

    bool openLoop = false;
    for (int tries = 0;; ++tries) {
        send(header);
        Reply reply = awaitReply(std::chrono::milliseconds(2000), 0);
        while (reply == Reply::Wait) {
            reply = awaitReply(std::chrono::milliseconds(10000), 0);
        }
        if (reply == Reply::Cancel) {
            return;
        }
        if (reply == Reply::None) {
            openLoop = true; // nobody answered: the standard says go on without handshake
        }
        if (reply != Reply::Nak || tries >= 10) {
            break;
        }
    }
    const uint32_t packets = (length + kWords - 1) / kWords + (f.extra ? 2 : 0);
    uint8_t packetNumber = 0;
    for (uint32_t index = 0; index < packets; ++index, packetNumber = uint8_t((packetNumber + 1) & 0x7F)) {
        if (f.skip && *f.skip == int(index)) {
            continue;
        }
        auto build = [&](bool first) {
            Message p(127, 0);
            p[0] = 0xF0;
            p[1] = 0x7E;
            p[2] = channel;
            p[3] = 0x02;
            p[4] = packetNumber;
            const size_t from = size_t(index) * kWords;
            for (size_t i = 0; i < kWords; ++i) {
                if (from + i < length) {
                    putWord(&p[5 + 3 * i], stored->samples[from + i]);
                } else if (f.filler) {
                    p[5 + 3 * i] = 0x55;
                    p[6 + 3 * i] = 0x2A;
                    p[7 + 3 * i] = 0x60;
                }
            }
            p[125] = sumOf(p);
            p[126] = 0xF7;
            if (first && f.badSum && *f.badSum == int(index)) {
                p[125] ^= 0x01;
            }
            if (first && f.shortPacket && *f.shortPacket == int(index)) {
                p.resize(99);
                p.push_back(0xF7);
            }
            if (first && f.noF7 && *f.noF7 == int(index)) {
                p.pop_back();
            }
            return p;
        };
        if (f.garbage) {
            send({0xF0, 0x7D, 0x11, 0x22, 0x33, 0xF7});
        }
        send(build(true));
        if (f.repeat && *f.repeat == int(index)) {
            send(build(false));
        }
        if (openLoop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the host's buffers are few
            continue;
        }
        for (int tries = 0;; ++tries) {
            Reply reply = awaitReply(std::chrono::milliseconds(200), packetNumber);
            while (reply == Reply::Wait) {
                reply = awaitReply(std::chrono::milliseconds(10000), packetNumber);
            }
            if (reply == Reply::Ack) {
                break;
            }
            if (reply == Reply::Cancel || tries >= 20) {
                return;
            }
            send(build(false)); // NAK or no answer: once more, intact
        }
    }
}

// ---- keeping samples in a folder ----

void VirtualSdsSampler::persist(uint32_t number, const StoredSample& s) const {
    if (folder_.empty()) {
        return;
    }
    const std::string base = folder_ + "/sds-" + std::to_string(number);
    const uint32_t rate = s.periodNs ? uint32_t(std::lround(1e9 / double(s.periodNs))) : 0;
    {
        std::ofstream out(base + ".wav", std::ios::binary | std::ios::trunc);
        const auto data = uint32_t(s.samples.size() * 2);
        out.write("RIFF", 4);
        putLe(out, 36 + data, 4);
        out.write("WAVEfmt ", 8);
        putLe(out, 16, 4);
        putLe(out, 1, 2);
        putLe(out, 1, 2);
        putLe(out, rate, 4);
        putLe(out, rate * 2, 4);
        putLe(out, 2, 2);
        putLe(out, 16, 2);
        out.write("data", 4);
        putLe(out, data, 4);
        for (int16_t v : s.samples) {
            putLe(out, uint16_t(v), 2);
        }
    }
    nlohmann::json description = {{"number", number},     {"periodNs", s.periodNs},   {"rate", rate},
                                  {"bits", s.bits},       {"lengthWords", s.samples.size()},
                                  {"loopStart", s.loopStart}, {"loopEnd", s.loopEnd}, {"loopType", s.loopType}};
    std::ofstream(base + ".json", std::ios::trunc) << description.dump(2) << "\n";
}

std::optional<StoredSample> VirtualSdsSampler::load(uint32_t number) const {
    if (folder_.empty()) {
        return std::nullopt;
    }
    const std::string base = folder_ + "/sds-" + std::to_string(number);
    std::ifstream json(base + ".json");
    std::ifstream wav(base + ".wav", std::ios::binary);
    if (!json || !wav) {
        return std::nullopt;
    }
    try {
        const auto description = nlohmann::json::parse(json);
        StoredSample s;
        s.periodNs = description.at("periodNs").get<uint32_t>();
        s.bits = description.at("bits").get<uint8_t>();
        s.loopStart = description.at("loopStart").get<uint32_t>();
        s.loopEnd = description.at("loopEnd").get<uint32_t>();
        s.loopType = description.at("loopType").get<uint8_t>();
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(wav)), std::istreambuf_iterator<char>());
        // Its own files: walk the chunks after "WAVE" to "data".
        size_t at = 12;
        while (at + 8 <= bytes.size()) {
            const uint32_t size = le(bytes, at + 4, 4);
            if (std::equal(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at) + 4, "data")) {
                const size_t end = std::min(bytes.size(), at + 8 + size_t(size));
                for (size_t i = at + 8; i + 1 < end; i += 2) {
                    s.samples.push_back(int16_t(le(bytes, i, 2)));
                }
                return s;
            }
            at += 8 + size + (size & 1);
        }
    } catch (const std::exception&) { // NOLINT(bugprone-empty-catch): a damaged description holds nothing
    }
    return std::nullopt;
}

} // namespace cleavix::sampler::virt
