#include "sampler/midi/MidiIn.h"

#include <algorithm>
#include <cstring>

namespace cleavix::sampler::midi {

struct TMidiInput::Shared {
    audio::SpscRing<Item, kMaxCapacity> events;
    // Indices of free system-exclusive buffers: the main thread gives them back, the port takes.
    audio::SpscRing<int32_t, kMaxSysexBuffers> freeBuffers;
    std::vector<std::vector<uint8_t>> buffers;
    std::atomic<size_t> queued{0};
    size_t capacity = 1024;
    std::atomic<bool> noticePosted{false};
    std::atomic<uint32_t> lost{0};
    std::shared_ptr<std::atomic<bool>> sysexOnly;
    // Set while the owner lives and the device is open; posted notices look here first.
    TMidiInput* owner = nullptr;
    jobs::Dispatcher* dispatcher = nullptr;

    // Posts one notice unless one is already on its way.
    static void postNotice(const std::shared_ptr<Shared>& self) {
        if (self->noticePosted.exchange(true)) {
            return;
        }
        std::weak_ptr<Shared> weak = self;
        self->dispatcher->post([weak] {
            if (auto shared = weak.lock()) {
                shared->noticePosted = false;
                if (shared->owner) {
                    shared->owner->notice();
                }
            }
        });
    }
};

class TMidiInput::Sink final : public MidiInputSink {
public:
    explicit Sink(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    void shortMessage(uint32_t timestamp, uint32_t packed) override {
        const uint8_t status = packed & 0xFF;
        if (status == 0xF8 || status == 0xFE || shared_->sysexOnly->load(std::memory_order_relaxed)) {
            return;
        }
        push(Item{timestamp, packed, -1, 0, false});
    }

    void sysex(uint32_t timestamp, const uint8_t* data, size_t size, bool damaged) override {
        // A buffer kept back from a lost event first: the free ring has one producer only (the
        // main thread), so this side never pushes into it.
        std::optional<int32_t> index = spare_;
        spare_.reset();
        if (!index) {
            index = shared_->freeBuffers.pop();
        }
        if (!index) {
            lose();
            return;
        }
        std::vector<uint8_t>& buffer = shared_->buffers[size_t(*index)];
        const size_t kept = std::min(size, buffer.size());
        std::memcpy(buffer.data(), data, kept);
        if (!push(Item{timestamp, 0, *index, uint32_t(kept), damaged || kept < size})) {
            spare_ = index;
        }
    }

private:
    bool push(const Item& item) {
        // Counted before it is visible, so the reader's count never drops below zero.
        if (shared_->queued.fetch_add(1, std::memory_order_acq_rel) >= shared_->capacity ||
            !shared_->events.push(item)) {
            shared_->queued.fetch_sub(1, std::memory_order_acq_rel);
            lose();
            return false;
        }
        Shared::postNotice(shared_);
        return true;
    }
    void lose() {
        shared_->lost.fetch_add(1);
        std::weak_ptr<Shared> weak = shared_;
        shared_->dispatcher->post([weak] {
            if (auto shared = weak.lock(); shared && shared->owner) {
                shared->owner->overflowNotice();
            }
        });
    }
    std::shared_ptr<Shared> shared_;
    std::optional<int32_t> spare_;
};

TMidiInput::TMidiInput(jobs::Dispatcher& dispatcher, MidiBackends backends)
    : dispatcher_(dispatcher), backends_(std::move(backends)) {
    setDeviceId(0);
}

TMidiInput::~TMidiInput() {
    try {
        closeDevice();
    } catch (...) { // NOLINT(bugprone-empty-catch): going away
    }
}

std::vector<MidiDeviceInfo> TMidiInput::devices() const { return listMidiInputs(backends_); }

void TMidiInput::setDeviceId(int id) {
    if (open_) {
        return;
    }
    const auto list = devices();
    if (id < 0 || size_t(id) >= list.size()) {
        return;
    }
    deviceId_ = id;
    selected_ = list[size_t(id)];
    productName_ = selected_->name;
}

void TMidiInput::setProductName(const std::string& name) {
    if (open_) {
        throw EMidiInputError("Change to ProductName while device was open");
    }
    for (const auto& device : devices()) {
        if (device.name == name) {
            deviceId_ = device.id;
            selected_ = device;
            productName_ = device.name;
            return;
        }
    }
    throw EMidiInputError("MIDI Input Device " + name + " not installed ");
}

void TMidiInput::setCapacity(size_t slots) {
    if (!open_) {
        capacity_ = std::clamp<size_t>(slots, 1, kMaxCapacity);
    }
}

void TMidiInput::setSysexBufferSize(size_t bytes) {
    if (open_) {
        throw EMidiInputError("Change to SysexBufferSize while device was open");
    }
    sysexBufferSize_ = bytes;
}

void TMidiInput::setSysexBufferCount(size_t count) {
    if (open_) {
        throw EMidiInputError("Change to SysexBuffercount while device was open");
    }
    sysexBufferCount_ = std::min(count, kMaxSysexBuffers);
}

void TMidiInput::openDevice() {
    if (open_) {
        return;
    }
    if (!selected_ || selected_->backendIndex >= backends_.size()) {
        error_ = -19; // ENODEV
        throw EMidiInputError(midiErrorText(error_));
    }
    auto shared = std::make_shared<Shared>();
    shared->capacity = capacity_;
    shared->sysexOnly = sysexOnly_;
    shared->dispatcher = &dispatcher_;
    if (sysexBufferSize_ > 0 && sysexBufferCount_ > 0) {
        shared->buffers.assign(sysexBufferCount_, std::vector<uint8_t>(sysexBufferSize_));
        for (size_t i = 0; i < sysexBufferCount_; ++i) {
            shared->freeBuffers.push(int32_t(i));
        }
    }
    auto port = backends_[selected_->backendIndex]->createInput(selected_->key);
    if (!port) {
        error_ = -19;
        throw EMidiInputError(midiErrorText(error_));
    }
    auto sink = std::make_unique<Sink>(shared);
    const int result = port->open(*sink, sysexBufferSize_ > 0 ? sysexBufferSize_ : 4096);
    if (result != 0) {
        error_ = result;
        throw EMidiInputError(port->lastError().empty() ? midiErrorText(result) : port->lastError());
    }
    sink_ = std::move(sink);
    shared->owner = this;
    shared_ = std::move(shared);
    port_ = std::move(port);
    open_ = true;
}

void TMidiInput::startInput() {
    if (!open_) {
        return;
    }
    const int result = port_->start();
    if (result != 0) {
        error_ = result;
        throw EMidiInputError(port_->lastError().empty() ? midiErrorText(result) : port_->lastError());
    }
}

void TMidiInput::closeDevice() {
    if (!open_) {
        return;
    }
    open_ = false;
    port_->close(); // no sink call after this
    port_.reset();
    sink_.reset();
    shared_->owner = nullptr;
    shared_.reset();
}

size_t TMidiInput::pendingEvents() const {
    return open_ ? shared_->queued.load(std::memory_order_acquire) : 0;
}

std::optional<TMyMidiEvent> TMidiInput::readEvent() {
    if (!open_) {
        return std::nullopt;
    }
    // Taken off the queue before anything can fail, so a failure never leaves it there.
    const auto item = shared_->events.pop();
    if (!item) {
        return std::nullopt;
    }
    shared_->queued.fetch_sub(1, std::memory_order_acq_rel);
    TMyMidiEvent event;
    event.timestamp = item->timestamp;
    if (item->buffer >= 0) {
        const auto& buffer = shared_->buffers[size_t(item->buffer)];
        event.status = 0xF0;
        event.sysex.assign(buffer.begin(), buffer.begin() + item->size);
        event.damaged = item->damaged;
        if (!shared_->freeBuffers.push(item->buffer)) {
            throw EMidiInputError("System-exclusive buffer could not be given back");
        }
    } else {
        event.status = uint8_t(item->packed);
        event.data1 = uint8_t(item->packed >> 8);
        event.data2 = uint8_t(item->packed >> 16);
    }
    return event;
}

void TMidiInput::notice() {
    if (!open_ || pendingEvents() == 0 || !OnMidiInput) {
        return;
    }
    OnMidiInput();
    // A handler that stopped early gets called again for what it left.
    if (open_ && shared_ && pendingEvents() > 0) {
        Shared::postNotice(shared_);
    }
}

void TMidiInput::overflowNotice() {
    if (open_ && OnOverflow) {
        OnOverflow();
    }
}

} // namespace cleavix::sampler::midi
