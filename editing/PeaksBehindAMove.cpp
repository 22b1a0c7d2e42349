#include "editing/PeaksBehindAMove.h"

#include "editing/EditWorkers.h"
#include "sample/IoBuffer.h"

#include <algorithm>

namespace cleavix::editing {

namespace {
constexpr size_t kReadChunk = 131072; // the rebuild's reads
} // namespace

PeaksBehindAMove::PeaksBehindAMove(Editor& editor, uint32_t newLength, uint16_t channels, uint32_t unchangedBytes)
    : editor_(editor), newLength_(newLength), channels_(channels) {
    aside_ = setPeaksAside(editor);
    auto& peaks = editor.peaks();
    const uint32_t blockBytes = peaks.blockBytes();
    const uint64_t keep = aside_ && blockBytes > 0 ? std::min(unchangedBytes, newLength) / blockBytes : 0;
    try {
        built_ = peaks.beginBuildKeeping(channels, keep) * blockBytes;
    } catch (const sample::StreamError&) {
        error_ = std::current_exception(); // finish() builds the table in place instead
        return;
    }
    thread_ = std::thread([this] { build(); });
}

PeaksBehindAMove::~PeaksBehindAMove() { stopBuild(); }

void PeaksBehindAMove::stopBuild() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_one();
        thread_.join();
    }
}

void PeaksBehindAMove::finalUpTo(uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        final_ = std::max(final_, std::min<uint64_t>(bytes, newLength_));
    }
    changed_.notify_one();
}

void PeaksBehindAMove::waitForAll() {
    if (!thread_.joinable()) {
        return;
    }
    finalUpTo(newLength_);
    thread_.join();
}

void PeaksBehindAMove::build() {
    try {
        const auto& store = editor_.store().stream();
        auto& peaks = editor_.peaks();
        const uint32_t blockBytes = std::max<uint32_t>(1, peaks.blockBytes());
        sample::IoBuffer<int16_t> buffer(kReadChunk / 2);
        while (built_ < newLength_) {
            uint64_t upTo = 0;
            {
                std::unique_lock lock(mutex_);
                // Whole blocks only until the end, so that every read starts on a block boundary,
                // where the table's scan takes its fast path.
                const auto ready = [&] {
                    const uint64_t whole = final_ == newLength_ ? final_ : final_ - final_ % blockBytes;
                    return whole > built_ ? whole : 0;
                };
                changed_.wait(lock, [&] { return quit_ || ready() > 0; });
                if (quit_) {
                    return;
                }
                upTo = ready();
            }
            while (built_ < upTo) {
                const size_t want = size_t(std::min<uint64_t>(kReadChunk, upTo - built_));
                const size_t got = store.readAt(built_, buffer.data(), want);
                if (got != want) {
                    throw sample::StreamError("The sample ended early");
                }
                peaks.addBlocks(buffer.data(), got);
                built_ += got;
            }
        }
    } catch (...) {
        error_ = std::current_exception();
    }
}

void PeaksBehindAMove::finish(Pace& pace) {
    waitForAll();
    if (!error_) {
        try {
            endPeaksOnTheWay(editor_, pace, newLength_);
            return;
        } catch (const sample::StreamError&) {
            error_ = std::current_exception();
        }
    }
    // As the edit's rebuild after it: only a table set aside gives up its space for this one.
    if (!aside_) {
        std::rethrow_exception(error_);
    }
    dropPeaksAside(editor_);
    rebuildPeaksOnly(editor_, pace, newLength_, channels_, false);
    editor_.record().leftAt = editor_.store().stream().changes();
}

} // namespace cleavix::editing
