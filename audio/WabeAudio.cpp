#include "audio/WabeAudio.h"

#include "audio/MeterData.h"

#include <algorithm>
#include <cstring>

namespace cleavix::audio {

namespace {

uint32_t clampSetting(uint8_t value) { return std::clamp<uint32_t>(value, 1u, 10u); }

} // namespace

twabeAudio::twabeAudio(jobs::Dispatcher& dispatcher, WaveDeviceProvider& devices, jobs::Prompter* prompter)
    : dispatcher_(dispatcher), devices_(devices), prompter_(prompter) {
    outputNotices_ = NoticeChannel::posted(dispatcher_, [this](WaveHeader& h, uint32_t b) { outputNotice(h, b); });
    inputNotices_ = NoticeChannel::posted(dispatcher_, [this](WaveHeader& h, uint32_t b) { inputNotice(h, b); });
    setDeviceID(0);
    setInputDeviceID(0);
}

twabeAudio::~twabeAudio() {
    outputNotices_->disarm();
    inputNotices_->disarm();
    if (input_) {
        input_->close();
    }
    if (output_) {
        output_->close();
    }
}

void twabeAudio::setDeviceID(int id) {
    deviceId_ = id;
    productName_ = productNameOf(devices_.outputs(), id);
}

void twabeAudio::setInputDeviceID(int id) {
    inputDeviceId_ = id;
    inputProductName_ = productNameOf(devices_.inputs(), id);
}

void twabeAudio::show(jobs::MessageKind kind, const std::string& text, const std::string& caption) {
    if (prompter_) {
        prompter_->ask(kind, text, caption, jobs::Buttons::Ok);
    }
}

uint64_t twabeAudio::bufferBytes() const {
    uint64_t bytes = uint64_t(clampSetting(BufferSize)) * Channels * SampleRate * 2;
    // Whole frames of the device's format (a file may be 8 or 24 bits).
    const uint64_t frame = uint64_t(Channels) * ((BitsPerSample + 7u) / 8u);
    if (frame > 0) {
        bytes -= bytes % frame;
    }
    return std::min<uint64_t>(bytes, 0x7FFFFFF0ull);
}

uint32_t twabeAudio::ringSize() const {
    // Refills rotate through at least eight slots, and never fewer than the buffers queued.
    return std::max<uint32_t>(8u, clampSetting(BufferCount));
}

// ---------------------------------------------------------------------------------------------
// Output

int twabeAudio::OpenOutput() {
    if (IsOpen()) {
        return kWaveOk;
    }
    const WaveFormat format = WaveFormat::pcm(Channels, SampleRate, BitsPerSample);
    output_ = devices_.createOutput(deviceId_);
    const int code = output_->open(format, outputNotices_);
    if (code != kWaveOk) {
        lastError_ = output_->lastError();
        output_.reset();
        show(jobs::MessageKind::Error, code == kWaveBadFormat ? std::string(kOutputRateText) : lastError_,
             kOutputOpenCaption + std::to_string(code));
        return code;
    }
    output_->getVolume(savedVolume_);
    return kWaveOk;
}

void twabeAudio::CloseOutput() {
    if (!output_) {
        return;
    }
    if (output_->isOpen()) {
        output_->setVolume(savedVolume_);
        output_->reset();
    }
    for (Slot& slot : slots_) {
        output_->unprepare(slot.header);
        slot.header.data = nullptr;
        slot.block.reset();
        slot.allocated = 0;
    }
    spare_.reset();
    spareSize_ = 0;
    output_->close();
    // Whatever was playing is over; the notices of the buffers just given back run Outstanding
    // down and report the end once.
    st_.Playing = false;
    st_.StreamingLoop = false;
    st_.WholeRegionQueued = false;
    st_.FileMode = false;
    file_.reset();
    rendered_.reset();
}

void twabeAudio::Stop() {
    if (output_ && output_->isOpen()) {
        output_->reset();
    }
    if (output_) {
        for (Slot& slot : slots_) {
            output_->unprepare(slot.header);
        }
    }
    const bool fileMode = st_.FileMode;
    if (fileMode) {
        file_.reset();
        CloseOutput();
    }
    if (RestartPending || fileMode) {
        st_.StaleNotices += st_.Outstanding;
        st_.Outstanding = 0;
    }
    st_.WholeRegionQueued = false;
    st_.ReadPosition = 0;
    st_.Playing = false;
    st_.StreamingLoop = false;
    st_.FileMode = false;
    rendered_.reset(); // nothing reads it again: stale notices refill nothing
}

uint64_t twabeAudio::GetPosition() const { return IsOpen() ? output_->position() : 0; }

void twabeAudio::SetChannelVolume(int mode) {
    if (!IsOpen()) {
        return;
    }
    uint32_t volume = 0;
    output_->getVolume(volume);
    const uint32_t level = std::max(volume & 0xFFFFu, volume >> 16);
    switch (mode) {
    case 1:
        output_->setVolume(level << 16);
        break;
    case 2:
        output_->setVolume(level);
        break;
    case 3:
        output_->setVolume(level | (level << 16));
        break;
    case 4:
        output_->setVolume(savedVolume_);
        break;
    default:
        break;
    }
}

bool twabeAudio::ensureBlock(Slot& slot, uint64_t bytes) {
    const uint64_t wanted = bytes + 16;
    if (slot.block && slot.allocated >= wanted) {
        return true;
    }
    try {
        slot.block = std::make_unique<uint8_t[]>(wanted);
    } catch (const std::bad_alloc&) {
        slot.allocated = 0;
        return false;
    }
    slot.allocated = static_cast<uint32_t>(wanted);
    slot.header.data = slot.block.get();
    return true;
}

void twabeAudio::readSource(uint64_t position, uint8_t* out, uint64_t count) {
    uint64_t got = 0;
    if (st_.FileMode) {
        if (file_) {
            got = file_->readSomeAt(position, out, count);
            if (fileAiff_) {
                toLittleEndianPcm(out, got, BitsPerSample);
            }
        }
    } else if (!StoreBusy && rendered_) {
        try {
            rendered_->readAt(position, out, count);
            got = count;
        } catch (const std::exception&) {
            got = 0;
        }
    } else if (!StoreBusy && store_) {
        try {
            got = store_->readAt(position, out, count);
        } catch (const std::exception&) {
            got = 0;
        }
    }
    if (got < count) {
        std::memset(out + got, 0, count - got);
    }
}

void twabeAudio::fillCyclic(uint8_t* out, uint64_t count, uint64_t& position, uint64_t& consumed, bool countPasses,
                            uint64_t* filled) {
    const uint64_t length = st_.RegionLength;
    uint64_t done = 0;
    while (done < count && !(countPasses && loopFinished())) {
        uint64_t n = 0;
        if (done >= length) {
            // A whole pass is already in this buffer: copy it forward instead of reading again.
            const uint64_t span = done / length * length;
            n = std::min(span, count - done);
            uint64_t wraps = (consumed + n) / length;
            if (countPasses && LoopLimit != 0 && wraps >= LoopLimit - st_.PassesQueued) {
                wraps = LoopLimit - st_.PassesQueued;
                n = wraps * length - consumed;
            }
            std::memcpy(out + done, out + done - span, n);
            consumed = (consumed + n) % length;
            position = st_.RegionStart + consumed;
            if (countPasses) {
                st_.PassesQueued += wraps;
            }
        } else {
            n = std::min(length - consumed, count - done);
            readSource(position, out + done, n);
            position += n;
            consumed += n;
            if (consumed >= length) {
                consumed = 0;
                position = st_.RegionStart;
                if (countPasses) {
                    ++st_.PassesQueued;
                }
            }
        }
        done += n;
    }
    *filled = done;
}

uint64_t twabeAudio::fillSlot(Slot& slot, uint64_t bytes) {
    if (!ensureBlock(slot, B_)) {
        return 0;
    }
    slot.storePosition = st_.ReadPosition;
    slot.regionOffset = st_.Consumed;
    if (st_.LoopInBuffers) {
        uint64_t filled = 0;
        fillCyclic(slot.block.get(), bytes, st_.ReadPosition, st_.Consumed, true, &filled);
        return filled;
    }
    readSource(st_.ReadPosition, slot.block.get(), bytes);
    st_.ReadPosition += bytes;
    st_.Consumed += bytes;
    return bytes;
}

bool twabeAudio::writeSlot(Slot& slot, uint32_t length) {
    WaveHeader& header = slot.header;
    header.data = slot.block.get();
    header.bufferLength = length;
    header.bytesRecorded = 0;
    header.user = static_cast<uintptr_t>(&slot - slots_.data());
    output_->prepare(header);
    if (output_->write(header) != kWaveOk) {
        output_->unprepare(header);
        return false;
    }
    ++st_.Outstanding;
    return true;
}

void twabeAudio::PlayRegion(uint64_t start, uint64_t length, bool loop) {
    if (st_.FileMode) {
        Stop(); // the device runs in the auditioned file's format
    }
    rendered_.reset();
    startPlay(start, length, loop);
}

void twabeAudio::PlayRendered(std::shared_ptr<PlaySource> source, bool loop) {
    if (st_.FileMode) {
        Stop();
    }
    rendered_ = std::move(source);
    if (!rendered_) {
        return;
    }
    startPlay(0, rendered_->length(), loop);
}

void twabeAudio::startPlay(uint64_t start, uint64_t length, bool loop) {
    if (!IsOpen()) {
        return;
    }
    B_ = bufferBytes();
    if (B_ == 0) {
        return;
    }
    const uint32_t N = clampSetting(BufferCount);
    // Buffers still owed by the device belong to an earlier play: they come back first.
    st_.StaleNotices += st_.Outstanding;
    st_.Outstanding = 0;
    output_->reset();
    for (Slot& slot : slots_) {
        output_->unprepare(slot.header);
    }
    st_.LoopInBuffers = false;
    st_.WholeRegionQueued = false;
    st_.StreamingLoop = false;
    st_.FillSlot = N;
    st_.DoneSlot = 1;
    st_.Consumed = 0;
    st_.ReadPosition = start;
    st_.RegionStart = start;
    st_.RegionLength = length;
    st_.PassesQueued = 0;
    if (length == 0) {
        loop = false; // an empty region cannot repeat
    }
    st_.BuffersInUse = N;
    if (length < uint64_t(N) * B_) {
        st_.BuffersInUse = static_cast<uint32_t>(length / B_ + 1);
    }
    // Each buffer goes to the device as soon as it is filled, so the first one starts playing
    // while the others are read.
    auto queue = [&](uint32_t slotNumber, uint64_t bytes) {
        Slot& slot = slots_[slotNumber - 1];
        const uint64_t filled = fillSlot(slot, bytes);
        if (slot.block) {
            writeSlot(slot, static_cast<uint32_t>(filled));
        }
    };
    const bool streaming = length > uint64_t(st_.BuffersInUse) * B_;
    st_.StreamingLoop = loop && streaming;
    if (streaming) {
        for (uint32_t i = 1; i <= st_.BuffersInUse; ++i) {
            queue(i, B_);
        }
    } else if (loop) {
        st_.LoopInBuffers = true;
        st_.BuffersInUse = N;
        for (uint32_t i = 1; i <= N && !loopFinished(); ++i) {
            queue(i, B_);
        }
    } else {
        st_.WholeRegionQueued = true;
        for (uint32_t i = 1; i <= st_.BuffersInUse; ++i) {
            queue(i, std::min<uint64_t>(B_, length - st_.Consumed));
        }
    }
    st_.Playing = st_.Outstanding > 0;
    st_.Started = true;
}

void twabeAudio::finishPlayback() {
    st_.Playing = false;
    if (OnWaveoutput) {
        OnWaveoutput(*this);
    }
}

void twabeAudio::outputNotice(WaveHeader& /*header*/, uint32_t /*bytes*/) {
    if (!st_.Started) {
        return;
    }
    if (st_.StaleNotices > 0) {
        --st_.StaleNotices;
        return;
    }
    if (st_.Outstanding <= 0) {
        return;
    }
    --st_.Outstanding;
    if (!st_.Playing) {
        if (st_.Outstanding == 0) {
            finishPlayback();
        }
        return;
    }
    const bool more = !st_.WholeRegionQueued && !loopFinished() &&
                      (st_.LoopInBuffers || st_.StreamingLoop || st_.Consumed < st_.RegionLength);
    if (!more || !IsOpen()) {
        if (st_.Outstanding == 0) {
            finishPlayback();
        }
        return;
    }
    output_->unprepare(slots_[st_.DoneSlot - 1].header);
    st_.DoneSlot = nextSlot(st_.DoneSlot);
    st_.FillSlot = nextSlot(st_.FillSlot);
    Slot& slot = slots_[st_.FillSlot - 1];
    uint64_t size = B_;
    if (!st_.LoopInBuffers && st_.RegionLength - st_.Consumed < size) {
        size = st_.RegionLength - st_.Consumed;
    }
    const uint64_t filled = fillSlot(slot, size);
    if (st_.StreamingLoop && st_.Consumed >= st_.RegionLength) {
        // The region's last buffer of this pass is short; the next refill starts the next pass.
        st_.Consumed = 0;
        st_.ReadPosition = st_.RegionStart;
        ++st_.PassesQueued;
    }
    const bool written = slot.block && (filled > 0 || !st_.LoopInBuffers) && writeSlot(slot, static_cast<uint32_t>(filled));
    if (!written && st_.Outstanding == 0) {
        finishPlayback();
    }
}

void twabeAudio::ReloadQueued() {
    if (st_.FileMode || StoreBusy || !store_ || !output_) {
        return;
    }
    for (Slot& slot : slots_) {
        if (!slot.block) {
            continue;
        }
        const uint64_t bytes = std::min<uint64_t>(B_, slot.allocated);
        auto refill = [&](uint8_t* out) {
            if (st_.LoopInBuffers && st_.RegionLength > 0) {
                uint64_t position = slot.storePosition;
                uint64_t consumed = slot.regionOffset;
                uint64_t filled = 0;
                fillCyclic(out, bytes, position, consumed, false, &filled);
            } else {
                readSource(slot.storePosition, out, bytes);
            }
        };
        if (!slot.header.withDevice()) {
            refill(slot.block.get());
            continue;
        }
        // Queued: read into the spare block and swap it in, unless the device began on it meanwhile.
        if (!spare_ || spareSize_ < slot.allocated) {
            spare_ = std::make_unique<uint8_t[]>(slot.allocated);
            spareSize_ = slot.allocated;
        }
        refill(spare_.get());
        uint8_t* block = spare_.get();
        if (WaveOutDevice::replaceWaiting(slot.header, block)) {
            spare_.release();
            spare_.reset(slot.block.release());
            slot.block.reset(slot.header.data);
            std::swap(spareSize_, slot.allocated);
        }
    }
}

int twabeAudio::PlayFile(const std::string& path) {
    sample::SampleFileInfo info;
    auto parser = std::make_unique<sample::TWavParser>();
    try {
        info = sample::parseSampleFile(path);
        parser->open(path);
    } catch (const std::exception& error) {
        lastError_ = error.what();
        return kWaveError;
    }
    if (!info.pcm || info.format.channels == 0) {
        lastError_ = "Not a PCM file";
        return kWaveBadFormat;
    }
    if (st_.Playing) {
        Stop();
    }
    if (IsOpen()) {
        CloseOutput(); // the device has to run in the file's format
    }
    Channels = static_cast<uint8_t>(info.format.channels);
    SampleRate = info.format.sampleRate;
    BitsPerSample = static_cast<uint8_t>(info.format.bitsPerSample);
    const int code = OpenOutput();
    if (code != kWaveOk) {
        return code;
    }
    rendered_.reset();
    file_ = std::move(parser);
    fileAiff_ = info.container == sample::Container::Aiff;
    st_.FileMode = true;
    startPlay(info.dataOffset, info.dataLength, false);
    return kWaveOk;
}

// ---------------------------------------------------------------------------------------------
// Recorder

int twabeAudio::OpenInput() {
    if (rec_.InputOpen) {
        return kWaveOk;
    }
    const WaveFormat format = WaveFormat::pcm(RecordChannels, RecordRate, 16);
    // The meter's own capture lets go of the input first: a device may take one capture only.
    if (Meter) {
        Meter->suspendMonitor();
    }
    input_ = devices_.createInput(inputDeviceId_);
    const int code = input_->open(format, inputNotices_);
    if (code != kWaveOk) {
        lastError_ = input_->lastError();
        input_.reset();
        if (Meter) {
            Meter->resumeMonitor();
        }
        if (code == kWaveBadFormat) {
            show(jobs::MessageKind::Error, kInputRateText, kOutputOpenCaption + std::to_string(code));
        } else {
            show(jobs::MessageKind::Error, lastError_, kInputOpenCaption + std::to_string(code));
        }
        return code;
    }
    rec_.InputOpen = true; // the recorder feeds the meter while it has the input
    recordStale_ = 0;
    recordInFlight_.clear();
    // Blocks are allocated once per open.
    try {
        recordBlocks_.clear();
        for (int i = 0; i < kSlotCount; ++i) {
            recordBlocks_.push_back(std::make_unique<uint8_t[]>(kRecordBlockBytes));
        }
    } catch (const std::bad_alloc&) {
        show(jobs::MessageKind::Error, kMsgAllocBlocks);
        CloseInput();
        return kWaveNoMem;
    }
    recordRing_ = std::clamp<uint32_t>(RecordRingSize, 2u, static_cast<uint32_t>(kSlotCount));
    const uint32_t align = RecordChannels * 2u;
    for (uint32_t i = 0; i < recordRing_; ++i) {
        WaveHeader& header = recordHeaders_[i];
        header.data = recordBlocks_[i].get();
        header.bufferLength = kRecordBlockBytes - kRecordBlockBytes % align;
        header.bytesRecorded = 0;
        header.user = i;
        if (input_->prepare(header) != kWaveOk) {
            show(jobs::MessageKind::Error, kMsgPrepareRecord);
            CloseInput();
            return kWaveError;
        }
    }
    rec_.NextToQueue = 0;
    rec_.NextToConsume = 0;
    if (!queueRecordBuffer()) {
        show(jobs::MessageKind::Error, kMsgAddBuffer);
        CloseInput();
        return kWaveError;
    }
    rec_.RecordPrepared = true;
    return kWaveOk;
}

bool twabeAudio::queueRecordBuffer() {
    const uint32_t index = rec_.NextToQueue;
    if (input_->addBuffer(recordHeaders_[index]) != kWaveOk) {
        return false;
    }
    recordInFlight_.push_back(index);
    rec_.NextToQueue = (index + 1) % recordRing_;
    return true;
}

bool twabeAudio::StartRecord() {
    if (!rec_.InputOpen || !rec_.RecordPrepared) {
        return false;
    }
    rec_.Recording = true;
    if (input_->start() != kWaveOk) {
        rec_.Recording = false;
        CloseInput();
        show(jobs::MessageKind::Error, kMsgStartRecord);
        return false;
    }
    rec_.RecordedBytes = 0;
    // Two buffers with the device: one filling, one ready behind it.
    if (!queueRecordBuffer()) {
        StopRecord();
        show(jobs::MessageKind::Error, kMsgAddBuffer);
        return false;
    }
    return true;
}

void twabeAudio::appendRecorded(const WaveHeader& header, uint32_t bytes) {
    if (bytes == 0) {
        return;
    }
    if (Meter) {
        Meter->feed(header.data, bytes, RecordChannels, RecordRate);
    }
    if (!store_) {
        return;
    }
    try {
        store_->writeAll(header.data, bytes);
        rec_.RecordedBytes += bytes;
    } catch (const std::exception& error) {
        lastError_ = error.what();
        if (rec_.Recording) {
            StopRecord();
            show(jobs::MessageKind::Error, lastError_);
        }
    }
}

void twabeAudio::inputNotice(WaveHeader& header, uint32_t bytes) {
    if (recordStale_ > 0) {
        --recordStale_; // given back by a stop that already kept its bytes
        return;
    }
    if (!recordInFlight_.empty()) {
        recordInFlight_.pop_front();
    }
    if (!rec_.Recording) {
        if (rec_.InputOpen) {
            CloseInput();
        }
        return;
    }
    appendRecorded(header, bytes);
    rec_.NextToConsume = (rec_.NextToConsume + 1) % recordRing_;
    if (rec_.Recording && !queueRecordBuffer()) {
        StopRecord();
        show(jobs::MessageKind::Error, kMsgAddBuffer);
    }
}

void twabeAudio::takeBackRecordBuffers(bool keepData) {
    // After a reset every buffer is ours again, a partly filled one with its byte count. Keep
    // those bytes now: their notices, still on their way, are swallowed.
    for (uint32_t index : recordInFlight_) {
        if (keepData) {
            appendRecorded(recordHeaders_[index], recordHeaders_[index].bytesRecorded);
        }
        ++recordStale_;
    }
    recordInFlight_.clear();
}

void twabeAudio::StopRecord() {
    rec_.Recording = false;
    if (!input_ || !rec_.InputOpen) {
        return;
    }
    if (input_->reset() != kWaveOk) {
        show(jobs::MessageKind::Warning, kMsgStopRecord);
    }
    takeBackRecordBuffers(true);
}

void twabeAudio::CloseInput() {
    if (!rec_.InputOpen || !input_) {
        return;
    }
    if (rec_.Recording) {
        StopRecord();
    } else {
        input_->reset();
        takeBackRecordBuffers(false);
    }
    for (uint32_t i = 0; i < recordRing_; ++i) {
        if (input_->unprepare(recordHeaders_[i]) != kWaveOk) {
            show(jobs::MessageKind::Error, kMsgUnprepare);
        }
        recordHeaders_[i].data = nullptr;
    }
    recordBlocks_.clear();
    keptRecordedBytes_ = rec_.RecordedBytes;
    input_->close();
    if (input_->isOpen()) {
        show(jobs::MessageKind::Error, kMsgCloseInput);
    }
    input_.reset();
    rec_.InputOpen = false;
    rec_.Recording = false;
    rec_.RecordPrepared = false;
    if (Meter) {
        Meter->resumeMonitor();
    }
}

} // namespace cleavix::audio
