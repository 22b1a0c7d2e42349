#include "sampler/midi/AlsaMidi.h"

#include "sampler/midi/MidiByteParser.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace cleavix::sampler::midi {

namespace {

std::string alsaText(int code) {
    const char* text = snd_strerror(code);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) {
        return "Specified error number is out of range";
    }
    return text;
}

void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

uint32_t nowMillis() {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

// An eventfd that wakes a poll loop to stop it.
class StopSignal {
public:
    StopSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~StopSignal() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    int fd() const { return fd_; }
    void raise() const {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    }

private:
    int fd_;
};

// ---- the writer side shared by both backends: a queue of blocks and a thread ----

class QueuedOutPort : public MidiOutPort {
public:
    ~QueuedOutPort() override = default;

    int sendShort(uint8_t status, uint8_t data1, uint8_t data2) override {
        const uint8_t bytes[3] = {status, data1, data2};
        return queue(bytes, size_t(1 + midiDataBytes(status)), false);
    }
    int sendLong(const uint8_t* data, size_t size) override { return queue(data, size, true); }
    bool drain(std::chrono::milliseconds deadline) override {
        std::unique_lock lock(mutex_);
        return idle_.wait_for(lock, deadline, [this] { return queue_.empty() && !busy_; });
    }
    const std::string& lastError() const override { return error_; }

protected:
    // Writes one message and waits until it has left; 0 or a negative ALSA code.
    virtual int writeOut(const std::vector<uint8_t>& bytes) = 0;

    void startWriter(MidiCompletion completed) {
        completed_ = std::move(completed);
        stop_ = false;
        thread_ = std::thread([this] { run(); });
    }
    void stopWriter() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        stopSignal_.raise();
        if (thread_.joinable()) {
            thread_.join();
        }
        std::deque<Block> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(queue_);
        }
        for (const auto& block : dropped) {
            if (block.isLong && completed_) {
                completed_(block.bytes.size());
            }
        }
    }
    bool stopping() {
        std::lock_guard lock(mutex_);
        return stop_;
    }
    StopSignal stopSignal_;
    std::string error_;

private:
    struct Block {
        std::vector<uint8_t> bytes;
        bool isLong = false;
    };
    int queue(const uint8_t* data, size_t size, bool isLong) {
        {
            std::lock_guard lock(mutex_);
            if (!thread_.joinable() || stop_) {
                return -EBADFD;
            }
            queue_.push_back({std::vector<uint8_t>(data, data + size), isLong});
        }
        wake_.notify_all();
        return 0;
    }
    void run() {
        std::unique_lock lock(mutex_);
        while (true) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) {
                return;
            }
            Block block = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            const int result = writeOut(block.bytes);
            if (block.isLong && completed_) {
                completed_(block.bytes.size()); // also after a failed write: every block ends once
            }
            lock.lock();
            if (result < 0) {
                error_ = alsaText(result);
            }
            busy_ = false;
            idle_.notify_all();
        }
    }
    MidiCompletion completed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Block> queue_;
    bool stop_ = false;
    bool busy_ = false;
    std::thread thread_;
};

// ---- rawmidi ----

class RawInPort final : public MidiInPort {
public:
    explicit RawInPort(std::string key) : key_(std::move(key)) {}
    ~RawInPort() override { close(); }
    int open(MidiInputSink& sink, size_t sysexLimit) override {
        const int result = snd_rawmidi_open(&handle_, nullptr, key_.c_str(), SND_RAWMIDI_NONBLOCK);
        if (result < 0) {
            handle_ = nullptr;
            error_ = alsaText(result);
            return result;
        }
        sink_ = &sink;
        parser_ = std::make_unique<MidiByteParser>(sysexLimit);
        return 0;
    }
    int start() override {
        if (handle_ && !thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
        return 0;
    }
    void close() override {
        stop_.raise();
        if (thread_.joinable()) {
            thread_.join();
        }
        if (handle_) {
            snd_rawmidi_close(handle_);
            handle_ = nullptr;
        }
    }
    const std::string& lastError() const override { return error_; }

private:
    void run() {
        const int count = snd_rawmidi_poll_descriptors_count(handle_);
        std::vector<pollfd> fds(size_t(count) + 1);
        snd_rawmidi_poll_descriptors(handle_, fds.data(), unsigned(count));
        fds[size_t(count)] = {stop_.fd(), POLLIN, 0};
        uint8_t buffer[256];
        while (true) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
                return;
            }
            if (fds[size_t(count)].revents & POLLIN) {
                return;
            }
            ssize_t n = 0;
            while ((n = snd_rawmidi_read(handle_, buffer, sizeof buffer)) > 0) {
                parser_->feed(buffer, size_t(n), nowMillis(), *sink_);
            }
            if (n < 0 && n != -EAGAIN) {
                return; // the device went away
            }
        }
    }
    std::string key_;
    snd_rawmidi_t* handle_ = nullptr;
    MidiInputSink* sink_ = nullptr;
    std::unique_ptr<MidiByteParser> parser_;
    StopSignal stop_;
    std::thread thread_;
    std::string error_;
};

class RawOutPort final : public QueuedOutPort {
public:
    explicit RawOutPort(std::string key) : key_(std::move(key)) {}
    ~RawOutPort() override { close(); }
    int open(MidiCompletion completed) override {
        const int result = snd_rawmidi_open(nullptr, &handle_, key_.c_str(), SND_RAWMIDI_NONBLOCK);
        if (result < 0) {
            handle_ = nullptr;
            error_ = alsaText(result);
            return result;
        }
        startWriter(std::move(completed));
        return 0;
    }
    void close() override {
        stopWriter();
        if (handle_) {
            snd_rawmidi_drop(handle_);
            snd_rawmidi_close(handle_);
            handle_ = nullptr;
        }
    }

private:
    int writeOut(const std::vector<uint8_t>& bytes) override {
        size_t done = 0;
        const int count = snd_rawmidi_poll_descriptors_count(handle_);
        std::vector<pollfd> fds(size_t(count) + 1);
        snd_rawmidi_poll_descriptors(handle_, fds.data(), unsigned(count));
        fds[size_t(count)] = {stopSignal_.fd(), POLLIN, 0};
        while (done < bytes.size()) {
            const ssize_t n = snd_rawmidi_write(handle_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n != -EAGAIN) {
                return int(n);
            }
            if (stopping()) {
                return -ECANCELED;
            }
            poll(fds.data(), fds.size(), 100);
        }
        return snd_rawmidi_drain(handle_);
    }
    std::string key_;
    snd_rawmidi_t* handle_ = nullptr;
};

class RawMidiBackend final : public MidiBackend {
public:
    std::string kind() const override { return "rawmidi"; }
    std::vector<MidiPortInfo> inputs() override { return list(SND_RAWMIDI_STREAM_INPUT); }
    std::vector<MidiPortInfo> outputs() override { return list(SND_RAWMIDI_STREAM_OUTPUT); }
    std::unique_ptr<MidiInPort> createInput(const std::string& key) override { return std::make_unique<RawInPort>(key); }
    std::unique_ptr<MidiOutPort> createOutput(const std::string& key) override {
        return std::make_unique<RawOutPort>(key);
    }

private:
    static std::vector<MidiPortInfo> list(snd_rawmidi_stream_t stream) {
        std::vector<MidiPortInfo> out;
        int card = -1;
        while (snd_card_next(&card) >= 0 && card >= 0) {
            snd_ctl_t* ctl = nullptr;
            if (snd_ctl_open(&ctl, ("hw:" + std::to_string(card)).c_str(), 0) < 0) {
                continue;
            }
            int device = -1;
            while (snd_ctl_rawmidi_next_device(ctl, &device) >= 0 && device >= 0) {
                snd_rawmidi_info_t* info = nullptr;
                snd_rawmidi_info_alloca(&info);
                snd_rawmidi_info_set_device(info, unsigned(device));
                snd_rawmidi_info_set_stream(info, stream);
                snd_rawmidi_info_set_subdevice(info, 0);
                if (snd_ctl_rawmidi_info(ctl, info) < 0) {
                    continue;
                }
                const unsigned subdevices = snd_rawmidi_info_get_subdevices_count(info);
                for (unsigned sub = 0; sub < subdevices; ++sub) {
                    snd_rawmidi_info_set_subdevice(info, sub);
                    if (snd_ctl_rawmidi_info(ctl, info) < 0) {
                        continue;
                    }
                    const std::string key =
                        "hw:" + std::to_string(card) + "," + std::to_string(device) + "," + std::to_string(sub);
                    std::string name = snd_rawmidi_info_get_subdevice_name(info);
                    if (name.empty()) {
                        name = snd_rawmidi_info_get_name(info);
                        if (subdevices > 1) {
                            name += " " + std::to_string(sub + 1);
                        }
                    }
                    out.push_back({key, name});
                }
            }
            snd_ctl_close(ctl);
        }
        return out;
    }
};

// ---- sequencer ----

bool parseSeqKey(const std::string& key, int& client, int& port) {
    return std::sscanf(key.c_str(), "%d:%d", &client, &port) == 2;
}

class SeqInPort final : public MidiInPort {
public:
    explicit SeqInPort(std::string key) : key_(std::move(key)) {}
    ~SeqInPort() override { close(); }
    int open(MidiInputSink& sink, size_t sysexLimit) override {
        int client = 0;
        int port = 0;
        if (!parseSeqKey(key_, client, port)) {
            error_ = alsaText(-EINVAL);
            return -EINVAL;
        }
        int result = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
        if (result >= 0) {
            snd_seq_set_client_name(seq_, "Cleavix");
            result = own_ = snd_seq_create_simple_port(seq_, "Cleavix MIDI in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                       SND_SEQ_PORT_TYPE_APPLICATION);
        }
        if (result >= 0) {
            result = snd_seq_connect_from(seq_, own_, client, port);
        }
        if (result >= 0) {
            result = snd_midi_event_new(4096, &decoder_);
        }
        if (result < 0) {
            error_ = alsaText(result);
            close();
            return result;
        }
        snd_midi_event_no_status(decoder_, 1); // whole status bytes, so the parser sees every message
        sink_ = &sink;
        parser_ = std::make_unique<MidiByteParser>(sysexLimit);
        return 0;
    }
    int start() override {
        if (seq_ && !thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
        return 0;
    }
    void close() override {
        stop_.raise();
        if (thread_.joinable()) {
            thread_.join();
        }
        if (decoder_) {
            snd_midi_event_free(decoder_);
            decoder_ = nullptr;
        }
        if (seq_) {
            snd_seq_close(seq_);
            seq_ = nullptr;
        }
    }
    const std::string& lastError() const override { return error_; }

private:
    void run() {
        const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
        std::vector<pollfd> fds(size_t(count) + 1);
        snd_seq_poll_descriptors(seq_, fds.data(), unsigned(count), POLLIN);
        fds[size_t(count)] = {stop_.fd(), POLLIN, 0};
        std::vector<uint8_t> bytes(4096);
        while (true) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
                return;
            }
            if (fds[size_t(count)].revents & POLLIN) {
                return;
            }
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(seq_, &event) >= 0 && event) {
                if (event->type == SND_SEQ_EVENT_SYSEX) {
                    // A chunk of a longer message: the parser joins the chunks.
                    parser_->feed(static_cast<const uint8_t*>(event->data.ext.ptr), event->data.ext.len, nowMillis(),
                                  *sink_);
                    continue;
                }
                const long n = snd_midi_event_decode(decoder_, bytes.data(), long(bytes.size()), event);
                if (n > 0) {
                    parser_->feed(bytes.data(), size_t(n), nowMillis(), *sink_);
                }
            }
        }
    }
    std::string key_;
    snd_seq_t* seq_ = nullptr;
    int own_ = -1;
    snd_midi_event_t* decoder_ = nullptr;
    MidiInputSink* sink_ = nullptr;
    std::unique_ptr<MidiByteParser> parser_;
    StopSignal stop_;
    std::thread thread_;
    std::string error_;
};

class SeqOutPort final : public QueuedOutPort {
public:
    explicit SeqOutPort(std::string key) : key_(std::move(key)) {}
    ~SeqOutPort() override { close(); }
    int open(MidiCompletion completed) override {
        int client = 0;
        int port = 0;
        if (!parseSeqKey(key_, client, port)) {
            error_ = alsaText(-EINVAL);
            return -EINVAL;
        }
        int result = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_OUTPUT, 0);
        if (result >= 0) {
            snd_seq_set_client_name(seq_, "Cleavix");
            result = own_ = snd_seq_create_simple_port(seq_, "Cleavix MIDI out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                       SND_SEQ_PORT_TYPE_APPLICATION);
        }
        if (result >= 0) {
            result = snd_seq_connect_to(seq_, own_, client, port);
        }
        if (result >= 0) {
            result = snd_midi_event_new(16, &encoder_);
        }
        if (result < 0) {
            error_ = alsaText(result);
            close();
            return result;
        }
        startWriter(std::move(completed));
        return 0;
    }
    void close() override {
        stopWriter();
        if (encoder_) {
            snd_midi_event_free(encoder_);
            encoder_ = nullptr;
        }
        if (seq_) {
            snd_seq_close(seq_);
            seq_ = nullptr;
        }
    }

private:
    int writeOut(const std::vector<uint8_t>& bytes) override {
        snd_seq_event_t event;
        if (!bytes.empty() && bytes[0] == 0xF0) {
            // Long messages go in chunks the sequencer carries without trouble.
            constexpr size_t kChunk = 256;
            for (size_t at = 0; at < bytes.size(); at += kChunk) {
                snd_seq_ev_clear(&event);
                snd_seq_ev_set_source(&event, own_);
                snd_seq_ev_set_subs(&event);
                snd_seq_ev_set_direct(&event);
                snd_seq_ev_set_sysex(&event, unsigned(std::min(kChunk, bytes.size() - at)),
                                     const_cast<uint8_t*>(bytes.data() + at));
                const int result = snd_seq_event_output_direct(seq_, &event);
                if (result < 0) {
                    return result;
                }
                if (stopping()) {
                    return -ECANCELED;
                }
            }
        } else {
            snd_seq_ev_clear(&event);
            snd_midi_event_reset_encode(encoder_);
            if (snd_midi_event_encode(encoder_, bytes.data(), long(bytes.size()), &event) <= 0 ||
                event.type == SND_SEQ_EVENT_NONE) {
                return 0;
            }
            snd_seq_ev_set_source(&event, own_);
            snd_seq_ev_set_subs(&event);
            snd_seq_ev_set_direct(&event);
            const int result = snd_seq_event_output_direct(seq_, &event);
            if (result < 0) {
                return result;
            }
        }
        return snd_seq_sync_output_queue(seq_);
    }
    std::string key_;
    snd_seq_t* seq_ = nullptr;
    int own_ = -1;
    snd_midi_event_t* encoder_ = nullptr;
};

class SeqMidiBackend final : public MidiBackend {
public:
    std::string kind() const override { return "seq"; }
    std::vector<MidiPortInfo> inputs() override {
        return list(SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    }
    std::vector<MidiPortInfo> outputs() override {
        return list(SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    }
    std::unique_ptr<MidiInPort> createInput(const std::string& key) override { return std::make_unique<SeqInPort>(key); }
    std::unique_ptr<MidiOutPort> createOutput(const std::string& key) override {
        return std::make_unique<SeqOutPort>(key);
    }

private:
    static std::vector<MidiPortInfo> list(unsigned capabilities) {
        std::vector<MidiPortInfo> out;
        snd_seq_t* seq = nullptr;
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
            return out; // no sequencer here: nothing to list
        }
        const int self = snd_seq_client_id(seq);
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(seq, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            // The system client, ourselves, and a sound card's kernel client (it mirrors the
            // card's rawmidi ports, listed there already).
            if (id == SND_SEQ_CLIENT_SYSTEM || id == self ||
                (snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT &&
                 snd_seq_client_info_get_card(client) >= 0)) {
                continue;
            }
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(seq, port) >= 0) {
                if ((snd_seq_port_info_get_capability(port) & capabilities) != capabilities ||
                    (snd_seq_port_info_get_capability(port) & SND_SEQ_PORT_CAP_NO_EXPORT)) {
                    continue;
                }
                const std::string key = std::to_string(id) + ":" + std::to_string(snd_seq_port_info_get_port(port));
                out.push_back({key, std::string(snd_seq_client_info_get_name(client)) + ": " +
                                        snd_seq_port_info_get_name(port)});
            }
        }
        snd_seq_close(seq);
        return out;
    }
};

} // namespace

MidiBackends makeAlsaMidiBackends() {
    // alsa-lib prints its own diagnostics to standard error; ours carry the code and its text.
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&silentAlsaErrors); });
    return {std::make_shared<RawMidiBackend>(), std::make_shared<SeqMidiBackend>()};
}

} // namespace cleavix::sampler::midi
