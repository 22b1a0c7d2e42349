#include "ui/view/PeakSummary.h"

#include <algorithm>

namespace cleavix::ui {

void PeakSummary::clear() {
    levels_.clear();
    entries_ = 0;
    channels_ = 0;
    blockBytes_ = 0;
    built_ = false;
}

bool PeakSummary::matches(const sample::PeakTable& table) const {
    return built_ && entries_ == table.entries() && channels_ == table.channels() &&
           blockBytes_ == table.blockBytes();
}

void PeakSummary::build(const sample::PeakTable& table) {
    clear();
    entries_ = table.entries();
    channels_ = table.channels();
    blockBytes_ = table.blockBytes();
    built_ = true;
    if (entries_ < kFanOut) {
        return;
    }
    const uint16_t ch = channels_;
    // Level 1 straight from the table, read in large chunks.
    Level first;
    first.entries = entries_ / kFanOut;
    first.words.assign(first.entries * ch, sample::PeakWord{-32768, 32767});
    const uint64_t chunkEntries = kFanOut * 8192;
    std::vector<int32_t> buffer(chunkEntries * ch);
    for (uint64_t start = 0; start < first.entries * kFanOut; start += chunkEntries) {
        const uint64_t count = std::min(chunkEntries, first.entries * kFanOut - start);
        const size_t got = table.readWords(start * ch, buffer.data(), count * ch);
        for (size_t w = 0; w < got; ++w) {
            const uint64_t entry = start + w / ch;
            const auto p = sample::unpackPeak(buffer[w]);
            auto& out = first.words[(entry / kFanOut) * ch + w % ch];
            out.max = std::max(out.max, p.max);
            out.min = std::min(out.min, p.min);
        }
    }
    levels_.push_back(std::move(first));
    while (levels_.back().entries >= kFanOut * 4) {
        const Level& below = levels_.back();
        Level next;
        next.entries = below.entries / kFanOut;
        next.words.assign(next.entries * ch, sample::PeakWord{-32768, 32767});
        for (uint64_t e = 0; e < next.entries * kFanOut; ++e) {
            for (uint16_t c = 0; c < ch; ++c) {
                const auto& p = below.words[e * ch + c];
                auto& out = next.words[(e / kFanOut) * ch + c];
                out.max = std::max(out.max, p.max);
                out.min = std::min(out.min, p.min);
            }
        }
        levels_.push_back(std::move(next));
    }
}

void PeakSummary::scanFine(const sample::PeakTable& table, uint16_t channel, uint64_t first, uint64_t end,
                           PeakRange& r) const {
    if (end <= first) {
        return;
    }
    const uint16_t ch = table.channels();
    int32_t buffer[1024];
    const uint64_t perRead = sizeof buffer / sizeof buffer[0] / ch;
    for (uint64_t at = first; at < end; at += perRead) {
        const uint64_t count = std::min(perRead, end - at);
        const size_t got = table.readWords(at * ch, buffer, count * ch);
        for (size_t w = channel; w < got; w += ch) {
            const auto p = sample::unpackPeak(buffer[w]);
            r.add(p.max, p.min);
        }
    }
}

// Entries [first, end) in units of `level` (0 = the table itself).
void PeakSummary::query(const sample::PeakTable& table, int level, uint16_t channel, uint64_t first, uint64_t end,
                        PeakRange& r) const {
    if (end <= first) {
        return;
    }
    auto scan = [&](uint64_t a, uint64_t b) {
        if (level == 0) {
            scanFine(table, channel, a, b, r);
            return;
        }
        const Level& l = levels_[size_t(level - 1)];
        for (uint64_t e = a; e < b && e < l.entries; ++e) {
            const auto& p = l.words[e * channels_ + channel];
            r.add(p.max, p.min);
        }
    };
    if (level >= levels()) {
        scan(first, end);
        return;
    }
    const uint64_t groupFirst = (first + kFanOut - 1) / kFanOut;
    const uint64_t groupEnd = std::min<uint64_t>(end / kFanOut, levels_[size_t(level)].entries);
    if (groupFirst >= groupEnd) {
        scan(first, end);
        return;
    }
    scan(first, groupFirst * kFanOut);
    query(table, level + 1, channel, groupFirst, groupEnd, r);
    scan(groupEnd * kFanOut, end);
}

PeakRange PeakSummary::range(const sample::PeakTable& table, uint16_t channel, uint64_t first, uint64_t last) const {
    PeakRange r;
    const uint64_t entries = table.entries();
    if (entries == 0 || first >= entries) {
        return r;
    }
    const uint64_t end = std::min(last, entries - 1) + 1;
    if (!matches(table)) {
        scanFine(table, channel, first, end, r);
        return r;
    }
    query(table, 0, channel, first, end, r);
    return r;
}

} // namespace cleavix::ui
