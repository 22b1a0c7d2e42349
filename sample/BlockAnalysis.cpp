#include "sample/BlockAnalysis.h"

#include <algorithm>

namespace cleavix::sample {

BlockAnalysis::BlockAnalysis(LoadObserver* observer, uint64_t storeLength)
    : observer_(observer), threaded_(observer != nullptr && storeLength > kSlots * kSlotBytes) {
    // A sample shorter than a slot needs no more than its own length.
    const size_t slotSamples = std::min<uint64_t>(kSlotBytes, storeLength + 1) / 2;
    for (size_t k = 0; k < (threaded_ ? kSlots : 1); ++k) {
        slots_[k].resize(slotSamples);
    }
    if (threaded_) {
        thread_ = std::thread([this] { run(); });
    }
}

int16_t* BlockAnalysis::freeSlot() {
    if (!threaded_) {
        return slots_[0].data();
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return handed_ - analysed_ < kSlots || error_; });
    rethrow();
    return slots_[handed_ % kSlots].data();
}

void BlockAnalysis::hand(size_t bytes) {
    if (!threaded_) {
        if (observer_ != nullptr) {
            observer_->addSamples(slots_[0].data(), bytes / 2);
        }
        return;
    }
    std::lock_guard lock(mutex_);
    rethrow();
    lengths_[handed_ % kSlots] = bytes;
    ++handed_;
    changed_.notify_all();
}

void BlockAnalysis::finish() {
    stop(false);
    std::lock_guard lock(mutex_);
    rethrow();
}

void BlockAnalysis::rethrow() {
    if (error_) {
        std::rethrow_exception(error_);
    }
}

void BlockAnalysis::stop(bool discard) {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        discard_ = discard;
        changed_.notify_all();
    }
    thread_.join();
}

void BlockAnalysis::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return analysed_ < handed_ || closing_; });
        if (analysed_ == handed_ || discard_) {
            return;
        }
        const size_t index = analysed_ % kSlots;
        lock.unlock();
        try {
            if (observer_ != nullptr) {
                observer_->addSamples(slots_[index].data(), lengths_[index] / 2);
            }
        } catch (...) {
            lock.lock();
            error_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        lock.lock();
        ++analysed_;
        changed_.notify_all();
    }
}

} // namespace cleavix::sample
