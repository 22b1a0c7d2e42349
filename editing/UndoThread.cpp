#include "editing/UndoThread.h"

#include "editing/EditWorkers.h"
#include "sample/WorkFiles.h"

#include <algorithm>
#include <utility>

namespace cleavix::editing {

bool isPointCode(uint8_t code) { return (code >= 3 && code <= 8) || code == 14 || code == 15 || code == kCodeSharing; }

namespace {

void swapPoints(slicing::CandidateList& list, slicing::CandidateSnapshot& saved) {
    slicing::CandidateSnapshot current;
    current.entries.assign(list.entries().begin(), list.entries().begin() + slicing::kMaxPoints + 1);
    current.count = list.count();
    if (!saved.entries.empty()) {
        std::copy(saved.entries.begin(), saved.entries.end(), list.entries().begin());
        list.setCount(saved.count);
    } else {
        list.clearPoints();
        list.setCount(0);
    }
    saved = std::move(current);
}

} // namespace

void TUndoThread::restorePoints() {
    UndoRecord& r = editor_.record();
    // Every code that copied the points gets them back; single-point edits too, by exchanging the
    // whole table, which returns the point with all its fields exactly as they were.
    const uint8_t c = r.undoCode;
    if ((c == 1 || c == 10 || c == 13 || c == 18) && !r.pointsReplaced) {
        return;
    }
    swapPoints(editor_.slicer().candidates(), r.undoPoints);
    switch (c) {
    case 5:
        r.undoCode = 15;
        break;
    case 15:
        r.undoCode = 5;
        break;
    case 6:
        r.undoCode = 7;
        break;
    case 7:
        r.undoCode = 6;
        break;
    case 4:
        r.undoCode = 8;
        break;
    case 8:
        r.undoCode = 4;
        break;
    default:
        break;
    }
}

void TUndoThread::restoreData(sample::TFileAndMemoryStream& redo, Pace& pace) {
    UndoRecord& r = editor_.record();
    auto& data = editor_.store().stream();
    auto& undo = *editor_.undoFileSlot();
    uint32_t length = outcome_.dataLength;
    undo.seek(0);
    redo.seek(0);
    switch (r.undoCode) {
    case 21: {
        if (r.undoStart > 0) {
            moveBlock(data, r.undoStart, 0, r.undoLength - r.undoStart, pace, 0, 50);
        }
        length = r.undoLength - r.undoStart;
        data.setSize(length);
        r.undoCode = 20;
        break;
    }
    case 20: {
        const uint64_t saved = uint64_t(undo.size());
        data.setSize(int64_t(saved + length));
        if (r.undoStart > 0) {
            moveBlock(data, 0, r.undoStart, r.undoLength - r.undoStart, pace, 0, 30);
            data.seek(0);
            copyBlocks(undo, data, r.undoStart, pace, 0, 30);
        }
        if (saved > r.undoStart) {
            undo.seek(r.undoStart);
            data.seek(r.undoLength);
            copyBlocks(undo, data, saved - r.undoStart, pace, 30, 50);
        }
        length = uint32_t(length + saved);
        r.undoCode = 21;
        break;
    }
    case 19: {
        data.setSize(int64_t(length) + r.undoLength);
        if (length > r.undoStart) {
            moveBlock(data, r.undoStart, r.undoStart + r.undoLength, length - r.undoStart, pace, 0, 20);
        }
        data.seek(r.undoStart);
        copyBlocks(undo, data, r.undoLength, pace, 30, 50);
        length += r.undoLength;
        // Redo now removes the restored bytes again, as the undo of a paste would.
        r.undoCode = 11;
        r.pasteLength = r.undoLength;
        r.undoLength = 0;
        break;
    }
    case 11:
    case 12: {
        if (r.pasteLength > 0) {
            data.seek(r.undoStart);
            copyBlocks(data, redo, r.pasteLength, pace, 0, 30);
        }
        const uint32_t newLength = length - r.pasteLength + r.undoLength;
        if (newLength > length) {
            data.setSize(newLength);
        }
        if (r.undoStart + r.pasteLength < length) {
            moveBlock(data, r.undoStart + r.pasteLength, r.undoStart + r.undoLength,
                      length - r.undoStart - r.pasteLength, pace, 0, 30);
        }
        if (r.undoLength > 0) {
            data.seek(r.undoStart);
            copyBlocks(undo, data, r.undoLength, pace, 30, 50);
        }
        if (newLength < length) {
            data.setSize(newLength);
        }
        std::swap(r.pasteLength, r.undoLength);
        length = newLength;
        break;
    }
    case 2: {
        data.seek(0);
        copyBlocks(data, redo, length, pace, 0, 30);
        // Sized first, so that a full disk refuses before a byte of the sample is overwritten.
        data.setSize(r.undoLength);
        data.seek(0);
        copyBlocks(undo, data, r.undoLength, pace, 0, 30);
        const uint32_t before = length;
        length = r.undoLength;
        r.undoLength = before;
        r.undoStart = 0;
        break;
    }
    default: {
        data.seek(r.undoStart);
        copyBlocks(data, redo, r.undoLength, pace, 0, 30);
        data.seek(r.undoStart);
        copyBlocks(undo, data, r.undoLength, pace, 0, 30);
        break;
    }
    }
    outcome_.dataLength = length;
    outcome_.restoredData = true;
}

void TUndoThread::run(jobs::JobContext& context) {
    // Once begun, an undo runs to its end: stopping half way would leave neither the old nor the
    // new state, and no record to get back to either.
    Pace pace = Pace(context).firm();
    UndoRecord& r = editor_.record();
    const auto& format = editor_.store().format();
    outcome_.code = r.undoCode;
    outcome_.dataLength = format.dataLength;
    outcome_.channels = format.channels;
    outcome_.rate = format.sampleRate;
    const uint8_t code = r.undoCode;
    // The state this undo leaves is the one its redo returns to.
    const auto& stream = editor_.store().stream();
    const uint64_t before = stream.changes();
    const bool tableDescribed = editor_.peaks().describes(stream, format);
    const uint64_t returnsTo = before == r.leftAt ? r.returnsTo : 0;

    restorePoints();
    if (code == kCodeSharing) {
        // The points go back with the sharing they were found for; the record keeps the current one.
        outcome_.relink = true;
        outcome_.linked = r.undoLinked == 1;
        r.undoLinked = editor_.slicer().channelMode().linked ? 1 : 0;
    }

    // Format bookkeeping.
    if (code != 2 && code != 11 && code != 12 && code != 18) {
        r.undoChannels = uint8_t(format.channels);
    }
    if (code == 18) {
        std::swap(outcome_.rate, r.undoRate);
    } else if (code != 11 && code != 12 && code != 2) {
        // Code 2 keeps its rate: undoing Paste To New or a conversion returns the old rate too.
        r.undoRate = format.sampleRate;
    }

    const bool dataCode = !isPointCode(code) && code != 18 &&
                          (r.undoLength > 0 || code == 2 || code == 11 || code == 12 || code == 20);
    // (Code 2 always: an empty sample still has its format to give back.)
    std::unique_ptr<ScratchFile> redo;
    if (dataCode) {
        redo = std::make_unique<ScratchFile>(editor_.workDir(), sample::kStorePrefix);
        restoreData(redo->stream(), pace);

        // Format restore.
        if (r.undoChannels != outcome_.channels || r.undoRate != outcome_.rate) {
            if (r.undoChannels != outcome_.channels) {
                // The points' sharing goes back with the channels, both ways.
                outcome_.relink = true;
                outcome_.linked = r.undoLinked == 1;
                r.undoLinked = editor_.slicer().channelMode().linked ? 1 : 0;
                const uint16_t channels = outcome_.channels;
                outcome_.channels = r.undoChannels;
                r.undoChannels = uint8_t(channels);
            }
            std::swap(outcome_.rate, r.undoRate);
        }

        // File exchange: the redo bytes become the record's bytes.
        if (r.undoCode != 20 && r.undoCode != 21) {
            std::unique_ptr<sample::TFileAndMemoryStream> old = std::move(editor_.undoFileSlot());
            editor_.undoFileSlot() = redo->take();
            sample::ReleaseWorkFile(old);
        }
    }
    editor_.edit().newEnd = 0;
    redo.reset();
    if (dataCode) {
        // The bytes are back as they were at `returnsTo`: so is the table set aside then, if it is
        // still there. Otherwise this state's table goes aside for the redo and the table is built.
        sample::SampleFormat restored = format;
        restored.dataLength = outcome_.dataLength;
        restored.channels = outcome_.channels;
        auto& peaks = editor_.peaks();
        if (!peaks.bringBack(returnsTo, stream, restored)) {
            if (tableDescribed) {
                peaks.setAside(before);
            }
            rebuildPeaksOnly(editor_, pace, outcome_.dataLength, outcome_.channels, false);
        }
        pace.set(100);
        r.returnsTo = tableDescribed ? before : 0;
    } else {
        rebuildPeaksOnly(editor_, pace, outcome_.dataLength, outcome_.channels, false);
        r.returnsTo = 0;
    }
    r.leftAt = stream.changes();
}

} // namespace cleavix::editing
