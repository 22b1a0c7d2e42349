// The batch transfer of the session: the list of files and the batch steps -- each file sent
// in turn (the next step always posted, never run inside the driver's call), then the key map.
#include "sample/WavParser.h"
#include "sampler/akai/AkaiS2000Driver.h"
#include "session/SamplerTransfer.h"
#include "session/Session.h"
#include "session/TransferRules.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace cleavix::session {

namespace pf = sampler::profiles;

namespace {

bool isYamahaNamed(int type) { return type == 2 || type == 6 || type == 7; }

std::string lowerName(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return name;
}

bool sendablePcm(const sample::SampleFileCheck& check) {
    const auto& f = check.info.format;
    return check.parsed && check.info.pcm && (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
           (f.channels == 1 || f.channels == 2);
}

} // namespace

std::string SamplerTransfer::addBatchFile(const std::string& path, BatchOrigin origin) {
    std::error_code error;
    const bool drop = origin == BatchOrigin::Drop;
    if (!std::filesystem::is_regular_file(path, error)) {
        return drop ? sample::kMsgNotFound : "File " + path + " not found - file may have been moved or deleted";
    }
    const auto check = sample::CheckSampleFile(path);
    if (!check.parsed) {
        return drop ? sample::kMsgUnableToLoad : "File " + path + " corrupted!\r\n";
    }
    // A file the samplers cannot take is refused here too, not sent as found.
    if (!sendablePcm(check)) {
        return sample::kMsgUnrecognised;
    }
    BatchEntry entry;
    entry.path = path;
    entry.dataBytes = check.info.dataLength;
    entry.sizeText = std::to_string(check.info.dataLength / 1024) + "kb";
    batch_.push_back(std::move(entry));
    return {};
}

void SamplerTransfer::removeBatchEntries(std::vector<int> indices) {
    std::sort(indices.begin(), indices.end(), std::greater<>());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (int index : indices) {
        if (index >= 0 && size_t(index) < batch_.size()) {
            batch_.erase(batch_.begin() + index);
        }
    }
}

void SamplerTransfer::sortBatch() {
    std::stable_sort(batch_.begin(), batch_.end(), [](const BatchEntry& a, const BatchEntry& b) {
        const auto la = lowerName(a.path);
        const auto lb = lowerName(b.path);
        if (la != lb) {
            return la < lb;
        }
        return std::filesystem::path(a.path).filename() < std::filesystem::path(b.path).filename();
    });
}

void SamplerTransfer::swapBatchEntries(int a, int b) {
    if (a >= 0 && b >= 0 && size_t(a) < batch_.size() && size_t(b) < batch_.size()) {
        std::swap(batch_[size_t(a)], batch_[size_t(b)]);
    }
}

bool SamplerTransfer::batchSend(int position, bool autoMap, TransferDone done) {
    if (batch_.empty()) {
        return false;
    }
    const auto check = checkSelected();
    if (!check.ok() || !check.profile) {
        return refuse(check.message);
    }
    const int type = check.profile->deviceType;
    autoMap = autoMap && pf::autoMapOffered(type);
    const int count = int(batch_.size());
    if (autoMap && !sampler::keysFit(keyMap.baseNote(), keyMap.interval, count, keyMap.whiteKeys)) {
        return refuse(kMsgKeysExceed);
    }
    const auto kind = pf::deviceType(type)->driver;
    const int32_t first = position + check.profile->sampleNumberOffset;
    for (int32_t number : {first, first + count - 1}) {
        if (auto refusal = checkSampleNumber(number, kind); !refusal.empty()) {
            return refuse(refusal);
        }
    }
    auto bound = checkAndBind(&session_.store().stream());
    if (!bound) {
        return false;
    }
    auto settings = smoother_.settings();
    settings.level = keyMap.smoothBatch ? std::clamp(keyMap.smoothLevel, 0, 60) : 0;
    smoother_.configure(settings);
    session_.player().Stop();
    bound_ = *bound;
    autoMap_ = autoMap;
    first_ = first;
    begin(std::move(done));
    auto* driver = bound_.driver;
    withDevice([this, driver] {
        names_.clear();
        sending_ = batch_;
        lastBatch_ = {};
        current_ = first_ - 1;
        next_ = 0;
        dispatcher_.post(step([this] { batchStep(); }));
    });
    return true;
}

void SamplerTransfer::batchStep() {
    batchFile_.reset();
    if (aborted_ || next_ >= sending_.size()) {
        batchFinish();
        return;
    }
    batchSendNext(next_++);
}

void SamplerTransfer::batchSendNext(size_t index) {
    ++current_;
    const std::string& path = sending_[index].path;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        end(false, sample::kMsgNotFound);
        return;
    }
    const auto check = sample::CheckSampleFile(path);
    if (!check.parsed) {
        end(false, kMsgWaveCorrupted);
        return;
    }
    if (!sendablePcm(check)) {
        end(false, sample::kMsgUnrecognised);
        return;
    }
    const auto& info = check.info;
    const int type = bound_.profile.deviceType;
    if (info.format.channels == 2 && bound_.kind == pf::DriverKind::Akai) {
        end(false, kMsgAkaiStereo);
        return;
    }
    try {
        batchFile_ = std::make_unique<sample::TFileAndMemoryStream>(sample::TFileAndMemoryStream::fmOpenRead, path);
    } catch (const std::exception&) {
        end(false, kMsgWaveCorrupted);
        return;
    }
    auto* driver = bound_.driver;
    driver->setSourceStream(batchFile_.get());

    BatchSent sent;
    sent.file = path;
    sent.number = current_;
    sent.displayNumber = int(index) + 1;
    sent.name = batchSampleName(path, nameLimitFor(type));
    names_.push_back(sent.name);

    sampler::SendSampleArgs args;
    args.name = sent.name;
    args.sampleNumber = current_;
    args.start = uint32_t(info.dataOffset);
    const uint32_t sampleBytes = info.format.bitsPerSample == 8 ? 1u : 2u;
    // Bytes of one channel as the sample source delivers them: 16-bit values, 8-bit data widened.
    const uint64_t frames = info.dataLength / (uint64_t(sampleBytes) * info.format.channels);
    args.length = uint32_t(std::min<uint64_t>(frames * 2, 0xFFFFFFF0ull));
    args.channels = uint8_t(info.format.channels);
    args.sampleRate = info.format.sampleRate;
    args.bits = uint8_t(info.format.bitsPerSample);
    args.keepStereo = true;
    args.single = true;
    args.channelsToSend = args.channels;
    args.displayNumber = sent.displayNumber;
    args.fromFile = true;
    // The byte order is the container's: AIFF holds big-endian data, whatever the file is called.
    args.bigEndian = info.container == sample::Container::Aiff;
    if (autoMap_ && type == 4) {
        const auto keys = sampler::assignKeysFromBase(int(index) + 1, keyMap.baseNote(), keyMap.interval, keyMap.whiteKeys);
        if (keys && !keys->empty()) {
            sent.keys = keys->back();
            args.rootKey = uint8_t(sent.keys->root);
            args.lowKey = uint8_t(sent.keys->low);
            args.highKey = uint8_t(sent.keys->high);
        }
    }
    args.next = step([this, driver, sent] {
        if (driver->hasError()) {
            endFromDriver(false, {});
            return;
        }
        lastBatch_.sent.push_back(sent);
        dispatcher_.post(step([this] { batchStep(); }));
    });
    args.finished = step([this, driver] {
        if (driver->hasError()) {
            endFromDriver(false, {});
        }
    });
    driver->sendSample(args);
}

void SamplerTransfer::batchFinish() {
    if (aborted_) {
        end(false, kMsgTransferAborted);
        return;
    }
    const int type = bound_.profile.deviceType;
    const bool complete = lastBatch_.sent.size() == sending_.size();
    auto finishOk = [this] {
        batch_.clear();
        end(true, kMsgBatchComplete);
    };
    if (!autoMap_ || !complete || lastBatch_.sent.empty()) {
        finishOk();
        return;
    }
    const auto keys = sampler::assignKeysFromBase(int(lastBatch_.sent.size()), keyMap.baseNote(), keyMap.interval,
                                                  keyMap.whiteKeys);
    auto markKeys = [this, keys] {
        if (!keys) {
            return;
        }
        for (size_t i = 0; i < lastBatch_.sent.size() && i < keys->size(); ++i) {
            lastBatch_.sent[i].keys = (*keys)[i];
        }
        lastBatch_.mapped = true;
    };
    if (type == 4) {
        // E-mu samplers took their key ranges in each sample header.
        markKeys();
        finishOk();
        return;
    }
    auto* driver = bound_.driver;
    if (isYamahaNamed(type) || type == 5) {
        driver->setNameList(names_);
    }
    sampler::MapSamplesArgs map;
    map.programName = keyMap.bankName;
    map.baseNote = uint8_t(std::clamp(keyMap.baseNote(), 0, 127));
    map.keySpan = uint8_t(std::clamp(keyMap.interval, 0, 127));
    map.whiteKeysOnly = keyMap.whiteKeys;
    map.sampleCount = uint8_t(std::min<size_t>(lastBatch_.sent.size(), 255));
    map.firstSampleNumber = first_;
    map.finished = step([this, driver, markKeys, finishOk] {
        if (driver->hasError()) {
            endFromDriver(false, {});
            return;
        }
        markKeys();
        finishOk();
    });
    setStatus("Mapping samples...");
    driver->mapSamples(map);
}

} // namespace cleavix::session
