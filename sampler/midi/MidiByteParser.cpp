#include "sampler/midi/MidiByteParser.h"

namespace cleavix::sampler::midi {

int midiDataBytes(uint8_t status) {
    if (status >= 0x80 && status < 0xF0) {
        const uint8_t type = status & 0xF0;
        return (type == 0xC0 || type == 0xD0) ? 1 : 2;
    }
    switch (status) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
    }
}

MidiByteParser::MidiByteParser(size_t sysexLimit) : sysex_(sysexLimit < 2 ? 2 : sysexLimit) {}

void MidiByteParser::reset() {
    inSysex_ = false;
    sysexUsed_ = 0;
    sysexTotal_ = 0;
    status_ = 0;
    have_ = 0;
    need_ = 0;
}

void MidiByteParser::feed(const uint8_t* data, size_t size, uint32_t timestamp, MidiInputSink& sink) {
    for (size_t i = 0; i < size; ++i) {
        feedByte(data[i], timestamp, sink);
    }
}

void MidiByteParser::endSysex(uint32_t timestamp, MidiInputSink& sink, bool damaged) {
    inSysex_ = false;
    sink.sysex(timestamp, sysex_.data(), sysexUsed_, damaged || sysexTotal_ > sysexUsed_);
    sysexUsed_ = 0;
    sysexTotal_ = 0;
}

void MidiByteParser::feedByte(uint8_t byte, uint32_t timestamp, MidiInputSink& sink) {
    if (byte >= 0xF8) {
        if (byte != 0xF8 && byte != 0xFE) {
            sink.shortMessage(timestamp, byte);
        }
        return;
    }
    if (inSysex_) {
        if (byte < 0x80 || byte == 0xF7) {
            ++sysexTotal_;
            if (sysexUsed_ < sysex_.size()) {
                sysex_[sysexUsed_++] = byte;
            }
            if (byte == 0xF7) {
                endSysex(timestamp, sink, false);
            }
            return;
        }
        endSysex(timestamp, sink, true); // cut by a status byte, which goes on below
    }
    if (byte == 0xF0) {
        inSysex_ = true;
        sysex_[0] = byte;
        sysexUsed_ = 1;
        sysexTotal_ = 1;
        status_ = 0;
        have_ = 0;
        return;
    }
    if (byte >= 0x80) {
        have_ = 0;
        need_ = midiDataBytes(byte);
        if (byte >= 0xF0) {
            // System common: no running status afterwards.
            if (need_ == 0) {
                if (byte != 0xF7) {
                    sink.shortMessage(timestamp, byte);
                }
                status_ = 0;
                return;
            }
        }
        status_ = byte;
        return;
    }
    if (status_ == 0) {
        return;
    }
    data_[have_++] = byte;
    if (have_ == need_) {
        sink.shortMessage(timestamp, uint32_t(status_) | uint32_t(data_[0]) << 8 | (need_ > 1 ? uint32_t(data_[1]) << 16 : 0));
        have_ = 0;
        if (status_ >= 0xF0) {
            status_ = 0;
        }
    }
}

} // namespace cleavix::sampler::midi
