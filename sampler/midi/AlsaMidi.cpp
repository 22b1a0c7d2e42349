#include "sampler/midi/AlsaMidi.h"

#include "sampler/midi/MidiByteParser.h"
#include "sampler/midi/QueuedOutPort.h"

#include <alsa/asoundlib.h>
#include <poll.h>

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

// The reader side both backends share: a thread polling the device and a stop signal, handing
// what arrives through the byte parser to the sink.
class PolledInPort : public MidiInPort {
public:
    int start() override {
        if (ready() && !thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
        return 0;
    }
    const std::string& lastError() const override { return error_; }

protected:
    virtual bool ready() const = 0;
    virtual std::vector<pollfd> descriptors() = 0;
    // Reader thread: takes what is waiting; false when the device went away.
    virtual bool readAvailable() = 0;

    void beginReading(MidiInputSink& sink, size_t sysexLimit) {
        sink_ = &sink;
        parser_ = std::make_unique<MidiByteParser>(sysexLimit);
    }
    void stopReading() {
        stop_.raise();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    void deliver(const uint8_t* data, size_t size) { parser_->feed(data, size, nowMillis(), *sink_); }
    std::string error_;

private:
    void run() {
        std::vector<pollfd> fds = descriptors();
        fds.push_back({stop_.fd(), POLLIN, 0});
        while (true) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
                return;
            }
            if ((fds.back().revents & POLLIN) || !readAvailable()) {
                return;
            }
        }
    }
    MidiInputSink* sink_ = nullptr;
    std::unique_ptr<MidiByteParser> parser_;
    StopSignal stop_;
    std::thread thread_;
};

// ---- rawmidi ----

class RawInPort final : public PolledInPort {
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
        beginReading(sink, sysexLimit);
        return 0;
    }
    void close() override {
        stopReading();
        if (handle_) {
            snd_rawmidi_close(handle_);
            handle_ = nullptr;
        }
    }

private:
    bool ready() const override { return handle_ != nullptr; }
    std::vector<pollfd> descriptors() override {
        std::vector<pollfd> fds(size_t(snd_rawmidi_poll_descriptors_count(handle_)));
        snd_rawmidi_poll_descriptors(handle_, fds.data(), unsigned(fds.size()));
        return fds;
    }
    bool readAvailable() override {
        uint8_t buffer[256];
        ssize_t n = 0;
        while ((n = snd_rawmidi_read(handle_, buffer, sizeof buffer)) > 0) {
            deliver(buffer, size_t(n));
        }
        return n >= 0 || n == -EAGAIN;
    }
    std::string key_;
    snd_rawmidi_t* handle_ = nullptr;
};

class RawOutPort final : public QueuedOutPort {
public:
    std::string describe(int code) const override { return alsaText(code); }
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

class SeqInPort final : public PolledInPort {
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
        beginReading(sink, sysexLimit);
        return 0;
    }
    void close() override {
        stopReading();
        if (decoder_) {
            snd_midi_event_free(decoder_);
            decoder_ = nullptr;
        }
        if (seq_) {
            snd_seq_close(seq_);
            seq_ = nullptr;
        }
    }

private:
    bool ready() const override { return seq_ != nullptr; }
    std::vector<pollfd> descriptors() override {
        std::vector<pollfd> fds(size_t(snd_seq_poll_descriptors_count(seq_, POLLIN)));
        snd_seq_poll_descriptors(seq_, fds.data(), unsigned(fds.size()), POLLIN);
        return fds;
    }
    bool readAvailable() override {
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(seq_, &event) >= 0 && event) {
            if (event->type == SND_SEQ_EVENT_SYSEX) {
                // A chunk of a longer message: the parser joins the chunks.
                deliver(static_cast<const uint8_t*>(event->data.ext.ptr), event->data.ext.len);
                continue;
            }
            const long n = snd_midi_event_decode(decoder_, bytes_.data(), long(bytes_.size()), event);
            if (n > 0) {
                deliver(bytes_.data(), size_t(n));
            }
        }
        return true;
    }
    std::string key_;
    snd_seq_t* seq_ = nullptr;
    int own_ = -1;
    snd_midi_event_t* decoder_ = nullptr;
    std::vector<uint8_t> bytes_ = std::vector<uint8_t>(4096);
};

class SeqOutPort final : public QueuedOutPort {
public:
    std::string describe(int code) const override { return alsaText(code); }
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
