#include "plugins/PreviewThread.h"

#include <vector>

namespace cleavix::plugins {

bool TPreviewThread::start() {
    if (preview_.empty() || thread_.joinable()) {
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void TPreviewThread::stop() {
    if (!thread_.joinable()) {
        return;
    }
    stop_ = true;
    thread_.join();
}

void TPreviewThread::run() {
    // 16384-byte blocks: the preview output's buffer size.
    constexpr size_t kFrames = 16384 / 4;
    std::vector<int16_t> block(kFrames * 2);
    while (!stop_.load()) {
        const size_t frames = preview_.render(block.data(), kFrames);
        if (frames == 0) {
            break;
        }
        driver_.Write(reinterpret_cast<const uint8_t*>(block.data()), frames * 4);
        ++blocks_;
    }
    driver_.Reset();
}

} // namespace cleavix::plugins
