#include "editing/Selection.h"

namespace cleavix::editing {

uint8_t Selection::channelCodeOfChoice() const {
    if (!slicer_.linked() && editor_.store().format().channels == 2) {
        return editor_.processChannel() == 2 ? slicing::kCodeSecondOrMono : slicing::kCodeFirst;
    }
    return 0;
}

void Selection::setChannelTicks(bool left, bool right) {
    left_ = left;
    right_ = right;
    if (left || right) {
        editor_.setProcessChannel(left && right ? 3 : left ? 1 : 2);
    }
}

bool Selection::selectSegment(int index) {
    if (!slicer_.selectSegment(index)) {
        return false;
    }
    editor_.setupSelections(slicer_.selectionStart, slicer_.selectionEnd);
    changed();
    return true;
}

void Selection::selectRange(uint32_t start, uint32_t end) {
    editor_.setupSelections(start, end);
    slicer_.selectedIndex = -1;
    slicer_.selectionStart = start;
    slicer_.selectionEnd = end;
    changed();
}

int Selection::step(int direction) {
    const auto& list = slicer_.slicePoints();
    const int count = list.count();
    const int current = slicer_.selectedIndex >= 0 && slicer_.selectedIndex <= count ? slicer_.selectedIndex : -1;
    // The current channel: the selected segment's, else the first point's.
    const uint8_t code = current >= 0 ? list.at(current).channel : count > 0 ? list.at(1).channel : list.at(0).channel;
    auto starts = [&](int i) { return i == 0 || list.at(i).channel == code; };
    const uint32_t L = slicer_.left();
    const uint32_t R = slicer_.right();
    int target = -1;
    if (direction < 0) {
        if (current < 0 || slicer_.selectionStart <= L) {
            for (int i = 0; i <= count; ++i) {
                if (starts(i) && list.at(i).position < R) {
                    target = i;
                }
            }
        } else {
            for (int i = current - 1; i >= 0 && target < 0; --i) {
                target = starts(i) ? i : -1;
            }
        }
    } else {
        if (current >= 0 && slicer_.selectionEnd < R) {
            for (int i = current + 1; i <= count && target < 0; ++i) {
                target = starts(i) ? i : -1;
            }
        }
        if (target < 0) {
            for (int i = 0; i <= count && target < 0; ++i) {
                target = starts(i) && list.at(i).position >= L ? i : -1;
            }
        }
    }
    return target >= 0 && selectSegment(target) ? target : -1;
}

} // namespace cleavix::editing
