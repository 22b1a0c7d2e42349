#include "editing/EditWorkers.h"

#include "editing/ClipboardImage.h"
#include "editing/PeaksBehindAMove.h"

#include <algorithm>
#include <cmath>

namespace cleavix::editing {

bool makeBackup(Editor& editor, jobs::JobContext& context, Pace& pace, uint32_t start, uint32_t length,
                jobs::ProcessMode mode, bool neededAsInput) {
    sample::TFileAndMemoryStream* backup = editor.backupStream();
    auto& data = editor.store().stream();
    if (editor.undoEnabled()) {
        const auto& store = editor.store();
        editor.record().returnsTo = editor.peaks().describes(store.stream(), store.format()) ? store.stream().changes() : 0;
        backup->setSize(0);
        backup->seek(0);
        data.seek(start);
        copyBlocks(data, *backup, length, pace, 0, 100);
        if (pace.stopped()) {
            return false;
        }
        // Ready before the mode changes: a Cancel pressed from then on asks before it stops.
        context.frame().setUndoReady(true);
        context.setMode(mode);
        return true;
    }
    if (neededAsInput && backup != nullptr) {
        backup->setSize(0);
        backup->seek(0);
        data.seek(start);
        copyBlocks(data, *backup, length, pace, 0, 10);
        return !pace.stopped();
    }
    return true;
}

bool setPeaksAside(Editor& editor) {
    UndoRecord& record = editor.record();
    if (!editor.undoEnabled() || record.returnsTo == 0) {
        return false;
    }
    if (!editor.peaks().setAside(record.returnsTo)) {
        record.returnsTo = 0;
        return false;
    }
    return true;
}

void dropPeaksAside(Editor& editor) {
    editor.peaks().forgetSpare();
    editor.record().returnsTo = 0;
}

void rebuildPeaksAfter(Editor& editor, Pace& pace, uint32_t dataLength, uint16_t channels, bool stopped,
                       uint32_t unchangedBytes) {
    // The table set aside describes the store as it was, whose first unchangedBytes are still there.
    const bool aside = !stopped && setPeaksAside(editor);
    try {
        rebuildPeaksOnly(editor, pace, dataLength, channels, stopped, aside ? unchangedBytes : 0);
    } catch (const sample::StreamError&) {
        if (!aside) {
            throw;
        }
        // No room for two tables: the one set aside gives its space back, as the rebuild in place
        // would have used it.
        dropPeaksAside(editor);
        rebuildPeaksOnly(editor, pace, dataLength, channels, stopped);
    }
    editor.record().leftAt = editor.store().stream().changes();
}

void beginPeaksOnTheWay(Editor& editor, uint16_t channels) {
    setPeaksAside(editor);
    editor.peaks().beginBuild(channels);
}

void endPeaksOnTheWay(Editor& editor, Pace& pace, uint32_t dataLength) {
    auto& peaks = editor.peaks();
    peaks.endBuild();
    peaks.builtFrom(editor.store().stream(), dataLength);
    editor.record().leftAt = editor.store().stream().changes();
    pace.set(100);
}

void rebuildPeaksOnly(Editor& editor, Pace& pace, uint32_t dataLength, uint16_t channels, bool stopped,
                      uint32_t keepBytes) {
    sample::SampleFormat format = editor.store().format();
    format.dataLength = dataLength;
    format.channels = channels;
    const int from = stopped ? 100 : 90;
    sample::BlockProgress progress;
    progress.report = [&pace, from](uint64_t done, uint64_t total) {
        pace.report(double(done), double(total), from, 100);
    };
    sample::rebuildPeaks(editor.store().stream(), format, editor.peaks(), progress, keepBytes);
    pace.set(100);
}

void TEditThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    EditState& e = editor_.edit();
    const uint32_t dataLength = editor_.store().dataLength();
    const uint16_t channels = editor_.store().format().channels;
    const uint32_t length = e.opEnd - e.opStart;
    e.scratchLength = dataLength;
    if (!makeBackup(editor_, context, pace, e.opStart, length, jobs::ProcessMode::Cutting, false)) {
        rebuildPeaksAfter(editor_, pace, dataLength, channels, true);
        return;
    }
    e.applied = true;
    e.newEnd = e.opStart;
    auto& data = editor_.store().stream();
    Pace firm = pace.firm();
    const uint32_t newLength = dataLength - length;
    // The table is built behind the tail as it moves down; what is before the cut is in place.
    PeaksBehindAMove peaks(editor_, newLength, channels, e.opStart);
    peaks.finalUpTo(e.opStart);
    moveBlock(data, e.opEnd, e.opStart, dataLength - e.opEnd, firm, 0, 90,
              [&](uint64_t moved) { peaks.finalUpTo(e.opStart + moved); });
    peaks.waitForAll();
    data.setSize(newLength);
    e.scratchLength = newLength;
    peaks.finish(pace);
}

void TCopyThread::run(jobs::JobContext& context) {
    Pace pace(context);
    EditState& e = editor_.edit();
    auto& data = editor_.store().stream();
    data.seek(e.opStart);
    const uint64_t size = image_.size() - kImageHeaderBytes;
    const uint64_t streamBytes = e.channelStep == 2 ? size * 2 : size;
    const uint64_t got = readBlocks(data, image_.data() + kImageHeaderBytes, streamBytes, e.channelStep, pace, 1, 100);
    complete_ = got == size && !pace.stopped();
}

namespace {

// The image's data, converted, written from `at` in the store; at most `limit` output bytes.
// The audio a conversion keeps (the untouched channel) comes from keepFrom's first keepBytes
// (silence after them) when keepFrom is given, else from the store itself when keepStore is set.
// Returns the output bytes written; `stopped` tells a stop.
uint64_t writeImage(Editor& editor, const PasteInput& input, uint32_t at, uint64_t limit,
                    sample::TFileAndMemoryStream* keepFrom, uint64_t keepBytes, bool keepStore, Pace& pace, int from,
                    int to, bool& stopped) {
    const std::vector<uint8_t>& image = editor.clipboard().memory();
    auto& data = editor.store().stream();
    const size_t unit = imageUnit(input.type);
    const uint64_t total = input.dataSize - input.dataSize % unit;
    const size_t blockIn = kCopyBlock - kCopyBlock % unit;
    std::vector<uint8_t> out;
    uint64_t written = 0;
    stopped = false;
    for (uint64_t done = 0; done < total && written < limit;) {
        const size_t n = size_t(std::min<uint64_t>(blockIn, total - done));
        const size_t outBytes = size_t(convertedBytes(input.type, n));
        out.assign(outBytes, 0);
        const bool keeps = input.type == 4 || input.type == 5 || input.type >= 7;
        if (keeps) {
            if (keepFrom != nullptr) {
                if (written < keepBytes) {
                    keepFrom->readAt(written, out.data(), size_t(std::min<uint64_t>(outBytes, keepBytes - written)));
                }
            } else if (keepStore) {
                data.readAt(at + written, out.data(), outBytes);
            }
        }
        convertBlock(input.type, image.data() + input.dataOffset + done, n, out.data());
        const size_t put = size_t(std::min<uint64_t>(outBytes, limit - written));
        data.writeAllAt(at + written, out.data(), put);
        written += put;
        done += n;
        pace.report(double(done), double(total), from, to);
        if (done < total && written < limit && pace.stopped()) {
            stopped = true;
            break;
        }
    }
    return written;
}

} // namespace

void TPasteThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    EditState& e = editor_.edit();
    UndoRecord& r = editor_.record();
    auto& data = editor_.store().stream();
    const uint32_t dataLength = editor_.store().dataLength();
    const uint16_t channels = editor_.store().format().channels;
    const uint32_t range = e.opEnd - e.opStart;
    // Types 4 and 5 keep the replaced range's other channel, which they read from the backup.
    const bool keepsOther = (input_.type == 4 || input_.type == 5) && range > 0;
    e.newStart = e.opStart;
    e.scratchLength = dataLength;
    if (range > 0 || editor_.undoEnabled()) {
        if (!makeBackup(editor_, context, pace, e.opStart, range, jobs::ProcessMode::Pasting, keepsOther)) {
            if (editor_.undoEnabled()) {
                r.pasteLength = 0;
            }
            rebuildPeaksAfter(editor_, pace, dataLength, channels, true);
            return;
        }
    }
    e.applied = true;
    const uint32_t inserted = uint32_t(convertedBytes(input_.type, input_.dataSize));
    const uint32_t newLength = dataLength - range + inserted;
    const uint32_t tail = dataLength - e.opEnd;
    Pace firm = pace.firm();
    if (inserted > range) {
        data.setSize(newLength);
        moveBlock(data, e.opEnd, e.opStart + inserted, tail, firm, 0, 45);
    } else if (inserted < range) {
        moveBlock(data, e.opEnd, e.opStart + inserted, tail, firm, 0, 45);
    }
    data.setSize(newLength);
    if (editor_.undoEnabled()) {
        r.pasteLength = inserted;
    }
    e.scratchLength = newLength;
    bool stopped = false;
    writeImage(editor_, input_, e.opStart, inserted, keepsOther ? editor_.backupStream() : nullptr, range, false, pace,
               45, 90, stopped);
    e.newEnd = e.opStart + inserted;
    rebuildPeaksAfter(editor_, pace, newLength, channels, stopped, e.opStart);
}

void TPasteSegmentThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    EditState& e = editor_.edit();
    auto& data = editor_.store().stream();
    const uint32_t dataLength = editor_.store().dataLength();
    const uint16_t channels = editor_.store().format().channels;
    const uint32_t range = e.opEnd - e.opStart;
    // Undo is offered once the backup is complete, not before: a backup cut short would put
    // wrong bytes back.
    if (!makeBackup(editor_, context, pace, e.opStart, range, jobs::ProcessMode::Pasting, false)) {
        rebuildPeaksAfter(editor_, pace, dataLength, channels, true);
        return;
    }
    e.applied = true;
    bool stopped = false;
    const uint64_t written = writeImage(editor_, input_, e.opStart, range, nullptr, 0, true, pace, 0, 90, stopped);
    if (!stopped && written < range) {
        // The rest of the segment falls silent in the pasted channel.
        const bool oneChannel = input_.type == 4 || input_.type >= 7;
        const size_t step = oneChannel ? 4 : 2;
        const size_t first = input_.type == 5 ? 2 : 0;
        std::vector<uint8_t> block;
        for (uint64_t at = written; at < range;) {
            const size_t n = size_t(std::min<uint64_t>(kCopyBlock, range - at));
            block.assign(n, 0);
            data.readAt(e.opStart + at, block.data(), n);
            for (size_t i = first; i + 1 < n; i += step) {
                block[i] = 0;
                block[i + 1] = 0;
            }
            data.writeAllAt(e.opStart + at, block.data(), n);
            at += n;
            if (at < range && pace.stopped()) {
                stopped = true;
                break;
            }
        }
    }
    e.scratchLength = dataLength;
    rebuildPeaksAfter(editor_, pace, dataLength, channels, stopped);
}

void TPasteToNewThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    EditState& e = editor_.edit();
    const uint32_t dataLength = editor_.store().dataLength();
    if (backupOld_) {
        if (!makeBackup(editor_, context, pace, 0, dataLength, jobs::ProcessMode::Pasting, false)) {
            e.scratchLength = dataLength;
            e.newEnd = 0;
            rebuildPeaksAfter(editor_, pace, dataLength, editor_.store().format().channels, true);
            return;
        }
    } else {
        context.setMode(jobs::ProcessMode::Pasting);
    }
    e.applied = true;
    // Once the old sample starts to go, the new one is written whole.
    Pace firm = pace.firm();
    auto& data = editor_.store().stream();
    // The space first: a full disk then refuses before the old sample is overwritten.
    if (int64_t(e.scratchLength) > data.size()) {
        data.setSize(e.scratchLength);
    }
    const std::vector<uint8_t>& image = editor_.clipboard().memory();
    std::vector<uint8_t> block(source_ != nullptr ? kCopyBlock : 0);
    for (uint64_t done = 0; done < e.scratchLength;) {
        const size_t n = size_t(std::min<uint64_t>(kCopyBlock, e.scratchLength - done));
        if (source_ != nullptr) {
            if (source_->readAt(input_.dataOffset + done, block.data(), n) != n) {
                throw sample::StreamError("the recorded take is shorter than its count");
            }
            data.writeAllAt(done, block.data(), n);
        } else {
            data.writeAllAt(done, image.data() + input_.dataOffset + done, n);
        }
        done += n;
        firm.report(double(done), double(e.scratchLength), 0, 90);
    }
    data.setSize(e.scratchLength);
    e.newStart = 0;
    e.newEnd = e.scratchLength;
    rebuildPeaksAfter(editor_, pace, e.scratchLength, channels_, false);
}

void TCropThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    EditState& e = editor_.edit();
    auto& data = editor_.store().stream();
    const uint32_t dataLength = editor_.store().dataLength();
    const uint16_t channels = editor_.store().format().channels;
    e.scratchLength = dataLength;
    if (editor_.undoEnabled()) {
        sample::TFileAndMemoryStream* backup = editor_.backupStream();
        backup->setSize(0);
        backup->seek(0);
        const uint32_t kept = dataLength - (e.opEnd - e.opStart);
        const int g = kept == 0 ? 0 : int(std::nearbyint(double(e.opStart) / kept * 100.0));
        data.seek(0);
        copyBlocks(data, *backup, e.opStart, pace, 0, g);
        if (!pace.stopped()) {
            data.seek(e.opEnd);
            copyBlocks(data, *backup, dataLength - e.opEnd, pace, g, 100);
        }
        if (pace.stopped()) {
            rebuildPeaksAfter(editor_, pace, dataLength, channels, true);
            return;
        }
        context.frame().setUndoReady(true);
        context.setMode(jobs::ProcessMode::Cropping);
    }
    e.applied = true;
    Pace firm = pace.firm();
    const uint32_t newLength = e.opEnd - e.opStart;
    // The table is built behind the range as it moves to the start.
    PeaksBehindAMove peaks(editor_, newLength, channels, 0);
    moveBlock(data, e.opStart, 0, newLength, firm, 0, 90, [&](uint64_t moved) { peaks.finalUpTo(moved); });
    peaks.waitForAll();
    data.setSize(newLength);
    e.scratchLength = newLength;
    peaks.finish(pace);
}

void TRandomiseBackupThread::run(jobs::JobContext& context) {
    Pace pace(context);
    context.frame().setUndoReady(false);
    const EditState& e = editor_.edit();
    makeBackup(editor_, context, pace, e.opStart, e.opEnd - e.opStart, jobs::ProcessMode::Randomising, false);
}

} // namespace cleavix::editing
