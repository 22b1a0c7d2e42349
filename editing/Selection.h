#pragma once
// The one selection of the program: the range the edit and process commands work on (the Editor's
// selection list) and the highlighted segment the views draw (the Slicer's selected segment), set
// together so what is highlighted is always what Cut, Copy and the processes take. The window, its
// mouse tools and bars, the transport and the command-line tool all select through here.
//
// Threads: main thread only.
#include "editing/Editor.h"
#include "slicing/Slicer.h"

#include <functional>

namespace cleavix::editing {

class Selection {
public:
    Selection(Editor& editor, slicing::Slicer& slicer) : editor_(editor), slicer_(slicer) {}

    // The segment under a position (see Slicer::segmentAt).
    int segmentAt(uint32_t position, uint8_t channelCode = 0) const { return slicer_.segmentAt(position, channelCode); }
    // The channel code whose points a position falls among in unlinked stereo: the channel the
    // edits work on (the right one when only it is chosen); 0 when the points are shared.
    uint8_t channelCodeOfChoice() const;
    // Selects and highlights the segment starting at slice point `index`; false when there is none.
    bool selectSegment(int index);
    // Selects a free range (or a cursor, start == end): no segment is highlighted.
    void selectRange(uint32_t start, uint32_t end);
    // The "-" (direction < 0) and "+" keys: the previous or next segment of the selected one's
    // channel, wrapping inside the loop region (to the last segment before R, or the one at L).
    // Returns the segment selected, or -1 when nothing changed.
    int step(int direction);

    // The Left Channel and Right Channel ticks. The edits work on the ticked channel, on both when
    // both are ticked, and keep the last choice when neither is.
    bool leftTicked() const { return left_; }
    bool rightTicked() const { return right_; }
    void setChannelTicks(bool left, bool right);
    // Both ticked again (a new sample, a channel conversion).
    void resetChannels() { setChannelTicks(true, true); }

    // Called after every change made here (the session tells its listener).
    std::function<void()> onChanged;

private:
    void changed() {
        if (onChanged) {
            onChanged();
        }
    }
    Editor& editor_;
    slicing::Slicer& slicer_;
    bool left_ = true;
    bool right_ = true;
};

} // namespace cleavix::editing
