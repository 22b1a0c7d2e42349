// The editor's clipboard and range commands: copy, cut, the pastes, Paste To New and crop. Each
// checks its range and the new length first, then launches its worker in the editor's frame.
#include "editing/Editor.h"

#include "editing/ClipboardImage.h"
#include "editing/EditWorkers.h"
#include "editing/PointShift.h"
#include "sample/WorkFiles.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <new>

namespace cleavix::editing {

bool Editor::copy(Done done) {
    assert(jobs().dispatcher().isMainThread());
    if (!loaded() || parts_.jobs->busy()) {
        return false;
    }
    const auto& f = store().format();
    auto [start, end] = operationRange();
    start = f.frameStart(start);
    end = f.frameStart(end);
    uint16_t channels = f.channels;
    uint32_t size = end - start;
    edit_.channelStep = 1;
    if (f.channels == 2 && edit_.processChannel != 3) {
        channels = 1;
        size = (end - start) / 2;
        edit_.channelStep = 2;
        if (edit_.processChannel == 2) {
            start += 2;
        }
    }
    edit_.opStart = start;
    edit_.opEnd = end;
    auto image = std::make_shared<std::vector<uint8_t>>();
    try {
        *image = imageHeader(channels, f.sampleRate, size);
        image->resize(kImageHeaderBytes + size);
    } catch (const std::bad_alloc&) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgCopyNoMemory, "", jobs::Buttons::Ok);
        return false;
    }
    return launchCopy(std::move(image), std::move(done));
}

bool Editor::launchCopy(std::shared_ptr<std::vector<uint8_t>> image, Done done) {
    auto complete = std::make_shared<bool>(false);
    return launch(std::make_unique<TCopyThread>(*this, *image, *complete), jobs::ProcessMode::Copying,
                  [this, image, complete, done = std::move(done)] {
                      // A copy cut short leaves the clipboard as it was rather than half an image.
                      if (*complete) {
                          setClipboardImage(*image);
                      }
                      if (done) {
                          done(*complete);
                      }
                  });
}

ImageInfo Editor::pasteImage() {
    const ImageInfo info = readImage(parts_.clipboard->memory());
    if (info.status == ImageInfo::Not16Bit) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgPasteNot16, "", jobs::Buttons::Ok);
    }
    return info;
}

bool Editor::copySegment(int index, Done done) {
    assert(jobs().dispatcher().isMainThread());
    const auto& list = parts_.slicer->slicePoints();
    if (!loaded() || parts_.jobs->busy() || index < 0 || index > list.count()) {
        return false;
    }
    const auto& f = store().format();
    const uint32_t start = list.at(index).position;
    const uint32_t end = std::min(slicing::segmentEnd(list, index), f.dataLength);
    if (end <= start) {
        return false;
    }
    uint16_t channels = f.channels;
    uint32_t size = 0;
    if (f.channels == 2 && !parts_.slicer->channelMode().linked) {
        channels = 1;
        size = (end - start + 3) / 4 * 2;
        edit_.channelStep = 2;
    } else {
        size = f.frameStart(end) - f.frameStart(start);
        edit_.channelStep = 1;
    }
    edit_.opStart = channels == 1 && f.channels == 2 ? start : f.frameStart(start);
    edit_.opEnd = end;
    auto image = std::make_shared<std::vector<uint8_t>>(imageHeader(channels, f.sampleRate, size));
    image->resize(kImageHeaderBytes + size);
    return launchCopy(std::move(image), std::move(done));
}

bool Editor::cut(Done done) {
    assert(jobs().dispatcher().isMainThread());
    if (!loaded() || parts_.jobs->busy() || onlyCursor()) {
        return false;
    }
    if (!allChannels()) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Warning, kMsgCutOneChannel, "", jobs::Buttons::Ok);
        return false;
    }
    const auto& f = store().format();
    beginOperation("Cut");
    const auto [a, b] = operationRange();
    edit_.opStart = f.frameStart(a);
    edit_.opEnd = f.frameStart(b);
    try {
        prepareBackup(19, edit_.opStart, edit_.opEnd - edit_.opStart);
    } catch (const std::exception&) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    const uint32_t opStart = edit_.opStart;
    const uint32_t opEnd = edit_.opEnd;
    return launch(std::make_unique<TEditThread>(*this), firstMode(jobs::ProcessMode::Cutting, true),
                  [this, opStart, opEnd, done = std::move(done)] {
                      finishEdit(edit_.applied);
                      if (edit_.applied) {
                          store().format().dataLength = edit_.scratchLength;
                          cutPoints(parts_.slicer->candidates(), opStart, opEnd, edit_.scratchLength);
                          shiftLocators(opStart, opEnd, opStart);
                          setupSelections(opStart, opStart);
                          parts_.slicer->rebuild();
                          changed();
                      }
                      if (done) {
                          done(edit_.applied);
                      }
                  });
}

bool Editor::pasteKeep(int choice, Done done) {
    assert(jobs().dispatcher().isMainThread());
    return startPaste(false, choice, std::move(done));
}

bool Editor::pasteFindNew(int choice, Done done) {
    assert(jobs().dispatcher().isMainThread());
    return startPaste(true, choice, std::move(done));
}

bool Editor::startPaste(bool findNew, int choice, Done done) {
    if (!loaded() || parts_.jobs->busy()) {
        return false;
    }
    const ImageInfo info = pasteImage();
    if (info.status != ImageInfo::Ok) {
        return false;
    }
    const auto& f = store().format();
    int type = 0;
    if (info.channels != f.channels) {
        if (choice < 0 || choice > 2) {
            return false; // the conversion dialog was cancelled
        }
        type = info.channels == 2 ? choice + 1 : choice + 4;
    }
    {
        const uint32_t a = f.frameStart(selectionStart());
        const uint32_t z = onlyCursor() ? a : f.frameStart(selectionEnd());
        if (!fitsPositions(uint64_t(f.dataLength) - (z - a) + convertedBytes(type, info.dataSize))) {
            return false;
        }
    }
    beginOperation(findNew ? "Paste And Find New" : "Paste And Keep");
    edit_.fadeLeadIn = false;
    // Whole frames: a stereo paste between the words of a frame would swap the channels after it.
    const bool wasCursor = onlyCursor();
    edit_.opStart = f.frameStart(selectionStart());
    edit_.opEnd = wasCursor ? edit_.opStart : f.frameStart(selectionEnd());
    edit_.scratchLength = info.dataSize;
    try {
        prepareBackup(findNew ? 12 : 11, edit_.opStart, edit_.opEnd - edit_.opStart);
    } catch (const std::exception&) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    PasteInput input{type, info.dataOffset, info.dataSize};
    const uint32_t opStart = edit_.opStart;
    const uint32_t opEnd = edit_.opEnd;
    return launch(std::make_unique<TPasteThread>(*this, input), firstMode(jobs::ProcessMode::Pasting, true),
                  [this, findNew, opStart, opEnd, wasCursor, done = std::move(done)] {
                      completePaste(findNew, opStart, opEnd, wasCursor, done);
                  });
}

void Editor::completePaste(bool findNew, uint32_t opStart, uint32_t opEnd, bool wasCursor, Done done) {
    finishEdit(edit_.applied);
    if (edit_.applied) {
        store().format().dataLength = edit_.scratchLength;
        pastePoints(parts_.slicer->candidates(), opStart, opEnd, edit_.newEnd - opStart, edit_.scratchLength);
        shiftLocators(opStart, opEnd, edit_.newEnd);
        setupSelections(opStart, wasCursor ? opStart : edit_.newEnd);
        parts_.slicer->rebuild();
        changed();
        if (findNew && searchThen(done)) {
            return;
        }
    }
    if (done) {
        done(edit_.applied);
    }
}

bool Editor::pasteIntoSegment(int index, int choice, Done done) {
    assert(jobs().dispatcher().isMainThread());
    const auto& list = parts_.slicer->slicePoints();
    if (!loaded() || parts_.jobs->busy() || index < 0 || index > list.count()) {
        return false;
    }
    const ImageInfo info = pasteImage();
    if (info.status != ImageInfo::Ok) {
        return false;
    }
    const auto& f = store().format();
    const bool linked = parts_.slicer->channelMode().linked;
    int type = 0;
    if (f.channels == 1) {
        type = info.channels == 1 ? 0 : choice + 1;
    } else if (linked) {
        type = info.channels == 2 ? 0 : 6;
    } else {
        type = info.channels == 1 ? 4 : choice + 7;
    }
    if (info.channels == 2 && (f.channels == 1 || !linked) && (choice < 0 || choice > 2)) {
        return false;
    }
    uint32_t start = list.at(index).position;
    uint32_t end = std::min(slicing::segmentEnd(list, index), f.dataLength);
    if (type == 0 || type == 6) {
        start = f.frameStart(start);
        end = f.frameStart(end);
    }
    if (end <= start) {
        return false;
    }
    beginOperation("Paste Into Segment");
    edit_.opStart = start;
    edit_.opEnd = end;
    edit_.fadeLeadIn = true;
    edit_.channelStep = (type == 4 || type >= 7) ? 2 : 1;
    try {
        prepareBackup(13, start, end - start);
    } catch (const std::exception&) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    PasteInput input{type, info.dataOffset, info.dataSize};
    return launch(std::make_unique<TPasteSegmentThread>(*this, input), firstMode(jobs::ProcessMode::Pasting, true),
                  [this, done = std::move(done)] {
                      finishEdit(edit_.applied);
                      if (edit_.applied) {
                          changed();
                      }
                      if (done) {
                          done(edit_.applied);
                      }
                  });
}

bool Editor::pasteToNew(Done done) {
    assert(jobs().dispatcher().isMainThread());
    if (parts_.jobs->busy()) {
        return false;
    }
    const ImageInfo info = pasteImage();
    if (info.status != ImageInfo::Ok || info.sampleRate == 0 || !fitsPositions(info.dataSize)) {
        return false;
    }
    const uint32_t length = info.dataSize - info.dataSize % (info.channels * 2u);
    return startNewSample(nullptr, info.dataOffset, length, info.channels, info.sampleRate, jobs::ProcessMode::Pasting,
                          "Paste To New", std::move(done));
}

bool Editor::newSampleFrom(const sample::TFileAndMemoryStream& source, uint32_t length, uint16_t channels,
                           uint32_t rate, const std::string& name, Done done) {
    if (parts_.jobs->busy() || (channels != 1 && channels != 2) || rate == 0) {
        return false;
    }
    return startNewSample(&source, 0, length - length % (channels * 2u), channels, rate, jobs::ProcessMode::CreatingPeaks,
                          name, std::move(done));
}

bool Editor::startNewSample(const sample::TFileAndMemoryStream* source, size_t offset, uint32_t length,
                            uint16_t channels, uint32_t rate, jobs::ProcessMode mode, const std::string& name,
                            Done done) {
    const bool hadSample = loaded();
    beginOperation(name);
    edit_.opStart = 0;
    edit_.opEnd = store().dataLength();
    edit_.scratchLength = length;
    try {
        if (hadSample || !edit_.undoEnabled) {
            prepareBackup(2, 0, store().dataLength());
        }
    } catch (const std::exception&) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    const bool backupOld = hadSample && edit_.undoEnabled;
    PasteInput input{0, offset, length};
    return launch(std::make_unique<TPasteToNewThread>(*this, input, backupOld, channels, source),
                  firstMode(mode, backupOld), [this, channels, rate, backupOld, done = std::move(done)] {
                      finishEdit(false);
                      if (!backupOld && !failed_) {
                          undoAvailable_ = false;
                      }
                      if (edit_.applied) {
                          setProcessChannel(3);
                          auto& f = store().format();
                          f.channels = channels;
                          f.sampleRate = rate;
                          f.bytesPerSecond = rate * channels * 2u;
                          f.bitsPerSample = 16;
                          f.sourceBits = 16;
                          f.dataLength = edit_.scratchLength;
                          parts_.slicer->clearForLoad();
                          parts_.slicer->sampleLoaded(false);
                          setupSelections(0, 0);
                          if (parts_.becameUntitled) {
                              parts_.becameUntitled();
                          }
                          changed();
                      }
                      if (done) {
                          done(edit_.applied);
                      }
                  });
}

bool Editor::crop(Done done) {
    assert(jobs().dispatcher().isMainThread());
    if (!loaded() || parts_.jobs->busy() || !allChannels()) {
        return false;
    }
    const auto& f = store().format();
    beginOperation("Crop");
    edit_.opStart = f.frameStart(parts_.slicer->left());
    edit_.opEnd = f.frameStart(parts_.slicer->right());
    try {
        // The length field of a crop record holds the end of the kept region.
        prepareBackup(20, edit_.opStart, edit_.opEnd);
    } catch (const std::exception&) {
        parts_.jobs->prompter().ask(jobs::MessageKind::Error, kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    const uint32_t opStart = edit_.opStart;
    const uint32_t opEnd = edit_.opEnd;
    return launch(std::make_unique<TCropThread>(*this), firstMode(jobs::ProcessMode::Cropping, true),
                  [this, opStart, opEnd, done = std::move(done)] {
                      finishEdit(edit_.applied);
                      if (edit_.applied) {
                          const uint32_t length = opEnd - opStart;
                          store().format().dataLength = length;
                          cropPoints(parts_.slicer->candidates(), opStart, opEnd);
                          setupSelections(0, length);
                          parts_.slicer->setLoop(0, length);
                          parts_.slicer->rebuild();
                          changed();
                      }
                      if (done) {
                          done(edit_.applied);
                      }
                  });
}

} // namespace cleavix::editing
