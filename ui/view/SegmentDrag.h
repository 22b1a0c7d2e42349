#pragma once
// Dragging a slice out of the window: the segment under the mouse is written as a 16-bit Wave
// file, named after the sample and numbered as Save Segments in Loop numbers its files, into a
// folder of this process's own (removed when the program ends), and handed to the drag as a
// file URL (text/uri-list), so a file manager, a sampler's editor or a DAW receives a Wave file.
//
// The file is written at once on the main thread: a slice is small, and the drag can only start
// while the button is still held. Segments longer than kMaxDragBytes are refused (Save Selected
// Segment writes those behind the progress window).
//
// Threads: main thread only.
#include <QString>

#include <cstdint>
#include <memory>

class QMimeData;
class QTemporaryDir;

namespace cleavix::session {
class Session;
}

namespace cleavix::ui {

class SegmentDragOut {
public:
    // 32 MiB of output: about three minutes of 44.1 kHz stereo.
    static constexpr uint32_t kMaxDragBytes = 32u << 20;

    explicit SegmentDragOut(session::Session& session);
    ~SegmentDragOut();

    // Writes the segment that starts at slice point `index` (0: the sample start) and returns the
    // drag's data with the file's URL; null with `error` set when it cannot.
    std::unique_ptr<QMimeData> prepare(int index, QString* error);

    // The file name the segment at `index` gets: "loop03.wav", "loop03L.wav" for the first channel
    // of an unlinked stereo sample.
    QString fileNameFor(int index) const;
    // The private folder (created on first use; empty when it cannot be made).
    QString folder();
    // Whether `path` is one of the files written here: a drop of it back onto the window would
    // open a temporary copy in place of the sample.
    bool holds(const QString& path) const;

private:
    session::Session& session_;
    std::unique_ptr<QTemporaryDir> folder_;
};

} // namespace cleavix::ui
