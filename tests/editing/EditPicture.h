#pragma once
// What a command that fails must leave as it was -- the samples, the format, the points, the
// locators, the selection, the undo command, record and file, the modified mark -- taken as one
// picture to compare; and the working folder's space limit for the length of a test. Shared by the
// full-disk tests of the edits and of the processes.
#include "EditTestKit.h"

#include "sample/FileAndMemoryStream.h"

#include <sstream>
#include <string>
#include <vector>

namespace cleavix::test {

// Everything a failed command must leave as it was.
struct Picture {
    std::vector<int16_t> samples;
    uint32_t dataLength = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    std::vector<std::string> points;
    uint32_t left = 0;
    uint32_t right = 0;
    std::vector<uint32_t> selection;
    bool undoAvailable = false;
    std::string caption;
    std::string record;
    std::vector<uint8_t> undoBytes;
    bool modified = false;

    static Picture of(EditBench& b) {
        Picture p;
        p.samples = b.samples();
        const auto& f = b.s().format();
        p.dataLength = f.dataLength;
        p.channels = f.channels;
        p.rate = f.sampleRate;
        const auto& c = b.slicer().candidates();
        for (int k = 0; k <= c.count() + 1; ++k) {
            const auto& q = c.at(k);
            std::ostringstream t;
            t << q.position << '/' << int(q.enabled) << int(q.locked) << int(q.channel) << '/' << q.strength;
            p.points.push_back(t.str());
        }
        p.left = b.slicer().left();
        p.right = b.slicer().right();
        p.selection = b.editor().selectionList();
        p.undoAvailable = b.editor().undoAvailable();
        p.caption = b.editor().undoCaption();
        const auto& r = b.editor().record();
        std::ostringstream t;
        t << int(r.undoCode) << ' ' << r.undoStart << ' ' << r.undoLength << ' ' << r.pasteLength << ' ' << r.undoRate
          << ' ' << int(r.undoChannels) << ' ' << r.undoLocators[0] << ' ' << r.undoLocators[1];
        p.record = t.str();
        if (auto* undo = b.s().undoFile()) {
            p.undoBytes.resize(size_t(undo->size()));
            undo->readAt(0, p.undoBytes.data(), p.undoBytes.size());
        }
        p.modified = b.s().modified();
        return p;
    }

    // The first difference, or empty.
    std::string differs(const Picture& o) const {
        if (samples != o.samples) return "samples";
        if (dataLength != o.dataLength || channels != o.channels || rate != o.rate) return "format";
        if (points != o.points) return "points";
        if (left != o.left || right != o.right) return "locators";
        if (selection != o.selection) return "selection";
        if (undoAvailable != o.undoAvailable || caption != o.caption) return "undo command";
        if (record != o.record) return "undo record " + record + " / " + o.record;
        if (undoBytes != o.undoBytes) return "undo file";
        if (modified != o.modified) return "modified mark";
        return {};
    }
};

// The space limit for the length of a test.
struct FreeSpace {
    explicit FreeSpace(int64_t bytes) { sample::setFreeSpaceForTesting(bytes); }
    ~FreeSpace() { sample::setFreeSpaceForTesting(-1); }
    FreeSpace(const FreeSpace&) = delete;
    FreeSpace& operator=(const FreeSpace&) = delete;
};

} // namespace cleavix::test
