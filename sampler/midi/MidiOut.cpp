#include "sampler/midi/MidiOut.h"

namespace cleavix::sampler::midi {

TMidiOutput::TMidiOutput(jobs::Dispatcher& dispatcher, MidiBackends backends)
    : dispatcher_(dispatcher), backends_(std::move(backends)) {
    setDeviceId(-1);
}

TMidiOutput::~TMidiOutput() {
    closeDevice(std::chrono::milliseconds(0));
    alive_->owner = nullptr;
}

std::vector<MidiDeviceInfo> TMidiOutput::devices() const { return listMidiOutputs(backends_); }

void TMidiOutput::setDeviceId(int id) {
    if (open_) {
        return;
    }
    const auto list = devices();
    if (id < -1 || id >= int(list.size())) {
        return;
    }
    deviceId_ = id;
    if (list.empty()) {
        selected_.reset();
        productName_.clear();
        return;
    }
    selected_ = list[size_t(id < 0 ? 0 : id)];
    productName_ = selected_->name;
}

void TMidiOutput::setProductName(const std::string& name) {
    if (open_) {
        throw EmidioutputError("Change to ProductName while device was open");
    }
    for (const auto& device : devices()) {
        if (device.name == name) {
            deviceId_ = device.id;
            selected_ = device;
            productName_ = device.name;
            return;
        }
    }
    throw EmidioutputError("MIDI output Device " + name + " not installed");
}

bool TMidiOutput::openDevice() {
    if (open_) {
        return true;
    }
    if (!selected_ || selected_->backendIndex >= backends_.size()) {
        error_ = -19; // ENODEV
        throw EmidioutputError(midiErrorText(error_));
    }
    auto port = backends_[selected_->backendIndex]->createOutput(selected_->key);
    if (!port) {
        error_ = -19;
        throw EmidioutputError(midiErrorText(error_));
    }
    std::weak_ptr<Alive> weak = alive_;
    jobs::Dispatcher* dispatcher = &dispatcher_;
    const int result = port->open([weak, dispatcher](size_t bytes) {
        dispatcher->post([weak, bytes] {
            if (auto alive = weak.lock(); alive && alive->owner) {
                alive->owner->completed(bytes);
            }
        });
    });
    if (result != 0) {
        error_ = result;
        throw EmidioutputError(port->lastError().empty() ? midiErrorText(result) : port->lastError());
    }
    *pendingMessages_ = 0;
    *pendingBytes_ = 0;
    std::lock_guard lock(portMutex_);
    port_ = std::move(port);
    open_ = true;
    return true;
}

bool TMidiOutput::closeDevice(std::chrono::milliseconds drainDeadline) {
    std::unique_ptr<MidiOutPort> port;
    {
        std::lock_guard lock(portMutex_);
        if (!open_) {
            return false;
        }
        open_ = false;
        port = std::move(port_);
    }
    port->drain(drainDeadline);
    port->close();
    return true;
}

void TMidiOutput::completed(size_t bytes) {
    if (*pendingMessages_ > 0) {
        --*pendingMessages_;
    }
    *pendingBytes_ -= std::min(bytes, pendingBytes_->load());
    if (Onmidioutput) {
        Onmidioutput();
    }
}

void TMidiOutput::sendShort(uint8_t status, uint8_t data1, uint8_t data2) {
    std::lock_guard lock(portMutex_);
    if (!open_) {
        throw EmidioutputError("MIDI Output device not open");
    }
    const int result = port_->sendShort(status, data1, data2);
    if (result != 0) {
        error_ = result;
        throw EmidioutputError(port_->lastError().empty() ? midiErrorText(result) : port_->lastError());
    }
}

void TMidiOutput::sendLong(const uint8_t* data, size_t size) {
    if (size > kMaxSysexBlock) {
        throw EmidioutputError("System-exclusive block of " + std::to_string(size) + " bytes refused (at most " +
                               std::to_string(kMaxSysexBlock) + ")");
    }
    std::lock_guard lock(portMutex_);
    if (!open_) {
        throw EmidioutputError("MIDI Output device not open");
    }
    ++*pendingMessages_;
    *pendingBytes_ += size;
    const int result = port_->sendLong(data, size);
    if (result != 0) {
        --*pendingMessages_;
        *pendingBytes_ -= size;
        error_ = result;
        throw EmidioutputError(port_->lastError().empty() ? midiErrorText(result) : port_->lastError());
    }
}

void TMidiOutput::sendEvent(const TMyMidiEvent& event) {
    if (!event.sysex.empty()) {
        sendLong(event.sysex.data(), event.sysex.size());
    } else {
        sendShort(event.status, event.data1, event.data2);
    }
}

} // namespace cleavix::sampler::midi
